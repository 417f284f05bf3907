#include "hid/HIDMonitor.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <system_error>

#include "hid/HIDDebugLog.h"
#include "hid/HIDMonitorImpl.h"
#include "hid/HostTime.h"
#include "hid/intake/ReportCapture.h"
#include "hid/service/DeviceText.h"
#include "hid/service/ErrnoResult.h"
#include "hid/service/RunLoop.h"

namespace {

constexpr int kRaisedNice = -10;

using hidservice::Result;
using hidservice::ResultKind;

HIDStatus deviceStatus(const Result& result) {
  return result.kind == ResultKind::NotPermitted ? HIDStatus::PermissionDenied
                                                 : HIDStatus::DeviceError;
}

std::string stringProperty(const hidservice::Device& device, std::string_view key) {
  const std::optional<std::string> value = device.stringProperty(key);
  return value ? hidservice::cleanDeviceText(*value) : std::string();
}

int32_t numberProperty(const hidservice::Device& device, std::string_view key) {
  return device.numberProperty(key).value_or(0);
}

// A pointing device built into the machine (a touchpad, a pointing stick,
// an internal PS/2 or I2C mouse) is rarely the mouse under test: it ranks
// below any external mouse.
int32_t selectionPriority(const HIDDeviceInfo& info, bool builtIn) {
  int32_t priority = 0;
  if (builtIn || (info.manufacturer.find("Apple") != std::string::npos &&
                  info.product.find("Internal") != std::string::npos)) {
    priority -= 500;
  }
  if (info.transport == "SPI") priority -= 300;
  return priority;
}

// Reports arrive up to 8000 times a second: ask for a better place in the
// scheduler, and carry on without it where the system says no.
void raiseThreadPriority() {
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kRaisedNice);
}

}  // namespace

// --- HIDMonitor::Impl ---

HIDMonitor::Impl::Impl(std::shared_ptr<hidservice::Service> s) : service(std::move(s)) {
  contextName = [](const void* context) {
    return static_cast<const DeviceContext*>(context)->name;
  };
}

void HIDMonitor::Impl::setErrorLocked(HIDStatus status, const Result& result) {
  lastError = HIDError{status, result.code, result.text};
}

void HIDMonitor::Impl::syncSelectedLocked() {
  const int32_t index = selectedIndex.load();
  const void* context = nullptr;
  if (index >= 0 && static_cast<size_t>(index) < contexts.size()) context = contexts[index].get();
  selectedContext.store(context);
}

void HIDMonitor::Impl::reselectLocked() {
  int32_t best = -1;
  int32_t bestScore = INT32_MIN;
  const auto score = [](const HIDDeviceInfo& d) { return d.priority + (d.opened ? 1000 : 0); };
  for (size_t i = 0; i < devices.size(); ++i) {
    if (devices[i].opened && score(devices[i]) > bestScore) {
      best = static_cast<int32_t>(i);
      bestScore = score(devices[i]);
    }
  }
  if (!devices.empty() && best == -1) {
    for (size_t i = 0; i < devices.size(); ++i) {
      if (score(devices[i]) > bestScore) {
        best = static_cast<int32_t>(i);
        bestScore = score(devices[i]);
      }
    }
  }
  selectedIndex.store(best);
  syncSelectedLocked();
}

void HIDMonitor::Impl::start() {
  if (manager) return;
  // The thread of a failed manager creation has ended but is still joinable;
  // assigning over it would terminate the program.
  if (thread.joinable()) thread.join();

  Handshake handshake;
  try {
    thread = std::thread(&Impl::threadMain, this, &handshake);
  } catch (const std::system_error& e) {
    throw std::system_error(e.code(), "thread constructor failed");
  }
  std::unique_lock<std::mutex> lock(handshake.mutex);
  handshake.cv.wait(lock, [&] { return handshake.ready; });
}

void HIDMonitor::Impl::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (runLoop != nullptr) runLoop->stop();
  }
  if (thread.joinable()) thread.join();
  capture->stop();
}

// Ends when the posted task has run, or when the loop has ended without
// running it (a failed wait ends the loop with tasks still queued).
void HIDMonitor::Impl::sync() {
  std::unique_lock<std::mutex> lock(mutex);
  if (runLoop == nullptr) return;
  const uint64_t ticket = ++syncsPosted;
  runLoop->post([this, ticket] {
    std::lock_guard<std::mutex> doneLock(mutex);
    syncsDone = std::max(syncsDone, ticket);
    syncDone.notify_all();
  });
  syncDone.wait(lock, [&] { return syncsDone >= ticket || runLoop == nullptr; });
}

void HIDMonitor::Impl::threadMain(Handshake* handshake) {
  const auto signalReady = [handshake] {
    std::lock_guard<std::mutex> lock(handshake->mutex);
    handshake->ready = true;
    handshake->cv.notify_one();
  };

  // Named so its CPU use can be told apart in /proc/<pid>/task and top -H.
  ::pthread_setname_np(::pthread_self(), "quillmark-hid");
  raiseThreadPriority();
  hidservice::RunLoop loop;
  Result failure = Result::failure(ResultKind::Failed, 0, "HID event loop failed");
  std::unique_ptr<hidservice::Manager> created =
      loop.valid() ? service->createManager(failure) : nullptr;
  if (!created) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      setErrorLocked(HIDStatus::ManagerError, failure);
    }
    signalReady();
    return;
  }
  manager = std::move(created);
  manager->setDeviceMatching(hidservice::kUsagePageGenericDesktop, hidservice::kUsageMouse);
  manager->registerDeviceMatchingCallback(&Impl::deviceMatchingCallback, this);
  manager->registerDeviceRemovalCallback(&Impl::deviceRemovalCallback, this);
  {
    std::lock_guard<std::mutex> lock(mutex);
    runLoop = &loop;
  }
  manager->scheduleWithRunLoop(loop);
  const Result result = manager->open();
  if (!result.ok()) {
    std::lock_guard<std::mutex> lock(mutex);
    setErrorLocked(result.kind == ResultKind::NotPermitted ? HIDStatus::PermissionDenied
                                                           : HIDStatus::ManagerError,
                   result);
  }
  signalReady();
  run(loop);
}

void HIDMonitor::Impl::run(hidservice::RunLoop& loop) {
  if (const int err = loop.run(); err != 0) {
    // The loop cannot wait for events any more: no arrival, removal or
    // report will come. Said on the banner rather than an empty list alone.
    std::lock_guard<std::mutex> lock(mutex);
    setErrorLocked(HIDStatus::ManagerError, hidservice::errnoResult("epoll_wait", err));
  }
  manager->unscheduleFromRunLoop(loop);
  manager->close();

  std::vector<HIDDeviceRef> opened;
  {
    std::lock_guard<std::mutex> lock(mutex);
    const size_t n = std::min(devices.size(), contexts.size());
    for (size_t i = 0; i < n; ++i) {
      if (devices[i].opened) opened.push_back(contexts[i]->device);
    }
    while (!contexts.empty()) contexts.pop_back();
    devices.clear();
    selectedIndex.store(-1);
    selectedContext.store(nullptr);
  }
  for (HIDDeviceRef device : opened) device->close();

  manager.reset();
  std::lock_guard<std::mutex> lock(mutex);
  runLoop = nullptr;
  syncDone.notify_all();  // tasks still queued will never run
}

void HIDMonitor::Impl::deviceMatchingCallback(void* context, const Result&, void*,
                                              hidservice::Device* device) {
  static_cast<Impl*>(context)->handleDeviceMatched(device);
}

void HIDMonitor::Impl::deviceRemovalCallback(void* context, const Result&, void*,
                                             hidservice::Device* device) {
  static_cast<Impl*>(context)->handleDeviceRemoved(device);
}

void HIDMonitor::Impl::handleDeviceMatched(HIDDeviceRef device) {
  const Result result = device->open();
  HIDDeviceInfo info;
  info.device = device;
  info.product = stringProperty(*device, hidservice::kProductKey);
  info.manufacturer = stringProperty(*device, hidservice::kManufacturerKey);
  info.transport = stringProperty(*device, hidservice::kTransportKey);
  info.vendorId = numberProperty(*device, hidservice::kVendorIdKey);
  info.productId = numberProperty(*device, hidservice::kProductIdKey);
  info.reportIntervalUs = numberProperty(*device, hidservice::kReportIntervalKey);
  info.requestedIntervalUs = numberProperty(*device, hidservice::kRequestedIntervalKey);
  info.reportIntervalNs = numberProperty(*device, hidservice::kReportIntervalNsKey);
  info.configuredReason = stringProperty(*device, hidservice::kConfiguredReasonKey);
  info.usbhidMousepollMs = device->numberProperty(hidservice::kUsbhidMousepollKey).value_or(-1);
  info.node = stringProperty(*device, hidservice::kNodeKey);
  info.busSpeedKbps = numberProperty(*device, hidservice::kBusSpeedKey);
  info.portPath = stringProperty(*device, hidservice::kPortPathKey);
  info.hostDriver = stringProperty(*device, hidservice::kHostDriverKey);
  info.opened = result.ok();
  info.serial = nextSerial++;
  info.priority = selectionPriority(info, numberProperty(*device, hidservice::kBuiltInKey) != 0);

  capture->maybeStart(info.displayName());

  auto context = std::make_unique<DeviceContext>();
  context->device = device;
  context->owner = this;
  context->serial = info.serial;
  context->name = info.displayName();
  if (info.opened) {
    device->registerInputReportCallback(context->reportBuffer.data(), context->reportBuffer.size(),
                                        &Impl::inputReportCallback, context.get());
  }

  std::lock_guard<std::mutex> lock(mutex);
  devices.push_back(std::move(info));
  contexts.push_back(std::move(context));
  const HIDDeviceInfo& added = devices.back();
  if (hidDebugLogEnabled()) {
    hidDebugLog("match: idx=%zu ref=%p opened=%d interval=%dus name=\"%s\"", devices.size() - 1,
                static_cast<void*>(device), added.opened ? 1 : 0, added.reportIntervalUs,
                added.displayName().c_str());
  }
  if (!added.opened) {
    setErrorLocked(deviceStatus(result), result);
    devices.back().openError = lastError;
  } else if (lastError.status == HIDStatus::PermissionDenied ||
             lastError.status == HIDStatus::DeviceError) {
    lastError = HIDError{};
    reportErrorLatched.store(false);
  }
  if (!selectionHeld) reselectLocked();
}

void HIDMonitor::Impl::handleDeviceRemoved(HIDDeviceRef device) {
  std::unique_ptr<DeviceContext> context;
  {
    std::lock_guard<std::mutex> lock(mutex);
    size_t i = 0;
    while (i < devices.size() && devices[i].device != device) ++i;
    if (i == devices.size()) {
      hidDebugLog("remove: ref=%p **没有任何条目命中**（残留条目数=%zu）",
                  static_cast<void*>(device), devices.size());
      return;
    }
    if (hidDebugLogEnabled()) {
      hidDebugLog("remove: idx=%zu ref=%p 命中 name=\"%s\"", i, static_cast<void*>(device),
                  devices[i].displayName().c_str());
      const uint64_t dropped = contexts[i]->droppedReports.load();
      if (dropped > 0) {
        hidDebugLog("remove: idx=%zu 内核丢弃报告累计=%llu 次 (SYN_DROPPED)", i,
                    static_cast<unsigned long long>(dropped));
      }
    }
    departed.push_back(std::move(devices[i]));
    departed.back().device = nullptr;  // the handle dies with the removal
    if (departed.size() > kDepartedKept) departed.pop_front();
    devices.erase(devices.begin() + static_cast<std::ptrdiff_t>(i));
    context = std::move(contexts[i]);
    contexts.erase(contexts.begin() + static_cast<std::ptrdiff_t>(i));
    const int32_t selected = selectedIndex.load();
    if (selected == static_cast<int32_t>(i)) {
      if (selectionHeld) {
        selectedIndex.store(-1);
        syncSelectedLocked();
      } else {
        reselectLocked();
      }
    } else if (selected > static_cast<int32_t>(i)) {
      selectedIndex.store(selected - 1);
      syncSelectedLocked();
    }
  }
  device->close();
}

void HIDMonitor::Impl::inputReportCallback(void* context, const Result& result, void*, uint32_t,
                                           uint32_t reportID, uint8_t* report, size_t reportLength,
                                           uint64_t timeStamp) {
  auto* ctx = static_cast<DeviceContext*>(context);
  if (ctx == nullptr || ctx->owner == nullptr) return;
  Impl* owner = ctx->owner;
  if (result.kind == ResultKind::Overrun) {
    owner->noteDroppedReport(*ctx);
    return;
  }
  if (!result.ok()) {
    owner->noteReportError(result);
    owner->passReportError(*ctx, result);
    return;
  }
  owner->deliveringSerial = ctx->serial;
  owner->route(ctx, reportID, report, reportLength, owner->machToSteady(timeStamp));
}

void HIDMonitor::Impl::noteReportError(const Result& result) {
  // A device closed or unplugged underneath is not the user's problem.
  if (result.kind == ResultKind::Gone) return;
  if (reportErrorLatched.exchange(true)) return;
  std::lock_guard<std::mutex> lock(mutex);
  setErrorLocked(deviceStatus(result), result);
}

// Under the rule of reports: a test runs and it is the selected mouse.
void HIDMonitor::Impl::passReportError(const DeviceContext& context, const Result& result) {
  if (result.kind == ResultKind::Gone || !reportErrorCallback ||
      !monitoring.load(std::memory_order_relaxed) ||
      selectedContext.load(std::memory_order_acquire) != &context) {
    return;
  }
  reportErrorCallback(HIDError{deviceStatus(result), result.code, result.text});
}

void HIDMonitor::Impl::noteDroppedReport(DeviceContext& context) {
  const uint64_t count = context.droppedReports.fetch_add(1, std::memory_order_relaxed) + 1;
  // Each line carries the running total, so the lines held back lose nothing.
  if (hidDebugLogEnabled() && overflowLines.allow(std::chrono::steady_clock::now())) {
    hidDebugLog("drop: ctx=%p 内核缓冲区溢出 (SYN_DROPPED)，报告已丢失，累计=%llu",
                static_cast<void*>(&context), static_cast<unsigned long long>(count));
  }
  routeKernelDrop(&context);
}

void HIDMonitor::Impl::fixClockOffset() {
  const int64_t steadyNow = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::chrono::steady_clock::now().time_since_epoch())
                                .count();
  const uint64_t hostNow = service->hostTime();
  timebase_ = service->timebase();
  clockOffsetNs_ = hostClockOffsetNs(steadyNow, hostNow, timebase_);
}

std::chrono::steady_clock::time_point HIDMonitor::Impl::machToSteady(uint64_t hostTime) {
  std::call_once(clockOnce_, [this] { fixClockOffset(); });
  return std::chrono::steady_clock::time_point(
      std::chrono::nanoseconds(clockOffsetNs_ + hostToNs(hostTime, timebase_)));
}

// --- HIDMonitor ---

namespace {

std::vector<HIDDeviceInfo> copyDevicesLocked(const HIDMonitor::Impl& impl) {
  std::vector<HIDDeviceInfo> copy = impl.devices;
  for (size_t i = 0; i < copy.size() && i < impl.contexts.size(); ++i) {
    copy[i].droppedReports = impl.contexts[i]->droppedReports.load(std::memory_order_relaxed);
  }
  return copy;
}

}  // namespace

HIDMonitor::HIDMonitor() : HIDMonitor(hidservice::processService()) {}

HIDMonitor::HIDMonitor(std::shared_ptr<hidservice::Service> service)
    : impl_(std::make_unique<Impl>(std::move(service))) {}

HIDMonitor::~HIDMonitor() { impl_->stop(); }

void HIDMonitor::start() { impl_->start(); }

void HIDMonitor::stop() { impl_->stop(); }

void HIDMonitor::waitForHIDThread() { impl_->sync(); }

std::vector<HIDDeviceInfo> HIDMonitor::getMouseDevices() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return copyDevicesLocked(*impl_);
}

HIDMonitor::DeviceSelection HIDMonitor::getDevicesAndSelection() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  DeviceSelection s;
  s.devices = copyDevicesLocked(*impl_);
  s.selected = impl_->selectedIndex.load();
  return s;
}

std::optional<HIDDeviceInfo> HIDMonitor::findDevice(uint64_t serial) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  for (const HIDDeviceInfo& d : impl_->devices)
    if (d.serial == serial) return d;
  for (const HIDDeviceInfo& d : impl_->departed)
    if (d.serial == serial) return d;
  return std::nullopt;
}

uint64_t HIDMonitor::deliveringDeviceSerial() const { return impl_->deliveringSerial; }

HIDError HIDMonitor::getLastError() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->lastError;
}

int HIDMonitor::getSelectedDeviceIndex() const { return impl_->selectedIndex.load(); }

void HIDMonitor::setSelectedDeviceIndex(int index) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  if (index < 0 || static_cast<size_t>(index) >= impl_->devices.size()) index = -1;
  impl_->selectedIndex.store(index);
  impl_->syncSelectedLocked();
}

void HIDMonitor::holdSelection(bool held) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->selectionHeld = held;
}

void HIDMonitor::setMonitoring(bool on) { impl_->monitoring.store(on, std::memory_order_relaxed); }

bool HIDMonitor::isMonitoring() const { return impl_->monitoring.load(std::memory_order_relaxed); }

void HIDMonitor::setReportCallback(
    std::function<void(std::chrono::steady_clock::time_point, const ReportMotion&)> callback) {
  impl_->reportCallback = std::move(callback);
}

void HIDMonitor::setButtonCallback(
    std::function<void(std::chrono::steady_clock::time_point, uint16_t, int32_t)> callback) {
  impl_->buttonCallback = std::move(callback);
}

void HIDMonitor::setKernelDropCallback(std::function<void()> callback) {
  impl_->kernelDropCallback = std::move(callback);
}

void HIDMonitor::setReportErrorCallback(std::function<void(const HIDError&)> callback) {
  impl_->reportErrorCallback = std::move(callback);
}

PermissionStatus HIDMonitor::permissionStatus() {
  return hidservice::processService()->checkAccess();
}

bool HIDMonitor::requestPermission() {
  const std::shared_ptr<hidservice::Service> service = hidservice::processService();
  service->requestAccess();
  return service->checkAccess() == PermissionStatus::Granted;
}
