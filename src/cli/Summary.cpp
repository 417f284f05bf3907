#include "cli/Summary.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "i18n/Translate.h"
#include "results/ResultJson.h"
#include "results/TextFormat.h"

namespace cli {

namespace {

void line(std::string& out, const char* label, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Every label of the summary: the column is as wide as the widest in the
// language shown, so the values line up in either.
constexpr const char* kLabels[] = {
    i18n::trNoop("来源"),       i18n::trNoop("设备与环境"), i18n::trNoop("设备"),
    i18n::trNoop("判定"),       i18n::trNoop("原因"),       i18n::trNoop("时长"),
    i18n::trNoop("错误"),       i18n::trNoop("报告数"),     i18n::trNoop("移动回报率"),
    i18n::trNoop("间隔分位"),   i18n::trNoop("间隔均值"),   i18n::trNoop("异常间隔"),
    i18n::trNoop("报告槽"),     i18n::trNoop("缺失报告"),   i18n::trNoop("网格偏差"),
    i18n::trNoop("移动数据"),   i18n::trNoop("移动量"),     i18n::trNoop("手速"),
    i18n::trNoop("单计数报告"), i18n::trNoop("计数步长"),   i18n::trNoop("速度分档"),
};

int labelColumns() {
  int widest = 0;
  for (const char* label : kLabels)
    widest = std::max(widest, results::displayColumns(i18n::tr(label)));
  return widest;
}

void line(std::string& out, const char* label, const char* format, ...) {
  std::string value;
  va_list args;
  va_start(args, format);
  results::appendFormatV(value, format, args);
  va_end(args);
  out += summaryLabel(i18n::tr(label));
  out += value;
  out += '\n';
}

const char* gridUnknownText(GridStatus status) {
  switch (status) {
    case GridStatus::Batched:
      return i18n::tr("报告成批到达，无法确定报告槽");
    case GridStatus::Ambiguous:
      return i18n::tr("报告不按报告槽到达，无法确定报告槽");
    case GridStatus::Ok:
    case GridStatus::None:
      break;
  }
  return i18n::tr("间隔太少，无法确定报告槽");
}

// A batched link has no slots but deliveries: their period and size are
// what the summary can say of it.
bool deliveryLines(std::string& out, const GridFigures& g, bool details) {
  if (g.status != GridStatus::Batched || g.deliveryPeriodUs <= 0) return false;
  if (details)
    line(out, "报告槽", i18n::tr("--（成批送达，送达周期 %.3f µs）"), g.deliveryPeriodUs);
  line(out, "缺失报告",
       i18n::tr(
           "--（报告成批送达：每 %.2f ms 一批，每批平均 %.1f 个，最多 %lld 个；无法确定报告槽）"),
       g.deliveryPeriodUs / 1000, g.reportsPerDeliveryMean,
       static_cast<long long>(g.reportsPerDeliveryMax));
  line(out, "网格偏差", "--");
  return true;
}

void slotLines(std::string& out, const WholeTestFigures& w, bool details) {
  if (deliveryLines(out, w.grid, details)) return;
  if (details && w.grid.periodUs > 0) {
    line(out, "报告槽", i18n::tr("%.3f µs（%s）"), w.grid.periodUs,
         w.grid.source == GridSource::Configured ? i18n::tr("主机设定的间隔")
                                                 : i18n::tr("由间隔估计"));
  }
  if (!w.missedSlots || !w.latenessUs) {
    line(out, "缺失报告", i18n::tr("--（%s）"), gridUnknownText(w.grid.status));
    line(out, "网格偏差", "--");
    return;
  }
  if (w.idleSlots && *w.idleSlots > 0) {
    line(out, "缺失报告", i18n::tr("%lld（另有 %lld 个空槽是鼠标没动、无可报告）"),
         static_cast<long long>(*w.missedSlots), static_cast<long long>(*w.idleSlots));
  } else if (w.idleSlots) {
    line(out, "缺失报告", "%lld", static_cast<long long>(*w.missedSlots));
  } else {
    line(out, "缺失报告", i18n::tr("%lld（记录不含移动量，每个空槽都算缺失）"),
         static_cast<long long>(*w.missedSlots));
  }
  line(out, "网格偏差", i18n::tr("p50 %.1f · p99 %.1f · 最大 %.1f µs"), w.latenessUs->p50,
       w.latenessUs->p99, w.latenessUs->max);
}

void segmentLine(std::string& out, const std::vector<RateSegment>& segments) {
  if (segments.size() < 2) return;
  std::string text;
  for (const RateSegment& s : segments) {
    if (!text.empty()) text += " → ";
    results::appendFormat(text, i18n::tr("%.0f Hz（%.1f–%.1f s）"), 1e6 / s.periodUs, s.startS,
                          s.endS);
  }
  results::appendFormat(out, i18n::tr("回报率在测试中变化：%s\n"), text.c_str());
}

void dropsLine(std::string& out, const WholeTestFigures& w) {
  if (w.kernelDrops == 0) {
    line(out, "报告数", i18n::tr("%lld（内核没有丢弃报告）"), static_cast<long long>(w.reports));
    return;
  }
  line(out, "报告数", i18n::tr("%lld（内核缓冲区溢出 %lld 次，丢弃约 %lld 个报告）"),
       static_cast<long long>(w.reports), static_cast<long long>(w.kernelDrops),
       static_cast<long long>(w.kernelDroppedReports));
}

// The whole test, every report: what the verdict and the cause read. The
// live window's figures (500 ms rate windows, the newest 4096 intervals) stay
// in the JSON: beside these they would give one term two numbers.
void wholeTestLines(std::string& out, const WholeTestFigures& w, bool details) {
  dropsLine(out, w);
  if (w.movingRateHz) {
    line(out, "移动回报率", i18n::tr("%.1f Hz（移动 %.3f s，停顿 %lld 次）"), *w.movingRateHz,
         w.movingSeconds, static_cast<long long>(w.rests));
  } else {
    line(out, "移动回报率", "%s", i18n::tr("--（没有移动时间）"));
  }
  if (w.intervals == w.equalStamps) return;
  const IntervalSummary& i = w.intervalUs;
  line(out, "间隔分位", i18n::tr("p1 %.1f · p50 %.1f · p99 %.1f · p99.9 %.1f · 最大 %.1f µs"), i.p1,
       i.p50, i.p99, i.p99_9, i.max);
  if (details) line(out, "间隔均值", i18n::tr("%.2f µs，标准差 %.2f µs"), i.mean, i.stddev);
  line(out, "异常间隔", i18n::tr("%lld（%.3f%%）"), static_cast<long long>(w.anomalies),
       w.anomalyShare * 100.0);
  slotLines(out, w, details);
  segmentLine(out, w.segments);
}

void handLine(std::string& out, const MotionFigures& m, double cpi) {
  if (!m.known) {
    line(out, "移动数据", "%s", i18n::tr("无（记录不含每个报告的移动量）"));
  } else if (m.speedMax > 0.0 && cpi > 0) {
    line(out, "手速", i18n::tr("p50 %.0f · p90 %.0f · 最高 %.0f counts/s（%g CPI：p50 %.1f cm/s）"),
         m.speedP50, m.speedP90, m.speedMax, cpi, cmPerSecond(m.speedP50, cpi));
  } else if (m.speedMax > 0.0) {
    line(out, "手速", i18n::tr("p50 %.0f · p90 %.0f · 最高 %.0f counts/s"), m.speedP50, m.speedP90,
         m.speedMax);
  } else {
    line(out, "手速", "%s", i18n::tr("--（没有 20 ms 以上的连续移动）"));
  }
}

// The figures only --details prints: the path, the count step and the rate
// in each band of hand speed.
void motionDetails(std::string& out, const WholeTestFigures& w) {
  const MotionFigures& m = w.motion;
  if (!m.known) return;
  line(out, "移动量", i18n::tr("%.0f counts（x %lld，y %lld）"), m.totalCounts,
       static_cast<long long>(m.countsX), static_cast<long long>(m.countsY));
  line(out, "单计数报告", "%.1f%%", m.singleCountShare * 100.0);
  line(out, "计数步长", "%d", w.countStep);
  if (m.bands.empty()) return;
  line(out, "速度分档", "%s", i18n::tr("手速（counts/s）：该速度下的回报率（移动时间）"));
  for (const SpeedBand& b : m.bands) {
    char label[64];
    std::snprintf(label, sizeof label, "  %.0f–%.0f", b.lowCountsPerS, 2 * b.lowCountsPerS);
    out += label;
    results::appendFormat(out, i18n::tr("：%.0f Hz（%.2f s）\n"), b.rateHz, b.movingSeconds);
  }
}

const char* targetSourceText(results::TargetSource source) {
  switch (source) {
    case results::TargetSource::Configured:
      return i18n::tr("主机设定的回报率");
    case results::TargetSource::NearestStandard:
      return i18n::tr("最接近报告网格的标准回报率");
    case results::TargetSource::Estimated:
      return i18n::tr("按报告网格估计的回报率");
    case results::TargetSource::Option:
    case results::TargetSource::Window:
      break;
  }
  return i18n::tr("指定");
}

// The answer first: the test's one verdict with the rate judged and the
// target, then the cause or what to do.
void verdictLines(std::string& out, const results::WholeJudgement& g) {
  const results::TestVerdict& v = g.test;
  const char* source = targetSourceText(g.targetSource);
  // Unknown, or the host's rate already in the words: no rate judged beside it.
  if (v.kind == results::VerdictKind::Unknown || v.kind == results::VerdictKind::HostLimited) {
    line(out, "判定", i18n::tr("%s（目标 %.0f Hz，%s）"), v.text.c_str(), g.targetHz, source);
  } else {
    line(out, "判定", i18n::tr("%s：%.0f Hz，目标 %.0f Hz（%s）"), v.text.c_str(), v.judgedHz,
         g.targetHz, source);
  }
  if (g.cause) line(out, "原因", "%s", g.cause->text.c_str());
}

const char* endText(results::TestEnd end) {
  switch (end) {
    case results::TestEnd::Interrupted:
      return i18n::tr("（已中断）");
    case results::TestEnd::DeviceLost:
      return i18n::tr("（鼠标已断开）");
    case results::TestEnd::DeviceError:
      return i18n::tr("（读取鼠标出错）");
    case results::TestEnd::Completed:
      break;
  }
  return "";
}

}  // namespace

std::string summaryLabel(const char* label) {
  std::string out = label;
  out.append(static_cast<std::size_t>(std::max(0, labelColumns() - results::displayColumns(label))),
             ' ');
  return out + "  ";
}

std::string summaryText(const results::TestRecord& r, bool details, double cpi) {
  const results::DerivedFigures& f = results::derivedOf(r);
  std::string out;
  line(out, "设备", "%s", results::plainText(r.device.name).c_str());
  verdictLines(out, f.whole);
  if (r.start) {
    line(out, "时长", i18n::tr("%.1f s%s，开始于 %s"), r.durationSeconds, endText(r.end),
         results::startText(r.start).c_str());
  } else {
    line(out, "时长", "%.1f s%s", r.durationSeconds, endText(r.end));
  }
  if (!r.endError.empty()) line(out, "错误", "%s", results::plainText(r.endError).c_str());
  const WholeTestFigures& whole = *r.whole;
  wholeTestLines(out, whole, details);
  handLine(out, whole.motion, cpi);
  if (details) motionDetails(out, whole);
  return out;
}

std::string briefLine(const results::TestRecord& r) {
  const results::DerivedFigures& f = results::derivedOf(r);
  const results::TestVerdict& v = f.whole.test;
  std::string out = results::briefWord(v);
  if (v.kind == results::VerdictKind::Unknown)
    out += " -";
  else
    results::appendFormat(out, " %.0f", v.judgedHz);
  results::appendFormat(out, " %.0f %s\n", f.whole.targetHz,
                        f.whole.cause ? rateCauseKey(f.whole.cause->kind) : "no_motion_data");
  return out;
}

double cmPerSecond(double countsPerS, double cpi) { return countsPerS / cpi * 2.54; }

std::string liveLineText(const LiveLine& l) {
  char length[64];
  if (l.totalSeconds > 0.0)
    std::snprintf(length, sizeof length, "%.1f / %g s", l.elapsedSeconds, l.totalSeconds);
  else
    std::snprintf(length, sizeof length, i18n::tr("%.1f s（Ctrl-C 结束）"), l.elapsedSeconds);
  // No rate yet (the first 500 ms) or the mouse at rest: no "0 Hz" while reports come.
  char rate[32] = "--";
  if (l.currentHz > 0.0f) std::snprintf(rate, sizeof rate, "%.0f", l.currentHz);
  std::string out;
  results::appendFormat(
      out, i18n::tr("当前 %5s Hz · 目标 %.0f Hz · 报告 %lld · %s · 内核丢弃 %lld"), rate,
      l.targetHz, static_cast<long long>(l.reports), length, static_cast<long long>(l.kernelDrops));
  if (l.handSlow && l.cpi > 0) {
    results::appendFormat(
        out,
        i18n::tr(
            " · 手速约 %.0f counts/s（%.1f cm/s），需约 %.0f（%.1f cm/s）：移动更快或提高 DPI"),
        l.handCountsPerS, cmPerSecond(l.handCountsPerS, l.cpi), l.neededCountsPerS,
        cmPerSecond(l.neededCountsPerS, l.cpi));
  } else if (l.handSlow) {
    results::appendFormat(out, i18n::tr(" · 手速约 %.0f counts/s，需约 %.0f：移动更快或提高 DPI"),
                          l.handCountsPerS, l.neededCountsPerS);
  }
  return out;
}

}  // namespace cli
