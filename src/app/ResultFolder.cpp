#include "app/ResultFolder.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "i18n/Translate.h"
#include "results/TextFormat.h"

namespace {

constexpr size_t kMaxDeviceBytes = 48;
constexpr int kMaxSuffix = 99;

// Letters, digits, '.', '-', '_' and any non-ASCII character (after
// plainText, no control or reordering one): nothing a shell needs quoted.
bool isPlain(unsigned char c) {
  return c >= 0x80 || std::isalnum(c) != 0 || c == '.' || c == '-' || c == '_';
}

// Cut to at most `limit` bytes at the last word gap, or at a character
// boundary when a word is longer than half of it.
void cutAtWord(std::string& out, size_t limit) {
  if (out.size() <= limit) return;
  const size_t gap = out.rfind('_', limit);
  if (gap != std::string::npos && gap >= limit / 2) {
    out.resize(gap);
    return;
  }
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
  out.resize(cut);
}

std::string safeName(const std::string& text) {
  std::string out;
  for (unsigned char c : results::plainText(text)) {
    const char keep = isPlain(c) ? static_cast<char>(c) : '_';
    if (keep == '_' && (out.empty() || out.back() == '_')) continue;
    out += keep;
  }
  cutAtWord(out, kMaxDeviceBytes);
  while (!out.empty() && (out.back() == '_' || out.back() == '.' || out.back() == '-'))
    out.pop_back();
  while (!out.empty() && (out.front() == '.' || out.front() == '-')) out.erase(0, 1);
  return out;
}

std::string safeDeviceName(const std::string& device, const std::string& port) {
  std::string out = safeName(device);
  if (out.empty()) out = "mouse";
  const std::string where = safeName(port);
  return where.empty() ? out : out + "_" + where;
}

// Never over an existing folder, not even an empty one. File systems
// without RENAME_NOREPLACE get a check first (one saver, so no race).
bool renameNoReplace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL) return false;
  if (access(to.c_str(), F_OK) == 0) {
    errno = EEXIST;
    return false;
  }
  return std::rename(from.c_str(), to.c_str()) == 0;
}

// The process's umask without changing it (umask() would, for a moment, for
// every thread); 022 when /proc cannot say.
mode_t currentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Umask:", 0) == 0)
      return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  return 022;
}

}  // namespace

std::string resultFolderName(std::chrono::system_clock::time_point when, const std::string& device,
                             const std::string& port) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&t, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H%M%S", &local);
  return std::string(stamp) + "_" + safeDeviceName(device, port);
}

ResultFolder::ResultFolder(const std::string& parent) : parent_(parent) {
  std::error_code ec;
  std::filesystem::create_directories(parent_, ec);
  if (ec) {
    results::appendFormat(error_, i18n::tr("无法创建文件夹 %s：%s"), parent_.c_str(),
                          errnoText(ec.value()).c_str());
    return;
  }
  // Checked once the folder exists: then no other user can swap the name in
  // a sticky folder, and a link planted before is seen here.
  if (results::foreignLink(parent_)) {
    results::appendFormat(error_, i18n::tr("无法创建文件夹 %s：%s"), parent_.c_str(),
                          i18n::tr("这是别的用户放在公共文件夹里的符号链接，不跟随它（EACCES）"));
    return;
  }
  // Hidden, and never a name a result could have.
  std::string pattern = parent_ + "/.partial-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) {
    const std::string reason = errnoText(errno);
    results::appendFormat(error_, i18n::tr("无法在 %s 里创建文件夹：%s"), parent_.c_str(),
                          reason.c_str());
    return;
  }
  temp_ = buf.data();
  // mkdtemp's folder is private; the result is an ordinary folder.
  chmod(temp_.c_str(), 0777 & ~currentUmask());
}

ResultFolder::~ResultFolder() {
  if (temp_.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(temp_, ec);
}

bool ResultFolder::commit(const std::string& name) {
  if (temp_.empty()) return false;
  // The files are on disk (the writer flushed them); so must their names be
  // before the folder is reported saved.
  if (const int err = results::syncFolder(temp_)) {
    results::appendFormat(error_, i18n::tr("无法把结果写入磁盘：%s"), errnoText(err).c_str());
    return false;
  }
  for (int n = 1; n <= kMaxSuffix; ++n) {
    const std::string target = parent_ + "/" + name + (n == 1 ? "" : "_" + std::to_string(n));
    if (renameNoReplace(temp_, target)) {
      temp_.clear();
      if (const int err = results::syncFolder(parent_)) {
        results::appendFormat(error_, i18n::tr("无法把 %s 写入磁盘：%s"), target.c_str(),
                              errnoText(err).c_str());
        return false;
      }
      final_ = target;
      return true;
    }
    if (errno != EEXIST) {
      const std::string reason = errnoText(errno);
      results::appendFormat(error_, i18n::tr("无法把结果改名为 %s：%s"), target.c_str(),
                            reason.c_str());
      return false;
    }
  }
  results::appendFormat(error_, i18n::tr("文件夹 %s/%s 已存在"), parent_.c_str(), name.c_str());
  return false;
}
