#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "TestFiles.h"
#include "hid/HIDDebugLog.h"

// The trace line format and the safety of the append, on private paths. The
// fixed paths under /tmp are exercised by TraceProcessTest in child processes.

namespace {

using namespace std::chrono_literals;

bool writeLineTo(const std::string& path, std::chrono::nanoseconds elapsed, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
bool writeLineTo(const std::string& path, std::chrono::nanoseconds elapsed, const char* format,
                 ...) {
  va_list args;
  va_start(args, format);
  const bool ok = tracelog::writeLine(path.c_str(), elapsed, format, args);
  va_end(args);
  return ok;
}

bool append(const std::string& path, const std::string& text) {
  return tracelog::appendToLog(path.c_str(), text.data(), text.size());
}

TEST(TraceLine, PrefixCountsMillisecondsSinceTheFirstLineAndEndsWithOneNewline) {
  TempDir dir;
  const std::string log = dir.file("trace.log");
  writeFile(log, "older run\n");  // never truncated

  EXPECT_TRUE(writeLineTo(log, 0ns, "match: idx=%zu name=\"%s\"", size_t{2}, "鼠标"));
  EXPECT_TRUE(writeLineTo(log, 1500ms, "fps=%.1f", 59.94));
  EXPECT_TRUE(writeLineTo(log, 123'456'789ns, "x"));
  EXPECT_EQ(readFile(log),
            "older run\n"
            "[    0.000] match: idx=2 name=\"鼠标\"\n"
            "[ 1500.000] fps=59.9\n"
            "[  123.457] x\n");
}

TEST(TraceLine, LongLinesAreWrittenWhole) {
  TempDir dir;
  const std::string log = dir.file("trace.log");
  for (size_t n : {size_t{499}, size_t{500}, size_t{501}, size_t{5000}}) {
    const std::string body(n, 'y');
    EXPECT_TRUE(writeLineTo(log, 2ms, "%s", body.c_str()));
    EXPECT_EQ(readFile(log), "[    2.000] " + body + "\n") << n;
    std::filesystem::remove(log);
  }
}

TEST(TraceFile, IsCreatedPrivate) {
  TempDir dir;
  const std::string log = dir.file("trace.log");
  ASSERT_TRUE(append(log, "a\n"));
  struct stat st {};
  ASSERT_EQ(::stat(log.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(TraceFile, PlantedLinksAreNotFollowed) {
  TempDir dir;
  const std::string victim = dir.file("victim");
  const std::string log = dir.file("trace.log");
  writeFile(victim, "keep\n");

  std::filesystem::create_symlink(victim, log);
  EXPECT_FALSE(append(log, "line\n"));
  EXPECT_TRUE(std::filesystem::is_symlink(log));
  std::filesystem::remove(log);

  std::filesystem::create_symlink(dir.file("not-yet"), log);  // dangling
  EXPECT_FALSE(append(log, "line\n"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("not-yet")));
  std::filesystem::remove(log);

  std::filesystem::create_hard_link(victim, log);
  EXPECT_FALSE(append(log, "line\n"));
  EXPECT_EQ(readFile(victim), "keep\n");
}

TEST(TraceFile, OnlyRegularFilesOfThisUserAreWritten) {
  TempDir dir;
  const std::string log = dir.file("trace.log");

  ASSERT_EQ(::mkfifo(log.c_str(), 0666), 0);
  EXPECT_FALSE(append(log, "line\n"));  // returns at once, no reader needed
  std::filesystem::remove(log);

  std::filesystem::create_directory(log);
  EXPECT_FALSE(append(log, "line\n"));
  std::filesystem::remove(log);

  if (::geteuid() != 0) GTEST_SKIP() << "handing a file to another user needs root";
  writeFile(log, "theirs\n");
  ASSERT_EQ(::chmod(log.c_str(), 0666), 0);
  ASSERT_EQ(::chown(log.c_str(), 65534, 65534), 0);
  EXPECT_FALSE(append(log, "line\n"));
  EXPECT_EQ(readFile(log), "theirs\n");
}

}  // namespace
