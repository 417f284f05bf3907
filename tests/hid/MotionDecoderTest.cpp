// The motion decoded from frames as the kernel sends them, packed by the
// real frame assembler.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "EvdevEvents.h"
#include "hid/service/EvdevFrameAssembler.h"
#include "hid/service/MotionDecoder.h"

namespace {

using hidservice::EvdevFrameAssembler;
using hidservice::Result;

// dx, dy, wheel, hwheel, button changes of one report.
using Motion = std::tuple<int, int, int, int, int>;

struct Decoded {
  std::vector<uint8_t> buffer = std::vector<uint8_t>(256);
  std::vector<Motion> motions;  // successful reports only
  int overruns = 0;

  static void callback(void* context, const Result& result, void*, uint32_t, uint32_t,
                       uint8_t* report, size_t length, uint64_t) {
    auto* d = static_cast<Decoded*>(context);
    if (!result.ok()) {
      ++d->overruns;
      return;
    }
    const ReportMotion m = hidservice::decodeMotion(report, length);
    EXPECT_TRUE(m.known());
    d->motions.emplace_back(m.dx, m.dy, m.wheel, m.hwheel, m.buttonChanges);
  }
};

input_event rel(uint16_t code, int32_t value) { return ev(EV_REL, code, value, 1000); }
input_event key(uint16_t code, int32_t value) { return ev(EV_KEY, code, value, 1000); }
input_event syn(uint16_t code = SYN_REPORT) { return ev(EV_SYN, code, 0, 1000); }

TEST(MotionDecoder, FramesAsMiceSendThem) {
  struct Case {
    std::string name;
    std::vector<input_event> events;
    std::vector<Motion> motions;
    int overruns = 0;
  };
  const std::vector<Case> cases = {
      {"REL_X only", {rel(REL_X, 3), syn()}, {{3, 0, 0, 0, 0}}},
      {"REL_Y only", {rel(REL_Y, 1), syn()}, {{0, 1, 0, 0, 0}}},
      {"both, negative", {rel(REL_X, -1), rel(REL_Y, -7), syn()}, {{-1, -7, 0, 0, 0}}},
      {"beyond 16 bits",
       {rel(REL_X, -40000), rel(REL_Y, 70000), syn()},
       {{-32768, 32767, 0, 0, 0}}},
      {"wheel with its high-resolution twin",
       {rel(REL_WHEEL, -1), rel(REL_WHEEL_HI_RES, -120), rel(REL_HWHEEL, 1),
        rel(REL_HWHEEL_HI_RES, 120), syn()},
       {{0, 0, -1, 1, 0}}},
      {"high-resolution wheel alone, in steps of 120",
       {rel(REL_WHEEL_HI_RES, 60), syn(), rel(REL_WHEEL_HI_RES, 240), rel(REL_HWHEEL_HI_RES, -120),
        syn()},
       {{0, 0, 0, 0, 0}, {0, 0, 2, -1, 0}}},
      {"high-resolution wheel: 200 units are one detent, not two",
       {rel(REL_WHEEL_HI_RES, 200), syn()},
       {{0, 0, 1, 0, 0}}},
      {"buttons only, with the scan code",
       {ev(EV_MSC, MSC_SCAN, 0x90001, 1000), key(BTN_LEFT, 1), syn(), key(BTN_LEFT, 0),
        key(BTN_RIGHT, 1), syn()},
       {{0, 0, 0, 0, 1}, {0, 0, 0, 0, 2}}},
      {"a held button's autorepeat is no change",
       {key(BTN_LEFT, 1), syn(), key(BTN_LEFT, 2), rel(REL_X, 1), syn()},
       {{0, 0, 0, 0, 1}, {1, 0, 0, 0, 0}}},
      {"motion and a button in one frame",
       {rel(REL_X, 2), key(BTN_SIDE, 1), syn()},
       {{2, 0, 0, 0, 1}}},
      {"a frame cut by SYN_DROPPED",
       {rel(REL_X, 5), syn(SYN_DROPPED), rel(REL_X, 9), syn(), rel(REL_Y, -2), syn()},
       {{0, -2, 0, 0, 0}},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Decoded d;
    EvdevFrameAssembler a;
    a.setTarget(d.buffer.data(), d.buffer.size(), &Decoded::callback, &d, nullptr);
    a.feed(c.events.data(), c.events.size(), 0);
    EXPECT_EQ(d.motions, c.motions);
    EXPECT_EQ(d.overruns, c.overruns);
  }
}

TEST(MotionDecoder, ACutEventAndAnEmptyReportAreKnownStill) {
  const uint8_t halfEvent[] = {EV_REL, 0, REL_X, 0};
  for (const ReportMotion& m :
       {hidservice::decodeMotion(nullptr, 0), hidservice::decodeMotion(halfEvent, 4)}) {
    EXPECT_TRUE(m.known());
    EXPECT_EQ(m.dx, 0);
  }
}

}  // namespace
