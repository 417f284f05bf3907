#include "cli/Cli.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

#include "QuillmarkVersion.h"
#include "analysis/CpiMeasure.h"
#include "analysis/PollingRules.h"
#include "cli/AnalyzeRun.h"
#include "cli/ButtonsCli.h"
#include "cli/CompareRun.h"
#include "cli/DeviceListing.h"
#include "cli/ResultInput.h"
#include "cli/UsageError.h"
#include "hid/DecimalNumber.h"
#include "hid/HIDMonitor.h"
#include "i18n/Translate.h"
#include "results/FileWriter.h"
#include "results/TextFormat.h"

namespace cli {

namespace {

// One text with one value in it (cut short when long), in the chosen
// language's words.
std::string formatted(const char* format, const std::string& value) {
  std::string out;
  results::appendFormat(out, format, results::shownValue(value).c_str());
  return out;
}

// A whole number in decimal; its leading zeros dropped, so "01000" is 1000.
CLI::Validator wholeNumber() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (!decimal::isDigits(text)) {
          return formatted(decimal::isNumber(text) ? i18n::tr("「%s」不是整数")
                                                   : i18n::tr("「%s」不是十进制整数"),
                           text);
        }
        text.erase(0, std::min(text.find_first_not_of('0'), text.size() - 1));
        return {};
      },
      "");
}

const std::vector<int> kTargets(std::begin(pollingrules::kTargetRatesHz),
                                std::end(pollingrules::kTargetRatesHz));

// The shortest test that can give a rate: the rate needs reports spanning
// this long.
constexpr double kMinSeconds = pollingrules::kMinRateSpanMs / 1000.0;

// A finite number of seconds in [low, high], or 0 when `zero` allows it;
// `belowLow` says why not less. No type hint in the help: "N:N" reads as a range.
CLI::Validator secondsIn(double low, double high, const char* belowLow, bool zero = false) {
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0') return formatted(i18n::tr("「%s」不是一个数"), text);
        if (!std::isfinite(value))
          return formatted(i18n::tr("秒数必须是有限的数，不能是「%s」"), text);
        if (value >= 0 && !decimal::isNumber(text))
          return formatted(i18n::tr("「%s」不是十进制数（秒数写成 10 或 0.5 这样）"), text);
        if (zero && value == 0.0) return {};
        if (value < low) return i18n::tr(belowLow);
        if (value > high) return formatted(i18n::tr("最多 %s 秒"), CLI::detail::to_string(high));
        return {};
      },
      "");
}

// --cpi: a plain positive number of counts per inch, no more than any sensor gives.
CLI::Validator cpiValue() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !decimal::isNumber(text) || !(value >= 1) ||
            value > 100000)
          return formatted(i18n::tr("CPI 须是 1–100000 之间的数，不能是「%s」"), text);
        return {};
      },
      "");
}

// Targets as the help lists them in words, without the library's "{…}" hint.
CLI::Validator targetRate() { return CLI::IsMember(kTargets).description(""); }

// The default target, the same words in each command's help, the manual
// page and the README.
constexpr const char* kDefaultTarget = i18n::trNoop(
    "（默认取主机轮询鼠标的回报率；不知道时，USB 鼠标取它报告网格的标准回报率，"
    "其他连接取网格本身的回报率）");

constexpr const char* kVirtualMice = i18n::trNoop(
    "虚拟鼠标（没有鼠标时试用）：TAVO_VIRTUAL_MICE=RATE[:JITTER][@COUNTS_PER_S]"
    "[/click=PER_S:HOLD_MS[:BOUNCE]][/stroke=LENGTH:CPI][/buffer=REPORTS],...，"
    "RATE 为 1–16000 Hz，JITTER 为抖动微秒数（至多半个报告间隔），COUNTS_PER_S 为手速 "
    "1–1000000 counts/s：只在攒够一个 count 的时隙发报告，如 8000@2000 约 2000 Hz；"
    "click 让左键每秒按下 PER_S 次、每次按住 HOLD_MS 毫秒，BOUNCE（0–1）是松开后 2 ms "
    "又按下 3 ms 的连击所占的比例，如 1000/click=8:60:0.25；stroke 让鼠标以 CPI 沿 X 轴"
    "划过 LENGTH（cm、mm 或 in），划 1 秒、停 1 秒，如 1000/stroke=10cm:800；buffer 给它一个"
    "存 REPORTS 个报告（1–4096）的内核缓冲，读取迟到而溢出时未读的报告全部丢失、记为内核丢弃，"
    "如 8000/buffer=42。");

// Chinese headings end in a full-width colon, as 退出状态： does; the
// library writes a half-width one after each label.
std::string fullWidthColons(std::string text) {
  for (const char* label : {"用法", "选项", "命令", "参数"}) {
    for (const char* tail : {": ", ":"}) {
      const std::string from = std::string(label) + tail, to = std::string(label) + "：";
      for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    }
  }
  return text;
}

class ChineseFormatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App* app, std::string name) const override {
    return fullWidthColons(CLI::Formatter::make_usage(app, std::move(name)));
  }
  std::string make_group(std::string group, bool positional,
                         std::vector<const CLI::Option*> opts) const override {
    return fullWidthColons(CLI::Formatter::make_group(std::move(group), positional, opts));
  }
  std::string make_subcommands(const CLI::App* app, CLI::AppFormatMode mode) const override {
    return fullWidthColons(CLI::Formatter::make_subcommands(app, mode));
  }
};

// Usage, option groups and "REQUIRED" in the program's language; English
// keeps the library's own labels.
void speakChinese(CLI::App& app) {
  std::shared_ptr<CLI::Formatter> formatter = std::make_shared<CLI::Formatter>();
  if (i18n::currentLanguage() != i18n::Language::English)
    formatter = std::make_shared<ChineseFormatter>();
  if (i18n::currentLanguage() == i18n::Language::English) {
    formatter->label("REQUIRED", "");
    app.formatter(formatter);
    app.option_defaults()->group(i18n::tr("选项"));
    return;
  }
  formatter->label("Usage", "用法");
  formatter->label("OPTIONS", "选项");
  formatter->label("SUBCOMMAND", "命令");
  formatter->label("Positionals", "参数");
  // Required arguments show as such in the usage line; a CJK word here would
  // break the columns, which the library counts in bytes.
  formatter->label("REQUIRED", "");
  app.formatter(formatter);
  app.option_defaults()->group(i18n::tr("选项"));
}

// A value, not the next option taken as one by mistake (`--plot --json`),
// nor an empty one (an unset shell variable).
CLI::Validator aValue(const char* what, bool fileName) {
  return CLI::Validator(
      [what, fileName](std::string& text) -> std::string {
        if (text.empty()) return formatted(i18n::tr("%s是空的"), i18n::tr(what));
        if (text.size() > 1 && text.front() == '-') {
          std::string out;
          std::string name = i18n::tr(what);
          // An English name inside the sentence; the same text is a label elsewhere.
          if (!name.empty() && name[0] >= 'A' && name[0] <= 'Z')
            name[0] = static_cast<char>(name[0] + 32);
          results::appendFormat(out, i18n::tr("「%s」像是一个选项，不是%s"),
                                results::shownValue(text).c_str(), name.c_str());
          if (fileName) out += formatted(i18n::tr("（以 - 开头的文件名写成 ./%s）"), text);
          return out;
        }
        return {};
      },
      "");
}

// A device's place among a file's devices: a whole number from 0.
CLI::Validator deviceIndex() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        int value = 0;
        const char* end = text.data() + text.size();
        const auto [at, ec] = std::from_chars(text.data(), end, value);
        const bool digits =
            !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
        if (digits && ec == std::errc::result_out_of_range) {
          std::string out;
          results::appendFormat(out, i18n::tr("设备序号「%s」超出范围（最大 %d）"),
                                results::shownValue(text).c_str(), INT_MAX);
          return out;
        }
        if (!digits || ec != std::errc() || at != end) {
          return formatted(
              i18n::tr("设备序号应为从 0 数起的整数，却是「%s」（以 - 开头的文件名写成 ./文件名）"),
              text);
        }
        return {};
      },
      "");
}

// A setup's name: it starts result folders' names, and `compare --label`
// separates names with commas, so only characters no shell needs quoted.
CLI::Validator setupLabel() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        const bool plain = std::all_of(text.begin(), text.end(), [](char ch) {
          const auto u = static_cast<unsigned char>(ch);
          return u >= 0x80 || std::isalnum(u) != 0 || ch == '.' || ch == '-' || ch == '_';
        });
        if (!text.empty() && plain && text.front() != '.' && text.front() != '-' &&
            text.size() <= 40)
          return {};
        return formatted(i18n::tr("名字「%s」不能用：只用字母、数字、汉字和 . - _，不以 . 或 - "
                                  "开头，最多 40 字节"),
                         text);
      },
      "");
}

struct Parsed {
  CLI::App app{i18n::tr("Quillmark：测量鼠标的回报率（polling rate）。不带参数运行时打开窗口。"),
               "quillmark"};
  CLI::App* list = nullptr;
  CLI::App* measure = nullptr;
  CLI::App* analyze = nullptr;
  CLI::App* compare = nullptr;
  CLI::App* buttons = nullptr;
  CLI::App* cpi = nullptr;
  ButtonsOptions buttonsOptions;
  CpiOptions cpiOptions;
  bool listJson = false;
  int target = 0;
  MeasureOptions options;
  CLI::Option* out = nullptr;
  std::string outDir;
  AnalyzeOptions analyzeOptions;
  std::string analyzeDevice;
  int analyzeTarget = 0;
  CompareOptions compareOptions;
  std::string compareLabels;  // as given: split at commas, empty names kept to be refused
};

// The summary's two other lengths, beside --json (usageConflict keeps them apart).
void addSummaryFlags(CLI::App* command, bool& details, bool& brief) {
  command->add_flag("--details", details, i18n::tr("汇总加上报告槽、计数步长和各速度分档的回报率"));
  command->add_flag(
      "--brief", brief,
      i18n::tr("只打印一行：reached|near|below|unknown 判定回报率 目标回报率 原因类别"));
}

// "" when at most one of --json, --brief and --details is given.
std::string summaryConflict(bool json, bool brief, bool details) {
  if (brief && (json || details))
    return i18n::tr("--brief 只打印一行，不能与 --json 或 --details 同用");
  return json && details ? i18n::tr("--details 是文字汇总的，不能与 --json 同用") : "";
}

void describeAnalyze(Parsed& p) {
  AnalyzeOptions& o = p.analyzeOptions;
  p.analyze = p.app.add_subcommand(
      "analyze",
      i18n::tr(
          "分析已有的录制文件（libinput record、evemu-record、Quillmark 的间隔 CSV 或原始采集）"
          "或结果文件夹、结果 JSON，给出与 measure 相同的结果"));
  p.analyze->footer(i18n::tr(
      "退出状态：0 完成，1 结果文件写入失败，2 用法错误，5 录制里没有报告，8 录制文件无法读取"
      "（读不到、格式不对、内容有误或没有鼠标；错误信息给出文件、行和列），130/143/129 被 Ctrl-C、"
      "SIGTERM 或 SIGHUP 中断。"));
  p.analyze->add_option("FILE", o.file, i18n::tr("录制文件、结果文件夹或结果 JSON"))
      ->required()
      ->type_name("");
  p.analyze->group(i18n::tr("命令"));
  p.analyze
      ->add_option("-d,--device", p.analyzeDevice,
                   i18n::tr("文件里第几个设备（从 0 数起）；默认取第一个有相对位移的设备"))
      ->type_name("N")
      ->check(aValue(i18n::trNoop("设备序号"), false))
      ->check(deviceIndex());
  p.analyze
      ->add_option("-t,--target", p.analyzeTarget,
                   std::string(i18n::tr("目标回报率 Hz：125、250、500、1000、2000、4000 或 8000")) +
                       i18n::tr(kDefaultTarget))
      ->type_name("HZ")
      ->transform(wholeNumber())
      ->check(targetRate());
  p.analyze->add_flag("--json", o.json, i18n::tr("只在标准输出打印 JSON 结果"));
  addSummaryFlags(p.analyze, o.details, o.brief);
  p.analyze
      ->add_option("--intervals", o.intervalsPath,
                   i18n::tr("把每个报告的间隔写入 CSV 文件（- 为标准输出，汇总则改到标准错误）"))
      ->type_name("FILE.csv")
      ->check(aValue(i18n::trNoop("文件名"), true));
  p.analyze->add_option("--plot", o.plotPath, i18n::tr("把间隔图写入 SVG 文件（- 为标准输出）"))
      ->type_name("FILE.svg")
      ->check(aValue(i18n::trNoop("文件名"), true));
}

void describeCompare(Parsed& p) {
  CompareOptions& o = p.compareOptions;
  p.compare = p.app.add_subcommand(
      "compare",
      i18n::tr("并排比较几种设置的测试（结果文件夹、结果 JSON 或 analyze 能读的录制文件），"
               "判断每种设置与第一种的差异是否超出噪声、是否有实际意义"));
  p.compare->footer(i18n::tr(
      "同名的运行（--label，或 measure --label 写进结果的名字）是同一设置的重复测试。\n"
      "退出状态：0 完成，1 图或标准输出写入失败，2 用法错误，5 录制里没有报告，8 文件无法读取，"
      "130/143/129 被 Ctrl-C、SIGTERM 或 SIGHUP 中断。"));
  p.compare->add_option("RUN", o.inputs, i18n::tr("结果文件夹、结果 JSON 或录制文件（至少两个）"))
      ->required()
      ->expected(1, -1)
      ->type_name("");
  p.compare->group(i18n::tr("命令"));
  p.compare
      ->add_option(
          "--label", p.compareLabels,
          i18n::tr("每个运行的名字，按运行的顺序，用逗号分开；同名的运行是同一设置的重复测试"))
      ->type_name("A,B,...");
  p.compare
      ->add_option("--baseline", o.baseline,
                   i18n::tr("其他设置都与这个名字（或字母）的设置比较；默认第一种"))
      ->type_name("LABEL")
      ->check(aValue(i18n::trNoop("设置的名字"), false));
  p.compare->add_flag("--json", o.json, i18n::tr("只在标准输出打印 JSON"));
  p.compare
      ->add_option("--plot", o.plotPath, i18n::tr("把间隔分布对比图写入 SVG 文件（- 为标准输出）"))
      ->type_name("FILE.svg")
      ->check(aValue(i18n::trNoop("文件名"), true));
}

void describe(Parsed& p) {
  CLI::App& app = p.app;
  app.set_version_flag("-V,--version", std::string("quillmark ") + quillmark::kVersion,
                       i18n::tr("显示版本并退出"));
  app.set_help_flag("-h,--help", i18n::tr("显示帮助并退出"));
  app.get_option("--version")->group(i18n::tr("选项"));
  app.get_option("--help")->group(i18n::tr("选项"));
  app.require_subcommand(0, 1);
  app.footer(i18n::tr(
      "退出状态：0 完成；1 结果文件或标准输出写入失败；2 用法错误；3 无法打开鼠标（没有读取权限或"
      "其他错误）；4 没有鼠标、找不到 --device 指定的鼠标或鼠标在测试中断开；5 --wait 秒内没有收到"
      "报告；6 用了 --require-target 而没有达到目标；7 测试中读取鼠标出错；8 analyze、compare "
      "的文件无法读取；9 buttons 用了 --require-clean 而有按键连击；130、143、129 analyze、compare "
      "被 Ctrl-C、SIGTERM 或 SIGHUP 中断。"
      "写入失败时总是 1。"));

  p.list = app.add_subcommand(
      "list", i18n::tr("列出鼠标：序号、event 节点、名称、VID:PID、连接方式、端点间隔、能否读取"));
  p.list->group(i18n::tr("命令"));
  p.list->footer(std::string(i18n::tr(kVirtualMice)) +
                 i18n::tr("\n退出状态：0 完成；1 标准输出写入失败；2 用法错误；4 没有鼠标。"));
  p.list->add_flag("--json", p.listJson, i18n::tr("输出 JSON"));

  MeasureOptions& o = p.options;
  p.measure = app.add_subcommand("measure", i18n::tr("测量一只鼠标的回报率，结束时打印汇总"));
  p.measure->group(i18n::tr("命令"));
  p.measure->footer(std::string(i18n::tr(kVirtualMice)) +
                    i18n::tr("\n退出状态：0 完成；1 结果文件或标准输出写入失败；2 用法错误；3 "
                             "无法打开鼠标（没有读取权限"
                             "或其他错误）；4 没有鼠标、找不到 --device "
                             "指定的鼠标或鼠标在测试中断开；5 --wait 秒内没有"
                             "收到报告；6 用了 --require-target 而没有达到目标；7 "
                             "测试中读取鼠标出错。写入失败时总是 1。"));
  p.measure
      ->add_option("-d,--device", o.device,
                   i18n::tr("序号、event 节点，或名称的一部分（不区分大小写）；默认自动选择"))
      ->type_name("INDEX|NODE|NAME")
      ->check(aValue(i18n::trNoop("设备"), false));
  p.measure
      ->add_option(
          "-s,--seconds", o.seconds,
          i18n::tr("测试时长，从第一个报告算起（默认 10，至少 0.45；0 为一直测到按 Ctrl-C）"))
      ->type_name("N")
      ->check(secondsIn(
          kMinSeconds, 86400.0,
          i18n::trNoop("测试至少要 0.45 秒：回报率要用 450 ms 内的报告算出，更短的测试得不出"
                       "（0 为一直测到按 Ctrl-C）"),
          true));
  p.measure
      ->add_option("-t,--target", p.target,
                   std::string(i18n::tr("目标回报率 Hz：125、250、500、1000、2000、4000 或 8000")) +
                       i18n::tr(kDefaultTarget))
      ->type_name("HZ")
      ->transform(wholeNumber())
      ->check(targetRate());
  p.measure->add_flag("--require-target", o.requireTarget,
                      i18n::tr("判定的回报率没有达到目标，或判定未知时，以状态 6 退出"));
  p.measure->add_option("--wait", o.waitSeconds, i18n::tr("等待第一个报告的秒数（默认 30）"))
      ->type_name("N")
      ->check(secondsIn(0.0, 3600.0, i18n::trNoop("秒数不能是负数")));
  p.measure
      ->add_option("--cpi", o.cpi,
                   i18n::tr("鼠标的 CPI（可用 quillmark cpi 测得）：手速同时以 cm/s 显示"))
      ->type_name("N")
      ->check(cpiValue());
  p.measure->add_flag("--json", o.json, i18n::tr("只在标准输出打印 JSON 结果"));
  addSummaryFlags(p.measure, o.details, o.brief);
  p.measure
      ->add_option("--intervals", o.intervalsPath,
                   i18n::tr("把每个报告的间隔写入 CSV 文件（- 为标准输出，汇总则改到标准错误）"))
      ->type_name("FILE.csv")
      ->check(aValue(i18n::trNoop("文件名"), true));
  p.measure->add_option("--plot", o.plotPath, i18n::tr("把间隔图写入 SVG 文件（- 为标准输出）"))
      ->type_name("FILE.svg")
      ->check(aValue(i18n::trNoop("文件名"), true));
  p.out = p.measure
              ->add_option("--out", p.outDir,
                           i18n::tr("把结果存成结果文件夹（result.json、intervals.csv、"
                                    "intervals.svg），放在 DIR 里；不给 DIR 时放在当前文件夹"))
              ->expected(0, 1)
              ->type_name("[DIR]")
              ->check(aValue(i18n::trNoop("文件夹名"), true));
  p.measure
      ->add_option("--repeat", o.repeat,
                   i18n::tr("连测 N 次，每次之间倒数 3 秒，每次存一个结果文件夹（默认 1）"))
      ->type_name("N")
      ->check(CLI::Range(1, 100).description(""));
  p.measure
      ->add_option("--label", o.label,
                   i18n::tr("设置的名字，写进结果并放在文件夹名的开头；compare 把同名的运行"
                            "当作同一设置的重复测试"))
      ->type_name("NAME")
      ->check(setupLabel());
  // Shown above the exit statuses.
  app.footer([] { return std::string(i18n::tr(kVirtualMice)); });
}

// Where a path leads: the file it names once links are followed (device
// and inode), or, for a file not there yet, its absolute path with the
// links of its folders followed.
struct Place {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  std::filesystem::path path;
};

Place placeOf(const std::string& file) {
  Place p;
  struct stat st {};
  if (::stat(file.c_str(), &st) == 0) {
    p.exists = true;
    p.dev = st.st_dev;
    p.ino = st.st_ino;
  }
  std::error_code ec;
  p.path = std::filesystem::weakly_canonical(std::filesystem::absolute(file, ec), ec);
  if (ec) p.path = file;
  return p;
}

bool samePlace(const std::string& a, const std::string& b) {
  if (a == b) return true;
  if (a == "-" || b == "-") return false;
  const Place x = placeOf(a);
  const Place y = placeOf(b);
  if (x.exists && y.exists) return x.dev == y.dev && x.ino == y.ino;
  return x.path == y.path;
}

// A file the command writes (--intervals, --plot) or reads.
struct NamedFile {
  std::string option;  // "--plot"; empty for an input
  std::string path;
};

// An output that would overwrite an input or another output; empty when none.
std::string outputConflict(bool json, const std::vector<NamedFile>& outputs,
                           const std::vector<std::string>& inputs = {}) {
  std::vector<NamedFile> asked;
  for (const NamedFile& o : outputs) {
    if (!o.path.empty()) asked.push_back(o);
  }
  for (const NamedFile& o : asked) {
    if (json && o.path == "-") return i18n::tr("--json 的结果已经写到标准输出，文件不能也用「-」");
    for (const std::string& in : inputs) {
      if (o.path != "-" && samePlace(o.path, in)) {
        std::string out;
        results::appendFormat(out, i18n::tr("%s 指向要读取的文件，不能覆盖它：%s"),
                              o.option.c_str(), results::pathText(in).c_str());
        return out;
      }
    }
  }
  for (std::size_t i = 0; i < asked.size(); ++i) {
    for (std::size_t j = i + 1; j < asked.size(); ++j) {
      if (samePlace(asked[i].path, asked[j].path)) {
        std::string out;
        results::appendFormat(out, i18n::tr("%s 和 %s 是同一个文件：%s"), asked[i].option.c_str(),
                              asked[j].option.c_str(), results::pathText(asked[j].path).c_str());
        return out;
      }
    }
  }
  return {};
}

// The files an analyze or compare input reads: a result folder's two, a
// result JSON's possible intervals beside it, or the recording and the
// result JSON it belongs to.
std::vector<std::string> inputFiles(const std::vector<std::string>& inputs) {
  namespace fs = std::filesystem;
  std::vector<std::string> out;
  for (const std::string& in : inputs) {
    out.push_back(in);
    std::error_code ec;
    const fs::path path(in);
    if (fs::is_directory(path, ec)) {
      out.push_back((path / "result.json").string());
      out.push_back((path / "intervals.csv").string());
    } else if (path.extension() == ".json") {
      out.push_back(fs::path(path).replace_extension(".csv").string());
      out.push_back((path.parent_path() / "intervals.csv").string());
    } else if (const std::optional<fs::path> result = resultBeside(path)) {
      out.push_back(result->string());
    }
  }
  return out;
}

// What --out, --repeat and --label cannot go with.
std::string seriesConflict(const Parsed& p) {
  const MeasureOptions& o = p.options;
  const bool folders = p.out->count() > 0 || o.repeat > 1 || !o.label.empty();
  if (!folders) return {};
  if (!o.intervalsPath.empty() || !o.plotPath.empty())
    return i18n::tr(
        "结果文件夹里已有 intervals.csv 和 intervals.svg：--out、--repeat、--label "
        "不能与 --intervals、--plot 同用");
  if (o.repeat > 1 && o.seconds <= 0.0)
    return i18n::tr("--repeat 的每次测试需要一个时长：--seconds 不能为 0");
  if (o.repeat > 1 && o.json)
    return i18n::tr("--repeat 的每次结果都在自己文件夹的 result.json 里：不能与 --json 同用");
  return {};
}

// An output that is standard output by another name writes there, as "-".
void standardOutputAsDash(std::string& path) {
  if (!path.empty() && path != "-" && results::namesStandardOutput(path)) path = "-";
}

std::string usageConflict(Parsed& p) {
  for (std::string* path :
       {&p.options.intervalsPath, &p.options.plotPath, &p.analyzeOptions.intervalsPath,
        &p.analyzeOptions.plotPath, &p.compareOptions.plotPath})
    standardOutputAsDash(*path);
  if (p.measure->parsed()) {
    const MeasureOptions& o = p.options;
    if (const std::string why = seriesConflict(p); !why.empty()) return why;
    if (std::string why = summaryConflict(o.json, o.brief, o.details); !why.empty()) return why;
    // The raw capture is one more file the test writes.
    const char* capture = std::getenv("TAVO_CAPTURE");
    return outputConflict(o.json, {{"--intervals", o.intervalsPath},
                                   {"--plot", o.plotPath},
                                   {"TAVO_CAPTURE", capture != nullptr ? capture : ""}});
  }
  if (p.analyze->parsed()) {
    const AnalyzeOptions& o = p.analyzeOptions;
    if (std::string why = summaryConflict(o.json, o.brief, o.details); !why.empty()) return why;
    return outputConflict(o.json, {{"--intervals", o.intervalsPath}, {"--plot", o.plotPath}},
                          inputFiles({o.file}));
  }
  if (p.buttons->parsed()) {
    return outputConflict(p.buttonsOptions.json, {{"--events", p.buttonsOptions.eventsPath}});
  }
  if (p.compare->parsed()) {
    const CompareOptions& o = p.compareOptions;
    return outputConflict(o.json, {{"--plot", o.plotPath}}, inputFiles(o.inputs));
  }
  return {};
}

// The command the user got to: its options are what a typo was meant as.
const CLI::App& commandOf(const Parsed& p) {
  for (const CLI::App* sub : {p.list, p.measure, p.analyze, p.compare, p.buttons, p.cpi})
    if (sub->parsed()) return *sub;
  return p.app;
}

// One line why, one line how: the whole help would bury the reason.
int usageError(const Parsed& p, const std::string& why, const Console& c) {
  std::fprintf(c.err, "quillmark: %s\n%s\n", why.c_str(), usageLine(commandOf(p)).c_str());
  return kExitUsage;
}

// Help and version go to stdout with status 0; a parse error gives the
// reason and the usage on stderr with status 2.
int parseFailure(const Parsed& p, const CLI::ParseError& e, const Console& c) {
  std::ostringstream out;
  std::ostringstream err;
  const int code = p.app.exit(e, out, err);
  if (code == 0) return writeOut(c, out.str()) ? kExitOk : kExitFileError;
  return usageError(p, usageProblem(commandOf(p), e), c);
}

}  // namespace

int runList(bool json, HIDMonitor& monitor, const Console& console) {
  if (!startHIDThread(monitor, console)) return kExitNoMouse;
  monitor.waitForHIDThread();
  const std::vector<HIDDeviceInfo> devices = monitor.getMouseDevices();
  const int autoChoice = monitor.getSelectedDeviceIndex();
  const HIDError error = monitor.getLastError();
  monitor.stop();
  bool written = true;
  if (json) {
    written = writeOut(console, deviceJson(devices, autoChoice, HIDMonitor::permissionStatus()));
  } else if (!devices.empty()) {
    written = writeOut(console, deviceTable(devices, autoChoice));
  }
  if (!written) return kExitFileError;
  if (!devices.empty()) return kExitOk;
  std::fputs(i18n::tr("没有找到鼠标。\n"), console.err);
  if (error.status == HIDStatus::ManagerError)
    std::fprintf(console.err, "%s\n", error.message.c_str());
  return kExitNoMouse;
}

int run(int argc, char** argv, const Console& console) {
  Parsed p;
  speakChinese(p.app);
  describe(p);
  describeAnalyze(p);
  describeCompare(p);
  p.buttons = describeButtons(p.app, p.buttonsOptions);
  p.cpi = describeCpi(p.app, p.cpiOptions);
  // Each command's own help flag is made before the group name is known.
  for (CLI::App* sub : {p.list, p.measure, p.analyze, p.compare, p.buttons, p.cpi})
    sub->get_help_ptr()->group(i18n::tr("选项"));
  try {
    p.app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return parseFailure(p, e, console);
  }
  if (p.list->parsed()) {
    HIDMonitor monitor;
    return runList(p.listJson, monitor, console);
  }
  if (const std::string why = usageConflict(p); !why.empty()) return usageError(p, why, console);
  if (p.measure->parsed()) {
    if (p.target > 0) p.options.targetHz = static_cast<float>(p.target);
    if (p.out->count() > 0) p.options.outDir = p.outDir.empty() ? "." : p.outDir;
    if (p.options.savesFolders()) {
      return runMeasureSeries(
          p.options, [] { return std::make_unique<HIDMonitor>(); }, console);
    }
    HIDMonitor monitor;
    return runMeasure(p.options, monitor, console);
  }
  if (p.buttons->parsed()) {
    HIDMonitor monitor;
    return runButtons(p.buttonsOptions, monitor, console);
  }
  if (p.cpi->parsed()) {
    p.cpiOptions.distanceMm = *cpi::parseDistanceMm(p.cpiOptions.distanceText);
    HIDMonitor monitor;
    return runCpi(p.cpiOptions, monitor, console);
  }
  // Reading files has nothing to finish in order: a stop ends it at once.
  if ((p.analyze->parsed() || p.compare->parsed()) && console.endOnStopRequest) {
    console.endOnStopRequest();
  }
  if (p.analyze->parsed()) {
    if (!p.analyzeDevice.empty()) p.analyzeOptions.device = std::stoi(p.analyzeDevice);
    if (p.analyzeTarget > 0) p.analyzeOptions.targetHz = static_cast<float>(p.analyzeTarget);
    return runAnalyze(p.analyzeOptions, console);
  }
  if (p.compare->parsed()) {
    if (p.compare->count("--label") > 0) {
      std::stringstream names(p.compareLabels + ",");
      for (std::string name; std::getline(names, name, ',');)
        p.compareOptions.labels.push_back(name);
    }
    return runCompare(p.compareOptions, console);
  }
  // Options alone (none that ends the program): nothing to do.
  return usageError(p, i18n::tr("请给出命令（list、measure、buttons、cpi、analyze 或 compare）"),
                    console);
}

}  // namespace cli
