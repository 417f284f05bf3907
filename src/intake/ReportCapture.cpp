#include "intake/ReportCapture.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace {

constexpr size_t kWriteChunk = 64 * 1024;
// Longest sample line: 20 + 1 + 10 + 1 + 10 + 1 + 16 + 1 characters.
constexpr size_t kMaxLine = 64;

char* putDecimal(char* out, uint64_t value) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) *out++ = digits[--n];
  return out;
}

char* putHex16(char* out, uint64_t value) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (int i = 15; i >= 0; --i) {
    out[i] = kHex[value & 0xf];
    value >>= 4;
  }
  return out + 16;
}

// "%llu,%u,%u,%016llx\n"
size_t formatSample(char* out, uint64_t relUs, const ReportCapture::Sample& s) {
  char* p = putDecimal(out, relUs);
  *p++ = ',';
  p = putDecimal(p, s.reportId);
  *p++ = ',';
  p = putDecimal(p, s.length);
  *p++ = ',';
  p = putHex16(p, s.hash);
  *p++ = '\n';
  return static_cast<size_t>(p - out);
}

bool writeAll(int fd, const char* data, size_t len) {
  while (len > 0) {
    const ssize_t n = ::write(fd, data, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

// A line break in a device name would break the four-line header.
std::string headerSafe(std::string text) {
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  return text;
}

}  // namespace

ReportCapture::ReportCapture()
    : ReportCapture([](const char* name) -> const char* { return std::getenv(name); },
                    [] { return Clock::now(); }, stderr) {}

ReportCapture::ReportCapture(EnvLookup env, ClockFn clock, std::FILE* console)
    : env_(std::move(env)), clock_(std::move(clock)), console_(console) {}

ReportCapture& ReportCapture::instance() {
  static ReportCapture* const s_instance = new ReportCapture();
  return *s_instance;
}

uint64_t ReportCapture::hashReport(const unsigned char* report, size_t length) {
  uint64_t hash = kHashStart;
  for (size_t i = 0; i < length; ++i) {
    hash ^= report[i];
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

uint64_t ReportCapture::durationMicros(double seconds) {
  const double us = seconds * 1e6;
  if (!(us > 0)) return 0;
  if (us >= 18446744073709551616.0) return UINT64_MAX;  // 2^64
  return static_cast<uint64_t>(us);
}

double ReportCapture::parseSeconds(const char* text) {
  // strtod rather than atof: same parse, but defined on overflow.
  const double seconds = std::strtod(text, nullptr);
  if (!(seconds > 0)) return kDefaultSeconds;  // also NaN
  return std::min(seconds, kMaxSeconds);
}

void ReportCapture::maybeStart(const std::string& name) {
  if (recording || finished) return;
  const char* path = env_("TAVO_CAPTURE");
  if (path == nullptr || *path == '\0') return;
  outputPath = path;
  deviceName = name;
  if (const char* seconds = env_("TAVO_CAPTURE_SECONDS")) {
    durationSeconds = parseSeconds(seconds);
  } else if (!(durationSeconds > 0)) {
    durationSeconds = kDefaultSeconds;
  }
  if (samples.capacity() < kInitialReserve) samples.reserve(kInitialReserve);
  firstUs = 0;
  recording = true;
  std::fprintf(console_, "[采集] 开始记录原始 HID 报告 -> %s（%.0f 秒）\n", outputPath.c_str(),
               durationSeconds);
}

void ReportCapture::add(unsigned int reportId, const unsigned char* report, size_t length) {
  if (!recording) return;
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(clock_().time_since_epoch());
  const uint64_t t = static_cast<uint64_t>(ns.count()) / 1000;
  if (firstUs == 0) firstUs = t;
  if (samples.size() == samples.capacity()) growSamples();
  samples.push_back({t, reportId, static_cast<uint32_t>(length), hashReport(report, length)});
  if (samples.size() >= kSampleLimit || t - firstUs >= durationMicros(durationSeconds)) write();
}

// Doubling from 200,000 would end at room for 1.6 million; stop at the limit.
void ReportCapture::growSamples() {
  const size_t wanted = std::max(samples.capacity() * 2, kInitialReserve);
  samples.reserve(std::max(std::min(wanted, kSampleLimit), samples.size() + 1));
}

bool ReportCapture::writeTo(int fd) const {
  std::string buf;
  buf.reserve(kWriteChunk + kMaxLine);
  buf += "# TAVO raw HID report capture\n# device=";
  buf += headerSafe(deviceName);
  buf += "\n# samples=" + std::to_string(samples.size()) + "\n# t_us,report_id,len,hash\n";
  char line[kMaxLine];
  for (const Sample& s : samples) {
    buf.append(line, formatSample(line, s.tUs - firstUs, s));
    if (buf.size() >= kWriteChunk) {
      if (!writeAll(fd, buf.data(), buf.size())) return false;
      buf.clear();
    }
  }
  return writeAll(fd, buf.data(), buf.size());
}

void ReportCapture::write() {
  recording = false;
  finished = true;
  const int fd = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    std::fprintf(console_, "[采集] 打不开输出文件: %s\n", outputPath.c_str());
  } else {
    bool ok = writeTo(fd);
    int err = ok ? 0 : errno;
    // A full disk or a network file system may only report the loss at close.
    if (::close(fd) != 0 && ok) {
      ok = false;
      err = errno;
    }
    if (ok) {
      std::fprintf(console_, "[采集] 已写出 %zu 条报告 -> %s\n", samples.size(),
                   outputPath.c_str());
    } else {
      std::fprintf(console_, "[采集] 写入输出文件失败: %s（%s）\n", outputPath.c_str(),
                   std::generic_category().message(err).c_str());
    }
  }
  std::vector<Sample>().swap(samples);
}

void ReportCapture::stop() {
  if (recording && !finished) write();
}
