// What a failing evdev node does to the monitor: a read error ends that
// mouse's reports with a DeviceError for the banner; ENODEV (the mouse was
// unplugged, its removal event follows) ends them quietly.
//
// No node that fails this way can be made here, so this test program puts
// its own read() in front of the C library's: reads of the pipe that stands
// for the node fail with the errno a test arms. Everything else is the real
// evdev reader on the monitor's HID thread.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "EvdevEvents.h"
#include "hid/HIDMonitor.h"
#include "hid/service/LinuxHIDService.h"
#include "hid/service/RunLoop.h"

namespace {

std::atomic<ino_t> g_failInode{0};
std::atomic<int> g_failErrno{0};
std::atomic<int> g_failedReads{0};

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
  using ReadFn = ssize_t (*)(int, void*, size_t);
  static const ReadFn real = reinterpret_cast<ReadFn>(dlsym(RTLD_NEXT, "read"));
  const ino_t inode = g_failInode.load();
  struct stat st {};
  if (inode != 0 && g_failErrno.load() != 0 && fstat(fd, &st) == 0 && st.st_ino == inode) {
    ++g_failedReads;
    errno = g_failErrno.load();
    return -1;
  }
  return real(fd, buffer, count);
}

namespace {

using Clock = std::chrono::steady_clock;
using hidservice::EvdevDevice;

// A manager with one evdev node, announced when it opens.
class OneNodeManager : public hidservice::Manager {
 public:
  explicit OneNodeManager(std::string node) : node_(std::move(node)) {}
  void scheduleWithRunLoop(hidservice::RunLoop& loop) override { loop_ = &loop; }
  void unscheduleFromRunLoop(hidservice::RunLoop&) override { loop_ = nullptr; }
  hidservice::Result open() override {
    device_ = std::make_unique<EvdevDevice>(*loop_, node_, hidservice::DeviceProperties{});
    loop_->post([this] { announceMatched(device_.get()); });
    return hidservice::Result::success();
  }
  void close() override {}

  // Returns once the loop has handled what was ready before the call.
  void sync() {
    for (int round = 0; round < 2; ++round) {
      std::promise<void> done;
      loop_->post([&] { done.set_value(); });
      done.get_future().wait();
    }
  }

 private:
  std::string node_;
  hidservice::RunLoop* loop_ = nullptr;
  std::unique_ptr<EvdevDevice> device_;
};

class OneNodeService : public hidservice::LinuxHIDService {
 public:
  explicit OneNodeService(std::string node) : node_(std::move(node)) {}
  std::unique_ptr<hidservice::Manager> createManager(hidservice::Result&) override {
    auto manager = std::make_unique<OneNodeManager>(node_);
    manager_ = manager.get();
    return manager;
  }
  OneNodeManager* manager() const { return manager_; }

 private:
  std::string node_;
  OneNodeManager* manager_ = nullptr;
};

class ReadErrors : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pipe2(fds_, O_CLOEXEC), 0);
    struct stat st {};
    ASSERT_EQ(fstat(fds_[0], &st), 0);
    g_failInode = st.st_ino;
    service_ = std::make_shared<OneNodeService>("/proc/self/fd/" + std::to_string(fds_[0]));
    monitor_ = std::make_unique<HIDMonitor>(service_);
    monitor_->setMonitoring(true);
    monitor_->setReportCallback([this](Clock::time_point, const ReportMotion&) { ++reports_; });
    monitor_->start();
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (monitor_->getSelectedDeviceIndex() < 0 && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(monitor_->getSelectedDeviceIndex(), 0);
  }
  void TearDown() override {
    monitor_.reset();
    g_failErrno = 0;
    g_failInode = 0;
    close(fds_[0]);
    close(fds_[1]);
  }

  // One motion frame written into the node, and the HID thread done with it.
  void moveMouse() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const int64_t us = now.tv_sec * 1000000LL + now.tv_nsec / 1000;
    const input_event frame[] = {ev(EV_REL, REL_X, 1, us), ev(EV_SYN, SYN_REPORT, 0, us)};
    ASSERT_EQ(write(fds_[1], frame, sizeof frame), static_cast<ssize_t>(sizeof frame));
    service_->manager()->sync();
  }
  // A report goes through; then one read of the node fails with err.
  void failOneReadWith(int err) {
    moveMouse();
    EXPECT_EQ(reports_, 1);
    g_failedReads = 0;
    g_failErrno = err;
    moveMouse();
    g_failErrno = 0;
    EXPECT_EQ(g_failedReads, 1);
  }
  // Whether the node is still read: a frame written now is reported.
  bool stillRead() {
    const int before = reports_;
    moveMouse();
    return reports_ > before;
  }

  int fds_[2] = {-1, -1};
  std::shared_ptr<OneNodeService> service_;
  std::unique_ptr<HIDMonitor> monitor_;
  std::atomic<int> reports_{0};
};

TEST_F(ReadErrors, AReadErrorEndsTheReportsWithADeviceError) {
  failOneReadWith(EIO);
  EXPECT_EQ(monitor_->getLastError().status, HIDStatus::DeviceError);
  EXPECT_FALSE(stillRead());
  EXPECT_EQ(monitor_->getMouseDevices().size(), 1u) << "listed until it is removed";
}

TEST_F(ReadErrors, AnUnpluggedMouseEndsItsReportsQuietly) {
  failOneReadWith(ENODEV);
  EXPECT_EQ(monitor_->getLastError().status, HIDStatus::Ok);
  EXPECT_FALSE(stillRead());
}

}  // namespace
