// Linux failures in the words the banner shows: operation and node, errno
// name, its meaning; and the kind that decides the monitor's status.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "hid/service/ErrnoResult.h"
#include "hid/service/LinuxHIDService.h"
#include "hid/service/RunLoop.h"
#include "i18n/Translate.h"

using namespace hidservice;

namespace {

struct Row {
  int err;
  ResultKind kind;
  const char* text;
  const char* english;
};

TEST(ErrnoResultTest, EveryErrnoOfOpenAndReadInLinuxWords) {
  const Row rows[] = {
      {EACCES, ResultKind::NotPermitted, "open /dev/input/event7 failed: EACCES（没有读取权限）",
       "open /dev/input/event7 failed: EACCES (no permission to read)"},
      {EPERM, ResultKind::NotPermitted, "open /dev/input/event7 failed: EPERM（操作不被允许）",
       "open /dev/input/event7 failed: EPERM (operation not permitted)"},
      {EBUSY, ResultKind::Busy, "open /dev/input/event7 failed: EBUSY（设备已被其他程序独占）",
       "open /dev/input/event7 failed: EBUSY (another program holds the device exclusively)"},
      {ENOENT, ResultKind::Failed, "open /dev/input/event7 failed: ENOENT（设备节点不存在）",
       "open /dev/input/event7 failed: ENOENT (the device node does not exist)"},
      {ENODEV, ResultKind::Gone, "open /dev/input/event7 failed: ENODEV（设备已被拔出）",
       "open /dev/input/event7 failed: ENODEV (the device was unplugged)"},
      {ENXIO, ResultKind::Failed, "open /dev/input/event7 failed: ENXIO（设备不存在或已断开）",
       "open /dev/input/event7 failed: ENXIO (the device does not exist or was disconnected)"},
      {EIO, ResultKind::Failed,
       "open /dev/input/event7 failed: EIO（输入/输出错误，设备可能已断开）",
       "open /dev/input/event7 failed: EIO (input/output error; the device may have been "
       "disconnected)"},
      {EMFILE, ResultKind::Failed, "open /dev/input/event7 failed: EMFILE（本进程打开的文件过多）",
       "open /dev/input/event7 failed: EMFILE (too many open files in this process)"},
      {ENFILE, ResultKind::Failed, "open /dev/input/event7 failed: ENFILE（系统打开的文件过多）",
       "open /dev/input/event7 failed: ENFILE (too many open files in the system)"},
      {ENOMEM, ResultKind::Failed, "open /dev/input/event7 failed: ENOMEM（内存不足）",
       "open /dev/input/event7 failed: ENOMEM (out of memory)"},
  };
  for (const Row& row : rows) {
    const Result r = errnoResult("open /dev/input/event7", row.err);
    EXPECT_EQ(r.kind, row.kind) << row.text;
    EXPECT_EQ(r.code, row.err) << row.text;
    EXPECT_EQ(r.text, row.text);
    // The banner in English: the same Linux words, the meaning translated.
    i18n::initTranslation(i18n::Language::English);
    EXPECT_EQ(errnoResult("open /dev/input/event7", row.err).text, row.english);
    i18n::initTranslation(i18n::Language::Chinese);
  }
}

TEST(ErrnoResultTest, NumbersOutsideTheTableKeepTheirNameAndTheLibrarysText) {
  // The program never calls setlocale for messages, so the C library speaks English.
  EXPECT_EQ(errnoResult("read /dev/input/event3", EISDIR).text,
            "read /dev/input/event3 failed: EISDIR（Is a directory）");
  const Result unknown = errnoResult("read /dev/input/event3", 4000);
  EXPECT_EQ(unknown.kind, ResultKind::Failed);
  EXPECT_EQ(unknown.text, "read /dev/input/event3 failed: errno 4000（Unknown error 4000）");
}

TEST(ErrnoResultTest, SuccessCarriesNoText) {
  EXPECT_TRUE(Result::success().ok());
  EXPECT_TRUE(successResult().text.empty());
  EXPECT_EQ(overrunResult().kind, ResultKind::Overrun);
  EXPECT_FALSE(overrunResult().ok());
}

struct Failure {
  std::vector<Result> results;
  static void callback(void* context, const Result& result, void*, uint32_t, uint32_t, uint8_t*,
                       size_t, uint64_t) {
    static_cast<Failure*>(context)->results.push_back(result);
  }
};

TEST(ErrnoResultTest, EvdevDeviceNamesItsNodeInOpenAndReadFailures) {
  RunLoop loop;
  EvdevDevice missing(loop, "/nonexistent/event99", DeviceProperties{});
  const Result open = missing.open();
  EXPECT_EQ(open.kind, ResultKind::Failed);
  EXPECT_EQ(open.code, ENOENT);
  EXPECT_EQ(open.text, "open /nonexistent/event99 failed: ENOENT（设备节点不存在）");

  // A directory opens but refuses every read: the one failure is reported
  // once, with the node, and the node is not read again.
  const std::string dir = ::testing::TempDir();
  EvdevDevice unreadable(loop, dir, DeviceProperties{});
  ASSERT_TRUE(unreadable.open().ok());
  Failure f;
  uint8_t buffer[64];
  unreadable.registerInputReportCallback(buffer, sizeof buffer, &Failure::callback, &f);
  unreadable.drain();
  ASSERT_EQ(f.results.size(), 1u);
  EXPECT_EQ(f.results[0].kind, ResultKind::Failed);
  EXPECT_EQ(f.results[0].text, "read " + dir + " failed: EISDIR（Is a directory）");
}

}  // namespace
