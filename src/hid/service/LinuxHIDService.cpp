#include "hid/service/LinuxHIDService.h"

#include <fcntl.h>
#include <libudev.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <vector>

#include "hid/HIDDebugLog.h"
#include "hid/service/DeviceText.h"
#include "hid/service/ErrnoResult.h"
#include "hid/service/RunLoop.h"
#include "i18n/Translate.h"

namespace hidservice {

namespace {

// 256 events (6 KiB) per read: an 8000 Hz mouse fills that in tens of ms.
constexpr size_t kReadBatchEvents = 256;

struct UdevDeleter {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
  void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

int64_t clockNs(clockid_t clock) {
  timespec ts{};
  ::clock_gettime(clock, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

constexpr int64_t kOffsetRefreshNs = 1000000000;

// Monotonic minus realtime. The monotonic reading is bracketed by two
// realtime readings; of three tries the narrowest bracket wins, so a
// preemption in the middle of one try does not skew the result.
int64_t measureRealtimeOffsetNs() {
  int64_t best = 0;
  int64_t bestWidth = INT64_MAX;
  for (int i = 0; i < 3; ++i) {
    const int64_t before = clockNs(CLOCK_REALTIME);
    const int64_t mono = clockNs(CLOCK_MONOTONIC);
    const int64_t after = clockNs(CLOCK_REALTIME);
    if (after - before < bestWidth) {
      bestWidth = after - before;
      best = mono - (before + (after - before) / 2);
    }
  }
  return best;
}

const char* sysattr(udev_device* dev, const char* name) {
  return dev != nullptr ? udev_device_get_sysattr_value(dev, name) : nullptr;
}

std::optional<int32_t> hexNumber(const char* text) {
  if (text == nullptr || *text == '\0') return std::nullopt;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 16);
  if (end == text) return std::nullopt;
  return static_cast<int32_t>(value);
}

// Tests a bit of a sysfs capability bitmap: hex words of the kernel's long
// size, the most significant first.
bool testBit(const char* bitmap, unsigned bit) {
  if (bitmap == nullptr) return false;
  std::vector<unsigned long> words;
  const char* p = bitmap;
  while (*p != '\0') {
    char* end = nullptr;
    const unsigned long w = std::strtoul(p, &end, 16);
    if (end == p) break;
    words.push_back(w);
    p = end;
  }
  const unsigned bitsPerWord = sizeof(unsigned long) * 8;
  const size_t index = bit / bitsPerWord;
  if (index >= words.size()) return false;
  return (words[words.size() - 1 - index] >> (bit % bitsPerWord)) & 1UL;
}

bool isEventNode(udev_device* dev) {
  const char* sysname = udev_device_get_sysname(dev);
  return sysname != nullptr && std::strncmp(sysname, "event", 5) == 0 &&
         udev_device_get_devnode(dev) != nullptr;
}

// Mice are the nodes udev tags ID_INPUT_MOUSE=1; without udev's input
// properties, relative X/Y motion with a left button decides.
bool isMouseNode(udev_device* dev) {
  if (!isEventNode(dev)) return false;
  const char* mouse = udev_device_get_property_value(dev, "ID_INPUT_MOUSE");
  if (mouse != nullptr) return std::strcmp(mouse, "1") == 0;
  if (udev_device_get_property_value(dev, "ID_INPUT") != nullptr) return false;
  udev_device* input = udev_device_get_parent_with_subsystem_devtype(dev, "input", nullptr);
  return testBit(sysattr(input, "capabilities/ev"), EV_REL) &&
         testBit(sysattr(input, "capabilities/rel"), REL_X) &&
         testBit(sysattr(input, "capabilities/rel"), REL_Y) &&
         testBit(sysattr(input, "capabilities/key"), BTN_LEFT);
}

std::optional<std::string> cleanText(const char* text, bool escaped = false) {
  if (text == nullptr) return std::nullopt;
  std::string value = cleanDeviceText(escaped ? decodeUdevEscapes(text) : std::string(text));
  if (value.empty()) return std::nullopt;
  return value;
}

// The bInterval of the first interrupt-IN endpoint (ep_81 to ep_8f).
std::optional<int32_t> endpointBInterval(udev* u, udev_device* usbInterface) {
  const char* base = udev_device_get_syspath(usbInterface);
  if (base == nullptr) return std::nullopt;
  for (int n = 1; n <= 15; ++n) {
    char path[4096];
    std::snprintf(path, sizeof path, "%s/ep_8%x", base, n);
    UdevPtr<udev_device> ep(udev_device_new_from_syspath(u, path));
    if (!ep) continue;
    const char* type = sysattr(ep.get(), "type");
    if (type == nullptr || std::strcmp(type, "Interrupt") != 0) continue;
    const std::optional<int32_t> interval = hexNumber(sysattr(ep.get(), "bInterval"));
    if (interval && *interval > 0) return interval;
  }
  return std::nullopt;
}

// usbhid's mousepoll parameter in ms; nullopt when the module is not loaded.
std::optional<int32_t> usbhidMousepoll() {
  std::FILE* f = std::fopen("/sys/module/usbhid/parameters/mousepoll", "re");
  if (f == nullptr) return std::nullopt;
  long value = -1;
  const bool read = std::fscanf(f, "%ld", &value) == 1;
  std::fclose(f);
  if (!read || value < 0 || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

void readUsbPolling(udev* u, udev_device* usbInterface, udev_device* usbDevice,
                    DeviceProperties& p) {
  const char* speed = sysattr(usbDevice, "speed");
  const std::optional<int32_t> bInterval = endpointBInterval(u, usbInterface);
  if (speed == nullptr || !bInterval) return;
  // Another driver than usbhid on the interface does not read mousepoll.
  const char* interfaceDriver = udev_device_get_driver(usbInterface);
  const bool usbhid = interfaceDriver == nullptr || std::strcmp(interfaceDriver, "usbhid") == 0;
  const UsbPolling polling = usbPolling(*bInterval, speed, p.hostDriver.value_or(""),
                                        usbhid ? p.usbhidMousepollMs.value_or(0) : 0);
  if (polling.hostUs > 0) p.reportIntervalUs = polling.hostUs;
  if (polling.requestedUs > 0) p.requestedIntervalUs = polling.requestedUs;
  if (!polling.reason.empty()) p.configuredReason = polling.reason;
}

// psmouse keeps a PS/2 mouse's sample rate (reports per second) in the
// serio port's `rate` attribute.
void readPs2Rate(udev_device* node, DeviceProperties& p) {
  udev_device* serio = udev_device_get_parent_with_subsystem_devtype(node, "serio", nullptr);
  const char* rate = sysattr(serio, "rate");
  if (rate == nullptr) return;
  char* end = nullptr;
  const long hz = std::strtol(rate, &end, 10);
  if (end == rate || hz <= 0 || hz > 1000000) return;
  p.reportIntervalUs = static_cast<int32_t>((1000000 + hz / 2) / hz);
  p.reportIntervalNs = static_cast<int32_t>((1000000000 + hz / 2) / hz);
  p.configuredReason = std::string("ps2_sample_rate");
}

// The bus speed and port path of the USB device, and the driver of the host
// controller above its root hub (the first ancestor outside the usb bus).
void readUsbPlace(udev_device* usbDevice, DeviceProperties& p) {
  if (const char* speed = sysattr(usbDevice, "speed")) {
    const double mbits = std::strtod(speed, nullptr);
    if (mbits > 0.0) p.busSpeedKbps = static_cast<int32_t>(mbits * 1000.0 + 0.5);
  }
  if (const char* name = udev_device_get_sysname(usbDevice)) p.portPath = std::string(name);
  for (udev_device* d = udev_device_get_parent(usbDevice); d != nullptr;
       d = udev_device_get_parent(d)) {
    const char* subsystem = udev_device_get_subsystem(d);
    if (subsystem != nullptr && std::strcmp(subsystem, "usb") == 0) continue;
    if (const char* driver = udev_device_get_driver(d)) p.hostDriver = std::string(driver);
    break;
  }
}

DeviceProperties readProperties(udev* u, udev_device* node) {
  DeviceProperties p;
  udev_device* input = udev_device_get_parent_with_subsystem_devtype(node, "input", nullptr);
  udev_device* usbDevice = udev_device_get_parent_with_subsystem_devtype(node, "usb", "usb_device");
  udev_device* usbInterface =
      udev_device_get_parent_with_subsystem_devtype(node, "usb", "usb_interface");

  p.product = cleanText(sysattr(usbDevice, "product"));
  if (!p.product) p.product = cleanText(sysattr(input, "name"));
  if (!p.product) p.product = cleanText(udev_device_get_property_value(node, "ID_MODEL_ENC"), true);
  p.manufacturer = cleanText(sysattr(usbDevice, "manufacturer"));
  if (!p.manufacturer) {
    p.manufacturer = cleanText(udev_device_get_property_value(node, "ID_VENDOR_ENC"), true);
  }

  std::string transport;
  if (const std::optional<int32_t> bus = hexNumber(sysattr(input, "id/bustype"))) {
    transport = transportFromBusType(static_cast<unsigned>(*bus));
  }
  if (transport.empty()) {
    const char* idBus = udev_device_get_property_value(node, "ID_BUS");
    if (idBus != nullptr) transport = transportFromIdBus(idBus);
  }
  if (!transport.empty()) p.transport = transport;
  const auto tagged = [node](const char* key) {
    const char* value = udev_device_get_property_value(node, key);
    return value != nullptr && std::strcmp(value, "1") == 0;
  };
  p.builtIn =
      isBuiltInPointer(tagged("ID_INPUT_TOUCHPAD"), tagged("ID_INPUT_POINTINGSTICK"), transport)
          ? 1
          : 0;

  p.vendorId = hexNumber(sysattr(input, "id/vendor"));
  if (!p.vendorId) p.vendorId = hexNumber(udev_device_get_property_value(node, "ID_VENDOR_ID"));
  p.productId = hexNumber(sysattr(input, "id/product"));
  if (!p.productId) p.productId = hexNumber(udev_device_get_property_value(node, "ID_MODEL_ID"));

  p.usbhidMousepollMs = usbhidMousepoll();
  if (usbDevice != nullptr) readUsbPlace(usbDevice, p);
  if (usbInterface != nullptr && usbDevice != nullptr)
    readUsbPolling(u, usbInterface, usbDevice, p);
  if (transport == "PS/2") readPs2Rate(node, p);
  return p;
}

// Calls fn(node) for every mouse event node present now.
template <typename Fn>
void forEachMouse(udev* u, Fn&& fn) {
  UdevPtr<udev_enumerate> e(udev_enumerate_new(u));
  if (!e) return;
  udev_enumerate_add_match_subsystem(e.get(), "input");
  udev_enumerate_add_match_sysname(e.get(), "event*");
  udev_enumerate_scan_devices(e.get());
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e.get())) {
    UdevPtr<udev_device> dev(udev_device_new_from_syspath(u, udev_list_entry_get_name(entry)));
    if (dev && isMouseNode(dev.get())) fn(dev.get());
  }
}

class LinuxManager : public Manager {
 public:
  explicit LinuxManager(udev* u) : udev_(u) {}
  ~LinuxManager() override {
    close();
    devices_.clear();
  }

  void scheduleWithRunLoop(RunLoop& loop) override { loop_ = &loop; }
  void unscheduleFromRunLoop(RunLoop&) override {
    stopMonitor();
    loop_ = nullptr;
  }

  // Without the hotplug monitor the mice present now are still listed;
  // the failure says that later arrivals will not be seen.
  Result open() override {
    if (open_) return Result::success();
    if (loop_ == nullptr) {
      return Result::failure(ResultKind::Failed, EINVAL,
                             i18n::tr("udev monitor failed: 没有事件循环（未调度到 HID 线程）"));
    }
    open_ = true;
    const Result monitoring = startMonitor();
    if (matchMice_) {
      forEachMouse(udev_.get(), [&](udev_device* dev) { addDevice(dev); });
    }
    loop_->post([this] { announcePending(); });
    return monitoring;
  }

  void close() override {
    stopMonitor();
    open_ = false;
  }

 private:
  struct Entry {
    std::unique_ptr<EvdevDevice> device;
    bool announced = false;
  };

  Result startMonitor() {
    errno = 0;
    monitor_.reset(udev_monitor_new_from_netlink(udev_.get(), "udev"));
    if (!monitor_) return errnoResult("udev_monitor_new_from_netlink", errno ? errno : ENOMEM);
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor_.get(), "input", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_.get()) < 0) {
      const int err = errno ? errno : EINVAL;
      monitor_.reset();
      return errnoResult("udev_monitor_enable_receiving", err);
    }
    const int fd = udev_monitor_get_fd(monitor_.get());
    monitorWatch_ = loop_->addFd(fd, EPOLLIN, [this](uint32_t) { receiveUevents(); });
    if (monitorWatch_ == 0) return errnoResult("epoll_ctl udev monitor", errno ? errno : EINVAL);
    return Result::success();
  }

  void stopMonitor() {
    if (monitorWatch_ != 0 && loop_ != nullptr) loop_->removeFd(monitorWatch_);
    monitorWatch_ = 0;
    monitor_.reset();
  }

  Entry* addDevice(udev_device* dev) {
    const std::string syspath = udev_device_get_syspath(dev);
    if (devices_.count(syspath) != 0) return nullptr;
    Entry& entry = devices_[syspath];
    entry.device = std::make_unique<EvdevDevice>(*loop_, udev_device_get_devnode(dev),
                                                 readProperties(udev_.get(), dev));
    return &entry;
  }

  void announce(Entry& entry) {
    entry.announced = true;
    announceMatched(entry.device.get());
  }

  void announcePending() {
    if (!open_) return;
    for (auto& [syspath, entry] : devices_) {
      if (!entry.announced) announce(entry);
    }
  }

  void receiveUevents() {
    while (monitor_) {
      UdevPtr<udev_device> dev(udev_monitor_receive_device(monitor_.get()));
      if (!dev) return;
      const char* action = udev_device_get_action(dev.get());
      if (action == nullptr) continue;
      if (std::strcmp(action, "add") == 0) {
        if (!matchMice_ || !isMouseNode(dev.get())) continue;
        if (Entry* entry = addDevice(dev.get())) announce(*entry);
      } else if (std::strcmp(action, "remove") == 0) {
        removeDevice(udev_device_get_syspath(dev.get()));
      } else if (std::strcmp(action, "change") == 0) {
        // A change follows `udevadm trigger`, e.g. after the access rule was
        // installed: a node that could not be opened is offered afresh, so
        // it can now be opened. An open one keeps its place, its selection
        // and its test (any package install may trigger).
        if (isOpen(udev_device_get_syspath(dev.get()))) continue;
        removeDevice(udev_device_get_syspath(dev.get()));
        if (!matchMice_ || !isMouseNode(dev.get())) continue;
        if (Entry* entry = addDevice(dev.get())) announce(*entry);
      }
    }
  }

  bool isOpen(const char* syspath) const {
    if (syspath == nullptr) return false;
    auto it = devices_.find(syspath);
    return it != devices_.end() && it->second.device->isOpen();
  }

  void removeDevice(const char* syspath) {
    if (syspath == nullptr) return;
    auto it = devices_.find(syspath);
    if (it == devices_.end()) return;
    if (it->second.announced) announceRemoved(it->second.device.get());
    devices_.erase(it);
  }

  UdevPtr<udev> udev_;
  UdevPtr<udev_monitor> monitor_;
  RunLoop* loop_ = nullptr;
  uint64_t monitorWatch_ = 0;
  bool open_ = false;
  std::map<std::string, Entry> devices_;
};

}  // namespace

bool isBuiltInPointer(bool touchpad, bool pointingStick, std::string_view transport) {
  return touchpad || pointingStick || transport == "PS/2" || transport == "I2C" ||
         transport == "SPI";
}

namespace {

enum class UsbSpeed { Unknown, Full, High };  // Full covers low speed too

UsbSpeed usbSpeed(std::string_view speed) {
  const double mbits = std::strtod(std::string(speed).c_str(), nullptr);
  if (mbits > 0 && mbits <= 12) return UsbSpeed::Full;
  if (mbits >= 480) return UsbSpeed::High;
  return UsbSpeed::Unknown;
}

}  // namespace

// The host polls a periodic endpoint only at power-of-two intervals. At high
// speed and above bInterval is already an exponent: 2^(bInterval-1)
// microframes of 125 us. At full and low speed it counts 1 ms frames, and the
// host takes the largest power of two not above it, at most 128 frames: the
// USB core rounds a request's interval so, and xHCI, which derives its own
// interval from the descriptor, rounds its exponent the same way.
int32_t reportIntervalUs(int bInterval, std::string_view speed) {
  if (bInterval <= 0) return 0;
  switch (usbSpeed(speed)) {
    case UsbSpeed::Full: {
      int frames = 1;
      while (frames * 2 <= bInterval && frames < 128) frames *= 2;
      return frames * 1000;
    }
    case UsbSpeed::High:
      return bInterval <= 16 ? (1 << (bInterval - 1)) * 125 : 0;
    case UsbSpeed::Unknown:
      break;
  }
  return 0;
}

int32_t requestedIntervalUs(int bInterval, std::string_view speed) {
  if (bInterval <= 0) return 0;
  switch (usbSpeed(speed)) {
    case UsbSpeed::Full:
      return bInterval <= 255 ? bInterval * 1000 : 0;
    case UsbSpeed::High:
      return reportIntervalUs(bInterval, speed);
    case UsbSpeed::Unknown:
      break;
  }
  return 0;
}

// usbhid gives a mouse's interrupt request the mousepoll value in place of
// the descriptor's bInterval, coded the same way (frames at full and low
// speed, an exponent at high speed), and the host rounds it like any other.
// Only a controller that schedules by the request's interval obeys it: EHCI,
// OHCI and UHCI do; xHCI fixes each endpoint's interval from its descriptor
// when the device is configured and ignores the request's. Which driver is
// above the mouse must be known to tell.
UsbPolling usbPolling(int bInterval, std::string_view speed, std::string_view hostDriver,
                      int mousepollMs) {
  UsbPolling polling;
  polling.requestedUs = requestedIntervalUs(bInterval, speed);
  polling.hostUs = reportIntervalUs(bInterval, speed);
  const bool xhci = hostDriver.substr(0, 4) == "xhci";
  bool replaced = mousepollMs > 0 && !hostDriver.empty() && !xhci;
  if (replaced) {
    const int32_t us = reportIntervalUs(mousepollMs, speed);
    replaced = us > 0;  // a value the host cannot use leaves the descriptor's
    if (replaced) polling.hostUs = us;
  }
  if (polling.hostUs > 0 && polling.requestedUs > 0 && polling.hostUs != polling.requestedUs) {
    polling.reason = replaced ? "usbhid_mousepoll" : "interval_rounding";
  }
  return polling;
}

EvdevDevice::EvdevDevice(RunLoop& loop, std::string devnode, DeviceProperties properties)
    : loop_(loop), devnode_(std::move(devnode)) {
  properties_ = std::move(properties);
  properties_.node = devnode_;
}

EvdevDevice::~EvdevDevice() { close(); }

Result EvdevDevice::open() {
  if (fd_ >= 0) return Result::success();
  fd_ = ::open(devnode_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return errnoResult("open " + devnode_, errno);
  int clock = CLOCK_MONOTONIC;
  monotonicStamps_ = ::ioctl(fd_, EVIOCSCLOCKID, &clock) == 0;
  if (!monotonicStamps_) {
    hidDebugLog("open: %s 拒绝 EVIOCSCLOCKID，实时时间戳将换算为单调时钟", devnode_.c_str());
  }
  if (registered_) watch();
  return Result::success();
}

void EvdevDevice::close() {
  unwatch();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  carryLength_ = 0;
  assembler_.reset();
}

void EvdevDevice::registerInputReportCallback(uint8_t* buffer, size_t size,
                                              InputReportCallback callback, void* context) {
  assembler_.setTarget(buffer, size, callback, context, this);
  registered_ = true;
  if (fd_ >= 0) watch();
}

void EvdevDevice::watch() {
  if (watchId_ != 0) return;
  watchId_ = loop_.addFd(fd_, EPOLLIN, [this](uint32_t) { drain(); });
}

void EvdevDevice::unwatch() {
  if (watchId_ != 0) loop_.removeFd(watchId_);
  watchId_ = 0;
}

int64_t EvdevDevice::clockOffsetNs() {
  if (monotonicStamps_) return 0;
  // The offset moves only when the wall clock is stepped; refreshing it once
  // a second keeps intervals free of the measurement's own jitter.
  const int64_t now = clockNs(CLOCK_MONOTONIC);
  if (offsetTakenNs_ == 0 || now - offsetTakenNs_ >= kOffsetRefreshNs) {
    realtimeOffsetNs_ = measureRealtimeOffsetNs();
    offsetTakenNs_ = now;
  }
  return realtimeOffsetNs_;
}

void EvdevDevice::fail(int err) {
  // Reported once: the node is no longer read, the device stays listed
  // until it is removed.
  unwatch();
  assembler_.reset();
  assembler_.reportError(errnoResult("read " + devnode_, err),
                         static_cast<uint64_t>(clockNs(CLOCK_MONOTONIC)));
}

void EvdevDevice::drain() {
  input_event batch[kReadBatchEvents];
  auto* bytes = reinterpret_cast<uint8_t*>(batch);
  const int64_t offset = clockOffsetNs();
  for (;;) {
    // An event node hands out whole events; a stream (a pipe, a mock node)
    // may split one, so a partial event waits for its rest.
    std::memcpy(bytes, carry_, carryLength_);
    const size_t room = sizeof batch - carryLength_;
    const ssize_t n = ::read(fd_, bytes + carryLength_, room);
    if (n > 0) {
      const size_t total = carryLength_ + static_cast<size_t>(n);
      const size_t whole = total / sizeof(input_event);
      carryLength_ = total % sizeof(input_event);
      std::memcpy(carry_, bytes + whole * sizeof(input_event), carryLength_);
      assembler_.feed(batch, whole, offset);
      if (static_cast<size_t>(n) < room) return;
      continue;
    }
    if (n == 0) {
      unwatch();
      return;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return;
    if (errno == ENODEV) {
      // The device is gone; its removal event follows.
      unwatch();
      return;
    }
    fail(errno);
    return;
  }
}

std::unique_ptr<Manager> LinuxHIDService::createManager(Result& failure) {
  errno = 0;
  udev* u = udev_new();
  if (u == nullptr) {
    failure = errnoResult("udev_new", errno ? errno : ENOMEM);
    return nullptr;
  }
  return std::make_unique<LinuxManager>(u);
}

uint64_t LinuxHIDService::hostTime() const {
  return static_cast<uint64_t>(clockNs(CLOCK_MONOTONIC));
}

PermissionStatus LinuxHIDService::checkAccess() {
  UdevPtr<udev> u(udev_new());
  if (!u) return PermissionStatus::Unknown;
  bool examined = false;
  bool denied = false;
  forEachMouse(u.get(), [&](udev_device* dev) {
    const int fd = ::open(udev_device_get_devnode(dev), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      examined = true;
    } else if (errno == EACCES || errno == EPERM) {
      examined = true;
      denied = true;
    }
  });
  if (denied) return PermissionStatus::Denied;
  return examined ? PermissionStatus::Granted : PermissionStatus::Unknown;
}

}  // namespace hidservice
