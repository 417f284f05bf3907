#include <cstdio>
#include <cstdlib>

#include "hid/service/HIDService.h"
#include "hid/service/LinuxHIDService.h"
#include "hid/service/VirtualHIDService.h"

namespace hidservice {

namespace {

std::shared_ptr<Service> makeProcessService() {
  if (auto mice = selectVirtualMice(std::getenv("TAVO_VIRTUAL_MICE"), stderr)) {
    return std::make_shared<VirtualHIDService>(*mice);
  }
  return std::make_shared<LinuxHIDService>();
}

}  // namespace

std::shared_ptr<Service> processService() {
  static const std::shared_ptr<Service> service = makeProcessService();
  return service;
}

}  // namespace hidservice
