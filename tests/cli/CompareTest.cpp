// `quillmark compare` run as a user runs it: two runs of one generated
// stream do not differ, a run with 1 % of its reports delayed differs on
// p99, every kind of input is read, and the plot parses and renders.
#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <algorithm>
#include <filesystem>
#include <functional>

#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <thread>

#include "CjkText.h"
#include "QuillmarkProcess.h"
#include "recordings/GeneratedStream.h"

using clitest::Finished;
using clitest::runQuillmark;
using nlohmann::json;

namespace {

class CompareTest : public ::testing::Test {
 protected:
  // Under LANG=`lang` when one is given (English: not installed here).
  Finished compare(std::vector<std::string> args, const char* lang = nullptr) {
    args.insert(args.begin(), "compare");
    std::vector<std::pair<std::string, std::string>> env;
    if (lang != nullptr)
      env = {{"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANGUAGE", ""}, {"LANG", lang}};
    return runQuillmark(args, env, tmp.file("run"));
  }
  // Five seconds of an 8000 Hz mouse; one report in `delayEvery` comes
  // 300 µs late, and so do the ones after it.
  std::string recording(const std::string& name, uint32_t seed, std::size_t delayEvery = 0) {
    genstream::Stream s = genstream::makeStream(8000, 5.0, 10'000, false, 0, seed);
    int64_t shift = 0;
    for (std::size_t i = 0; i < s.reports.size(); ++i) {
      if (delayEvery != 0 && i % delayEvery == delayEvery / 2) shift += 300'000;
      s.reports[i].ns += shift;
    }
    genstream::writeLibinputRecord(tmp.file(name), s);
    return tmp.file(name);
  }
  // A result folder the way the window saves one, from a recording, for a
  // mouse of the given name on the given port.
  std::string savedRun(const std::string& folder, const std::string& name, const char* port) {
    std::filesystem::create_directories(tmp.file(folder));
    const std::string csv = tmp.file(folder + "/intervals.csv");
    const Finished a = runQuillmark(
        {"analyze", recording("a.yml", 1), "--json", "--intervals", csv}, {}, tmp.file("analyze"));
    EXPECT_EQ(a.status, 0) << a.err;
    json result = json::parse(a.out);
    result["device"]["name"] = name;
    result["environment"]["usb_port_path"] = port;
    writeFile(tmp.file(folder + "/result.json"), result.dump());
    return tmp.file(folder);
  }
  static const json& verdict(const json& doc, const std::string& run, const std::string& figure) {
    for (const json& v : doc["verdicts"]) {
      if (v["setup"] == run && v["figure"] == figure) return v;
    }
    static const json none;
    ADD_FAILURE() << "no verdict on " << figure << " for " << run;
    return none;
  }
  TempDir tmp;
};

TEST_F(CompareTest, SameStreamIsNotDifferentAndDelayedReportsAre) {
  const Finished f =
      compare({recording("a.yml", 1), recording("b.yml", 2), recording("c.yml", 3, 100), "--json"});
  ASSERT_EQ(f.status, 0) << f.err;
  const json doc = json::parse(f.out);
  EXPECT_EQ(doc["schema"], "quillmark-compare");
  ASSERT_EQ(doc["runs"].size(), 3u);
  EXPECT_EQ(doc["schema_version"], 3);
  EXPECT_EQ(doc["bottom_line"][0]["verdict"], "same");
  EXPECT_EQ(doc["bottom_line"][1]["verdict"], "differs");
  for (const char* figure : {"moving_rate_hz", "missed_slots", "kernel_dropped_reports",
                             "distribution", "p50", "p99", "p99_9"}) {
    EXPECT_EQ(verdict(doc, "B", figure)["matters"], false) << figure;
    EXPECT_EQ(verdict(doc, "B", figure)["comparable"], true) << figure;
  }
  const json& p99 = verdict(doc, "C", "p99");
  EXPECT_EQ(p99["distinguishable"], true);
  EXPECT_EQ(p99["matters"], true);
  EXPECT_EQ(p99["margin"], 10.0);                     // 5 % of a 125 µs slot is less than 10 µs
  EXPECT_GT(p99["difference"].get<double>(), 250.0);  // the reports held back 300 µs
  EXPECT_EQ(verdict(doc, "C", "p50")["matters"], false);

  const Finished text = compare({recording("a.yml", 1), recording("c.yml", 3, 100)});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("\n\nB 与 A 不同，且有实际意义：移动回报率低 "), std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("间隔 p99 高 "), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("  间隔 p99：B 比 A 高 "), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("µs：可分辨（p = 0.008），且有实际意义（界限 10.0 µs）\n"),
            std::string::npos)
      << text.out;
  // A difference the shown digits make 0 is "the same", and the distance has a name of its own.
  EXPECT_NE(text.out.find("  间隔 p50：B 与 A 相同\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("  分布距离：B 与 A 相距 0."), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find("D ="), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("每种设置最好测三次"), std::string::npos) << text.out;

  const Finished english =
      compare({recording("a.yml", 1), recording("c.yml", 3, 100)}, "en_US.UTF-8");
  ASSERT_EQ(english.status, 0) << english.err;
  EXPECT_NE(english.out.find("\n\nB differs from A, and it matters: moving rate "),
            std::string::npos)
      << english.out;
  EXPECT_NE(english.out.find("  Interval p99: B is "), std::string::npos) << english.out;
  EXPECT_NE(english.out.find("µs higher than A: distinguishable (p = 0.008), matters (margin "
                             "10.0 µs)\n"),
            std::string::npos)
      << english.out;
  EXPECT_NE(english.out.find("  Interval p50: B is the same as A\n"), std::string::npos)
      << english.out;
  EXPECT_NE(english.out.find("Test each setup three times"), std::string::npos) << english.out;
}

// Columns of a terminal line: CJK characters take two.
int columns(const std::string& line) {
  int n = 0;
  for (const char ch : line) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c & 0xC0) != 0x80) n += c >= 0xE3 ? 2 : 1;
  }
  return n;
}

// Four runs from long paths: the table has a column A to D each and fits in
// 100 columns, and so does every line that names no path; each source is
// named once, under the table.
TEST_F(CompareTest, FourRunsFitInOneHundredColumns) {
  std::vector<std::string> inputs;
  for (const char* name : {"a", "b", "c"}) {
    const std::string folder = std::string("a-rather-long-folder-name-for-run-") + name;
    std::filesystem::create_directories(tmp.file(folder));
    inputs.push_back(recording(folder + "/recording-" + name + ".yml", 1));
  }
  const std::string longName = "无线游戏鼠标 Ultra Light Wireless Pro 2026 Special Edition";
  inputs.push_back(savedRun("a-rather-long-folder-name-for-run-d", longName, "3-1.4"));
  for (const char* lang : {"zh_CN.UTF-8", "en_US.UTF-8"}) {
    const bool english = std::string(lang) == "en_US.UTF-8";
    const Finished f = compare(inputs, lang);
    ASSERT_EQ(f.status, 0) << f.err;
    const std::string table = f.out.substr(0, f.out.find("\n\n"));
    EXPECT_EQ(table.substr(0, table.find('\n')).find_first_not_of(" ABCD"), std::string::npos)
        << table;
    EXPECT_NE(table.find("Generated Mouse"), std::string::npos) << table;
    EXPECT_NE(table.find("无线游戏鼠标 Ultra"), std::string::npos) << table;  // cut to fit
    EXPECT_NE(f.out.find(longName + (english ? ", port 3-1.4\n" : "，端口 3-1.4\n")),
              std::string::npos)
        << f.out;  // in full below
    std::istringstream lines(f.out);
    for (std::string line; std::getline(lines, line);) {
      if (line.find(tmp.file("")) == std::string::npos) {
        EXPECT_LE(columns(line), 100) << line;
      }
      // In English only the mouse's own name is Chinese.
      const std::string words = line.substr(0, line.find("无线游戏鼠标"));
      if (english) {
        EXPECT_TRUE(std::none_of(words.begin(), words.end(), [](char ch) {
          const auto c = static_cast<unsigned char>(ch);
          return (c >= 0xE3 && c <= 0xE9) || c == 0xEF;  // CJK and full-width forms
        })) << line;
      }
    }
    for (const std::string& in : inputs) {
      const std::size_t at = f.out.find(in);
      EXPECT_NE(at, std::string::npos) << in;
      EXPECT_EQ(f.out.find(in, at + 1), std::string::npos) << in;
    }
  }
}

// A result folder, a result JSON without intervals beside it, a recording;
// a file that cannot be read ends the command with one line.
TEST_F(CompareTest, ReadsEveryKindOfInput) {
  const std::string folder = tmp.file("saved");
  std::filesystem::create_directories(folder);
  const Finished m = runQuillmark(
      {"measure", "--seconds", "1", "--json", "--intervals", folder + "/intervals.csv"},
      {{"TAVO_VIRTUAL_MICE", "1000"}}, tmp.file("measure"));
  ASSERT_EQ(m.status, 0) << m.err;
  writeFile(folder + "/result.json", m.out);
  writeFile(tmp.file("alone.json"), m.out);
  const Finished f = compare({folder, tmp.file("alone.json"), recording("a.yml", 1), "--json"});
  ASSERT_EQ(f.status, 0) << f.err;
  const json doc = json::parse(f.out);
  EXPECT_EQ(doc["runs"][0]["intervals"], 999);
  EXPECT_EQ(doc["runs"][1]["intervals"], nullptr);
  EXPECT_EQ(doc["runs"][0]["table"]["设备"], "虚拟鼠标 1000 Hz [Virtual]");
  EXPECT_EQ(doc["runs"][2]["table"]["设备"], "Generated Mouse");
  EXPECT_EQ(verdict(doc, "B", "p50")["comparable"], false);
  EXPECT_EQ(verdict(doc, "B", "p50")["text"], "间隔 p50：无法比较：B 没有这个数值");
  EXPECT_EQ(doc["runs"][1]["table"]["间隔 p50 µs"], "1000.0");  // its stored figure
  EXPECT_EQ(doc["runs"][0]["source"], "intervals");
  EXPECT_EQ(doc["runs"][1]["source"], "stored");
  // One second against five: too few seconds to tell from the noise between runs.
  EXPECT_EQ(verdict(doc, "C", "p50")["decidable"], false);
  EXPECT_EQ(verdict(doc, "C", "p50")["difference"], -875.0);  // 1000 Hz against 8000 Hz
  EXPECT_NE(verdict(doc, "C", "p50")["text"].get<std::string>().find("运行太短"),
            std::string::npos);
  // The rates compare from the summaries too, with or without intervals.
  EXPECT_EQ(verdict(doc, "B", "moving_rate_hz")["matters"], false);
  EXPECT_EQ(verdict(doc, "C", "moving_rate_hz")["matters"], true);

  // A result without the whole test's figures cannot be compared on them, and
  // runs given one label show their spread.
  writeFile(tmp.file("bare.json"), R"({"schema": "quillmark-result", "schema_version": 4})");
  const Finished bare =
      compare({folder, tmp.file("bare.json"), folder, "--label", "直连,集线器,直连"});
  ASSERT_EQ(bare.status, 0) << bare.err;
  EXPECT_NE(bare.out.find("  移动回报率：无法比较：B 没有这个数值\n"), std::string::npos)
      << bare.out;
  EXPECT_EQ(bare.out.find("8000"), std::string::npos) << bare.out;
  EXPECT_EQ(bare.out.rfind("                 A 直连", 0), 0) << bare.out;
  EXPECT_NE(bare.out.find("B 集线器\n运行             2                    1\n"), std::string::npos)
      << bare.out;
  EXPECT_NE(bare.out.find("\nB（集线器）与 A（直连）无法比较"), std::string::npos) << bare.out;
  EXPECT_EQ(compare({folder, folder, "--label", "x"}).status, 2);
  // A recording of one report has no rate and no intervals: nothing is a difference to 0.
  writeFile(tmp.file("one.csv"), "t_us,interval_us\n0.000,\n");
  const Finished one = compare({folder, tmp.file("one.csv"), "--json"});
  ASSERT_EQ(one.status, 0) << one.err;
  const json oneDoc = json::parse(one.out);
  for (const char* figure : {"moving_rate_hz", "missed_slots", "distribution", "p99"}) {
    EXPECT_EQ(verdict(oneDoc, "B", figure)["comparable"], false) << figure;
    EXPECT_EQ(verdict(oneDoc, "B", figure)["difference"], nullptr) << figure;
  }
  EXPECT_EQ(verdict(oneDoc, "B", "moving_rate_hz")["text"], "移动回报率：无法比较：B 没有这个数值");

  // A figure one result could not know (null) is not compared, and says so.
  json unknown = json::parse(m.out);
  unknown["whole_test"]["missed_slots"] = nullptr;
  writeFile(tmp.file("unknown.json"), unknown.dump());
  const json some = json::parse(compare({folder, tmp.file("unknown.json"), "--json"}).out);
  EXPECT_EQ(verdict(some, "B", "missed_slots")["comparable"], false);
  EXPECT_EQ(verdict(some, "B", "missed_slots")["difference"], nullptr);
  EXPECT_EQ(some["runs"][1]["table"]["缺失报告 ‰"], "—");

  // The table and the verdicts read one record, made again from the intervals:
  // an edited stored figure changes neither.
  json edited = json::parse(m.out);
  edited["whole_test"]["moving_rate_hz"] = 4321;
  writeFile(folder + "/result.json", edited.dump());
  const json again = json::parse(compare({folder, recording("a.yml", 1), "--json"}).out);
  EXPECT_EQ(again["runs"][0]["table"]["移动回报率 Hz"], "1000.0");
  EXPECT_EQ(verdict(again, "B", "moving_rate_hz")["first"], 1000.0);
  // Causes in the reader's language: made again, or from the stored kind.
  const Finished en = compare({folder, tmp.file("alone.json")}, "en_US.UTF-8");
  EXPECT_NE(en.out.find("    Cause: Reached 1000 Hz"), std::string::npos) << en.out;
  EXPECT_NE(en.out.find("    Cause: reached the target rate\n"), std::string::npos) << en.out;
  EXPECT_NE(en.out.find("result.json only: the saved figures are used"), std::string::npos);

  const Finished bad = compare({folder, tmp.file("missing.yml")});
  EXPECT_EQ(bad.status, 8);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err.rfind("quillmark: " + tmp.file("missing.yml") + "：无法打开：ENOENT", 0), 0u)
      << bad.err;
}

// Hostile and unlucky inputs: each row gives its status and its line, and
// nothing on standard output when the command fails.
TEST_F(CompareTest, HostileInputsGiveOneLineOrTheSoundResult) {
  const std::string data = QUILLMARK_RECORDINGS_DATA;
  const Finished a =
      runQuillmark({"analyze", data + "/intervals.csv", "--json"}, {}, tmp.file("a"));
  ASSERT_EQ(a.status, 0) << a.err;
  json named = json::parse(a.out);
  named["device"]["name"] = "\x1b]0;pwned\x07\x1b[2J\x1b[31mred";
  json wrongType = json::parse(a.out);
  wrongType["whole_test"]["reports"] = "many";
  std::filesystem::create_directories(tmp.file("old"));
  writeFile(tmp.file("old/result.json"), a.out);  // 5 reports recorded
  const std::string csv = data + "/intervals.csv";
  std::string otherRun = "t_us,interval_us\n";
  for (int i = 0; i < 50; ++i) otherRun += std::to_string(i * 125) + ".000,\n";
  const struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::string> args;
    int status;
    std::string said;
  } kCases[] = {
      {"schema a number",
       {{"s.json", R"({"schema": 5})"}},
       {csv, "s.json"},
       8,
       "s.json：不是 Quillmark 的结果文件\n"},
      {"schema null",
       {{"s.json", R"({"schema": null})"}},
       {csv, "s.json", "--json"},
       8,
       "s.json：不是 Quillmark 的结果文件\n"},
      {"a field of the wrong type",
       {{"w.json", wrongType.dump()}},
       {csv, "w.json"},
       8,
       "w.json：不是 Quillmark 的结果文件（whole_test.reports 的类型不对）"},
      {"nested 100,000 levels",
       {{"deep.json", std::string(100'000, '[') + std::string(100'000, ']')}},
       {csv, "deep.json", "--json"},
       8,
       "deep.json：嵌套超过 64 层"},
      {"missing", {}, {csv, "missing.json"}, 8, "missing.json：无法打开：ENOENT（文件不存在）"},
      {"a folder's CSV of another run",
       {{"old/intervals.csv", otherRun}},
       {csv, "old"},
       0,
       "old/intervals.csv：它有 50 个报告，与结果记录的报告数不符，不是这次测试的间隔文件\n"},
      {"escape sequences in a name",
       {{"named.json", named.dump()}},
       {csv, "named.json"},
       0,
       "]0;pwned[2J[31mred"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    for (const auto& [name, content] : c.files) writeFile(tmp.file(name), content);
    std::vector<std::string> args = {"compare"};
    for (const std::string& arg : c.args)
      args.push_back(arg.starts_with("-") || arg.starts_with("/") ? arg : tmp.file(arg));
    const Finished f = runQuillmark(args, {}, tmp.file("run"));
    EXPECT_EQ(f.status, c.status) << f.err;
    const std::string said = c.status == 0 ? f.out : f.err;
    const std::string shown = c.status == 0 ? c.said : "quillmark: " + tmp.file("") + c.said;
    EXPECT_NE(said.find(shown), std::string::npos) << said;
    EXPECT_EQ(f.out.find('\x1b'), std::string::npos);
    if (c.status != 0) {
      EXPECT_EQ(f.out, "");
      EXPECT_EQ(std::count(f.err.begin(), f.err.end(), '\n'), 1) << f.err;
    }
  }
}

// In the language the locale asks for: an English plot shows no CJK.
TEST_F(CompareTest, PlotParsesAndRenders) {
  const struct {
    const char* lang;
    const char* speedTitle;
    const char* legend;
  } kLanguages[] = {
      {"", "回报率与移动速度", "A  Generated Mouse（"},
      {"en_US.UTF-8", "Report rate and movement speed", "A  Generated Mouse ("},
  };
  const std::vector<std::string> runs = {recording("a.yml", 1), recording("c.yml", 3, 100)};
  for (const auto& l : kLanguages) {
    SCOPED_TRACE(std::string("LANG=") + l.lang);
    const std::string svg = tmp.file("cmp.svg");
    const Finished f = runQuillmark(
        {"compare", runs[0], runs[1], "--plot", svg},
        {{"LANGUAGE", ""}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANG", l.lang}}, tmp.file("run"));
    ASSERT_EQ(f.status, 0) << f.err;
    const std::string text = readFile(svg);
    xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), "cmp.svg", nullptr,
                                  XML_PARSE_NONET);
    ASSERT_NE(doc, nullptr);
    xmlFreeDoc(doc);
    std::size_t curves = 0;
    for (std::size_t at = 0; (at = text.find("<polyline", at)) != std::string::npos; ++at) ++curves;
    EXPECT_EQ(curves, 6u);  // the two distributions, their tails, rate against speed (both moved)
    EXPECT_NE(text.find(l.speedTitle), std::string::npos);
    EXPECT_NE(text.find("1 − F"), std::string::npos);
    EXPECT_NE(text.find("counts/s"), std::string::npos);
    EXPECT_EQ(text.find("计数/秒"), std::string::npos);
    EXPECT_NE(text.find(l.legend), std::string::npos);
    if (*l.lang != '\0') {
      EXPECT_EQ(firstCjk(text), "");
    }
    const std::string png = tmp.file("cmp.png");
    ASSERT_EQ(std::system(("rsvg-convert '" + svg + "' -o '" + png + "'").c_str()), 0);
    EXPECT_GT(readFile(png).size(), 1000u);
  }
}

// The texts of an SVG's <text> elements, tspans joined, with their y.
std::vector<std::pair<double, std::string>> svgTexts(const std::string& svg) {
  std::vector<std::pair<double, std::string>> out;
  xmlDocPtr doc = xmlReadMemory(svg.data(), static_cast<int>(svg.size()), "p.svg", nullptr, 0);
  if (doc == nullptr) return out;
  for (xmlNodePtr n = xmlDocGetRootElement(doc)->children; n != nullptr; n = n->next) {
    if (n->type != XML_ELEMENT_NODE || xmlStrcmp(n->name, BAD_CAST "text") != 0) continue;
    xmlChar* y = xmlGetProp(n, BAD_CAST "y");
    xmlChar* content = xmlNodeGetContent(n);
    out.emplace_back(y ? std::atof(reinterpret_cast<char*>(y)) : 0.0,
                     reinterpret_cast<char*>(content));
    xmlFree(y);
    xmlFree(content);
  }
  xmlFreeDoc(doc);
  return out;
}

// One mouse with a long name, saved twice from two ports: the legend names
// both in full and apart, above the curves; each run's dots stay in sight;
// the rate axis has round ticks.
TEST_F(CompareTest, PlotTellsTwoPortsOfOneMouseApart) {
  const std::string name(130, 'M');
  const std::vector<std::string> folders = {savedRun("port-3-1", name, "3-1"),
                                            savedRun("port-3-2", name, "3-2")};
  const std::string svg = tmp.file("ports.svg");
  ASSERT_EQ(compare({folders[0], folders[1], "--plot", svg}).status, 0);
  const std::string text = readFile(svg);
  std::vector<std::string> legend;
  double legendBottom = 0, curvesTop = 1e9;
  for (const auto& [y, t] : svgTexts(text)) {
    if (t.find("个间隔") != std::string::npos) legend.push_back(t), legendBottom = y;
    if (t == "100%") curvesTop = std::min(curvesTop, y);
  }
  ASSERT_EQ(legend.size(), 2u);
  EXPECT_NE(legend[0], legend[1]);
  for (const std::string& l : legend) EXPECT_NE(l.find(name), std::string::npos) << l;
  EXPECT_LT(legendBottom + 20, curvesTop);
  std::set<std::string> dots;
  std::size_t count = 0;
  const std::regex circle(R"re(<circle cx="([\d.]+)" cy="([\d.]+)")re");
  for (std::sregex_iterator it(text.begin(), text.end(), circle), end; it != end; ++it, ++count)
    dots.insert((*it)[1].str() + "," + (*it)[2].str());
  EXPECT_GT(count, 2u);
  EXPECT_EQ(dots.size(), count);
  const std::regex hz(R"re(>(\d+) Hz</text>)re");
  for (std::sregex_iterator it(text.begin(), text.end(), hz), end; it != end; ++it) {
    const long v = std::stol((*it)[1].str());
    long step = 1;
    while (step * 10 <= v) step *= 10;
    EXPECT_EQ(v % std::max(1L, step / 2), 0) << v;  // 1, 2 or 5 of its decade, or a half
  }
}

// The user's workflow: three setups of three runs each (8000 Hz, 1000 Hz, and
// the 8000 Hz mouse again), measured with --repeat and --label, read as
// folders without options: the bottom line names exactly the 1000 Hz setup,
// and the labelled repeats of one mouse never matter against each other.
TEST_F(CompareTest, ThreeSetupsOfThreeRunsGiveOneBottomLineEach) {
  const std::string out = tmp.file("runs");
  const struct {
    const char* label;
    const char* mouse;
  } kSetups[] = {{"port-a", "8000"}, {"slow", "1000"}, {"port-b", "8000"}};
  std::vector<std::thread> measuring;
  for (const auto& setup : kSetups) {
    measuring.emplace_back([&, setup] {
      const Finished m = runQuillmark(
          {"measure", "-s", "2", "--repeat", "3", "--label", setup.label, "--out", out},
          {{"TAVO_VIRTUAL_MICE", setup.mouse}}, tmp.file(std::string("m-") + setup.label));
      EXPECT_EQ(m.status, 0) << m.err;
    });
  }
  for (std::thread& t : measuring) t.join();
  std::vector<std::string> folders;
  for (const auto& e : std::filesystem::directory_iterator(out)) folders.push_back(e.path());
  std::sort(folders.begin(), folders.end());  // port-a, port-b, slow
  ASSERT_EQ(folders.size(), 9u);
  for (const char* lang : {"zh_CN.UTF-8", "en_US.UTF-8"}) {
    const bool english = std::string(lang) == "en_US.UTF-8";
    const Finished f = compare(folders, lang);
    ASSERT_EQ(f.status, 0) << f.err;
    const std::string bottom = f.out.substr(f.out.find("\n\n") + 2);
    EXPECT_EQ(bottom.substr(0, bottom.find("\n\n") + 1),
              english
                  ? "B (port-b) is the same as A (port-a)\n"
                    "C (slow) differs from A (port-a), and it matters: moving rate 7000 Hz lower "
                    "(87.5 %), …\n"
                  : "B（port-b）与 A（port-a）相同\n"
                    "C（slow）与 A（port-a）不同，且有实际意义：移动回报率低 7000 Hz（87.5 %），"
                    "间隔 p50 高 875 µs，等\n")
        << f.out;
    EXPECT_NE(f.out.find(english ? "A port-a             B port-b             C slow\nRuns "
                                 : "A port-a             B port-b             C slow\n运行 "),
              std::string::npos)
        << f.out;
    EXPECT_EQ(f.out.find(english ? "more by 0" : "多 0"), std::string::npos) << f.out;
    EXPECT_NE(f.out.find(english ? "Missed reports: B is the same as A" : "缺失报告：B 与 A 相同"),
              std::string::npos)
        << f.out;
  }
  const Finished j = compare([&] {
    std::vector<std::string> a = folders;
    a.push_back("--json");
    return a;
  }());
  const json d = json::parse(j.out);
  for (const json& v : d["verdicts"]) {
    if (v["setup"] == "B") {
      EXPECT_EQ(v["matters"], false) << v.dump();
    }
  }
  EXPECT_EQ(d["setups"][2]["runs"], json({"C1", "C2", "C3"}));
  EXPECT_EQ(d["repeats"].size(), 3u);
  // One short run of each: the percentiles are as plainly apart as the rate, never "too short".
  for (const char* lang : {"zh_CN.UTF-8", "en_US.UTF-8"}) {
    const Finished one = compare({folders[0], folders[6]}, lang);
    EXPECT_NE(one.out.find(std::string(lang) == "en_US.UTF-8"
                               ? "Interval p50: B is 875.0 µs higher than A: every second 10× the "
                                 "margin (10.0 µs) apart, matters\n"
                               : "间隔 p50：B 比 A 高 875.0 µs：可分辨（每秒都差 10 倍界限以上），"
                                 "且有实际意义（界限 10.0 µs）\n"),
              std::string::npos)
        << one.out;
    EXPECT_EQ(one.out.find("p99.9：B 比 A 高 875.0 µs，但"), std::string::npos) << one.out;
  }
  // --baseline judges against another setup.
  std::vector<std::string> args = folders;
  args.insert(args.end(), {"--baseline", "slow"});
  const Finished b = compare(args);
  EXPECT_NE(b.out.find("\nA（port-a）与 C（slow）不同，且有实际意义"), std::string::npos) << b.out;
}

// A figure a run does not have is "—" in the table and "无法比较" in the
// verdicts: reports all at one stamp, a wheel that never moved X or Y.
TEST_F(CompareTest, MissingFiguresAreDashesAndCannotBeCompared) {
  std::string equal = "t_us,interval_us,dx,dy,kernel_drops\n";
  for (int i = 0; i < 1000; ++i) equal += "5000.000," + std::string(i ? "0.000" : "") + ",1,0,\n";
  std::string wheel = "t_us,interval_us,dx,dy,kernel_drops\n";
  for (int i = 0; i < 8000; ++i) wheel += std::to_string(i * 125) + ".000,,0,0,\n";
  writeFile(tmp.file("equal.csv"), equal);
  writeFile(tmp.file("wheel.csv"), wheel);
  const std::vector<std::string> runs = {recording("a.yml", 1), tmp.file("equal.csv"),
                                         tmp.file("wheel.csv")};
  const Finished f = compare(runs);
  ASSERT_EQ(f.status, 0) << f.err;
  for (const char* row : {"间隔 p50 µs", "间隔 p99 µs", "移动回报率 Hz"}) {
    const std::size_t at = f.out.find(std::string("\n") + row);
    ASSERT_NE(at, std::string::npos) << row;
    const std::string line = f.out.substr(at + 1, f.out.find('\n', at + 1) - at - 1);
    EXPECT_EQ(line.find("—"), line.rfind("—", line.rfind("—") - 1)) << line;  // two, B's and C's
    EXPECT_EQ(line.substr(line.size() - 3), "—") << line;
  }
  for (const char* who : {"B", "C"}) {
    for (const char* figure : {"间隔 p50", "间隔 p99", "分布距离"}) {
      EXPECT_NE(f.out.find(std::string("  ") + figure + "：无法比较：" + who + " 没有这个数值"),
                std::string::npos)
          << figure << " " << who << "\n"
          << f.out;
    }
  }
}

// Runs and labels a user gets wrong: one line each, status 2.
TEST_F(CompareTest, RunsAndLabelsThatCannotBeUsed) {
  const std::string a = recording("a.yml", 1);
  const struct {
    std::vector<std::string> args;
    const char* said;
  } kCases[] = {
      {{a}, "quillmark: compare 至少要两个运行，只给了 1 个\n"},
      {{a, a, "--label", "x"},
       "quillmark: --label 有 1 个名字，运行却有 2 个：每个运行一个，按顺序\n"},
      {{a, a, "--label", "x, "}, "quillmark: --label 的第 2 个名字是空的\n"},
      {{a, a, "--label", "x,x"}, "quillmark: 所有运行同名，只有一种设置：没有可比的\n"},
      {{a, a, "--baseline", "z"}, "quillmark: --baseline z：没有这个名字的设置\n"},
  };
  for (const auto& c : kCases) {
    const Finished f = compare(c.args);
    EXPECT_EQ(f.status, 2) << f.err;
    EXPECT_EQ(f.err, c.said);
    EXPECT_EQ(f.out, "");
  }
}

}  // namespace

namespace {

// A copy of a result folder with its JSON changed by `edit`, with or
// without its intervals (without them, the stored figures are read).
std::string editedCopy(const std::string& from, const std::string& to,
                       const std::function<void(json&)>& edit, bool withIntervals = true) {
  std::filesystem::create_directories(to);
  if (withIntervals) std::filesystem::copy_file(from + "/intervals.csv", to + "/intervals.csv");
  json result = json::parse(readFile(from + "/result.json"));
  edit(result);
  writeFile(to + "/result.json", result.dump());
  return to;
}

}  // namespace

// Results of versions 2, 3 and 4 side by side, each read with its own
// meanings; a recording too short to judge says so.
TEST_F(CompareTest, EachResultVersionIsReadWithItsOwnMeanings) {
  const std::string v4 = savedRun("v4", "Mouse", "3-1");
  // Version 3: the top-level target was the live window's figure; the whole
  // test's verdict, and why it was unknown, were under whole_test. Stored
  // only, so the stored verdict is what is read.
  const std::string v3 = editedCopy(
      v4, tmp.file("v3"),
      [](json& r) {
        r["schema_version"] = 3;
        r["target"] = {{"hz", 8000}, {"verdict", "below"}, {"verdict_text", "远低于目标"}};
        r["whole_test"]["target"] = {{"verdict", "unknown"},
                                     {"verdict_text", "无数据"},
                                     {"reason", "手速不足以判断：需约 16000 counts/s"}};
      },
      false);
  // Version 2: a USB mouse's endpoint interval was its descriptor's, bInterval
  // 8 taken as 8 ms: the rate it asks for, not the one the host polls at.
  const std::string v2 = editedCopy(v4, tmp.file("v2"), [](json& r) {
    r["schema_version"] = 2;
    r["device"]["transport"] = "USB";
    r["device"]["endpoint_interval_us"] = 8000;
    r["whole_test"]["target"] = {{"verdict", "reached"}, {"verdict_text", "达到目标"}};
  });
  const std::string tiny = std::string(QUILLMARK_RECORDINGS_DATA) + "/intervals.csv";
  const Finished f = compare({v4, v3, v2, tiny});
  ASSERT_EQ(f.status, 0) << f.err;
  // In order: each run's source, then its verdict.
  std::size_t at = 0;
  for (const char* said :
       {"\nA  ", "   判定：达到目标\n", "\nB  ", "   判定：手速不足以判断：需约 16000 counts/s\n",
        "\nC  ", "   判定：达到目标\n", "\nD  ", "   判定：测试太短，无法判断\n"}) {
    at = f.out.find(said, at);
    EXPECT_NE(at, std::string::npos) << said << "\n" << f.out;
    if (at == std::string::npos) break;
  }
  EXPECT_EQ(f.out.find("远低于目标"), std::string::npos) << f.out;
  // analyze of the version-2 folder does not take 125 Hz for the host's rate.
  const Finished a = runQuillmark({"analyze", v2}, {}, tmp.file("a2"));
  ASSERT_EQ(a.status, 0) << a.err;
  EXPECT_NE(
      a.out.find("判定        达到目标：8000 Hz，目标 8000 Hz（最接近报告网格的标准回报率）\n"),
      std::string::npos)
      << a.out;
}
