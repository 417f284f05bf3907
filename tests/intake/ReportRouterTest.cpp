#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "TestFiles.h"
#include "hid/intake/ReportCapture.h"
#include "hid/intake/ReportRouter.h"

// Which reports pass the router, and in what order they reach the capture and
// the callback. The trace lines are checked in child processes (TraceProcessTest).

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class RouterTest : public ::testing::Test {
 protected:
  RouterTest() {
    router.capture = &capture;
    router.selectedContext.store(&selected);
    router.monitoring = true;
    router.reportCallback = [this](Clock::time_point t, const ReportMotion&) {
      delivered.push_back(t);
      samplesAtDelivery.push_back(capture.samples.size());
    };
  }

  void startCapture() { capture.maybeStart("Mouse A"); }

  void route(const void* context, size_t length = 3) {
    router.route(context, 1, report, length, stamp);
  }

  TempDir dir;
  std::string out = dir.file("capture.csv");
  std::FILE* console = std::fopen("/dev/null", "w");
  ReportCapture capture{[this](const char* name) -> const char* {
                          return std::string(name) == "TAVO_CAPTURE" ? out.c_str() : nullptr;
                        },
                        [] { return Clock::time_point(1000s); }, console};
  ReportRouter router;
  int selected = 0, other = 0;
  const unsigned char report[3] = {'a', 'b', 'c'};
  Clock::time_point stamp = Clock::time_point(999s);
  std::vector<Clock::time_point> delivered;
  std::vector<size_t> samplesAtDelivery;

  ~RouterTest() override { std::fclose(console); }
};

TEST_F(RouterTest, SelectedReportIsCapturedThenDeliveredWithItsTimestamp) {
  startCapture();
  route(&selected);
  route(&selected);

  EXPECT_EQ(delivered, (std::vector<Clock::time_point>{stamp, stamp}));
  EXPECT_EQ(samplesAtDelivery, (std::vector<size_t>{1, 2}));
  EXPECT_EQ(capture.samples[0].hash, 0xe16801510db89efdULL);
}

TEST_F(RouterTest, NothingPassesWhileNotMonitoring) {
  startCapture();
  router.monitoring = false;
  route(&selected);
  EXPECT_TRUE(delivered.empty());
  EXPECT_TRUE(capture.samples.empty());
}

TEST_F(RouterTest, ReportsOfOtherOrUnknownContextsAreDropped) {
  startCapture();
  route(&other);
  route(nullptr);
  router.selectedContext.store(nullptr);
  route(&other);
  route(nullptr);  // nothing selected: even a report without a context is dropped
  EXPECT_TRUE(delivered.empty());
  EXPECT_TRUE(capture.samples.empty());
}

TEST_F(RouterTest, AnEmptyCallbackStillLetsTheCaptureRecord) {
  startCapture();
  router.reportCallback = nullptr;
  route(&selected);
  EXPECT_EQ(capture.samples.size(), 1u);
}

TEST_F(RouterTest, AReportOfLengthZeroIsRoutedLikeAnyOther) {
  startCapture();
  router.route(&selected, 5, nullptr, 0, stamp);
  ASSERT_EQ(delivered.size(), 1u);
  ASSERT_EQ(capture.samples.size(), 1u);
  EXPECT_EQ(capture.samples[0].length, 0u);
  EXPECT_EQ(capture.samples[0].reportId, 5u);
  EXPECT_EQ(capture.samples[0].hash, ReportCapture::kHashStart);
}

TEST_F(RouterTest, WithoutACaptureReportsOnlyReachTheCallback) {
  route(&selected);
  EXPECT_EQ(delivered.size(), 1u);
  EXPECT_TRUE(capture.samples.empty());
}

// A frame's button edges, packed as the evdev reader packs them, reach the
// button callback with the report's stamp and in order; autorepeat (2) is no
// press, and a report without buttons calls nothing.
TEST_F(RouterTest, ButtonEdgesOfAReportReachTheButtonCallback) {
  std::vector<std::tuple<Clock::time_point, uint16_t, int32_t>> edges;
  router.buttonCallback = [&](Clock::time_point t, uint16_t code, int32_t value) {
    edges.emplace_back(t, code, value);
  };
  const auto event = [](uint16_t type, uint16_t code, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    return std::vector<unsigned char>{
        static_cast<unsigned char>(type),    0,
        static_cast<unsigned char>(code),    static_cast<unsigned char>(code >> 8),
        static_cast<unsigned char>(u),       static_cast<unsigned char>(u >> 8),
        static_cast<unsigned char>(u >> 16), static_cast<unsigned char>(u >> 24)};
  };
  std::vector<unsigned char> frame;
  for (const auto& e : {event(2, 0, 5), event(1, 0x110, 1), event(1, 0x111, 2), event(1, 0x113, 0),
                        event(2, 1, -3)})
    frame.insert(frame.end(), e.begin(), e.end());
  router.route(&selected, 0, frame.data(), frame.size(), stamp);
  const std::vector<unsigned char> motionOnly = event(2, 0, 1);
  router.route(&selected, 0, motionOnly.data(), motionOnly.size(), stamp + 1ms);
  using Edge = std::tuple<Clock::time_point, uint16_t, int32_t>;
  EXPECT_EQ(edges, (std::vector<Edge>{{stamp, 0x110, 1}, {stamp, 0x113, 0}}));
  EXPECT_EQ(delivered.size(), 2u);
}

}  // namespace
