#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace recordings {

// A recording opened for reading in blocks, never whole: its first bytes can
// be looked at before a reader takes over, lines come one at a time with
// their numbers, and progress is told as the share of the file read. Owns
// the file; one reader at a time, any thread.
class InputFile {
 public:
  static constexpr std::size_t kBlockBytes = std::size_t{1} << 16;

  // Throws RecordingError when the file cannot be opened or read.
  InputFile(const std::string& path, std::function<void(double)> progress);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  const std::string& path() const { return path_; }
  // Up to one block of the file's start, without consuming it.
  std::string_view head();
  // Raw bytes for a parser of its own; 0 at the end.
  std::size_t read(char* out, std::size_t size);
  // After read() has reached the end: the number of the file's last line.
  int64_t lastLine() const { return rawLines_ + (lastByte_ != '\n' ? 1 : 0); }
  // The next line without its line break; false at the end. lineNumber()
  // is then the line's number.
  bool nextLine(std::string_view& line);
  int64_t lineNumber() const { return line_; }

 private:
  bool fill();
  void tell();

  std::string path_;
  std::FILE* file_ = nullptr;
  std::function<void(double)> progress_;
  double size_ = 0;
  std::vector<char> buffer_;
  std::size_t begin_ = 0, end_ = 0;  // unread bytes in buffer_
  std::string carry_;                // a line that spans blocks
  int64_t consumed_ = 0;             // bytes taken from the file
  int64_t line_ = 0;
  int64_t rawLines_ = 0;  // line breaks handed out by read()
  char lastByte_ = '\n';
  bool eof_ = false;
};

}  // namespace recordings
