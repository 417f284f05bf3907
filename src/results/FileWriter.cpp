#include "results/FileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace results {

namespace {

std::atomic<bool> s_stdoutClosed{false};

// The kernel's own limit on links followed in one path.
constexpr int kMaxLinks = 40;
// Attempts at a free temporary name before giving up.
constexpr int kTemporaryNameTries = 100;

WriteResult failure(const std::string& path, int err, const std::string& reason = {}) {
  return WriteResult{false, "无法写入 " + path + "：" + (reason.empty() ? errnoText(err) : reason)};
}

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// What a path names once its links are followed.
struct Target {
  enum class Kind { Missing, Regular, Direct, StandardOutput };
  Kind kind = Kind::Missing;
  std::string path;
  struct stat st {};
  int error = 0;
};

bool readLink(const std::string& link, std::string& out) {
  std::vector<char> buf(256);
  for (;;) {
    const ssize_t n = ::readlink(link.c_str(), buf.data(), buf.size());
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) < buf.size()) {
      out.assign(buf.data(), static_cast<std::size_t>(n));
      return true;
    }
    buf.resize(buf.size() * 2);
  }
}

Target resolve(const std::string& path) {
  Target t;
  t.path = path;
  if (path == "-") {
    t.kind = Target::Kind::StandardOutput;
    return t;
  }
  if (path.empty() || path.back() == '/') {
    t.error = path.empty() ? ENOENT : EISDIR;
    return t;
  }
  for (int hop = 0;; ++hop) {
    if (::lstat(t.path.c_str(), &t.st) != 0) {
      if (errno != ENOENT) t.error = errno;
      return t;
    }
    if (!S_ISLNK(t.st.st_mode)) break;
    std::string link;
    if (hop == kMaxLinks || !readLink(t.path, link)) {
      t.error = hop == kMaxLinks ? ELOOP : errno;
      return t;
    }
    // A relative link is read from the folder that holds it.
    t.path = link.front() == '/' ? link : folderOf(t.path) + "/" + link;
  }
  if (S_ISDIR(t.st.st_mode)) {
    t.error = EISDIR;
  } else {
    t.kind = S_ISREG(t.st.st_mode) ? Target::Kind::Regular : Target::Kind::Direct;
  }
  return t;
}

// Short whatever the final name: a name of 255 bytes still has a temporary
// one, and a hidden one no result could have.
std::string temporaryName(const std::string& folder) {
  static std::atomic<unsigned> s_counter{0};
  return folder + "/.qm" + std::to_string(::getpid()) + "-" + std::to_string(s_counter++) + ".tmp";
}

// The replaced file's mode, and its owner where this process may give it
// (root); the mode goes last, since a change of owner clears the set-id bits.
int keepOwnerAndMode(int fd, const struct stat& st) {
  if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
    [[maybe_unused]] const int notPermitted = ::fchown(fd, st.st_uid, st.st_gid);
  }
  return ::fchmod(fd, st.st_mode & 07777) == 0 ? 0 : errno;
}

}  // namespace

std::string errnoText(int err) {
  const char* name = strerrorname_np(err);
  return std::string(name != nullptr ? name : "errno " + std::to_string(err)) + "（" +
         std::strerror(err) + "）";
}

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
  const Target t = resolve(path_);
  if (t.error != 0) {
    error_ = t.error;
    return;
  }
  switch (t.kind) {
    case Target::Kind::StandardOutput:
      fd_ = STDOUT_FILENO;
      ownsFd_ = false;
      if (standardOutputClosed()) error_ = EBADF;
      break;
    case Target::Kind::Direct:
      openDirect(t.path);
      break;
    case Target::Kind::Regular:
    case Target::Kind::Missing:
      openTemporary(t.path);
      if (fd_ >= 0 && t.kind == Target::Kind::Regular) error_ = keepOwnerAndMode(fd_, t.st);
      break;
  }
}

void AtomicFile::openDirect(const std::string& target) {
  // Without O_NONBLOCK, opening a FIFO nobody reads would wait for a reader
  // for ever; with it, that is ENXIO at once.
  fd_ = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) {
    error_ = errno;
    if (error_ == ENXIO) reason_ = "没有程序在读取这个管道（ENXIO）";
    return;
  }
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) error_ = errno;
}

void AtomicFile::openTemporary(const std::string& target) {
  target_ = target;
  const std::string folder = folderOf(target);
  for (int i = 0; i < kTemporaryNameTries && fd_ < 0; ++i) {
    temp_ = temporaryName(folder);
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    error_ = errno;
    temp_.clear();  // nothing to remove
  }
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0 && ownsFd_) ::close(fd_);
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
  // A FIFO, a terminal or a character device has nothing to flush.
  if (error_ == 0 && ownsFd_ && ::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) {
    error_ = errno;
  }
  if (fd_ >= 0 && ownsFd_ && ::close(fd_) != 0 && error_ == 0) error_ = errno;
  fd_ = -1;
  if (error_ == 0 && !temp_.empty()) {
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
      error_ = errno;
    } else {
      temp_.clear();
      error_ = syncFolder(folderOf(target_));
    }
  }
  if (error_ != 0) return failure(path_, error_, reason_);
  committed_ = true;
  return WriteResult{};
}

WriteResult writeFileAtomically(const std::string& path, std::string_view content) {
  AtomicFile file(path);
  file.write(content);
  return file.commit();
}

WriteResult checkWritable(const std::string& path) {
  const Target t = resolve(path);
  if (t.error != 0) return failure(path, t.error);
  if (t.kind == Target::Kind::StandardOutput) {
    return standardOutputClosed() ? failure(path, EBADF, "标准输出已关闭") : WriteResult{};
  }
  if (t.kind == Target::Kind::Direct) {
    return ::access(t.path.c_str(), W_OK) == 0 ? WriteResult{} : failure(path, errno);
  }
  const std::string folder = folderOf(t.path);
  struct stat st {};
  int err = ::stat(folder.c_str(), &st) != 0 ? errno : !S_ISDIR(st.st_mode) ? ENOTDIR : 0;
  if (err == 0 && ::access(folder.c_str(), W_OK | X_OK) != 0) err = errno;
  if (err == 0) return WriteResult{};
  return failure(path, err, "文件夹 " + folder + "：" + errnoText(err));
}

int syncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int err = ::fsync(fd) != 0 && errno != EINVAL ? errno : 0;
  ::close(fd);
  return err;
}

void guardStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor: this one.
    const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
    if (fd == STDOUT_FILENO) s_stdoutClosed.store(true);
  }
}

bool standardOutputClosed() { return s_stdoutClosed.load(); }

}  // namespace results
