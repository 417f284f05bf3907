// The shell's frames with its real monitor started on two virtual mice: what
// the user picks and clicks in the dashboard reaches the monitor and the
// desktop's link opener.
#include <gtest/gtest.h>

#include <imgui.h>
#include <imgui_internal.h>
#include <sstream>

#include <stdlib.h>

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "HeadlessImgui.h"
#include "LinkOpenerStandIn.h"
#include "ShellTestSupport.h"
#include "TestFiles.h"
#include "app/PlatformActions.h"
#include "app/WindowSave.h"
#include "dashboard/Branding.h"
#include "dashboard/DashboardHarness.h"
#include "dashboard/FontConfig.h"

namespace {

constexpr float kWidth = 1180;

class ShellActions : public ::testing::Test {
 protected:
  // The monitor and drawUI's statics live for the process: one context and
  // one running monitor for the suite.
  static void SetUpTestSuite() {
    imgui_ = std::make_unique<HeadlessImgui>(ImVec2(kWidth, 820));
    dashboard::init(FontConfig{});
    connectMonitor();
    g_monitor.start();
  }
  static void TearDownTestSuite() {
    g_monitor.stop();
    imgui_.reset();
  }

  void SetUp() override {
    resetShell();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (g_monitor.getMouseDevices().size() < 2 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(g_monitor.getMouseDevices().size(), 2u) << "TAVO_VIRTUAL_MICE names two mice";
    // Long enough for drawUI's next device poll, then settled windows.
    ImGui::GetIO().DeltaTime = 1.0f;
    frame();
    ImGui::GetIO().DeltaTime = 1.0f / 60.0f;
    frame();
  }

  static void frame() {
    ImGui::NewFrame();
    drawUI();
    ImGui::Render();
  }
  static void click(ImVec2 pos) { dashboard::testing::clickAt(pos, frame); }
  static std::string text() { return shellFrameText(); }

  static inline std::unique_ptr<HeadlessImgui> imgui_;
};

TEST_F(ShellActions, TheDevicePickedInTheListBecomesTheMonitorsSelection) {
  g_monitor.setSelectedDeviceIndex(0);
  click(ImVec2(kWidth - 320 + 150, 30));  // opens the device picker
  const ImVec2 second = dashboard::testing::comboEntry(1);
  ASSERT_GT(second.x, 0) << "the picker did not open";
  click(second);
  EXPECT_EQ(g_monitor.getSelectedDeviceIndex(), 1);
  EXPECT_NE(text().find("虚拟鼠标 500 Hz [Virtual]"), std::string::npos) << "the picker shows it";
}

TEST_F(ShellActions, AnIndexOutOfRangeClearsTheSelection) {
  g_monitor.setSelectedDeviceIndex(1);
  dashboard::UiActions actions;
  actions.selectDevice = 2;
  applyActions(actions, {});
  EXPECT_EQ(g_monitor.getSelectedDeviceIndex(), -1);
}

TEST_F(ShellActions, TheStudioLinkReachesTheLinkOpener) {
  LinkOpenerStandIn opener;
  click(ImVec2(kWidth * 0.5f, 24 + 6));
  waitForChildren();
  EXPECT_EQ(readFile(opener.out()), std::string("1\n") + dashboard::kStudioUrl + "\n");
}

// Without read access the banner is drawn, and its first button opens the
// help page with the desktop's link opener.
TEST_F(ShellActions, DeniedAccessShowsTheBannerWhoseFirstButtonOpensTheHelp) {
  const ImU32 bannerFill = IM_COL32(72, 22, 22, 235);
  const auto bannerDrawn = [&] {
    const ImGuiWindow* root = ImGui::FindWindowByName("##root");
    for (const ImDrawVert& v : root->DrawList->VtxBuffer)
      if (v.col == bannerFill) return true;
    return false;
  };
  frame();
  EXPECT_FALSE(bannerDrawn());
  // Checked a moment ago, so drawUI keeps this answer for a second.
  g_permission = PermissionStatus::Denied;
  g_lastPermissionCheck = ImGui::GetTime();
  frame();
  EXPECT_TRUE(bannerDrawn());

  LinkOpenerStandIn opener;
  // The banner starts at (20, 66); its buttons sit 42 pixels above its
  // bottom edge, 18 pixels in.
  const ImGuiWindow* root = ImGui::FindWindowByName("##root");
  float bottom = 0;
  for (const ImDrawVert& v : root->DrawList->VtxBuffer)
    if (v.col == bannerFill && v.pos.y > bottom) bottom = v.pos.y;
  click(ImVec2(20 + 18 + 10, bottom - 42 + 15));
  waitForChildren();
  EXPECT_EQ(readFile(opener.out()), "1\n" + permissionHelpUrl() + "\n");
  g_permission = PermissionStatus::Granted;
}

// The user switches mice during a test: the saved result names each mouse
// with its reports, and the one with the most as the result's mouse.
TEST_F(ShellActions, ASaveNamesEveryMouseWhoseReportsTheTestHolds) {
  TempDir home;
  const std::string oldHome = getenv("HOME") ? getenv("HOME") : "";
  setenv("HOME", home.path().c_str(), 1);
  const auto waitForStamps = [](std::size_t n) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (g_stamps.count() < n && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  };
  const std::vector<HIDDeviceInfo> mice = g_monitor.getMouseDevices();
  g_monitor.setSelectedDeviceIndex(1);  // 500 Hz
  requestStart();
  waitForStamps(100);
  g_monitor.setSelectedDeviceIndex(0);  // 1000 Hz
  waitForStamps(100 + 600);
  for (int i = 0; i < 400 && !g_analyzer.getStats().statsValid; ++i) {
    g_analyzer.update();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  requestPause();
  g_monitor.waitForHIDThread();  // nothing more in flight
  PixelImage window;
  window.width = window.height = 1;
  window.format = PixelImage::Format::Rgb;
  window.pixels.assign(3, 0);
  ::testing::internal::CaptureStderr();
  saveWindowResult(window);
  const std::string line = ::testing::internal::GetCapturedStderr();
  setenv("HOME", oldHome.c_str(), 1);
  const size_t arrow = line.find(" -> ");
  ASSERT_NE(arrow, std::string::npos) << line;
  const auto json = nlohmann::json::parse(
      readFile(line.substr(arrow + 4, line.size() - arrow - 5) + "/result.json"));

  ASSERT_EQ(json["devices"].size(), 2u) << json.dump(1);
  EXPECT_EQ(json["devices"][0]["name"], mice[1].displayName());
  EXPECT_EQ(json["devices"][1]["name"], mice[0].displayName());
  EXPECT_GE(json["devices"][0]["reports"].get<int64_t>(), 100);
  EXPECT_GE(json["devices"][1]["reports"].get<int64_t>(), 600);
  EXPECT_EQ(
      json["devices"][0]["reports"].get<int64_t>() + json["devices"][1]["reports"].get<int64_t>(),
      json["reports"]["count"].get<int64_t>());
  EXPECT_EQ(json["device"]["name"], mice[0].displayName());

  // Each mouse has its own figures, as if measured alone: both are perfect,
  // and no interval spans the switch. The whole test is the 1000 Hz one's.
  const struct {
    int index;
    double rateHz;
  } kMice[] = {{0, 500.0}, {1, 1000.0}};
  for (const auto& m : kMice) {
    SCOPED_TRACE(m.rateHz);
    const auto& whole = json["devices"][m.index]["whole_test"];
    EXPECT_EQ(whole["reports"], json["devices"][m.index]["reports"]);
    EXPECT_NEAR(whole["moving_rate_hz"].get<double>(), m.rateHz, m.rateHz * 0.02);
    EXPECT_LE(whole["interval_us"]["max"].get<double>(), 1e6 / m.rateHz * 1.5);
    EXPECT_EQ(whole["missed_slots"], 0);
    // The shorter stretch may be too short to judge, and then says so.
    const bool tooShort = whole["moving_s"].get<double>() < 0.5 || whole["intervals"] < 100;
    if (whole["cause"].is_object()) {
      EXPECT_EQ(whole["cause"]["kind"], tooShort ? "too_short" : "reached");
    }
  }
  EXPECT_EQ(json["whole_test"]["device_index"], 1);
  EXPECT_EQ(json["whole_test"]["reports"], json["devices"][1]["reports"]);
  // One mouse, one set of figures: its verdict, capability and cause are the
  // same in the list as at the top.
  nlohmann::json top = json["whole_test"];
  top.erase("device_index");
  EXPECT_EQ(top, json["devices"][1]["whole_test"]);
  const std::string folder = line.substr(arrow + 4, line.size() - arrow - 5);
  // The intervals file keeps every report; the switch's row has no interval.
  std::istringstream csv(readFile(folder + "/intervals.csv"));
  std::string row;
  int withoutInterval = 0;
  while (std::getline(csv, row)) withoutInterval += row.find(",,") == row.find(',') ? 1 : 0;
  EXPECT_EQ(withoutInterval, 2);  // the first report's and the switch's
  EXPECT_NE(readFile(folder + "/intervals.svg").find("图中只有 " + mice[0].displayName()),
            std::string::npos);
}

}  // namespace
