#include <cstdio>
#include <cstdlib>

#include "hid/service/HIDService.h"
#include "hid/service/LinuxHIDService.h"
#include "hid/service/VirtualHIDService.h"
#include "i18n/Translate.h"

namespace hidservice {

namespace {

std::shared_ptr<Service> makeProcessService() {
  // The window's monitor is a global, made before main() chooses the
  // language: its warnings about TAVO_VIRTUAL_MICE speak the user's language
  // all the same.
  if (!i18n::languageChosen()) i18n::initTranslation(i18n::languageFromEnvironment());
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
