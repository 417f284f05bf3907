#include "cli/Summary.h"

#include <cstdarg>
#include <cstdio>

#include "results/ResultJson.h"
#include "results/TextFormat.h"

namespace cli {

namespace {

void line(std::string& out, const char* label, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

void line(std::string& out, const char* label, const char* format, ...) {
  std::string value;
  va_list args;
  va_start(args, format);
  results::appendFormatV(value, format, args);
  va_end(args);
  out += label;
  // Labels are CJK characters, two columns each: pad them to ten columns.
  int width = 0;
  for (const char* p = label; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if ((c & 0xC0) != 0x80) width += c >= 0xE0 ? 2 : 1;
  }
  out.append(static_cast<std::size_t>(width < 10 ? 10 - width : 0), ' ');
  out += "  ";
  out += value;
  out += '\n';
}

void rateLines(std::string& out, const PollingStats& s) {
  line(out, "当前回报率", "%.0f Hz", s.currentHz);
  if (s.statsValid) {
    line(out, "最高回报率", "%.0f Hz", s.maxHz);
    line(out, "最低回报率", "%.0f Hz", s.minHz);
  } else {
    line(out, "最高回报率", "--（测试太短）");
    line(out, "最低回报率", "--（测试太短）");
  }
  line(out, "平均回报率", "%.0f Hz", s.avgHz);
}

void qualityLines(std::string& out, const PollingStats& s) {
  if (s.baselineUs > 0.0f) {
    line(out, "基准间隔", "%.3f ms  (%.0f Hz)", s.baselineUs / 1000.0f, s.baselineHz);
    line(out, "抖动", "±%.3f ms", s.jitterUs / 1000.0f);
    line(out, "异常间隔", "%.2f%%  (%d)", s.anomalyRatio * 100.0f,
         static_cast<int>(s.anomalyCount));
    line(out, "稳定性", "%.1f%%", s.stability * 100.0f);
  } else {
    for (const char* label : {"基准间隔", "抖动", "异常间隔", "稳定性"}) {
      line(out, label, "--（间隔太少）");
    }
  }
}

void countLines(std::string& out, const PollingStats& s) {
  line(out, "报告数", "%lld", static_cast<long long>(s.reportCount));
  line(out, "内核丢弃", "%lld 次缓冲区溢出，估计丢失 %lld 个报告",
       static_cast<long long>(s.kernelDrops), static_cast<long long>(s.kernelDroppedReports));
  if (s.longestIntervalUs > 0.0f) {
    line(out, "最长间隔", "%.3f ms", s.longestIntervalUs / 1000.0f);
  } else {
    line(out, "最长间隔", "--");
  }
}

}  // namespace

std::string summaryText(const results::TestRecord& r) {
  std::string out;
  line(out, "设备", "%s", results::plainText(r.device.name).c_str());
  line(out, "开始", "%s", results::isoLocalTime(r.start).c_str());
  const char* ended = r.end == results::TestEnd::Interrupted   ? "（已中断）"
                      : r.end == results::TestEnd::DeviceLost  ? "（鼠标已断开）"
                      : r.end == results::TestEnd::DeviceError ? "（读取鼠标出错）"
                                                               : "";
  line(out, "时长", "%.1f s%s", r.durationSeconds, ended);
  if (!r.endError.empty()) line(out, "错误", "%s", results::plainText(r.endError).c_str());
  rateLines(out, r.stats);
  qualityLines(out, r.stats);
  countLines(out, r.stats);
  const float rate = results::verdictRateHz(r.stats);
  const results::TargetVerdict verdict = results::targetVerdict(rate, r.targetHz);
  if (verdict == results::TargetVerdict::Unknown) {
    line(out, "目标", "%.0f Hz：%s", r.targetHz, results::targetVerdictText(verdict));
  } else {
    line(out, "目标", "%.0f Hz：%s（%.0f Hz，为目标的 %.1f%%）", r.targetHz,
         results::targetVerdictText(verdict), rate, rate / r.targetHz * 100.0f);
  }
  return out;
}

std::string liveLineText(float currentHz, int64_t reports, double elapsedSeconds,
                         double totalSeconds, int64_t kernelDrops) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "当前 %5.0f Hz · 报告 %lld · %.1f / %g s · 内核丢弃 %lld",
                currentHz, static_cast<long long>(reports), elapsedSeconds, totalSeconds,
                static_cast<long long>(kernelDrops));
  return buf;
}

}  // namespace cli
