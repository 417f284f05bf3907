#include "i18n/Translate.h"

#include <libintl.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

namespace i18n {
namespace {

constexpr const char* kDomain = "quillmark";
std::atomic<Language> s_language{Language::Chinese};
std::atomic<bool> s_chosen{false};

bool isCLocale(const char* name) {
  return name == nullptr || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0;
}

std::string executablePath() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

const char* localeDirectory() {
  static const std::string s_dir = [] {
    const std::string build = QUILLMARK_BUILD_DIR;
    const std::string exe = executablePath();
    if (!build.empty() && exe.rfind(build + "/", 0) == 0) return build + "/locale";
    return std::string(QUILLMARK_LOCALE_DIR);
  }();
  return s_dir.c_str();
}

void initTranslation(Language language) {
  s_language = language;
  s_chosen = true;
  if (language != Language::English) return;
  // gettext looks a catalogue up only under a locale other than C, and only
  // for the languages LANGUAGE names: a locale that is not installed (often
  // only C.UTF-8 is) or a language without a catalogue (German) would
  // otherwise fall back to the Chinese texts.
  if (isCLocale(std::setlocale(LC_MESSAGES, ""))) std::setlocale(LC_MESSAGES, "C.UTF-8");
  setenv("LANGUAGE", "en", 1);
  bindtextdomain(kDomain, localeDirectory());
  bind_textdomain_codeset(kDomain, "UTF-8");
}

Language currentLanguage() { return s_language; }

bool languageChosen() { return s_chosen; }

const char* tr(const char* chinese) {
  if (s_language != Language::English || chinese == nullptr || *chinese == '\0') return chinese;
  return dgettext(kDomain, chinese);
}

}  // namespace i18n
