#include "cli/UsageError.h"

#include <algorithm>
#include <sstream>
#include <type_traits>

#include "i18n/Translate.h"
#include "results/TextFormat.h"

namespace cli {

namespace {

size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The commands and options a user could have meant in this context.
std::vector<std::string> namesOf(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* sub : app.get_subcommands({})) names.push_back(sub->get_name());
  for (const CLI::Option* opt : app.get_options()) {
    for (const std::string& l : opt->get_lnames()) names.push_back("--" + l);
    for (const std::string& s : opt->get_snames()) names.push_back("-" + s);
  }
  return names;
}

// The part of a message after its first ": ", or the whole message.
std::string after(const std::string& text, const std::string& mark) {
  const size_t at = text.find(mark);
  return at == std::string::npos ? text : text.substr(at + mark.size());
}

std::string before(const std::string& text, const std::string& mark) {
  const size_t at = text.find(mark);
  return at == std::string::npos ? text : text.substr(0, at);
}

std::string withText(const char* format, const std::string& text) {
  std::string out;
  results::appendFormat(out, format, text.c_str());
  return out;
}

bool isAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string unexpected(const CLI::App& context, const std::string& message) {
  // The library lists the words last typed first.
  std::istringstream words(after(message, ": "));
  std::string first;
  for (std::string word; words >> word;) first = word;
  const bool option = first.size() > 1 && first.front() == '-';
  const char* what = option                                ? i18n::tr("不认识的选项「%s」")
                     : context.get_subcommands({}).empty() ? i18n::tr("多余的参数「%s」")
                                                           : i18n::tr("不认识的命令「%s」");
  first = results::shownValue(first);
  std::string line;
  results::appendFormat(line, what, first.c_str());
  if (const std::string guess = nearestName(first, namesOf(context)); !guess.empty())
    results::appendFormat(line, i18n::tr("：%s → %s？"), first.c_str(), guess.c_str());
  return line;
}

// "--seconds: 测试至少要…" from our own checks; "--target: 300 not in {…}" from the library's.
std::string badValue(const std::string& message) {
  const std::string name = before(message, ": ");
  const std::string why = after(message, ": ");
  std::string out;
  if (why.find(" not in ") == std::string::npos &&
      (!isAscii(why) || i18n::currentLanguage() == i18n::Language::English)) {
    // Our own checks give their reason in the chosen language already.
    results::appendFormat(out, i18n::tr("%s：%s"), name.c_str(), why.c_str());
    return out;
  }
  if (why.find(" not in ") != std::string::npos) {
    std::string allowed = after(why, " not in ");
    allowed.erase(
        std::remove_if(allowed.begin(), allowed.end(), [](char c) { return c == '{' || c == '}'; }),
        allowed.end());
    const std::string comma = i18n::tr("、");
    for (size_t at = allowed.find(','); at != std::string::npos;
         at = allowed.find(',', at + comma.size()))
      allowed.replace(at, 1, comma);
    results::appendFormat(out, i18n::tr("%s 不能是 %s，只能是 %s"), name.c_str(),
                          results::shownValue(before(why, " not in ")).c_str(), allowed.c_str());
    return out;
  }
  results::appendFormat(out, i18n::tr("%s 的值不对：%s"), name.c_str(),
                        results::shownValue(why).c_str());
  return out;
}

}  // namespace

std::string nearestName(const std::string& typed, const std::vector<std::string>& names) {
  std::string best;
  size_t bestDistance = 4;
  for (const std::string& name : names) {
    size_t d = editDistance(typed, name);
    // Three letters in common at the start make a third edit a likely typo
    // ("--secs"), a cut-short name ("--sec") is as near as one.
    const size_t dashes = std::min(typed.find_first_not_of('-'), name.find_first_not_of('-'));
    const bool sameStart = typed.size() >= dashes + 3 && name.size() >= dashes + 3 &&
                           typed.compare(0, dashes + 3, name, 0, dashes + 3) == 0;
    if (sameStart && name.rfind(typed, 0) == 0) d = 1;
    if (d > (sameStart ? 3u : 2u)) continue;
    if (d < bestDistance) {
      best = name;
      bestDistance = d;
    }
  }
  return best;
}

std::string usageProblem(const CLI::App& context, const CLI::ParseError& e) {
  const std::string message = e.what();
  const auto is = [&e](auto* kind) {
    return dynamic_cast<std::remove_pointer_t<decltype(kind)> const*>(&e) != nullptr;
  };
  if (is(static_cast<CLI::ExtrasError*>(nullptr))) return unexpected(context, message);
  if (is(static_cast<CLI::RequiredError*>(nullptr))) {
    if (message.find("subcommand") != std::string::npos) return i18n::tr("请给出命令");
    return withText(i18n::tr("缺少 %s"), before(message, " is required"));
  }
  if (is(static_cast<CLI::ArgumentMismatch*>(nullptr)))
    return withText(i18n::tr("%s 缺少值或值的个数不对"), before(message, ": "));
  if (is(static_cast<CLI::ValidationError*>(nullptr))) return badValue(message);
  if (is(static_cast<CLI::ConversionError*>(nullptr)))
    return withText(i18n::tr("无法识别的值：%s"), results::shownValue(message));
  return withText(i18n::tr("命令行有误：%s"), message);
}

std::string usageLine(const CLI::App& context) {
  std::string name = context.get_name();
  for (const CLI::App* p = context.get_parent(); p != nullptr; p = p->get_parent())
    name = p->get_name() + " " + name;
  const auto formatter = std::dynamic_pointer_cast<CLI::Formatter>(context.get_formatter());
  std::string usage =
      formatter ? formatter->make_usage(&context, name) : withText(i18n::tr("用法：%s"), name);
  while (!usage.empty() && usage.back() == '\n') usage.pop_back();
  return usage + withText(i18n::tr("（全部选项见 %s --help）"), name);
}

}  // namespace cli
