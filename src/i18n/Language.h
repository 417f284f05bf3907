#pragma once

#include <functional>
#include <string>

// Which language the program speaks. Chinese is its own language: the texts
// are written in it and shown as they stand; English comes from a catalogue.
namespace i18n {

enum class Language { Chinese, English };

// Reads one environment variable; null when it is unset.
using EnvLookup = std::function<const char*(const char*)>;

// The language the locale variables ask for, by gettext's precedence: the
// locale is the first of LC_ALL, LC_MESSAGES and LANG that is set; when it is
// not C, LANGUAGE's first entry (if set) names the language, else the
// locale's own does. A `zh` language, a C or POSIX locale, or nothing set
// gives Chinese, which keeps the program's behaviour for existing users and
// scripts; any other language gives English, which more readers read than
// Chinese. Decided from the variables themselves, so a locale that is not
// installed still counts.
Language languageFromEnvironment(const EnvLookup& env);
Language languageFromEnvironment();  // the process's own environment

// "zh" or "en".
const char* languageCode(Language language);

}  // namespace i18n
