#include <gtest/gtest.h>

#include <map>
#include <string>

#include "i18n/Language.h"

namespace {

using i18n::Language;

struct LocaleCase {
  std::map<std::string, std::string> env;
  Language expected;
};

TEST(LanguageTest, LocaleVariablesChooseByGettextsPrecedence) {
  const LocaleCase cases[] = {
      {{}, Language::Chinese},
      {{{"LANG", "C"}}, Language::Chinese},
      {{{"LANG", "C.UTF-8"}}, Language::Chinese},
      {{{"LANG", "POSIX"}}, Language::Chinese},
      {{{"LANG", "zh_CN.UTF-8"}}, Language::Chinese},
      {{{"LANG", "zh_TW.UTF-8"}}, Language::Chinese},
      {{{"LANG", "en_US.UTF-8"}}, Language::English},
      {{{"LANG", "de_DE.UTF-8"}}, Language::English},
      {{{"LANG", "de_DE@euro"}}, Language::English},
      {{{"LANG", ""}, {"LC_MESSAGES", "en_US.UTF-8"}}, Language::English},
      {{{"LANG", "en_US.UTF-8"}, {"LC_ALL", "C"}}, Language::Chinese},
      {{{"LANG", "en_US.UTF-8"}, {"LC_MESSAGES", "zh_CN.UTF-8"}}, Language::Chinese},
      {{{"LC_ALL", "zh_CN.UTF-8"}, {"LC_MESSAGES", "en_US.UTF-8"}}, Language::Chinese},
      {{{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "zh_CN:en"}}, Language::Chinese},
      {{{"LANG", "zh_CN.UTF-8"}, {"LANGUAGE", "fr:de"}}, Language::English},
      {{{"LANG", "zh_CN.UTF-8"}, {"LANGUAGE", ""}}, Language::Chinese},
      // gettext hears LANGUAGE only under a locale other than C.
      {{{"LANGUAGE", "en"}}, Language::Chinese},
      {{{"LANGUAGE", "en"}, {"LC_ALL", "C"}}, Language::Chinese},
  };
  for (const LocaleCase& c : cases) {
    const Language got = i18n::languageFromEnvironment([&](const char* name) -> const char* {
      const auto it = c.env.find(name);
      return it == c.env.end() ? nullptr : it->second.c_str();
    });
    std::string env;
    for (const auto& [k, v] : c.env) env += k + "=" + v + " ";
    EXPECT_EQ(got, c.expected) << env;
  }
}

}  // namespace
