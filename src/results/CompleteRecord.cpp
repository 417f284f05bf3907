// The one step from a recording's analysis to the result files: every
// figure a writer shows is derived here, once, so two files never say two
// things about one test.
#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>

#include "results/TestRecord.h"

namespace results {

namespace {

DeviceRates ratesOf(const DeviceIdentity& d) { return {configuredHz(d), requestedHz(d)}; }

// The cause speaks of the verdict's yardstick: a test judged against
// --target 2000 is not explained against the mouse's 8000 Hz.
std::optional<RateCause> causeOf(const DeviceIdentity& device, float targetHz, TargetSource source,
                                 const WholeTestFigures& whole) {
  RateContext x;
  x.yardstickHz = targetHz;
  x.hostHz = configuredHz(device);
  x.requestedHz = requestedHz(device);
  // The host's rate is the one the mouse asked for unless the host slowed it.
  x.yardstickAsked =
      source == TargetSource::Configured && (x.requestedHz <= 0 || x.requestedHz == x.hostHz);
  x.hostReason = device.configuredReason;
  x.mousepollMs = device.usbhidMousepollMs;
  return diagnoseRate(whole, x);
}

// Judges `whole` (of `stamps`) against the target: capability, verdict, cause.
WholeJudgement judge(const DeviceIdentity& device, float targetHz, TargetSource source,
                     const StampSeries& stamps, WholeTestFigures& whole) {
  judgeCapability(stamps, targetHz, whole);
  WholeJudgement j;
  j.targetHz = targetHz;
  j.targetSource = source;
  j.verdict = wholeTestVerdict(whole, targetHz);
  j.comparedCapability = j.verdict.verdict != TargetVerdict::Unknown && whole.capabilityHz &&
                         static_cast<float>(*whole.capabilityHz) == j.verdict.comparedHz;
  j.cause = causeOf(device, targetHz, source, whole);
  // The one verdict every writer shows; it may reword the cause to agree.
  j.test = judgeTest(whole, {targetHz, judgeMouse(whole, targetHz), configuredHz(device)}, j.cause);
  j.kernelDroppedShare =
      whole.reports > 0 ? static_cast<double>(whole.kernelDroppedReports) / whole.reports : 0.0;
  return j;
}

LiveVerdict liveVerdict(const PollingStats& stats, float targetHz) {
  LiveVerdict v;
  v.comparedHz = verdictRateHz(stats);
  v.verdict = targetVerdict(v.comparedHz, targetHz);
  if (targetHz > 0.0f) {
    v.ratio = v.comparedHz / targetHz;
    v.intervalUs = 1e6 / targetHz;
  }
  return v;
}

// A test on this machine ran on the kernel running now; a recording's is
// the one the file names, when it names one.
std::optional<std::string> kernelReleaseOf(const TestRecord& r) {
  if (r.kernelRelease) {
    return r.kernelRelease->empty() ? std::nullopt : r.kernelRelease;
  }
  utsname u{};
  return uname(&u) == 0 ? u.release : "";
}

bool severalMice(const TestRecord& r) { return r.devices.size() > 1; }

// The stamps `whole` is about: of a test that changed mouse, the chosen mouse's.
const StampSeries& wholeStamps(const TestRecord& r) {
  if (severalMice(r) && r.wholeDevice && *r.wholeDevice < r.devices.size())
    return r.devices[*r.wholeDevice].stamps;
  return r.stamps;
}

void analyze(TestRecord& r) {
  if (severalMice(r)) {
    for (DeviceReports& d : r.devices) {
      if (!d.whole) d.whole = analyzeWholeTest(d.stamps, wholeTestOptions(d.device));
    }
    if (!r.whole && r.wholeDevice && *r.wholeDevice < r.devices.size())
      r.whole = r.devices[*r.wholeDevice].whole;
  }
  if (!r.whole) r.whole = analyzeWholeTest(r.stamps, wholeTestOptions(r));
}

// Each mouse held against its own target when the target follows the
// mouse, else against the test's.
std::vector<DeviceJudgement> judgeEachMouse(TestRecord& r) {
  std::vector<DeviceJudgement> out;
  if (!severalMice(r)) return out;
  for (DeviceReports& d : r.devices) {
    DeviceJudgement dj;
    dj.rates = ratesOf(d.device);
    if (d.whole) {
      float targetHz = r.targetHz;
      TargetSource source = r.targetSource;
      if (r.targetFollowsMouse) targetHz = defaultTargetHz(d.device, *d.whole, source);
      dj.whole = judge(d.device, targetHz, source, d.stamps, *d.whole);
    }
    out.push_back(std::move(dj));
  }
  return out;
}

}  // namespace

void completeRecord(TestRecord& r, std::optional<float> givenTargetHz, TargetSource givenSource) {
  analyze(r);
  if (givenTargetHz) {
    r.targetHz = *givenTargetHz;
    r.targetSource = givenSource;
  } else {
    r.targetHz = defaultTargetHz(r.device, *r.whole, r.targetSource);
  }
  DerivedFigures f;
  f.rates = ratesOf(r.device);
  f.whole = judge(r.device, r.targetHz, r.targetSource, wholeStamps(r), *r.whole);
  f.devices = judgeEachMouse(r);
  f.live = liveVerdict(r.stats, r.targetHz);
  f.kernelRelease = kernelReleaseOf(r);
  if (!r.device.portPath.empty()) f.hubDepth = hubDepth(r.device.portPath);
  f.endKey = testEndKey(r.end);
  r.derived = std::move(f);
}

const DerivedFigures& derivedOf(const TestRecord& record) {
  if (!record.derived || !record.whole) {
    std::fputs("quillmark: internal error: a result written before completeRecord\n", stderr);
    std::abort();
  }
  return *record.derived;
}

}  // namespace results
