#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// Records the raw reports of the selected mouse to a text file, for one
// capture per process: started by TAVO_CAPTURE at the first matched mouse,
// ended after TAVO_CAPTURE_SECONDS from the first report (30 s by default),
// at 1,000,000 reports, or when the monitor stops. Runs on the HID thread and
// takes no lock; stop() runs only after the HID thread has ended.
class ReportCapture {
 public:
  struct Sample {
    uint64_t tUs;  // steady clock, microseconds
    uint32_t reportId;
    uint32_t length;
    uint64_t hash;
  };

  using Clock = std::chrono::steady_clock;
  using EnvLookup = std::function<const char*(const char*)>;
  using ClockFn = std::function<Clock::time_point()>;

  static constexpr double kDefaultSeconds = 30.0;
  // The longest duration whose microseconds still fit in 64 bits (about
  // 570,000 years): longer requests end at the sample limit or at stop().
  static constexpr double kMaxSeconds = 1.8e13;
  static constexpr size_t kSampleLimit = 1'000'000;
  static constexpr size_t kInitialReserve = 200'000;
  static constexpr uint64_t kHashStart = 0x14650fb0739d0383ULL;

  // Reads the real environment and the steady clock; messages go to stderr.
  ReportCapture();
  ReportCapture(EnvLookup env, ClockFn clock, std::FILE* console);

  // The process-wide capture. It is never destroyed, so the HID monitor's
  // destructor can still stop it during static destruction.
  static ReportCapture& instance();

  void maybeStart(const std::string& deviceName);
  void add(unsigned int reportId, const unsigned char* report, size_t length);
  void write();
  void stop();

  // FNV-1a over the report bytes, from kHashStart.
  static uint64_t hashReport(const unsigned char* report, size_t length);

  bool recording = false;
  bool finished = false;
  std::string outputPath;
  std::string deviceName;
  double durationSeconds = kDefaultSeconds;
  uint64_t firstUs = 0;
  std::vector<Sample> samples;

 private:
  static double parseSeconds(const char* text);
  // Seconds in whole microseconds, saturated to the 64-bit range.
  static uint64_t durationMicros(double seconds);
  void growSamples();
  // Writes the header and every sample to fd; false with errno set on failure.
  bool writeTo(int fd) const;

  EnvLookup env_;
  ClockFn clock_;
  std::FILE* console_;
};
