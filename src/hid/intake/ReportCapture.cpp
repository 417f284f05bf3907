#include "hid/intake/ReportCapture.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "hid/DecimalNumber.h"
#include "i18n/Translate.h"

namespace {

// A setting's value on one short line: printable ASCII, at most 80
// characters and "…".
std::string shownSetting(std::string_view text) {
  std::string out;
  for (const char c : text.substr(0, 80)) out += c >= 0x20 && c < 0x7f ? c : '?';
  return text.size() > 80 ? out + "…" : out;
}

constexpr size_t kWriteChunk = 64 * 1024;
// A full target is polled in slices this long, so a cancel is seen quickly.
constexpr int kPollSliceMs = 50;
// How long stop() gives a cancelled writer to notice and close its file.
constexpr std::chrono::milliseconds kCancelGrace{200};
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

std::string errorText(int err) { return std::generic_category().message(err); }

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

ReportCapture::~ReportCapture() {
  cancel_.store(true);
  if (writer_.joinable()) writer_.join();
}

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

std::optional<double> ReportCapture::parseSeconds(const char* text) {
  if (!decimal::isNumber(text)) return std::nullopt;
  // strtod rather than atof: same parse, but defined on overflow.
  const double seconds = std::strtod(text, nullptr);
  if (!(seconds > 0)) return std::nullopt;
  return std::min(seconds, kMaxSeconds);
}

void ReportCapture::maybeStart(const std::string& name) {
  if (recording || finished) return;
  const char* path = env_("TAVO_CAPTURE");
  if (path == nullptr || *path == '\0') return;
  outputPath = path;
  deviceName = name;
  if (const char* seconds = env_("TAVO_CAPTURE_SECONDS")) {
    const std::optional<double> parsed = parseSeconds(seconds);
    if (!parsed) {
      std::fprintf(console_,
                   i18n::tr("[采集] TAVO_CAPTURE_SECONDS 应为大于 0 的十进制秒数，却是「%s」，"
                            "改用 %.0f 秒\n"),
                   shownSetting(seconds).c_str(), kDefaultSeconds);
    }
    durationSeconds = parsed.value_or(kDefaultSeconds);
  }
  // Room for every sample at once: growing the vector later would copy it
  // on the HID thread, for milliseconds at 8000 Hz, while the kernel's
  // buffer overflows. Pages are only touched as samples arrive.
  samples.reserve(kSampleLimit);
  firstUs = 0;
  recording = true;
  std::fprintf(console_, i18n::tr("[采集] 开始记录原始 HID 报告 -> %s（%.0f 秒）\n"),
               outputPath.c_str(), durationSeconds);
}

void ReportCapture::add(unsigned int reportId, const unsigned char* report, size_t length) {
  if (!recording) return;
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(clock_().time_since_epoch());
  const uint64_t t = static_cast<uint64_t>(ns.count()) / 1000;
  if (firstUs == 0) firstUs = t;
  samples.push_back({t, reportId, static_cast<uint32_t>(length), hashReport(report, length)});
  if (samples.size() >= kSampleLimit || t - firstUs >= durationMicros(durationSeconds)) write();
}

bool ReportCapture::writeAll(int fd, const char* data, size_t len) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point lastProgress = Clock::now();
  while (len > 0) {
    if (cancel_.load()) {
      errno = ECANCELED;
      return false;
    }
    const ssize_t n = ::write(fd, data, len);
    if (n > 0) {
      data += n;
      len -= static_cast<size_t>(n);
      lastProgress = Clock::now();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (Clock::now() - lastProgress >= kStallLimit) {
        errno = EAGAIN;
        return false;
      }
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, kPollSliceMs);
      continue;
    }
    if (n == 0) errno = EIO;
    return false;
  }
  return true;
}

bool ReportCapture::writeTo(int fd, const Job& job) {
  std::string buf;
  buf.reserve(kWriteChunk + kMaxLine);
  buf += "# TAVO raw HID report capture\n# device=";
  buf += headerSafe(job.deviceName);
  buf += "\n# samples=" + std::to_string(job.samples.size()) + "\n# t_us,report_id,len,hash\n";
  char line[kMaxLine];
  for (const Sample& s : job.samples) {
    buf.append(line, formatSample(line, s.tUs - job.firstUs, s));
    if (buf.size() >= kWriteChunk) {
      if (!writeAll(fd, buf.data(), buf.size())) return false;
      buf.clear();
    }
  }
  return writeAll(fd, buf.data(), buf.size());
}

void ReportCapture::writeJob(const Job& job) {
  // Non-blocking: a FIFO without a reader fails at once (ENXIO) instead of
  // waiting for one. No controlling terminal, nothing inherited by children.
  const int fd = ::open(job.path.c_str(),
                        O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) {
    const std::string why = errorText(errno);  // read before the translation may touch errno
    std::fprintf(console_, i18n::tr("[采集] 打不开输出文件: %s（%s）\n"), job.path.c_str(),
                 why.c_str());
    return;
  }
  bool ok = writeTo(fd, job);
  int err = ok ? 0 : errno;
  // A full disk or a network file system may only report the loss at close.
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok) {
    std::fprintf(console_, i18n::tr("[采集] 已写出 %zu 条报告 -> %s\n"), job.samples.size(),
                 job.path.c_str());
  } else {
    std::fprintf(console_, i18n::tr("[采集] 写入输出文件失败: %s（%s）\n"), job.path.c_str(),
                 errorText(err).c_str());
  }
}

void ReportCapture::startWriter(std::shared_ptr<Job> job) {
  {
    std::lock_guard<std::mutex> lock(writerMutex_);
    writing_ = true;
  }
  const auto finish = [this] {
    std::lock_guard<std::mutex> lock(writerMutex_);
    writing_ = false;
    writerDone_.notify_all();
  };
  // At most one capture per object, so there is at most one writer; a
  // finished one is joined here all the same.
  if (writer_.joinable()) writer_.join();
  try {
    writer_ = std::thread([this, job, finish] {
      writeJob(*job);
      finish();
    });
  } catch (const std::system_error&) {
    // No thread to spare: write here. The target is non-blocking and a stall
    // is bounded, so even this cannot hang.
    writeJob(*job);
    finish();
  }
}

void ReportCapture::write() {
  recording = false;
  finished = true;
  // Nothing captured: the target is never opened, so an earlier capture
  // file there is kept.
  if (samples.empty()) {
    std::fprintf(console_, i18n::tr("[采集] 没有记录到报告，未写出 %s\n"), outputPath.c_str());
    std::vector<Sample>().swap(samples);
    return;
  }
  auto job = std::make_shared<Job>();
  job->path = outputPath;
  job->deviceName = deviceName;
  job->firstUs = firstUs;
  job->samples.swap(samples);
  startWriter(std::move(job));
}

bool ReportCapture::waitForFile(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(writerMutex_);
  return writerDone_.wait_for(lock, limit, [this] { return !writing_; });
}

void ReportCapture::stop() {
  if (recording && !finished) write();
  // Only the first stop waits: the shell's shutdown and the monitor's
  // destructor both stop the capture.
  if (cancel_.load() || waitForFile(kStopWait)) return;
  // The target takes too long: give up on it so that the program can end.
  // A writer stuck inside the kernel is left behind; the process exit ends it.
  cancel_.store(true);
  waitForFile(kCancelGrace);
}
