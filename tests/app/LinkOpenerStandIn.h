#pragma once

// Links start real processes: a stand-in xdg-open, found first in PATH while
// the object lives, records the arguments it was given.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include "TestFiles.h"
#include "app/ProcessLaunch.h"

// Waits for every started child; the launcher's own list forgets them on
// its next reap.
inline void waitForChildren() {
  while (waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
  }
  reapChildren();
}

class LinkOpenerStandIn {
 public:
  LinkOpenerStandIn() : out_(dir_.path() + "/args"), oldPath_(std::getenv("PATH")) {
    const std::string script = dir_.path() + "/xdg-open";
    std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"$QM_LINK_OUT\"\n";
    chmod(script.c_str(), 0755);
    setenv("PATH", (dir_.path() + ":" + oldPath_).c_str(), 1);
    setenv("QM_LINK_OUT", out_.c_str(), 1);
  }
  ~LinkOpenerStandIn() { setenv("PATH", oldPath_.c_str(), 1); }
  LinkOpenerStandIn(const LinkOpenerStandIn&) = delete;
  LinkOpenerStandIn& operator=(const LinkOpenerStandIn&) = delete;

  // Where the stand-in writes its argument count, then each argument, one a line.
  const std::string& out() const { return out_; }

 private:
  TempDir dir_;
  std::string out_;
  std::string oldPath_;
};
