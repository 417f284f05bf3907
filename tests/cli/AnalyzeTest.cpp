// `quillmark analyze` run as a user runs it: a generated stream's truth back
// from its recording, a CSV that `measure` wrote read back to the same
// stamps, and every kind of bad file answered with one line that names the
// place, and its exit status.
#include <gtest/gtest.h>

#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "QuillmarkProcess.h"
#include "recordings/GeneratedStream.h"

using clitest::Finished;
using clitest::runQuillmark;
using nlohmann::json;

namespace {

constexpr int kExitNoReports = 5;
constexpr int kExitBadRecording = 8;

const std::string kData = QUILLMARK_RECORDINGS_DATA;

class AnalyzeTest : public ::testing::Test {
 protected:
  Finished analyze(std::vector<std::string> args) {
    args.insert(args.begin(), "analyze");
    return runQuillmark(args, {}, tmp.file("run"));
  }
  TempDir tmp;
};

// The intervals CSV lines of a series of stamps (nanoseconds).
std::vector<std::string> csvStampLines(const std::vector<int64_t>& ns) {
  std::vector<std::string> lines;
  for (const int64_t t : ns) {
    char buf[64];
    const int64_t rel = t - ns.front();
    std::snprintf(buf, sizeof buf, "%" PRId64 ".%03" PRId64, rel / 1000, rel % 1000);
    lines.emplace_back(buf);
  }
  return lines;
}

std::vector<std::string> csvFirstColumn(const std::string& csv) {
  std::vector<std::string> out;
  std::istringstream in(csv);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) out.push_back(line.substr(0, line.find(',')));
  return out;
}

TEST_F(AnalyzeTest, GeneratedStreamGivesItsTruth) {
  const genstream::Stream s = genstream::makeStream(8000, 4.0, 10'000, true, 7000);
  genstream::writeLibinputRecord(tmp.file("gen.yml"), s);
  const Finished f = analyze({tmp.file("gen.yml"), "--json", "--intervals", tmp.file("out.csv"),
                              "--plot", tmp.file("out.svg")});
  ASSERT_EQ(f.status, 0) << f.err;
  const json j = json::parse(f.out);
  EXPECT_EQ(j["reports"]["count"], s.reports.size());
  EXPECT_EQ(j["reports"]["kernel_drops"], s.drops.size());
  EXPECT_EQ(j["source"]["format"], "libinput-record");
  EXPECT_EQ(j["source"]["device_name"], "Generated Mouse");
  EXPECT_EQ(j["source"]["motion"], true);
  EXPECT_EQ(j["device"]["name"], "Generated Mouse");
  // Every drop cost one report slot; the mouse skipped none; one rest.
  const json& whole = j["whole_test"];
  EXPECT_EQ(whole["reports"], s.reports.size());
  EXPECT_EQ(whole["rests"], 1);
  EXPECT_EQ(whole["kernel_drops"], s.drops.size());
  EXPECT_EQ(whole["kernel_dropped_reports"], s.drops.size());
  EXPECT_EQ(whole["missed_slots"], 0);
  int64_t countsX = 0, countsY = 0;
  for (const auto& r : s.reports) {
    countsX += std::abs(r.dx);
    countsY += std::abs(r.dy);
  }
  EXPECT_EQ(whole["motion"]["known"], true);
  EXPECT_EQ(whole["motion"]["counts_x"], countsX);
  EXPECT_EQ(whole["motion"]["counts_y"], countsY);
  // The live meter's figures for a steady 8000 Hz stream.
  EXPECT_NEAR(j["interval"]["baseline_hz"].get<double>(), 8000.0, 80.0);
  EXPECT_NEAR(j["rate"]["avg_hz"].get<double>(), 8000.0, 80.0);
  EXPECT_EQ(j["target"]["hz"], 8000.0);
  std::vector<int64_t> ns;
  for (const auto& r : s.reports) ns.push_back(r.ns);
  EXPECT_EQ(csvFirstColumn(readFile(tmp.file("out.csv"))), csvStampLines(ns));
  EXPECT_NE(readFile(tmp.file("out.svg")).find("<svg"), std::string::npos);

  const Finished text = analyze({tmp.file("gen.yml"), "--target", "4000"});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("来源        " + tmp.file("gen.yml") + "（libinput record）\n"),
            std::string::npos);
  EXPECT_NE(text.out.find("报告数      " + std::to_string(s.reports.size()) + "（"),
            std::string::npos);
  EXPECT_NE(text.out.find("判定        达到目标：7999 Hz，目标 4000 Hz（指定）\n"),
            std::string::npos)
      << text.out;
}

// The summary of a fixed run, line by line as reviewed: an 8000 Hz mouse
// with ±20 µs of host jitter, a rest and a kernel drop every 20000 reports,
// in the language each locale asks for (none of them installed here).
// QUILLMARK_UPDATE_GOLDEN=1 writes the files anew for the next review.
TEST_F(AnalyzeTest, SummaryOfAFixedRunMatchesItsReviewedText) {
  genstream::writeLibinputRecord(tmp.file("run.yml"),
                                 genstream::makeStream(8000, 10.0, 20'000, true, 20'000));
  // The recording's time is its file's: 2026-12-07 10:32:05 UTC.
  const timeval times[2] = {{1796639525, 0}, {1796639525, 0}};
  ASSERT_EQ(::utimes(tmp.file("run.yml").c_str(), times), 0);
  const std::string dir = tmp.file("");
  const struct {
    const char* golden;
    const char* lcAll;
    const char* lang;
  } kRows[] = {
      {"summary-8000hz.txt", "", ""},
      {"summary-8000hz.txt", "", "zh_CN.UTF-8"},
      {"summary-8000hz.txt", "C", "en_US.UTF-8"},
      {"summary-8000hz.en.txt", "", "en_US.UTF-8"},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(std::string(row.golden) + " LC_ALL=" + row.lcAll + " LANG=" + row.lang);
    const Finished f =
        runQuillmark({"analyze", "run.yml"},
                     {{"TZ", "UTC"},
                      {"LANGUAGE", ""},
                      {"LC_ALL", row.lcAll},
                      {"LC_MESSAGES", ""},
                      {"LANG", row.lang}},
                     tmp.file("out"), {}, [dir] { ASSERT_EQ(::chdir(dir.c_str()), 0); });
    ASSERT_EQ(f.status, 0) << f.err;
    const std::string golden = std::string(QUILLMARK_GOLDEN) + "/" + row.golden;
    if (std::getenv("QUILLMARK_UPDATE_GOLDEN") != nullptr) std::ofstream(golden) << f.out;
    EXPECT_EQ(f.out, readFile(golden));
    // The answer first, on line 3 (after the source and the device), and a
    // summary short enough to read.
    EXPECT_EQ(f.out.find(row.golden == std::string("summary-8000hz.txt") ? "\n判定" : "\nVerdict"),
              f.out.find('\n', f.out.find('\n') + 1));
    EXPECT_LE(std::count(f.out.begin(), f.out.end(), '\n'), 14);
  }
}

// Streams from a model of a USB host, recorded with evemu: what the summary,
// the JSON and the plot say of the grid, against what the stream was made to be.
namespace {
const std::vector<std::pair<std::string, std::string>> kEnglishEnv = {
    {"LC_ALL", ""}, {"LANGUAGE", ""}, {"LC_MESSAGES", ""}, {"LANG", "en_US.UTF-8"}};

}  // namespace

TEST_F(AnalyzeTest, UsbHostStreamsSayWhatTheGridShows) {
  struct Row {
    const char* name;
    genstream::UsbHost host;
    std::vector<std::string> summary;  // lines the summary holds
    const char* status;                // whole_test.grid.status
    const char* plotMark;              // in the SVG; "" none
    const char* en = "";               // a line the English summary holds; "" none
  };
  genstream::UsbHost change;
  change.seconds = 5;
  change.delayNs = 20'000;
  change.switchAtS = 2.5;
  change.switchPeriodNs = 1'000'000;
  genstream::UsbHost batched;
  batched.seconds = 3;
  batched.periodNs = 1'000'000;
  batched.batch = 4;
  genstream::UsbHost slow;
  slow.seconds = 2;
  slow.countsPerSlot = 5000.0 / 8000;  // 5000 counts/s on an 8000 Hz mouse
  const Row rows[] = {
      {"8000 then 1000 Hz",
       change,
       {"报告槽      125.000 µs（由间隔估计）\n",
        "回报率在测试中变化：8000 Hz（0.0–2.5 s） → 1000 Hz（2.5–5.0 s）\n"},
       "ok",
       "→ 1000 Hz"},
      {"batched by four",
       batched,
       {"报告槽      --（成批送达，送达周期 4000.000 µs）\n",
        "缺失报告    --（报告成批送达：每 4.00 ms 一批，每批平均 4.0 个，最多 4 "
        "个；无法确定报告槽）\n",
        "网格偏差    --\n"},
       "batched",
       "",
       "Missed reports      -- (the reports arrive in deliveries: one every 4.00 ms, 4.0 reports "
       "each on average, at most 4; the report slots cannot be found)\n"},
      {"speed-limited",
       slow,
       {"报告槽      125.000 µs（由间隔估计）\n",
        "缺失报告    0（另有 5999 个空槽是鼠标没动、无可报告）\n"},
       "ok",
       ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    genstream::HostTruth truth;
    genstream::writeEvemu(tmp.file("usb.txt"), genstream::makeUsbStream(r.host, truth));
    const Finished text =
        analyze({tmp.file("usb.txt"), "--details", "--plot", tmp.file("usb.svg")});
    ASSERT_EQ(text.status, 0) << text.err;
    for (const std::string& line : r.summary) {
      EXPECT_NE(text.out.find(line), std::string::npos) << line << text.out;
    }
    if (*r.en != 0) {
      const Finished en =
          runQuillmark({"analyze", tmp.file("usb.txt")}, kEnglishEnv, tmp.file("e"));
      EXPECT_NE(en.out.find(r.en), std::string::npos) << en.out;
    }
    const std::string svg = readFile(tmp.file("usb.svg"));
    EXPECT_EQ(std::string(r.plotMark).empty(), svg.find("→ ") == std::string::npos);
    if (*r.plotMark != 0) {
      EXPECT_NE(svg.find(r.plotMark), std::string::npos);
    }
    const json j = json::parse(analyze({tmp.file("usb.txt"), "--json"}).out);
    const json& w = j["whole_test"];
    EXPECT_EQ(w["grid"]["status"], r.status);
    EXPECT_EQ(w["missed_slots"].is_null(), std::string(r.status) != "ok");
    EXPECT_EQ(w["lateness_us"].is_null(), std::string(r.status) != "ok");
    if (std::string(r.status) == "ok") {
      EXPECT_EQ(w["missed_slots"], truth.missed);
      // The truth's idle slots are the host's; a segment has its own grid.
      if (w["segments"].empty()) {
        EXPECT_EQ(w["idle_slots"], truth.idle);
      }
    }
  }
}

TEST_F(AnalyzeTest, CsvThatMeasureWroteGivesTheSameFigures) {
  const Finished m =
      runQuillmark({"measure", "--seconds", "1", "--json", "--intervals", tmp.file("m.csv")},
                   {{"TAVO_VIRTUAL_MICE", "1000:20"},
                    {"TAVO_CAPTURE", tmp.file("capture.txt")},
                    {"TAVO_CAPTURE_SECONDS", "1"}},
                   tmp.file("measure"));
  ASSERT_EQ(m.status, 0) << m.err;
  const Finished a = analyze({tmp.file("m.csv"), "--json", "--intervals", tmp.file("a.csv")});
  ASSERT_EQ(a.status, 0) << a.err;
  EXPECT_EQ(readFile(tmp.file("a.csv")), readFile(tmp.file("m.csv")));
  const json measured = json::parse(m.out);
  const json analyzed = json::parse(a.out);
  EXPECT_EQ(analyzed["reports"]["count"], measured["intervals_file"]["recorded"]);
  EXPECT_EQ(analyzed["source"]["format"], "quillmark-csv");
  // The same figures; only where the yardstick came from differs: measure
  // knew the rate the mouse asks for, a CSV does not hold it.
  json measuredWhole = measured["whole_test"];
  json analyzedWhole = analyzed["whole_test"];
  EXPECT_EQ(measuredWhole["target"]["source"], "configured");
  EXPECT_EQ(analyzedWhole["target"]["source"], "estimated");
  EXPECT_EQ(measuredWhole["cause"]["yardstick_source"], "configured");
  EXPECT_EQ(analyzedWhole["cause"]["yardstick_source"], "estimated");
  // The grid: the host's interval, or one estimated from the stamps.
  EXPECT_EQ(measuredWhole["grid"]["source"], "configured");
  EXPECT_EQ(analyzedWhole["grid"]["source"], "estimated");
  EXPECT_NEAR(analyzedWhole["grid"]["period_us"].get<double>(), 1000.0, 1.0);
  for (const char* p : {"p50", "p99", "max"}) {
    EXPECT_NEAR(analyzedWhole["lateness_us"][p].get<double>(),
                measuredWhole["lateness_us"][p].get<double>(), 0.5);
  }
  for (json* w : {&measuredWhole, &analyzedWhole}) {
    (*w)["target"].erase("source");
    (*w)["cause"].erase("yardstick_source");
    w->erase("grid");
    w->erase("lateness_us");
  }
  EXPECT_EQ(analyzedWhole, measuredWhole);

  // The raw capture the same run wrote: the same mouse, its reports.
  const Finished c = analyze({tmp.file("capture.txt"), "--json"});
  ASSERT_EQ(c.status, 0) << c.err;
  const json captured = json::parse(c.out);
  EXPECT_EQ(captured["source"]["format"], "quillmark-capture");
  EXPECT_EQ(captured["source"]["device_name"], measured["device"]["name"]);
  EXPECT_GE(captured["reports"]["count"], measured["reports"]["count"]);
}

// A second at 1000 Hz, then one at 500 Hz: each of the summary's extremes
// under its own name.
// A second at 1000 Hz, a second at 500 Hz: the window's highest and lowest
// rate are in the JSON; the summary gives the whole test's rate once, 1500
// intervals in 2 s, and not the window's figures beside it.
TEST_F(AnalyzeTest, SummaryGivesTheWholeTestsRateAndTheJsonTheExtremes) {
  std::string csv = "t_us,interval_us\n0.000,\n";
  for (int us = 1000; us <= 2'000'000; us += us < 1'000'000 ? 1000 : 2000) {
    csv += std::to_string(us) + ".000,\n";
  }
  writeFile(tmp.file("halves.csv"), csv);
  const json j = json::parse(analyze({tmp.file("halves.csv"), "--json"}).out);
  const double maxHz = j["rate"]["max_hz"], minHz = j["rate"]["min_hz"];
  ASSERT_GT(maxHz, 1.5 * minHz);
  const Finished text = analyze({tmp.file("halves.csv")});
  EXPECT_NE(text.out.find("移动回报率  750.0 Hz（移动 2.000 s，停顿 0 次）\n"), std::string::npos)
      << text.out;
  for (const char* window : {"最高回报率", "最低回报率", "当前回报率", "基准间隔"})
    EXPECT_EQ(text.out.find(window), std::string::npos) << window;
}

// What analyze says about the mouse, the machine and the start: what the
// file states and nothing of this machine's; for a result given back (its
// folder, its JSON, or its intervals CSV beside the JSON), what the JSON kept,
// so the whole test comes out as measure wrote it.
TEST_F(AnalyzeTest, TheFileSaysWhoWasMeasuredWhereAndWhen) {
  std::filesystem::create_directories(tmp.file("run"));
  const Finished m = runQuillmark(
      {"measure", "--seconds", "1", "--json", "--intervals", tmp.file("run/intervals.csv")},
      {{"TAVO_VIRTUAL_MICE", "1000:20"}}, tmp.file("measure"));
  ASSERT_EQ(m.status, 0) << m.err;
  writeFile(tmp.file("run/result.json"), m.out);
  writeFile(tmp.file("m.json"), m.out);
  writeFile(tmp.file("m.csv"), readFile(tmp.file("run/intervals.csv")));
  const json measured = json::parse(m.out);
  const json null;
  struct Row {
    std::string input;
    std::string result;  // the JSON the facts come from; empty: none
    json vidPid = nullptr, transport = nullptr, kernel = nullptr, start = nullptr;
  };
  const Row rows[] = {
      {kData + "/mouse.evemu", "", "046d:c077", "USB", "6.1.0-28-amd64", null},
      {kData + "/mouse.yml", "", "046d:c077", "USB", "6.1.0-28-amd64", null},
      {kData + "/old-mouse.evemu", "", "046d:b02b", "Bluetooth", null,
       "2012-12-04T16:08:04.000+00:00"},
      {kData + "/intervals.csv", "", null, "", null, null},
      {tmp.file("run/intervals.csv"), tmp.file("run/result.json")},
      {tmp.file("run"), tmp.file("run/result.json")},
      {tmp.file("run/result.json"), tmp.file("run/result.json")},
      {tmp.file("m.csv"), tmp.file("m.json")},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.input);
    const Finished f = runQuillmark({"analyze", r.input, "--json"}, {{"TZ", "UTC"}}, tmp.file("a"));
    ASSERT_EQ(f.status, 0) << f.err;
    const json j = json::parse(f.out);
    EXPECT_EQ(j["source"]["result"], r.result.empty() ? null : json(r.result));
    if (!r.result.empty()) {
      EXPECT_EQ(j["device"], measured["device"]);
      EXPECT_EQ(j["environment"], measured["environment"]);
      EXPECT_EQ(j["test"]["start"], measured["test"]["start"]);
      EXPECT_EQ(j["whole_test"], measured["whole_test"]);
      continue;
    }
    EXPECT_EQ(j["device"]["vid_pid"], r.vidPid);
    EXPECT_EQ(j["device"]["transport"], r.transport);
    EXPECT_EQ(j["environment"]["kernel_release"], r.kernel);
    EXPECT_TRUE(j["environment"]["usbhid_mousepoll_ms"].is_null());
    EXPECT_EQ(j["test"]["start"], r.start);
    const Finished text = runQuillmark({"analyze", r.input}, {{"TZ", "UTC"}}, tmp.file("t"));
    // A start the file does not give is left out.
    const std::string start = r.start.is_null() ? "" : "，开始于 " + r.start.get<std::string>();
    EXPECT_NE(text.out.find(" s" + start + "\n报告数"), std::string::npos) << text.out;
  }
}

// A stamp decades after the others is a long rest, replayed at once.
TEST_F(AnalyzeTest, RestOfDecadesIsReplayedAtOnce) {
  const std::string evemu = readFile(kData + "/mouse.evemu");
  std::string later = evemu;
  for (std::size_t at = 0; (at = later.find("E: 0.007000", at)) != std::string::npos;) {
    later.replace(at, 11, "E: 2000000000.007000");
  }
  writeFile(tmp.file("later.evemu"), later);
  const Finished f = analyze({tmp.file("later.evemu"), "--json"});
  ASSERT_EQ(f.status, 0) << f.err;
  EXPECT_EQ(json::parse(f.out)["test"]["duration_s"], 2000000000.007);
}

// Some editors put a byte order mark before UTF-8 text: every format reads
// the same with it.
TEST_F(AnalyzeTest, AByteOrderMarkIsNoContent) {
  for (const char* name : {"mouse.yml", "mouse.evemu", "intervals.csv", "capture.txt"}) {
    SCOPED_TRACE(name);
    writeFile(tmp.file(name), "\xEF\xBB\xBF" + readFile(kData + "/" + name));
    const Finished plain = analyze({kData + "/" + name, "--json"});
    const Finished marked = analyze({tmp.file(name), "--json"});
    ASSERT_EQ(marked.status, 0) << marked.err;
    EXPECT_EQ(json::parse(marked.out)["whole_test"], json::parse(plain.out)["whole_test"]);
  }
}

// A place in a file, 1-based; 0: the message names no place of that kind.
struct Place {
  int line = 0, column = 0;
};

// Where `needle` starts in `text`, plus `skip` columns.
Place at(const std::string& text, const std::string& needle, int skip = 0) {
  const std::size_t at = text.find(needle);
  EXPECT_NE(at, std::string::npos) << needle;
  const std::size_t lineStart = text.rfind('\n', at) + 1;  // npos + 1 == 0
  const int line = static_cast<int>(std::count(text.begin(), text.begin() + at, '\n')) + 1;
  return {line, static_cast<int>(at - lineStart) + 1 + skip};
}

Place lineOf(const std::string& text, const std::string& needle) { return {at(text, needle).line}; }

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}

// Whether a text holds a Chinese character or a full-width form.
bool hasChineseText(const std::string& text) {
  for (std::size_t i = 0; i + 2 < text.size(); ++i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    if (b(i) < 0xE0 || b(i) > 0xEF) continue;
    const unsigned cp = (b(i) & 0x0Fu) << 12 | (b(i + 1) & 0x3Fu) << 6 | (b(i + 2) & 0x3Fu);
    if ((cp >= 0x3000 && cp <= 0x9FFF) || (cp >= 0xFF00 && cp <= 0xFFEF)) return true;
  }
  return false;
}

// A link that hands over 3 reports per 7.5 ms event, 250 µs apart: its
// rate is the link's (400 Hz), never judged against the gaps inside an
// event (4000 Hz) nor blamed on the mouse.
TEST_F(AnalyzeTest, ALinksDeliveriesAreNotItsSlots) {
  std::string csv = "t_us,interval_us\n";
  for (int event = 0; event < 1333; ++event) {
    for (int k = 0; k < 3; ++k) {
      csv += std::to_string(event * 7500 + k * 250) + ".000,\n";
    }
  }
  writeFile(tmp.file("events.csv"), csv);
  const Finished f = analyze({tmp.file("events.csv"), "--json"});
  ASSERT_EQ(f.status, 0) << f.err;
  const json w = json::parse(f.out)["whole_test"];
  EXPECT_EQ(w["grid"]["status"], "batched");
  EXPECT_EQ(w["grid"]["delivery_period_us"], 7500.0);
  EXPECT_EQ(w["grid"]["reports_per_delivery"]["mean"], 3.0);
  EXPECT_EQ(w["target"]["source"], "estimated");
  EXPECT_NEAR(w["target"]["hz"].get<double>(), 400, 1);
  EXPECT_NE(w["target"]["verdict"], "below");
  EXPECT_NE(w["cause"]["kind"], "device_limited");
  EXPECT_TRUE(w["missed_slots"].is_null() && w["lateness_us"].is_null());
}

// A CSV without motion, analyzed, gives a CSV whose motion columns are empty;
// that one reads back too, with its kernel drop kept.
TEST_F(AnalyzeTest, CsvWrittenByAnalyzeReadsBack) {
  writeFile(tmp.file("old.csv"),
            "t_us,interval_us\n0.000,\n1000.000,1000.000\n2000.000,1000.000\n"
            "6000.000,4000.000\n7000.000,1000.000\n");
  ASSERT_EQ(analyze({tmp.file("old.csv"), "--intervals", tmp.file("again.csv")}).status, 0);
  std::string again = readFile(tmp.file("again.csv"));
  again = replaced(again, "6000.000,4000.000,,,", "6000.000,4000.000,,,1");
  writeFile(tmp.file("again.csv"), again);
  const Finished f = analyze({tmp.file("again.csv"), "--json"});
  ASSERT_EQ(f.status, 0) << f.err;
  const json w = json::parse(f.out)["whole_test"];
  EXPECT_EQ(w["reports"], 5);
  EXPECT_EQ(w["motion"]["known"], false);
  EXPECT_EQ(w["kernel_drops"], 1);
  EXPECT_EQ(w["kernel_dropped_reports"], 3);
  EXPECT_EQ(w["missed_slots"], 0);
}

struct BadFile {
  const char* name;
  std::string file;  // written to the scratch folder; missing.yml: not written
  std::string content;
  const char* reason;
  const char* english;  // the reason under an English locale; nullptr: not checked here
  Place place = {};
  std::vector<std::string> extraArgs = {};
  int status = kExitBadRecording;
};

TEST_F(AnalyzeTest, BadFilesGiveOneLineWithThePlace) {
  const std::string yml = readFile(kData + "/mouse.yml");
  const std::string evemu = readFile(kData + "/mouse.evemu");
  const std::string csv = readFile(kData + "/intervals.csv");
  const std::string capture = readFile(kData + "/capture.txt");
  const std::string lastRow = "      - [  0,   7000,   2,   1,";
  const std::string cut = yml.substr(0, yml.find(lastRow) + lastRow.size());
  const std::string keyboardOnly = yml.substr(0, yml.find("  - node: /dev/input/event7"));
  const std::string noEvents =
      yml.substr(0, yml.find("    events:\n    - evdev:\n      - [  0,      0,   2"));
  const std::string typeYml = replaced(yml, "1000,   2,   0,     2]", "abc,   2,   0,     2]");
  const std::string backYml = replaced(yml, "[  0,   6000,   2,   8", "[  0,    500,   2,   8");
  const std::string noSynYml = replaced(
      yml, "      - [  0,   6000,   0,   0,     0] # ------------ SYN_REPORT (0) ---------- +2ms\n",
      "");
  const std::string versionYml = replaced(yml, "version: 1\n", "version: 2\n");
  const std::string badHex = replaced(evemu, "E: 0.006000 0002 0008", "E: 0.006000 0002 00zz");
  const std::string backEvemu = replaced(evemu, "E: 0.006000 0002 0008", "E: 0.000500 0002 0008");
  const std::string openEvemu = evemu.substr(0, evemu.rfind("E: 0.007000 0000 0000"));
  const std::string backCsv = replaced(csv, "6000.000,4000.000", "1500.000,4000.000");
  const std::string shortCapture = capture.substr(0, capture.rfind("7000,"));
  const std::string elf(
      "\x7f"
      "ELF\x02\x01\x01\x00\x00",
      9);
  const Place firstNode = at(yml, "  - node", 2);
  const Place openFrame = {at(noSynYml, "-120]").line,
                           at(noSynYml, "[  0,   6000,   2,  11").column};
  const std::vector<std::string> pick0 = {"--device", "0"}, noArgs;
  const std::string deepYml = "junk: " + std::string(40'000, '[') + std::string(40'000, ']') + "\n";
  const std::string negCsv = replaced(csv, "1000.000,1000.000", "-0.500,1000.000");
  const std::string negEvemu = replaced(evemu, "E: 0.006000 0002 0008", "E: -0.000500 0002 0008");
  const std::string farCapture = replaced(capture, "7000,0,32", "9223372036854775,0,32");
  const std::string hugeCsv =
      replaced(csv, "7000.000,1000.000,-4,5,", "99999999999999999999.000,1,-4,5,");
  const std::string dropsCsv =
      replaced(csv, "6000.000,4000.000,0,0,1", "6000.000,4000.000,0,0,1000000");
  const std::string fracCsv = replaced(csv, "7000.000,1000.000,-4,5,", "7000.000,1000.000,1.5,5,");
  const std::string longCsv = replaced(csv, "7000.000,1000.000,-4,5,",
                                       "7000.000,1000.000," + std::string(100'000, 'x') + ",5,");
  const std::string longReason = "位移应为整数，却是「" + std::string(79, 'x') + "…」";
  const std::string bareEvemu = "E: 0.001000 0001 0110 1\nE: 0.001000 0000 0000 0\n";

  const std::vector<BadFile> cases = {
      {"truncated YAML", "cut.yml", cut, "文件在这一行意外结束",
       "the file ends unexpectedly on this line", lineOf(cut, lastRow)},
      {"wrong type", "type.yml", typeYml, "应为整数", "an integer is expected here",
       at(yml, "1000,   2,   0,     2]")},
      {"device without relative axes", "mouse.yml", yml, "没有相对坐标轴",
       "device 0 (AT Translated Set 2 keyboard) has no relative axes",
       at(yml, "node: /dev/input/event3"), pick0},
      {"no mouse in the file", "keyboard.yml", keyboardOnly, "没有带相对坐标轴",
       "no device with relative axes", firstNode},
      {"device that is not there",
       "mouse.yml",
       yml,
       "没有设备 5",
       "no device 5: devices in the file: 2",
       firstNode,
       {"--device", "5"}},
      {"stamps going backwards", "back.yml", backYml, "时间戳倒退",
       "timestamp goes backwards (earlier than the event before)", at(backYml, "[  0,    500")},
      {"frame without SYN_REPORT", "nosyn.yml", noSynYml, "没有以 SYN_REPORT 结束",
       "this frame does not end with SYN_REPORT", openFrame},
      {"newer format version", "version.yml", versionYml, "不支持的 libinput record 文件版本",
       "unsupported libinput record file version", at(yml, "version: 1\n", 9)},
      {"YAML that is no recording",
       "other.yml",
       "hello: world\n",
       "没有 devices 列表",
       "not a libinput record file: no devices list",
       {1, 1}},
      {"mouse without reports", "empty-mouse.yml", noEvents, "录制里没有报告", nullptr, Place{},
       noArgs, kExitNoReports},
      {"evemu: bad code", "code.evemu", badHex, "事件代码应为十六进制数",
       "event code should be a hexadecimal number", at(badHex, "00zz")},
      {"evemu: stamps going backwards", "back.evemu", backEvemu, "时间戳倒退",
       "timestamp goes backwards (earlier than the event before)", at(backEvemu, "E: 0.000500", 3)},
      {"evemu: frame without SYN_REPORT", "open.evemu", openEvemu, "没有以 SYN_REPORT 结束",
       "the last frame does not end with SYN_REPORT", at(openEvemu, "E: 0.007000 0001")},
      {"CSV: stamps going backwards", "back.csv", backCsv, "时间戳倒退",
       "timestamp goes backwards (earlier than the line before)", at(backCsv, "1500.000")},
      {"CSV: not ours",
       "other.csv",
       "t_us,when\n1,2\n",
       "t_us,interval_us",
       "an intervals CSV's first line should start with \"t_us,interval_us\"",
       {1, 1}},
      {"capture cut short", "short.txt", shortCapture, "头部说有 5 个报告，读到 4 个",
       "reports announced in the header: 5, read: 4", lineOf(capture, "6000,")},
      {"JSON that is no result", "other.json", "{\"schema\": \"other\"}",
       "不是 Quillmark 的结果文件", nullptr},
      {"result without its intervals", "alone.json",
       "{\"schema\": \"quillmark-result\", \"schema_version\": 3}",
       "旁边没有间隔文件（alone.csv 或 intervals.csv）", nullptr},
      {"result of a version not known", "future.json",
       "{\"schema\": \"quillmark-result\", \"schema_version\": 5}",
       "结果文件的版本 5 不认识（本程序读版本 2 到 4）",
       "unknown result file version 5 (this program reads versions 2 to 4)"},
      {"result of version 1, before the whole test's figures", "v1.json",
       "{\"schema\": \"quillmark-result\", \"schema_version\": 1}",
       "结果文件的版本 1 不认识（本程序读版本 2 到 4）", nullptr},
      {"empty file", "empty.yml", "", "文件是空的", "the file is empty"},
      {"CSV: a fraction of a count", "frac.csv", fracCsv, "位移不是整数：「1.5」",
       "motion is not an integer: \"1.5\"", at(fracCsv, "1.5")},
      {"CSV: a value of 100 KB", "long.csv", longCsv, longReason.c_str(), nullptr,
       at(longCsv, "xxx")},
      {"JSON cut short", "cut.json", "{\n  \"schema\": \"quillmark-result\",\n  oops\n}\n",
       "不是 Quillmark 的结果文件（第 3 行第 3 列不是有效的 JSON）", nullptr},
      {"binary file",
       "binary.dat",
       elf,
       "二进制文件",
       "this is a binary file, not a recording",
       {1, 8}},
      {"missing file", "missing.yml", "", "无法打开：ENOENT（文件不存在）",
       "cannot open: ENOENT (no such file)"},
      {"YAML nested deeper than a recording",
       "deep.yml",
       deepYml,
       "嵌套超过 64 层",
       "nested deeper than 64 levels",
       {1, 70}},
      {"CSV: a minus before a zero whole part",
       "neg.csv",
       negCsv,
       "t_us 不能是负数：「-0.500」",
       "t_us cannot be negative: \"-0.500\"",
       {at(negCsv, "-0.500").line, 1}},
      {"evemu: a minus before a zero whole part", "neg.evemu", negEvemu, "时间不能是负数",
       "time cannot be negative: \"-0.000500\"", at(negEvemu, "E: -0.000500", 3)},
      {"capture: a stamp near the end of the clock", "far.txt", farCapture, "t_us 超出范围",
       "t_us out of range: \"9223372036854775\"", at(farCapture, "9223372036854775")},
      {"CSV: a number too large",
       "huge.csv",
       hugeCsv,
       "t_us 超出范围",
       "t_us out of range",
       {6, 1}},
      {"CSV: more drops than the gap holds",
       "drops.csv",
       dropsCsv,
       "比与上一行的间隔能容下的报告还多（最多 65 次）",
       "kernel_drops is 1000000, more reports than the gap since the line before can hold (at most "
       "65)",
       {5, 23}},
      {"evemu: no name, no relative axes", "bare.evemu", bareEvemu, "未命名设备没有相对坐标轴",
       "the unnamed device has no relative axes"},
      {"a line break in the name",
       "new\nline.csv",
       csv,
       "只有一个设备",
       "an intervals CSV holds one device (--device 0)",
       {},
       {"--device", "1"}},
      {"device index out of range",
       "mouse.yml",
       yml,
       "设备序号「99999999999」超出范围",
       nullptr,
       {},
       {"--device", "99999999999"},
       2},
  };
  for (const BadFile& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = tmp.file(c.file);
    std::remove(path.c_str());
    if (c.file != std::string("missing.yml")) writeFile(path, c.content);
    std::vector<std::string> args = {"analyze", path};
    args.insert(args.end(), c.extraArgs.begin(), c.extraArgs.end());
    std::string place = path;
    // A line break in a file name is shown escaped, on the one line.
    for (std::size_t at = 0; (at = place.find('\n', at)) != std::string::npos; at += 2) {
      place.replace(at, 1, "\\n");
    }
    if (c.place.line > 0) place += ":" + std::to_string(c.place.line);
    if (c.place.column > 0) place += ":" + std::to_string(c.place.column);
    // The same line in Chinese, and in English where the locale asks for it
    // (a locale this machine does not have installed).
    const struct {
      std::vector<std::pair<std::string, std::string>> env;
      const char* reason;
      const char* colon;
    } languages[] = {{{}, c.reason, "："}, {{{"LANG", "en_US.UTF-8"}}, c.english, ": "}};
    for (const auto& l : languages) {
      if (l.reason == nullptr) continue;
      SCOPED_TRACE(l.reason);
      const Finished f = runQuillmark(args, l.env, tmp.file("run"));
      EXPECT_EQ(f.status, c.status);
      EXPECT_EQ(f.out, "");
      EXPECT_NE(f.err.find(l.reason), std::string::npos) << f.err;
      if (c.status == 2) continue;  // a usage error: the reason, then the usage
      EXPECT_EQ(f.err.rfind("quillmark: " + place + l.colon, 0), 0u) << f.err;
      EXPECT_EQ(std::count(f.err.begin(), f.err.end(), '\n'), 1) << f.err;
      EXPECT_EQ(hasChineseText(f.err), l.env.empty()) << f.err;
    }
  }
}

}  // namespace

// A result JSON and an intervals CSV that hold different numbers of reports
// are not one test's: given the JSON, the CSV is not analyzed as its
// intervals; given the CSV, the JSON's mouse and machine are left out.
TEST_F(AnalyzeTest, AResultAndIntervalsOfTwoTestsAreNotTakenForOne) {
  const Finished a = analyze({kData + "/intervals.csv", "--json"});
  ASSERT_EQ(a.status, 0) << a.err;
  writeFile(tmp.file("r.csv"), readFile(kData + "/intervals.csv"));  // 5 reports
  writeFile(tmp.file("r.json"), replaced(a.out, "\"recorded\": 5,", "\"recorded\": 50,"));
  const struct {
    std::string input;
    int status;
    std::string said;
  } kCases[] = {
      {tmp.file("r.json"), kExitBadRecording,
       "quillmark: " + tmp.file("r.json") + "：没有使用 " + tmp.file("r.csv") +
           "：它有 5 个报告，与结果记录的报告数不符，不是这次测试的间隔文件。\n"},
      {tmp.file("r.csv"), 0,
       "quillmark: 没有使用 " + tmp.file("r.json") + "：它记录了 50 个报告，与 " +
           tmp.file("r.csv") + " 的 5 个不符，不是这个文件的结果。\n"},
  };
  for (const auto& c : kCases) {
    const Finished f = analyze({c.input});
    EXPECT_EQ(f.status, c.status) << f.err;
    EXPECT_EQ(f.err, c.said);
    EXPECT_EQ(f.out.find("取自"), std::string::npos) << f.out;
  }
}

namespace {

// An intervals CSV of a generated stream, its kernel drops marked, every
// report's counts multiplied by `motion` (0: reports without X/Y motion).
std::string csvOf(const genstream::Stream& s, int motion = 1) {
  std::string out = "t_us,interval_us,dx,dy,kernel_drops\n";
  std::size_t drop = 0;
  for (std::size_t i = 0; i < s.reports.size(); ++i) {
    int drops = 0;
    for (; drop < s.drops.size() && s.drops[drop] == i; ++drop) ++drops;
    const int64_t t = s.reports[i].ns - s.reports[0].ns;
    char line[96];
    std::snprintf(line, sizeof line, "%" PRId64 ".%03" PRId64 ",,%d,%d,%s\n", t / 1000, t % 1000,
                  s.reports[i].dx * motion, s.reports[i].dy * motion,
                  drops > 0 ? std::to_string(drops).c_str() : "");
    out += line;
  }
  return out;
}

// The line of a summary that starts with `label`; "" when there is none.
std::string lineWith(const std::string& text, const std::string& label) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(label, 0) == 0) return line;
  return "";
}

}  // namespace

// One verdict, the same everywhere: each situation through `measure` on a
// virtual mouse (or a recording made for it), then `analyze` of what was
// recorded, in Chinese and English, as text, JSON, --brief and the plot's
// title. The verdict and the cause never disagree between surfaces, the
// verdict comes before any figure, and "要求" names only the rate the mouse
// asked for.
TEST_F(AnalyzeTest, OneVerdictAndCauseOnEverySurfaceInBothLanguages) {
  struct Row {
    const char* name;
    const char* mice;                   // virtual mice measured; "" for a recording
    std::function<std::string()> make;  // the recording's CSV, when not measured
    const char* device;                 // the result JSON beside it (its device); "" none
    // The arguments of both commands: a measured row names its target, as
    // the intervals file alone does not say the rate the host polls at.
    std::vector<std::string> args;
    const char* verdict;  // target.verdict
    const char* brief;
    const char* zh;  // the verdict line holds this
    const char* en;
  };
  // A mouse that asks for 8000 Hz, polled at 1000 Hz: usbhid.mousepoll set
  // it, or the host's rounding did. "要求" is only ever the 8000 it asked for.
  const char* mousepoll = R"({"schema": "quillmark-result", "schema_version": 4,
      "device": {"name": "Test Mouse", "transport": "USB", "endpoint_interval_us": 1000,
                 "requested_hz": 8000, "configured_reason": "usbhid_mousepoll"},
      "environment": {"usbhid_mousepoll_ms": 1}})";
  const char* rounded = R"({"schema": "quillmark-result", "schema_version": 3,
      "device": {"name": "Test Mouse", "transport": "USB", "endpoint_interval_us": 1000,
                 "requested_hz": 8000, "configured_reason": "interval_rounding"}})";
  const auto stream = [](double hz, std::size_t dropEvery) {
    return [hz, dropEvery] { return csvOf(genstream::makeStream(hz, 3.0, 0, false, dropEvery)); };
  };
  const Row rows[] = {
      {"healthy fast hand",
       "8000",
       {},
       "",
       {"--target", "8000"},
       "reached",
       "reached 8000 8000 reached\n",
       "判定        达到目标：8000 Hz，目标 8000 Hz",
       "target reached: 8000 Hz, target 8000 Hz"},
      {"slow hand",
       "8000@3000",
       {},
       "",
       {"--target", "8000"},
       "unknown",
       "unknown - 8000 speed_limited\n",
       "判定        手速不足以判断：需约 8000 counts/s（目标 8000 Hz",
       "hand too slow to judge: about 8000 counts/s needed (target 8000 Hz"},
      {"--target above the mouse's rate",
       "1000",
       {},
       "",
       {"--target", "8000"},
       "below",
       "below 1000 8000 device_limited\n",
       "判定        鼠标或其连接未达到目标：1000 Hz，目标 8000 Hz（指定）",
       "the mouse or its link fell short of the target: 1000 Hz, target 8000 Hz"},
      {"too short",
       "2",
       {},
       "",
       {"--target", "1000"},
       "unknown",
       "unknown - 1000 too_short\n",
       "判定        测试太短，无法判断（目标 1000 Hz",
       "too short to judge (target 1000 Hz"},
      {"host-limited",
       "",
       stream(1000, 0),
       mousepoll,
       {},
       "host_limited",
       "reached 1000 1000 host_limited\n",
       "判定        主机把回报率限制在 1000 Hz（目标 1000 Hz，主机设定的回报率）",
       "the host limits the rate to 1000 Hz (target 1000 Hz"},
      {"mouse capped below the host's rounded rate",
       "",
       stream(500, 0),
       rounded,
       {},
       "below",
       "below 500 1000 device_limited\n",
       "判定        鼠标或其连接未达到目标：500 Hz，目标 1000 Hz（主机设定的回报率）",
       "the mouse or its link fell short of the target: 500 Hz, target 1000 Hz"},
      {"kernel drops",
       "",
       stream(8000, 10),
       "",
       {},
       "kernel_drops",
       "near 7200 8000 kernel_drops\n",
       "判定        内核丢弃了报告，读取跟不上：7200 Hz，目标 8000 Hz",
       "the kernel dropped reports, reading fell behind: 7200 Hz, target 8000 Hz"},
      // A Bluetooth LE link, 1-3 reports per 7.5 ms event: judged at the
      // rate the link carries, never blamed on the mouse.
      {"Bluetooth LE events",
       "",
       [] { return csvOf(genstream::makeLinkStream(10, 7'500'000, 1, 3, 300'000, 700'000)); },
       R"({"schema": "quillmark-result", "schema_version": 4,
           "device": {"name": "Test Mouse", "transport": "Bluetooth"}})",
       {},
       "reached",
       "reached 270 270 reached\n",
       "判定        达到目标：270 Hz，目标 270 Hz（按报告网格估计的回报率）",
       "target reached: 270 Hz, target 270 Hz (rate estimated from the report grid)"},
      {"wheel only",
       "",
       [] { return csvOf(genstream::makeStream(1000, 2.0, 0, false, 0), 0); },
       "",
       {},
       "unknown",
       "unknown - 1000 no_motion_data\n",
       "判定        没有带 X/Y 移动的报告，无法判断",
       "no reports with X/Y motion, cannot judge"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string csv = tmp.file("r.csv"), result = tmp.file("r.json");
    std::remove(result.c_str());
    std::vector<std::string> shown;  // the verdict lines, Chinese: measure, analyze
    if (*r.mice != 0) {
      std::vector<std::string> args = {"measure", "--seconds",      "1.2", "--intervals", csv,
                                       "--plot",  tmp.file("r.svg")};
      args.insert(args.end(), r.args.begin(), r.args.end());
      const Finished m = runQuillmark(args, {{"TAVO_VIRTUAL_MICE", r.mice}}, tmp.file("m"));
      ASSERT_EQ(m.status, 0) << m.err;
      shown.push_back(m.out);
      // The plot's title words the verdict as the summary does.
      const std::string zh = std::string(r.zh).substr(std::string("判定        ").size());
      const std::string words = zh.substr(0, std::min(zh.find("："), zh.find("（")));
      EXPECT_NE(readFile(tmp.file("r.svg")).find(words), std::string::npos) << words;
    } else {
      writeFile(csv, r.make());
      if (*r.device != 0) writeFile(result, r.device);
    }
    const std::string input = *r.device != 0 ? result : csv;
    std::vector<std::string> args = {"analyze", input};
    args.insert(args.end(), r.args.begin(), r.args.end());
    const Finished text = runQuillmark(args, {}, tmp.file("a"));
    ASSERT_EQ(text.status, 0) << text.err;
    shown.push_back(text.out);
    for (const std::string& out : shown) {
      EXPECT_NE(lineWith(out, "判定").find(r.zh), std::string::npos) << out;
      // The answer first: after the device (and the source) only.
      EXPECT_LE(out.find("\n判定"), out.find("\n时长")) << out;
      // "要求" names only the rate the mouse asked for.
      for (std::size_t at = 0; (at = out.find("要求", at)) != std::string::npos; at += 6)
        EXPECT_EQ(out.compare(at, std::strlen("要求 8000 Hz"), "要求 8000 Hz"), 0) << out;
    }
    args.push_back("--json");
    const json doc = json::parse(runQuillmark(args, {}, tmp.file("j")).out);
    EXPECT_EQ(doc["target"]["verdict"], r.verdict);
    EXPECT_EQ(doc["whole_test"]["target"]["verdict"], r.verdict);
    EXPECT_EQ(doc["target"]["cause_text"], doc["whole_test"]["cause"]["text"]);
    EXPECT_NE(text.out.find("原因        " + doc["target"]["cause_text"].get<std::string>()),
              std::string::npos);
    args.back() = "--brief";
    const Finished brief = runQuillmark(args, kEnglishEnv, tmp.file("b"));
    EXPECT_EQ(brief.out, r.brief);
    EXPECT_EQ(runQuillmark(args, {}, tmp.file("b")).out, r.brief);  // the same in Chinese
    args.pop_back();
    const Finished en = runQuillmark(args, kEnglishEnv, tmp.file("e"));
    EXPECT_NE(lineWith(en.out, "Verdict").find(r.en), std::string::npos) << en.out;
    EXPECT_EQ(en.out.find("asks for"), en.out.find("asks for 8000 Hz")) << en.out;
  }
}
