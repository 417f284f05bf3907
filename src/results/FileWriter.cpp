#include "results/FileWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace results {

namespace {

WriteResult failure(const std::string& path, int err) {
  return WriteResult{false, "无法写入 " + path + "：" + errnoText(err)};
}

// A name beside `path` that no other writer of this process or another
// one picks at the same moment.
std::string temporaryName(const std::string& path) {
  static std::atomic<unsigned> s_counter{0};
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return dir + "." + base + ".tmp-" + std::to_string(::getpid()) + "-" +
         std::to_string(s_counter.fetch_add(1));
}

}  // namespace

std::string errnoText(int err) {
  const char* name = strerrorname_np(err);
  return std::string(name != nullptr ? name : "errno " + std::to_string(err)) + "（" +
         std::strerror(err) + "）";
}

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
  if (path_.empty() || path_.back() == '/') {
    error_ = EISDIR;
    return;
  }
  temp_ = temporaryName(path_);
  fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    error_ = errno;
    temp_.clear();  // nothing to remove
  }
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
}

void AtomicFile::write(std::string_view data) {
  while (error_ == 0 && !data.empty()) {
    const ssize_t n = ::write(fd_, data.data(), data.size());
    if (n < 0) {
      if (errno != EINTR) error_ = errno;
      continue;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
}

WriteResult AtomicFile::commit() {
  if (error_ == 0 && ::fsync(fd_) != 0) error_ = errno;
  if (fd_ >= 0 && ::close(fd_) != 0 && error_ == 0) error_ = errno;
  fd_ = -1;
  if (error_ == 0 && ::rename(temp_.c_str(), path_.c_str()) != 0) error_ = errno;
  if (error_ != 0) return failure(path_, error_);
  committed_ = true;
  return WriteResult{};
}

WriteResult writeFileAtomically(const std::string& path, std::string_view content) {
  AtomicFile file(path);
  file.write(content);
  return file.commit();
}

}  // namespace results
