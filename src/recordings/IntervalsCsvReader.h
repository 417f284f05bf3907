#pragma once

#include "recordings/InputFile.h"
#include "recordings/Recording.h"

namespace recordings {

// Reads Quillmark's own intervals CSV: a header naming its columns
// ("t_us,interval_us", optionally ",dx,dy" and more), then one line per
// report, t_us in microseconds since the first report. Columns it does not
// know are skipped; dx and dy, when present, are the reports' motion. It
// names no device and marks no kernel drop. One read per reader; any thread.
class IntervalsCsvReader {
 public:
  IntervalsCsvReader(InputFile& file, const ReadOptions& options);
  Recording read();

 private:
  void readHeader(std::string_view line);
  void readReport(std::string_view line);
  [[noreturn]] void fail(std::string_view line, std::string_view field,
                         const std::string& reason) const;

  InputFile& file_;
  ReadOptions options_;
  Recording rec_;
  std::size_t columns_ = 0;
  std::size_t dxColumn_ = 0, dyColumn_ = 0;  // 0: none (t_us is column 0)
};

}  // namespace recordings
