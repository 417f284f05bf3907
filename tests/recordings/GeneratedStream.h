#pragma once

// A known stream of mouse reports (stamps with jitter, a rest, kernel drops,
// motion), and the recording files that hold it, written the way
// `libinput record` and evemu-record write theirs. Tests and benchmarks
// compare what the readers make of the files with the stream itself.

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
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
