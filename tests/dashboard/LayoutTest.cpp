// Frame layout: which cards fit, the alert banner, the header's picker and link.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "DashboardHarness.h"
#include "Fixtures.h"
#include "dashboard/Branding.h"
#include "dashboard/DashboardState.h"
#include "dashboard/Palette.h"
#include "i18n/Translate.h"

namespace dashboard {
namespace {

using testing::Harness;

constexpr const char* kCardTitle = "当前回报率";
constexpr ImU32 kBannerFill = IM_COL32(72, 22, 22, 235);

HIDDeviceInfo mouse(const char* product, bool opened) {
  HIDDeviceInfo d;
  d.product = product;
  d.opened = opened;
  return d;
}

bool cardsDrawn(ImVec2 size) {
  Harness h(size);
  return h.text(UiState{}).find(kCardTitle) != std::string::npos;
}

TEST(DashboardGrid, CardsNeedMoreThan320PixelsOfLeftColumn) {
  EXPECT_FALSE(cardsDrawn(ImVec2(716, 820)));
  EXPECT_TRUE(cardsDrawn(ImVec2(717, 820)));
}

TEST(DashboardGrid, CardsNeedMoreThan120PixelsOfHeight) {
  // 66 pixels of header and 84 for the control bar and margin.
  EXPECT_FALSE(cardsDrawn(ImVec2(1280, 66 + 120 + 84)));
  EXPECT_TRUE(cardsDrawn(ImVec2(1280, 66 + 121 + 84)));
}

// Instead of the cards, the size the whole dashboard needs, in a text that
// fits the window; at that size the cards are drawn and nothing added
// covers anything.
TEST(DashboardGrid, ATooSmallWindowNamesTheSizeThatFits) {
  const ImVec2 kSizes[] = {ImVec2(500, 300), ImVec2(700, 480), ImVec2(1280, 200), ImVec2(330, 400)};
  for (const ImVec2 size : kSizes) {
    SCOPED_TRACE(size.x);
    Harness h(size);
    const std::string text = h.text(UiState{});
    EXPECT_EQ(text.find(kCardTitle), std::string::npos);
    EXPECT_NE(text.find("Quillmark"), std::string::npos);
    EXPECT_NE(text.find("开始测试"), std::string::npos);
    EXPECT_NE(text.find("目标 1000 Hz"), std::string::npos);
    EXPECT_NE(text.find("快捷键：S 开始 / 继续　P 暂停　R 重置　ESC 退出　E 保存结果"),
              std::string::npos);
    // Below the window's own minimum the buttons may not fit; the text does.
    for (const std::string& fault : h.layoutFaults())
      if (fault.rfind("\"too-small text\"", 0) == 0) ADD_FAILURE() << fault;
    int w = 0, h2 = 0;
    const size_t at = text.find("放大到至少 ");
    ASSERT_NE(at, std::string::npos) << text;
    ASSERT_EQ(std::sscanf(text.c_str() + at + std::strlen("放大到至少 "), "%d × %d", &w, &h2), 2);
    EXPECT_GE(w, 717);  // never less than the grid itself needs
    EXPECT_GE(h2, 66 + 84 + 121);
    Harness big(ImVec2(static_cast<float>(w), static_cast<float>(h2)));
    const UiState ui = runningState(1000);
    for (int i = 0; i < 3; ++i) big.frame(ui);
    EXPECT_NE(big.text(ui).find(kCardTitle), std::string::npos);
    for (const std::string& fault : big.layoutFaults()) ADD_FAILURE() << fault;
    // Every card ends above the control bar's 64 pixels.
    EXPECT_LE(big.boundsOf(kColCardFill).max.y, static_cast<float>(h2) - 64);
  }
}

class DashboardBanner : public ::testing::Test {
 protected:
  UiState withAlert(bool detail, int actions) {
    UiState ui;
    ui.alert.title = "缺少权限";
    if (detail) ui.alert.detail = "请授予权限";
    for (int i = 0; i < actions; ++i)
      ui.alert.actions.push_back({PlatformActionKind::OpenUrl, "打开设置", "x"});
    return ui;
  }
  testing::Box banner(const UiState& ui) {
    h.frame(ui);
    return h.boundsOf(kBannerFill);
  }
  Harness h;
};

TEST_F(DashboardBanner, IsDrawnOnlyWithATitle) {
  h.frame(UiState{});
  EXPECT_FALSE(h.hasColour(kBannerFill));
  EXPECT_TRUE(banner(withAlert(false, 0)).height() > 0);
}

TEST_F(DashboardBanner, HeightGrowsWithDetailAndButtons) {
  const float line = h.lineHeight();
  EXPECT_FLOAT_EQ(banner(withAlert(false, 0)).height(), line + 24);
  EXPECT_FLOAT_EQ(banner(withAlert(true, 0)).height(), line + line + 26);
  EXPECT_FLOAT_EQ(banner(withAlert(false, 2)).height(), line + 24 + 44);
  EXPECT_FLOAT_EQ(banner(withAlert(true, 2)).height(), line + line + 26 + 44);
}

TEST_F(DashboardBanner, IsWideEnoughForItsButtons) {
  const UiState ui = withAlert(false, 2);
  const testing::Box b = banner(ui);
  const std::vector<testing::Box> buttons =
      h.boxesOf(ImGui::GetColorU32(ImVec4(0.42f, 0.16f, 0.16f, 1.0f)));
  ASSERT_EQ(buttons.size(), 2u);
  EXPECT_FLOAT_EQ(buttons[1].min.x - buttons[0].max.x, 10.0f);
  EXPECT_FLOAT_EQ(b.width(), buttons[0].width() + buttons[1].width() + 10 + 36);
  EXPECT_FLOAT_EQ(buttons[0].min.x - b.min.x, 18.0f);
}

TEST_F(DashboardBanner, AButtonClickReportsItsIndexOnly) {
  const UiState ui = withAlert(true, 2);
  h.frame(ui);
  const std::vector<testing::Box> buttons =
      h.boxesOf(ImGui::GetColorU32(ImVec4(0.42f, 0.16f, 0.16f, 1.0f)));
  ASSERT_EQ(buttons.size(), 2u);
  const UiActions a = h.click(ui, buttons[1].centre());
  EXPECT_EQ(a.alertAction, 1);
  EXPECT_FALSE(a.startPressed || a.pausePressed || a.resetPressed);
  EXPECT_EQ(a.selectDevice, -1);
}

TEST(DashboardHeader, StudioLinkSetsOnlyOpenUrl) {
  Harness h;
  UiState ui;
  ui.devices = {mouse("A", true)};
  ui.selectedDevice = 0;
  const UiActions a = h.click(ui, ImVec2(h.size().x * 0.5f, 24 + 6));
  EXPECT_EQ(a.openUrl, kStudioUrl);
  EXPECT_FALSE(a.startPressed || a.pausePressed || a.resetPressed);
  EXPECT_EQ(a.selectDevice, -1);
  EXPECT_EQ(a.alertAction, -1);
}

// The label, its dot and the dot's halo share the state's colour.
TEST(DashboardHeader, StateIndicatorNamesAndColoursTheTestState) {
  const struct {
    int state;
    const char* label;
    ImU32 col;
  } cases[] = {{0, "未开始", kColTextMuted},
               {1, "测试中", kColGood},
               {2, "已暂停", kColWarn},
               {7, "未开始", kColTextMuted}};
  const testing::Box header = testing::rect(0, 0, 400, 60);
  for (const auto& c : cases) {
    Harness h;
    UiState ui;
    ui.testState = c.state;
    EXPECT_NE(h.text(ui).find(c.label), std::string::npos) << c.state;
    for (ImU32 col : {kColTextMuted, kColGood, kColWarn}) {
      EXPECT_EQ(!h.boundsOf(withAlpha(col, 60), header).empty(), col == c.col) << c.state;
    }
    const testing::Box halo = h.boundsOf(withAlpha(c.col, 60), header);
    EXPECT_NEAR(halo.centre().y, 34, 0.5f) << c.state;
    EXPECT_NEAR(halo.height(), 10, 0.5f) << c.state;
  }
}

class DevicePicker : public ::testing::Test {
 protected:
  ImVec2 pickerPos() const { return ImVec2(h.size().x - 320 + 150, 20 + 10); }
  Harness h;
};

TEST_F(DevicePicker, PreviewShowsTheSelectedDeviceOrNone) {
  UiState ui;
  EXPECT_NE(h.text(ui).find("未检测到鼠标设备"), std::string::npos);
  ui.devices = {mouse("Corvid", true), mouse("Touchpad", false)};
  EXPECT_NE(h.text(ui).find("未检测到鼠标设备"), std::string::npos) << "devices but none selected";
  ui.selectedDevice = 0;
  EXPECT_NE(h.text(ui).find("Corvid"), std::string::npos);
  ui.selectedDevice = 1;
  EXPECT_NE(h.text(ui).find("Touchpad（无法打开）"), std::string::npos);
  ui.selectedDevice = 2;
  EXPECT_NE(h.text(ui).find("未检测到鼠标设备"), std::string::npos);
}

// A name longer than the picker widens it to the left (English text is
// wider), never over the studio link.
TEST_F(DevicePicker, ALongNameWidensThePickerShortOfTheStudioLink) {
  UiState ui;
  ui.devices = {mouse("Corvid", true),
                mouse("Halden Corvid Pro Wireless Gaming Mouse With A Very Long Name Indeed "
                      "And Then Some More Words",
                      true)};
  const ImVec2 leftOfTheUsualPicker(h.size().x - 320 - 40, 20 + 10);
  ui.selectedDevice = 0;
  h.click(ui, leftOfTheUsualPicker);
  EXPECT_EQ(h.text(ui).find("Very Long Name"), std::string::npos) << "a short name: no list";
  ui.selectedDevice = 1;
  h.click(ui, leftOfTheUsualPicker);
  const std::string open = h.text(ui);
  EXPECT_NE(open.find("Corvid"), open.rfind("Corvid")) << "the list is open:\n" << open;
  h.click(ui, leftOfTheUsualPicker);  // closed again
  EXPECT_EQ(h.click(ui, ImVec2(h.size().x * 0.5f, 24 + 12)).openUrl, kStudioUrl);
}

// Two mice of one model differ by their USB port, closed and open.
TEST_F(DevicePicker, TwoIdenticalMiceAreToldApartByPort) {
  UiState ui;
  ui.devices = {mouse("Corvid", true), mouse("Corvid", true)};
  ui.devices[0].portPath = "3-1.4";
  ui.devices[1].portPath = "3-2";
  ui.selectedDevice = 1;
  EXPECT_NE(h.text(ui).find("Corvid  端口 3-2"), std::string::npos);
  h.click(ui, pickerPos());
  const std::string text = h.text(ui);
  EXPECT_NE(text.find("Corvid  端口 3-1.4"), std::string::npos);
  EXPECT_EQ(h.click(ui, h.comboEntry(0)).selectDevice, 0);
  // Without ports, their places in the list.
  ui.devices[0].portPath.clear();
  ui.devices[1].portPath.clear();
  EXPECT_NE(h.text(ui).find("Corvid  #2"), std::string::npos);
}

// A name too long for the closed picker loses its end, never the port.
TEST_F(DevicePicker, ALongNameKeepsItsPortInTheClosedPicker) {
  UiState ui;
  ui.devices = {mouse(
      "Halden Corvid Pro Wireless Gaming Mouse With A Very Long Name And Then Some More Words",
      true)};
  ui.devices[0].portPath = "3-2";
  ui.selectedDevice = 0;
  const std::string text = h.text(ui);
  EXPECT_NE(text.find("…  端口 3-2"), std::string::npos) << text;
  EXPECT_EQ(text.find("More Words  端口"), std::string::npos) << text;
  EXPECT_NE(text.find("Halden Corvid"), std::string::npos) << text;
  for (const std::string& fault : h.layoutFaults()) ADD_FAILURE() << fault;
}

TEST_F(DevicePicker, ListMarksUnopenedDevicesAndReportsAChoice) {
  UiState ui;
  ui.devices = {mouse("Corvid", true), mouse("Touchpad", false)};
  ui.selectedDevice = 0;
  h.click(ui, pickerPos());
  const std::string text = h.text(ui);
  EXPECT_NE(text.find("Touchpad   （无法打开）"), std::string::npos);
  const UiActions a = h.click(ui, h.comboEntry(1));
  EXPECT_EQ(a.selectDevice, 1);
  EXPECT_TRUE(a.openUrl.empty());
}

// "##" in a name would end a Dear ImGui label; the picker shows it whole,
// closed and open, and the entry can still be chosen.
TEST_F(DevicePicker, NamesWithHashesAreShownWhole) {
  UiState ui;
  ui.devices = {mouse("Corvid", true), mouse("Pro##Max ###2 ##", true)};
  ui.devices[1].transport = "USB";
  ui.selectedDevice = 1;
  const std::string name = "Pro##Max ###2 ## [USB]";
  EXPECT_NE(h.text(ui).find(name), std::string::npos);
  h.click(ui, pickerPos());
  const std::string text = h.text(ui);
  const size_t preview = text.find(name);
  ASSERT_NE(preview, std::string::npos);
  EXPECT_NE(text.find(name, preview + 1), std::string::npos) << "in the open list";
  EXPECT_EQ(h.click(ui, h.comboEntry(0)).selectDevice, 0);
}

TEST_F(DevicePicker, EmptyListSaysNoDevice) {
  for (const auto& [language, said] : {std::pair{i18n::Language::Chinese, "未检测到鼠标设备"},
                                       std::pair{i18n::Language::English, "No mouse found"}}) {
    i18n::initTranslation(language);
    UiState ui;
    h.click(ui, pickerPos());
    const std::string text = h.text(ui);
    // Once in the closed preview and once in the open list.
    const size_t first = text.find(said);
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_NE(text.find(said, first + 1), std::string::npos) << text;
    h.click(ui, pickerPos());  // closed again
  }
  i18n::initTranslation(i18n::Language::Chinese);
}

// Whether the text holds a CJK ideograph or CJK punctuation.
bool hasCjk(const std::string& text) {
  for (size_t i = 0; i + 2 < text.size(); ++i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned code = (b(0) & 0x0Fu) << 12 | (b(1) & 0x3Fu) << 6 | (b(2) & 0x3Fu);
    if ((b(0) & 0xF0u) == 0xE0u && ((code >= 0x3000 && code <= 0x9FFF) || code >= 0xFF00))
      return true;
  }
  return false;
}

constexpr auto kEnglish = i18n::Language::English;

// The named states the preview tool draws, with what a user reads in each,
// in both languages (English with no Chinese left, the devices' names being
// Latin here): a second of frames, after a running start where the state
// was paused.
TEST(PreviewStates, SayWhatTheUserNeeds) {
  const struct {
    const char* fixture;
    std::vector<const char*> said;
    i18n::Language language = i18n::Language::Chinese;
  } kStates[] = {
      {"idle-with-mouse", {"点击「开始测试」后移动鼠标", "暂无数据", "E 保存结果"}},
      {"running-8000hz", {"125.0 µs  (8000 Hz)", "±4.8 µs", "237.5 µs", "目标 8000 Hz"}},
      {"paused-and-saved",
       {"1000", "已暂停", "达成 100%", "结果已保存（点击打开文件夹）", "Wireless_USB_3-1.4"}},
      {"too-small", {"窗口太小，放大到至少 764 × 636 像素才能显示测试数据"}},
      {"two-identical-mice", {"Halden Corvid Pro Wireless [USB]  端口 3-2"}},
      {"slow-hand-8000hz",
       {"手速约 1990 counts/s，达到 8000 Hz 需约 8000 counts/s — 移动更快或提高 DPI",
        "目标 8000 Hz　·　手速不足以判断：需约 8000 counts/s"}},
      {"running-below-target", {"目标 1000 Hz　·　达到目标"}},
      {"host-limited-8000hz", {"目标 8000 Hz　·　主机把回报率限制在 1000 Hz"}},
      {"host-limited-8000hz", {"Target 8000 Hz  ·  the host limits the rate to 1000 Hz"}, kEnglish},
      {"device-limited-8000hz",
       {"鼠标或其连接未达到目标：每个报告带有多个计数，回报率却低于 8000 Hz"}},
      {"permission-banner",
       {"缺少读取鼠标设备的权限 — 无法读取鼠标报告，回报率将恒为 0", "查看授权方法", "重启应用",
        "Halden Corvid Pro Wireless [USB]（无法打开）"}},
      {"idle-with-mouse",
       {"Click “Start test”, then move the mouse", "No data yet", "E save", "Not started",
        "Start test", "Target 1000 Hz", "Current report rate", "Report rate history (last 30 s)"},
       kEnglish},
      {"running-8000hz",
       {"125.0 µs  (8000 Hz)", "±4.8 µs", "237.5 µs", "Target 8000 Hz", "Testing", "Base interval",
        "Jitter", "Abnormal intervals", "Stability", "Longest", "Kernel drops", "Highest", "Lowest",
        "Average", "Share of target", "Report interval distribution", "Signal quality"},
       kEnglish},
      {"paused-and-saved",
       {"1000", "Paused", "reached 100%", "Paused · press S to resume",
        "Result saved (click to open the folder)", "Wireless_USB_3-1.4", "Resume"},
       kEnglish},
      {"too-small",
       {"Window too small: make it at least 910 × 636 pixels to show the test data",
        "Keys: S start / resume  P pause  R reset  ESC quit  E save"},
       kEnglish},
      {"two-identical-mice", {"Halden Corvid Pro Wireless [USB]  port 3-2"}, kEnglish},
      {"slow-hand-8000hz",
       {"Hand about 1990 counts/s; 8000 Hz needs 8000 — move faster or raise the DPI"},
       kEnglish},
      {"device-limited-8000hz",
       {"The mouse or its link falls short: several counts per report, yet below 8000 Hz"},
       kEnglish},
      {"permission-banner",
       {"No permission to read mice — no reports can be read, the report rate will stay 0",
        "How to grant access", "Restart", "Halden Corvid Pro Wireless [USB] (cannot open)"},
       kEnglish},
      {"drops-and-saved", {"2× (~37)", "31.25 ms"}, kEnglish},
      {"mouse-quiet-900x640", {"请持续移动鼠标"}},
      {"mouse-quiet-900x640", {"Keep moving the mouse"}, kEnglish},
      // 1994 and 8000 counts/s at 800 CPI: 2.49 and 10 in/s.
      {"slow-hand-cpi-800-900x640",
       {"手速约 1990 counts/s（约 6.3 cm/s），达到 8000 Hz 需约 25.4 cm/s — 移动更快或提高 DPI"}},
      {"slow-hand-cpi-800-900x640",
       {"Hand about 1990 counts/s (6.3 cm/s); 8000 Hz needs 25.4 cm/s — move faster or raise the "
        "DPI"},
       kEnglish},
  };
  for (const auto& k : kStates) {
    SCOPED_TRACE(k.fixture);
    i18n::initTranslation(k.language);
    const std::vector<Fixture> fixtures = previewFixtures();
    const auto f = std::find_if(fixtures.begin(), fixtures.end(),
                                [&](const Fixture& x) { return x.name == k.fixture; });
    ASSERT_NE(f, fixtures.end());
    detail::resetState();
    Harness h(f->windowSize);
    UiState before = f->state;
    before.testState = 1;
    before.stats.currentHz = f->ranAtHz;
    if (f->ranAtHz > 0) h.frame(before);
    for (int frame = 0; frame < 70; ++frame) h.frame(f->state);
    const std::string text = h.text(f->state);
    for (const char* s : k.said) EXPECT_NE(text.find(s), std::string::npos) << s << "\n" << text;
    if (k.language == kEnglish) {
      EXPECT_FALSE(hasCjk(text)) << text;
    }
  }
  i18n::initTranslation(i18n::Language::Chinese);
  detail::resetState();
}

// Nothing added to the original design covers anything else, crosses a
// card's edge or leaves the window: every preview state, at the window's
// smallest size, a small screen's and a common one, in both languages, with
// the fonts the program draws with.
TEST(PreviewStates, NothingAddedCoversAnything) {
  const ImVec2 kSizes[] = {ImVec2(900, 640), ImVec2(1024, 600), ImVec2(1280, 800)};
  for (i18n::Language language : {i18n::Language::Chinese, kEnglish}) {
    i18n::initTranslation(language);
    for (const ImVec2 size : kSizes) {
      for (const Fixture& f : previewFixtures()) {
        SCOPED_TRACE(::testing::Message() << f.name << " at " << size.x << "x" << size.y << " in "
                                          << (language == kEnglish ? "English" : "Chinese"));
        Harness h(size, platformFontConfig());
        UiState before = f.state;
        before.testState = 1;
        before.stats.currentHz = f.ranAtHz;
        if (f.ranAtHz > 0) h.frame(before);
        for (int frame = 0; frame < 70; ++frame) {
          if (!f.page) {
            h.frame(f.state);
            continue;
          }
          ImGui::NewFrame();
          drawButtonsPage(*f.page);
          ImGui::Render();
        }
        for (const std::string& fault : h.layoutFaults()) ADD_FAILURE() << fault;
      }
    }
  }
  i18n::initTranslation(i18n::Language::Chinese);
  detail::resetState();
}

}  // namespace
}  // namespace dashboard
