// What the real program does with its outputs when they are odd or fail:
// option values, standard output that is full, closed or a broken pipe,
// `-` for a file, a second Ctrl-C while the files are written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "QuillmarkProcess.h"

namespace fs = std::filesystem;
using clitest::Finished;
using clitest::runQuillmark;

namespace {

class CliOutputsTest : public ::testing::Test {
 protected:
  Finished run(const std::vector<std::string>& args, const std::string& mice = "1000,8000",
               const clitest::Interrupt& interrupt = {},
               const std::function<void()>& inChild = {}) {
    return runQuillmark(args, {{"TAVO_VIRTUAL_MICE", mice}}, (dir / "run").string(), interrupt,
                        inChild);
  }

  TempDir tmp;
  const fs::path dir{tmp.path()};
};

}  // namespace

TEST_F(CliOutputsTest, OptionValuesAreCheckedWithTheReasonBeforeAnyTest) {
  const std::string csv = (dir / "a.csv").string();
  const struct {
    std::vector<std::string> args;
    int status;
    const char* said;  // on stdout or stderr
  } kCases[] = {
      {{"measure", "--seconds", "nan"}, 2, "「nan」"},
      {{"measure", "--seconds", "inf"}, 2, "「inf」"},
      {{"measure", "--wait", "nan"}, 2, "「nan」"},
      {{"measure", "--seconds", "0.3"}, 2, "至少要 0.45 秒"},
      {{"measure", "--plot", "--json"}, 2, "「--json」像是一个选项"},
      {{"measure", "--intervals", ""}, 2, "文件名是空的"},
      {{"measure", "--intervals", csv, "--plot", (dir / "." / "a.csv").string()}, 2, "同一个文件"},
      {{"measure", "--json", "--plot", "-"}, 2, "标准输出"},
      {{"measure", "--seconds", "0.5", "--device", "8000"}, 4, "找不到设备「8000」"},
      {{"measure", "--device", "虚拟"}, 4, "对应 2 只鼠标"},
      {{"measure", "--plot", (dir / "no-such" / "p.svg").string()}, 1, "文件夹"},
      // A 1000 Hz mouse moved at 4,000 counts/s in steps of 2 cannot show 8000 Hz.
      {{"measure", "--seconds", "0.5", "--target", "8000", "--require-target"},
       6,
       "quillmark: 无法判断是否达到 8000 Hz：手速不足以判断：需约 16000 counts/s\n"},
      {{"measure", "--seconds", "0.5", "--target", "1000", "--require-target"}, 0, "达到目标"},
  };
  for (const auto& c : kCases) {
    const Finished f = run(c.args);
    SCOPED_TRACE(c.args.back());
    EXPECT_EQ(f.status, c.status) << f.err;
    EXPECT_NE((f.out + f.err).find(c.said), std::string::npos) << f.out << f.err;
    // Refused before the test: nothing measured, nothing written.
    if (c.status != 0 && c.status != 6) {
      EXPECT_EQ(f.err.find("请移动鼠标"), std::string::npos) << f.err;
      EXPECT_TRUE(f.out.empty()) << f.out;
    }
  }
  EXPECT_FALSE(fs::exists(csv));
}

TEST_F(CliOutputsTest, AFailedWriteToStandardOutputIsSaidAndFailsTheRun) {
  const struct {
    const char* kind;
    std::function<void()> inChild;
  } kStdouts[] = {
      {"/dev/full", [] { std::freopen("/dev/full", "w", stdout); }},
      {"closed", [] { ::close(STDOUT_FILENO); }},
      {"broken pipe",
       [] {
         int p[2];
         if (::pipe(p) == 0) {
           ::close(p[0]);
           ::dup2(p[1], STDOUT_FILENO);
           ::close(p[1]);
         }
       }},
  };
  const std::string svg = (dir / "p.svg").string();
  const std::vector<std::string> kCommands[] = {
      {"--version"},
      {"--help"},
      {"list"},
      {"list", "--json"},
      {"measure", "--seconds", "0.5", "--json", "--plot", svg},
  };
  for (const auto& s : kStdouts) {
    for (const auto& args : kCommands) {
      SCOPED_TRACE(std::string(s.kind) + " " + args.front() + " " + args.back());
      fs::remove(svg);
      const Finished f = run(args, "1000", {}, s.inChild);
      EXPECT_EQ(f.status, 1) << f.err;
      EXPECT_NE(f.err.find("无法写入标准输出"), std::string::npos) << f.err;
      // The files are written all the same.
      if (args.front() == "measure") {
        EXPECT_TRUE(fs::exists(svg));
      }
    }
  }
}

TEST_F(CliOutputsTest, ADashIsStandardOutputAndTheSummaryMovesToStderr) {
  const Finished f = run({"measure", "--seconds", "0.5", "--plot", "-"}, "1000");
  EXPECT_EQ(f.status, 0) << f.err;
  EXPECT_EQ(f.out.rfind("<?xml", 0), 0u) << f.out.substr(0, 100);
  EXPECT_NE(f.out.find("</svg>"), std::string::npos);
  EXPECT_NE(f.err.find("报告数"), std::string::npos) << f.err;
}

// The intervals go to a FIFO whose reader never reads: the write waits, and
// the user gives up with a second Ctrl-C.
TEST_F(CliOutputsTest, ASecondCtrlCWhileWritingEndsAtOnceNamingWhatWasNotWritten) {
  const std::string fifo = (dir / "fifo").string();
  const std::string svg = (dir / "p.svg").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  // 16,000 lines: more than a pipe holds.
  const Finished f = run({"measure", "--seconds", "1", "--intervals", fifo, "--plot", svg}, "16000",
                         {"请移动鼠标", 4.0, 2});
  ::close(reader);
  EXPECT_EQ(f.status, 1) << f.err;
  EXPECT_NE(f.err.find("没有写入：" + fifo + "、" + svg), std::string::npos) << f.err;
  EXPECT_FALSE(fs::exists(svg));
  EXPECT_NE(f.out.find("报告数"), std::string::npos);  // the summary came first
}
