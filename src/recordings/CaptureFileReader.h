#pragma once

#include "recordings/InputFile.h"
#include "recordings/Recording.h"

namespace recordings {

// Reads a raw report capture (TAVO_CAPTURE): its header ("# device=",
// "# samples=") and one "t_us,report_id,len,hash" line per report. It holds
// no motion (only a hash of each report's bytes). A file with fewer lines
// than its header promises was cut short. One read per reader; any thread.
class CaptureFileReader {
 public:
  CaptureFileReader(InputFile& file, const ReadOptions& options);
  Recording read();

 private:
  void readHeader(std::string_view line);
  void readSample(std::string_view line);
  [[noreturn]] void fail(std::string_view line, std::string_view field,
                         const std::string& reason) const;

  InputFile& file_;
  ReadOptions options_;
  Recording rec_;
  std::optional<int64_t> samples_;
};

}  // namespace recordings
