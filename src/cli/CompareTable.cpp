#include "cli/CompareTable.h"

#include <algorithm>

#include "i18n/Translate.h"
#include "results/TextFormat.h"

namespace cli {

namespace {

using nlohmann::json;

std::optional<double> numberAt(const json& j, const char* pointer) {
  const json::json_pointer p(pointer);
  if (!j.contains(p) || !j.at(p).is_number()) return std::nullopt;
  return j.at(p).get<double>();
}

struct Row {
  const char* label;
  const char* text = nullptr;  // a text row: its pointer
  std::optional<double> (*value)(const json&) = nullptr;
  const char* format = "%.1f";
};

const Row kRows[] = {
    {i18n::trNoop("设备"), "/device/name"},
    {i18n::trNoop("端口"), "/environment/usb_port_path"},
    {i18n::trNoop("总线速率 Mb/s"), nullptr,
     [](const json& j) { return numberAt(j, "/environment/bus_speed_mbps"); }, "%g"},
    {i18n::trNoop("设定回报率 Hz"), nullptr,
     [](const json& j) { return numberAt(j, "/device/configured_hz"); }, "%.0f"},
    {i18n::trNoop("移动回报率 Hz"), nullptr,
     [](const json& j) { return runFigure(j, "moving_rate_hz"); }},
    {i18n::trNoop("间隔 p50 µs"), nullptr,
     [](const json& j) { return runFigure(j, "interval_us/p50"); }},
    {i18n::trNoop("间隔 p99 µs"), nullptr,
     [](const json& j) { return runFigure(j, "interval_us/p99"); }},
    {i18n::trNoop("间隔 p99.9 µs"), nullptr,
     [](const json& j) { return runFigure(j, "interval_us/p99_9"); }},
    {i18n::trNoop("间隔最大 µs"), nullptr,
     [](const json& j) { return runFigure(j, "interval_us/max"); }},
    {i18n::trNoop("缺失报告 ‰"), nullptr,
     [](const json& j) -> std::optional<double> {
       const auto missed = runFigure(j, "missed_slots");
       const double reports = runFigure(j, "reports").value_or(0);
       if (!missed || reports <= 0) return std::nullopt;
       return 1000.0 * *missed / reports;
     },
     "%.2f"},
    {i18n::trNoop("内核丢弃"), nullptr, [](const json& j) { return runFigure(j, "kernel_drops"); },
     "%.0f"},
    {i18n::trNoop("网格偏差 p99 µs"), nullptr,
     [](const json& j) { return runFigure(j, "lateness_us/p99"); }},
};

// Four setups and the labels fit in 100 columns.
constexpr int kCellWidth = 19;

std::string formatted(const char* format, double x) {
  std::string out;
  results::appendFormat(out, format, x);
  return out;
}

// One run: its figure; several: their median and range.
std::string numberCell(const Row& row, const SetupView& s) {
  std::vector<double> x;
  for (const CompareRunView* r : s.runs) {
    if (const std::optional<double> v = row.value(*r->result)) x.push_back(*v);
  }
  if (x.empty()) return "—";
  if (s.runs.size() == 1) return formatted(row.format, x.front());
  std::sort(x.begin(), x.end());
  const std::size_t n = x.size();
  const double median = n % 2 == 1 ? x[n / 2] : (x[n / 2 - 1] + x[n / 2]) / 2;
  std::string out = formatted("%.4g", median);
  if (x.front() != x.back())
    out += " (" + formatted("%.4g", x.front()) + "–" + formatted("%.4g", x.back()) + ")";
  return out;
}

std::string textCell(const Row& row, const SetupView& s) {
  const std::string first = resultText(*s.runs.front()->result, row.text);
  return first.empty() ? "—" : first;
}

// Cut to the column; cells that the cut would make alike keep their ends instead.
void fitRow(std::vector<std::string>& cells) {
  std::vector<std::string> cut;
  for (const std::string& c : cells) cut.push_back(results::cutToColumns(c, kCellWidth));
  for (std::size_t i = 0; i < cells.size(); ++i) {
    for (std::size_t j = 0; j < cells.size(); ++j) {
      if (i == j || cut[i] != cut[j] || cells[i] == cells[j]) continue;
      std::string tail = cells[i];
      while (results::displayColumns(tail) > kCellWidth - 1) {
        std::size_t k = 1;
        while (k < tail.size() && (static_cast<unsigned char>(tail[k]) & 0xC0) == 0x80) ++k;
        tail.erase(0, k);
      }
      cut[i] = "…" + tail;
    }
  }
  cells = cut;
}

void appendCell(std::string& out, const std::string& text, int width) {
  out += text;
  out.append(static_cast<std::size_t>(std::max(0, width - results::displayColumns(text))) + 2, ' ');
}

}  // namespace

std::string resultText(const json& result, const char* pointer) {
  const json::json_pointer p(pointer);
  return result.contains(p) && result.at(p).is_string()
             ? results::plainText(result.at(p).get<std::string>())
             : std::string();
}

std::string compareTable(const std::vector<SetupView>& setups) {
  std::vector<std::vector<std::string>> lines;
  lines.push_back({""});
  for (const SetupView& s : setups)
    lines[0].push_back(s.label.empty() ? s.letter : s.letter + " " + s.label);
  const bool repeats = std::any_of(setups.begin(), setups.end(),
                                   [](const SetupView& s) { return s.runs.size() > 1; });
  if (repeats) {
    lines.push_back({i18n::tr("运行")});
    for (const SetupView& s : setups) lines.back().push_back(std::to_string(s.runs.size()));
  }
  for (const Row& row : kRows) {
    std::vector<std::string> cells;
    for (const SetupView& s : setups)
      cells.push_back(row.text != nullptr ? textCell(row, s) : numberCell(row, s));
    fitRow(cells);
    cells.insert(cells.begin(), i18n::tr(row.label));
    lines.push_back(cells);
  }
  fitRow(lines[0]);
  std::vector<int> widths(setups.size() + 1, 0);
  for (const auto& line : lines) {
    for (std::size_t i = 0; i < line.size(); ++i)
      widths[i] = std::max(widths[i], results::displayColumns(line[i]));
  }
  std::string out;
  for (const auto& line : lines) {
    for (std::size_t i = 0; i < line.size(); ++i) appendCell(out, line[i], widths[i]);
    while (!out.empty() && out.back() == ' ') out.pop_back();
    out += '\n';
  }
  return out;
}

nlohmann::ordered_json runCells(const json& result) {
  nlohmann::ordered_json out;
  const CompareRunView view{"", &result, nullptr};
  SetupView one;
  one.runs = {&view};
  for (const Row& row : kRows)
    out[row.label] = row.text != nullptr ? textCell(row, one) : numberCell(row, one);
  return out;
}

std::string causeText(const json& result, bool recomputed) {
  if (recomputed) {
    const std::string text = resultText(result, "/whole_test/cause/text");
    if (!text.empty()) return text;
  }
  const std::string kind = resultText(result, "/whole_test/cause/kind");
  if (kind == "reached") return i18n::tr("达到目标回报率");
  if (kind == "speed_limited") return i18n::tr("手速不足以判断");
  if (kind == "kernel_drops") return i18n::tr("内核丢弃了报告：读取跟不上");
  if (kind == "device_limited") return i18n::tr("鼠标或其连接未达到目标");
  if (kind == "host_limited") return i18n::tr("主机限制了回报率");
  if (kind == "no_motion_data") return i18n::tr("没有带 X/Y 移动的报告");
  if (kind == "too_short") return i18n::tr("测试太短，无法判断");
  return "—";
}

}  // namespace cli
