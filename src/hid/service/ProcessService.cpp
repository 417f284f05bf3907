#include <cstdio>
#include <cstdlib>

#include "hid/service/HidService.h"
#include "hid/service/LinuxHidService.h"
#include "hid/service/VirtualHidService.h"

namespace hidservice {

namespace {

std::shared_ptr<Service> makeProcessService() {
  if (auto mice = selectVirtualMice(std::getenv("TAVO_VIRTUAL_MICE"), stderr)) {
    return std::make_shared<VirtualHidService>(*mice);
  }
  return std::make_shared<LinuxHidService>();
}

}  // namespace

std::shared_ptr<Service> processService() {
  static const std::shared_ptr<Service> service = makeProcessService();
  return service;
}

}  // namespace hidservice
