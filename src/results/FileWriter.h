#pragma once

#include <string>
#include <string_view>

namespace results {

// "ENOSPC（No space left on device）": the errno's name and its text.
std::string errnoText(int err);

// Success, or why a result file could not be written. Writers never throw.
struct WriteResult {
  bool ok = true;
  std::string error;  // e.g. "无法写入 /x/a.csv：ENOENT（No such file or directory）"

  explicit operator bool() const { return ok; }
};

// A file written under a temporary name in the folder of its final name,
// flushed to disk and renamed into place by commit(): readers see the old
// file or the whole new one, never half of it. Without a successful commit
// the temporary file is removed. The file gets mode 0666 less the umask.
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
  std::string path_;
  std::string temp_;
  int fd_ = -1;
  int error_ = 0;
  bool committed_ = false;
};

WriteResult writeFileAtomically(const std::string& path, std::string_view content);

}  // namespace results
