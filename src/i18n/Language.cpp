#include "i18n/Language.h"

#include <cstdlib>
#include <initializer_list>

namespace i18n {
namespace {

// "zh_CN.UTF-8@x" -> "zh"; LANGUAGE's list ("de:en") is read by its first entry.
std::string languagePart(const std::string& value) {
  const std::size_t end = value.find_first_of("_.@:");
  return value.substr(0, end);
}

}  // namespace

// The first of the variables that is set and not empty; empty when none is.
static std::string firstSet(const EnvLookup& env, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const char* value = env(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return {};
}

Language languageFromEnvironment(const EnvLookup& env) {
  const std::string locale = languagePart(firstSet(env, {"LC_ALL", "LC_MESSAGES", "LANG"}));
  // As gettext does: LANGUAGE is heard only when the locale is not C.
  if (locale.empty() || locale == "C" || locale == "POSIX") return Language::Chinese;
  const std::string wanted = languagePart(firstSet(env, {"LANGUAGE"}));
  const std::string language = wanted.empty() ? locale : wanted;
  return language == "zh" ? Language::Chinese : Language::English;
}

Language languageFromEnvironment() {
  return languageFromEnvironment([](const char* name) { return std::getenv(name); });
}

const char* languageCode(Language language) { return language == Language::English ? "en" : "zh"; }

}  // namespace i18n
