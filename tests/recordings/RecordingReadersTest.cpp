// The readers on files written to each format's documentation: the reports,
// motion and kernel drops they hold, and a generated stream read back whole.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cctype>

#include "TestFiles.h"
#include "recordings/GeneratedStream.h"
#include "recordings/Recording.h"

using recordings::readRecording;
using recordings::Recording;

namespace {

struct Motion {
  int dx, dy, wheel, buttons;
  bool operator==(const Motion&) const = default;
};

// The stream every fixture holds: reports at 0, 1, 2, 6 and 7 ms; the frame
// at 3-4 ms was cut by a kernel drop.
const std::vector<int64_t> kStamps = {0, 1'000'000, 2'000'000, 6'000'000, 7'000'000};
const std::vector<Motion> kMotion = {
    {3, -1, 0, 0}, {2, 0, 0, 0}, {0, 0, 0, 1}, {0, 0, -1, 0}, {-4, 5, 0, 1}};

struct Fixture {
  const char* file;
  const char* format;
  const char* device;
  int deviceIndex;
  bool hasDrop;
  bool hasMotion;
  bool hasWheelAndButtons;
  // What the file says about the mouse and the machine; -1 / empty: nothing.
  const char* transport;
  int32_t vendor, product, version;
  const char* kernel;
  int64_t startS;  // the first stamp in seconds since 1970; 0: the stamps are no wall-clock time
};

void PrintTo(const Fixture& f, std::ostream* os) { *os << f.file; }

class FixtureTest : public ::testing::TestWithParam<Fixture> {};

TEST_P(FixtureTest, HoldsTheDocumentedStream) {
  const Fixture& f = GetParam();
  const Recording r = readRecording(std::string(QUILLMARK_RECORDINGS_DATA) + "/" + f.file);
  EXPECT_EQ(r.format, f.format);
  EXPECT_EQ(r.deviceName, f.device);
  EXPECT_EQ(r.deviceIndex, f.deviceIndex);
  std::vector<int64_t> stamps = kStamps;
  for (int64_t& t : stamps) t += f.startS * 1'000'000'000;
  EXPECT_EQ(r.stampsNs, stamps);
  EXPECT_EQ(r.wallClockStamps, f.startS != 0);
  EXPECT_EQ(r.transport, f.transport);
  EXPECT_EQ(r.vendorId.value_or(-1), f.vendor);
  EXPECT_EQ(r.productId.value_or(-1), f.product);
  EXPECT_EQ(r.version.value_or(-1), f.version);
  EXPECT_EQ(r.kernelRelease, f.kernel);
  EXPECT_EQ(r.drops, f.hasDrop ? std::vector<std::size_t>{3} : std::vector<std::size_t>{});
  ASSERT_EQ(r.motionKnown, f.hasMotion);
  if (!f.hasMotion) return;
  ASSERT_EQ(r.motion.size(), kMotion.size());
  for (std::size_t i = 0; i < kMotion.size(); ++i) {
    Motion want = kMotion[i];
    if (!f.hasWheelAndButtons) want.wheel = want.buttons = 0;
    EXPECT_EQ(
        (Motion{r.motion[i].dx, r.motion[i].dy, r.motion[i].wheel, r.motion[i].buttonChanges}),
        want)
        << "report " << i;
    EXPECT_TRUE(r.motion[i].known());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FixtureTest,
    ::testing::Values(
        Fixture{"mouse.yml", "libinput-record", "Logitech USB Optical Mouse", 1, true, true, true,
                "USB", 0x046d, 0xc077, 0x0111, "6.1.0-28-amd64", 0},
        Fixture{"mouse.evemu", "evemu-record", "Logitech USB Optical Mouse", 0, true, true, true,
                "USB", 0x046d, 0xc077, 0x0111, "6.1.0-28-amd64", 0},
        // An evemu file of 2012: no comments, stamps of the realtime clock.
        Fixture{"old-mouse.evemu", "evemu-record", "Logitech Bluetooth Mouse M557", 0, true, true,
                true, "Bluetooth", 0x046d, 0xb02b, 0x0001, "", 1'354'637'284},
        Fixture{"intervals.csv", "quillmark-csv", "", 0, true, true, false, "", -1, -1, -1, "", 0},
        Fixture{"capture.txt", "quillmark-capture", "Logitech USB Optical Mouse", 0, false, false,
                false, "", -1, -1, -1, "", 0}),
    [](const auto& info) {
      std::string name = info.param.file;
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });
// A long generated stream, with a rest and kernel drops, comes back report
// for report from both event formats.
TEST(GeneratedStreamTest, ComesBackWhole) {
  const genstream::Stream s = genstream::makeStream(8000, 3.0, 20'000, true, 5000);
  TempDir tmp;
  const std::pair<std::string, void (*)(const std::string&, const genstream::Stream&)> writers[] = {
      {"gen.yml", &genstream::writeLibinputRecord}, {"gen.evemu", &genstream::writeEvemu}};
  for (const auto& [name, write] : writers) {
    write(tmp.file(name), s);
    const Recording r = readRecording(tmp.file(name));
    ASSERT_EQ(r.stampsNs.size(), s.reports.size()) << name;
    ASSERT_EQ(r.motion.size(), s.reports.size()) << name;
    for (std::size_t i = 0; i < s.reports.size(); ++i) {
      ASSERT_EQ(r.stampsNs[i], s.reports[i].ns) << name << " report " << i;
      ASSERT_EQ(r.motion[i].dx, s.reports[i].dx) << name << " report " << i;
      ASSERT_EQ(r.motion[i].dy, s.reports[i].dy) << name << " report " << i;
    }
    EXPECT_EQ(r.drops, s.drops) << name;
  }
}

}  // namespace

namespace {

// A file cut at any byte is read or refused with a RecordingError, never a
// crash or another exception (the sanitizer build watches the memory).
TEST(CutFileTest, EveryPrefixIsReadOrRefused) {
  // A file in memory: thousands of cuts, no disk.
  const int fd = ::memfd_create("cut", MFD_CLOEXEC);
  ASSERT_GE(fd, 0);
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  for (const char* name : {"mouse.yml", "mouse.evemu", "intervals.csv", "capture.txt"}) {
    const std::string whole = readFile(std::string(QUILLMARK_RECORDINGS_DATA) + "/" + name);
    for (std::size_t n = 0; n < whole.size(); ++n) {
      ASSERT_EQ(::ftruncate(fd, 0), 0);
      ASSERT_EQ(::pwrite(fd, whole.data(), n, 0), static_cast<ssize_t>(n));
      try {
        readRecording(path);
      } catch (const recordings::RecordingError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(path, 0), 0u) << e.what();
      }
    }
  }
  ::close(fd);
}

}  // namespace
