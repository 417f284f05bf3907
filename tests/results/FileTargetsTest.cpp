// The one writer of result files, given every kind of path a user may name,
// on the real file system.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "TestFiles.h"
#include "results/FileWriter.h"

namespace fs = std::filesystem;

namespace {

constexpr char kContent[] = "t_us,interval_us\n0.000,\n";

mode_t fileMode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

void writeText(const fs::path& path, const std::string& text, mode_t mode) {
  std::ofstream(path) << text;
  fs::permissions(path, static_cast<fs::perms>(mode));
}

// A folder no file can be created in, even by root: a read-only bind mount
// in this process's own mount namespace (the system's mounts are untouched).
bool makeReadOnly(const fs::path& folder) {
  if (::geteuid() != 0) return ::chmod(folder.c_str(), 0555) == 0;
  return ::unshare(CLONE_NEWNS) == 0 &&
         ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         ::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
         ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

struct Target {
  const char* kind;
  // Makes what the path names; returns the path (empty: not possible here).
  std::function<std::string(const fs::path& dir)> prepare;
  bool checkPasses;      // checkWritable() before the test
  const char* errorHas;  // nullptr: the write succeeds
  // What the user finds afterwards.
  std::function<void(const fs::path& dir, const std::string& path)> expect;
};

int s_reader = -1;  // the FIFO reader's end

const Target kTargets[] = {
    {"no file yet", [](const fs::path& d) { return (d / "new.csv").string(); }, true, nullptr,
     nullptr},
    {"regular file of mode 0640",
     [](const fs::path& d) {
       writeText(d / "old.csv", "old and longer than the new content......", 0640);
       return (d / "old.csv").string();
     },
     true, nullptr,
     [](const fs::path&, const std::string& p) { EXPECT_EQ(fileMode(p) & 07777, 0640u); }},
    {"symbolic link to a file in another folder",
     [](const fs::path& d) {
       fs::create_directory(d / "real");
       writeText(d / "real" / "a.csv", "old", 0600);
       fs::create_symlink("real/a.csv", d / "link.csv");
       return (d / "link.csv").string();
     },
     true, nullptr,
     [](const fs::path& d, const std::string& p) {
       EXPECT_TRUE(fs::is_symlink(p));
       EXPECT_EQ(readFile((d / "real" / "a.csv").string()), kContent);
       EXPECT_EQ(fileMode(p) & 07777, 0600u);
     }},
    {"name of 255 bytes",
     [](const fs::path& d) { return (d / (std::string(251, 'n') + ".csv")).string(); }, true,
     nullptr, nullptr},
    {"missing folder", [](const fs::path& d) { return (d / "no-such" / "a.csv").string(); }, false,
     "ENOENT", nullptr},
    {"read-only folder",
     [](const fs::path& d) {
       fs::create_directory(d / "ro");
       writeText(d / "ro" / "kept.csv", "kept", 0644);
       return makeReadOnly(d / "ro") ? (d / "ro" / "kept.csv").string() : std::string();
     },
     false, ::geteuid() == 0 ? "EROFS" : "EACCES",
     [](const fs::path& d, const std::string& p) {
       EXPECT_EQ(readFile(p), "kept");
       if (::geteuid() == 0) ::umount((d / "ro").c_str());
     }},
    {"FIFO nobody reads",
     [](const fs::path& d) {
       ::mkfifo((d / "fifo").c_str(), 0644);
       return (d / "fifo").string();
     },
     true, "ENXIO",
     [](const fs::path&, const std::string& p) { EXPECT_TRUE(S_ISFIFO(fileMode(p))); }},
    {"FIFO with a reader",
     [](const fs::path& d) {
       ::mkfifo((d / "fifo").c_str(), 0644);
       s_reader = ::open((d / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
       return (d / "fifo").string();
     },
     true, nullptr,
     [](const fs::path&, const std::string& p) {
       EXPECT_TRUE(S_ISFIFO(fileMode(p)));
       char buf[256] = {};
       EXPECT_EQ(::read(s_reader, buf, sizeof buf), static_cast<ssize_t>(sizeof kContent - 1));
       EXPECT_STREQ(buf, kContent);
       ::close(s_reader);
     }},
    // As root a stand-in for /dev/null (the same device, in the scratch
    // folder): were it replaced, nothing of the system's would be lost.
    {"device node",
     [](const fs::path& d) {
       if (::geteuid() != 0) return std::string("/dev/null");
       const fs::path node = d / "null";
       return ::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 ? node.string()
                                                                        : std::string();
     },
     true, nullptr,
     [](const fs::path&, const std::string& p) { EXPECT_TRUE(S_ISCHR(fileMode(p))); }},
};

}  // namespace

TEST(FileTargetsTest, EachKindOfPathIsWrittenAsItsKindWantsOrRefusedWithTheReason) {
  for (const Target& t : kTargets) {
    SCOPED_TRACE(t.kind);
    const TempDir tmp;
    const fs::path dir(tmp.path());
    const std::string path = t.prepare(dir);
    if (path.empty()) {
      ADD_FAILURE() << "cannot make a " << t.kind << " here";
      continue;
    }
    const results::WriteResult check = results::checkWritable(path);
    EXPECT_EQ(check.ok, t.checkPasses) << check.error;
    const results::WriteResult w = results::writeFileAtomically(path, kContent);
    EXPECT_EQ(w.ok, t.errorHas == nullptr) << w.error;
    if (t.errorHas != nullptr) {
      EXPECT_NE(w.error.find(path), std::string::npos) << w.error;
      EXPECT_NE(w.error.find(t.errorHas), std::string::npos) << w.error;
    } else if (fs::is_regular_file(path)) {
      EXPECT_EQ(readFile(path), kContent);
    }
    if (t.expect) t.expect(dir, path);
    // No temporary file is left anywhere.
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
      EXPECT_NE(e.path().filename().string().rfind(".qm", 0), 0u) << e.path();
    }
  }
}
