#include "results/ResultJson.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "QuillmarkVersion.h"
#include "analysis/PollingAnalyzer.h"
#include "analysis/PollingRules.h"
#include "i18n/Translate.h"

namespace results {

namespace {

using nlohmann::ordered_json;

// Figures are floats; three decimals keep what they can hold without the
// binary noise of a float printed as a double.
double rounded(double v, int decimals = 3) {
  const double scale = std::pow(10.0, decimals);
  return std::round(v * scale) / scale;
}

template <typename Duration>
double ms(Duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Figures that may not be known are null when they are not.
template <typename T>
ordered_json orNull(const std::optional<T>& v) {
  return v ? ordered_json(*v) : ordered_json(nullptr);
}

// Unknown figures (0 or empty) are null.
template <typename T>
ordered_json orNull(const T& v) {
  return v == T{} ? ordered_json(nullptr) : ordered_json(v);
}

ordered_json deviceJson(const DeviceIdentity& d, const DeviceRates& rates) {
  ordered_json j;
  j["name"] = d.name;
  j["product"] = d.product;
  j["manufacturer"] = d.manufacturer;
  j["vid_pid"] = d.vendorId < 0 || d.productId < 0
                     ? ordered_json(nullptr)
                     : ordered_json(vidPidText(d.vendorId, d.productId));
  j["transport"] = d.transport;
  j["endpoint_interval_us"] = rounded(exactIntervalUs(d));
  j["node"] = d.node.empty() ? ordered_json(nullptr) : ordered_json(d.node);
  j["configured_hz"] = orNull(rounded(rates.configuredHz, 1));
  j["requested_hz"] = orNull(rounded(rates.requestedHz, 1));
  j["configured_reason"] = orNull(d.configuredReason);
  return j;
}

ordered_json environmentJson(const TestRecord& r, const DerivedFigures& f) {
  const DeviceIdentity& d = r.device;
  ordered_json j;
  j["kernel_release"] = orNull(f.kernelRelease);
  j["virtual_device"] = d.transport == "Virtual";
  j["bus_speed_mbps"] = orNull(d.busSpeedMbps);
  j["usb_port_path"] = orNull(d.portPath);
  j["hub_depth"] = orNull(f.hubDepth);
  j["host_controller_driver"] = orNull(d.hostDriver);
  j["endpoint_interval_us"] = orNull(rounded(exactIntervalUs(d)));
  j["usbhid_mousepoll_ms"] =
      d.usbhidMousepollMs >= 0 ? ordered_json(d.usbhidMousepollMs) : ordered_json(nullptr);
  return j;
}

ordered_json percentiles(std::initializer_list<std::pair<const char*, double>> values) {
  ordered_json j;
  for (const auto& [key, us] : values) j[key] = rounded(us);
  return j;
}

// The test's one verdict against its target (TestVerdict.h).
ordered_json wholeTargetJson(const WholeJudgement& g) {
  const TestVerdict& v = g.test;
  ordered_json j;
  j["hz"] = rounded(g.targetHz, 1);
  j["source"] = targetSourceKey(g.targetSource);
  const bool judged = v.kind != VerdictKind::Unknown;
  j["compared_hz"] = judged ? ordered_json(rounded(v.judgedHz, 1)) : ordered_json(nullptr);
  j["compared"] = !judged                ? ordered_json(nullptr)
                  : g.comparedCapability ? ordered_json("capability_hz")
                                         : ordered_json("moving_rate_hz");
  j["ratio"] = judged ? ordered_json(rounded(v.ratio, 4)) : ordered_json(nullptr);
  j["verdict"] = verdictKindKey(v.kind);
  j["verdict_text"] = v.text;
  j["unknown_reason"] = judged ? ordered_json(nullptr) : ordered_json(unknownReasonKey(v.unknown));
  j["reason"] = judged ? ordered_json(nullptr) : ordered_json(v.text);
  j["brief"] = briefWord(v);
  return j;
}

ordered_json motionJson(const MotionFigures& m, const std::optional<RateCause>& cause) {
  ordered_json j;
  j["known"] = m.known;
  j["counts_x"] = m.countsX;
  j["counts_y"] = m.countsY;
  j["total_counts"] = rounded(m.totalCounts, 1);
  j["speed_counts_per_s"] = {{"p50", rounded(m.speedP50, 1)},
                             {"p90", rounded(m.speedP90, 1)},
                             {"max", rounded(m.speedMax, 1)}};
  j["single_count_share"] = rounded(m.singleCountShare, 4);
  j["bands"] = ordered_json::array();
  for (const SpeedBand& b : m.bands) {
    j["bands"].push_back({{"low_counts_per_s", b.lowCountsPerS},
                          {"high_counts_per_s", 2 * b.lowCountsPerS},
                          {"intervals", b.intervals},
                          {"moving_s", rounded(b.movingSeconds, 6)},
                          {"rate_hz", rounded(b.rateHz, 1)}});
  }
  const bool saturated = cause && cause->saturationCountsPerS;
  j["saturation_counts_per_s"] =
      saturated ? ordered_json(*cause->saturationCountsPerS) : ordered_json(nullptr);
  return j;
}

ordered_json causeJson(const WholeJudgement& g, const WholeTestFigures& w) {
  const std::optional<RateCause>& cause = g.cause;
  if (!cause) return nullptr;
  ordered_json j;
  j["kind"] = rateCauseKey(cause->kind);
  j["text"] = cause->text;
  j["yardstick_hz"] = rounded(cause->yardstickHz, 1);
  j["yardstick_source"] = targetSourceKey(g.targetSource);
  j["judged_hz"] = rounded(cause->judgedHz, 1);
  j["judged"] = cause->fromCapability ? "capability_hz" : "moving_rate_hz";
  j["ratio"] = rounded(cause->ratio, 4);
  j["single_count_share"] =
      w.motion.known ? ordered_json(rounded(w.motion.singleCountShare, 4)) : ordered_json(nullptr);
  j["kernel_dropped_share"] = rounded(g.kernelDroppedShare, 6);
  return j;
}

const char* gridSourceKey(GridSource s) {
  return s == GridSource::Configured ? "configured" : "estimated";
}

const char* gridStatusKey(GridStatus s) {
  switch (s) {
    case GridStatus::Ok:
      return "ok";
    case GridStatus::Batched:
      return "batched";
    case GridStatus::Ambiguous:
      return "ambiguous";
    case GridStatus::None:
      break;
  }
  return "none";
}

ordered_json gridJson(const GridFigures& g) {
  ordered_json j;
  j["period_us"] = g.periodUs > 0 ? ordered_json(rounded(g.periodUs)) : ordered_json(nullptr);
  j["source"] = gridSourceKey(g.source);
  j["status"] = gridStatusKey(g.status);
  j["reason"] = g.reason.empty() ? ordered_json(nullptr) : ordered_json(g.reason);
  const bool batched = g.status == GridStatus::Batched && g.deliveryPeriodUs > 0;
  j["delivery_period_us"] =
      batched ? ordered_json(rounded(g.deliveryPeriodUs)) : ordered_json(nullptr);
  j["reports_per_delivery"] = batched
                                  ? ordered_json({{"mean", rounded(g.reportsPerDeliveryMean, 2)},
                                                  {"largest", g.reportsPerDeliveryMax}})
                                  : ordered_json(nullptr);
  return j;
}

ordered_json segmentsJson(const std::vector<RateSegment>& segments) {
  ordered_json list = ordered_json::array();
  for (const RateSegment& s : segments) {
    list.push_back({{"start_s", rounded(s.startS, 6)},
                    {"end_s", rounded(s.endS, 6)},
                    {"period_us", rounded(s.periodUs)},
                    {"moving_rate_hz", rounded(s.movingRateHz, 2)},
                    {"reports", s.reports}});
  }
  return list;
}

ordered_json wholeTestJson(const WholeTestFigures& w, const WholeJudgement& g) {
  ordered_json j;
  j["reports"] = w.reports;
  j["intervals"] = w.intervals;
  j["moving_s"] = rounded(w.movingSeconds, 6);
  j["rests"] = w.rests;
  j["equal_stamps"] = w.equalStamps;
  j["moving_rate_hz"] =
      w.movingRateHz ? ordered_json(rounded(*w.movingRateHz, 2)) : ordered_json(nullptr);
  j["moving_rate_reason"] = orNull(w.movingRateReason);
  const IntervalSummary& i = w.intervalUs;
  j["interval_us"] = percentiles({{"p1", i.p1},
                                  {"p50", i.p50},
                                  {"p99", i.p99},
                                  {"p99_9", i.p99_9},
                                  {"max", i.max},
                                  {"mean", i.mean},
                                  {"stddev", i.stddev}});
  j["anomalies"] = {{"count", w.anomalies}, {"share", rounded(w.anomalyShare, 6)}};
  j["grid"] = gridJson(w.grid);
  j["missed_slots"] = orNull(w.missedSlots);
  j["idle_slots"] = orNull(w.idleSlots);
  j["missed_slots_rule"] = !w.missedSlots       ? ordered_json(nullptr)
                           : w.missedFromMotion ? ordered_json("motion")
                                                : ordered_json("every_empty_slot");
  j["kernel_drops"] = w.kernelDrops;
  j["kernel_dropped_reports"] = w.kernelDroppedReports;
  if (const std::optional<LatenessSummary>& l = w.latenessUs) {
    j["lateness_us"] = percentiles({{"p50", l->p50}, {"p99", l->p99}, {"max", l->max}});
  } else {
    j["lateness_us"] = nullptr;
  }
  j["segments"] = segmentsJson(w.segments);
  j["count_step"] = w.countStep;
  j["capability_hz"] =
      w.capabilityHz ? ordered_json(rounded(*w.capabilityHz, 1)) : ordered_json(nullptr);
  j["delivery"] = w.delivery.known
                      ? ordered_json({{"median", rounded(w.delivery.median, 4)},
                                      {"share_below", rounded(w.delivery.shareBelow, 4)}})
                      : ordered_json(nullptr);
  j["target"] = wholeTargetJson(g);
  j["motion"] = motionJson(w.motion, g.cause);
  j["cause"] = causeJson(g, w);
  return j;
}

// Only when the test holds reports of several mice: each with its own
// whole-test figures and cause, when they were computed.
ordered_json devicesJson(const TestRecord& r, const DerivedFigures& f) {
  ordered_json list = ordered_json::array();
  for (std::size_t i = 0; i < r.devices.size() && i < f.devices.size(); ++i) {
    const DeviceReports& d = r.devices[i];
    const DeviceJudgement& judged = f.devices[i];
    ordered_json j = deviceJson(d.device, judged.rates);
    j["reports"] = d.reports;
    if (d.whole && judged.whole) j["whole_test"] = wholeTestJson(*d.whole, *judged.whole);
    list.push_back(std::move(j));
  }
  return list;
}

ordered_json testJson(const TestRecord& r, const DerivedFigures& f) {
  ordered_json j;
  j["start"] = r.start ? ordered_json(isoLocalTime(*r.start)) : ordered_json(nullptr);
  j["duration_s"] = rounded(r.durationSeconds);
  j["ended"] = f.endKey;
  j["error"] = r.endError.empty() ? ordered_json(nullptr) : ordered_json(r.endError);
  j["label"] = r.label.empty() ? ordered_json(nullptr) : ordered_json(r.label);
  return j;
}

ordered_json rateJson(const PollingStats& s) {
  ordered_json j;
  j["current_hz"] = rounded(s.currentHz, 1);
  j["max_hz"] = rounded(s.maxHz, 1);
  j["min_hz"] = rounded(s.minHz, 1);
  j["avg_hz"] = rounded(s.avgHz, 1);
  j["valid"] = s.statsValid;
  return j;
}

ordered_json intervalJson(const PollingStats& s) {
  ordered_json j;
  j["baseline_us"] = rounded(s.baselineUs);
  j["baseline_hz"] = rounded(s.baselineHz, 1);
  j["jitter_us"] = rounded(s.jitterUs);
  j["stability"] = rounded(s.stability, 4);
  j["anomaly_count"] = s.anomalyCount;
  j["anomaly_ratio"] = rounded(s.anomalyRatio, 6);
  j["longest_us"] = rounded(s.longestIntervalUs);
  j["histogram_bin_width_us"] = rounded(s.binWidthUs);
  j["histogram"] = s.histogram;
  return j;
}

ordered_json reportsJson(const PollingStats& s) {
  ordered_json j;
  j["count"] = s.reportCount;
  j["kernel_drops"] = s.kernelDrops;
  j["kernel_dropped_reports"] = s.kernelDroppedReports;
  return j;
}

// The window's figure: the last 500 ms rate windows against the target.
ordered_json liveTargetJson(const TestRecord& r, const LiveVerdict& v) {
  ordered_json j;
  j["hz"] = rounded(r.targetHz, 1);
  j["interval_us"] = rounded(v.intervalUs);
  j["compared_hz"] = rounded(v.comparedHz, 1);
  j["ratio"] = rounded(v.ratio, 4);
  j["verdict"] = targetVerdictKey(v.verdict);
  j["verdict_text"] = targetVerdictText(v.verdict);
  return j;
}

// The whole test's verdict, as whole_test.target holds it, with the
// cause's kind and words beside it.
ordered_json targetJson(const DerivedFigures& f, const LiveVerdict& live) {
  ordered_json j = wholeTargetJson(f.whole);
  j["interval_us"] = rounded(live.intervalUs);
  const std::optional<RateCause>& cause = f.whole.cause;
  j["cause_kind"] = cause ? ordered_json(rateCauseKey(cause->kind)) : ordered_json(nullptr);
  j["cause_text"] = cause ? ordered_json(cause->text) : ordered_json(nullptr);
  return j;
}

ordered_json intervalsFileJson(const TestRecord& r) {
  ordered_json j;
  j["limit"] = r.stampLimit;
  j["recorded"] = r.stamps.size();
  j["truncated"] = r.stamps.truncated();
  if (r.stamps.truncated()) {
    j["note"] = "only the first " + std::to_string(r.stampLimit) + " reports were kept";
  }
  return j;
}

ordered_json rulesJson() {
  using namespace pollingrules;
  ordered_json j;
  j["stale_stamp_limit_ms"] = ms(kStaleLimit);
  j["interval_kept_min_us"] = kMinIntervalUs;
  j["interval_kept_max_us"] = kMaxIntervalUs;
  j["activity_timeout_ms"] = ms(kActivityTimeout);
  j["rate_window_ms"] = ms(kRateWindow);
  j["rate_min_reports"] = kMinRateTimestamps;
  j["rate_min_span_ms"] = kMinRateSpanMs;
  j["stats_warm_up_ms"] = ms(kWarmUp);
  j["history_period_ms"] = ms(kHistoryPeriod);
  j["diagnostics_period_ms"] = ms(kDiagnosticsPeriod);
  j["diagnostics_intervals"] = PollingAnalyzer::kIntervalCapacity;
  j["diagnostics_min_intervals"] = kMinDiagnosticsIntervals;
  j["baseline"] = "median of the diagnostics intervals (upper middle for an even count)";
  j["retained_low_factor"] = rounded(kRetainLowFactor);
  j["retained_high_factor"] = rounded(kRetainHighFactor);
  j["anomaly_factor"] = rounded(kAnomalyFactor);
  j["jitter"] = "population standard deviation of the retained intervals";
  j["stability"] = "1 - jitter / baseline, clamped to 0..1";
  j["kernel_dropped_reports"] = "round(gap / baseline - 1) for each kernel buffer overflow";
  j["target_near_ratio"] = rounded(kTargetNearRatio);
  j["target_reached_ratio"] = rounded(kTargetReachedRatio);
  return j;
}

}  // namespace

std::string isoLocalTime(std::chrono::system_clock::time_point t) {
  const auto sinceEpoch = t.time_since_epoch();
  const auto secs = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - secs);
  const std::time_t tt = static_cast<std::time_t>(secs.count());
  std::tm local{};
  localtime_r(&tt, &local);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  const long offset = local.tm_gmtoff;
  const long absOffset = offset < 0 ? -offset : offset;
  char out[64];
  std::snprintf(out, sizeof out, "%s.%03d%c%02ld:%02ld", date, static_cast<int>(millis.count()),
                offset < 0 ? '-' : '+', absOffset / 3600, absOffset % 3600 / 60);
  return out;
}

std::string startText(const std::optional<std::chrono::system_clock::time_point>& start) {
  return start ? isoLocalTime(*start) : i18n::tr("未知");
}

std::string resultJson(const TestRecord& record) {
  const DerivedFigures& f = derivedOf(record);
  ordered_json j;
  j["schema"] = "quillmark-result";
  j["schema_version"] = kResultSchemaVersion;
  j["program"] = {{"name", "quillmark"}, {"version", quillmark::kVersion}};
  j["device"] = deviceJson(record.device, f.rates);
  if (record.devices.size() > 1) j["devices"] = devicesJson(record, f);
  j["environment"] = environmentJson(record, f);
  j["test"] = testJson(record, f);
  j["rate"] = rateJson(record.stats);
  j["interval"] = intervalJson(record.stats);
  j["reports"] = reportsJson(record.stats);
  j["target"] = targetJson(f, f.live);
  j["live"] = {{"target", liveTargetJson(record, f.live)}};
  j["intervals_file"] = intervalsFileJson(record);
  j["whole_test"] = wholeTestJson(*record.whole, f.whole);
  // Of a test that changed mouse: which of devices[] the figures are about.
  j["whole_test"]["device_index"] =
      record.wholeDevice ? ordered_json(*record.wholeDevice) : ordered_json(nullptr);
  j["rules"] = rulesJson();
  // Device names come from the hardware: replace bytes that are not UTF-8
  // instead of failing.
  return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

WriteResult writeResultJson(const TestRecord& record, const std::string& path) {
  return writeFileAtomically(path, resultJson(record));
}

}  // namespace results
