// What the real program does with its outputs when they are odd or fail:
// option values, standard output that is full, closed or a broken pipe,
// `-` for a file, a second Ctrl-C while the files are written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>

#include "CjkText.h"
#include "QuillmarkProcess.h"

namespace fs = std::filesystem;
using clitest::Finished;
using clitest::runQuillmark;

namespace {

const std::string kRecording = std::string(QUILLMARK_RECORDINGS_DATA) + "/intervals.csv";

class CliOutputsTest : public ::testing::Test {
 protected:
  Finished run(const std::vector<std::string>& args, const std::string& mice = "1000,8000",
               const clitest::Interrupt& interrupt = {}, const std::function<void()>& inChild = {},
               const std::string& program = QUILLMARK_BIN,
               std::vector<std::pair<std::string, std::string>> env = {}) {
    env.emplace_back("TAVO_VIRTUAL_MICE", mice);
    return runQuillmark(args, env, (dir / "run").string(), interrupt, inChild, program);
  }

  // Why an ordinary user cannot run what is in the scratch folder (a folder
  // on the way it may not enter, as a home folder of mode 0700); empty when
  // it can.
  std::string unreachable() const {
    for (fs::path p = dir; !p.empty() && p != p.root_path(); p = p.parent_path()) {
      struct stat st {};
      if (::stat(p.c_str(), &st) != 0 || (st.st_mode & S_IXOTH) == 0)
        return "others may not enter " + p.string();
    }
    return {};
  }

  // The program copied where an ordinary user can run it: the build tree
  // may lie in a folder only its owner can enter.
  std::string programForUser() {
    const fs::path copy = dir / "bin" / "quillmark";
    if (!fs::exists(copy)) {
      fs::create_directories(copy.parent_path());
      fs::copy_file(QUILLMARK_BIN, copy);
      fs::permissions(copy.parent_path(), fs::perms::all);
    }
    return copy.string();
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
  const std::string why = ::geteuid() == 0 ? unreachable() : std::string();
  if (!why.empty()) std::printf("rows as an ordinary user skipped: %s\n", why.c_str());
  const struct {
    std::vector<std::string> args;
    int status;
    std::string said;  // on stdout or stderr
    bool asUser = false;
  } kCases[] = {
      {{"measure", "--seconds", "nan"}, 2, "「nan」"},
      {{"measure", "--seconds", "inf"}, 2, "「inf」"},
      {{"measure", "--wait", "nan"}, 2, "「nan」"},
      {{"measure", "--seconds", "0.3"}, 2, "至少要 0.45 秒"},
      {{"measure", "--seconds", "0x10"}, 2, "「0x10」不是十进制数"},
      {{"measure", "--wait", "1e1"}, 2, "「1e1」不是十进制数"},
      {{"measure", "--target", "0x3e8"}, 2, "「0x3e8」不是十进制整数"},
      {{"measure", "--target", "1000.0"}, 2, "「1000.0」不是整数"},
      {{"measure", "--seconds", std::string(100'000, '7') + "x"},
       2,
       "「" + std::string(79, '7') + "…」不是一个数"},
      {{"measure", "--seconds", "0.5", "--target", "01000"}, 0, "目标 1000 Hz，指定"},
      {{"measure", "--target", std::string(3000, '9')}, 2, std::string(79, '9') + "…"},
      {{"measure", "--device", std::string(3000, '9')}, 4, std::string(79, '9') + "…"},
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
      // 4000 counts/s at 1000 CPI: 4 in/s, 10.16 cm/s.
      {{"measure", "--seconds", "0.7", "--cpi", "1000"},
       0,
       "counts/s（1000 CPI：p50 10.2 cm/s）\n"},
      {{"measure", "--cpi", "0"}, 2, "--cpi：CPI 须是 1–100000 之间的数，不能是「0」"},
      {{"measure", "--cpi", "1e3"}, 2, "不能是「1e3」"},
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
    if (c.asUser && !why.empty()) continue;
    const Finished f = run(c.args, "1000,8000", {}, c.asUser ? asOrdinaryUser : nullptr,
                           c.asUser ? programForUser() : QUILLMARK_BIN);
    SCOPED_TRACE(c.args.back().substr(0, 80));
    EXPECT_LT(f.err.size(), 2000u);
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

namespace {

// A file's content and inode, to tell kept from rewritten or replaced.
struct Kept {
  std::string content;
  ino_t inode = 0;
};
Kept keptOf(const fs::path& p) {
  struct stat st {};
  ::stat(p.c_str(), &st);
  return {readFile(p), st.st_ino};
}

}  // namespace

// No option names, as an output, a file the command reads, by any name:
// the CSV beside a result JSON, the JSON beside a CSV, a result folder's
// files, a link to one of them, the raw capture of measure.
TEST_F(CliOutputsTest, AFileTheCommandReadsIsNeverAnOutput) {
  const std::string csv = readFile(kRecording);
  fs::create_directories(dir / "f");
  fs::create_directories(dir / "g");
  for (const char* name : {"r.csv", "f/intervals.csv", "g/intervals.csv"})
    writeFile(dir / name, csv);
  for (const char* name : {"r.json", "f/result.json", "g/s.json"}) writeFile(dir / name, "{}\n");
  fs::create_symlink("r.csv", dir / "link.csv");
  const auto p = [&](const char* name) { return (dir / name).string(); };
  const std::string reading = "指向要读取的文件，不能覆盖它：";
  const struct {
    std::vector<std::string> args;
    std::string said;
    std::string capture = {};  // TAVO_CAPTURE
  } kCases[] = {
      {{"analyze", p("r.json"), "--plot", p("r.csv")}, "--plot " + reading + p("r.csv")},
      {{"analyze", p("r.json"), "--intervals", p("r.csv")}, "--intervals " + reading},
      {{"analyze", p("r.csv"), "--plot", p("r.json")}, "--plot " + reading + p("r.json")},
      {{"analyze", p("r.csv"), "--intervals", p("r.json")}, "--intervals " + reading},
      {{"analyze", p("f"), "--intervals", p("f/result.json")}, "--intervals " + reading},
      {{"analyze", p("f"), "--plot", p("f/intervals.csv")}, "--plot " + reading},
      {{"analyze", p("f/result.json"), "--plot", p("f/intervals.csv")}, "--plot " + reading},
      {{"analyze", p("f/intervals.csv"), "--plot", p("f/result.json")}, "--plot " + reading},
      {{"analyze", p("r.json"), "--plot", p("link.csv")}, "--plot " + reading},
      {{"analyze", p("g/s.json"), "--intervals", p("g/intervals.csv")}, "--intervals " + reading},
      {{"compare", p("r.json"), kRecording, "--plot", p("r.csv")}, "--plot " + reading},
      {{"compare", kRecording, p("f"), "--plot", p("f/result.json")}, "--plot " + reading},
      {{"compare", p("r.csv"), kRecording, "--plot", p("r.json")}, "--plot " + reading},
      {{"measure", "--intervals", p("r.csv")},
       "--intervals 和 TAVO_CAPTURE 是同一个文件",
       p("r.csv")},
      {{"measure", "--plot", p("link.csv")}, "--plot 和 TAVO_CAPTURE 是同一个文件", p("r.csv")},
  };
  std::vector<std::pair<fs::path, Kept>> files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) files.emplace_back(e.path(), keptOf(e.path()));
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.args[1] + " " + c.args[2] + " " + c.args.back());
    const Finished f =
        run(c.args, "1000", {}, {}, QUILLMARK_BIN,
            c.capture.empty()
                ? std::vector<std::pair<std::string, std::string>>{}
                : std::vector<std::pair<std::string, std::string>>{{"TAVO_CAPTURE", c.capture}});
    EXPECT_EQ(f.status, 2) << f.err;
    EXPECT_EQ(f.err.rfind("quillmark: " + c.said, 0), 0u) << f.err;
    EXPECT_EQ(f.out, "");
  }
  for (const auto& [path, kept] : files) {
    const Kept now = keptOf(path);
    EXPECT_EQ(now.content, kept.content) << path;
    EXPECT_EQ(now.inode, kept.inode) << path;
  }
}

// /dev/stdout, /dev/fd/1, /proc/self/fd/1, or the very file standard output
// is: written where standard output stands (a file appended to, a pipe, a
// terminal), never replaced; beside --json or "-" a usage error.
TEST_F(CliOutputsTest, StandardOutputByNameIsStandardOutput) {
  const std::string log = (dir / "log.txt").string();
  const std::string fifo = (dir / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  enum class Out { File, Pipe, Terminal };
  const struct {
    Out out;
    std::vector<std::string> args;
    int status;
    const char* said;  // on stdout, or stderr for a failure
  } kCases[] = {
      {Out::File, {"--intervals", "/dev/stdout"}, 0, "keep\nt_us,interval_us"},
      {Out::File, {"--intervals", "/proc/self/fd/1"}, 0, "keep\nt_us,interval_us"},
      {Out::File, {"--intervals", log}, 0, "keep\nt_us,interval_us"},
      {Out::File, {"--json", "--intervals", "/dev/fd/1"}, 2, "--json 的结果已经写到标准输出"},
      {Out::File, {"--intervals", "/dev/stdout", "--plot", "-"}, 2, "是同一个文件"},
      {Out::File,
       {"measure", "--seconds", "0.5", "--intervals", "/proc/self/fd/1"},
       0,
       "keep\nt_us,interval_us"},
      {Out::File, {"compare", kRecording, kRecording, "--plot", "/dev/stdout"}, 0, "keep\n<?xml"},
      {Out::Pipe, {"--intervals", "/dev/stdout"}, 0, "t_us,interval_us"},
      {Out::Pipe, {"--intervals", "/proc/self/fd/1"}, 0, "t_us,interval_us"},
      {Out::Pipe, {"--json", "--plot", "/dev/fd/1"}, 2, "--json 的结果已经写到标准输出"},
      {Out::Terminal, {"--intervals", "/dev/fd/1"}, 0, "t_us,interval_us"},
      {Out::Terminal, {"--intervals", "/dev/stdout"}, 0, "t_us,interval_us"},
      {Out::Terminal, {"--json", "--intervals", "/proc/self/fd/1"}, 2, "--json 的结果已经写到"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.out)) + " " + c.args.back());
    writeFile(log, "keep\n");
    const ino_t inode = keptOf(log).inode;
    int reader = -1, master = -1, slave = -1;
    if (c.out == Out::Pipe) reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    if (c.out == Out::Terminal) {
      ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
      ::fcntl(master, F_SETFL, O_NONBLOCK);
    }
    // Rows for analyze give only its options.
    std::vector<std::string> args = c.args;
    if (!c.args.front().starts_with("measure") && !c.args.front().starts_with("compare"))
      args.insert(args.begin(), {"analyze", kRecording});
    const Finished f = run(args, "1000", {}, [&] {
      const int fd = c.out == Out::File   ? ::open(log.c_str(), O_WRONLY | O_APPEND)
                     : c.out == Out::Pipe ? ::open(fifo.c_str(), O_WRONLY)
                                          : slave;
      ::dup2(fd, STDOUT_FILENO);
    });
    std::string out = c.out == Out::File ? readFile(log) : f.out;
    for (const int fd : {reader, master}) {
      char buf[65536];
      for (ssize_t n; fd >= 0 && (n = ::read(fd, buf, sizeof buf)) > 0;) out.append(buf, n);
    }
    for (const int fd : {reader, master, slave})
      if (fd >= 0) ::close(fd);
    EXPECT_EQ(f.status, c.status) << f.err;
    EXPECT_NE((c.status == 0 ? out : f.err).find(c.said), std::string::npos) << out << f.err;
    EXPECT_EQ(keptOf(log).inode, inode);
    EXPECT_EQ(fs::exists(log), true);
  }
}

// As root, a link another user put in a sticky folder anyone may write to is
// not followed (the kernel would not either); a link of root's own is.
TEST_F(CliOutputsTest, ALinkPlantedInASharedFolderIsNotFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to plant a link as another user";
  fs::permissions(dir, fs::perms::all);
  if (const std::string why = unreachable(); !why.empty()) GTEST_SKIP() << why;
  const fs::path shared = dir / "st";
  fs::create_directory(shared);
  fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
  const std::string victim = (dir / "victim").string();
  writeFile(victim, "victim\n");
  const Kept before = keptOf(victim);
  const std::string planted = (shared / "x.csv").string();
  // And a link to a folder, named as measure's --out.
  const fs::path victimFolder = dir / "victim-folder";
  fs::create_directory(victimFolder);
  const std::string plantedFolder = (shared / "out").string();
  const pid_t pid = ::fork();
  if (pid == 0) {
    asOrdinaryUser();
    _exit(::symlink(victim.c_str(), planted.c_str()) == 0 &&
                  ::symlink(victimFolder.c_str(), plantedFolder.c_str()) == 0
              ? 0
              : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_EQ(status, 0);
  const std::string own = (shared / "own.csv").string();
  fs::create_symlink(dir / "target.csv", own);
  const std::string ownFolder = (shared / "own-out").string();
  fs::create_symlink(dir / "own-folder", ownFolder);
  fs::create_directory(dir / "own-folder");
  const struct {
    std::string link;
    int status;
    std::string said;
    std::string lang;
    bool folder = false;  // named as measure's --out
  } kCases[] = {
      {planted, 1, "无法写入 " + planted + "：这是别的用户放在公共文件夹里的符号链接",
       "zh_CN.UTF-8"},
      {planted, 1, "Cannot write " + planted + ": a symbolic link another user put", "en_US.UTF-8"},
      {own, 0, "已写入 " + own, "zh_CN.UTF-8"},
      {plantedFolder, 1,
       "没有保存结果：无法创建文件夹 " + plantedFolder + "：这是别的用户放在公共文件夹里的符号链接",
       "zh_CN.UTF-8", true},
      {ownFolder, 0, "已保存到 " + ownFolder + "/", "zh_CN.UTF-8", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.link + " " + c.lang);
    const std::vector<std::string> args =
        c.folder ? std::vector<std::string>{"measure", "--seconds", "0.5", "--out", c.link}
                 : std::vector<std::string>{"analyze", kRecording, "--intervals", c.link};
    const Finished f = run(args, "1000", {}, {}, QUILLMARK_BIN,
                           {{"LANG", c.lang}, {"LANGUAGE", ""}, {"LC_ALL", ""}});
    EXPECT_EQ(f.status, c.status) << f.err;
    EXPECT_NE(f.err.find(c.said), std::string::npos) << f.err;
    if (c.lang.starts_with("en")) {
      EXPECT_EQ(firstCjk(f.err), "") << f.err;
    }
  }
  EXPECT_EQ(keptOf(victim).content, before.content);
  EXPECT_EQ(keptOf(victim).inode, before.inode);
  EXPECT_EQ(readFile((dir / "target.csv").string()).rfind("t_us,interval_us", 0), 0u);
  EXPECT_TRUE(fs::is_empty(victimFolder));
  EXPECT_FALSE(fs::is_empty(dir / "own-folder"));
}

// Two quit signals 0-50 ms apart at random moments: no temporary file is
// left, and each output is its old self or the whole new one; a command
// interrupted after replacing a file names it.
TEST_F(CliOutputsTest, TwoSignalsLeaveOldFilesOrWholeNewOnes) {
  std::string big = "t_us,interval_us\n";
  for (int i = 0; i < 200'000; ++i) big += std::to_string(i * 125) + ".000,\n";
  const std::string input = (dir / "big.csv").string();
  writeFile(input, big);
  const std::string csv = (dir / "out.csv").string();
  const std::string svg = (dir / "out.svg").string();
  std::mt19937 rng(std::random_device{}());
  std::uniform_real_distribution<double> gap(0.0, 0.05);
  const struct {
    std::vector<std::string> args;
    double from, to;  // seconds after the start (measure: after its prompt)
    int runs;
  } kCommands[] = {
      {{"analyze", input, "--intervals", csv, "--plot", svg}, 0.0, 1.5, 14},
      {{"measure", "--seconds", "0", "--intervals", csv, "--plot", svg}, 0.3, 1.0, 6},
  };
  for (const auto& c : kCommands) {
    for (int i = 0; i < c.runs; ++i) {
      writeFile(csv, "old\n");
      writeFile(svg, "old\n");
      clitest::Interrupt stop;
      stop.fromStart = c.args.front() == "analyze";
      stop.whenErrHas = stop.fromStart ? "" : "请移动鼠标";
      stop.afterSeconds = std::uniform_real_distribution<double>(c.from, c.to)(rng);
      stop.times = 2;
      stop.apart = gap(rng);
      SCOPED_TRACE(c.args.front() + " at " + std::to_string(stop.afterSeconds) + " s, apart " +
                   std::to_string(stop.apart));
      const Finished f = run(c.args, "16000", stop);
      for (const auto& e : fs::directory_iterator(dir))
        EXPECT_FALSE(e.path().filename().string().starts_with(".qm")) << e.path();
      const std::string csvNow = readFile(csv);
      const std::string svgNow = readFile(svg);
      EXPECT_TRUE(csvNow == "old\n" || (csvNow.starts_with("t_us,") && csvNow.ends_with("\n")));
      EXPECT_TRUE(svgNow == "old\n" || svgNow.ends_with("</svg>\n"));
      // measure's second stop names exactly the files it left unwritten,
      // even when it lands between a rename and the next notice.
      if (const std::size_t at = f.err.find("没有写入：");
          f.status == 1 && at != std::string::npos) {
        const std::string unwritten = f.err.substr(at, f.err.find('\n', at) - at);
        EXPECT_EQ(unwritten.find(csv) == std::string::npos, csvNow != "old\n") << f.err;
        EXPECT_EQ(unwritten.find(svg) == std::string::npos, svgNow != "old\n") << f.err;
      }
      if (f.status == 130) {
        // analyze's one line names what it replaced before the signal.
        if (csvNow != "old\n") {
          EXPECT_NE(f.err.find("已写入 " + csv), std::string::npos) << f.err;
        }
        if (svgNow != "old\n" && f.err.find("已写入 " + svg) == std::string::npos) {
          EXPECT_NE(f.err.find("，已写入 " + csv + "、" + svg + "；其余文件未写完，已删除"),
                    std::string::npos)
              << f.err;
        }
      }
    }
  }
}

// Under an English locale every line of these failures is English: a failed
// write, the interrupt line, the virtual mice's warnings (read before the
// language was chosen, once).
TEST_F(CliOutputsTest, EnglishFailuresHaveNoChinese) {
  const std::string fifo = (dir / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  clitest::Interrupt stop;
  stop.fromStart = true;
  stop.afterSeconds = 0.5;
  const struct {
    std::vector<std::string> args;
    std::string mice;
    clitest::Interrupt stop;
    int status;
    const char* said;
  } kCases[] = {
      {{"analyze", kRecording, "--plot", "/dev/full"},
       "1000",
       {},
       1,
       "Cannot write /dev/full: ENOSPC (no space left on the disk)\n"},
      {{"analyze", fifo, "--plot", (dir / "p.svg").string()},
       "1000",
       stop,
       130,
       "quillmark: interrupted (SIGINT), unfinished files removed\n"},
      {{"list"}, "abc,1000", {}, 0, "[virtual mice] "},
      {{"measure", "--seconds", "0.5", "--intervals", (dir / "c.csv").string()},
       "1000",
       {},
       0,
       "TAVO_CAPTURE_SECONDS should be decimal seconds above 0, not \"abc\""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.args.front() + " " + c.args.back());
    const Finished f = run(c.args, c.mice, c.stop, {}, QUILLMARK_BIN,
                           {{"LANG", "en_US.UTF-8"},
                            {"LANGUAGE", ""},
                            {"LC_ALL", ""},
                            {"TAVO_CAPTURE", (dir / "cap.txt").string()},
                            {"TAVO_CAPTURE_SECONDS", "abc"}});
    EXPECT_EQ(f.status, c.status) << f.err;
    EXPECT_NE(f.err.find(c.said), std::string::npos) << f.err;
    EXPECT_EQ(firstCjk(f.err), "") << f.err;
    EXPECT_EQ(f.err.find("虚拟"), std::string::npos) << f.err;
  }
}
