#pragma once

// A known stream of mouse reports (stamps with jitter, a rest, kernel drops,
// motion), and the recording files that hold it, written the way
// `libinput record` and evemu-record write theirs. Tests and benchmarks
// compare what the readers make of the files with the stream itself.

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace genstream {

struct Report {
  int64_t ns;
  int dx, dy;
};

struct Stream {
  std::vector<Report> reports;
  std::vector<std::size_t> drops;  // a kernel drop before the report at each index
};

// `seconds` of reports at `rateHz` with up to ±jitterNs, a rest of 400 ms
// in the middle when `rest`, and a kernel drop every `dropEvery` reports
// (0: none), which loses that report.
inline Stream makeStream(double rateHz, double seconds, int64_t jitterNs, bool rest,
                         std::size_t dropEvery, uint32_t seed = 7) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int64_t> jitter(-jitterNs, jitterNs);
  std::uniform_int_distribution<int> motion(-20, 20);
  const auto periodNs = static_cast<int64_t>(1e9 / rateHz);
  const auto slots = static_cast<std::size_t>(seconds * rateHz);
  Stream s;
  int64_t offset = 1'000'000'000;  // libinput record starts near zero; not at it
  for (std::size_t slot = 0; slot < slots; ++slot) {
    if (rest && slot == slots / 2) offset += 400'000'000;
    if (dropEvery != 0 && slot % dropEvery == dropEvery - 1) {
      s.drops.push_back(s.reports.size());
      continue;
    }
    // The formats keep microseconds.
    const int64_t ns = (offset + static_cast<int64_t>(slot) * periodNs + jitter(rng)) / 1000 * 1000;
    s.reports.push_back({ns, motion(rng), motion(rng)});
  }
  return s;
}

// A mouse on a USB host: the host polls once per slot with one request in
// flight, each report reaches the kernel after a host delay, and a slot whose
// poll would start before the last report arrived is not polled. The mouse
// answers a poll when its own report is due and the hand gave it counts; a
// slot it could not send in carries its counts into the next report.
struct UsbHost {
  double seconds = 10;
  double periodNs = 125'000;            // the host's poll interval
  double devicePeriodNs = 0;            // the mouse's own interval; 0: every poll
  double switchAtS = 0;                 // from then on the mouse's interval is
  double switchPeriodNs = 0;            //   this one (0: no switch)
  double switchBackS = 0;               // and back and forth every this long (0: stays)
  int64_t delayNs = 0;                  // host delay uniform in [0, delayNs]
  double tailNs = 0;                    // plus an exponential tail of this mean
  double slewPpm = 0;                   // the stamping clock swings ± this, once a minute
  double clockPpm = 0;                  // the stamping clock runs this far off the host's
  double rampPpm = 0;                   // and drifts by this much over the test
  double countsPerSlot = 8;             // the hand's counts per host slot while it moves
  double strokeS = 0, pauseS = 0;       // strokes and pauses of the hand (0: no pauses)
  double duplicateShare = 0;            // reports stamped a second time (no motion)
  double burstEveryS = 0;               // a host that queues: it stalls this often (0: never)
  double burstStallNs = 0;              //   for this long, then hands the queue over at once
  double stallEveryS = 0;               // interrupts held off this often (0: never)
  double stallLoNs = 0, stallHiNs = 0;  // for this long: the report then in flight is late
  double lostPollShare = 0;             // polls lost, the mouse's counts kept for the next
  int batch = 1;                        // reports handed over together
  int64_t batchGapNs = 2000;            // this far apart
  uint32_t seed = 3;
};

struct HostTruth {
  int64_t missed = 0;           // slots not polled while the mouse had a report
  int64_t idle = 0;             // slots between the first and last report without one, not missed
  std::vector<int64_t> lateNs;  // each report's host delay
};

inline Stream makeUsbStream(const UsbHost& h, HostTruth& truth) {
  std::mt19937 rng(h.seed);
  std::uniform_int_distribution<int64_t> delay(0, h.delayNs);
  std::exponential_distribution<double> tail(h.tailNs > 0 ? 1.0 / h.tailNs : 1.0);
  std::uniform_real_distribution<double> chance(0, 1);
  const auto clock = [&](double ns) {  // the stamping clock, slewed
    const double w = 2 * std::numbers::pi / 60e9;
    const double ramp = h.rampPpm * 1e-6 * ns * ns / (2 * h.seconds * 1e9);
    return 1e9 + ns * (1 + h.clockPpm * 1e-6) + ramp +
           h.slewPpm * 1e-6 * (1 - std::cos(w * ns)) / w;
  };
  Stream s;
  double counts = 0, deviceDue = 0, busyUntil = 0, nextStall = h.stallEveryS * 1e9;
  std::uniform_real_distribution<double> stall(h.stallLoNs, h.stallHiNs);
  int64_t firstSlot = -1, lastSlot = 0, reportSlots = 0;
  std::vector<Report> held;
  const auto slots = static_cast<int64_t>(h.seconds * 1e9 / h.periodNs);
  for (int64_t k = 0; k < slots; ++k) {
    const double t = static_cast<double>(k) * h.periodNs;
    const bool switched =
        h.switchPeriodNs > 0 && t >= h.switchAtS * 1e9 &&
        (h.switchBackS <= 0 || std::fmod(t / 1e9 - h.switchAtS, 2 * h.switchBackS) < h.switchBackS);
    const double own = switched ? h.switchPeriodNs : h.devicePeriodNs;
    const double cycle = h.strokeS + h.pauseS;
    const bool moving = cycle <= 0 || std::fmod(t / 1e9, cycle) < h.strokeS;
    if (moving) counts += h.countsPerSlot;
    const bool due = t + 1 >= deviceDue && counts >= 1;
    if (!due) continue;
    if (t < busyUntil || (h.lostPollShare > 0 && chance(rng) < h.lostPollShare)) {
      ++truth.missed;
      continue;
    }
    // A mouse with its own interval sends what its sensor gathered over it.
    const int c = static_cast<int>(
        own > 0 ? std::min(counts, std::round(h.countsPerSlot * own / h.periodNs)) : counts);
    counts -= c;
    // From its first report at its own interval, the mouse keeps its phase.
    deviceDue = own <= 0 ? 0 : deviceDue > 0 ? std::max(deviceDue + own, t - own / 2) : t + own;
    double late = static_cast<double>(delay(rng)) + (h.tailNs > 0 ? tail(rng) : 0.0);
    if (h.stallEveryS > 0 && t >= nextStall) {
      late += stall(rng);
      nextStall += h.stallEveryS * 1e9;
    }
    const double since = h.burstEveryS > 0 ? std::fmod(t, h.burstEveryS * 1e9) : h.burstStallNs;
    if (t >= h.burstEveryS * 1e9 && since < h.burstStallNs) {
      // Handed over together, stamped at one instant before the next poll's report.
      late = h.burstStallNs - since - 20'000;
    } else {
      busyUntil = t + late;
    }
    truth.lateNs.push_back(static_cast<int64_t>(late));
    held.push_back({static_cast<int64_t>(clock(t + late)), c, 0});
    if (firstSlot < 0) firstSlot = k;
    lastSlot = k;
    ++reportSlots;
    if (static_cast<int>(held.size()) < h.batch) continue;
    for (std::size_t j = 0; j < held.size(); ++j) {
      Report r = held[j];
      if (h.batch > 1) r.ns = held.back().ns + static_cast<int64_t>(j) * h.batchGapNs;
      s.reports.push_back(r);
      if (chance(rng) < h.duplicateShare) s.reports.push_back({r.ns, 0, 0});
    }
    held.clear();
  }
  truth.idle = lastSlot - firstSlot + 1 - reportSlots - truth.missed;
  return s;
}

// A Bluetooth LE link: a connection event every `eventNs`, each carrying
// `fewest` to `most` reports, `insideLoNs` to `insideHiNs` apart.
inline Stream makeLinkStream(double seconds, int64_t eventNs, int fewest, int most,
                             int64_t insideLoNs, int64_t insideHiNs, uint32_t seed = 5) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> count(fewest, most);
  std::uniform_int_distribution<int64_t> inside(insideLoNs, insideHiNs);
  Stream s;
  for (int64_t t = 1'000'000'000; t < 1'000'000'000 + seconds * 1e9; t += eventNs) {
    int64_t at = t;
    for (int k = count(rng); k > 0; --k, at += inside(rng)) s.reports.push_back({at, 3, -2});
  }
  return s;
}

// The frame a drop interrupted: its first event, SYN_DROPPED, the rest.
inline int64_t dropNs(const Stream& s, std::size_t drop) {
  const std::size_t at = s.drops[drop];
  const int64_t before = at > 0 ? s.reports[at - 1].ns : 0;
  return at < s.reports.size() ? (before + s.reports[at].ns) / 2 : before + 1000;
}

struct Event {
  int64_t ns;
  int type, code, value;
};

// The stream frame by frame as the kernel hands it over: a drop is a frame
// cut by SYN_DROPPED, whose rest up to its SYN_REPORT is lost.
template <typename EachFrame>
void forEachFrame(const Stream& s, EachFrame each) {
  std::size_t drop = 0;
  for (std::size_t i = 0; i <= s.reports.size(); ++i) {
    for (; drop < s.drops.size() && s.drops[drop] == i; ++drop) {
      const int64_t ns = dropNs(s, drop);
      each({{ns, 2, 0, 1}, {ns, 0, 3, 0}, {ns + 1000, 2, 1, 1}, {ns + 1000, 0, 0, 0}});
    }
    if (i == s.reports.size()) break;
    const Report& r = s.reports[i];
    each({{r.ns, 2, 0, r.dx}, {r.ns, 2, 1, r.dy}, {r.ns, 0, 0, 0}});
  }
}

inline const char* noteOf(const Event& e) {
  if (e.type == 2) return e.code == 0 ? "EV_REL / REL_X" : "EV_REL / REL_Y";
  return e.code == 3 ? "SYN_DROPPED" : "------------ SYN_REPORT (0) ----------";
}

// The file at `path`: `header`, then each frame as `frameStart` and a line
// per event.
template <typename EventLine>
void writeFrames(const std::string& path, const Stream& s, const char* header,
                 const char* frameStart, EventLine eventLine) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  std::fputs(header, f);
  forEachFrame(s, [&](std::initializer_list<Event> frame) {
    std::fputs(frameStart, f);
    for (const Event& e : frame) eventLine(f, e);
  });
  std::fclose(f);
}

inline constexpr const char* kLibinputHeader = R"(version: 1
ndevices: 1
libinput:
  version: 1.22.1
system:
  os: "debian:12"
devices:
  - node: /dev/input/event5
    evdev:
      # Name: Generated Mouse
      name: Generated Mouse
      id: [3, 1133, 49271, 273]
      codes:
        0: [0, 1, 2, 3] # EV_SYN
        1: [272, 273, 274] # EV_KEY
        2: [0, 1, 8, 11] # EV_REL
      properties: []
    events:
)";

inline constexpr const char* kEvemuHeader = R"(# EVEMU 1.3
# Input device name: "Generated Mouse"
N: Generated Mouse
I: 0003 046d c077 0111
P: 00 00 00 00 00 00 00 00
B: 00 0f 00 00 00 00 00 00 00
B: 02 03 09 00 00 00 00 00 00
################################
#      Waiting for events      #
################################
)";

inline void writeLibinputRecord(const std::string& path, const Stream& s) {
  writeFrames(path, s, kLibinputHeader, "    - evdev:\n", [](std::FILE* f, const Event& e) {
    std::fprintf(f, "      - [%3" PRId64 ", %6" PRId64 ", %3d, %3d, %5d] # %s\n",
                 e.ns / 1'000'000'000, e.ns % 1'000'000'000 / 1000, e.type, e.code, e.value,
                 noteOf(e));
  });
}

inline void writeEvemu(const std::string& path, const Stream& s) {
  writeFrames(path, s, kEvemuHeader, "", [](std::FILE* f, const Event& e) {
    std::fprintf(f, "E: %" PRId64 ".%06" PRId64 " %04x %04x %04d\n", e.ns / 1'000'000'000,
                 e.ns % 1'000'000'000 / 1000, e.type, e.code, e.value);
  });
}

}  // namespace genstream
