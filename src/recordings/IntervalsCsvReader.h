#pragma once

#include <array>
#include <string_view>

#include "recordings/InputFile.h"
#include "recordings/Recording.h"

namespace recordings {

inline constexpr std::size_t kMaxCsvColumns = 16;

// Reads Quillmark's own intervals CSV: a header naming its columns
// ("t_us,interval_us", optionally ",dx,dy" and more), then one line per
// report, t_us in microseconds since the first report. Columns it does not
// know are skipped; dx and dy, when present, are the reports' motion (both
// empty: unknown), kernel_drops the kernel drops just before a report. It
// names no device. One read per reader; any thread.
class IntervalsCsvReader {
 public:
  IntervalsCsvReader(InputFile& file, const ReadOptions& options);
  Recording read();

 private:
  void readHeader(std::string_view line);
  void readReport(std::string_view line);
  void readDrops(std::string_view line, std::string_view field, int64_t ns);
  ReportMotion readMotion(std::string_view line,
                          const std::array<std::string_view, kMaxCsvColumns>& fields);
  [[noreturn]] void fail(std::string_view line, std::string_view field,
                         const std::string& reason) const;

  InputFile& file_;
  ReadOptions options_;
  Recording rec_;
  std::size_t columns_ = 0;
  std::size_t dxColumn_ = 0, dyColumn_ = 0;  // 0: none (t_us is column 0)
  std::size_t dropsColumn_ = 0;
  bool motionSeen_ = false;  // a row with dx and dy
};

}  // namespace recordings
