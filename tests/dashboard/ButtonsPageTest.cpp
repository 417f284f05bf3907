// The buttons and CPI page, headless: the figures, verdicts and chatter the
// terminal gives, in both languages; the held button lit on the mouse; one
// click from the dashboard to the page and back; nothing overlapping in the
// smallest window.
#include <gtest/gtest.h>

#include <algorithm>

#include <imgui_internal.h>

#include "DashboardHarness.h"
#include "dashboard/ButtonsPage.h"
#include "dashboard/Palette.h"
#include "i18n/Translate.h"

namespace dashboard {
namespace {

using testing::Box;
using testing::Harness;

constexpr uint16_t kLeft = 0x110, kRight = 0x111;

int64_t ms(double v) { return static_cast<int64_t>(v * 1e6); }

// Left: three clicks, a bounce 2 ms after the second release, held down at
// the end; right: one clean click.
ButtonsPageState clicked() {
  std::vector<buttons::ButtonEdge> e = {
      {ms(100), kLeft, true},  {ms(160), kLeft, false},  {ms(300), kLeft, true},
      {ms(360), kLeft, false}, {ms(362), kLeft, true},   {ms(365), kLeft, false},
      {ms(500), kRight, true}, {ms(580), kRight, false}, {ms(700), kLeft, true}};
  ButtonsPageState page;
  page.deviceName = "Acme Pro Mouse";
  page.summary = buttons::summarizeButtons(e);
  page.held = 1u;  // the left button
  return page;
}

// The page's frames as the harness draws the dashboard's.
class PageHarness {
 public:
  explicit PageHarness(ImVec2 size = ImVec2(1280, 820)) : h(size) {}
  ButtonsPageActions frame(const ButtonsPageState& page) {
    ImGui::NewFrame();
    const ButtonsPageActions a = drawButtonsPage(page);
    ImGui::Render();
    return a;
  }
  std::string text(const ButtonsPageState& page) {
    ImGui::NewFrame();
    ImGui::LogToBuffer();
    drawButtonsPage(page);
    std::string out = ImGui::GetCurrentContext()->LogBuffer.c_str();
    ImGui::LogFinish();
    ImGui::Render();
    return out;
  }
  ButtonsPageActions click(const ButtonsPageState& page, ImVec2 at) {
    ButtonsPageActions all;
    testing::clickAt(at, [&] {
      const ButtonsPageActions a = frame(page);
      all.back |= a.back;
      all.clear |= a.clear;
      all.measureCpi |= a.measureCpi;
    });
    return all;
  }
  Harness h;
};

// The first glyph of the leftmost text link in the header: where to click it.
ImVec2 firstLink(const Harness& h) {
  ImVec2 best(-1, -1);
  for (const Box& b : h.boxesOf(ImGui::GetColorU32(ImGuiCol_TextLink)))
    if (b.max.y < 60 && (best.x < 0 || b.centre().x < best.x)) best = b.centre();
  return best;
}

TEST(ButtonsPage, FiguresVerdictsAndChatterInBothLanguages) {
  const struct {
    i18n::Language language;
    // Rows: presses, hold p50, shortest gap, fastest a second.
    const char *bounced, *clean, *chatter, *advice, *leftRow, *rightRow;
  } kTexts[] = {
      {i18n::Language::Chinese, "疑似连击：1 次（最短间隔 2.0 ms）", "正常",
       "0.362 s  左键  松开→按下 2.0 ms  按住 3.0 ms", "是微动开关在抖动",
       "左键 4 60.0 ms 2.0 ms 4\n", "右键 1 80.0 ms — 1\n"},
      {i18n::Language::English, "likely chatter: 1 (shortest gap 2.0 ms)", "normal",
       "0.362 s  Left button  release→press 2.0 ms  held 3.0 ms", "the switch bouncing",
       "Left button 4 60.0 ms 2.0 ms 4\n", "Right button 1 80.0 ms — 1\n"},
  };
  PageHarness p;
  for (const auto& t : kTexts) {
    SCOPED_TRACE(t.clean);
    i18n::initTranslation(t.language);
    const std::string text = p.text(clicked());
    for (const char* expected :
         {t.bounced, t.clean, t.chatter, t.advice, t.leftRow, t.rightRow, "Acme Pro Mouse"})
      EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  }
  i18n::initTranslation(i18n::Language::Chinese);
  EXPECT_TRUE(p.h.hasColour(kColBad));   // the bounced verdict
  EXPECT_TRUE(p.h.hasColour(kColGood));  // the clean one
}

// The held left button is lit, and only on the mouse's left half.
TEST(ButtonsPage, TheHeldButtonLightsUp) {
  PageHarness p;
  ButtonsPageState page = clicked();
  p.frame(page);
  const Box mouseCard = testing::rect(20, 70, 240, 820 - 140);
  const Box lit = p.h.boundsOf(kColAccent, mouseCard);
  ASSERT_FALSE(lit.empty());
  EXPECT_LT(lit.max.x, 20 + 120.0f);
  page.held = 2u;  // the right one instead
  p.frame(page);
  EXPECT_GT(p.h.boundsOf(kColAccent, mouseCard).min.x, 20 + 120.0f);
  page.held = 0;
  p.frame(page);
  EXPECT_TRUE(p.h.boundsOf(kColAccent, mouseCard).empty());
}

// One click from the dashboard, one back; also in the smallest window.
TEST(ButtonsPage, OneClickEachWay) {
  for (const ImVec2 size : {ImVec2(1280, 820), ImVec2(900, 640)}) {
    PageHarness p(size);
    UiState ui;
    p.h.frame(ui);
    const ImVec2 link = firstLink(p.h);
    ASSERT_GT(link.x, 0) << size.x;
    EXPECT_LT(link.x, size.x * 0.5f);  // left of the studio link
    EXPECT_TRUE(p.h.click(ui, link).showButtonsPage) << size.x;
    p.frame(clicked());
    p.frame(clicked());
    EXPECT_TRUE(p.click(clicked(), firstLink(p.h)).back) << size.x;
  }
}

TEST(ButtonsPage, CpiResultAndItsButton) {
  PageHarness p;
  ButtonsPageState page = clicked();
  page.cpi.step = CpiView::Step::Done;
  page.cpi.result = cpi::measureCpi({{3150, 20}, {3160, -10}, {3140, 0}}, 10 / cpi::kCmPerInch);
  EXPECT_NE(
      p.text(page).find("CPI：800（X 轴，3 次相差 0.6 %），最接近的常用档位 800（相差 +0.0 %）"),
      std::string::npos)
      << p.text(page);
  const float cpiTop = 820 - 70 - 104;
  EXPECT_TRUE(p.click(page, ImVec2(280 + 136 + 65, cpiTop + 32 + 15)).measureCpi);
  page.cpi.step = CpiView::Step::Stroke;
  page.cpi.stroke = 2;
  page.cpi.live = {1234, -5};
  EXPECT_NE(p.text(page).find("第 2/3 次：沿尺子移动 10cm，到终点后停住。   X 1234  Y -5"),
            std::string::npos);
}

// Many buttons and much chatter in the smallest window: the cards stay apart.
TEST(ButtonsPage, NothingOverlapsInTheSmallestWindow) {
  PageHarness p(ImVec2(900, 640));
  std::vector<buttons::ButtonEdge> e;
  for (uint16_t code = 0x110; code < 0x118; ++code) {
    for (int i = 0; i < 12; ++i) {
      e.push_back({ms(i * 100 + code), code, true});
      e.push_back({ms(i * 100 + code + 2), code, false});
    }
  }
  std::sort(e.begin(), e.end(), [](auto& a, auto& b) { return a.ns < b.ns; });
  ButtonsPageState page;
  page.summary = buttons::summarizeButtons(e);
  p.frame(page);
  p.frame(page);
  const std::vector<Box> cards = p.h.boxesOf(kColCardFill);
  ASSERT_GE(cards.size(), 3u);
  for (size_t i = 0; i < cards.size(); ++i) {
    EXPECT_LE(cards[i].max.y, 640 - 58 - 1) << i;  // above the footer
    for (size_t j = i + 1; j < cards.size(); ++j) {
      const bool apart = cards[i].max.x <= cards[j].min.x || cards[j].max.x <= cards[i].min.x ||
                         cards[i].max.y <= cards[j].min.y || cards[j].max.y <= cards[i].min.y;
      EXPECT_TRUE(apart) << i << " " << j;
    }
  }
}

}  // namespace
}  // namespace dashboard
