#pragma once

#include <chrono>
#include <string>

#include "results/FileWriter.h"

// A folder of result files that appears under its final name whole or not
// at all: the files are written into a hidden temporary folder next to it,
// which commit() renames; until then (and when anything fails) the
// destructor removes the temporary folder and what is in it. Main thread;
// one object per save.
class ResultFolder {
 public:
  // Creates `parent` (and its missing parents) and the temporary folder in
  // it; check ok(), else error() says why.
  explicit ResultFolder(const std::string& parent);
  ~ResultFolder();
  ResultFolder(const ResultFolder&) = delete;
  ResultFolder& operator=(const ResultFolder&) = delete;

  bool ok() const { return !temp_.empty(); }
  const std::string& error() const { return error_; }
  // Where to write a file that should end up in the folder.
  std::string file(const std::string& name) const { return temp_ + "/" + name; }
  // The hidden temporary folder, while there is one.
  const std::string& tempPath() const { return temp_; }

  // Renames the temporary folder to parent/name, or parent/name_2, _3, ...
  // when that exists. Returns false with error() set when it cannot.
  bool commit(const std::string& name);
  const std::string& path() const { return final_; }  // after a successful commit

 private:
  std::string parent_;
  std::string temp_;
  std::string final_;
  std::string error_;
};

// "<date>_<time>_<device>_<port>", e.g. "2026-12-07_103205_Halden_Corvid_Pro_USB_3-1.4":
// local time; the device name with everything but letters, digits, '.', '-'
// and '_' made into "_" (no name needs quoting in a shell), cut at a word gap;
// "mouse" without one; the USB port when there is one, so two mice of one
// model differ.
std::string resultFolderName(std::chrono::system_clock::time_point when, const std::string& device,
                             const std::string& port = {});

using results::errnoText;
