#pragma once

#include "recordings/FrameBuilder.h"
#include "recordings/InputFile.h"
#include "recordings/Recording.h"

namespace recordings {

// Reads an evemu-record file: the device header ("N:" its name, "I:" its
// bus, vendor, product and version, "B: 02 …" its relative axes) and one "E: sec.usec type code
// value" line per event (type and code in hex). Lines of other kinds and comments are skipped. One
// device per file. One read per reader; any thread.
class EvemuRecordReader {
 public:
  EvemuRecordReader(InputFile& file, const ReadOptions& options);
  Recording read();

 private:
  void readLine(std::string_view line);
  void readEvent(std::string_view fields);
  void readId(std::string_view fields);
  void readBits(std::string_view fields);
  [[noreturn]] void fail(std::size_t column, const std::string& reason) const;

  InputFile& file_;
  ReadOptions options_;
  FrameBuilder frames_;
  std::string name_;
  std::string transport_;
  std::optional<int32_t> vendorId_, productId_, version_;
  std::string kernel_;
  bool declaresRel_ = false;
  int64_t lastEventLine_ = 0;
};

}  // namespace recordings
