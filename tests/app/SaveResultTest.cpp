// A saved result folder with real files: what is in it, and that a failure
// leaves nothing behind.
#include "TestFiles.h"
#include "app/ResultFolder.h"
#include "app/SaveResult.h"

#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "ResultsTestSupport.h"

namespace fs = std::filesystem;

namespace {

std::string readText(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// 3 x 2 RGB, bottom row first as OpenGL reads it: bottom red, top blue.
PixelImage smallWindow() {
  PixelImage image;
  image.width = 3;
  image.height = 2;
  image.format = PixelImage::Format::Rgb;
  image.bottomUp = true;
  for (int i = 0; i < 3; ++i) image.pixels.insert(image.pixels.end(), {255, 0, 0});
  for (int i = 0; i < 3; ++i) image.pixels.insert(image.pixels.end(), {0, 0, 255});
  return image;
}

class SaveResult : public ::testing::Test {
 protected:
  TempDir tmp;
  const std::string docs = tmp.path();
  results::TestRecord record = resultstest::completed(
      resultstest::recordOf(resultstest::steadyStamps(2000, 1'000'000, 31'000'000), 1000));
  std::chrono::system_clock::time_point now = std::chrono::system_clock::now();
};

TEST_F(SaveResult, TheFolderHoldsTheFourFiles) {
  const SaveOutcome out = saveResultFolder(record, smallWindow(), docs, now);
  ASSERT_TRUE(out.ok) << out.reason;
  EXPECT_EQ(fs::path(out.folder).parent_path(), fs::path(docs) / "Quillmark");
  EXPECT_NE(out.folder.find("_Acme_Pro_Mouse_USB"), std::string::npos) << out.folder;
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(out.folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"dashboard.png", "intervals.csv", "intervals.svg",
                                             "result.json"}));

  const auto json = nlohmann::json::parse(readText(fs::path(out.folder) / "result.json"));
  EXPECT_EQ(json["reports"]["count"], 2000);
  const std::string csv = readText(fs::path(out.folder) / "intervals.csv");
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 2001);
  EXPECT_NE(csv.find("31000.000"), std::string::npos);  // the stall
  EXPECT_NE(readText(fs::path(out.folder) / "intervals.svg").find("<svg"), std::string::npos);

  // The PNG is the window the right way up.
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&png, (out.folder + "/dashboard.png").c_str()));
  png.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(png));
  ASSERT_TRUE(png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr));
  EXPECT_EQ(png.width, 3u);
  EXPECT_EQ(png.height, 2u);
  EXPECT_EQ((std::vector<uint8_t>(pixels.begin(), pixels.begin() + 3)),
            (std::vector<uint8_t>{0, 0, 255}));
  EXPECT_EQ((std::vector<uint8_t>(pixels.end() - 3, pixels.end())),
            (std::vector<uint8_t>{255, 0, 0}));
}

TEST_F(SaveResult, TwoSavesInOneSecondMakeTwoFolders) {
  const SaveOutcome a = saveResultFolder(record, smallWindow(), docs, now);
  const SaveOutcome b = saveResultFolder(record, smallWindow(), docs, now);
  ASSERT_TRUE(a.ok && b.ok);
  EXPECT_EQ(b.folder, a.folder + "_2");
}

TEST_F(SaveResult, AFileThatCannotBeWrittenLeavesNoFolder) {
  PixelImage broken = smallWindow();
  broken.pixels.pop_back();  // the last file fails after the others were written
  const SaveOutcome out = saveResultFolder(record, broken, docs, now);
  EXPECT_FALSE(out.ok);
  EXPECT_FALSE(out.reason.empty());
  EXPECT_EQ(out.reason.find('\n'), std::string::npos);
  EXPECT_TRUE(fs::is_empty(fs::path(docs) / "Quillmark"));  // neither final nor partial
}

// The hidden temporary folder is gone with the failure: the reason names the
// folder the user would have got.
TEST_F(SaveResult, AFailedWriteNamesTheFolderTheUserWouldHaveGot) {
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit tiny = old;
  tiny.rlim_cur = 16;  // every file write fails with EFBIG
  const sighandler_t oldHandler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &tiny);
  const SaveOutcome out = saveResultFolder(record, smallWindow(), docs, now);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  ASSERT_FALSE(out.ok);
  const std::string wouldBe = docs + "/Quillmark/" +
                              resultFolderName(now, record.device.name, record.device.portPath) +
                              "/result.json";
  EXPECT_NE(out.reason.find(wouldBe), std::string::npos) << out.reason;
  EXPECT_EQ(out.reason.find(".partial"), std::string::npos) << out.reason;
}

TEST_F(SaveResult, NoDocumentsFolderIsTheReason) {
  std::ofstream(docs + "/Quillmark") << "a file where the folder should be";
  const SaveOutcome out = saveResultFolder(record, smallWindow(), docs, now);
  EXPECT_FALSE(out.ok);
  EXPECT_NE(out.reason.find(docs + "/Quillmark"), std::string::npos) << out.reason;
}

}  // namespace
