#include "hid/service/VirtualHIDService.h"

#include <linux/input.h>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "hid/DecimalNumber.h"
#include "hid/service/RunLoop.h"
#include "i18n/Translate.h"

namespace hidservice {

namespace {

// Timer-driven mice wake at most this often and catch up on every report
// that is due; the reports keep their ideal times.
constexpr int64_t kMinTickNs = 1000000;

int64_t monotonicNs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

std::optional<double> parseNumber(std::string_view text) {
  const std::string s(text);
  // Decimal, as every number the program reads; a minus is let through for
  // the range's own message.
  if (!decimal::isNumber(s.starts_with('-') ? s.substr(1) : s)) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end == s.c_str() || *end != '\0' || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Why the hand speed after '@' is not one, or empty when it is.
std::string speedProblem(std::string_view text, VirtualMouseRate& mouse) {
  const std::optional<double> speed = parseNumber(trim(text));
  if (!speed || *speed < kMinVirtualCountsPerS || *speed > kMaxVirtualCountsPerS) {
    return i18n::tr("手速须在 1–1000000 counts/s 之间（如 8000@2000）");
  }
  mouse.countsPerS = *speed;
  return {};
}

std::string rateProblem(std::string_view item, VirtualMouseRate& mouse);

// Why an item is not a mouse, or empty when it is one: the rate part, then
// each "/click=…" or "/stroke=…".
std::string itemProblem(std::string_view item, VirtualMouseRate& mouse) {
  size_t slash = item.find('/');
  std::string problem = rateProblem(trim(item.substr(0, slash)), mouse);
  while (problem.empty() && slash != std::string_view::npos) {
    item.remove_prefix(slash + 1);
    slash = item.find('/');
    problem = patternProblem(trim(item.substr(0, slash)), mouse);
  }
  return problem;
}

std::string rateProblem(std::string_view item, VirtualMouseRate& mouse) {
  const size_t at = item.find('@');
  if (at != std::string_view::npos) {
    std::string problem = rateProblem(item.substr(0, at), mouse);
    return problem.empty() ? speedProblem(item.substr(at + 1), mouse) : problem;
  }
  const size_t colon = item.find(':');
  const std::optional<double> rate = parseNumber(trim(item.substr(0, colon)));
  if (!rate) return i18n::tr("不是报告率（1–16000 Hz，可加抖动微秒数，如 8000:5）");
  if (*rate < kMinVirtualRateHz || *rate > kMaxVirtualRateHz)
    return i18n::tr("报告率须在 1–16000 Hz 之间");
  mouse = VirtualMouseRate{};
  mouse.rateHz = *rate;
  if (colon == std::string_view::npos) return {};
  const double halfIntervalUs = 0.5e6 / *rate;
  const std::optional<double> jitter = parseNumber(trim(item.substr(colon + 1)));
  if (!jitter || *jitter < 0 || *jitter > halfIntervalUs) {
    char text[96];
    std::snprintf(text, sizeof text, i18n::tr("抖动须在 0–%g 微秒之间（半个报告间隔）"),
                  halfIntervalUs);
    return text;
  }
  mouse.jitterUs = *jitter;
  return {};
}

// An item as the console line shows it: control characters replaced, and a
// long one cut (at a character boundary) so one line stays one line.
std::string shownItem(std::string_view item) {
  constexpr size_t kMaxShown = 32;
  std::string shown;
  for (char c : item.substr(0, kMaxShown)) {
    const auto byte = static_cast<unsigned char>(c);
    shown += byte < 0x20 || byte == 0x7f ? '?' : c;
  }
  if (item.size() > kMaxShown) {
    while (!shown.empty() && (static_cast<unsigned char>(shown.back()) & 0xC0) == 0x80) {
      shown.pop_back();
    }
    if (!shown.empty() && static_cast<unsigned char>(shown.back()) >= 0xC0) shown.pop_back();
    shown += "…";
  }
  return shown;
}

// The program's own name for a virtual mouse, in the program's language.
std::string timedMouseName(const VirtualMouseRate& rate) {
  char name[64];
  if (rate.countsPerS > 0) {
    std::snprintf(name, sizeof name, i18n::tr("虚拟鼠标 %g Hz（%.7g counts/s）"), rate.rateHz,
                  rate.countsPerS);
  } else {
    std::snprintf(name, sizeof name, i18n::tr("虚拟鼠标 %g Hz"), rate.rateHz);
  }
  return name;
}

VirtualDeviceSetup timedMouseSetup(const VirtualMouseRate& rate, int index) {
  VirtualDeviceSetup setup;
  setup.properties.product = timedMouseName(rate);
  setup.properties.transport = "Virtual";
  setup.properties.vendorId = 0;
  setup.properties.productId = index + 1;
  setup.properties.reportIntervalUs = static_cast<int32_t>(std::lround(1e6 / rate.rateHz));
  setup.properties.requestedIntervalUs = setup.properties.reportIntervalUs;
  setup.properties.reportIntervalNs = static_cast<int32_t>(std::lround(1e9 / rate.rateHz));
  return setup;
}

}  // namespace

std::optional<std::vector<VirtualMouseRate>> selectVirtualMice(const char* value,
                                                               std::FILE* console) {
  // A hostile list must not flood the console either.
  constexpr size_t kMaxNamedItems = 16;
  std::string_view text = value == nullptr ? std::string_view() : trim(value);
  if (text.empty()) return std::nullopt;
  std::vector<VirtualMouseRate> mice;
  size_t bad = 0;
  size_t refused = 0;
  for (;;) {
    const size_t comma = text.find(',');
    const std::string_view item = trim(text.substr(0, comma));
    VirtualMouseRate mouse;
    const std::string problem = itemProblem(item, mouse);
    if (!problem.empty()) {
      if (++bad <= kMaxNamedItems) {
        std::fprintf(console, i18n::tr("[虚拟鼠标] 忽略 \"%s\"：%s\n"), shownItem(item).c_str(),
                     problem.c_str());
      }
    } else if (mice.size() < kMaxVirtualMice) {
      mice.push_back(mouse);
    } else {
      ++refused;
    }
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (bad > kMaxNamedItems) {
    std::fprintf(console, i18n::tr("[虚拟鼠标] 另有 %zu 个无效条目未列出\n"), bad - kMaxNamedItems);
  }
  if (refused > 0) {
    std::fprintf(console, i18n::tr("[虚拟鼠标] 最多 %zu 个虚拟鼠标，其余 %zu 个未使用\n"),
                 kMaxVirtualMice, refused);
  }
  if (mice.empty()) {
    std::fprintf(console,
                 i18n::tr("[虚拟鼠标] TAVO_VIRTUAL_MICE 中没有可用的条目，改用真实鼠标\n"));
    return std::nullopt;
  }
  return mice;
}

// --- VirtualDevice ---

VirtualDevice::VirtualDevice(VirtualDeviceSetup setup, std::optional<VirtualMouseRate> rate,
                             uint32_t seed)
    : openResult_(setup.openResult), rate_(rate), rng_(seed + 1) {
  properties_ = std::move(setup.properties);
}

VirtualDevice::~VirtualDevice() { stopTimer(); }

Result VirtualDevice::open() {
  ++openCalls_;
  opened_ = openResult_.ok();
  if (opened_) startTimer();
  return openResult_;
}

void VirtualDevice::close() {
  ++closeCalls_;
  stopTimer();
  opened_ = false;
  target_ = Target{};
}

void VirtualDevice::registerInputReportCallback(uint8_t* buffer, size_t size,
                                                InputReportCallback callback, void* context) {
  target_ = Target{buffer, size, callback, context};
  startTimer();
}

void VirtualDevice::deliver(const Result& result, uint32_t reportId, const uint8_t* bytes,
                            size_t length, uint64_t hostTime) {
  if (!opened_ || target_.callback == nullptr) return;
  const size_t n = bytes == nullptr ? 0 : std::min(length, target_.size);
  if (n > 0) std::copy_n(bytes, n, target_.buffer);
  target_.callback(target_.context, result, this, kInputReportType, reportId, target_.buffer, n,
                   hostTime);
}

void VirtualDevice::startTimer() {
  if (!rate_ || !opened_ || target_.callback == nullptr || loop_ == nullptr || timerFd_ >= 0) {
    return;
  }
  timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (timerFd_ < 0) return;
  const int64_t period = static_cast<int64_t>(1e9 / rate_->rateHz);
  const int64_t tick = std::max(period, kMinTickNs);
  startNs_ = monotonicNs();
  nextIndex_ = 1;
  const int64_t first = startNs_ + tick;
  itimerspec setup{};
  setup.it_value.tv_sec = first / 1000000000LL;
  setup.it_value.tv_nsec = first % 1000000000LL;
  setup.it_interval.tv_sec = tick / 1000000000LL;
  setup.it_interval.tv_nsec = tick % 1000000000LL;
  ::timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &setup, nullptr);
  timerWatch_ = loop_->addFd(timerFd_, EPOLLIN, [this](uint32_t) { onTick(); });
}

void VirtualDevice::stopTimer() {
  if (timerWatch_ != 0 && loop_ != nullptr) loop_->removeFd(timerWatch_);
  timerWatch_ = 0;
  if (timerFd_ >= 0) ::close(timerFd_);
  timerFd_ = -1;
}

void VirtualDevice::onTick() {
  uint64_t expirations = 0;
  [[maybe_unused]] ssize_t r = ::read(timerFd_, &expirations, sizeof expirations);
  const int64_t now = monotonicNs();
  collectDueReports(now);
  const size_t kept = firstKeptReport();
  if (kept > 0) {
    deliver(overrunResult(), 0, nullptr, 0, static_cast<uint64_t>(now));
    if (timerFd_ < 0) return;
  }
  for (size_t i = kept; i < due_.size(); ++i) {
    deliver(successResult(), 0, due_[i].frame.data(), due_[i].length,
            static_cast<uint64_t>(due_[i].stamp));
    if (timerFd_ < 0) return;  // closed from inside the callback
  }
}

// The reports of the slots that are due, in order: a report is due once even
// its latest possible stamp lies in the past, so no stamp is ever ahead of
// the clock.
void VirtualDevice::collectDueReports(int64_t now) {
  const int64_t jitterNs = static_cast<int64_t>(rate_->jitterUs * 1000);
  std::uniform_int_distribution<int64_t> jitter(-jitterNs, jitterNs);
  due_.clear();
  for (;;) {
    const int64_t ideal =
        startNs_ + static_cast<int64_t>(std::llround(nextIndex_ * 1e9 / rate_->rateHz));
    if (ideal + jitterNs > now) break;
    DueReport report;
    report.length = slotFrame(*rate_, nextIndex_++, report.frame.data());
    if (report.length == 0) continue;  // no whole count yet: the sensor has nothing to report
    report.stamp = ideal + (jitterNs > 0 ? jitter(rng_) : 0);
    due_.push_back(report);
  }
}

// The first of due_ that a kernel buffer of bufferReports still holds: evdev
// drops everything unread when its buffer fills, and the report that filled
// it goes with them.
size_t VirtualDevice::firstKeptReport() const {
  if (rate_->bufferReports <= 0) return 0;
  const size_t held = static_cast<size_t>(rate_->bufferReports) + 1;
  return due_.size() - due_.size() % held;
}

// The whole counts built up by slot `index`, less those by the slot before:
// computed from the index, so no rounding error adds up over a long test.
int32_t VirtualDevice::slotCounts(const VirtualMouseRate& rate, int64_t index) {
  if (rate.countsPerS <= 0) return kFreeSlotCounts;
  const double perSlot = rate.countsPerS / rate.rateHz;
  const auto upTo = [&](int64_t i) { return std::floor(static_cast<double>(i) * perSlot); };
  return static_cast<int32_t>(upTo(index) - upTo(index - 1));
}

// --- VirtualManager ---

class VirtualManager : public Manager {
 public:
  explicit VirtualManager(VirtualHIDService& service) : service_(service) {}
  ~VirtualManager() override {
    service_.detach(this);
    for (VirtualDevice* device : announced_) release(device);
  }

  void scheduleWithRunLoop(RunLoop& loop) override { loop_ = &loop; }
  void unscheduleFromRunLoop(RunLoop&) override {
    service_.detach(this);
    loop_ = nullptr;
  }
  Result open() override {
    if (loop_ != nullptr && matchMice_) service_.attach(this, loop_);
    return service_.managerOpenResult();
  }
  void close() override { service_.detach(this); }

  void arrive(VirtualDevice* device) {
    if (std::find(announced_.begin(), announced_.end(), device) != announced_.end()) return;
    announced_.push_back(device);
    device->loop_ = loop_;
    // The process's mice are made before the language is chosen (a global
    // monitor asks for them); they are named when first shown.
    if (device->namedAfterRate_ && device->rate_)
      device->properties_.product = timedMouseName(*device->rate_);
    announceMatched(device);
  }

  void depart(VirtualDevice* device) {
    auto it = std::find(announced_.begin(), announced_.end(), device);
    if (it == announced_.end()) return;
    announced_.erase(it);
    announceRemoved(device);
    release(device);
  }

 private:
  // The device outlives this manager; it must not keep its loop or timer.
  static void release(VirtualDevice* device) {
    device->stopTimer();
    device->loop_ = nullptr;
  }

  VirtualHIDService& service_;
  RunLoop* loop_ = nullptr;
  std::vector<VirtualDevice*> announced_;
};

// --- VirtualHIDService ---

VirtualHIDService::VirtualHIDService() = default;

VirtualHIDService::VirtualHIDService(const std::vector<VirtualMouseRate>& mice) {
  for (size_t i = 0; i < mice.size(); ++i) {
    const int index = static_cast<int>(i);
    devices_.push_back(std::make_unique<VirtualDevice>(timedMouseSetup(mice[i], index), mice[i],
                                                       static_cast<uint32_t>(index)));
    devices_.back()->namedAfterRate_ = true;
    present_.push_back(devices_.back().get());
  }
}

VirtualHIDService::~VirtualHIDService() = default;

std::unique_ptr<Manager> VirtualHIDService::createManager(Result& failure) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (createFails_) {
      failure = Result::failure(ResultKind::Failed, ENOMEM, "create virtual manager failed");
      return nullptr;
    }
  }
  ++managersCreated_;
  return std::make_unique<VirtualManager>(*this);
}

uint64_t VirtualHIDService::hostTime() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return hostTime_ ? *hostTime_ : static_cast<uint64_t>(monotonicNs());
}

Timebase VirtualHIDService::timebase() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timebase_;
}

void VirtualHIDService::attach(VirtualManager* manager, RunLoop* loop) {
  std::lock_guard<std::mutex> lock(mutex_);
  active_ = manager;
  loop_ = loop;
  ++attachEpoch_;
  std::vector<VirtualDevice*> present = present_;
  loop_->post([manager, present] {
    for (VirtualDevice* device : present) manager->arrive(device);
  });
}

void VirtualHIDService::detach(VirtualManager* manager) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (active_ != manager) return;
  active_ = nullptr;
  loop_ = nullptr;
  ++attachEpoch_;
  detached_.notify_all();
}

VirtualDevice* VirtualHIDService::addDevice(VirtualDeviceSetup setup) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto seed = static_cast<uint32_t>(devices_.size());
  devices_.push_back(std::make_unique<VirtualDevice>(std::move(setup), std::nullopt, seed));
  VirtualDevice* device = devices_.back().get();
  present_.push_back(device);
  if (active_ != nullptr) {
    VirtualManager* manager = active_;
    loop_->post([manager, device] { manager->arrive(device); });
  }
  return device;
}

void VirtualHIDService::removeDevice(VirtualDevice* device) {
  std::lock_guard<std::mutex> lock(mutex_);
  present_.erase(std::remove(present_.begin(), present_.end(), device), present_.end());
  if (active_ != nullptr) {
    VirtualManager* manager = active_;
    loop_->post([manager, device] { manager->depart(device); });
  }
}

void VirtualHIDService::deliverReport(VirtualDevice* device, Result result, uint64_t hostTime,
                                      std::vector<uint8_t> bytes, uint32_t reportId) {
  post([device, result = std::move(result), hostTime, bytes = std::move(bytes), reportId] {
    device->deliver(result, reportId, bytes.data(), bytes.size(), hostTime);
  });
}

void VirtualHIDService::post(std::function<void()> task) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (loop_ != nullptr) loop_->post(std::move(task));
}

void VirtualHIDService::sync() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (loop_ == nullptr) return;
  const uint64_t epoch = attachEpoch_;
  auto done = std::make_shared<bool>(false);
  loop_->post([this, done] {
    std::lock_guard<std::mutex> inner(mutex_);
    *done = true;
    detached_.notify_all();
  });
  detached_.wait(lock, [&] { return *done || attachEpoch_ != epoch; });
}

void VirtualHIDService::setManagerCreateFails(bool fails) {
  std::lock_guard<std::mutex> lock(mutex_);
  createFails_ = fails;
}

void VirtualHIDService::setManagerOpenResult(Result result) {
  std::lock_guard<std::mutex> lock(mutex_);
  openResult_ = std::move(result);
}

Result VirtualHIDService::managerOpenResult() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return openResult_;
}

void VirtualHIDService::setTimebase(Timebase timebase) {
  std::lock_guard<std::mutex> lock(mutex_);
  timebase_ = timebase;
}

void VirtualHIDService::setHostTime(std::optional<uint64_t> hostTime) {
  std::lock_guard<std::mutex> lock(mutex_);
  hostTime_ = hostTime;
}

}  // namespace hidservice
