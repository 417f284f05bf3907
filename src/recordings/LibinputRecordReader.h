#pragma once

#include <yaml.h>

#include <array>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "recordings/FrameBuilder.h"
#include "recordings/InputFile.h"
#include "recordings/Recording.h"

namespace recordings {

// Reads a `libinput record` YAML file with libyaml's event parser, so memory
// grows with the reports kept, not with the file: `devices[]`, each with its
// `evdev` description (name, id, codes) and its `events`, whose `evdev` rows
// [sec, usec, type, code, value] end each frame at SYN_REPORT. Keys the
// format does not define are skipped, as it asks. Only the chosen device's
// events are kept: the one asked for, else the first with REL_X or REL_Y.
// The `system` section's kernel is kept too. One read per reader; any thread.
class LibinputRecordReader {
 public:
  LibinputRecordReader(InputFile& file, const ReadOptions& options);
  ~LibinputRecordReader();
  LibinputRecordReader(const LibinputRecordReader&) = delete;
  LibinputRecordReader& operator=(const LibinputRecordReader&) = delete;

  Recording read();

 private:
  struct Device {
    int index = 0;
    std::string name;
    bool declaresRel = false;                  // its codes list REL_X or REL_Y
    std::optional<std::array<int32_t, 4>> id;  // bus type, vendor, product, version
    std::optional<FrameBuilder> frames;        // only for a device that may be chosen
  };

  static int readSome(void* self, unsigned char* buffer, size_t size, size_t* got);
  void next();
  [[noreturn]] void fail(const yaml_mark_t& at, const std::string& reason) const;
  void expect(yaml_event_type_t type, const char* reason) const;
  // Reads the key of the mapping being read, or false at its end.
  bool nextKey(std::string& key);
  void skipNode();
  std::string_view scalarText() const;
  int64_t integer(int64_t low, int64_t high);

  void readRoot();
  void readDevices();
  void readDevice(int index);
  void finishDevice(Device& d, const yaml_mark_t& at);
  void readSystem();
  void readDescription(Device& d);
  void readId(Device& d);
  void readCodes(Device& d);
  void readEvents(Device& d);
  void readFrameRows(FrameBuilder& frames);
  void readRow(FrameBuilder& frames);

  InputFile& file_;
  ReadOptions options_;
  yaml_parser_t parser_{};
  yaml_event_t event_{};
  bool haveEvent_ = false;
  std::exception_ptr readError_;
  int devices_ = 0;
  yaml_mark_t devicesAt_{};
  std::optional<Recording> chosen_;
  std::string kernel_;  // the system section's
};

}  // namespace recordings
