// The E key and the 保存结果 button ask for a save only when the test has
// figures, once per press.
#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <imgui.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>
#include <tuple>

#include "ShellTestSupport.h"
#include "TestFiles.h"
#include "app/KeyShortcuts.h"
#include "app/WindowSave.h"
#include "dashboard/DashboardState.h"
#include "i18n/Translate.h"

namespace {

int g_forwardedKeys = 0;
void forward(GLFWwindow*, int, int, int, int) { ++g_forwardedKeys; }

void key(int action) { routeKey(nullptr, GLFW_KEY_E, 0, action, 0, forward); }

// Reports until the analyzer accepts a rate; its warm-up runs on the real
// clock (at most a few seconds on a loaded machine).
bool waitForFigures() {
  for (int i = 0; i < 100 && !g_analyzer.getStats().statsValid; ++i) {
    feedAnalyzer();
    g_analyzer.update();
    if (!g_analyzer.getStats().statsValid)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return g_analyzer.getStats().statsValid;
}

class WindowSave : public ::testing::Test {
 protected:
  void SetUp() override {
    resetShell();
    resetWindowSave();
    g_forwardedKeys = 0;
  }
};

// E without figures asks for no save and is consumed; the notice says why,
// in each language.
TEST_F(WindowSave, EWithoutFiguresSaysWhyInTheNotice) {
  const struct {
    i18n::Language language;
    const char *cannot, *idle, *started, *reset;
  } kSaid[] = {
      {i18n::Language::Chinese, "无法保存", "还没有开始测试，按 S 开始",
       "测试刚开始，还没有测出回报率，请移动鼠标", "测试刚重置，还没有新的数据"},
      {i18n::Language::English, "Cannot save", "No test yet: press S to start",
       "The test has just started: no report rate yet, move the mouse",
       "The test was just reset: no new data yet"},
  };
  for (const auto& said : kSaid) {
    SCOPED_TRACE(said.cannot);
    i18n::initTranslation(said.language);
    resetShell();
    resetWindowSave();
    ImGui::CreateContext();  // the notice's clock
    const auto noticeAfterE = [&] {
      key(GLFW_PRESS);
      EXPECT_FALSE(takeSaveRequest());
      const dashboard::Notice n = currentNotice(ImGui::GetTime());
      EXPECT_EQ(n.text, said.cannot);
      EXPECT_TRUE(n.failed);  // drawn as a warning, not a success
      return n.detail;
    };
    EXPECT_EQ(noticeAfterE(), said.idle);
    requestStart();  // running, nothing measured yet
    EXPECT_EQ(noticeAfterE(), said.started);
    ASSERT_TRUE(waitForFigures());
    requestReset();
    EXPECT_EQ(noticeAfterE(), said.reset);
    EXPECT_EQ(g_forwardedKeys, 0);
    ImGui::DestroyContext();
  }
  i18n::initTranslation(i18n::Language::Chinese);
}

TEST_F(WindowSave, EAndTheButtonSaveOncePerPressWhileThereAreFigures) {
  requestStart();
  ASSERT_TRUE(waitForFigures());
  EXPECT_TRUE(canSaveResult());
  key(GLFW_PRESS);
  EXPECT_TRUE(takeSaveRequest());
  EXPECT_FALSE(takeSaveRequest());  // one save per request
  key(GLFW_REPEAT);                 // held down
  key(GLFW_RELEASE);
  EXPECT_FALSE(takeSaveRequest());

  dashboard::UiActions actions;
  actions.savePressed = true;
  requestPause();  // a paused test keeps its figures
  applyActions(actions, PlatformAlert{});
  EXPECT_TRUE(takeSaveRequest());

  requestReset();  // figures gone
  key(GLFW_PRESS);
  applyActions(actions, PlatformAlert{});
  EXPECT_FALSE(takeSaveRequest());
  EXPECT_EQ(g_forwardedKeys, 0);
}

TEST_F(WindowSave, TheStampsStartOverWithTheFigures) {
  g_stamps.add(std::chrono::steady_clock::now());
  requestStart();  // from idle: a new test
  EXPECT_EQ(g_stamps.count(), 0u);
  g_stamps.add(std::chrono::steady_clock::now());
  requestReset();
  EXPECT_EQ(g_stamps.count(), 0u);
}

// The window's save with a home of its own: one console line, and a notice
// that names the folder, or the reason, for ten seconds.
class WindowSaveFiles : public WindowSave {
 protected:
  void SetUp() override {
    WindowSave::SetUp();
    home = homeDir.path();
    oldHome = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", home.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    ImGui::CreateContext();  // the notice's clock
    window.width = window.height = 2;
    window.format = PixelImage::Format::Rgb;
    window.pixels.assign(12, 200);
    requestStart();
    ASSERT_TRUE(waitForFigures());
  }
  void TearDown() override {
    ImGui::DestroyContext();
    setenv("HOME", oldHome.c_str(), 1);
  }
  std::string save() {
    ::testing::internal::CaptureStderr();
    saveWindowResult(window);
    return ::testing::internal::GetCapturedStderr();
  }
  TempDir homeDir;
  std::string home, oldHome;
  PixelImage window;
};

TEST_F(WindowSaveFiles, ASaveIsOneLineAndANoticeThatOpensTheFolder) {
  std::filesystem::create_directories(home + "/Documents");
  const std::string line = save();
  const std::string prefix = "[导出] 已保存 -> " + home + "/Documents/Quillmark/";
  ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
  ASSERT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
  const std::string folder =
      line.substr(line.find(" -> ") + 4, line.size() - 1 - line.find(" -> ") - 4);
  EXPECT_TRUE(std::filesystem::exists(folder + "/dashboard.png"));

  const dashboard::Notice notice = currentNotice(ImGui::GetTime());
  EXPECT_EQ(notice.detail, folder);
  EXPECT_EQ(notice.openPath, folder);
  EXPECT_FALSE(notice.failed);
  EXPECT_TRUE(currentNotice(ImGui::GetTime() + 10.5).text.empty());  // gone after a while

  // Paused, the result keeps the rate the window last showed, not 0.
  dashboard::dashboardState().held.lastHz = 987;
  requestPause();
  const std::string paused = save();
  const std::string pausedFolder =
      paused.substr(paused.find(" -> ") + 4, paused.size() - 1 - paused.find(" -> ") - 4);
  std::ifstream in(pausedFolder + "/result.json");
  const nlohmann::json j = nlohmann::json::parse(in);
  EXPECT_EQ(j["rate"]["current_hz"], 987.0);
}

TEST_F(WindowSaveFiles, AFailureIsOneLineAndANoticeWithTheReason) {
  std::ofstream(home + "/Quillmark") << "a file where the folder goes";
  for (const auto& [language, said, start] :
       {std::tuple{i18n::Language::Chinese, "保存失败", "[导出] 保存失败："},
        std::tuple{i18n::Language::English, "Save failed", "[export] Save failed: "}}) {
    i18n::initTranslation(language);
    const std::string line = save();
    EXPECT_EQ(line.rfind(start, 0), 0u) << line;
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
    const dashboard::Notice notice = currentNotice(ImGui::GetTime());
    EXPECT_EQ(notice.text, said);
    EXPECT_TRUE(notice.failed);
    EXPECT_TRUE(notice.openPath.empty());
    EXPECT_NE(line.find(notice.detail), std::string::npos);
  }
  i18n::initTranslation(i18n::Language::Chinese);
}

// E and R in one frame: the request was made with figures, the reset took
// them; the save checks again and writes nothing.
TEST_F(WindowSaveFiles, EThenRInOneFrameSavesNothingAndSaysWhy) {
  key(GLFW_PRESS);
  requestReset();
  ASSERT_TRUE(takeSaveRequest());
  const std::string line = save();
  EXPECT_EQ(line, "");
  EXPECT_FALSE(std::filesystem::exists(home + "/Quillmark"));
  EXPECT_EQ(currentNotice(ImGui::GetTime()).detail, "测试刚重置，还没有新的数据");
}

// Past the stamp bound (ten minutes at 8000 Hz) the duration is still the
// test's, and the plot says it shows only the first part.
TEST_F(WindowSaveFiles, ATestPastTheStampBoundKeepsItsDuration) {
  const auto first = std::chrono::steady_clock::now() - std::chrono::minutes(11);
  const std::size_t reports = results::StampRecorder::kDefaultLimit + 8000;  // one second more
  for (std::size_t i = 0; i < reports; ++i)
    g_stamps.add(first + std::chrono::microseconds(125 * i));
  const std::string line = save();
  const std::string folder =
      line.substr(line.find(" -> ") + 4, line.size() - 1 - line.find(" -> ") - 4);
  const std::string json = readFile(folder + "/result.json");
  EXPECT_NE(json.find("\"duration_s\": 601.0"), std::string::npos) << json.substr(0, 600);
  // The whole test's figures, from every report kept.
  EXPECT_NE(json.find("\"moving_rate_hz\": 8000.0"), std::string::npos);
  EXPECT_NE(json.find("\"reports\": 4800000"), std::string::npos);
  const std::string svg = readFile(folder + "/intervals.svg");
  EXPECT_NE(svg.find("时长 601.0 s"), std::string::npos);
  EXPECT_NE(svg.find("只画出前 4800000 次报告（前 600.0 s，测试共 601.0 s）"), std::string::npos);
}

}  // namespace
