// `measure --out/--repeat/--label`: tests one after another, each saved as a
// result folder the way the window saves one, so that `compare` can read them.
#include <chrono>
#include <thread>

#include "app/ResultFolder.h"
#include "cli/MeasureRun.h"
#include "hid/HIDMonitor.h"
#include "i18n/Translate.h"
#include "results/IntervalPlot.h"
#include "results/IntervalsCsv.h"
#include "results/ResultJson.h"
#include "results/TextFormat.h"

namespace cli {

namespace {

using namespace std::chrono_literals;

// Time to put the hand back on the mouse between two tests.
constexpr int kCountdownSeconds = 3;
constexpr auto kStopPoll = 50ms;

bool stopRequested(const Console& c) { return c.stopRequested && c.stopRequested(); }

// The folder's name: the label first, so that `compare LABEL*` finds a
// setup's runs, then the run's number and the window's name.
std::string folderName(const results::TestRecord& r, const MeasureOptions& o, int run) {
  std::string out = o.label.empty() ? std::string() : o.label + "_";
  if (o.repeat > 1) out += std::to_string(run) + "_";
  return out + resultFolderName(std::chrono::system_clock::now(), r.device.name, r.device.portPath);
}

// The window's three files (its dashboard.png has no terminal counterpart).
int saveFolder(const results::TestRecord& r, const MeasureOptions& o, int run, const Console& c) {
  ResultFolder folder(o.outDir.value_or("."));
  std::string why = folder.error();
  if (folder.ok()) {
    results::WriteResult w = results::writeResultJson(r, folder.file("result.json"));
    if (w) w = results::writeIntervalsCsv(r, folder.file("intervals.csv"));
    if (w) w = results::writeIntervalPlot(results::plottedRecord(r), folder.file("intervals.svg"));
    if (!w) why = w.error;
    if (w && folder.commit(folderName(r, o, run))) {
      std::fprintf(c.err, i18n::tr("已保存到 %s\n"), results::pathText(folder.path()).c_str());
      return kExitOk;
    }
    if (w) why = folder.error();
  }
  std::fprintf(c.err, i18n::tr("quillmark: 没有保存结果：%s\n"), why.c_str());
  return kExitFileError;
}

// "第 2/3 次：3 秒后开始，请移动鼠标", counting down on a terminal; false on a stop.
bool countdown(int run, const MeasureOptions& o, const Console& c) {
  for (int left = kCountdownSeconds; left > 0; --left) {
    if (c.liveLine || left == kCountdownSeconds) {
      if (c.liveLine) std::fputs("\r", c.err);
      std::fprintf(c.err, i18n::tr("第 %d/%d 次：%d 秒后开始，请移动鼠标"), run, o.repeat, left);
      std::fputs(c.liveLine ? "\033[K" : "\n", c.err);
      std::fflush(c.err);
    }
    const auto until = std::chrono::steady_clock::now() + 1s;
    while (std::chrono::steady_clock::now() < until) {
      if (stopRequested(c)) {
        if (c.liveLine) std::fputs("\r\033[K", c.err);
        return false;
      }
      std::this_thread::sleep_for(kStopPoll);
    }
  }
  if (c.liveLine) std::fputs("\r\033[K", c.err);
  return true;
}

void sayKept(int saved, const Console& c) {
  std::fprintf(c.err, i18n::tr("已停止：保留已完成的 %d 次测试。\n"), saved);
}

}  // namespace

int runMeasureSeries(const MeasureOptions& o,
                     const std::function<std::unique_ptr<HIDMonitor>()>& makeMonitor,
                     const Console& c) {
  // Whether the folders can be written is known before the first test.
  if (const ResultFolder probe(o.outDir.value_or(".")); !probe.ok()) {
    std::fprintf(c.err, i18n::tr("quillmark: 没有保存结果：%s\n"), probe.error().c_str());
    return kExitFileError;
  }
  int saved = 0, status = kExitOk;
  for (int run = 1; run <= o.repeat; ++run) {
    if (run > 1 && !countdown(run, o, c)) {
      sayKept(saved, c);
      return status;
    }
    if (o.repeat > 1) std::fprintf(c.err, i18n::tr("第 %d/%d 次\n"), run, o.repeat);
    bool finished = false;
    const std::unique_ptr<HIDMonitor> monitor = makeMonitor();
    const int ran = runMeasure(o, *monitor, c, [&](const results::TestRecord& r) -> int {
      // A test cut short is not one of the setup's runs.
      finished = r.end == results::TestEnd::Completed;
      if (!finished) {
        std::fprintf(c.err, i18n::tr("第 %d 次测试没有完成，没有保存。\n"), run);
        return kExitOk;
      }
      return saveFolder(r, o, run, c);
    });
    if (ran != kExitOk && (status == kExitOk || ran == kExitFileError)) status = ran;
    if (!finished) {
      if (run > 1 || stopRequested(c)) sayKept(saved, c);
      return status;
    }
    ++saved;
    if (ran == kExitFileError) return status;
  }
  return status;
}

}  // namespace cli
