// Window placement, frame pacing and what a frame draws again, on given
// numbers and draw lists.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "HeadlessImgui.h"
#include "app/ButtonsPageModel.h"
#include "app/DrawingPriority.h"
#include "app/FrameDamage.h"
#include "app/FramePacer.h"
#include "app/WindowGeometry.h"
#include "dashboard/DrawKit.h"

namespace {

void expectPlacement(const WindowPlacement& p, Rect content, int minWidth, int minHeight) {
  EXPECT_EQ(p.content.x, content.x);
  EXPECT_EQ(p.content.y, content.y);
  EXPECT_EQ(p.content.width, content.width);
  EXPECT_EQ(p.content.height, content.height);
  EXPECT_EQ(p.minWidth, minWidth);
  EXPECT_EQ(p.minHeight, minHeight);
}

TEST(WindowPlacement, FillsTheWorkAreaWithItsFrame) {
  expectPlacement(placeWindow(Rect{0, 32, 1920, 1048}, FrameExtents{2, 28, 2, 2}),
                  Rect{2, 60, 1916, 1018}, 900, 640);
}

TEST(WindowPlacement, WithoutAMonitor) {
  expectPlacement(placeWindow(std::nullopt, FrameExtents{}), Rect{0, 0, 1180, 820}, 900, 640);
}

TEST(WindowPlacement, SmallWorkAreaLimitsTheMinimumFromTheAreaNotTheContent) {
  const WindowPlacement p = placeWindow(Rect{0, 0, 800, 600}, FrameExtents{0, 30, 0, 0});
  EXPECT_EQ(p.minWidth, 800);
  EXPECT_EQ(p.minHeight, 600);
  EXPECT_EQ(p.content.height, 570);
}

TEST(FramePacer, FramesStartOnePeriodApartAndLostTimeIsNotMadeUp) {
  constexpr double T = FramePacer::kFramePeriod;
  FramePacer pacer(10.0);
  EXPECT_EQ(pacer.waitBefore(10.0), 0.0);
  pacer.begin(10.0);
  pacer.end();  // a quick frame: the next is due at 10 + T
  EXPECT_NEAR(pacer.waitBefore(10.005), T - 0.005, 1e-12);
  pacer.begin(10.005);  // woke at 10 + T, counted as such
  pacer.end();
  EXPECT_NEAR(pacer.waitBefore(10.0 + T + 0.001), T - 0.001, 1e-12);

  // A frame that ran 50 ms: the next starts at once, and the one after is a
  // full period later, not sooner.
  pacer.begin(10.0 + 2 * T);
  pacer.end();
  const double late = 10.0 + 2 * T + 0.050;
  EXPECT_EQ(pacer.waitBefore(late), 0.0);
  pacer.begin(late);
  pacer.end();
  EXPECT_NEAR(pacer.waitBefore(late), T, 1e-12);
}

// Idle, a frame comes once a second, at a notice's end, and for a while
// after input; a running test is drawn on every period.
TEST(IdleSchedule, DrawsOnlyWhenSomethingCanHaveChanged) {
  constexpr double kNone = 1e300;
  IdleSchedule idle;
  EXPECT_EQ(idle.waitBefore(5.0, false, kNone), 0.0);  // the first frame
  idle.noteFrame(5.0);
  const struct {
    double now;
    bool running;
    double moment;
    double wait;
  } kRows[] = {
      {5.0, true, kNone, 0.0},                               // a test runs: every period
      {5.01, false, kNone, 0.05},                            // idle: a short wait, again and again
      {5.97, false, kNone, 0.03},                            // up to the once-a-second refresh
      {6.0, false, kNone, 0.0},   {5.5, false, 5.52, 0.02},  // a notice ends before the refresh
      {5.5, false, 5.4, 0.0},
  };
  for (const auto& r : kRows)
    EXPECT_NEAR(idle.waitBefore(r.now, r.running, r.moment), r.wait, 1e-9) << r.now;
  idle.noteInput(5.5);  // hover, popups and tooltips settle at the frame rate
  EXPECT_EQ(idle.waitBefore(5.5, false, kNone), 0.0);
  EXPECT_EQ(idle.waitBefore(6.09, false, kNone), 0.0);
  idle.noteFrame(6.09);
  EXPECT_NEAR(idle.waitBefore(6.11, false, kNone), 0.05, 1e-9);
}

// The buttons page's CPI countdown and stroke change with no event to wake
// the loop: each second of the countdown and the end of a rest are timed
// moments, before the once-a-second refresh would come.
TEST(IdleSchedule, WakesForTheCpiCountdownAndTheStrokesRest) {
  using namespace std::chrono_literals;
  using Clock = ButtonsPageModel::Clock;
  const Clock::time_point t0(100s);
  const auto secs = [t0](Clock::time_point t) {
    return 100.0 + std::chrono::duration<double>(t - t0).count();
  };
  ButtonsPageModel page;
  page.open(t0);
  EXPECT_FALSE(page.nextChange(t0)) << "nothing timed before a measurement";
  dashboard::ButtonsPageActions measure;
  measure.measureCpi = true;
  page.apply(measure, t0);
  const struct {
    Clock::duration at;
    int secondsShown;
    Clock::duration next;
  } kCountdown[] = {{200ms, 3, 1s}, {1s, 2, 2s}, {2500ms, 1, 3s}};
  IdleSchedule idle;
  for (const auto& r : kCountdown) {
    EXPECT_EQ(page.state(t0 + r.at).cpi.secondsLeft, r.secondsShown);
    idle.noteFrame(secs(t0 + r.at));
    const std::optional<Clock::time_point> next = page.nextChange(t0 + r.at);
    ASSERT_TRUE(next);
    EXPECT_EQ(*next, t0 + r.next);
    EXPECT_GT(idle.waitBefore(secs(*next) - 0.01, false, secs(*next)), 0.0);
    EXPECT_EQ(idle.waitBefore(secs(*next), false, secs(*next)), 0.0);
  }
  // The stroke: first a rest of 0.25 s (the hand moved the mouse to the
  // ruler's start until 0.1 s before), then motion wakes the loop, and the
  // stroke ends after a rest of 0.4 s.
  ReportMotion m;
  m.dx = 400;
  page.onMotion(t0 + 2900ms, m);
  EXPECT_EQ(page.state(t0 + 3s).cpi.step, dashboard::CpiView::Step::Stroke);
  EXPECT_EQ(page.nextChange(t0 + 3s), t0 + 3150ms);
  page.state(t0 + 3150ms);
  EXPECT_FALSE(page.nextChange(t0 + 3150ms)) << "ready: waits for motion";
  page.onMotion(t0 + 3300ms, m);
  page.state(t0 + 3300ms);
  EXPECT_EQ(page.nextChange(t0 + 3300ms), t0 + 3700ms);
  EXPECT_EQ(page.state(t0 + 3700ms).cpi.stroke, 2);
  EXPECT_EQ(page.nextChange(t0 + 3700ms), t0 + 4700ms) << "the next countdown";
  page.close();
  EXPECT_FALSE(page.nextChange(t0 + 3700ms));
}

// Every other thread moves down; the one named quillmark-hid keeps its place,
// and moves to the real-time class where the process may use it (asked of a
// throwaway thread first) and nowhere else.
TEST(DrawingPriority, EveryThreadButTheHIDThreadYields) {
  std::atomic<pid_t> hid{0}, other{0};
  std::atomic<bool> done{false};
  const auto run = [&](std::atomic<pid_t>& tid, const char* name) {
    pthread_setname_np(pthread_self(), name);
    tid = gettid();
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  std::thread a(run, std::ref(hid), "quillmark-hid");
  std::thread b(run, std::ref(other), "llvmpipe-0");
  while (hid == 0 || other == 0) std::this_thread::yield();
  const int before = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  EXPECT_GE(yieldToHIDThread(3), 2);
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(hid.load())), before);
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(other.load())), std::min(before + 3, 19));
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())), std::min(before + 3, 19));
  bool mayRaise = false;
  std::thread([&] {
    const sched_param p{sched_get_priority_min(SCHED_FIFO)};
    mayRaise = sched_setscheduler(0, SCHED_FIFO, &p) == 0;
  }).join();
  EXPECT_EQ(raiseHIDThread(), mayRaise);
  EXPECT_EQ(sched_getscheduler(hid.load()), mayRaise ? SCHED_FIFO : SCHED_OTHER);
  EXPECT_EQ(sched_getscheduler(other.load()), SCHED_OTHER);
  done = true;
  a.join();
  b.join();
}

// A small scene: a card, a number on it, a line; `change` alters it.
struct Scene {
  ImU32 card = IM_COL32(30, 32, 36, 255);
  const char* number = "1000";
  ImVec2 size{1180, 820};
  bool foreignCallback = false;
  bool textureUpdate = false;
};

void foreignCallback(const ImDrawList*, const ImDrawCmd*) {}

// The draw data of one frame of `scene`, with its textures as a backend
// leaves them: made, unless the scene asks for an update.
ImDrawData& drawScene(const Scene& scene) {
  ImGuiIO& io = ImGui::GetIO();
  io.DisplaySize = scene.size;
  ImGui::NewFrame();
  ImDrawList* dl = ImGui::GetForegroundDrawList();
  dashboard::fillRoundedRect(dl, ImVec2(100, 100), ImVec2(500, 300), scene.card, 8.0f);
  dl->AddText(ImVec2(200, 180), IM_COL32_WHITE, scene.number);
  dl->AddLine(ImVec2(700, 600), ImVec2(1100, 600), IM_COL32(0, 195, 255, 255), 2.0f);
  if (scene.foreignCallback) dl->AddCallback(foreignCallback, nullptr);
  ImGui::Render();
  for (ImTextureData* t : ImGui::GetPlatformIO().Textures) {
    t->SetTexID(1);
    t->SetStatus(scene.textureUpdate ? ImTextureStatus_WantUpdates : ImTextureStatus_OK);
  }
  return *ImGui::GetDrawData();
}

}  // namespace

// Drawn again: nothing when nothing changed, the tiles of a change and no
// more, everything when the last frame cannot be compared.
TEST(FrameDamage, DrawsAgainWhatCanHaveChangedAndNoMore) {
  HeadlessImgui imgui;
  dashboard::setSolidFill(foreignCallback);  // stands in for the renderer's fill
  const PixelRect kNothing{0, 0, 0, 0}, kAll{0, 0, -1, -1};
  const struct {
    const char* name;
    std::function<void(Scene&)> change;
    PixelRect only;  // the damage lies here and is not empty; kNothing; kAll
  } kRows[] = {
      {"the same frame", [](Scene&) {}, kNothing},
      {"a number", [](Scene& s) { s.number = "1001"; }, {160, 160, 320, 224}},
      {"the card's colour",
       [](Scene& s) { s.card = IM_COL32(40, 32, 36, 255); },
       {96, 96, 512, 320}},
      {"a new size", [](Scene& s) { s.size = ImVec2(1180, 821); }, kAll},
      {"a callback it cannot follow", [](Scene& s) { s.foreignCallback = true; }, kAll},
      {"glyphs being added", [](Scene& s) { s.textureUpdate = true; }, kAll},
  };
  for (const auto& row : kRows) {
    FrameDamage damage;
    ImDrawData& first = drawScene(Scene{});
    snapClipRects(first);
    damage.update(first, 1180, 820, foreignCallback);
    Scene after;
    row.change(after);
    ImDrawData& second = drawScene(after);
    snapClipRects(second);
    const int w = static_cast<int>(after.size.x), h = static_cast<int>(after.size.y);
    const std::vector<PixelRect> rects = damage.update(second, w, h, foreignCallback);
    if (row.only.x1 < 0) {
      ASSERT_EQ(rects.size(), 1u) << row.name;
      EXPECT_EQ(rects[0].area(), static_cast<long long>(w) * h) << row.name;
      continue;
    }
    EXPECT_EQ(rects.empty(), row.only.area() == 0) << row.name;
    for (const PixelRect& r : rects)
      EXPECT_TRUE(r.x0 >= row.only.x0 && r.y0 >= row.only.y0 && r.x1 <= row.only.x1 &&
                  r.y1 <= row.only.y1)
          << row.name << ": " << r.x0 << "," << r.y0 << " " << r.x1 << "," << r.y1;
  }
  dashboard::setSolidFill(nullptr);
}
