#include "results/FileWriter.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
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

// The temporary file being written, for removePendingTemporaryFile(): its
// name in the opened folder `s_pendingFolder`. Set and cleared with the quit
// signals blocked, so a handler sees either none or a whole one.
char s_pendingName[64];
std::atomic<int> s_pendingFolder{-1};
static_assert(std::atomic<int>::is_always_lock_free);

// The files replaced or made so far, for the line of a command interrupted
// after writing some of them.
char s_written[4096];
std::atomic<std::size_t> s_writtenLength{0};
std::atomic<std::size_t> s_writtenCount{0};
static_assert(std::atomic<std::size_t>::is_always_lock_free);

// Keeps the quit signals (SIGINT, SIGTERM, SIGHUP) waiting while a temporary
// file and its record, or a rename and its record, change together.
class QuitSignalsHeld {
 public:
  QuitSignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~QuitSignalsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  QuitSignalsHeld(const QuitSignalsHeld&) = delete;
  QuitSignalsHeld& operator=(const QuitSignalsHeld&) = delete;

 private:
  sigset_t old_;
};

void setPendingTemporary(int folder, const std::string& name) {
  s_pendingFolder.store(-1);
  if (folder < 0 || name.size() >= sizeof s_pendingName) return;
  std::memcpy(s_pendingName, name.c_str(), name.size() + 1);
  s_pendingFolder.store(folder);
}

void noteWritten(const std::string& path) {
  ++s_writtenCount;
  std::size_t length = s_writtenLength.load();
  const std::string shown = (length == 0 ? std::string() : i18n::tr("、")) + pathText(path);
  if (length + shown.size() >= sizeof s_written) return;
  std::memcpy(s_written + length, shown.c_str(), shown.size() + 1);
  s_writtenLength.store(length + shown.size());
}

// The kernel's own limit on links followed in one path.
constexpr int kMaxLinks = 40;
// Attempts at a free temporary name before giving up.
constexpr int kTemporaryNameTries = 100;

std::string failure(const std::string& path, const std::string& why) {
  std::string text;
  appendFormat(text, i18n::tr("无法写入 %s：%s"), pathText(path).c_str(), why.c_str());
  return text;
}

WriteResult failure(const std::string& path, int err, const std::string& reason = {}) {
  return WriteResult{false, failure(path, reason.empty() ? errnoText(err) : reason)};
}

// The folder part of a path and its last name ("a/b" → "a", "b").
std::pair<std::string, std::string> splitPath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// The descriptor of this process a path names: /dev/stdout, /dev/stderr,
// /dev/fd/N, /proc/self/fd/N or /proc/<own pid>/fd/N; -1 for any other.
// Opening such a name would open the file anew (from its start) or fail
// (a pipe), and following it as a link would replace the file.
int descriptorNamed(const std::string& path) {
  if (path == "/dev/stdout") return STDOUT_FILENO;
  if (path == "/dev/stderr") return STDERR_FILENO;
  const std::string own = "/proc/" + std::to_string(::getpid()) + "/fd/";
  for (const std::string prefix : {"/dev/fd/", "/proc/self/fd/", own.c_str()}) {
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string digits = path.substr(prefix.size());
    if (digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::stoi(digits);
  }
  return -1;
}

// Standard output as a file (regular, pipe or socket): a path to the same
// file is standard output too, and must not be replaced under it.
bool sameFileAsStandardOutput(const std::string& path) {
  struct stat out {};
  struct stat st {};
  if (standardOutputClosed() || ::fstat(STDOUT_FILENO, &out) != 0 || S_ISCHR(out.st_mode))
    return false;
  return ::stat(path.c_str(), &st) == 0 && st.st_dev == out.st_dev && st.st_ino == out.st_ino;
}

// What a path names once its links are followed: an opened folder and the
// last name in it, or a descriptor of this process.
struct Target {
  enum class Kind { Missing, Regular, Direct, Descriptor };
  Kind kind = Kind::Missing;
  int folder = -1;  // owned by whoever takes the target
  std::string name;
  int descriptor = -1;
  struct stat st {};
  int error = 0;
  std::string reason;  // said instead of the errno text, when clearer
};

bool readLinkAt(int folder, const std::string& name, std::string& out) {
  std::vector<char> buf(256);
  for (;;) {
    const ssize_t n = ::readlinkat(folder, name.c_str(), buf.data(), buf.size());
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) < buf.size()) {
      out.assign(buf.data(), static_cast<std::size_t>(n));
      return true;
    }
    buf.resize(buf.size() * 2);
  }
}

// The kernel's rule for links in a sticky folder anyone may write to (/tmp):
// followed only when the link is the follower's or the folder owner's, so
// that a link planted there by another user cannot aim a write elsewhere.
bool mayFollow(int folder, const struct stat& link) {
  struct stat dir {};
  if (::fstat(folder, &dir) != 0) return false;
  const bool shared = (dir.st_mode & S_ISVTX) != 0 && (dir.st_mode & S_IWOTH) != 0;
  return !shared || link.st_uid == ::geteuid() || link.st_uid == dir.st_uid;
}

Target fail(Target& t, int err, std::string reason = {}) {
  if (t.folder >= 0) ::close(t.folder);
  t.folder = -1;
  t.error = err;
  t.reason = std::move(reason);
  return t;
}

// Follows the path's last links here, each from the folder that holds it and
// under the kernel's rule; the folders on the way are the kernel's to follow.
Target resolve(const std::string& path) {
  Target t;
  if (path == "-" || (t.descriptor = descriptorNamed(path)) >= 0 ||
      sameFileAsStandardOutput(path)) {
    t.kind = Target::Kind::Descriptor;
    if (t.descriptor < 0) t.descriptor = STDOUT_FILENO;
    return t;
  }
  if (path.empty() || path.back() == '/') return fail(t, path.empty() ? ENOENT : EISDIR);
  std::string current = path;
  int base = AT_FDCWD;
  for (int hop = 0;; ++hop) {
    const auto [folderPart, name] = splitPath(current);
    t.folder = ::openat(base, folderPart.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int err = errno;
    if (base != AT_FDCWD) ::close(base);
    if (t.folder < 0) {
      std::string where;
      appendFormat(where, i18n::tr("文件夹 %s：%s"), pathText(folderPart).c_str(),
                   errnoText(err).c_str());
      return fail(t, err, where);
    }
    t.name = name;
    if (::fstatat(t.folder, name.c_str(), &t.st, AT_SYMLINK_NOFOLLOW) != 0) {
      return errno == ENOENT ? t : fail(t, errno);
    }
    if (!S_ISLNK(t.st.st_mode)) break;
    if (!mayFollow(t.folder, t.st)) {
      return fail(t, EACCES,
                  i18n::tr("这是别的用户放在公共文件夹里的符号链接，不跟随它（EACCES）"));
    }
    if (hop == kMaxLinks || !readLinkAt(t.folder, name, current)) {
      return fail(t, hop == kMaxLinks ? ELOOP : errno);
    }
    if ((t.descriptor = descriptorNamed(current)) >= 0) {
      ::close(t.folder);
      t.folder = -1;
      t.kind = Target::Kind::Descriptor;
      return t;
    }
    if (current.empty()) return fail(t, ENOENT);
    // A relative link is read from the folder that holds it.
    base = t.folder;
    t.folder = -1;
  }
  if (S_ISDIR(t.st.st_mode)) return fail(t, EISDIR);
  t.kind = S_ISREG(t.st.st_mode) ? Target::Kind::Regular : Target::Kind::Direct;
  return t;
}

// Short whatever the final name: a name of 255 bytes still has a temporary
// one, and a hidden one no result could have.
std::string temporaryName() {
  static std::atomic<unsigned> s_counter{0};
  return ".qm" + std::to_string(::getpid()) + "-" + std::to_string(s_counter++) + ".tmp";
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
int refusedFile(int folder, const std::string& name) {
  return ::faccessat(folder, name.c_str(), W_OK, 0) == 0 ? 0 : errno;
}

}  // namespace

std::string errnoText(int err) { return nameAndMeaning(err, false); }

std::string readErrnoText(int err) { return nameAndMeaning(err, true); }

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
  Target t = resolve(path_);
  if (t.error != 0) {
    error_ = t.error;
    reason_ = t.reason;
    return;
  }
  switch (t.kind) {
    case Target::Kind::Descriptor:
      fd_ = t.descriptor;
      ownsFd_ = false;
      if (fd_ == STDOUT_FILENO && standardOutputClosed()) error_ = EBADF;
      if (::fcntl(fd_, F_GETFL) < 0) error_ = errno;
      break;
    case Target::Kind::Direct:
      openDirect(t.folder, t.name);
      ::close(t.folder);
      break;
    case Target::Kind::Regular:
    case Target::Kind::Missing:
      folder_ = t.folder;
      name_ = t.name;
      if (t.kind == Target::Kind::Regular && (error_ = refusedFile(folder_, name_)) != 0) return;
      openTemporary();
      if (fd_ >= 0 && t.kind == Target::Kind::Regular) error_ = keepOwnerAndMode(fd_, t.st);
      break;
  }
}

void AtomicFile::openDirect(int folder, const std::string& name) {
  // Without O_NONBLOCK, opening a FIFO nobody reads would wait for a reader
  // for ever; with it, that is ENXIO at once. O_NOFOLLOW: a link put in its
  // place since it was looked at is not followed.
  fd_ = ::openat(folder, name.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
  if (fd_ < 0) {
    error_ = errno;
    if (error_ == ENXIO) reason_ = i18n::tr("没有程序在读取这个管道（ENXIO）");
    return;
  }
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) error_ = errno;
}

// Beside the final name, in the folder opened while resolving it: a folder
// renamed or swapped for a link meanwhile cannot redirect the file.
void AtomicFile::openTemporary() {
  for (int i = 0; i < kTemporaryNameTries && fd_ < 0; ++i) {
    const QuitSignalsHeld held;
    temp_ = temporaryName();
    fd_ = ::openat(folder_, temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                   0666);
    if (fd_ >= 0) setPendingTemporary(folder_, temp_);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    error_ = errno;
    temp_.clear();  // nothing to remove
  }
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0 && ownsFd_) ::close(fd_);
  if (!temp_.empty()) {
    const QuitSignalsHeld held;
    if (!committed_) ::unlinkat(folder_, temp_.c_str(), 0);
    setPendingTemporary(-1, {});
  }
  if (folder_ >= 0) ::close(folder_);
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
    const QuitSignalsHeld held;
    if (::renameat(folder_, temp_.c_str(), folder_, name_.c_str()) != 0) {
      error_ = errno;
    } else {
      setPendingTemporary(-1, {});
      temp_.clear();
      noteWritten(path_);
    }
  }
  if (error_ == 0 && folder_ >= 0 && ::fsync(folder_) != 0 && errno != EINVAL) error_ = errno;
  if (error_ != 0) return failure(path_, error_, reason_);
  committed_ = true;
  return WriteResult{};
}

void removePendingTemporaryFile() {
  const int folder = s_pendingFolder.exchange(-1);
  if (folder >= 0) ::unlinkat(folder, s_pendingName, 0);
}

std::size_t filesWrittenCount() { return s_writtenCount.load(); }

bool foreignLink(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const auto [folderPart, name] = splitPath(p);
  const int folder = ::openat(AT_FDCWD, folderPart.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return false;
  struct stat st {};
  const bool foreign = ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                       S_ISLNK(st.st_mode) && !mayFollow(folder, st);
  ::close(folder);
  return foreign;
}

const char* filesWrittenSoFar() { return s_writtenLength.load() == 0 ? nullptr : s_written; }

bool namesStandardOutput(const std::string& path) {
  if (path == "-") return true;
  const Target t = resolve(path);
  if (t.folder >= 0) ::close(t.folder);
  return t.kind == Target::Kind::Descriptor && t.descriptor == STDOUT_FILENO;
}

WriteResult writeFileAtomically(const std::string& path, std::string_view content) {
  AtomicFile file(path);
  file.write(content);
  return file.commit();
}

WriteResult checkWritable(const std::string& path) {
  Target t = resolve(path);
  if (t.error != 0) return failure(path, t.error, t.reason);
  if (t.kind == Target::Kind::Descriptor) {
    if (t.descriptor == STDOUT_FILENO && standardOutputClosed())
      return failure(path, EBADF, i18n::tr("标准输出已关闭"));
    return ::fcntl(t.descriptor, F_GETFL) < 0 ? failure(path, errno) : WriteResult{};
  }
  int err = t.kind == Target::Kind::Missing ? 0 : refusedFile(t.folder, t.name);
  const bool direct = t.kind == Target::Kind::Direct;
  const int folder = t.folder;
  if (err == 0 && !direct && ::faccessat(folder, ".", W_OK | X_OK, 0) != 0) {
    err = errno;
    ::close(folder);
    std::string where;
    appendFormat(where, i18n::tr("文件夹 %s：%s"), pathText(splitPath(path).first).c_str(),
                 errnoText(err).c_str());
    return failure(path, err, where);
  }
  ::close(folder);
  return err == 0 ? WriteResult{} : failure(path, err);
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
