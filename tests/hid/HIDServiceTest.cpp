// The pieces of the linux service that need no udev: device text, evdev
// frame assembly, the property mappings, the event loop, and the evdev
// reader on a pipe.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <future>
#include <thread>
#include <vector>

#include "EpollFault.h"
#include "EvdevEvents.h"
#include "hid/service/DeviceText.h"
#include "hid/service/EvdevFrameAssembler.h"
#include "hid/service/LinuxHIDService.h"
#include "hid/service/RunLoop.h"

using namespace hidservice;

namespace {

struct Report {
  ResultKind result;
  std::vector<uint8_t> bytes;
  uint64_t time;
};

struct Collector {
  std::vector<Report> reports;
  std::vector<uint8_t> buffer = std::vector<uint8_t>(1024);

  static void callback(void* context, const Result& result, void*, uint32_t, uint32_t,
                       uint8_t* report, size_t length, uint64_t time) {
    static_cast<Collector*>(context)->reports.push_back(
        Report{result.kind, std::vector<uint8_t>(report, report + length), time});
  }
};

std::vector<input_event> motionFrame(int64_t us) {
  return {ev(EV_REL, REL_X, 3, us), ev(EV_REL, REL_Y, -2, us), ev(EV_SYN, SYN_REPORT, 0, us)};
}

int64_t nowNs(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

}  // namespace

TEST(DeviceTextTest, DecodesUdevEscapes) {
  EXPECT_EQ(decodeUdevEscapes("Logitech\\x20USB\\x2fMouse"), "Logitech USB/Mouse");
  EXPECT_EQ(decodeUdevEscapes("\\xe9\\xbc\\xa0"), "鼠");
  EXPECT_EQ(decodeUdevEscapes("bad\\x2"), "bad\\x2");
  EXPECT_EQ(decodeUdevEscapes("bad\\xZZ"), "bad\\xZZ");
}

TEST(DeviceTextTest, KeepsValidUtf8AndCutsAtACharacterBoundary) {
  EXPECT_EQ(cleanDeviceText("  Pro Mouse\n"), "Pro Mouse");
  EXPECT_EQ(cleanDeviceText("A\xFF"
                            "B"),
            "A\xEF\xBF\xBD"
            "B");
  EXPECT_EQ(cleanDeviceText("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // overlong '/'
  EXPECT_EQ(cleanDeviceText("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
  EXPECT_EQ(cleanDeviceText("a\x01"
                            "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(cleanDeviceText("\xE9\xBC"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // cut sequence

  std::string name = "a";
  for (int i = 0; i < 100; ++i) name += "鼠";
  const std::string cut = cleanDeviceText(name);
  EXPECT_EQ(cut.size(), 253u);  // "a" + 84 characters; the 85th would need 256 bytes
  EXPECT_EQ(cut, name.substr(0, 253));
}

TEST(EvdevFrameAssemblerTest, OneReportPerFramePackedWithTheSynTime) {
  Collector c;
  EvdevFrameAssembler a;
  a.setTarget(c.buffer.data(), c.buffer.size(), &Collector::callback, &c, nullptr);
  std::vector<input_event> events = motionFrame(1000);
  const std::vector<input_event> second = motionFrame(2000);
  events.insert(events.end(), second.begin(), second.end());
  a.feed(events.data(), 4, 0);  // a frame split across reads
  a.feed(events.data() + 4, 2, 0);
  ASSERT_EQ(c.reports.size(), 2u);
  EXPECT_EQ(c.reports[0].result, ResultKind::Success);
  EXPECT_EQ(c.reports[0].time, 1000000u);
  EXPECT_EQ(c.reports[1].time, 2000000u);
  const std::vector<uint8_t> packed = {2, 0, 0, 0, 3, 0, 0, 0, 2, 0, 1, 0, 0xFE, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(c.reports[1].bytes, packed);
}

TEST(EvdevFrameAssemblerTest, DroppedEventsDiscardTheFrameUpToTheNextReport) {
  Collector c;
  EvdevFrameAssembler a;
  a.setTarget(c.buffer.data(), c.buffer.size(), &Collector::callback, &c, nullptr);
  const std::vector<input_event> events = {
      ev(EV_REL, REL_X, 1, 1000), ev(EV_SYN, SYN_DROPPED, 0, 1500),
      ev(EV_REL, REL_X, 9, 1700), ev(EV_SYN, SYN_REPORT, 0, 1700),  // incomplete, discarded
      ev(EV_REL, REL_X, 2, 2000), ev(EV_SYN, SYN_REPORT, 0, 2000)};
  a.feed(events.data(), events.size(), 0);
  ASSERT_EQ(c.reports.size(), 2u);
  EXPECT_EQ(c.reports[0].result, ResultKind::Overrun);
  EXPECT_TRUE(c.reports[0].bytes.empty());
  EXPECT_EQ(c.reports[1].result, ResultKind::Success);
  EXPECT_EQ(c.reports[1].time, 2000000u);
  EXPECT_EQ(c.reports[1].bytes.size(), 8u);
  EXPECT_EQ(a.dropCount(), 1u);
}

TEST(EvdevFrameAssemblerTest, LongFramesKeepTheirFirstEventsAndOffsetsApply) {
  Collector c;
  c.buffer.resize(16);
  EvdevFrameAssembler a;
  a.setTarget(c.buffer.data(), c.buffer.size(), &Collector::callback, &c, nullptr);
  std::vector<input_event> events;
  for (int i = 0; i < 5; ++i) events.push_back(ev(EV_REL, REL_X, i, 1000));
  events.push_back(ev(EV_SYN, SYN_REPORT, 0, 1000));
  a.feed(events.data(), events.size(), -400000);
  ASSERT_EQ(c.reports.size(), 1u);
  EXPECT_EQ(c.reports[0].bytes.size(), 16u);
  EXPECT_EQ(c.reports[0].time, 600000u);
  // A stamp before the clock's origin is kept at 0 instead of wrapping.
  a.feed(events.data(), events.size(), -5000000);
  EXPECT_EQ(c.reports[1].time, 0u);
}

// What the host polls at and what the mouse asks for, in µs, by the
// kernel's rules: powers of two of 1 ms frames at full and low speed,
// 2^(bInterval-1) microframes at high speed and above.
TEST(LinuxMappingTest, ReportIntervalFromBIntervalAndSpeed) {
  struct Row {
    int bInterval;
    const char* speed;
    int32_t hostUs, requestedUs;
  };
  const Row rows[] = {
      {1, "12", 1000, 1000},  {10, "1.5", 8000, 10000},    {10, "12", 8000, 10000},
      {3, "12", 2000, 3000},  {5, "12", 4000, 5000},       {7, "12", 4000, 7000},
      {8, "12", 8000, 8000},  {255, "12", 128000, 255000}, {1, "480", 125, 125},
      {4, "480", 1000, 1000}, {1, "5000", 125, 125},       {17, "480", 0, 0},
      {0, "12", 0, 0},        {1, "unknown", 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.bInterval) + " at " + r.speed);
    EXPECT_EQ(reportIntervalUs(r.bInterval, r.speed), r.hostUs);
    EXPECT_EQ(requestedIntervalUs(r.bInterval, r.speed), r.requestedUs);
  }
}

// usbhid's mousepoll replaces the interval where the host controller obeys
// a request's interval, and nowhere else.
TEST(LinuxMappingTest, MousepollReplacesTheIntervalBelowNonXhciHosts) {
  struct Row {
    int bInterval;
    const char* speed;
    const char* hostDriver;
    int mousepollMs;
    int32_t hostUs, requestedUs;
    const char* reason;
  };
  const Row rows[] = {
      {1, "12", "ehci-pci", 8, 8000, 1000, "usbhid_mousepoll"},
      {1, "12", "ohci-pci", 8, 8000, 1000, "usbhid_mousepoll"},
      {1, "12", "uhci_hcd", 10, 8000, 1000, "usbhid_mousepoll"},
      {10, "12", "ehci-pci", 1, 1000, 10000, "usbhid_mousepoll"},
      {1, "480", "ehci-pci", 4, 1000, 125, "usbhid_mousepoll"},  // an exponent at high speed
      {1, "12", "xhci_hcd", 8, 1000, 1000, ""},
      {10, "12", "xhci_hcd", 8, 8000, 10000, "interval_rounding"},
      {1, "12", "xhci-hcd", 8, 1000, 1000, ""},
      {1, "12", "", 8, 1000, 1000, ""},  // no host known: nothing replaced
      {1, "12", "ehci-pci", 0, 1000, 1000, ""},
      {1, "12", "ehci-pci", 1, 1000, 1000, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.hostDriver) + " mousepoll=" + std::to_string(r.mousepollMs));
    const UsbPolling p = usbPolling(r.bInterval, r.speed, r.hostDriver, r.mousepollMs);
    EXPECT_EQ(p.hostUs, r.hostUs);
    EXPECT_EQ(p.requestedUs, r.requestedUs);
    EXPECT_EQ(p.reason, r.reason);
  }
}

TEST(LinuxMappingTest, BuiltInPointersByTagOrBus) {
  EXPECT_TRUE(isBuiltInPointer(false, true, "PS/2"));
  EXPECT_TRUE(isBuiltInPointer(false, true, "USB"));  // a keyboard's pointing stick
  EXPECT_TRUE(isBuiltInPointer(true, false, "USB"));  // a touchpad on an internal USB hub
  EXPECT_TRUE(isBuiltInPointer(false, false, "I2C"));
  EXPECT_TRUE(isBuiltInPointer(false, false, "SPI"));
  EXPECT_FALSE(isBuiltInPointer(false, false, "USB"));
  EXPECT_FALSE(isBuiltInPointer(false, false, "Bluetooth"));
  EXPECT_FALSE(isBuiltInPointer(false, false, ""));
}

TEST(LinuxMappingTest, BusNames) {
  EXPECT_EQ(transportFromBusType(BUS_USB), "USB");
  EXPECT_EQ(transportFromBusType(BUS_BLUETOOTH), "Bluetooth");
  EXPECT_EQ(transportFromBusType(BUS_I8042), "PS/2");
  EXPECT_EQ(transportFromBusType(BUS_SPI), "SPI");
  EXPECT_EQ(transportFromBusType(0x99), "");
  EXPECT_EQ(transportFromIdBus("i2c"), "I2C");
}

TEST(RunLoopTest, StopBeforeRunReturnsAtOnceAndTasksRunOnTheLoopThread) {
  RunLoop early;
  early.stop();
  EXPECT_EQ(early.run(), 0);

  RunLoop loop;
  std::thread::id taskThread;
  std::thread t([&] { loop.run(); });
  loop.post([&] { taskThread = std::this_thread::get_id(); });
  loop.post([&] { loop.stop(); });
  const std::thread::id loopThread = t.get_id();
  t.join();
  EXPECT_EQ(taskThread, loopThread);
}

TEST(RunLoopTest, AHandlerMayRemoveItself) {
  RunLoop loop;
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
  int calls = 0;
  uint64_t id = 0;
  id = loop.addFd(fds[0], EPOLLIN, [&](uint32_t) {
    ++calls;
    loop.removeFd(id);
    loop.post([&] { loop.stop(); });
  });
  ASSERT_NE(id, 0u);
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  loop.run();
  EXPECT_EQ(calls, 1);
  close(fds[0]);
  close(fds[1]);
}

TEST(RunLoopTest, AFailingWaitEndsTheLoopWithItsErrno) {
  const std::set<int> before = epollFds();
  RunLoop loop;
  const int fd = newEpollFd(before);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(replaceWithDevNull(fd));
  EXPECT_EQ(loop.run(), EINVAL);
}

// The evdev reader on a pipe: the kernel refuses EVIOCSCLOCKID there, so
// the realtime stamps are moved to the monotonic clock.
TEST(EvdevDeviceTest, ReadsFramesFromANodeAndConvertsRealtimeStamps) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  RunLoop loop;
  EvdevDevice device(loop, "/proc/self/fd/" + std::to_string(fds[0]), DeviceProperties{});
  ASSERT_TRUE(device.open().ok());
  Collector c;
  device.registerInputReportCallback(c.buffer.data(), c.buffer.size(), &Collector::callback, &c);

  const int64_t realUs = nowNs(CLOCK_REALTIME) / 1000;
  const int64_t monoBefore = nowNs(CLOCK_MONOTONIC);
  std::vector<input_event> events;
  for (int i = 0; i < 300; ++i) {
    const std::vector<input_event> f = motionFrame(realUs + i * 125);
    events.insert(events.end(), f.begin(), f.end());
  }
  std::thread writer([&] {
    // Odd-sized pieces: events arrive split across reads.
    const char* p = reinterpret_cast<const char*>(events.data());
    size_t left = events.size() * sizeof(input_event);
    while (left > 0) {
      const ssize_t n = write(fds[1], p, std::min<size_t>(left, 1001));
      if (n <= 0) break;
      p += n;
      left -= static_cast<size_t>(n);
    }
    close(fds[1]);
  });
  std::thread reader([&] {
    loop.post([] {});
    loop.run();
  });
  writer.join();
  // The writer has closed its end: once every report is in, end the loop.
  while (true) {
    std::promise<size_t> count;
    loop.post([&] { count.set_value(c.reports.size()); });
    if (count.get_future().get() == 300u) break;
    std::this_thread::yield();
  }
  loop.stop();
  reader.join();
  ASSERT_EQ(c.reports.size(), 300u);
  for (size_t i = 1; i < c.reports.size(); ++i) {
    EXPECT_EQ(c.reports[i].time - c.reports[i - 1].time, 125000u);
  }
  // Stamped "now" on the realtime clock, so close to now on the monotonic one.
  EXPECT_LT(std::llabs(static_cast<int64_t>(c.reports[0].time) - monoBefore), 1000000000LL);
  device.close();
  close(fds[0]);
}
