// The three result files as a user gets them: written to disk, read back.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>

#include "CjkText.h"
#include "ResultsTestSupport.h"
#include "i18n/Translate.h"
#include "results/IntervalPlot.h"
#include "results/IntervalsCsv.h"
#include "results/ResultJson.h"
#include "results/TextFormat.h"

namespace fs = std::filesystem;
using namespace resultstest;

namespace {

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class ResultFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::path(::testing::TempDir()) /
          ("quillmark-results-" + std::to_string(getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override {
    if (std::getenv("QUILLMARK_KEEP_TEST_FILES") == nullptr) fs::remove_all(dir);
  }
  fs::path dir;
};

struct Image {
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;
  const uint8_t* px(int x, int y) const { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
};

Image readPng(const fs::path& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Image out;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return out;
  image.format = PNG_FORMAT_RGBA;
  out.rgba.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr)) return Image{};
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  return out;
}

// Renders like a user's viewer would; the test needs librsvg's tool.
Image renderSvg(const fs::path& svg) {
  const fs::path png = svg.string() + ".png";
  const std::string cmd = "rsvg-convert -o '" + png.string() + "' '" + svg.string() + "'";
  if (std::system(cmd.c_str()) != 0) return Image{};
  return readPng(png);
}

// Pixels of the envelope (blue) or the outlier marks (amber).
int plotMarks(const Image& img, int x0, int x1, int y0, int y1) {
  int n = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const uint8_t* p = img.px(x, y);
      const bool blue = p[2] > 150 && p[0] < 90;
      const bool amber = p[0] > 200 && p[1] > 120 && p[2] < 110;
      n += blue || amber;
    }
  }
  return n;
}

}  // namespace

TEST_F(ResultFilesTest, JsonSummaryHoldsIdentityFiguresAndRules) {
  results::TestRecord r = recordOf(steadyStamps(8000, 125'000), 8000);
  r.stats.avgHz = 7990.5f;
  r.stats.baselineUs = 125.0f;
  r.stats.baselineHz = 8000.0f;
  r.stats.kernelDrops = 2;
  r.stats.kernelDroppedReports = 17;
  r.end = results::TestEnd::Interrupted;
  const fs::path path = dir / "result.json";
  ASSERT_TRUE(results::writeResultJson(completed(r), path.string()));
  const auto j = nlohmann::json::parse(readFile(path));
  EXPECT_EQ(j["schema"], "quillmark-result");
  EXPECT_EQ(j["schema_version"], 4);
  EXPECT_EQ(j["device"]["vid_pid"], "1234:abcd");
  EXPECT_EQ(j["device"]["name"], "Acme <Pro> & Mouse [USB]");
  EXPECT_EQ(j["device"]["endpoint_interval_us"], 125);
  EXPECT_EQ(j["test"]["ended"], "interrupted");
  EXPECT_EQ(j["reports"]["kernel_dropped_reports"], 17);
  EXPECT_EQ(j["target"]["verdict"], "reached");
  EXPECT_EQ(j["target"]["verdict_text"], "达到目标");
  EXPECT_EQ(j["target"]["brief"], "reached");
  EXPECT_EQ(j["live"]["target"]["compared_hz"], 7990.5);
  EXPECT_EQ(j["rules"]["anomaly_factor"], 1.5);
  EXPECT_EQ(j["intervals_file"]["recorded"], 8000);
  EXPECT_EQ(j["intervals_file"]["truncated"], false);
  EXPECT_EQ(j["device"]["configured_hz"], 8000.0);
  EXPECT_TRUE(j["device"]["requested_hz"].is_null());
  EXPECT_TRUE(j["device"]["configured_reason"].is_null());
  EXPECT_TRUE(j["environment"]["usbhid_mousepoll_ms"].is_null());
  EXPECT_EQ(j["environment"]["virtual_device"], false);
  EXPECT_TRUE(j["environment"]["usb_port_path"].is_null());
  EXPECT_FALSE(j["environment"]["kernel_release"].get<std::string>().empty());
  const auto& w = j["whole_test"];
  EXPECT_EQ(w["reports"], 8000);
  EXPECT_EQ(w["moving_rate_hz"], 8000.0);
  EXPECT_EQ(w["interval_us"]["p99_9"], 125.0);
  EXPECT_EQ(w["target"]["verdict"], "reached");
  EXPECT_EQ(w["target"]["source"], "window");
  EXPECT_EQ(w["grid"], nlohmann::json::parse(R"({"period_us": 125.0, "source": "configured",
                                                 "status": "ok", "reason": null,
                                                 "delivery_period_us": null,
                                                 "reports_per_delivery": null})"));
  EXPECT_EQ(w["missed_slots"], 0);
  EXPECT_EQ(w["missed_slots_rule"], "every_empty_slot");  // the stamps hold no motion
  EXPECT_TRUE(w["idle_slots"].is_null());
  EXPECT_EQ(w["segments"], nlohmann::json::array());
  // Local time with its offset, to the millisecond.
  EXPECT_TRUE(
      std::regex_match(j["test"]["start"].get<std::string>(),
                       std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")));
}

// An 8000 Hz mouse delivering 4000 Hz, its motion not recorded: the whole
// test cannot tell the mouse from a slow hand, whatever the window's average said.
TEST_F(ResultFilesTest, WholeTestVerdictComparesTheMovingRate) {
  results::TestRecord r = recordOf(steadyStamps(4000, 250'000), 8000);
  r.stats.avgHz = 6000.0f;
  r.device.portPath = "3-1.4";
  r.device.busSpeedMbps = 480;
  // A mouse asking for 1000 Hz, polled at 8000 Hz as usbhid's mousepoll=1 asks.
  r.device.requestedIntervalUs = 1000;
  r.device.configuredReason = "usbhid_mousepoll";
  r.device.usbhidMousepollMs = 1;
  const auto j = nlohmann::json::parse(results::resultJson(completed(r)));
  // The window's 500 ms figure is live.target; the test's verdict is target.
  EXPECT_EQ(j["live"]["target"]["ratio"], 0.75);
  EXPECT_EQ(j["live"]["target"]["verdict_text"], "略低于目标");
  EXPECT_EQ(j["target"]["verdict"], "unknown");
  EXPECT_EQ(j["target"]["unknown_reason"], "no_motion_data");
  EXPECT_EQ(j["device"]["configured_hz"], 8000.0);
  EXPECT_EQ(j["device"]["requested_hz"], 1000.0);
  EXPECT_EQ(j["device"]["configured_reason"], "usbhid_mousepoll");
  EXPECT_EQ(j["environment"]["usbhid_mousepoll_ms"], 1);
  EXPECT_EQ(j["whole_test"]["target"]["ratio"], nullptr);
  EXPECT_EQ(j["whole_test"]["target"]["verdict"], "unknown");
  EXPECT_EQ(j["whole_test"]["target"]["reason"], "没有移动数据，无法判断手速是否足够");
  EXPECT_EQ(j["whole_test"]["moving_rate_hz"], 4000.0);
  EXPECT_EQ(j["environment"]["hub_depth"], 1);
  EXPECT_EQ(j["environment"]["bus_speed_mbps"], 480.0);

  // Reports all stamped at one instant: no moving time, so no rate, no
  // verdict and no slots, never an infinite rate.
  const auto same = nlohmann::json::parse(
      results::resultJson(completed(recordOf(std::vector<int64_t>(50, 1'000'000'000), 8000))));
  const auto& w = same["whole_test"];
  EXPECT_TRUE(w["moving_rate_hz"].is_null());
  EXPECT_EQ(w["equal_stamps"], 49);
  EXPECT_TRUE(w["target"]["compared_hz"].is_null());
  EXPECT_EQ(w["target"]["verdict"], "unknown");
  EXPECT_EQ(w["grid"]["status"], "none");
  EXPECT_TRUE(w["missed_slots"].is_null() && w["lateness_us"].is_null());
  EXPECT_EQ(w["target"]["unknown_reason"], "too_short");
  EXPECT_EQ(w["cause"]["kind"], "too_short");
}

TEST_F(ResultFilesTest, IsoTimeCarriesTheZoneOffset) {
  setenv("TZ", "Asia/Shanghai", 1);
  tzset();
  const auto t =
      std::chrono::system_clock::time_point(std::chrono::milliseconds(1'780'000'000'125));
  EXPECT_EQ(results::isoLocalTime(t), "2026-05-29T04:26:40.125+08:00");
  unsetenv("TZ");
  tzset();
}

TEST_F(ResultFilesTest, CsvHasOneLinePerReportWithSubMicrosecondDecimalsAndItsMotion) {
  results::TestRecord r = recordOf({}, 8000);
  const auto known = [](int16_t dx, int16_t dy) {
    return ReportMotion{dx, dy, 0, 0, 0, ReportMotion::kKnown};
  };
  // The last report's motion is not known: both columns stay empty. Two
  // kernel drops before the third report, one before the fourth.
  r.stamps = StampSeries::fromVectors({5'000'000'000, 5'000'125'250, 5'000'250'001, 5'000'375'000},
                                      {known(1, 0), known(-3, 32767), known(0, -32768), {}},
                                      StampSeries::dropMarks({2, 2, 3}));
  const fs::path path = dir / "intervals.csv";
  ASSERT_TRUE(results::writeIntervalsCsv(r, path.string()));
  EXPECT_EQ(readFile(path),
            "t_us,interval_us,dx,dy,kernel_drops\n"
            "0.000,,1,0,\n"
            "125.250,125.250,-3,32767,\n"
            "250.001,124.751,0,-32768,2\n"
            "375.000,124.999,,,1\n");
}

TEST_F(ResultFilesTest, TruncatedTestSaysSoInTheJsonAndKeepsTheFirstReports) {
  results::StampRecorder recorder(4);
  for (int i = 0; i < 9; ++i) {
    recorder.add(std::chrono::steady_clock::time_point(std::chrono::microseconds(1000 * i)));
  }
  results::TestRecord r = recordOf({}, 1000);
  r.stamps = recorder.snapshot();
  r.stampLimit = recorder.limit();
  const auto j = nlohmann::json::parse(results::resultJson(completed(r)));
  EXPECT_EQ(j["intervals_file"]["truncated"], true);
  EXPECT_EQ(j["intervals_file"]["limit"], 4);
  EXPECT_TRUE(j["intervals_file"].contains("note"));
  const std::string csv = results::intervalsCsv(r.stamps);
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 5);  // header + 4
}

TEST_F(ResultFilesTest, WriteFailureIsAnErrorTextAndLeavesNothingBehind) {
  const results::TestRecord r = recordOf(steadyStamps(10, 1'000'000), 1000);
  const fs::path missing = dir / "no-such-folder" / "result.json";
  const results::WriteResult result = results::writeResultJson(completed(r), missing.string());
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find(missing.string()), std::string::npos) << result.error;
  EXPECT_NE(result.error.find("ENOENT"), std::string::npos) << result.error;

  // A folder in the way of the final name: the temporary file is removed.
  fs::create_directory(dir / "taken.svg");
  EXPECT_FALSE(results::writeIntervalPlot(completed(r), (dir / "taken.svg").string()).ok);
  // A record nobody completed is a fault in the program, never a file of
  // guessed figures.
  EXPECT_DEATH(results::writeResultJson(r, (dir / "guessed.json").string()), "completeRecord");
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++entries;
  EXPECT_EQ(entries, 1u);
}

TEST_F(ResultFilesTest, RewriteReplacesTheWholeFileWithUsualMode) {
  const fs::path path = dir / "intervals.csv";
  ASSERT_TRUE(
      results::writeIntervalsCsv(recordOf(steadyStamps(500, 1'000'000), 1000), path.string()));
  ASSERT_TRUE(
      results::writeIntervalsCsv(recordOf(steadyStamps(3, 1'000'000), 1000), path.string()));
  EXPECT_EQ(readFile(path),
            "t_us,interval_us,dx,dy,kernel_drops\n0.000,,,,\n1000.000,1000.000,,,\n"
            "2000.000,1000.000,,,\n");
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

// A slow hand on an 8000 Hz mouse: one count per report at 2000 Hz. The plot
// says why under the intervals and draws the rate against the speed below;
// the JSON says the same, each in the language chosen.
TEST_F(ResultFilesTest, PlotOfAReportsWithMotionShowsTheCauseAndTheSpeedPlot) {
  const std::vector<int64_t> ns = steadyStamps(4000, 500'000);
  ReportMotion one;
  one.dx = 1;
  one.flags = ReportMotion::kKnown;
  results::TestRecord r = recordOf(ns, 8000);
  r.stamps = StampSeries::fromVectors(ns, std::vector<ReportMotion>(ns.size(), one));
  const struct {
    i18n::Language language;
    const char* speedTitle;
    const char* cause;
    const char* yardstick;  // the verdict's, not a rate asked for
    const char* verdictText;
    const char* reason;
  } kLanguages[] = {
      {i18n::Language::English, "Report rate and hand speed",
       "Moving too slowly: about 8000 counts/s or more are needed for 8000 Hz", ">Target 8000 Hz<",
       "no data", "hand too slow to judge: about 8000 counts/s needed"},
      {i18n::Language::Chinese, "回报率与手速", "移动速度不足：约 8000 counts/s 以上才达到 8000 Hz",
       ">目标 8000 Hz<", "无数据", "手速不足以判断：需约 8000 counts/s"},
  };
  const fs::path path = dir / "motion.svg";
  std::string svg;
  for (const auto& l : kLanguages) {
    SCOPED_TRACE(i18n::languageCode(l.language));
    i18n::initTranslation(l.language);
    // The cause and the reasons are worded when the record is completed.
    const results::TestRecord done = completed(r);
    ASSERT_TRUE(results::writeIntervalPlot(done, path.string()));
    svg = readFile(path);
    const std::string json = results::resultJson(done);
    i18n::initTranslation(i18n::Language::Chinese);
    EXPECT_NE(svg.find(l.speedTitle), std::string::npos);
    EXPECT_NE(svg.find(l.cause), std::string::npos);
    EXPECT_NE(svg.find(l.yardstick), std::string::npos);
    const auto j = nlohmann::json::parse(json);
    EXPECT_EQ(j["whole_test"]["cause"]["kind"], "speed_limited");
    EXPECT_EQ(j["whole_test"]["cause"]["text"].get<std::string>().rfind(l.cause, 0), 0u);
    EXPECT_EQ(j["whole_test"]["target"]["verdict"], "unknown");
    EXPECT_EQ(j["whole_test"]["target"]["reason"], l.reason);
    EXPECT_EQ(j["target"]["verdict_text"], l.reason);
    EXPECT_EQ(j["live"]["target"]["verdict_text"], l.verdictText);
    if (l.language == i18n::Language::English) {
      EXPECT_EQ(firstCjk(svg), "");
      EXPECT_EQ(firstCjk(json), "");
    }
  }
  EXPECT_NE(svg.find("原因：移动速度不足"), std::string::npos);
  xmlDocPtr doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET);
  EXPECT_NE(doc, nullptr);
  xmlFreeDoc(doc);
  const Image image = renderSvg(path);
  EXPECT_EQ(image.height, 964);  // the speed plot's panel below the 664 of the intervals
  // Its one band is a bar among the places of others, with marks beside it,
  // and the axis title keeps a margin from the bottom edge.
  int barColumns = 0, lowestInk = 0;
  for (int x = 80; x < 1160; ++x) barColumns += plotMarks(image, x, x + 1, 870, 900) > 0;
  for (int y = 700; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (image.px(x, y)[0] > 60) lowestInk = y;
    }
  }
  EXPECT_GT(barColumns, 20);
  EXPECT_LT(barColumns, 1080 / 4);
  EXPECT_LT(lowestInk, image.height - 14);
  std::size_t speedMarks = 0;  // numbers under the speed axis
  const std::string mark = "text-anchor=\"middle\">";
  for (std::size_t at = svg.find("回报率与手速"); (at = svg.find(mark, at)) != std::string::npos;)
    speedMarks += std::isdigit(static_cast<unsigned char>(svg[at += mark.size()])) != 0;
  EXPECT_GE(speedMarks, 4u);
}

TEST_F(ResultFilesTest, PlotIsXmlThatRendersAndShowsAStall) {
  // 10 s at 1000 Hz with one 30 ms stall at 5 s.
  results::TestRecord stalled = recordOf(steadyStamps(10'000, 1'000'000, 30'000'000), 1000);
  stalled.stats.baselineUs = 1000.0f;
  results::TestRecord steady = recordOf(steadyStamps(10'000, 1'000'000), 1000);
  steady.stats.baselineUs = 1000.0f;
  const fs::path withStall = dir / "stall.svg";
  const fs::path without = dir / "steady.svg";
  ASSERT_TRUE(results::writeIntervalPlot(completed(stalled), withStall.string()));
  ASSERT_TRUE(results::writeIntervalPlot(completed(steady), without.string()));

  for (const fs::path& p : {withStall, without}) {
    xmlDocPtr doc = xmlReadFile(p.c_str(), nullptr, XML_PARSE_NONET);
    ASSERT_NE(doc, nullptr) << p;
    EXPECT_STREQ(reinterpret_cast<const char*>(xmlDocGetRootElement(doc)->name), "svg");
    xmlFreeDoc(doc);
  }
  // A long name from the hardware stays whole and escaped.
  results::TestRecord longName = steady;
  longName.device.name = std::string(400, '&') + " <end>";
  const std::string longSvg = results::intervalPlotSvg(completed(longName));
  xmlDocPtr longDoc = xmlReadMemory(longSvg.data(), static_cast<int>(longSvg.size()), "long.svg",
                                    nullptr, XML_PARSE_NONET);
  EXPECT_NE(longDoc, nullptr);
  xmlFreeDoc(longDoc);
  EXPECT_NE(longSvg.find("&amp;&amp; &lt;end&gt;</text>"), std::string::npos);

  const std::string svg = readFile(withStall);
  EXPECT_NE(svg.find("报告间隔随时间变化"), std::string::npos);
  EXPECT_NE(svg.find("Acme &lt;Pro&gt; &amp; Mouse"), std::string::npos);

  const Image a = renderSvg(withStall);
  const Image b = renderSvg(without);
  ASSERT_GT(a.width, 0) << "rsvg-convert (librsvg2-bin) failed";
  ASSERT_EQ(a.width, b.width);
  // Well above the 1 ms band (at y 326 or 403, as the axis spans 2 or 3 decades),
  // around the middle of the time axis (x about 490).
  EXPECT_GT(plotMarks(a, 470, 512, 100, 250), 0);
  EXPECT_EQ(plotMarks(b, 470, 512, 100, 250), 0);
  // The band itself is drawn in both.
  EXPECT_GT(plotMarks(b, 100, 880, 300, 420), 500);
}

TEST_F(ResultFilesTest, TenMinutesAt8000HzWithManyOutliersStaysUnderOneMegabyte) {
  std::vector<int64_t> ns;
  int64_t t = 0;
  for (int i = 0; i < 4'800'000; ++i) {
    ns.push_back(t);
    t += (i % 97 == 0) ? 400'000 : 125'000;  // an outlier every 97 reports
  }
  results::TestRecord r = recordOf(ns, 8000);
  r.stats.baselineUs = 125.0f;
  const std::string svg = results::intervalPlotSvg(completed(r));
  EXPECT_LT(svg.size(), 1'000'000u);
  EXPECT_NE(svg.find("偏离基准 1.5 倍以上 49485 个"), std::string::npos);
}

// Whatever bytes a device's name holds, the plot is well-formed XML and a
// terminal line or a folder name gets nothing that could reorder or hide text.
TEST_F(ResultFilesTest, HostileDeviceNamesGiveValidXmlAndPlainLines) {
  const struct {
    const char* name;
    const char* plain;
  } kNames[] = {
      {"Mouse \xEF\xBF\xBE\xEF\xBF\xBF end", "Mouse  end"},            // U+FFFE, U+FFFF
      {"Bad \xFF\xC3( bytes", "Bad \xEF\xBF\xBD\xEF\xBF\xBD( bytes"},  // invalid UTF-8
      {"evil\xE2\x80\xAEgnp.exe", "evilgnp.exe"},                      // U+202E
      {"iso\xE2\x81\xA6"
       "late\xE2\x81\xA9"
       "d",
       "isolated"},  // U+2066, U+2069
      {"c1\xC2\x85\xC2\x9B"
       "31m",
       "c131m"},  // NEL, CSI
      {"tab\tline\nend\x1B[2J", "tablineend[2J"},
      {"鼠标 \xF0\x9F\x96\xB1 ok", "鼠标 \xF0\x9F\x96\xB1 ok"},  // kept as it is
  };
  results::TestRecord r = recordOf(steadyStamps(100, 1'000'000), 1000);
  for (const auto& n : kNames) {
    SCOPED_TRACE(n.name);
    EXPECT_EQ(results::plainText(n.name), n.plain);
    r.device.name = n.name;
    const std::string svg = results::intervalPlotSvg(completed(r));
    xmlDocPtr doc = xmlReadMemory(svg.data(), static_cast<int>(svg.size()), "name.svg", nullptr,
                                  XML_PARSE_NONET);
    EXPECT_NE(doc, nullptr);
    xmlFreeDoc(doc);
    EXPECT_NE(svg.find(results::xmlText(n.plain)), std::string::npos);
  }
}
