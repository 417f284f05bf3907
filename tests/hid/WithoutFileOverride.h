#pragma once

// Root reads any file; to see a refused open, the constructing thread (and
// every thread it starts while the object lives) gives up the capabilities
// that bypass file modes. They come back when the object goes.
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

class WithoutFileOverride {
 public:
  WithoutFileOverride() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    if (syscall(SYS_capget, &header, saved_) != 0) return;
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    active_ = syscall(SYS_capset, &header, reduced) == 0;
  }
  ~WithoutFileOverride() {
    if (!active_) return;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    syscall(SYS_capset, &header, saved_);
  }
  WithoutFileOverride(const WithoutFileOverride&) = delete;
  WithoutFileOverride& operator=(const WithoutFileOverride&) = delete;

 private:
  __user_cap_data_struct saved_[2]{};
  bool active_ = false;
};
