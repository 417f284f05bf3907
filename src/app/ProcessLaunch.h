#pragma once

#include <string>
#include <vector>

// Starting other programs without a shell. Main thread only.

// Starts `program` (looked up in PATH) with `args` as its arguments after
// argv[0], without waiting for it. On failure, error holds the reason.
bool spawnProgram(const char* program, const std::vector<std::string>& args, std::string& error);

// Starts a new process running `exe` with `argv` (argv[0] included) and the
// current environment, by fork and exec. Returns true once the exec has
// succeeded; on failure error holds the reason and no process is left.
bool launchInstance(const std::string& exe, const std::vector<std::string>& argv,
                    std::string& error);

// The arguments this process was started with, for a restart.
void setLaunchArguments(int argc, char** argv);

// A new instance of this program, with the arguments it was started with.
bool relaunchSelf(std::string& error);

// Collects the exit status of started programs that have ended, so they do
// not linger as zombies. Never waits.
void reapChildren();
