#pragma once

#include <imgui.h>

#include <cstdint>
#include <vector>

// A rectangle of framebuffer pixels, rows counted from the top: [x0, x1) x [y0, y1).
struct PixelRect {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  long long area() const { return static_cast<long long>(x1 - x0) * (y1 - y0); }
};

// Which parts of the window a frame's draw data can paint differently from
// the frame before. The framebuffer is cut into square tiles; each tile
// keeps a hash of everything that may paint in it (triangles by their
// bounding boxes, solid fills by their rectangles, each with its clip
// rectangle and texture, in drawing order). A tile whose hash changed is
// damaged. The answer errs only towards drawing more.
class FrameDamage {
 public:
  static constexpr int kTile = 32;        // pixels
  static constexpr size_t kMaxRects = 6;  // more are merged: each is one pass over the draw data

  // The damaged rectangles of this frame, at most kMaxRects, merged from
  // whole tiles and cut to the framebuffer; the whole framebuffer when the
  // last frame cannot be compared (first frame, new size, a texture being
  // made, a callback other than `solidFill`). The clip rectangles must
  // already be in whole framebuffer pixels (see snapClipRects).
  std::vector<PixelRect> update(const ImDrawData& data, int fbWidth, int fbHeight,
                                ImDrawCallback solidFill);
  // The next update answers the whole framebuffer.
  void invalidate() { tiles_.clear(); }

 private:
  bool hashTiles(const ImDrawData& data, ImDrawCallback solidFill,
                 std::vector<uint64_t>& tiles) const;
  void addTriangles(std::vector<uint64_t>& tiles, const ImDrawList& list, const ImDrawCmd& cmd,
                    PixelRect clip, uint64_t base) const;
  void addFill(std::vector<uint64_t>& tiles, const ImDrawCmd& cmd, PixelRect clip,
               uint64_t base) const;
  void addBox(std::vector<uint64_t>& tiles, PixelRect box, uint64_t hash) const;
  // The pixels a box in the draw data's coordinates may touch, a pixel wider.
  PixelRect pixelsOf(ImVec2 min, ImVec2 max) const;

  std::vector<uint64_t> tiles_;
  int width_ = 0, height_ = 0, cols_ = 0, rows_ = 0;
  ImVec2 origin_, scale_;
};

// Merges the pair of rectangles that adds the least area until at most
// `limit` are left.
void mergeRects(std::vector<PixelRect>& rects, size_t limit);

// True when the draw data's framebuffer scale is a whole number on both
// axes: then clip rectangles in whole pixels are exact in both coordinate
// systems, and a frame can be drawn in parts that match its whole.
bool wholePixelScale(const ImDrawData& data);

// Each command's clip rectangle moved onto the whole pixels the OpenGL 3
// backend scissors it to, so the pixels drawn stay the same and a clip cut
// by a damaged rectangle scissors exactly the pixels they share.
void snapClipRects(ImDrawData& data);

// The damaged rectangle `r` as a clip rectangle in the draw data's coordinates.
ImVec4 clipOf(const ImDrawData& data, PixelRect r);
