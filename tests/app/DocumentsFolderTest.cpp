// Where saved results go: the XDG documents folder, ~/Documents, or home.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "TestFiles.h"
#include "app/DocumentsFolder.h"

namespace fs = std::filesystem;

namespace {

class DocumentsFolder : public ::testing::Test {
 protected:
  void userDirs(const std::string& text, const std::string& config = "") {
    const std::string dir = config.empty() ? home + "/.config" : config;
    fs::create_directories(dir);
    std::ofstream(dir + "/user-dirs.dirs") << text;
  }
  TempDir tmp;
  const std::string home = tmp.path();
};

TEST_F(DocumentsFolder, XdgDocumentsDirWinsWhenItExists) {
  fs::create_directories(home + "/文档");
  fs::create_directories(home + "/Documents");
  userDirs(
      "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/桌面\"\n"
      "XDG_DOCUMENTS_DIR=\"$HOME/文档\"\n");
  EXPECT_EQ(documentsFolderFor(home, ""), home + "/文档");
}

TEST_F(DocumentsFolder, ConfigHomeIsWhereUserDirsAreRead) {
  const std::string config = home + "/cfg";
  fs::create_directories(home + "/papers");
  userDirs("XDG_DOCUMENTS_DIR=\"" + home + "/papers\"\n", config);
  EXPECT_EQ(documentsFolderFor(home, config), home + "/papers");
  EXPECT_EQ(documentsFolderFor(home, ""), home);  // ~/.config has no file
}

TEST_F(DocumentsFolder, FallsBackToDocumentsThenHome) {
  userDirs("XDG_DOCUMENTS_DIR=\"$HOME/missing\"\n");
  EXPECT_EQ(documentsFolderFor(home, ""), home);
  fs::create_directories(home + "/Documents");
  EXPECT_EQ(documentsFolderFor(home, ""), home + "/Documents");
  // Set to the home folder itself, the documents folder is switched off.
  userDirs("XDG_DOCUMENTS_DIR=\"$HOME/\"\n");
  EXPECT_EQ(documentsFolderFor(home, ""), home + "/Documents");
}

// Only a small regular file is read: a FIFO with no writer would block the
// window for good, a link to /dev/zero would grow memory without end.
TEST_F(DocumentsFolder, OnlyASmallRegularUserDirsFileIsRead) {
  fs::create_directories(home + "/文档");
  fs::create_directories(home + "/.config");
  const std::string good = "XDG_DOCUMENTS_DIR=\"$HOME/文档\"\n";
  writeFile(home + "/real.dirs", good);
  const std::string target = home + "/.config/user-dirs.dirs";
  const struct {
    const char* kind;
    std::function<void()> make;
    bool read;
  } kCases[] = {
      {"regular", [&] { writeFile(target, good); }, true},
      {"link to a regular file", [&] { fs::create_symlink(home + "/real.dirs", target); }, true},
      {"missing", [] {}, false},
      {"FIFO", [&] { ASSERT_EQ(mkfifo(target.c_str(), 0600), 0); }, false},
      {"link to /dev/zero", [&] { fs::create_symlink("/dev/zero", target); }, false},
      {"folder", [&] { fs::create_directory(target); }, false},
      {"larger than 64 KiB", [&] { writeFile(target, good + std::string(70 * 1024, '#')); }, false},
  };
  for (const auto& c : kCases) {
    fs::remove_all(target);
    c.make();
    EXPECT_EQ(documentsFolderFor(home, ""), c.read ? home + "/文档" : home) << c.kind;
  }
}

TEST(XdgDocumentsDir, ReadsTheFileFormat) {
  EXPECT_EQ(xdgDocumentsDir("XDG_DOCUMENTS_DIR=\"$HOME/Docs\"", "/home/a"), "/home/a/Docs");
  EXPECT_EQ(xdgDocumentsDir("  XDG_DOCUMENTS_DIR=\"/srv/d/\"\n", "/home/a"), "/srv/d");
  EXPECT_EQ(xdgDocumentsDir("XDG_DOCUMENTS_DIR=\"$HOME/My \\\"Docs\\\"\"", "/h"), "/h/My \"Docs\"");
  // Commented out, unquoted, relative or another variable: not a documents folder.
  EXPECT_EQ(xdgDocumentsDir("#XDG_DOCUMENTS_DIR=\"$HOME/D\"\n", "/h"), "");
  EXPECT_EQ(xdgDocumentsDir("XDG_DOCUMENTS_DIR=$HOME/D\n", "/h"), "");
  EXPECT_EQ(xdgDocumentsDir("XDG_DOCUMENTS_DIR=\"Docs\"\n", "/h"), "");
  EXPECT_EQ(xdgDocumentsDir("XDG_DOCUMENTS_DIRS=\"$HOME/D\"\n", "/h"), "");
  EXPECT_EQ(xdgDocumentsDir("XDG_DOCUMENTS_DIR=\"$HOMEWORK/D\"\n", "/h"), "");
  EXPECT_EQ(xdgDocumentsDir("XDG_DOCUMENTS_DIR=\"$HOME/D", "/h"), "");  // unterminated
}

TEST_F(DocumentsFolder, EnvironmentNamesHomeAndConfig) {
  fs::create_directories(home + "/xdg/docs");
  userDirs("XDG_DOCUMENTS_DIR=\"$HOME/xdg/docs\"\n", home + "/xdgconfig");
  const std::string oldHome = getenv("HOME") ? getenv("HOME") : "";
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/xdgconfig").c_str(), 1);
  EXPECT_EQ(documentsFolder(), home + "/xdg/docs");
  setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  EXPECT_EQ(documentsFolder(), home);
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", oldHome.c_str(), 1);
}

}  // namespace
