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
//   target's own folder;
// - an existing device, FIFO or socket: written directly, never replaced;
//   a FIFO nobody reads is an error at once, never a wait;
// - "-": standard output.
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
  void openDirect(const std::string& target);
  void openTemporary(const std::string& target);

  std::string path_;    // as given; errors name it
  std::string target_;  // the file renamed over, links followed
  std::string temp_;
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
