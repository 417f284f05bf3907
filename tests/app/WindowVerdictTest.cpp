// The window's verdict line on virtual mice, through the shell's real frames:
// the words the terminal uses, no red while the hand is the limit, and the
// saved result judged as the window showed it.
#include <gtest/gtest.h>

#include <imgui.h>
#include <imgui_internal.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "HeadlessImgui.h"
#include "ShellTestSupport.h"
#include "app/WindowSave.h"
#include "app/WindowVerdict.h"
#include "dashboard/FontConfig.h"
#include "dashboard/Palette.h"
#include "i18n/Translate.h"

namespace {

class WindowVerdict : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    imgui_ = std::make_unique<HeadlessImgui>(ImVec2(1280, 820));
    dashboard::init(FontConfig{});
    connectMonitor();
    g_monitor.start();
  }
  static void TearDownTestSuite() {
    g_monitor.stop();
    imgui_.reset();
    i18n::initTranslation(i18n::Language::Chinese);
  }

  // Frames of real time: the virtual mice report on the steady clock.
  static void run(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
      ImGui::GetIO().DeltaTime = 0.05f;
      frame();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  static void frame() {
    ImGui::NewFrame();
    drawUI();
    ImGui::Render();
  }
  static std::string text() { return shellFrameText(); }
  // Paused, as the idle loop draws: a frame only when the verdict line is
  // due, with Dear ImGui's clock standing still in between (a judgement
  // under way is no moment: the loop looks again every 50 ms). Returns the
  // frames drawn in 2 s.
  static int idleFrames() {
    int frames = 0;
    auto last = std::chrono::steady_clock::now();
    const auto end = last + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      const auto now = std::chrono::steady_clock::now();
      const double since = std::chrono::duration<double>(now - last).count();
      if (windowVerdictDueAt(ImGui::GetTime() + since, true) > ImGui::GetTime() + since) continue;
      ImGui::GetIO().DeltaTime = static_cast<float>(since);
      frame();
      ++frames;
      last = now;
    }
    return frames;
  }
  static bool drawn(ImU32 col) {
    const ImGuiWindow* root = ImGui::FindWindowByName("##root");
    for (const ImDrawVert& v : root->DrawList->VtxBuffer)
      if ((v.col | IM_COL32_A_MASK) == (col | IM_COL32_A_MASK)) return true;
    return false;
  }

  static inline std::unique_ptr<HeadlessImgui> imgui_;
};

TEST_F(WindowVerdict, SaysTheTerminalsVerdictWithoutRedForASlowHand) {
  struct Row {
    int mouse;  // in TAVO_VIRTUAL_MICE
    const char* zh;
    const char* en;
  } rows[] = {
      {0, "目标 8000 Hz　·　手速不足以判断：需约 8000 counts/s",
       "Target 8000 Hz  ·  hand too slow to judge: about 8000 counts/s needed"},
      {1, "目标 8000 Hz　·　达到目标", "Target 8000 Hz  ·  target reached"},
  };
  for (const i18n::Language language : {i18n::Language::Chinese, i18n::Language::English}) {
    i18n::initTranslation(language);
    for (const Row& r : rows) {
      SCOPED_TRACE(r.zh);
      resetShell();
      g_monitor.setSelectedDeviceIndex(r.mouse);
      ImGui::GetIO().DeltaTime = 1.0f;  // the next device poll
      frame();
      requestStart();
      run(1.5);
      // Red says the mouse fell short; a hand too slow to judge is no such thing.
      EXPECT_FALSE(drawn(dashboard::kColBad));
      requestPause();
      // The last reports are judged (one frame starts it, unless one is
      // under way) and shown (one frame) with no input to wake the loop.
      const int frames = idleFrames();
      EXPECT_GE(frames, 2);
      EXPECT_LE(frames, 4);
      EXPECT_EQ(windowVerdictDueAt(ImGui::GetTime() + 1, true), 1e300);
      ImGui::GetIO().DeltaTime = 0.05f;
      const std::string shown = text();
      EXPECT_NE(shown.find(language == i18n::Language::Chinese ? r.zh : r.en), std::string::npos)
          << shown;
      // The saved result holds the verdict the window showed.
      PendingRecord saved = pendingRecord();
      results::completeRecord(saved.record, saved.picked, results::TargetSource::Window);
      ASSERT_TRUE(windowVerdict());
      EXPECT_EQ(saved.record.derived->whole.test.text, windowVerdict()->text);
      requestReset();
    }
  }
}

}  // namespace
