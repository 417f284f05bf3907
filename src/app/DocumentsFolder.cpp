#include "app/DocumentsFolder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace {

// A user-dirs.dirs file is a few hundred bytes; anything far larger is not one.
constexpr off_t kMaxUserDirsBytes = 64 * 1024;

bool isDirectory(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The text of a regular file of at most kMaxUserDirsBytes, else "". The UI
// thread reads it: a FIFO or a device put in its place must neither block nor
// feed it without end, so those are never read (and opened without blocking).
std::string readSmallRegularFile(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return "";
  std::string text;
  // Checked again on what was opened: the name may have changed meanwhile.
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxUserDirsBytes) {
    text.resize(static_cast<size_t>(kMaxUserDirsBytes) + 1);
    size_t got = 0;
    ssize_t n = 0;
    while (got < text.size() && (n = read(fd, &text[got], text.size() - got)) != 0) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      got += static_cast<size_t>(n);
    }
    text.resize(n < 0 || got > static_cast<size_t>(kMaxUserDirsBytes) ? 0 : got);
  }
  close(fd);
  return text;
}

// The double-quoted value of a shell assignment, with \" \\ \$ \` escapes.
bool quotedValue(const std::string& line, size_t open, std::string& value) {
  if (open >= line.size() || line[open] != '"') return false;
  value.clear();
  for (size_t i = open + 1; i < line.size(); ++i) {
    char c = line[i];
    if (c == '"') return true;
    if (c == '\\' && i + 1 < line.size()) c = line[++i];
    value += c;
  }
  return false;  // no closing quote
}

std::string homeFromPasswd() {
  const passwd* pw = getpwuid(getuid());
  return pw != nullptr && pw->pw_dir != nullptr ? pw->pw_dir : "";
}

}  // namespace

std::string xdgDocumentsDir(const std::string& userDirsText, const std::string& home) {
  static const std::string kKey = "XDG_DOCUMENTS_DIR=";
  std::istringstream lines(userDirsText);
  std::string line, found;
  while (std::getline(lines, line)) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, kKey.size(), kKey) != 0) continue;
    std::string value;
    if (!quotedValue(line, start + kKey.size(), value)) continue;
    if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/')) {
      found = home + value.substr(5);
    } else if (!value.empty() && value[0] == '/') {
      found = value;
    }  // anything else is not a path the format allows; the last good line wins
  }
  return found.empty() ? "" : withoutTrailingSlash(found);
}

std::string documentsFolderFor(const std::string& home, const std::string& configHome) {
  const std::string config = configHome.empty() ? home + "/.config" : configHome;
  const std::string xdg = xdgDocumentsDir(readSmallRegularFile(config + "/user-dirs.dirs"), home);
  if (xdg != withoutTrailingSlash(home) && isDirectory(xdg)) return xdg;
  if (isDirectory(home + "/Documents")) return withoutTrailingSlash(home) + "/Documents";
  return withoutTrailingSlash(home);
}

std::string documentsFolder() {
  const char* homeEnv = std::getenv("HOME");
  const std::string home = homeEnv != nullptr && homeEnv[0] == '/' ? homeEnv : homeFromPasswd();
  const char* configEnv = std::getenv("XDG_CONFIG_HOME");
  // The XDG rules ignore a relative XDG_CONFIG_HOME.
  const std::string config = configEnv != nullptr && configEnv[0] == '/' ? configEnv : "";
  return documentsFolderFor(home.empty() ? "/" : home, config);
}
