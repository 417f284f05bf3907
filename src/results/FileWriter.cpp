#include "results/FileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "i18n/Translate.h"
#include "results/TextFormat.h"

namespace results {

namespace {

std::atomic<bool> s_stdoutClosed{false};

// The temporary file being written, for removePendingTemporaryFile().
char s_pendingTemp[4096];
std::atomic<bool> s_pendingSet{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void setPendingTemporary(const std::string& temp) {
  s_pendingSet.store(false);
  if (temp.empty() || temp.size() >= sizeof s_pendingTemp) return;
  std::memcpy(s_pendingTemp, temp.c_str(), temp.size() + 1);
  s_pendingSet.store(true);
}

// The kernel's own limit on links followed in one path.
constexpr int kMaxLinks = 40;
// Attempts at a free temporary name before giving up.
constexpr int kTemporaryNameTries = 100;

WriteResult failure(const std::string& path, int err, const std::string& reason = {}) {
  return WriteResult{
      false, "无法写入 " + pathText(path) + "：" + (reason.empty() ? errnoText(err) : reason)};
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

struct FileErrno {
  int err;
  const char* meaning;
};

// The failures reading and writing files can meet, in the program's words.
constexpr FileErrno kFileErrnos[] = {
    {ENOENT, i18n::trNoop("文件不存在")},         {ENOTDIR, i18n::trNoop("路径中有一段不是文件夹")},
    {EISDIR, i18n::trNoop("这是一个文件夹")},     {EPERM, i18n::trNoop("操作不被允许")},
    {EROFS, i18n::trNoop("文件系统是只读的")},    {ENOSPC, i18n::trNoop("磁盘空间不足")},
    {EDQUOT, i18n::trNoop("超出磁盘配额")},       {EFBIG, i18n::trNoop("文件太大")},
    {EIO, i18n::trNoop("输入/输出错误")},         {EBADF, i18n::trNoop("文件描述符无效")},
    {EPIPE, i18n::trNoop("读取的一方已经关闭")},  {ELOOP, i18n::trNoop("符号链接太多层")},
    {ENAMETOOLONG, i18n::trNoop("文件名太长")},   {EMFILE, i18n::trNoop("本进程打开的文件过多")},
    {ENFILE, i18n::trNoop("系统打开的文件过多")}, {ENOMEM, i18n::trNoop("内存不足")},
    {ENXIO, i18n::trNoop("设备不存在")},          {EEXIST, i18n::trNoop("文件已存在")},
    {EXDEV, i18n::trNoop("不能跨文件系统改名")},  {EINVAL, i18n::trNoop("参数无效")},
    {EINTR, i18n::trNoop("被信号中断")},          {EAGAIN, i18n::trNoop("资源暂时不可用")},
    {ETXTBSY, i18n::trNoop("文件正被执行")},      {EBUSY, i18n::trNoop("设备或资源忙")},
};

std::string errnoMeaning(int err, bool reading) {
  if (err == EACCES) return reading ? i18n::tr("没有读取权限") : i18n::tr("没有写入权限");
  for (const FileErrno& e : kFileErrnos) {
    if (e.err == err) return i18n::tr(e.meaning);
  }
  return std::strerror(err);
}

// "ENOENT（文件不存在）": the errno name is Linux's word in every language.
std::string nameAndMeaning(int err, bool reading) {
  const char* name = strerrorname_np(err);
  const std::string shown = name != nullptr ? name : "errno " + std::to_string(err);
  std::string text;
  appendFormat(text, i18n::tr("%s（%s）"), shown.c_str(), errnoMeaning(err, reading).c_str());
  return text;
}

// A file its owner made read-only is refused, as a shell's `>` refuses it,
// though the folder would allow replacing it; root may write it, as there.
int refusedFile(const std::string& path) { return ::access(path.c_str(), W_OK) == 0 ? 0 : errno; }

}  // namespace

std::string errnoText(int err) { return nameAndMeaning(err, false); }

std::string readErrnoText(int err) { return nameAndMeaning(err, true); }

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
      if (t.kind == Target::Kind::Regular && (error_ = refusedFile(t.path)) != 0) return;
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
    if (error_ == ENXIO) reason_ = i18n::tr("没有程序在读取这个管道（ENXIO）");
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
  setPendingTemporary(temp_);
}

AtomicFile::~AtomicFile() {
  if (!temp_.empty()) setPendingTemporary({});
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
      setPendingTemporary({});
      temp_.clear();
      error_ = syncFolder(folderOf(target_));
    }
  }
  if (error_ != 0) return failure(path_, error_, reason_);
  committed_ = true;
  return WriteResult{};
}

void removePendingTemporaryFile() {
  if (s_pendingSet.load()) ::unlink(s_pendingTemp);
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
    return standardOutputClosed() ? failure(path, EBADF, i18n::tr("标准输出已关闭"))
                                  : WriteResult{};
  }
  if (t.kind != Target::Kind::Missing) {
    const int err = refusedFile(t.path);
    if (err != 0) return failure(path, err);
    if (t.kind == Target::Kind::Direct) return WriteResult{};
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
