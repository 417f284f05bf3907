#include "recordings/InputFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "recordings/Recording.h"
#include "recordings/TextFields.h"
#include "results/FileWriter.h"

namespace recordings {

namespace {

// No recording has lines this long; a file that does is not one.
constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;

}  // namespace

InputFile::InputFile(const std::string& path, std::function<void(double)> progress)
    : path_(path), progress_(std::move(progress)), buffer_(kBlockBytes) {
  file_ = std::fopen(path.c_str(), "rbe");
  if (file_ == nullptr) {
    const std::string why = results::readErrnoText(errno);  // before anything else sets errno
    throw RecordingError(path, 0, 0, formatText(i18n::tr("无法打开：%s"), why.c_str()));
  }
  struct stat st {};
  if (::fstat(::fileno(file_), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(file_);
    file_ = nullptr;
    throw RecordingError(path, 0, 0, i18n::tr("这是一个文件夹，不是录制文件"));
  }
  if (S_ISREG(st.st_mode)) size_ = static_cast<double>(st.st_size);
}

InputFile::~InputFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool InputFile::fill() {
  if (eof_) return false;
  begin_ = 0;
  end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
  if (end_ == 0) {
    if (std::ferror(file_)) {
      const std::string why = results::readErrnoText(errno);
      throw RecordingError(path_, line_, 0, formatText(i18n::tr("读取失败：%s"), why.c_str()));
    }
    eof_ = true;
    return false;
  }
  // A byte order mark some editors put before UTF-8 text is no content.
  if (consumed_ == 0 && std::string_view(buffer_.data(), end_).starts_with("\xEF\xBB\xBF")) {
    begin_ = 3;
  }
  consumed_ += static_cast<int64_t>(end_);
  tell();
  return true;
}

void InputFile::tell() {
  if (progress_ && size_ > 0) progress_(std::min(1.0, static_cast<double>(consumed_) / size_));
}

std::string_view InputFile::head() {
  if (begin_ == end_ && consumed_ == 0) fill();
  return {buffer_.data() + begin_, end_ - begin_};
}

std::size_t InputFile::read(char* out, std::size_t size) {
  if (begin_ == end_ && !fill()) return 0;
  const std::size_t n = std::min(size, end_ - begin_);
  std::memcpy(out, buffer_.data() + begin_, n);
  rawLines_ += std::count(out, out + n, '\n');
  lastByte_ = out[n - 1];
  begin_ += n;
  return n;
}

bool InputFile::nextLine(std::string_view& line) {
  carry_.clear();
  for (;;) {
    if (begin_ == end_ && !fill()) {
      if (carry_.empty()) return false;
      break;  // the last line has no line break
    }
    const char* start = buffer_.data() + begin_;
    const auto* nl = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
    if (nl == nullptr) {
      carry_.append(start, end_ - begin_);
      begin_ = end_;
      if (carry_.size() > kMaxLineBytes)
        throw RecordingError(path_, line_ + 1, 0, i18n::tr("这一行太长，不是录制文件"));
      continue;
    }
    const std::size_t n = static_cast<std::size_t>(nl - start);
    begin_ += n + 1;
    if (carry_.empty()) {
      line = std::string_view(start, n);
    } else {
      carry_.append(start, n);
      line = carry_;
    }
    ++line_;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return true;
  }
  ++line_;
  line = carry_;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return true;
}

}  // namespace recordings
