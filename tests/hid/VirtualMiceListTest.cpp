// TAVO_VIRTUAL_MICE as a user may write it, good and bad: which mice run and
// what the console says about the rest.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "hid/service/VirtualHIDService.h"

namespace {

using hidservice::VirtualMouseRate;

struct Case {
  std::string value;
  std::vector<VirtualMouseRate> mice;  // empty: the real mice
  std::string console;
};

const std::string kNotARate = "不是报告率（1–16000 Hz，可加抖动微秒数，如 8000:5）";
const std::string kRange = "报告率须在 1–16000 Hz 之间";
const std::string kSpeed = "手速须在 1–1000000 counts/s 之间（如 8000@2000）";
const std::string kRealMice = "[虚拟鼠标] TAVO_VIRTUAL_MICE 中没有可用的条目，改用真实鼠标\n";

std::string ignored(const std::string& item, const std::string& why) {
  return "[虚拟鼠标] 忽略 \"" + item + "\"：" + why + "\n";
}

VirtualMouseRate patterned(double hz, hidservice::VirtualClicks clicks,
                           hidservice::VirtualStrokes strokes = {}) {
  VirtualMouseRate m;
  m.rateHz = hz;
  m.clicks = clicks;
  m.strokes = strokes;
  return m;
}

const std::string kClick = "点击须为 click=每秒次数:按住毫秒[:抖动比例]（如 click=8:60:0.25）";
const std::string kBuffer = "缓冲须为 buffer=报告数（1–4096 的整数，如 buffer=42）";
const std::string kStroke = "划动须为 stroke=长度:CPI（如 stroke=10cm:800，长度用 cm、mm 或 in）";

VirtualMouseRate buffered(double hz, int32_t reports) {
  VirtualMouseRate m{hz};
  m.bufferReports = reports;
  return m;
}

std::string repeated(const std::string& item, int times) {
  std::string list;
  for (int i = 0; i < times; ++i) list += (i ? "," : "") + item;
  return list;
}

std::string selectedConsole(const char* value, std::optional<std::vector<VirtualMouseRate>>& mice) {
  char* text = nullptr;
  size_t size = 0;
  std::FILE* console = open_memstream(&text, &size);
  mice = hidservice::selectVirtualMice(value, console);
  std::fclose(console);
  std::string out(text, size);
  std::free(text);
  return out;
}

TEST(VirtualMiceList, EachBadItemIsNamedAndNothingValidMeansTheRealMice) {
  const std::string jitter8000 = "抖动须在 0–62.5 微秒之间（半个报告间隔）";
  std::string sixteenBad;
  for (int i = 0; i < 16; ++i) sixteenBad += ignored("x", kNotARate);
  const std::vector<Case> cases = {
      {"", {}, ""},
      {"  ", {}, ""},
      {"abc", {}, ignored("abc", kNotARate) + kRealMice},
      {"0", {}, ignored("0", kRange) + kRealMice},
      {"-5", {}, ignored("-5", kRange) + kRealMice},
      {"0.5", {}, ignored("0.5", kRange) + kRealMice},
      {"1e9", {}, ignored("1e9", kNotARate) + kRealMice},
      {"0x3e8", {}, ignored("0x3e8", kNotARate) + kRealMice},
      {"99999", {}, ignored("99999", kRange) + kRealMice},
      {"100000", {}, ignored("100000", kRange) + kRealMice},
      {"nan", {}, ignored("nan", kNotARate) + kRealMice},
      {"8000:-1", {}, ignored("8000:-1", jitter8000) + kRealMice},
      {"8000:99999", {}, ignored("8000:99999", jitter8000) + kRealMice},
      {"8000:", {}, ignored("8000:", jitter8000) + kRealMice},
      {",", {}, ignored("", kNotARate) + ignored("", kNotARate) + kRealMice},
      {std::string(10000, 'x'), {}, ignored(std::string(32, 'x') + "…", kNotARate) + kRealMice},
      {"1000:\x1b[2J",
       {},
       ignored("1000:?[2J", "抖动须在 0–500 微秒之间（半个报告间隔）") + kRealMice},
      {repeated("x", 20), {}, sixteenBad + "[虚拟鼠标] 另有 4 个无效条目未列出\n" + kRealMice},
      {"1000", {{1000, 0}}, ""},
      {"1000,8000:5", {{1000, 0}, {8000, 5}}, ""},
      {"16000, 1:500000 ,125 : 2", {{16000, 0}, {1, 500000}, {125, 2}}, ""},
      {" 1000 , abc , 8000:62.5", {{1000, 0}, {8000, 62.5}}, ignored("abc", kNotARate)},
      {"1000,,2000", {{1000, 0}, {2000, 0}}, ignored("", kNotARate)},
      {"8000@2000, 8000:5 @ 0500000,1@1", {{8000, 0, 2000}, {8000, 5, 500000}, {1, 0, 1}}, ""},
      {"8000@0", {}, ignored("8000@0", kSpeed) + kRealMice},
      {"8000@-100", {}, ignored("8000@-100", kSpeed) + kRealMice},
      {"8000@fast", {}, ignored("8000@fast", kSpeed) + kRealMice},
      {"8000@", {}, ignored("8000@", kSpeed) + kRealMice},
      {"8000@2000000", {}, ignored("8000@2000000", kSpeed) + kRealMice},
      {"8000@2000@1", {}, ignored("8000@2000@1", kSpeed) + kRealMice},
      {"0@2000", {}, ignored("0@2000", kRange) + kRealMice},
      {"8000:99@2000", {}, ignored("8000:99@2000", jitter8000) + kRealMice},
      {"1000/click=8:60:0.25, 1000/click=5:80/stroke=4in:1600",
       {patterned(1000, {8, 60, 0.25}), patterned(1000, {5, 80, 0}, {101.6, 1600})},
       ""},
      {"1000/stroke=10cm:800", {patterned(1000, {}, {100, 800})}, ""},
      {"1000/click=8", {}, ignored("1000/click=8", kClick) + kRealMice},
      {"1000/click=8:60:2", {}, ignored("1000/click=8:60:2", kClick) + kRealMice},
      {"1000/click=8:121",
       {},
       ignored("1000/click=8:121", "按住时间加上抖动须短于一次点击的周期") + kRealMice},
      {"1000/stroke=10:800", {}, ignored("1000/stroke=10:800", kStroke) + kRealMice},
      {"1000, 8000/buffer=4096", {{1000, 0}, buffered(8000, 4096)}, ""},
      {"8000/buffer=0", {}, ignored("8000/buffer=0", kBuffer) + kRealMice},
      {"8000/buffer=2.5", {}, ignored("8000/buffer=2.5", kBuffer) + kRealMice},
      {"8000/buffer=4097", {}, ignored("8000/buffer=4097", kBuffer) + kRealMice},
      {"1000/wiggle",
       {},
       ignored("1000/wiggle", "「/」后只能是 click=…、stroke=… 或 buffer=…") + kRealMice},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("TAVO_VIRTUAL_MICE=\"" + c.value.substr(0, 40) + "\"");
    std::optional<std::vector<VirtualMouseRate>> mice;
    EXPECT_EQ(selectedConsole(c.value.c_str(), mice), c.console);
    ASSERT_EQ(mice.has_value(), !c.mice.empty());
    if (!mice) continue;
    ASSERT_EQ(mice->size(), c.mice.size());
    for (size_t i = 0; i < c.mice.size(); ++i) {
      EXPECT_EQ((*mice)[i].rateHz, c.mice[i].rateHz) << i;
      EXPECT_EQ((*mice)[i].jitterUs, c.mice[i].jitterUs) << i;
      EXPECT_EQ((*mice)[i].countsPerS, c.mice[i].countsPerS) << i;
      EXPECT_EQ((*mice)[i].clicks.perSecond, c.mice[i].clicks.perSecond) << i;
      EXPECT_EQ((*mice)[i].clicks.holdMs, c.mice[i].clicks.holdMs) << i;
      EXPECT_EQ((*mice)[i].clicks.bounceShare, c.mice[i].clicks.bounceShare) << i;
      EXPECT_NEAR((*mice)[i].strokes.lengthMm, c.mice[i].strokes.lengthMm, 1e-9) << i;
      EXPECT_EQ((*mice)[i].strokes.cpi, c.mice[i].strokes.cpi) << i;
      EXPECT_EQ((*mice)[i].bufferReports, c.mice[i].bufferReports) << i;
    }
  }
  std::optional<std::vector<VirtualMouseRate>> unset;
  EXPECT_EQ(selectedConsole(nullptr, unset), "");
  EXPECT_FALSE(unset.has_value());
}

TEST(VirtualMiceList, AtMostSixteenMiceRunAndTheRestAreRefusedInOneLine) {
  for (int asked : {17, 2000}) {
    std::optional<std::vector<VirtualMouseRate>> mice;
    EXPECT_EQ(selectedConsole(repeated("1000", asked).c_str(), mice),
              "[虚拟鼠标] 最多 16 个虚拟鼠标，其余 " + std::to_string(asked - 16) + " 个未使用\n");
    ASSERT_TRUE(mice.has_value());
    EXPECT_EQ(mice->size(), 16u);
  }
}

}  // namespace
