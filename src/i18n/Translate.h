#pragma once

#include "i18n/Language.h"

// The program's texts in the language the locale asks for. Every text a user
// reads (window, terminal, help, the files' *_text fields and plots) is
// written in Chinese and passed through tr(); the English catalogue
// (po/en.po, compiled to quillmark.mo) holds its translation.
namespace i18n {

// Chooses the language, once, at start-up on the main thread before any text
// is made and before other threads run (it may set LANGUAGE and the
// LC_MESSAGES locale). Without a call the program speaks Chinese.
void initTranslation(Language language);
Language currentLanguage();
// Whether initTranslation() was called: an object made before main() (a
// global) that prints chooses the environment's language itself first.
bool languageChosen();

// The text in the chosen language: the Chinese text itself, as it stands, or
// its English translation (the Chinese text when the catalogue lacks it).
// Any thread after initTranslation. The compiler checks a format's
// arguments against the Chinese text, and the catalogue check keeps the
// translation's placeholders the same.
__attribute__((format_arg(1))) const char* tr(const char* chinese);

// Marks a text kept in a table for the catalogue without translating it
// here; the place that shows it passes it through tr().
constexpr const char* trNoop(const char* chinese) { return chinese; }

// Where the catalogues are: the build tree's for a program run from it,
// else the installed ones.
const char* localeDirectory();

}  // namespace i18n
