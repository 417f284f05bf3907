#include "app/SaveResult.h"

#include "app/ResultFolder.h"
#include "results/IntervalPlot.h"
#include "results/IntervalsCsv.h"
#include "results/ResultJson.h"

namespace {

// The terminal meter's three files, by the same writers.
bool writeResultFiles(const results::TestRecord& record, const ResultFolder& folder,
                      std::string& reason) {
  results::WriteResult r = results::writeResultJson(record, folder.file("result.json"));
  if (r) r = results::writeIntervalsCsv(record, folder.file("intervals.csv"));
  if (r)
    r = results::writeIntervalPlot(results::plottedRecord(record), folder.file("intervals.svg"));
  if (!r) reason = r.error;
  return r.ok;
}

// The temporary folder is gone once the save fails: a reason names the
// folder the user would have got instead.
std::string inFinalFolder(std::string reason, const std::string& temp, const std::string& final) {
  for (size_t at = reason.find(temp); !temp.empty() && at != std::string::npos;
       at = reason.find(temp, at + final.size())) {
    reason.replace(at, temp.size(), final);
  }
  return reason;
}

}  // namespace

SaveOutcome saveResultFolder(const results::TestRecord& record, const PixelImage& window,
                             const std::string& documents,
                             std::chrono::system_clock::time_point now) {
  SaveOutcome out;
  ResultFolder folder(documents + "/Quillmark");
  if (!folder.ok()) {
    out.reason = folder.error();
    return out;
  }
  if (!writeResultFiles(record, folder, out.reason) ||
      !writePng(folder.file("dashboard.png"), window, out.reason)) {
    out.reason =
        inFinalFolder(out.reason, folder.tempPath(),
                      documents + "/Quillmark/" + resultFolderName(now, record.device.name));
    return out;
  }
  if (!folder.commit(resultFolderName(now, record.device.name))) {
    out.reason = folder.error();
    return out;
  }
  out.ok = true;
  out.folder = folder.path();
  return out;
}
