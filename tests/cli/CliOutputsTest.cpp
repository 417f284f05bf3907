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

const std::string kRecording = std::string(QUILLMARK_RECORDINGS_DATA) + "/intervals.csv";

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

// Runs as an ordinary user (nobody) when the tests run as root.
void asOrdinaryUser() {
  if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) _exit(126);
}

TEST_F(CliOutputsTest, OptionValuesAreCheckedWithTheReasonBeforeAnyTest) {
  const std::string csv = (dir / "a.csv").string();
  const std::string yml = (dir / "mouse.yml").string();
  const std::string evemu = (dir / "mouse.evemu").string();
  const std::string recorded = (dir / "recorded.csv").string();
  const std::string link = (dir / "link.csv").string();
  const std::string readOnly = (dir / "ro.csv").string();
  for (const char* name : {"mouse.yml", "mouse.evemu"})
    fs::copy_file(std::string(QUILLMARK_RECORDINGS_DATA) + "/" + name, dir / name);
  fs::copy_file(std::string(QUILLMARK_RECORDINGS_DATA) + "/intervals.csv", recorded);
  fs::create_symlink("recorded.csv", link);
  writeFile(readOnly, "kept\n");
  const std::string unreadable = (dir / "unreadable.yml").string();
  fs::copy_file(std::string(QUILLMARK_RECORDINGS_DATA) + "/mouse.yml", unreadable);
  fs::permissions(unreadable, fs::perms::owner_write);
  fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(dir, fs::perms::all);  // an ordinary user may write in the folder
  const std::string inputs = readFile(yml) + readFile(evemu) + readFile(recorded);
  const struct {
    std::vector<std::string> args;
    int status;
    const char* said;  // on stdout or stderr
    bool asUser = false;
  } kCases[] = {
      {{"measure", "--seconds", "nan"}, 2, "「nan」"},
      {{"measure", "--seconds", "inf"}, 2, "「inf」"},
      {{"measure", "--wait", "nan"}, 2, "「nan」"},
      {{"measure", "--seconds", "0.3"}, 2, "至少要 0.45 秒"},
      {{"measure", "--plot", "--json"}, 2, "「--json」像是一个选项"},
      {{"measure", "--intervals", ""}, 2, "文件名是空的"},
      {{"measure", "--intervals", csv, "--plot", (dir / "." / "a.csv").string()}, 2, "同一个文件"},
      {{"measure", "--json", "--plot", "-"}, 2, "标准输出"},
      {{"measure", "--brief", "--json"}, 2, "--brief 只打印一行，不能与 --json 或 --details 同用"},
      {{"analyze", "x.csv", "--json", "--details"},
       2,
       "--details 是文字汇总的，不能与 --json 同用"},
      {{"measure", "--seconds", "0.5", "--device", "8000"},
       4,
       "找不到序号为 8000 的鼠标：纯数字是"},
      {{"measure", "--device", "8000"}, 4, "名称含「8000」的鼠标：序号 1  虚拟鼠标 8000 Hz"},
      {{"measure", "--device", "7"}, 4, "现有的鼠标："},
      {{"measure", "--device", "虚拟"}, 4, "对应 2 只鼠标"},
      {{"measure", "--plot", (dir / "no-such" / "p.svg").string()}, 1, "文件夹"},
      // A 1000 Hz mouse moved at 4,000 counts/s, 4 counts a report: the hand
      // allowed 4000 Hz, so the mouse is judged, and falls short of 8000.
      {{"measure", "--seconds", "0.7", "--target", "8000", "--require-target"},
       6,
       "判定        鼠标或其连接未达到目标：1000 Hz，目标 8000 Hz（指定）\n"},
      {{"measure", "--seconds", "0.7", "--target", "1000", "--require-target"},
       0,
       "判定        达到目标：1000 Hz，目标 1000 Hz（指定）\n"},
      // Half a second of motion is too little to judge: unknown fails --require-target.
      {{"measure", "--seconds", "0.45", "--target", "1000", "--require-target"},
       6,
       "quillmark: 无法判断是否达到 1000 Hz：测试太短，无法判断\n"},
      {{"measure", "--intervals", link, "--plot", recorded}, 2, "同一个文件"},
      {{"measure", "--seconds", "0.5", "--intervals", readOnly}, 1, "EACCES（没有写入权限）", true},
      {{"analyze", "-dash.csv"}, 2, "设备序号应为从 0 数起的整数"},
      {{"analyze", yml, "--device", "-1"}, 2, "「-1」像是一个选项"},
      {{"analyze", yml, "--device", "99999999999"}, 2, "超出范围"},
      {{"analyze", yml, "--plot", "--json"}, 2, "「--json」像是一个选项"},
      {{"analyze", yml, "--plot", ""}, 2, "文件名是空的"},
      {{"analyze", yml, "--plot", yml}, 2, "--plot 指向要读取的文件"},
      {{"analyze", link, "--intervals", recorded}, 2, "--intervals 指向要读取的文件"},
      {{"analyze", recorded, "--intervals", csv, "--plot", (dir / "." / "a.csv").string()},
       2,
       "同一个文件"},
      {{"analyze", recorded, "--intervals", readOnly}, 1, "EACCES（没有写入权限）", true},
      {{"analyze", unreadable}, 8, "无法打开：EACCES（没有读取权限）", true},
      {{"compare", evemu, unreadable}, 8, "无法打开：EACCES（没有读取权限）", true},
      {{"compare", evemu, yml, "--plot", evemu}, 2, "--plot 指向要读取的文件"},
      {{"compare", evemu, yml, "--plot", "--json"}, 2, "「--json」像是一个选项"},
      {{"compare", evemu, yml, "--plot", readOnly}, 1, "EACCES（没有写入权限）", true},
  };
  for (const auto& c : kCases) {
    const Finished f = run(c.args, "1000,8000", {}, c.asUser ? asOrdinaryUser : nullptr);
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
  // No input, nor a result file made read-only, was replaced.
  EXPECT_EQ(readFile(yml) + readFile(evemu) + readFile(recorded), inputs);
  EXPECT_EQ(readFile(readOnly), "kept\n");
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
      {"analyze", kRecording},
      {"analyze", kRecording, "--json"},
      {"compare", kRecording, kRecording},
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

// Reading files has nothing to finish: analyze and compare end on the first
// signal, with one line and 128 + its number, and leave no file behind. A
// FIFO nobody writes to stands for any long read.
TEST_F(CliOutputsTest, AnalyzeAndCompareEndOnTheFirstSignal) {
  const std::string fifo = (dir / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string csv = (dir / "out.csv").string();
  const std::string svg = (dir / "out.svg").string();
  const struct {
    std::vector<std::string> args;
    int signal;
    int status;
    const char* said;
  } kCases[] = {
      {{"analyze", fifo, "--intervals", csv, "--plot", svg}, SIGINT, 130, "已中断（SIGINT）"},
      {{"analyze", fifo, "--json"}, SIGTERM, 143, "已中断（SIGTERM）"},
      {{"compare", kRecording, fifo, "--plot", svg}, SIGHUP, 129, "已中断（SIGHUP）"},
      {{"compare", fifo, kRecording}, SIGTERM, 143, "已中断（SIGTERM）"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.said);
    clitest::Interrupt stop;
    stop.fromStart = true;
    stop.afterSeconds = 0.5;
    stop.signal = c.signal;
    const Finished f = run(c.args, "1000", stop);
    EXPECT_EQ(f.status, c.status) << f.err;
    EXPECT_EQ(f.err, std::string("quillmark: ") + c.said + "，没有写完的文件已删除\n");
    EXPECT_EQ(f.out, "");
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir)) left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"fifo"});
  }
}
