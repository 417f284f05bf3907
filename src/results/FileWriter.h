#pragma once

#include <string>
#include <string_view>

namespace results {

// "ENOSPC（磁盘空间不足）", in English "ENOSPC (no space left on the disk)":
// the errno's name and what it means for a file being written; the C
// library's text for an errno the table does not know.
std::string errnoText(int err);
// The same for a file being read ("EACCES（没有读取权限）").
std::string readErrnoText(int err);

// Success, or why a result file could not be written. Writers never throw.
struct WriteResult {
  bool ok = true;
  std::string error;  // e.g. "无法写入 /x/a.csv：ENOENT（文件不存在）"

  explicit operator bool() const { return ok; }
};

// The one writer of every output file. What the path names decides how:
// - a regular file, or none yet: written under a short temporary name in
//   the folder of the final name, flushed to disk, renamed into place and
//   the folder flushed, so readers see the old file or the whole new one;
//   a replaced file keeps its permission bits (and, where allowed, its
//   owner), a new one gets mode 0666 less the umask. Without a successful
//   commit the temporary file is removed;
// - a symbolic link: followed, and its target written as above in the
//   target's own folder; in a sticky folder anyone may write to (/tmp),
//   only a link of this user's or the folder owner's, as the kernel's
//   fs.protected_symlinks rule has it, else refused;
// - an existing device, FIFO or socket: written directly, never replaced;
//   a FIFO nobody reads is an error at once, never a wait;
// - "-", /dev/stdout, /dev/fd/1, /proc/self/fd/1 or a path to the same
//   file as standard output: standard output, written where it stands;
//   /dev/stderr and the other /dev/fd/N alike their descriptor.
// The temporary file is made (O_EXCL) and renamed in the final name's
// folder as opened while following the path, so a folder swapped during the
// write cannot redirect it; quit signals wait while the temporary file is
// made and while it is renamed, so their handler always finds it or not.
// One thread at a time.
class AtomicFile {
 public:
  explicit AtomicFile(std::string path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // After a failed write, further writes do nothing and commit() reports it.
  void write(std::string_view data);
  WriteResult commit();

 private:
  void openDirect(int folder, const std::string& name);
  void openTemporary();

  std::string path_;  // as given; errors name it
  int folder_ = -1;   // the final name's folder, links followed
  std::string name_;  // the final name in it
  std::string temp_;  // the temporary file's name in it
  int fd_ = -1;
  bool ownsFd_ = true;  // not for standard output
  int error_ = 0;
  std::string reason_;  // said instead of the errno text, when clearer
  bool committed_ = false;
};

// Removes the temporary file being written, if any: for a signal handler
// that ends the program at once, so that nothing half-written stays.
// Async-signal-safe.
void removePendingTemporaryFile();

// The files replaced or made so far ("i.csv、p.svg"), or null: what a
// command interrupted after writing some of them says it wrote.
// Async-signal-safe.
const char* filesWrittenSoFar();
// How many files have been renamed into place so far; it counts up with the
// quit signals held, together with the rename. Async-signal-safe.
std::size_t filesWrittenCount();

// Whether the path's last name is a link that the kernel's rule for sticky
// folders anyone may write to would not follow (another user's link in
// /tmp): a folder named so is not written into. The folders on the way are
// the kernel's to follow.
bool foreignLink(const std::string& path);

// Whether writing to `path` would write to this process's standard output
// ("-", /dev/stdout, /dev/fd/1, /proc/self/fd/1, a link to one of them or
// the very file standard output is).
bool namesStandardOutput(const std::string& path);

WriteResult writeFileAtomically(const std::string& path, std::string_view content);

// Whether `path` can be written, checked before a test so that a mistyped
// folder is known at once: its folder exists and may be written to (or the
// device or FIFO it names may be). Nothing is created.
WriteResult checkWritable(const std::string& path);

// Flushes a folder's entries (names created, renamed or removed) to disk;
// 0 or the errno.
int syncFolder(const std::string& folder);

// Opens /dev/null on each of the standard descriptors 0-2 that is closed, so
// that no descriptor the program opens later takes its place (a JSON summary
// written into the HID thread's epoll descriptor). Standard output remembers
// that it was closed: writes to it (standardOutputClosed()) must fail with
// EBADF. Main thread, first thing in main, before any other thread.
void guardStandardStreams();
bool standardOutputClosed();

}  // namespace results
