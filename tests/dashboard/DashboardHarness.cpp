#include "DashboardHarness.h"

#include <imgui_internal.h>

#include <algorithm>
#include <cstdio>

#include "dashboard/DashboardState.h"
#include "dashboard/LayoutRecord.h"

namespace dashboard::testing {

Harness::Harness(ImVec2 windowSize) : size_(windowSize), imgui_(windowSize) { setUp(FontConfig{}); }

Harness::Harness(ImVec2 windowSize, const FontConfig& fonts)
    : size_(windowSize), imgui_(windowSize) {
  setUp(fonts);
}

void Harness::setUp(const FontConfig& fonts) {
  dashboard::init(fonts);
  recordLayout(true);
  // Without anti-aliasing a filled shape's vertices are exactly its outline.
  ImGui::GetStyle().AntiAliasedFill = false;
  ImGui::GetStyle().AntiAliasedLines = false;
  detail::resetState();
  // A new window is hidden in its first frame while it measures itself.
  frame(UiState{});
  frame(UiState{});
}

UiActions Harness::frame(const UiState& ui) {
  ImGui::NewFrame();
  UiActions actions = dashboard::draw(ui);
  ImGui::Render();
  return actions;
}

std::string Harness::text(const UiState& ui) {
  ImGui::NewFrame();
  ImGui::LogToBuffer();
  dashboard::draw(ui);
  std::string out = GImGui->LogBuffer.c_str();
  ImGui::LogFinish();
  ImGui::Render();
  return out;
}

namespace {

void merge(UiActions& into, const UiActions& a) {
  into.startPressed |= a.startPressed;
  into.pausePressed |= a.pausePressed;
  into.resetPressed |= a.resetPressed;
  if (a.selectDevice >= 0) into.selectDevice = a.selectDevice;
  if (a.alertAction >= 0) into.alertAction = a.alertAction;
  if (!a.openUrl.empty()) into.openUrl = a.openUrl;
  into.savePressed |= a.savePressed;
  if (!a.openFolder.empty()) into.openFolder = a.openFolder;
  into.showButtonsPage |= a.showButtonsPage;
}

}  // namespace

void clickAt(ImVec2 pos, const std::function<void()>& frame) {
  ImGuiIO& io = ImGui::GetIO();
  io.AddMousePosEvent(pos.x, pos.y);
  frame();
  io.AddMouseButtonEvent(0, true);
  frame();
  io.AddMouseButtonEvent(0, false);
  frame();
  // Popups appear a frame later and are measured in their first frame.
  frame();
  frame();
}

UiActions Harness::click(const UiState& ui, ImVec2 pos) {
  UiActions all;
  clickAt(pos, [&] { merge(all, frame(ui)); });
  return all;
}

std::vector<ImVec2> Harness::verticesOf(ImU32 col) const {
  std::vector<ImVec2> out;
  const ImGuiWindow* root = ImGui::FindWindowByName("##root");
  if (!root) return out;
  for (const ImDrawVert& v : root->DrawList->VtxBuffer)
    if (v.col == col) out.push_back(v.pos);
  return out;
}

namespace {

int findRoot(std::vector<int>& parent, int i) {
  while (parent[i] != i) i = parent[i] = parent[parent[i]];
  return i;
}

}  // namespace

// Each primitive of a draw list is a set of triangles that share vertices and
// shares none with other primitives, so shapes are the connected components.
std::vector<Box> Harness::boxesOf(ImU32 col) const {
  std::vector<Box> boxes;
  const ImGuiWindow* root = ImGui::FindWindowByName("##root");
  if (!root) return boxes;
  const ImDrawList& dl = *root->DrawList;
  std::vector<int> parent(static_cast<size_t>(dl.VtxBuffer.Size));
  for (size_t i = 0; i < parent.size(); ++i) parent[i] = static_cast<int>(i);
  std::vector<bool> used(parent.size(), false);
  for (const ImDrawCmd& cmd : dl.CmdBuffer) {
    for (unsigned e = 0; e + 2 < cmd.ElemCount; e += 3) {
      int v[3];
      for (int k = 0; k < 3; ++k)
        v[k] =
            static_cast<int>(cmd.VtxOffset + dl.IdxBuffer[static_cast<int>(cmd.IdxOffset + e) + k]);
      if (dl.VtxBuffer[v[0]].col != col || dl.VtxBuffer[v[1]].col != col ||
          dl.VtxBuffer[v[2]].col != col)
        continue;
      for (int k = 0; k < 3; ++k) used[static_cast<size_t>(v[k])] = true;
      parent[static_cast<size_t>(findRoot(parent, v[1]))] = findRoot(parent, v[0]);
      parent[static_cast<size_t>(findRoot(parent, v[2]))] = findRoot(parent, v[0]);
    }
  }
  std::vector<int> boxOfRoot(parent.size(), -1);
  for (size_t i = 0; i < parent.size(); ++i) {
    if (!used[i]) continue;
    const ImVec2 p = dl.VtxBuffer[static_cast<int>(i)].pos;
    int& b = boxOfRoot[static_cast<size_t>(findRoot(parent, static_cast<int>(i)))];
    if (b < 0) {
      b = static_cast<int>(boxes.size());
      boxes.push_back(Box{p, p});
    }
    Box& box = boxes[static_cast<size_t>(b)];
    box.min = ImVec2(std::min(box.min.x, p.x), std::min(box.min.y, p.y));
    box.max = ImVec2(std::max(box.max.x, p.x), std::max(box.max.y, p.y));
  }
  std::sort(boxes.begin(), boxes.end(),
            [](const Box& a, const Box& b) { return a.min.x < b.min.x; });
  return boxes;
}

Box Harness::boundsOf(ImU32 col) const {
  return boundsOf(col, Box{ImVec2(-1e9f, -1e9f), ImVec2(1e9f, 1e9f)});
}

Box Harness::boundsOf(ImU32 col, const Box& within) const {
  Box b{ImVec2(1e9f, 1e9f), ImVec2(-1e9f, -1e9f)};
  for (const ImVec2& p : verticesOf(col)) {
    if (!within.contains(p)) continue;
    b.min = ImVec2(std::min(b.min.x, p.x), std::min(b.min.y, p.y));
    b.max = ImVec2(std::max(b.max.x, p.x), std::max(b.max.y, p.y));
  }
  return b;
}

namespace {

// Half a pixel of touching is not covering.
bool intersects(const PlacedRect& a, const PlacedRect& b) {
  return a.min.x < b.max.x - 0.5f && b.min.x < a.max.x - 0.5f && a.min.y < b.max.y - 0.5f &&
         b.min.y < a.max.y - 0.5f;
}

bool inside(const PlacedRect& a, ImVec2 min, ImVec2 max) {
  return a.min.x >= min.x - 0.5f && a.min.y >= min.y - 0.5f && a.max.x <= max.x + 0.5f &&
         a.max.y <= max.y + 0.5f;
}

std::string describe(const PlacedRect& r) {
  char box[96];
  std::snprintf(box, sizeof box, " [%.0f,%.0f..%.0f,%.0f]", r.min.x, r.min.y, r.max.x, r.max.y);
  return "\"" + r.owner + "\"" + box;
}

// A card that runs under the control bar on a short window (the grid's
// floors allow it) has its content under every control of the bar; that is
// the grid's own overlap, not the control's.
bool underTheBar(const PlacedRect& r, const std::vector<PlacedRect>& all, float barTop) {
  for (const PlacedRect& f : all)
    if (f.kind == PlacedKind::Frame && f.max.y > barTop && inside(r, f.min, f.max)) return true;
  return false;
}

}  // namespace

std::vector<std::string> Harness::layoutFaults() const {
  std::vector<std::string> faults;
  const std::vector<PlacedRect>& all = recordedLayout();
  const float barTop = size_.y - 64;
  for (const PlacedRect& a : all) {
    if (a.kind != PlacedKind::Added) continue;
    if (!inside(a, ImVec2(0, 0), size_)) faults.push_back(describe(a) + " leaves the window");
    for (const PlacedRect& b : all) {
      if (&a == &b || !intersects(a, b)) continue;
      if (b.owner == a.owner && !(a.text && b.text)) continue;
      if (a.inControlBar && underTheBar(b, all, barTop)) continue;
      if (b.kind != PlacedKind::Frame)
        faults.push_back(describe(a) + " covers " + describe(b));
      else if (!a.inControlBar && !inside(a, b.min, b.max))
        faults.push_back(describe(a) + " crosses the edge of " + describe(b));
    }
  }
  return faults;
}

ImVec2 comboEntry(int n) {
  const ImGuiWindow* popup = ImGui::FindWindowByName("##Combo_00");
  if (!popup || !popup->Active) return ImVec2(-1, -1);
  const ImGuiStyle& style = ImGui::GetStyle();
  const float row = popup->FontRefSize + style.ItemSpacing.y;
  return ImVec2(popup->Pos.x + popup->Size.x * 0.5f, popup->Pos.y + style.WindowPadding.y +
                                                         row * static_cast<float>(n) +
                                                         popup->FontRefSize * 0.5f);
}

float Harness::lineHeight() {
  ImGui::NewFrame();
  const float h = ImGui::CalcTextSize("X").y;
  ImGui::EndFrame();
  return h;
}

}  // namespace dashboard::testing
