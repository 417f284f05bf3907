#include "app/WindowVerdict.h"

#include <algorithm>
#include <chrono>
#include <future>

#include "app/WindowSave.h"
#include "dashboard/DashboardState.h"

namespace {

// The shortest time between two judgements; a long test, whose analysis
// takes longer, waits ten times the last one's time instead, so judging
// never takes more than a tenth of a core from the reading thread (a
// ten-minute 8 kHz test takes about a quarter of a second to judge).
constexpr double kMinPeriodSeconds = 0.5;
constexpr double kMaxCoreShare = 0.1;

struct Judged {
  results::TestVerdict verdict;
  double seconds = 0;  // how long the judgement took
};

std::future<Judged> s_job;
unsigned s_jobGeneration = 0;
unsigned s_generation = 0;
std::size_t s_judgedReports = 0;
int s_judgedTarget = -1;  // the window's target choice judged against; -1 its own
double s_nextAt = 0;
std::optional<results::TestVerdict> s_shown;

bool jobFinished() {
  return s_job.valid() && s_job.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

void takeFinished(double now) {
  if (!jobFinished()) return;
  const Judged j = s_job.get();
  if (s_jobGeneration != s_generation) return;
  s_shown = j.verdict;
  s_nextAt = now + std::max(kMinPeriodSeconds, j.seconds / kMaxCoreShare);
}

// The target the user picked in the window, or -1 while it follows the mouse.
int targetChoice() {
  const dashboard::DashboardState& st = dashboard::dashboardState();
  return st.targetPicked ? st.targetIndex : -1;
}

void startJob() {
  PendingRecord p = pendingRecord();
  s_judgedReports = g_stamps.count();
  s_judgedTarget = targetChoice();
  s_jobGeneration = s_generation;
  s_job = std::async(std::launch::async, [p = std::move(p)]() mutable {
    const auto t0 = std::chrono::steady_clock::now();
    results::completeRecord(p.record, p.picked, results::TargetSource::Window);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - t0;
    return Judged{p.record.derived->whole.test, took.count()};
  });
}

// Reports or a target not judged yet, and no judgement under way.
bool judgementWanted(bool testActive) {
  if (!testActive || s_job.valid() || g_stamps.count() == 0) return false;
  return g_stamps.count() != s_judgedReports || targetChoice() != s_judgedTarget || !s_shown;
}

}  // namespace

void refreshWindowVerdict(double now, bool testActive) {
  takeFinished(now);
  if (judgementWanted(testActive) && now >= s_nextAt) startJob();
}

double windowVerdictDueAt(double now, bool testActive) {
  if (jobFinished()) return now;
  if (judgementWanted(testActive)) return std::max(now, s_nextAt);
  return 1e300;
}

const std::optional<results::TestVerdict>& windowVerdict() { return s_shown; }

void resetWindowVerdict() {
  ++s_generation;
  s_shown.reset();
  s_judgedReports = 0;
  s_nextAt = 0;
}
