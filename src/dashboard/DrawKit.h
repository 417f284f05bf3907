#pragma once

#include <imgui.h>

// Small drawing helpers shared by the dashboard's cards.
namespace dashboard {

// The four font handles set by init(); any may be null (no CJK font found).
struct Fonts {
  ImFont* huge = nullptr;   // loaded at 92
  ImFont* large = nullptr;  // loaded at 30
  ImFont* body = nullptr;   // loaded at 16, symbols merged
  ImFont* small = nullptr;  // loaded at 13, symbols merged
};
Fonts& fonts();

// The factor by which FontScope scales the sizes pushed for a text font.
// Dear ImGui sizes a font by its line height, and the CJK font's line is
// 1.45 em where DejaVu Sans's is 1.16: at one size the English text would
// look a fifth larger than the Chinese. The English fonts take the factor
// that gives them the CJK font's em at each size; the Chinese ones keep 1,
// so the sizes of the design hold for them. 1 when unset.
void setSizeScale(ImFont* font, float scale);
float sizeScale(ImFont* font);
void clearSizeScales();  // before a new set of fonts is loaded

// Pushes a font at a size for one block; does nothing for a null font, so
// text then uses the current font at its current size.
class FontScope {
 public:
  FontScope(ImFont* font, float size);
  ~FontScope();
  FontScope(const FontScope&) = delete;
  FontScope& operator=(const FontScope&) = delete;

 private:
  bool pushed_;
};

// Draw-list text with the current font. The text also goes to Dear ImGui's
// log when one is open, as widget texts do, so a log capture shows the whole
// dashboard.
// Opens the borderless window that covers the viewport, with no background
// of its own (the frame's clear colour is the background); End() closes it.
void beginRootWindow();

void drawText(ImDrawList* dl, ImVec2 pos, ImU32 col, const char* text);
void drawText(ImDrawList* dl, ImFont* font, float size, ImVec2 pos, ImU32 col, const char* text);

// Text broken into lines no wider than wrapWidth.
void drawWrappedText(ImDrawList* dl, ImVec2 pos, ImU32 col, const char* text, float wrapWidth);

ImVec2 textSize(const char* text);

// Opaque rectangles filled by the renderer at their place in the draw list:
// the window's renderer sets this (a scissored clear under OpenGL, far
// cheaper than shaded triangles under software rendering). Without one,
// opaque fills are triangles. The callback's data is a SolidRects.
void setSolidFill(ImDrawCallback fill);
struct SolidRects {
  ImVec2 min[2], max[2];  // screen coordinates, as the draw list's
  ImU32 col;
};

// An opaque rounded rectangle, the same pixels as AddRectFilled: with a
// solid fill set, its two straight bands are filled by the renderer and
// only the four corners are triangles.
void fillRoundedRect(ImDrawList* dl, ImVec2 min, ImVec2 max, ImU32 col, float rounding);

// A card: rounded fill, outline and an optional title.
void card(ImDrawList* dl, ImVec2 pos, ImVec2 size, const char* title);

}  // namespace dashboard
