// The raw capture file (TAVO_CAPTURE) of real runs on virtual mice: a run that
// captures nothing keeps an earlier file, and the header names the mouse
// measured.
#include <gtest/gtest.h>

#include <string>

#include "QuillmarkProcess.h"

using clitest::Finished;
using clitest::runQuillmark;

namespace {

TEST(CaptureFile, ARunWithoutReportsKeepsTheFileAndAMeasureNamesItsMouse) {
  TempDir tmp;
  const std::string capture = tmp.file("capture.csv");
  const std::string earlier = "# an earlier capture\n1,0,0,0\n";
  const auto run = [&](const std::vector<std::string>& args) {
    return runQuillmark(args, {{"TAVO_VIRTUAL_MICE", "1000,500"}, {"TAVO_CAPTURE", capture}},
                        tmp.file("run"));
  };
  const struct {
    std::vector<std::string> args;
  } kNothingCaptured[] = {{{"list"}}, {{"measure", "--device", "7", "--seconds", "1"}}};
  for (const auto& c : kNothingCaptured) {
    writeFile(capture, earlier);
    const Finished f = run(c.args);
    EXPECT_EQ(readFile(capture), earlier) << c.args[0] << ": " << f.err;
  }

  // The first mouse found is the 1000 Hz one; the test is the 500 Hz one's.
  const Finished f = run({"measure", "--device", "1", "--seconds", "0.5"});
  ASSERT_EQ(f.status, 0) << f.err;
  const std::string file = readFile(capture);
  EXPECT_NE(file.find("# device=虚拟鼠标 500 Hz [Virtual]\n"), std::string::npos)
      << file.substr(0, 200);
  EXPECT_EQ(file.find("# samples=0\n"), std::string::npos);
}

}  // namespace
