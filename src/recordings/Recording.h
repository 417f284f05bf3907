#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/ButtonAnalysis.h"
#include "analysis/ReportMotion.h"
#include "analysis/StampSeries.h"

// One device's reports read from a file a user already has: a `libinput
// record` YAML file, an evemu-record file, or Quillmark's own intervals CSV
// and raw capture. Readers know nothing about analysis; they only turn a
// file into stamps, motion and kernel-drop marks. Plain values; any thread.
namespace recordings {

struct Recording {
  std::string deviceName;  // as the file names it; empty when it does not
  std::string format;   // "libinput-record", "evemu-record", "quillmark-csv", "quillmark-capture"
  int deviceIndex = 0;  // which of the file's devices (libinput record files can hold several)
  std::vector<int64_t> stampsNs;     // one per report, the frame's SYN_REPORT time, ascending
  std::vector<ReportMotion> motion;  // one per report when motionKnown, else empty
  std::vector<DropMark> drops;       // kernel drops, by the report they came before
  bool motionKnown = false;
  // Every button press and release, stamped with its report's time
  // (evemu and libinput record files; empty for the others).
  std::vector<buttons::ButtonEdge> buttonEdges;

  // What the file says about the device and the machine it was recorded on;
  // empty where it says nothing (never this machine's facts).
  std::string transport;  // from the device's bus type: "USB", "Bluetooth", …
  std::optional<int32_t> vendorId, productId, version;
  std::string kernelRelease;
  // The stamps are seconds since 1970 (old evemu files), so the first one
  // says when the recording started.
  bool wallClockStamps = false;
};

// Why a file cannot be read, and where: line and column count from 1, 0
// when the place is not known.
class RecordingError : public std::runtime_error {
 public:
  RecordingError(std::string file, int64_t line, int64_t column, const std::string& reason);
  const std::string& file() const { return file_; }
  int64_t line() const { return line_; }
  int64_t column() const { return column_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string file_;
  int64_t line_;
  int64_t column_;
  std::string reason_;
};

struct ReadOptions {
  std::optional<int> device;  // index among the file's devices; default: the first that moves
  // Called now and then with the share of the file read so far (0..1).
  std::function<void(double)> progress;
};

// Reads `path`, recognising its format from its first bytes. Throws
// RecordingError on anything it cannot read: the message, what() gives,
// is one line "FILE:LINE:COLUMN: reason".
Recording readRecording(const std::string& path, const ReadOptions& options = {});

}  // namespace recordings
