// The terminal commands of the real program on virtual mice: options, the
// JSON summary, Ctrl-C in the middle of a test, exit statuses.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <unistd.h>
#include <numeric>
#include <sstream>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>

#include "QuillmarkProcess.h"
#include "QuillmarkVersion.h"

namespace fs = std::filesystem;
using clitest::Finished;
using clitest::runQuillmark;
using nlohmann::json;

namespace {

constexpr const char* kEnglish = "en_US.UTF-8";

// Any CJK ideograph or full-width punctuation: none may show in English.
bool hasCjk(const std::string& text) {
  for (std::size_t i = 0; i + 2 < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == 0xE3 || (c >= 0xE4 && c <= 0xE9) || c == 0xEF) return true;
  }
  return false;
}

class CliVirtualMiceTest : public ::testing::Test {
 protected:
  Finished run(const std::vector<std::string>& args, const std::string& mice = "1000,8000:5",
               const clitest::Interrupt& interrupt = {}) {
    return runQuillmark(args, {{"TAVO_VIRTUAL_MICE", mice}}, (dir / "run").string(), interrupt);
  }
  // Under LANG=`lang` alone (not installed here: the English must not need it).
  Finished runIn(const char* lang, const std::vector<std::string>& args) {
    return runQuillmark(args,
                        {{"TAVO_VIRTUAL_MICE", "1000,8000:5"},
                         {"LC_ALL", ""},
                         {"LC_MESSAGES", ""},
                         {"LANGUAGE", ""},
                         {"LANG", lang}},
                        (dir / "run").string());
  }

  TempDir tmp;
  const fs::path dir{tmp.path()};
};

// Every field docs/result-schema.md lists.
const char* const kSchemaFields[] = {"/schema",
                                     "/schema_version",
                                     "/program/name",
                                     "/program/version",
                                     "/device/name",
                                     "/device/product",
                                     "/device/manufacturer",
                                     "/device/vid_pid",
                                     "/device/transport",
                                     "/device/endpoint_interval_us",
                                     "/device/node",
                                     "/test/start",
                                     "/test/duration_s",
                                     "/test/ended",
                                     "/test/error",
                                     "/rate/current_hz",
                                     "/rate/max_hz",
                                     "/rate/min_hz",
                                     "/rate/avg_hz",
                                     "/rate/valid",
                                     "/interval/baseline_us",
                                     "/interval/baseline_hz",
                                     "/interval/jitter_us",
                                     "/interval/stability",
                                     "/interval/anomaly_count",
                                     "/interval/anomaly_ratio",
                                     "/interval/longest_us",
                                     "/interval/histogram_bin_width_us",
                                     "/interval/histogram",
                                     "/reports/count",
                                     "/reports/kernel_drops",
                                     "/reports/kernel_dropped_reports",
                                     "/target/hz",
                                     "/target/interval_us",
                                     "/target/compared_hz",
                                     "/target/ratio",
                                     "/target/verdict",
                                     "/target/verdict_text",
                                     "/target/unknown_reason",
                                     "/target/brief",
                                     "/target/cause_kind",
                                     "/target/cause_text",
                                     "/live/target/hz",
                                     "/live/target/interval_us",
                                     "/live/target/compared_hz",
                                     "/live/target/ratio",
                                     "/live/target/verdict",
                                     "/live/target/verdict_text",
                                     "/intervals_file/limit",
                                     "/intervals_file/recorded",
                                     "/intervals_file/truncated",
                                     "/rules/stale_stamp_limit_ms",
                                     "/rules/interval_kept_min_us",
                                     "/rules/interval_kept_max_us",
                                     "/rules/activity_timeout_ms",
                                     "/rules/rate_window_ms",
                                     "/rules/rate_min_reports",
                                     "/rules/rate_min_span_ms",
                                     "/rules/stats_warm_up_ms",
                                     "/rules/history_period_ms",
                                     "/rules/diagnostics_period_ms",
                                     "/rules/diagnostics_intervals",
                                     "/rules/diagnostics_min_intervals",
                                     "/rules/retained_low_factor",
                                     "/rules/retained_high_factor",
                                     "/rules/anomaly_factor",
                                     "/rules/target_near_ratio",
                                     "/rules/target_reached_ratio",
                                     "/rules/baseline",
                                     "/rules/jitter",
                                     "/rules/stability",
                                     "/rules/kernel_dropped_reports",
                                     "/device/configured_hz",
                                     "/device/requested_hz",
                                     "/device/configured_reason",
                                     "/environment/kernel_release",
                                     "/environment/virtual_device",
                                     "/environment/bus_speed_mbps",
                                     "/environment/usb_port_path",
                                     "/environment/hub_depth",
                                     "/environment/host_controller_driver",
                                     "/environment/endpoint_interval_us",
                                     "/environment/usbhid_mousepoll_ms",
                                     "/whole_test/reports",
                                     "/whole_test/intervals",
                                     "/whole_test/moving_s",
                                     "/whole_test/rests",
                                     "/whole_test/moving_rate_hz",
                                     "/whole_test/interval_us/p1",
                                     "/whole_test/interval_us/p50",
                                     "/whole_test/interval_us/p99",
                                     "/whole_test/interval_us/p99_9",
                                     "/whole_test/interval_us/max",
                                     "/whole_test/interval_us/mean",
                                     "/whole_test/interval_us/stddev",
                                     "/whole_test/anomalies/count",
                                     "/whole_test/anomalies/share",
                                     "/whole_test/missed_slots",
                                     "/whole_test/kernel_drops",
                                     "/whole_test/kernel_dropped_reports",
                                     "/whole_test/lateness_us/p50",
                                     "/whole_test/lateness_us/p99",
                                     "/whole_test/lateness_us/max",
                                     "/whole_test/target/hz",
                                     "/whole_test/target/source",
                                     "/whole_test/target/compared_hz",
                                     "/whole_test/target/ratio",
                                     "/whole_test/target/verdict",
                                     "/whole_test/target/verdict_text"};

}  // namespace

TEST_F(CliVirtualMiceTest, VersionHelpAndBadOptions) {
  const Finished version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.substr(0, version.out.find('\n')),
            std::string("quillmark ") + quillmark::kVersion);

  const Finished help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("measure"), std::string::npos);
  EXPECT_NE(help.out.find("list"), std::string::npos);
  EXPECT_TRUE(help.err.empty()) << help.err;

  // One line why (with a guess where one is near), then the command's usage line.
  const struct {
    std::vector<std::string> args;
    const char* why;
    const char* usage;
    const char* lang = "";
  } bad[] = {
      {{"--bogus"}, "quillmark: 不认识的选项「--bogus」\n", "用法：quillmark [选项] [命令]"},
      {{"measure", "--target", "300"},
       "quillmark: --target 不能是 300，只能是 125、250、500、1000、2000、4000、8000\n",
       "用法：quillmark measure [选项]"},
      {{"measure", "--seconds", "0.2"},
       "quillmark: --seconds：测试至少要 0.45 秒",
       "用法：quillmark measure [选项]"},
      {{"measure", "--seconds", "ten"},
       "quillmark: --seconds：「ten」不是一个数\n",
       "用法：quillmark measure [选项]"},
      {{"mesure"},
       "quillmark: 不认识的命令「mesure」：mesure → measure？\n",
       "用法：quillmark [选项] [命令]"},
      {{"measure", "--secs", "3"},
       "quillmark: 不认识的选项「--secs」：--secs → --seconds？\n",
       "用法：quillmark measure [选项]"},
      {{"frobnicate"}, "quillmark: 不认识的命令「frobnicate」\n", "用法：quillmark [选项] [命令]"},
      {{"list", "extra"}, "quillmark: 多余的参数「extra」\n", "用法：quillmark list [选项]"},
      {{"analyze"}, "quillmark: 缺少 FILE\n", "用法：quillmark analyze [选项] FILE"},
      {{"analyze"}, "quillmark: 缺少 FILE\n", "用法：quillmark analyze [选项] FILE", "zh_CN.UTF-8"},
      {{"measure", "--label", "a/b"},
       "quillmark: --label：名字「a/b」不能用",
       "用法：quillmark measure [选项]"},
      {{"measure", "--repeat", "2", "--json"},
       "quillmark: --repeat 的每次结果都在自己文件夹的 result.json 里：不能与 --json 同用\n",
       "用法：quillmark measure [选项]"},
      {{"measure", "--out", "d", "--plot", "p.svg"},
       "quillmark: 结果文件夹里已有 intervals.csv 和 intervals.svg",
       "用法：quillmark measure [选项]"},
      {{"mesure"},
       "quillmark: 不认识的命令「mesure」：mesure → measure？\n",
       "用法：quillmark [选项] [命令]",
       "C"},
      {{"--bogus"},
       "quillmark: unknown option '--bogus'\n",
       "Usage: quillmark [OPTIONS] [SUBCOMMAND] (all options: quillmark --help)",
       kEnglish},
      {{"measure", "--target", "300"},
       "quillmark: --target cannot be 300, only 125, 250, 500, 1000, 2000, 4000, 8000\n",
       "Usage: quillmark measure [OPTIONS]",
       kEnglish},
      {{"measure", "--seconds", "0.2"},
       "quillmark: --seconds: a test lasts at least 0.45 seconds",
       "Usage: quillmark measure [OPTIONS]",
       kEnglish},
      {{"measure", "--secs", "3"},
       "quillmark: unknown option '--secs': --secs → --seconds?\n",
       "Usage: quillmark measure [OPTIONS]",
       kEnglish},
      {{"list", "extra"},
       "quillmark: unexpected argument 'extra'\n",
       "Usage: quillmark list [OPTIONS]",
       kEnglish},
      {{"analyze"},
       "quillmark: FILE is missing\n",
       "Usage: quillmark analyze [OPTIONS] FILE",
       kEnglish},
      {{"analyze", "--plot", "--json", "x"},
       "quillmark: --plot: '--json' looks like an option, not a file name",
       "Usage: quillmark analyze [OPTIONS] FILE",
       kEnglish},
      {{"measure", "--json", "--plot", "-"},
       "quillmark: --json already writes the result to standard output",
       "Usage: quillmark measure [OPTIONS]",
       kEnglish},
  };
  for (const auto& b : bad) {
    const Finished f = *b.lang ? runIn(b.lang, b.args) : run(b.args);
    if (b.lang == kEnglish) {
      EXPECT_FALSE(hasCjk(f.err)) << f.err;
    }
    EXPECT_EQ(f.status, 2) << b.args[0];
    EXPECT_TRUE(f.out.empty()) << f.out;
    EXPECT_EQ(f.err.rfind(b.why, 0), 0u) << f.err;
    EXPECT_NE(f.err.find(std::string("\n") + b.usage), std::string::npos) << f.err;
    EXPECT_EQ(std::count(f.err.begin(), f.err.end(), '\n'), 2) << f.err;
    EXPECT_EQ(f.err.find("not expected"), std::string::npos) << f.err;
  }
}

// Each command's help lists the exit statuses it can return and no other,
// and no type hint of the option library ("N:N").
TEST_F(CliVirtualMiceTest, EachHelpListsItsOwnExitStatuses) {
  const struct {
    const char* command;
    std::vector<int> statuses;
    const char* lang = "";
  } helps[] = {{"list", {0, 1, 2, 4}},
               {"measure", {0, 1, 2, 3, 4, 5, 6, 7}},
               {"analyze", {0, 1, 2, 5, 8}},
               {"compare", {0, 1, 2, 5, 8}},
               {"buttons", {0, 1, 2, 3, 4, 5, 7}},
               {"cpi", {0, 1, 2, 3, 4, 5}, kEnglish},
               {"list", {0, 1, 2, 4}, "C"},
               {"list", {0, 1, 2, 4}, kEnglish},
               {"measure", {0, 1, 2, 3, 4, 5, 6, 7}, kEnglish},
               {"analyze", {0, 1, 2, 5, 8}, kEnglish},
               {"compare", {0, 1, 2, 5, 8}, kEnglish},
               {"", {0, 1, 2, 3, 4, 5, 6, 7, 8}, kEnglish}};
  for (const auto& h : helps) {
    const bool english = h.lang == kEnglish;
    std::vector<std::string> args{h.command, "--help"};
    if (!*h.command) args.erase(args.begin());
    const Finished f = *h.lang ? runIn(h.lang, args) : run(args);
    ASSERT_EQ(f.status, 0) << h.command;
    if (english) {
      EXPECT_FALSE(hasCjk(f.out)) << f.out;
      EXPECT_NE(f.out.find("Usage: quillmark"), std::string::npos) << f.out;
    }
    const size_t at = f.out.find(english ? "Exit status: " : "退出状态：");
    ASSERT_NE(at, std::string::npos) << f.out;
    const std::string line = f.out.substr(at, f.out.find('\n', at) - at);
    for (int status = 0; status <= 8; ++status) {
      const bool listed =
          std::find(h.statuses.begin(), h.statuses.end(), status) != h.statuses.end();
      const std::string n = std::to_string(status) + " ";
      const std::string a = (english ? ": " : "：") + n, b = (english ? "; " : "；") + n,
                        c = (english ? ", " : "，") + n;
      const bool shown = line.find(a) != std::string::npos || line.find(b) != std::string::npos ||
                         line.find(c) != std::string::npos;
      EXPECT_EQ(shown, listed) << h.command << " " << status << ": " << line;
    }
    for (const char* hint : {"N:N", "NONNEGATIVE", "HZ:{", "TEXT"})
      EXPECT_EQ(f.out.find(hint), std::string::npos) << h.command << " " << hint;
    if (!english) {
      EXPECT_EQ(f.out.find("Options"), std::string::npos) << f.out;
    }
  }
}

TEST_F(CliVirtualMiceTest, ListShowsEveryMouseAndTheAutomaticChoice) {
  const Finished f = run({"list"});
  ASSERT_EQ(f.status, 0) << f.err;
  EXPECT_NE(f.out.find("虚拟鼠标 1000 Hz [Virtual]"), std::string::npos) << f.out;
  EXPECT_NE(f.out.find("虚拟鼠标 8000 Hz [Virtual]"), std::string::npos) << f.out;
  EXPECT_NE(f.out.find("125 µs"), std::string::npos) << f.out;

  // Each language's heading words start where the rows' columns do.
  const auto columnOf = [](const std::string& line, std::size_t at) {
    int columns = 0;
    for (std::size_t i = 0; i < at; ++i) {
      const auto c = static_cast<unsigned char>(line[i]);
      if ((c & 0xC0) != 0x80) columns += c >= 0xE3 ? 2 : 1;
    }
    return columns;
  };
  for (const auto& [lang, heading, name] :
       {std::tuple{"zh_CN.UTF-8", "名称", "虚拟鼠标 8000 Hz [Virtual]"},
        std::tuple{kEnglish, "Name", "Virtual mouse 8000 Hz [Virtual]"}}) {
    const Finished l = runIn(lang, {"list"});
    ASSERT_EQ(l.status, 0) << l.err;
    std::istringstream lines(l.out);
    std::string head, row;
    std::getline(lines, head);
    while (std::getline(lines, row) && row.find(name) == std::string::npos) {
    }
    ASSERT_NE(row.find(name), std::string::npos) << l.out;
    EXPECT_EQ(columnOf(head, head.find(heading)), columnOf(row, row.find(name))) << l.out;
    EXPECT_EQ(columnOf(head, head.find("VID:PID")), columnOf(row, row.find("0000:0002"))) << l.out;
    if (lang == kEnglish) {
      EXPECT_FALSE(hasCjk(l.out)) << l.out;
    }
  }

  const Finished j = run({"list", "--json"});
  ASSERT_EQ(j.status, 0) << j.err;
  const json doc = json::parse(j.out);
  ASSERT_EQ(doc["devices"].size(), 2u);
  EXPECT_EQ(doc["devices"][1]["vid_pid"], "0000:0002");
  EXPECT_EQ(doc["devices"][1]["readable"], true);
  EXPECT_TRUE(doc["devices"][1]["node"].is_null());
  EXPECT_EQ(doc["auto_choice"], 0);
}

TEST_F(CliVirtualMiceTest, JsonSummaryHasEveryFieldAndFollowsTheRules) {
  const Finished f = run({"measure", "--device", "8000 hz", "--seconds", "3", "--json"});
  ASSERT_EQ(f.status, 0) << f.err;
  const json j = json::parse(f.out);  // nothing but the document on stdout
  for (const char* field : kSchemaFields) {
    EXPECT_TRUE(j.contains(json::json_pointer(field))) << field;
  }
  EXPECT_EQ(j["device"]["name"], "虚拟鼠标 8000 Hz [Virtual]");
  EXPECT_EQ(j["test"]["ended"], "completed");
  EXPECT_NEAR(j["test"]["duration_s"].get<double>(), 3.0, 0.05);
  // The test is the reports stamped within its three seconds, however late
  // a loaded machine delivers them.
  const int64_t count = j["reports"]["count"];
  EXPECT_NEAR(count, 24'000, 1);

  const double baselineUs = j["interval"]["baseline_us"];
  const double jitterUs = j["interval"]["jitter_us"];
  EXPECT_NEAR(baselineUs, 125.0, 2.0);
  EXPECT_NEAR(j["interval"]["baseline_hz"].get<double>(), 1e6 / baselineUs, 0.5);
  EXPECT_NEAR(j["interval"]["stability"].get<double>(),
              std::clamp(1.0 - jitterUs / baselineUs, 0.0, 1.0), 1e-3);
  const double minHz = j["rate"]["min_hz"], avgHz = j["rate"]["avg_hz"],
               maxHz = j["rate"]["max_hz"];
  EXPECT_TRUE(j["rate"]["valid"].get<bool>());
  EXPECT_LE(minHz, avgHz);
  EXPECT_LE(avgHz, maxHz);
  // No target given: the rate the mouse asks for.
  EXPECT_EQ(j["target"]["hz"], 8000.0);
  EXPECT_EQ(j["whole_test"]["target"]["source"], "configured");
  EXPECT_EQ(j["whole_test"]["reports"], count);
  EXPECT_NEAR(j["target"]["ratio"].get<double>(), avgHz / 8000.0, 1e-3);
  EXPECT_EQ(j["target"]["verdict"], avgHz / 8000.0 >= 0.95 ? "reached" : "near");
  EXPECT_EQ(j["intervals_file"]["recorded"], count);
}

// The window's figures against the intervals file the same run wrote: host
// jitter of +-60 us at 8000 Hz leaves the baseline at the intervals' median,
// and the figures of a short test include its last reports.
TEST_F(CliVirtualMiceTest, WindowFiguresAgreeWithTheIntervalsFile) {
  const fs::path csv = dir / "i.csv";
  for (const auto& [mice, seconds] : {std::pair{"8000:60", "2"}, {"1000", "1"}}) {
    const Finished f =
        run({"measure", "--seconds", seconds, "--json", "--intervals", csv.string()}, mice);
    ASSERT_EQ(f.status, 0) << f.err;
    const json j = json::parse(f.out);
    std::vector<double> intervals;
    std::istringstream lines(readFile(csv.string()));
    std::string row;
    std::getline(lines, row);  // header
    while (std::getline(lines, row)) {
      // The second column; empty on the first line.
      const std::size_t comma = row.find(',');
      const std::string interval = row.substr(comma + 1, row.find(',', comma + 1) - comma - 1);
      if (!interval.empty()) intervals.push_back(std::stod(interval));
    }
    std::vector<double> sorted = intervals;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    EXPECT_NEAR(j["interval"]["baseline_us"].get<double>(), median, 2.0) << mice;
    EXPECT_NEAR(j["whole_test"]["interval_us"]["p50"].get<double>(), median, 0.5) << mice;
    if (intervals.size() < 4096) {
      const auto histogram = j["interval"]["histogram"].get<std::vector<int64_t>>();
      EXPECT_EQ(std::accumulate(histogram.begin(), histogram.end(), int64_t{0}),
                static_cast<int64_t>(intervals.size()))
          << mice;
    }
  }
}

namespace {

// Everything the program writes to a terminal (stdout and stderr both).
std::string onTerminal(const std::vector<std::string>& args, const std::string& mice) {
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    setenv("TAVO_VIRTUAL_MICE", mice.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(QUILLMARK_BIN)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(QUILLMARK_BIN, argv.data());
    _exit(127);
  }
  std::string text;
  char buf[4096];
  for (;;) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 20'000) <= 0) break;
    const ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;  // EIO once the program has ended
    text.append(buf, static_cast<size_t>(n));
  }
  close(master);
  waitpid(pid, nullptr, 0);
  return text;
}

}  // namespace

TEST_F(CliVirtualMiceTest, LiveLineOnATerminalOnly) {
  const std::string terminal =
      onTerminal({"measure", "--seconds", "1.5", "--target", "8000"}, "8000@3000");
  EXPECT_NE(terminal.find("\r当前"), std::string::npos) << terminal;
  EXPECT_NE(terminal.find(" / 1.5 s"), std::string::npos) << terminal;  // the total as given
  EXPECT_NE(terminal.find("报告数"), std::string::npos) << terminal;
  // The target and, for a hand too slow for it, the hand's speed and what it needs.
  EXPECT_NE(terminal.find(" Hz · 目标 8000 Hz · 报告 "), std::string::npos) << terminal;
  EXPECT_NE(terminal.find("手速约 3000 counts/s，需约 8000"), std::string::npos) << terminal;
  // With the mouse's CPI, in cm/s too: 3000 and 8000 counts/s at 800 CPI are 3.75 and 10 in/s.
  const std::string cpi =
      onTerminal({"measure", "--seconds", "1.5", "--target", "8000", "--cpi", "800"}, "8000@3000");
  EXPECT_NE(cpi.find("手速约 3000 counts/s（9.5 cm/s），需约 8000（25.4 cm/s）"), std::string::npos)
      << cpi;
  // Reports come from the first line on: never a rate of 0.
  EXPECT_EQ(terminal.find(" 0 Hz · 目标"), std::string::npos) << terminal;

  const Finished piped = run({"measure", "--seconds", "1.5"}, "1000");
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.err.find('\r'), std::string::npos) << piped.err;
  EXPECT_EQ(piped.err.find("当前"), std::string::npos) << piped.err;
}

TEST_F(CliVirtualMiceTest, CtrlCEndsTheTestWithTheSummaryAndTheFiles) {
  const fs::path csv = dir / "intervals.csv";
  const fs::path svg = dir / "plot.svg";
  const Finished f = run({"measure", "--seconds", "60", "--target", "1000", "--intervals",
                          csv.string(), "--plot", svg.string()},
                         "1000", {"请移动鼠标", 1.5});
  EXPECT_EQ(f.status, 0) << f.err;
  EXPECT_NE(f.out.find("（已中断）"), std::string::npos) << f.out;
  EXPECT_NE(f.out.find("判定        达到目标：1000 Hz，目标 1000 Hz（指定）\n"), std::string::npos)
      << f.out;
  ASSERT_TRUE(fs::exists(csv));
  ASSERT_TRUE(fs::exists(svg));
  const std::string lines = readFile(csv.string());
  EXPECT_GT(std::count(lines.begin(), lines.end(), '\n'), 500);
  EXPECT_NE(f.err.find("已写入 " + svg.string()), std::string::npos) << f.err;

  // Without a length the test runs until Ctrl-C, which ends it as its length would.
  const Finished open = run({"measure", "--seconds", "0", "--json"}, "1000", {"请移动鼠标", 1.5});
  EXPECT_EQ(open.status, 0) << open.err;
  const json j = json::parse(open.out);
  EXPECT_EQ(j["test"]["ended"], "completed");
  EXPECT_GT(j["test"]["duration_s"].get<double>(), 1.0);
}

// The scheduling policy of the reading thread of a child of this process,
// or -1 while there is none.
int childReadingThreadPolicy() {
  std::error_code ec;
  for (const auto& proc : fs::directory_iterator("/proc", ec)) {
    std::ifstream stat(proc.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const size_t paren = line.rfind(')');
    if (paren == std::string::npos) continue;
    std::istringstream rest(line.substr(paren + 2));
    std::string state;
    pid_t parent = 0;
    if (!(rest >> state >> parent) || parent != getpid()) continue;
    for (const auto& task : fs::directory_iterator(proc.path() / "task", ec)) {
      std::string name;
      std::getline(std::ifstream(task.path() / "comm"), name);
      if (name == "quillmark-hid") return sched_getscheduler(std::stoi(task.path().filename()));
    }
  }
  return -1;
}

// A terminal test's reading thread runs ahead of ordinary threads where the
// system allows real-time scheduling, as the window's does.
TEST_F(CliVirtualMiceTest, MeasureReadsAtRealTimePriorityWhereAllowed) {
  bool mayRaise = false;
  std::thread([&] {
    const sched_param p{sched_get_priority_min(SCHED_FIFO)};
    mayRaise = sched_setscheduler(0, SCHED_FIFO, &p) == 0;
  }).join();
  std::atomic<int> policy{-1};
  std::atomic<bool> ended{false};
  // The thread is raised just after it starts: the last policy seen counts.
  std::thread watcher([&] {
    while (!ended) {
      if (const int seen = childReadingThreadPolicy(); seen >= 0) policy = seen;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  const Finished f = run({"measure", "--seconds", "1.5"}, "1000");
  ended = true;
  watcher.join();
  EXPECT_EQ(f.status, 0) << f.err;
  EXPECT_EQ(policy, mayRaise ? SCHED_FIFO : SCHED_OTHER);
}

// The result folders of --out and --repeat: named by the label, as the
// window saves them; Ctrl-C keeps the finished runs and saves no part of the
// unfinished one, in the countdown or in the test.
TEST_F(CliVirtualMiceTest, OutAndRepeatSaveFoldersAndKeepFinishedRunsOnCtrlC) {
  const auto folders = [](const fs::path& d) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(d)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  };
  const fs::path out = dir / "out";
  const Finished one =
      run({"measure", "-s", "1", "--out", out.string(), "--label", "port-a"}, "1000");
  ASSERT_EQ(one.status, 0) << one.err;
  const std::vector<std::string> saved = folders(out);
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0].rfind("port-a_20", 0), 0u) << saved[0];
  EXPECT_NE(one.err.find("已保存到 " + (out / saved[0]).string()), std::string::npos) << one.err;
  EXPECT_EQ(folders(out / saved[0]),
            (std::vector<std::string>{"intervals.csv", "intervals.svg", "result.json"}));
  const json result = json::parse(readFile((out / saved[0] / "result.json").string()));
  EXPECT_EQ(result["test"]["label"], "port-a");
  EXPECT_EQ(result["whole_test"]["reports"], 1000);

  // A folder that cannot be made is refused before the test.
  const Finished refused =
      run({"measure", "-s", "1", "--out", (out / saved[0] / "result.json").string()}, "1000");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_NE(refused.err.find("quillmark: 没有保存结果：无法创建文件夹 "), std::string::npos)
      << refused.err;

  // Without DIR: the current folder.
  fs::create_directories(dir / "here");
  const std::string here = (dir / "here").string();
  const Finished bare =
      runQuillmark({"measure", "-s", "1", "--out"}, {{"TAVO_VIRTUAL_MICE", "1000"}},
                   (dir / "run").string(), {}, [&] {
                     if (chdir(here.c_str()) != 0) _exit(126);
                   });
  ASSERT_EQ(bare.status, 0) << bare.err;
  ASSERT_EQ(folders(dir / "here").size(), 1u);
  EXPECT_EQ(folders(dir / "here")[0].rfind("20", 0), 0u);

  const struct {
    const char* when;
    const char* said;
  } kStops[] = {{"第 2/3 次：3 秒后开始，请移动鼠标", "已停止：保留已完成的 1 次测试。\n"},
                {"第 2/3 次\n", "第 2 次测试没有完成，没有保存。\n"}};
  for (const auto& stop : kStops) {
    SCOPED_TRACE(stop.when);
    const fs::path d = dir / (std::string("stop-") + std::to_string(&stop - kStops));
    const Finished f =
        run({"measure", "-s", "2", "--repeat", "3", "--label", "x", "--out", d.string()}, "1000",
            {stop.when, 0.7});
    EXPECT_EQ(f.status, 0) << f.err;
    EXPECT_NE(f.err.find(stop.said), std::string::npos) << f.err;
    const std::vector<std::string> kept = folders(d);
    ASSERT_EQ(kept.size(), 1u) << f.err;  // no hidden .partial folder either
    EXPECT_EQ(kept[0].rfind("x_1_", 0), 0u) << kept[0];
  }
}

TEST_F(CliVirtualMiceTest, UnknownDeviceIsNamedWithTheMiceThatExist) {
  const Finished f = run({"measure", "--device", "Razer"});
  EXPECT_EQ(f.status, 4);
  EXPECT_NE(f.err.find("「Razer」"), std::string::npos) << f.err;
  EXPECT_NE(f.err.find("虚拟鼠标 8000 Hz [Virtual]"), std::string::npos) << f.err;
  EXPECT_EQ(run({"measure", "--device", "/dev/input/event99"}).status, 4);

  // measure's own lines in English: the mice listed, the test begun.
  const Finished missing = runIn(kEnglish, {"measure", "--device", "Razer"});
  EXPECT_EQ(missing.status, 4);
  EXPECT_EQ(missing.err.rfind("No device 'Razer'. The mice there are:\n", 0), 0u) << missing.err;
  EXPECT_NE(missing.err.find("Virtual mouse 8000 Hz [Virtual]"), std::string::npos) << missing.err;
  const Finished waited = runIn(kEnglish, {"measure", "--seconds", "0.5", "--device", "1"});
  EXPECT_EQ(waited.status, 0) << waited.err;
  EXPECT_EQ(waited.err.rfind("Measuring Virtual mouse 8000 Hz [Virtual], move the mouse…\n", 0), 0u)
      << waited.err;
  for (const Finished* f : {&missing, &waited}) {
    EXPECT_FALSE(hasCjk(f->err)) << f->err;
  }
}

// Known before the test, not after it.
TEST_F(CliVirtualMiceTest, AResultFileThatCannotBeWrittenFailsTheRun) {
  const fs::path missing = dir / "no-such-folder" / "plot.svg";
  const Finished f = run({"measure", "--seconds", "0.5", "--plot", missing.string()}, "1000");
  EXPECT_EQ(f.status, 1);
  EXPECT_TRUE(f.out.empty()) << f.out;
  EXPECT_NE(f.err.find(missing.string()), std::string::npos) << f.err;
}

// A virtual sensor reports only once a whole count has built up: at 2000
// counts/s an 8000 Hz mouse sends 2000 single-count reports a second, and
// without a hand speed every slot reports, with several counts.
TEST_F(CliVirtualMiceTest, AHandSpeedLimitsTheRateAndEachReportCarriesItsCounts) {
  struct Case {
    std::string mice;
    double hz;
    bool singleCounts;
    const char* cause;
    std::string target = "";  // --target; the cause then speaks of it, as the verdict does
  };
  for (const Case& c :
       {Case{"8000@2000", 2000, true, "speed_limited"}, Case{"8000", 8000, false, "reached"},
        Case{"8000@2000", 2000, true, "reached", "2000"}}) {
    SCOPED_TRACE(c.mice + " " + c.target);
    const fs::path csv = dir / "intervals.csv";
    std::vector<std::string> args = {"measure", "--seconds",   "2",
                                     "--json",  "--intervals", csv.string()};
    if (!c.target.empty()) args.insert(args.end(), {"--target", c.target});
    const Finished f = run(args, c.mice);
    ASSERT_EQ(f.status, 0) << f.err;
    const json doc = json::parse(f.out);
    if (!c.target.empty()) {
      EXPECT_EQ(doc["whole_test"]["target"]["verdict"], "reached");
      EXPECT_EQ(doc["whole_test"]["cause"]["yardstick_hz"], std::stod(c.target));
      EXPECT_EQ(doc["whole_test"]["cause"]["yardstick_source"], "option");
    }
    EXPECT_NEAR(doc["rate"]["avg_hz"].get<double>(), c.hz, c.hz * 0.05);
    EXPECT_NEAR(doc["reports"]["count"].get<double>(), 2 * c.hz, 2 * c.hz * 0.05);
    EXPECT_EQ(doc["whole_test"]["cause"]["kind"], c.cause);
    EXPECT_EQ(doc["whole_test"]["motion"]["known"], true);
    std::istringstream lines(readFile(csv.string()));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "t_us,interval_us,dx,dy,kernel_drops");
    int reports = 0, single = 0;
    while (std::getline(lines, line)) {
      ++reports;
      const std::string motion = line.substr(line.find(',', line.find(',') + 1) + 1);
      single += motion == "1,0," ? 1 : 0;
      EXPECT_EQ(motion.substr(motion.find(',')), ",0,") << line;
    }
    EXPECT_EQ(reports, doc["reports"]["count"].get<int>());
    EXPECT_EQ(single, c.singleCounts ? reports : 0);
  }
}

// Virtual mice whose interval is no whole number of µs: the grid is the
// host's interval to the nanosecond, so reports exactly on it are 0 µs late
// and no slot is empty (63 µs for 62.5 spread them over the whole period).
TEST(CliVirtualMiceGrid, AnIntervalOfNoWholeMicrosecondsKeepsItsGrid) {
  TempDir tmp;
  for (const auto& [rate, periodUs] : {std::pair{"16000", 62.5}, std::pair{"3000", 1e6 / 3000}}) {
    SCOPED_TRACE(rate);
    const Finished f = runQuillmark({"measure", "--seconds", "1", "--json"},
                                    {{"TAVO_VIRTUAL_MICE", rate}}, tmp.path() + "/run");
    ASSERT_EQ(f.status, 0) << f.err;
    const json w = json::parse(f.out)["whole_test"];
    EXPECT_EQ(w["grid"]["status"], "ok") << w["grid"];
    EXPECT_NEAR(w["grid"]["period_us"].get<double>(), periodUs, periodUs * 1e-4);
    EXPECT_EQ(w["lateness_us"]["p50"], 0.0);
    EXPECT_EQ(w["lateness_us"]["p99"], 0.0);
    EXPECT_EQ(w["idle_slots"], 0);
    EXPECT_EQ(w["missed_slots"], 0);
  }
}

// A virtual switch that bounces on every other release (closing again 2 ms
// after letting go, for 3 ms): each bounce is listed with those gaps, the
// events file shows the same presses, and --require-clean fails with 9; a
// clean switch passes, in English too.
TEST_F(CliVirtualMiceTest, ButtonsCatchTheBouncesOfAVirtualSwitch) {
  const fs::path csv = dir / "events.csv";
  const Finished f =
      run({"buttons", "--seconds", "2", "--json", "--require-clean", "--events", csv.string()},
          "1000/click=10:40:0.5");
  ASSERT_EQ(f.status, 9) << f.err;
  const json doc = json::parse(f.out);
  EXPECT_EQ(doc["schema"], "quillmark-buttons");
  EXPECT_EQ(doc["clean"], false);
  ASSERT_EQ(doc["buttons"].size(), 1u);
  const json& left = doc["buttons"][0];
  EXPECT_EQ(left["button"], "left");
  EXPECT_EQ(left["hold_p50_ms"], 40.0);
  EXPECT_EQ(left["gap_min_ms"], 2.0);
  EXPECT_EQ(left["verdict"], "chatter");
  EXPECT_NEAR(left["presses"].get<double>(), 30, 2);
  EXPECT_NEAR(left["fastest_presses_per_s"].get<double>(), 15, 1);
  for (const json& c : doc["chatter"]) {
    EXPECT_EQ(c["gap_ms"], 2.0);
    EXPECT_EQ(c["hold_ms"], 3.0);
  }
  std::istringstream lines(readFile(csv.string()));
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "time_s,button,edge,gap_ms");
  int presses = 0, bounces = 0;
  while (std::getline(lines, line)) {
    if (line.find(",press,") == std::string::npos) continue;
    ++presses;
    bounces += line.ends_with(",2.000") ? 1 : 0;
  }
  EXPECT_EQ(presses, left["presses"].get<int>());
  EXPECT_EQ(bounces, left["chatter"].get<int>());
  EXPECT_EQ(bounces, static_cast<int>(doc["chatter"].size()));
  EXPECT_GE(bounces, 8);

  const Finished clean = runQuillmark({"buttons", "--seconds", "1", "--require-clean"},
                                      {{"TAVO_VIRTUAL_MICE", "1000/click=8:60"},
                                       {"LC_ALL", ""},
                                       {"LANGUAGE", ""},
                                       {"LANG", kEnglish}},
                                      (dir / "run").string());
  ASSERT_EQ(clean.status, 0) << clean.err;
  EXPECT_NE(clean.out.find("Left button: presses 8,"), std::string::npos) << clean.out;
  EXPECT_NE(clean.out.find(" — normal"), std::string::npos) << clean.out;
  EXPECT_FALSE(hasCjk(clean.out + clean.err)) << clean.out << clean.err;
}

// Three strokes of a virtual sensor at 1600 CPI along a 10 cm ruler.
TEST_F(CliVirtualMiceTest, CpiOfThreeStrokesAlongARuler) {
  const Finished f =
      run({"cpi", "--distance", "10cm", "--countdown", "0", "--json"}, "1000/stroke=10cm:1600");
  ASSERT_EQ(f.status, 0) << f.err;
  const json doc = json::parse(f.out);
  EXPECT_NEAR(doc["cpi"].get<double>(), 1600, 16);
  EXPECT_EQ(doc["nearest_setting"], 1600);
  EXPECT_EQ(doc["axis"], "x");
  ASSERT_EQ(doc["strokes"].size(), 3u);
  for (const json& s : doc["strokes"]) EXPECT_NEAR(s["counts"].get<double>(), 6299, 1);
  const Finished bad = run({"cpi", "--distance", "10 furlongs"});
  EXPECT_EQ(bad.status, 2);
}
