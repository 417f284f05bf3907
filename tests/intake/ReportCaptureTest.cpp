#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <thread>

#include "TestFiles.h"
#include "hid/intake/ReportCapture.h"
#include "i18n/Translate.h"

namespace {

using namespace std::chrono_literals;

class CaptureTest : public ::testing::Test {
 protected:
  ~CaptureTest() override {
    std::fclose(console_);
    std::free(consoleText_);
  }

  std::string console() {
    std::fflush(console_);
    return std::string(consoleText_, consoleSize_);
  }

  // Starts recording into out.csv with the given TAVO_CAPTURE_SECONDS (null: unset).
  void start(const char* seconds = nullptr, const std::string& device = "Mouse A") {
    env["TAVO_CAPTURE"] = out;
    if (seconds) env["TAVO_CAPTURE_SECONDS"] = seconds;
    capture.maybeStart(device);
  }

  void addAt(std::chrono::nanoseconds t, unsigned id, const std::string& bytes) {
    now = t;
    capture.add(id, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  }

  static std::string startLine(const std::string& path, const char* seconds) {
    return std::string("[采集] 开始记录原始 HID 报告 -> ") + path + "（" + seconds + " 秒）\n";
  }
  static std::string writtenLine(size_t n, const std::string& path) {
    return "[采集] 已写出 " + std::to_string(n) + " 条报告 -> " + path + "\n";
  }
  static std::string openFailedLine(const std::string& path, const char* reason) {
    return "[采集] 打不开输出文件: " + path + "（" + reason + "）\n";
  }
  static std::string writeFailedLine(const std::string& path, const char* reason) {
    return "[采集] 写入输出文件失败: " + path + "（" + reason + "）\n";
  }

  // The file of a capture that ended is written by the capture's own thread.
  void waitForFile() { ASSERT_TRUE(capture.waitForFile(std::chrono::minutes(2))); }

  // `count` one-byte reports 50 us apart: about 27 bytes of file each.
  void addMany(size_t count) {
    const unsigned char byte = 0;
    for (size_t i = 0; i < count; ++i) {
      now += 50us;
      capture.add(1, &byte, 1);
    }
  }

  TempDir dir;
  std::string out = dir.file("out.csv");
  std::map<std::string, std::string> env;
  std::chrono::nanoseconds now = 7'000s;
  char* consoleText_ = nullptr;
  size_t consoleSize_ = 0;
  std::FILE* console_ = open_memstream(&consoleText_, &consoleSize_);
  ReportCapture capture{[this](const char* name) -> const char* {
                          auto it = env.find(name);
                          return it == env.end() ? nullptr : it->second.c_str();
                        },
                        [this] { return ReportCapture::Clock::time_point(now); }, console_};
};

// --- file format and hash ---------------------------------------------------

TEST_F(CaptureTest, FileHoldsHeaderAndOneLinePerSampleRelativeToTheFirst) {
  writeFile(out, std::string(5000, 'x'));  // an older, longer file is replaced
  start();
  addAt(5'000'000'000'999ns, 1, "abc");
  addAt(5'000'001'500'000ns, 0, "");
  addAt(5'000'002'000'999ns, 4294967295u, std::string("\x0e\x33\x00", 3));
  capture.stop();

  EXPECT_EQ(readFile(out),
            "# TAVO raw HID report capture\n"
            "# device=Mouse A\n"
            "# samples=3\n"
            "# t_us,report_id,len,hash\n"
            "0,1,3,e16801510db89efd\n"
            "1500,0,0,14650fb0739d0383\n"
            "2000,4294967295,3,000f414f6bc7ce44\n");
  EXPECT_EQ(console(), startLine(out, "30") + writtenLine(3, out));
}

TEST_F(CaptureTest, LineBreaksInTheDeviceNameDoNotBreakTheHeader) {
  start(nullptr, "Evil\nMouse\r");
  addAt(1s, 0, "");
  capture.stop();
  EXPECT_EQ(readFile(out),
            "# TAVO raw HID report capture\n# device=Evil Mouse \n# samples=1\n"
            "# t_us,report_id,len,hash\n0,0,0,14650fb0739d0383\n");
}

// The console lines in English: the tag and the words translated, the path
// and figures as they are.
TEST_F(CaptureTest, ConsoleLinesFollowTheLanguage) {
  i18n::initTranslation(i18n::Language::English);
  start("2");
  addAt(1s, 1, "a");
  capture.stop();
  const std::string missing = dir.file("missing/out.csv");
  ReportCapture other(
      [&](const char* name) {
        return std::string(name) == "TAVO_CAPTURE" ? missing.c_str() : nullptr;
      },
      [] { return ReportCapture::Clock::time_point(1s); }, console_);
  other.maybeStart("Mouse B");
  other.add(1, reinterpret_cast<const unsigned char*>("b"), 1);
  other.stop();
  i18n::initTranslation(i18n::Language::Chinese);
  EXPECT_EQ(console(), "[capture] Recording raw HID reports -> " + out + " (2 s)\n" +
                           "[capture] Reports written: 1 -> " + out + "\n" +
                           "[capture] Recording raw HID reports -> " + missing + " (30 s)\n" +
                           "[capture] Cannot open the output file: " + missing +
                           " (No such file or directory)\n");
}

// --- start rules --------------------------------------------------------------

TEST_F(CaptureTest, WithoutTheVariableOrWithItEmptyNothingStarts) {
  capture.maybeStart("Mouse A");
  capture.stop();
  env["TAVO_CAPTURE"] = "";
  capture.maybeStart("Mouse A");
  addAt(1s, 1, "abc");
  capture.stop();

  EXPECT_FALSE(capture.recording);
  EXPECT_FALSE(capture.finished);
  EXPECT_TRUE(capture.samples.empty());
  EXPECT_EQ(console(), "");
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(CaptureTest, OnlyTheFirstStartCountsAndTheHeaderNamesItsDevice) {
  start(nullptr, "First mouse");
  capture.maybeStart("Second mouse");
  addAt(1s, 2, "x");
  capture.stop();
  EXPECT_NE(readFile(out).find("# device=First mouse\n"), std::string::npos);

  // Finished is final: a new arrival or restarted test records nothing more.
  const std::string written = readFile(out);
  capture.maybeStart("Third mouse");
  addAt(2s, 2, "y");
  capture.stop();
  EXPECT_FALSE(capture.recording);
  EXPECT_EQ(readFile(out), written);
  EXPECT_EQ(console(), startLine(out, "30") + writtenLine(1, out));
}

TEST_F(CaptureTest, AnUnopenableFileEndsTheCaptureForGood) {
  out = dir.file("missing/out.csv");
  start();
  addAt(1s, 1, "a");
  capture.stop();
  capture.maybeStart("Mouse A");

  EXPECT_TRUE(capture.finished);
  EXPECT_FALSE(capture.recording);
  EXPECT_TRUE(capture.samples.empty());
  EXPECT_EQ(console(), startLine(out, "30") + openFailedLine(out, "No such file or directory"));
}

// --- duration -------------------------------------------------------------------

struct SecondsCase {
  const char* text;
  double seconds;
};

class CaptureSecondsTest : public CaptureTest, public ::testing::WithParamInterface<SecondsCase> {};

// Decimal seconds only, as every number the program reads; anything else
// falls back to 30 s, named on the console.
TEST_P(CaptureSecondsTest, TakesDecimalSecondsOrFallsBack) {
  start(GetParam().text);
  EXPECT_TRUE(capture.recording);
  EXPECT_EQ(capture.durationSeconds, GetParam().seconds);
  const bool named = console().find("[采集] TAVO_CAPTURE_SECONDS 应为") != std::string::npos;
  EXPECT_EQ(named, GetParam().seconds == 30) << console();
}

const std::string kLongNumber(400, '9');

INSTANTIATE_TEST_SUITE_P(
    Values, CaptureSecondsTest,
    ::testing::Values(SecondsCase{"10", 10}, SecondsCase{"2.5", 2.5}, SecondsCase{"010", 10},
                      SecondsCase{"10s", 30}, SecondsCase{" 7", 30}, SecondsCase{"0x10", 30},
                      SecondsCase{"0", 30}, SecondsCase{"-3", 30}, SecondsCase{"abc", 30},
                      SecondsCase{"", 30}, SecondsCase{"nan", 30}, SecondsCase{"-inf", 30},
                      SecondsCase{"inf", 30}, SecondsCase{"1e300", 30},
                      SecondsCase{kLongNumber.c_str(), ReportCapture::kMaxSeconds}));

TEST_F(CaptureTest, DurationCountsFromTheFirstReportAndItsLastReportIsKept) {
  start("10");
  addAt(100s, 1, "a");  // the clock starts here, not at maybeStart
  addAt(100s + 9'999'999us, 1, "b");
  EXPECT_TRUE(capture.recording);
  addAt(110s, 3, "c");

  EXPECT_FALSE(capture.recording);
  EXPECT_TRUE(capture.finished);
  waitForFile();
  const std::string file = readFile(out);
  EXPECT_NE(file.find("# samples=3\n"), std::string::npos);
  EXPECT_NE(file.find("\n10000000,3,1,"), std::string::npos);
  EXPECT_EQ(console(), startLine(out, "10") + writtenLine(3, out));
}

TEST_F(CaptureTest, HugeDurationsConvertSafelyAndNeverEndByTime) {
  start(kLongNumber.c_str());
  EXPECT_EQ(console(), startLine(out, "18000000000000"));
  addAt(1s, 1, "a");
  addAt(std::chrono::nanoseconds(INT64_MAX), 1, "b");  // ~292 years later
  EXPECT_TRUE(capture.recording);
  capture.stop();
  EXPECT_NE(readFile(out).find("# samples=2\n"), std::string::npos);
}

// The storage never moves while reports arrive: a copy of it on the HID
// thread would outlast the kernel's event buffer.
TEST_F(CaptureTest, TheMillionthReportEndsTheCaptureAndIsInTheFile) {
  start();
  const unsigned char byte = 0;
  const ReportCapture::Sample* storage = nullptr;
  for (size_t i = 1; i < ReportCapture::kSampleLimit; ++i) {
    now += 10us;
    capture.add(1, &byte, 1);
    if (i == 1) storage = capture.samples.data();
  }
  EXPECT_TRUE(capture.recording);
  EXPECT_EQ(capture.samples.data(), storage);
  EXPECT_LE(capture.samples.capacity(), ReportCapture::kSampleLimit);
  addAt(now + 10us, 7, "z");

  EXPECT_FALSE(capture.recording);
  EXPECT_EQ(capture.samples.capacity(), 0u);  // storage handed over
  waitForFile();
  const std::string file = readFile(out);
  EXPECT_NE(file.find("# samples=1000000\n"), std::string::npos);
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 1'000'004);
  const std::string last = "9999990,7,1,";
  EXPECT_EQ(file.compare(file.size() - last.size() - 17, last.size(), last), 0);
}

// --- write at stop ------------------------------------------------------------

TEST_F(CaptureTest, StopWritesWhatWasRecordedOnce) {
  start();
  addAt(1s, 1, "a");
  capture.stop();
  EXPECT_NE(readFile(out).find("# samples=1\n"), std::string::npos);

  writeFile(out, "untouched");
  capture.stop();
  EXPECT_EQ(readFile(out), "untouched");
  EXPECT_EQ(console(), startLine(out, "30") + writtenLine(1, out));
}

// A run that captured nothing (a window closed before any test, a failed
// measure) keeps the capture file a previous run left.
TEST_F(CaptureTest, NothingCapturedLeavesAnEarlierFileAsItWas) {
  writeFile(out, "an earlier capture\n");
  start();
  capture.stop();
  EXPECT_EQ(readFile(out), "an earlier capture\n");
  EXPECT_TRUE(capture.finished);
  EXPECT_EQ(console(), startLine(out, "30") + "[采集] 没有记录到报告，未写出 " + out + "\n");
}

TEST_F(CaptureTest, AFailedWriteIsReportedAsAFailure) {
  out = "/dev/full";
  start();
  addAt(1s, 1, "abc");
  capture.stop();

  EXPECT_TRUE(capture.finished);
  EXPECT_EQ(console(), startLine(out, "30") +
                           "[采集] 写入输出文件失败: /dev/full（No space left on device）\n");
}

// --- targets that would block or cannot take the file ----------------------------

// Runs `step` on a thread of its own. A step still blocked after a long grace
// period is a fault: `unblock` then frees it so the test can end, and the
// result is false.
bool returnsWithoutBlocking(const std::function<void()>& step,
                            const std::function<void()>& unblock) {
  std::packaged_task<void()> task(step);
  std::future<void> done = task.get_future();
  std::thread runner(std::move(task));
  const bool returned = done.wait_for(std::chrono::seconds(15)) == std::future_status::ready;
  if (!returned) unblock();
  runner.join();
  return returned;
}

// Reads a FIFO until every writer has closed it.
void drainToEnd(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  char buf[65536];
  while (::read(fd, buf, sizeof buf) > 0) {
  }
}

class CaptureTargetTest : public CaptureTest {
 protected:
  ~CaptureTargetTest() override {
    if (reader >= 0) ::close(reader);
  }
  void makeFifo() {
    out = dir.file("fifo");
    ASSERT_EQ(::mkfifo(out.c_str(), 0600), 0);
  }
  void openReader() { reader = ::open(out.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }
  int reader = -1;
};

TEST_F(CaptureTargetTest, AFifoWithoutAReaderFailsAtOnceWithItsReason) {
  makeFifo();
  start();
  addAt(1s, 1, "a");
  // Were the open to wait for a reader, a reader arriving frees it.
  EXPECT_TRUE(returnsWithoutBlocking([&] { capture.stop(); }, [&] { openReader(); }));
  EXPECT_TRUE(capture.finished);
  EXPECT_EQ(console(), startLine(out, "30") + openFailedLine(out, "No such device or address"));
}

TEST_F(CaptureTargetTest, ADirectoryIsRefusedWithItsReason) {
  out = dir.path();
  start();
  addAt(1s, 1, "a");
  capture.stop();
  EXPECT_EQ(console(), startLine(out, "30") + openFailedLine(out, "Is a directory"));
}

// The report that ends the capture returns although nobody reads the file;
// the writer gives up once the reader has taken nothing for a while.
TEST_F(CaptureTargetTest, AReaderThatStopsReadingNeitherHoldsUpReportsNorHangsTheWrite) {
  makeFifo();
  openReader();
  ASSERT_GE(reader, 0);
  start("1");
  EXPECT_TRUE(returnsWithoutBlocking([&] { addMany(20'001); }, [&] { drainToEnd(reader); }));
  EXPECT_FALSE(capture.recording);

  // The reader takes the first few kilobytes, then stops.
  pollfd p{reader, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 60'000), 1);
  char head[4096];
  EXPECT_GT(::read(reader, head, sizeof head), 0);
  waitForFile();
  EXPECT_EQ(console(),
            startLine(out, "1") + writeFailedLine(out, "Resource temporarily unavailable"));
}

TEST_F(CaptureTargetTest, ASlowReaderStillGetsTheWholeFile) {
  makeFifo();
  openReader();
  ASSERT_GE(reader, 0);
  // Keeps the reader from seeing an end before the capture's writer opens.
  const int keepOpen = ::open(out.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  std::string received;
  std::thread slowReader([&] {
    ::fcntl(reader, F_SETFL, ::fcntl(reader, F_GETFL) & ~O_NONBLOCK);
    char buf[8192];
    ssize_t n = 0;
    while ((n = ::read(reader, buf, sizeof buf)) > 0) {
      received.append(buf, static_cast<size_t>(n));
      std::this_thread::sleep_for(2ms);
    }
  });
  start("1");
  addMany(20'001);
  waitForFile();
  ::close(keepOpen);
  slowReader.join();
  EXPECT_EQ(std::count(received.begin(), received.end(), '\n'), 20'001 + 4);
  EXPECT_NE(received.find("# samples=20001\n"), std::string::npos);
  EXPECT_EQ(console(), startLine(out, "1") + writtenLine(20'001, out));
}

// Quitting while the file cannot be written ends the write instead of waiting.
TEST_F(CaptureTargetTest, StopCancelsAWriteThatCannotFinish) {
  makeFifo();
  openReader();
  ASSERT_GE(reader, 0);
  start();
  addMany(20'000);
  EXPECT_TRUE(returnsWithoutBlocking([&] { capture.stop(); }, [&] { drainToEnd(reader); }));
  waitForFile();
  EXPECT_EQ(console(), startLine(out, "30") + writeFailedLine(out, "Operation canceled"));
}

}  // namespace
