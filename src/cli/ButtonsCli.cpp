#include "cli/ButtonsCli.h"

#include <cmath>
#include <cstdlib>

#include "analysis/CpiMeasure.h"
#include "i18n/Translate.h"
#include "results/TextFormat.h"

namespace cli {

namespace {

constexpr const char* kDeviceHelp =
    i18n::trNoop("序号、event 节点，或名称的一部分（不区分大小写）；默认自动选择");

// A number in [low, high]; `why` otherwise.
CLI::Validator numberIn(double low, double high, const char* why) {
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        char* end = nullptr;
        const double v = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !std::isfinite(v) || v < low || v > high)
          return i18n::tr(why);
        return {};
      },
      "");
}

// Not an option taken as a value by mistake, nor empty.
CLI::Validator fileName() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (text.empty() || (text.size() > 1 && text.front() == '-')) {
          std::string out;
          results::appendFormat(out, i18n::tr("「%s」不是文件名（以 - 开头的文件名写成 ./%s）"),
                                text.c_str(), text.c_str());
          return out;
        }
        return {};
      },
      "");
}

}  // namespace

CLI::App* describeButtons(CLI::App& app, ButtonsOptions& o) {
  CLI::App* sub = app.add_subcommand(
      "buttons",
      i18n::tr("按键测试：记录每次按下和松开，找出微动开关的连击（一次点击被记成两次）"));
  sub->group(i18n::tr("命令"));
  sub->footer(
      i18n::tr("连击：同一按键松开后不到 --chatter-ms（默认 30 ms）又按下，或按下不到 5 ms 就松开；"
               "手指做不到这么快，这是开关在抖动。\n退出状态：0 完成；1 输出写入失败；2 用法错误；"
               "3 无法打开鼠标；4 没有鼠标或鼠标断开；5 用了 --require-clean 却没有按键事件；"
               "7 读取鼠标出错；9 用了 --require-clean 而有按键连击。"));
  sub->add_option("-d,--device", o.device, i18n::tr(kDeviceHelp))->type_name("INDEX|NODE|NAME");
  sub->add_option("-s,--seconds", o.seconds, i18n::tr("记录的秒数（默认 0：一直记录到按 Ctrl-C）"))
      ->type_name("N")
      ->check(numberIn(0, 86400, i18n::trNoop("秒数须在 0–86400 之间")));
  sub->add_option("--chatter-ms", o.chatterMs,
                  i18n::tr("松开后再按下短于这个毫秒数算连击（默认 30）"))
      ->type_name("MS")
      ->check(numberIn(buttons::kMinChatterMs, buttons::kMaxChatterMs,
                       i18n::trNoop("连击阈值须在 1–200 ms 之间")));
  sub->add_flag("--json", o.json, i18n::tr("只在标准输出打印 JSON 结果"));
  sub->add_option(
         "--events", o.eventsPath,
         i18n::tr("把每次按下和松开写入 CSV 文件（时间、按键、按下/松开、间隔；- 为标准输出）"))
      ->type_name("FILE.csv")
      ->check(fileName());
  sub->add_flag("--require-clean", o.requireClean, i18n::tr("有按键连击时以状态 9 退出"));
  return sub;
}

CLI::App* describeCpi(CLI::App& app, CpiOptions& o) {
  CLI::App* sub =
      app.add_subcommand("cpi", i18n::tr("测量鼠标的实际 CPI（DPI）：沿尺子移动已知的距离三次"));
  sub->group(i18n::tr("命令"));
  sub->footer(i18n::tr(
      "每次倒数后，把鼠标沿尺子从起点平移到终点并停住；CPI = 主轴 counts ÷ 英寸，给出三次的"
      "差异和最接近的常用档位。\n退出状态：0 完成；1 标准输出写入失败；2 用法错误；3 无法打开"
      "鼠标；4 没有鼠标或鼠标断开；5 没有测到完整的划动或被中断。"));
  sub->add_option("--distance", o.distanceText,
                  i18n::tr("每次移动的距离，单位 cm、mm 或 in（如 10cm）"))
      ->required()
      ->type_name("LENGTH")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            return cpi::parseDistanceMm(text)
                       ? std::string()
                       : std::string(i18n::tr("距离须为正数加单位 cm、mm 或 in，如 10cm"));
          },
          ""));
  sub->add_option("-d,--device", o.device, i18n::tr(kDeviceHelp))->type_name("INDEX|NODE|NAME");
  sub->add_option("--countdown", o.countdownSeconds, i18n::tr("每次开始前倒数的秒数（默认 3）"))
      ->type_name("N")
      ->check(numberIn(0, 60, i18n::trNoop("倒数须在 0–60 秒之间")));
  sub->add_flag("--json", o.json, i18n::tr("只在标准输出打印 JSON 结果"));
  return sub;
}

}  // namespace cli
