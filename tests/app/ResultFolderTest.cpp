// A result folder appears whole under its final name, or not at all.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "TestFiles.h"
#include "app/ResultFolder.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class ResultFolderTest : public ::testing::Test {
 protected:
  TempDir tmp;
  const std::string root = tmp.path();
};

TEST_F(ResultFolderTest, CommitMovesTheFilesUnderTheFinalName) {
  const std::string parent = root + "/Documents/Quillmark";  // made with its parents
  {
    ResultFolder folder(parent);
    ASSERT_TRUE(folder.ok()) << folder.error();
    std::ofstream(folder.file("result.json")) << "{}";
    EXPECT_EQ(entries(parent).size(), 1u);
    EXPECT_EQ(entries(parent)[0].rfind(".partial-", 0), 0u);  // hidden until done
    ASSERT_TRUE(folder.commit("2026-12-07_103205_Mouse"));
    EXPECT_EQ(folder.path(), parent + "/2026-12-07_103205_Mouse");
  }
  EXPECT_EQ(entries(parent), std::vector<std::string>{"2026-12-07_103205_Mouse"});
  // An ordinary folder by the umask, not the temporary folder's 0700.
  struct stat st {};
  ASSERT_EQ(stat((parent + "/2026-12-07_103205_Mouse").c_str(), &st), 0);
  const mode_t mask = umask(022);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0777 & ~mask);
  EXPECT_EQ(entries(parent + "/2026-12-07_103205_Mouse"), std::vector<std::string>{"result.json"});
}

TEST_F(ResultFolderTest, AnExistingNameGetsASuffixAndKeepsItsFiles) {
  fs::create_directories(root + "/r");        // empty: still not replaced
  fs::create_directories(root + "/r_2/old");  // not empty
  ResultFolder folder(root);
  ASSERT_TRUE(folder.ok());
  ASSERT_TRUE(folder.commit("r"));
  EXPECT_EQ(folder.path(), root + "/r_3");
  EXPECT_TRUE(fs::exists(root + "/r_2/old"));
}

TEST_F(ResultFolderTest, ARenameRefusedForAnotherReasonSaysThatReason) {
  ResultFolder folder(root);
  ASSERT_TRUE(folder.ok());
  EXPECT_FALSE(folder.commit(std::string(300, 'r')));  // longer than a file name may be
  EXPECT_NE(folder.error().find("ENAMETOOLONG"), std::string::npos) << folder.error();
  EXPECT_EQ(folder.error().find("已存在"), std::string::npos) << folder.error();
}

TEST_F(ResultFolderTest, AnAbandonedFolderLeavesNothingBehind) {
  {
    ResultFolder folder(root);
    ASSERT_TRUE(folder.ok());
    std::ofstream(folder.file("intervals.csv")) << "t_us,interval_us\n0,\n";
    fs::create_directories(folder.file("sub"));
  }  // a writer failed: no commit
  EXPECT_TRUE(entries(root).empty());
}

// Tries a result folder under `parent` in a child process, as nobody when
// this runs as root (root writes anywhere); the child sends back the error.
std::string errorAsUser(const std::string& parent) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    ResultFolder folder(parent);
    const std::string e = folder.ok() ? "ok" : folder.error();
    _exit(write(fds[1], e.data(), e.size()) == static_cast<ssize_t>(e.size()) ? 0 : 3);
  }
  close(fds[1]);
  std::string out;
  char buf[512];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return out;
}

TEST_F(ResultFolderTest, AnUnwritableParentIsOneLineWithTheReason) {
  chmod(root.c_str(), 0555);
  const std::string error = errorAsUser(root + "/Quillmark");
  EXPECT_NE(error.find("EACCES"), std::string::npos) << error;
  EXPECT_NE(error.find(root + "/Quillmark"), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
  EXPECT_TRUE(entries(root).empty());
}

TEST_F(ResultFolderTest, AFileInThePlaceOfTheFolderIsAnError) {
  std::ofstream(root + "/Quillmark") << "not a folder";
  ResultFolder folder(root + "/Quillmark");
  EXPECT_FALSE(folder.ok());
  EXPECT_NE(folder.error().find(root + "/Quillmark"), std::string::npos) << folder.error();
  EXPECT_FALSE(folder.commit("x"));
}

TEST(ResultFolderName, DateTimeAndASafeDeviceName) {
  std::tm local{};
  local.tm_year = 2026 - 1900;
  local.tm_mon = 11;
  local.tm_mday = 7;
  local.tm_hour = 10;
  local.tm_min = 32;
  local.tm_sec = 5;
  local.tm_isdst = -1;
  const auto when = std::chrono::system_clock::from_time_t(std::mktime(&local));
  EXPECT_EQ(resultFolderName(when, "Halden Corvid Pro [USB]"),
            "2026-12-07_103205_Halden_Corvid_Pro_[USB]");
  EXPECT_EQ(resultFolderName(when, "a/b\\c:d*e?\"f\"<g>|h\n"), "2026-12-07_103205_a_b_c_d_e_f_g_h");
  // Nothing that reorders or hides text in a file manager.
  EXPECT_EQ(resultFolderName(when,
                             "evil\xE2\x80\xAE"
                             "gnp\xC2\x85.exe"),
            "2026-12-07_103205_evilgnp.exe");
  EXPECT_EQ(resultFolderName(when, ""), "2026-12-07_103205_mouse");
  EXPECT_EQ(resultFolderName(when, "../.."), "2026-12-07_103205_mouse");
  // Long names are cut at a character boundary.
  std::string longName;
  for (int i = 0; i < 30; ++i) longName += "鼠";
  const std::string name = resultFolderName(when, longName);
  EXPECT_LE(name.size(), 18u + 48u);
  EXPECT_EQ((name.size() - 18) % 3, 0u);
}

}  // namespace
