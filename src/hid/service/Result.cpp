#include "hid/service/Result.h"

namespace hidservice {

const Result& successResult() {
  static const Result kSuccess;
  return kSuccess;
}

const Result& overrunResult() {
  static const Result kOverrun{ResultKind::Overrun, 0, {}};
  return kOverrun;
}

}  // namespace hidservice
