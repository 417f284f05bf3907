#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Records the raw reports of the selected mouse to a text file, for one
// capture per process: started by TAVO_CAPTURE at the first matched mouse,
// ended after TAVO_CAPTURE_SECONDS from the first report (30 s by default),
// at 1,000,000 reports, or when the monitor stops. The file is only opened
// when reports were captured (a run without any leaves an existing file
// alone); its header names the mouse of the first report captured.
//
// maybeStart(), add() and a write() that add() triggers run on the HID thread
// and take no lock; stop() runs only after the HID thread has ended. The file
// itself is written by a writer thread of the capture's own: write() only
// hands the finished samples over, so the HID thread never waits on the disk
// or on a FIFO. The output is opened non-blocking, so no target can hang the
// program; a target that stops taking data fails with one console line.
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
  static constexpr uint64_t kHashStart = 0x14650fb0739d0383ULL;
  // A write that makes no progress for this long (a FIFO whose reader stopped
  // reading) fails.
  static constexpr std::chrono::milliseconds kStallLimit{2000};
  // How long stop() waits for a file still being written before it cancels
  // the write: quitting must not wait on a slow target.
  static constexpr std::chrono::milliseconds kStopWait{700};

  // Reads the real environment and the steady clock; messages go to stderr.
  ReportCapture();
  ReportCapture(EnvLookup env, ClockFn clock, std::FILE* console);
  // Cancels a write still in progress and waits for the writer thread.
  ~ReportCapture();
  ReportCapture(const ReportCapture&) = delete;
  ReportCapture& operator=(const ReportCapture&) = delete;

  // The process-wide capture. It is never destroyed, so the HID monitor's
  // destructor can still stop it during static destruction.
  static ReportCapture& instance();

  void maybeStart(const std::string& deviceName);
  void add(unsigned int reportId, const unsigned char* report, size_t length);
  // Ends the capture and hands its samples to the writer thread.
  void write();
  // Ends a running capture, then waits up to kStopWait for its file; a write
  // still going on after that is cancelled.
  void stop();
  // Waits up to `limit` for the writer; true when no file is being written.
  // Any thread but the HID thread.
  bool waitForFile(std::chrono::milliseconds limit);

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
  // What the writer thread needs: a copy of the capture's identity and the
  // samples themselves.
  struct Job {
    std::string path;
    std::string deviceName;
    uint64_t firstUs = 0;
    std::vector<Sample> samples;
  };

  // Seconds in decimal, more than 0; nullopt for any other text.
  static std::optional<double> parseSeconds(const char* text);
  // Seconds in whole microseconds, saturated to the 64-bit range.
  static uint64_t durationMicros(double seconds);
  void startWriter(std::shared_ptr<Job> job);
  // Opens the file, writes it and prints the outcome. Writer thread.
  void writeJob(const Job& job);
  // Writes the header and every sample to fd; false with errno set on failure.
  bool writeTo(int fd, const Job& job);
  // write(2) of the whole buffer, waiting while a non-blocking target is
  // full; fails on a stall longer than kStallLimit or a cancel.
  bool writeAll(int fd, const char* data, size_t len);

  EnvLookup env_;
  ClockFn clock_;
  std::FILE* console_;

  std::mutex writerMutex_;
  std::condition_variable writerDone_;
  bool writing_ = false;  // guarded by writerMutex_
  std::atomic<bool> cancel_{false};
  std::thread writer_;
};
