#pragma once

#include <imgui.h>

#include <string>
#include <vector>

// Where the dashboard put its texts and controls in the last frame, for the
// layout check of the tests: a text or control added to the original design
// must cover nothing else, cross no card's edge and stay inside the window.
// Off unless switched on; then every text drawn with drawText() is recorded,
// cards and other framed areas by card() and placeFrame(), widgets by
// placeLastItem().
//
// To put a new element under the check, draw it inside an AddedElement
// scope: its texts (drawText) and its widgets (placeLastItem) become one
// added element, which may overlap itself but nothing else.
namespace dashboard {

enum class PlacedKind {
  Base,   // a text or control of the original design
  Added,  // a text or control added to it
  Frame,  // an area others sit in (card, tile, banner, picker): inside or outside, never across
};

struct PlacedRect {
  std::string owner;  // element name; rects of one owner belong together
  ImVec2 min, max;
  PlacedKind kind;
  // A control of the bottom bar: cards may run under the bar on a short
  // window, so only the texts and controls it covers count against it.
  bool inControlBar = false;
  // Texts of one element must not cover each other either.
  bool text = false;
};

void recordLayout(bool on);
bool layoutRecorded();
// Cleared by draw() at the start of each frame.
void clearLayout();
const std::vector<PlacedRect>& recordedLayout();

void placeRect(const char* owner, ImVec2 min, ImVec2 max, PlacedKind kind, bool text = false);
void placeFrame(const char* owner, ImVec2 min, ImVec2 max);
// The last ImGui item (button, combo, link) under the current element.
void placeLastItem(const char* owner);

// Texts and widgets placed while this lives belong to the named added
// element. Nests: the innermost name wins.
class AddedElement {
 public:
  explicit AddedElement(const char* name, bool inControlBar = false);
  ~AddedElement();
  AddedElement(const AddedElement&) = delete;
  AddedElement& operator=(const AddedElement&) = delete;

 private:
  const char* previous_;
  bool previousInBar_;
};

// The element texts are recorded under now: the added element's name, or
// null for the original design's texts.
const char* currentAddedElement();

}  // namespace dashboard
