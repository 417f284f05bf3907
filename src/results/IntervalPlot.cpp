#include "results/IntervalPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <vector>

#include "analysis/PollingRules.h"
#include "i18n/Translate.h"
#include "results/PlotScale.h"
#include "results/ResultJson.h"
#include "results/SpeedPlot.h"
#include "results/TextFormat.h"

namespace results {

namespace {

using plot::Box;
using plot::LogAxis;

constexpr int kWidth = 1200;
constexpr int kHeight = 664;  // the cause in words below the notes under the time axis
constexpr Box kPlot{80, 96, 820, 460};
constexpr Box kHist{960, 96, 200, 460};
// Below the intervals, when the reports carried motion.
constexpr Box kSpeedPlot{80, 724, 1080, 180};  // its axis title 24 px above the edge
constexpr int kSpeedPlotHeight = 300;
constexpr int kHistBins = 80;
constexpr double kFloorMs = 1e-4;  // a zero interval still has a place on the log axis
constexpr char kTargetColour[] = "#ffba38";
constexpr char kBaselineColour[] = "#34d399";
constexpr char kFont[] = "Noto Sans CJK SC, WenQuanYi Micro Hei, Source Han Sans SC, sans-serif";

class Svg {
 public:
  // Never cut: a long device name would leave broken XML.
  void add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    appendFormatV(out_, format, args);
    va_end(args);
  }
  void raw(const std::string& text) { out_ += text; }
  std::string take() { return std::move(out_); }

 private:
  std::string out_;
};

struct Outlier {
  double t;   // s since the first report
  double ms;  // interval
};

// Everything drawn, gathered in one pass over the stamps.
struct PlotData {
  std::vector<float> colMin, colMax;  // ms per column; NaN where no report fell
  std::vector<Outlier> outliers;      // at most kMaxOutlierMarks, the farthest from the baseline
  std::size_t outlierTotal = 0;
  std::vector<uint32_t> histogram;  // kHistBins over the interval axis
  std::size_t intervals = 0;
  double spanS = 0;
  double baselineMs = 0;
  double targetMs = 0;
  LogAxis axis;
};

double intervalMs(const StampSeries& s, std::size_t i) {
  return std::max(static_cast<double>(s[i] - s[i - 1]) / 1e6, kFloorMs);
}

double medianMs(const StampSeries& s) {
  std::vector<float> all;
  all.reserve(s.size());
  for (std::size_t i = 1; i < s.size(); ++i) all.push_back(static_cast<float>(intervalMs(s, i)));
  if (all.empty()) return 0;
  auto middle = all.begin() + static_cast<std::ptrdiff_t>(all.size() / 2);
  std::nth_element(all.begin(), middle, all.end());
  return *middle;
}

void chooseAxis(const TestRecord& r, PlotData& d) {
  const StampSeries& s = r.stamps;
  double lo = std::numeric_limits<double>::max();
  double hi = 0;
  for (std::size_t i = 1; i < s.size(); ++i) {
    const double ms = intervalMs(s, i);
    lo = std::min(lo, ms);
    hi = std::max(hi, ms);
  }
  for (double ms : {d.baselineMs, d.targetMs}) {
    if (ms <= 0) continue;
    lo = std::min(lo, ms);
    hi = std::max(hi, ms);
  }
  if (hi <= 0) lo = hi = 1;
  d.axis = plot::logAxisFor(lo, hi);
}

bool isOutlier(double ms, double baselineMs) {
  const double factor = pollingrules::kAnomalyFactor;
  return baselineMs > 0 && (ms > baselineMs * factor || ms < baselineMs / factor);
}

void keepFarthestOutliers(PlotData& d) {
  d.outlierTotal = d.outliers.size();
  if (d.outliers.size() <= kMaxOutlierMarks) return;
  const double base = d.baselineMs;
  const auto distance = [base](const Outlier& o) { return std::fabs(std::log(o.ms / base)); };
  std::nth_element(d.outliers.begin(), d.outliers.begin() + kMaxOutlierMarks - 1, d.outliers.end(),
                   [&](const Outlier& a, const Outlier& b) { return distance(a) > distance(b); });
  d.outliers.resize(kMaxOutlierMarks);
}

PlotData gather(const TestRecord& r) {
  PlotData d;
  const StampSeries& s = r.stamps;
  d.targetMs = r.targetHz > 0 ? 1000.0 / r.targetHz : 0;
  d.baselineMs = r.stats.baselineUs > 0 ? r.stats.baselineUs / 1000.0 : medianMs(s);
  chooseAxis(r, d);
  d.intervals = s.size() > 1 ? s.size() - 1 : 0;
  // A test longer than the stamps kept is drawn over the part kept (and says so).
  const double kept = s.size() > 1 ? static_cast<double>(s[s.size() - 1] - s[0]) / 1e9 : 0.0;
  d.spanS = s.truncated() ? kept : std::max(kept, r.durationSeconds);
  if (d.spanS <= 0) d.spanS = 1;
  const auto columns = static_cast<std::size_t>(kPlot.width);
  d.colMin.assign(columns, std::numeric_limits<float>::quiet_NaN());
  d.colMax = d.colMin;
  d.histogram.assign(kHistBins, 0);
  const double logLow = std::log10(d.axis.lowMs);
  const double logSpan = std::log10(d.axis.highMs) - logLow;
  for (std::size_t i = 1; i < s.size(); ++i) {
    const double t = static_cast<double>(s[i] - s[0]) / 1e9;
    const double ms = intervalMs(s, i);
    const auto col = std::min(columns - 1, static_cast<std::size_t>(t / d.spanS * columns));
    const auto v = static_cast<float>(ms);
    if (!(d.colMin[col] <= v)) d.colMin[col] = v;
    if (!(d.colMax[col] >= v)) d.colMax[col] = v;
    const int bin = static_cast<int>((std::log10(ms) - logLow) / logSpan * kHistBins);
    ++d.histogram[static_cast<std::size_t>(std::clamp(bin, 0, kHistBins - 1))];
    if (isOutlier(ms, d.baselineMs)) d.outliers.push_back({t, ms});
  }
  keepFarthestOutliers(d);
  return d;
}

std::string formatMs(double ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf,
                ms >= 1      ? "%.0f"
                : ms >= 0.1  ? "%.1f"
                : ms >= 0.01 ? "%.2f"
                             : "%g",
                ms);
  return buf;
}

// `r` is completed.
void drawTitles(Svg& svg, const TestRecord& r, const PlotData& d) {
  std::string title, facts;
  appendFormat(title, i18n::tr("报告间隔随时间变化 — %s"), xmlText(r.device.name).c_str());
  appendFormat(facts,
               i18n::tr("开始 %s · 时长 %.1f s · %lld 次报告 · 平均 %.0f Hz · 基准间隔 %.3f ms · "
                        "目标 %.0f Hz"),
               startText(r.start).c_str(), r.durationSeconds,
               static_cast<long long>(r.stats.reportCount), r.stats.avgHz, d.baselineMs,
               r.targetHz);
  svg.add(
      "<text x=\"%d\" y=\"34\" font-size=\"22\" font-weight=\"bold\" fill=\"#e8eaed\">"
      "%s</text>\n",
      static_cast<int>(kPlot.left), title.c_str());
  svg.add("<text x=\"%d\" y=\"62\" font-size=\"14\" fill=\"#9aa0a6\">%s</text>\n",
          static_cast<int>(kPlot.left), facts.c_str());
  const WholeTestFigures& w = *r.whole;
  const TestVerdict& v = derivedOf(r).whole.test;
  // "--" where the figure cannot be known.
  std::string rate = "--", missed = "--", late = "--";
  if (w.movingRateHz) rate.clear(), appendFormat(rate, "%.0f", *w.movingRateHz);
  if (w.missedSlots) missed = std::to_string(*w.missedSlots);
  if (w.latenessUs) late.clear(), appendFormat(late, "%.1f", w.latenessUs->p99);
  std::string whole;
  appendFormat(whole,
               i18n::tr("整个测试 · 移动时 %s Hz · %s · p99 %.1f µs · 缺失 %s · 丢弃 %lld · "
                        "网格偏差 p99 %s µs"),
               rate.c_str(), xmlText(v.text).c_str(), w.intervalUs.p99, missed.c_str(),
               static_cast<long long>(w.kernelDrops), late.c_str());
  svg.add("<text x=\"%d\" y=\"84\" font-size=\"13\" fill=\"#9aa0a6\">%s</text>\n",
          static_cast<int>(kPlot.left), whole.c_str());
  svg.add("<text x=\"%.1f\" y=\"%.1f\" font-size=\"16\" fill=\"#e8eaed\">%s</text>\n", kHist.left,
          kHist.top - 12, i18n::tr("间隔分布"));
  if (r.devices.size() > 1) {
    std::string list;
    for (const DeviceReports& m : r.devices) {
      if (!list.empty()) list += i18n::tr("，");
      appendFormat(list, i18n::tr("%s %lld 次"), xmlText(m.device.name).c_str(),
                   static_cast<long long>(m.reports));
    }
    // Under the time axis, on the left; the truncation note takes the right.
    std::string note;
    if (r.wholeDevice && *r.wholeDevice < r.devices.size()) {
      appendFormat(note, i18n::tr("图中只有 %s 的报告；"),
                   xmlText(r.devices[*r.wholeDevice].device.name).c_str());
    }
    appendFormat(note, i18n::tr("报告来自 %zu 个鼠标：%s"), r.devices.size(), list.c_str());
    svg.add("<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" fill=\"#ffba38\">%s</text>\n", kPlot.left,
            kPlot.bottom() + 66, note.c_str());
  }
}

// Below the time axis, when the plot holds only the test's first reports.
void drawTruncationNote(Svg& svg, const TestRecord& r, const PlotData& d) {
  if (!r.stamps.truncated()) return;
  std::string note;
  appendFormat(note, i18n::tr("只画出前 %zu 次报告（前 %.1f s，测试共 %.1f s）"), r.stamps.size(),
               d.spanS, r.durationSeconds);
  svg.add(
      "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" fill=\"#ffba38\" "
      "text-anchor=\"end\">%s</text>\n",
      kPlot.right(), kPlot.bottom() + 66, note.c_str());
}

void drawIntervalAxis(Svg& svg, const PlotData& d) {
  for (double tick : plot::logTicks(d.axis)) {
    const double y = d.axis.y(tick, kPlot);
    svg.add("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#2c3038\"/>\n",
            kPlot.left, y, kHist.right(), y);
    svg.add(
        "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" fill=\"#9aa0a6\" "
        "text-anchor=\"end\">%s</text>\n",
        kPlot.left - 8, y + 4, formatMs(tick).c_str());
  }
  svg.add(
      "<text transform=\"translate(24 %.1f) rotate(-90)\" font-size=\"14\" fill=\"#c4c7cc\" "
      "text-anchor=\"middle\">%s</text>\n",
      kPlot.top + kPlot.height / 2, i18n::tr("报告间隔 (ms，对数刻度)"));
}

void drawTimeAxis(Svg& svg, const PlotData& d) {
  const double step = plot::niceStep(d.spanS);
  for (double t = 0; t <= d.spanS * 1.0001; t += step) {
    const double x = kPlot.left + t / d.spanS * kPlot.width;
    svg.add("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#2c3038\"/>\n", x,
            kPlot.top, x, kPlot.bottom());
    svg.add(
        "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" fill=\"#9aa0a6\" "
        "text-anchor=\"middle\">%g</text>\n",
        x, kPlot.bottom() + 18, t);
  }
  svg.add(
      "<text x=\"%.1f\" y=\"%.1f\" font-size=\"14\" fill=\"#c4c7cc\" "
      "text-anchor=\"middle\">%s</text>\n",
      kPlot.left + kPlot.width / 2, kPlot.bottom() + 42, i18n::tr("时间 (s)"));
}

// Where the rate changed: a dashed line at each new segment's start, with
// its rate.
void drawSegmentMarks(Svg& svg, const PlotData& d, const std::vector<RateSegment>& segments) {
  for (std::size_t k = 1; k < segments.size(); ++k) {
    const double x = kPlot.left + segments[k].startS / d.spanS * kPlot.width;
    svg.add(
        "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#ffba38\" "
        "stroke-dasharray=\"6 4\"/>\n",
        x, kPlot.top, x, kPlot.bottom());
    svg.add("<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" fill=\"#ffba38\">→ %.0f Hz</text>\n",
            x + 4, kPlot.top + 14, 1e6 / segments[k].periodUs);
  }
}

// One closed shape per run of columns with reports: along the maxima to the
// right, back along the minima. The stroke keeps a run of equal intervals
// (a flat band) visible.
void drawEnvelope(Svg& svg, const PlotData& d) {
  svg.raw(
      "<path fill=\"#00c3ff\" fill-opacity=\"0.55\" stroke=\"#00c3ff\" stroke-width=\"1.5\" "
      "stroke-linejoin=\"round\" d=\"");
  const std::size_t n = d.colMin.size();
  std::size_t c = 0;
  while (c < n) {
    if (std::isnan(d.colMin[c])) {
      ++c;
      continue;
    }
    std::size_t end = c;
    while (end < n && !std::isnan(d.colMin[end])) ++end;
    for (std::size_t k = c; k < end; ++k) {
      svg.add("%c%.1f %.1f", k == c ? 'M' : 'L', kPlot.left + static_cast<double>(k) + 0.5,
              d.axis.y(d.colMax[k], kPlot));
    }
    for (std::size_t k = end; k-- > c;) {
      svg.add("L%.1f %.1f", kPlot.left + static_cast<double>(k) + 0.5,
              d.axis.y(d.colMin[k], kPlot));
    }
    svg.raw("Z");
    c = end;
  }
  svg.raw("\"/>\n");
}

void drawOutliers(Svg& svg, const PlotData& d) {
  svg.raw("<g fill=\"#ffba38\">\n");
  for (const Outlier& o : d.outliers) {
    svg.add("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2.5\"/>\n",
            kPlot.left + o.t / d.spanS * kPlot.width, d.axis.y(o.ms, kPlot));
  }
  svg.raw("</g>\n");
  if (d.outlierTotal > d.outliers.size()) {
    std::string note;
    appendFormat(note, i18n::tr("偏离基准 1.5 倍以上 %zu 个，标出最远 %zu 个"), d.outlierTotal,
                 d.outliers.size());
    // Inside the plot's top corner: above the frame it ran into the
    // whole-test line.
    svg.add(
        "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" fill=\"#ffba38\" "
        "text-anchor=\"end\" stroke=\"#0e0f11\" stroke-width=\"3\" "
        "paint-order=\"stroke\">%s</text>\n",
        kPlot.right() - 4, kPlot.top + 16, note.c_str());
  }
}

void drawLevelLine(Svg& svg, const PlotData& d, double ms, const char* colour) {
  if (ms <= 0) return;
  const double y = d.axis.y(ms, kPlot);
  svg.add(
      "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" "
      "stroke-width=\"1.5\" stroke-dasharray=\"6 4\"/>\n",
      kPlot.left, y, kHist.right(), y, colour);
}

// Above the line and clear of a band drawn on it.
void drawLevelLabel(Svg& svg, const PlotData& d, double ms, const char* colour, const char* label,
                    bool right) {
  if (ms <= 0) return;
  svg.add(
      "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" fill=\"%s\" text-anchor=\"%s\" "
      "stroke=\"#0e0f11\" stroke-width=\"3\" paint-order=\"stroke\">%s %.3f ms</text>\n",
      right ? kPlot.right() - 4 : kPlot.left + 4, d.axis.y(ms, kPlot) - 12, colour,
      right ? "end" : "start", label, ms);
}

// Bars on the interval axis; a bin with any report is at least 2 px long, so
// a single stall still shows.
void drawHistogram(Svg& svg, const PlotData& d) {
  const uint32_t peak = *std::max_element(d.histogram.begin(), d.histogram.end());
  const double binHeight = kHist.height / kHistBins;
  svg.raw("<g fill=\"#00c3ff\">\n");
  for (int b = 0; b < kHistBins && peak > 0; ++b) {
    const uint32_t count = d.histogram[static_cast<std::size_t>(b)];
    if (count == 0) continue;
    const double length = std::max(2.0, kHist.width * count / peak);
    svg.add("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\"/>\n", kHist.left,
            kHist.bottom() - (b + 1) * binHeight, length, binHeight * 0.85);
  }
  svg.raw("</g>\n");
  svg.add("<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" fill=\"#9aa0a6\">0</text>\n", kHist.left,
          kHist.bottom() + 18);
  svg.add(
      "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" fill=\"#9aa0a6\" text-anchor=\"end\">"
      "%u</text>\n",
      kHist.right(), kHist.bottom() + 18, peak);
  svg.add(
      "<text x=\"%.1f\" y=\"%.1f\" font-size=\"14\" fill=\"#c4c7cc\" "
      "text-anchor=\"middle\">%s</text>\n",
      kHist.left + kHist.width / 2, kHist.bottom() + 42, i18n::tr("报告次数"));
}

void drawFrames(Svg& svg) {
  for (const Box& b : {kPlot, kHist}) {
    svg.add(
        "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" "
        "stroke=\"#5f6368\"/>\n",
        b.left, b.top, b.width, b.height);
  }
}

}  // namespace

// The cause of the rate in words under the plot, and the rate against the
// hand's speed below it when the reports carried motion.
void drawCause(Svg& svg, const std::optional<RateCause>& cause, const std::string& speedPlot) {
  if (cause) {
    std::string text;
    appendFormat(text, i18n::tr("原因：%s"), xmlText(cause->text).c_str());
    svg.add("<text x=\"%.1f\" y=\"%d\" font-size=\"14\" fill=\"#e8eaed\">%s</text>\n", kPlot.left,
            kHeight - 12, text.c_str());
  }
  svg.raw(speedPlot);
}

std::string speedPlotOf(const WholeTestFigures& w, const std::optional<RateCause>& cause) {
  if (!cause) return {};
  return speedPlotSvg(w.motion, cause->yardstickHz, cause->saturationCountsPerS, kSpeedPlot);
}

std::string intervalPlotSvg(const TestRecord& record) {
  const std::optional<RateCause>& cause = derivedOf(record).whole.cause;
  const PlotData d = gather(record);
  const std::string speedPlot = speedPlotOf(*record.whole, cause);
  const int height = kHeight + (speedPlot.empty() ? 0 : kSpeedPlotHeight);
  Svg svg;
  svg.add(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
      "viewBox=\"0 0 %d %d\" font-family=\"%s\">\n",
      kWidth, height, kWidth, height, kFont);
  svg.add("<title>");
  svg.add(i18n::tr("报告间隔 — %s"), xmlText(record.device.name).c_str());
  svg.add("</title>\n");
  svg.add("<rect width=\"%d\" height=\"%d\" fill=\"#0e0f11\"/>\n", kWidth, height);
  drawTitles(svg, record, d);
  drawIntervalAxis(svg, d);
  drawTimeAxis(svg, d);
  // The levels go under the data, so a band on the baseline stays visible.
  drawLevelLine(svg, d, d.targetMs, kTargetColour);
  drawLevelLine(svg, d, d.baselineMs, kBaselineColour);
  if (d.intervals == 0) {
    svg.add(
        "<text x=\"%.1f\" y=\"%.1f\" font-size=\"18\" fill=\"#9aa0a6\" "
        "text-anchor=\"middle\">%s</text>\n",
        kPlot.left + kPlot.width / 2, kPlot.top + kPlot.height / 2, i18n::tr("没有报告间隔可画"));
  } else {
    drawEnvelope(svg, d);
    drawOutliers(svg, d);
    drawHistogram(svg, d);
    drawSegmentMarks(svg, d, record.whole->segments);
  }
  drawLevelLabel(svg, d, d.targetMs, kTargetColour, i18n::tr("目标间隔"), true);
  drawLevelLabel(svg, d, d.baselineMs, kBaselineColour, i18n::tr("基准间隔"), false);
  drawFrames(svg);
  drawTruncationNote(svg, record, d);
  drawCause(svg, cause, speedPlot);
  svg.raw("</svg>\n");
  return svg.take();
}

WriteResult writeIntervalPlot(const TestRecord& record, const std::string& path) {
  return writeFileAtomically(path, intervalPlotSvg(record));
}

}  // namespace results
