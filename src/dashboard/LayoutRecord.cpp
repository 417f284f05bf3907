#include "dashboard/LayoutRecord.h"

namespace dashboard {
namespace {

bool s_on = false;
std::vector<PlacedRect> s_rects;
const char* s_added = nullptr;
bool s_addedInBar = false;

}  // namespace

void recordLayout(bool on) {
  s_on = on;
  s_rects.clear();
}

bool layoutRecorded() { return s_on; }

void clearLayout() { s_rects.clear(); }

const std::vector<PlacedRect>& recordedLayout() { return s_rects; }

void placeRect(const char* owner, ImVec2 min, ImVec2 max, PlacedKind kind, bool text) {
  if (!s_on || max.x <= min.x || max.y <= min.y) return;
  if (s_added != nullptr && kind != PlacedKind::Frame) {
    owner = s_added;
    kind = PlacedKind::Added;
  }
  s_rects.push_back(PlacedRect{owner, min, max, kind, s_added != nullptr && s_addedInBar, text});
}

void placeFrame(const char* owner, ImVec2 min, ImVec2 max) {
  placeRect(owner, min, max, PlacedKind::Frame);
}

void placeLastItem(const char* owner) {
  if (!s_on) return;
  placeRect(owner, ImGui::GetItemRectMin(), ImGui::GetItemRectMax(), PlacedKind::Base);
}

AddedElement::AddedElement(const char* name, bool inControlBar)
    : previous_(s_added), previousInBar_(s_addedInBar) {
  s_added = name;
  s_addedInBar = inControlBar;
}

AddedElement::~AddedElement() {
  s_added = previous_;
  s_addedInBar = previousInBar_;
}

const char* currentAddedElement() { return s_added; }

}  // namespace dashboard
