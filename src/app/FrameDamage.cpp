#include "app/FrameDamage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dashboard/DrawKit.h"

namespace {

uint64_t mix(uint64_t h, uint64_t v) {
  h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
  return h * 0xff51afd7ed558ccdULL;
}

uint64_t mixBytes(uint64_t h, const void* bytes, size_t size) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  for (; size >= 8; p += 8, size -= 8) {
    uint64_t word = 0;
    std::memcpy(&word, p, 8);
    h = mix(h, word);
  }
  uint64_t tail = 0;
  std::memcpy(&tail, p, size);
  return mix(h, tail ^ size);
}

PixelRect intersect(PixelRect a, PixelRect b) {
  return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

PixelRect unite(PixelRect a, PixelRect b) {
  return {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

// Runs of damaged tiles in each row, then runs of equal width stacked.
std::vector<PixelRect> tileRuns(const std::vector<bool>& damaged, int cols, int rows) {
  std::vector<PixelRect> rects;
  for (int row = 0; row < rows; ++row) {
    for (int col = 0; col < cols;) {
      if (!damaged[static_cast<size_t>(row * cols + col)]) {
        ++col;
        continue;
      }
      int end = col;
      while (end < cols && damaged[static_cast<size_t>(row * cols + end)]) ++end;
      const auto above = std::find_if(rects.begin(), rects.end(), [&](const PixelRect& r) {
        return r.x0 == col && r.x1 == end && r.y1 == row;
      });
      if (above != rects.end()) {
        above->y1 = row + 1;
      } else {
        rects.push_back({col, row, end, row + 1});
      }
      col = end;
    }
  }
  return rects;
}

}  // namespace

void mergeRects(std::vector<PixelRect>& rects, size_t limit) {
  // Scattered damage is drawn as its bounding box, at a bounded cost here.
  if (rects.size() > 8 * limit) {
    PixelRect box = rects.front();
    for (const PixelRect& r : rects) box = unite(box, r);
    rects.assign(1, box);
  }
  while (rects.size() > limit) {
    size_t bestA = 0, bestB = 1;
    long long bestCost = unite(rects[0], rects[1]).area() - rects[0].area() - rects[1].area();
    for (size_t a = 0; a < rects.size(); ++a) {
      for (size_t b = a + 1; b < rects.size(); ++b) {
        const long long cost = unite(rects[a], rects[b]).area() - rects[a].area() - rects[b].area();
        if (cost < bestCost) bestCost = cost, bestA = a, bestB = b;
      }
    }
    rects[bestA] = unite(rects[bestA], rects[bestB]);
    rects.erase(rects.begin() + static_cast<std::ptrdiff_t>(bestB));
  }
}

bool wholePixelScale(const ImDrawData& data) {
  const ImVec2 s = data.FramebufferScale;
  return s.x >= 1.0f && s.y >= 1.0f && s.x == std::floor(s.x) && s.y == std::floor(s.y);
}

void snapClipRects(ImDrawData& data) {
  const ImVec2 o = data.DisplayPos, s = data.FramebufferScale;
  for (ImDrawList* list : data.CmdLists) {
    for (ImDrawCmd& cmd : list->CmdBuffer) {
      // As the backend: origin and extent each truncated, in pixels.
      const float x0 = (cmd.ClipRect.x - o.x) * s.x, y0 = (cmd.ClipRect.y - o.y) * s.y;
      const float x1 = (cmd.ClipRect.z - o.x) * s.x, y1 = (cmd.ClipRect.w - o.y) * s.y;
      if (x1 <= x0 || y1 <= y0) continue;
      const float left = std::trunc(x0), width = std::trunc(x1 - x0);
      const float height = std::trunc(y1 - y0);
      const float fbHeight = std::trunc(data.DisplaySize.y * s.y);
      const float bottom = fbHeight - std::trunc(fbHeight - y1);  // the backend's origin row
      cmd.ClipRect = ImVec4(o.x + left / s.x, o.y + (bottom - height) / s.y,
                            o.x + (left + width) / s.x, o.y + bottom / s.y);
    }
  }
}

ImVec4 clipOf(const ImDrawData& data, PixelRect r) {
  const ImVec2 o = data.DisplayPos, s = data.FramebufferScale;
  return ImVec4(o.x + static_cast<float>(r.x0) / s.x, o.y + static_cast<float>(r.y0) / s.y,
                o.x + static_cast<float>(r.x1) / s.x, o.y + static_cast<float>(r.y1) / s.y);
}

std::vector<PixelRect> FrameDamage::update(const ImDrawData& data, int fbWidth, int fbHeight,
                                           ImDrawCallback solidFill) {
  const PixelRect whole{0, 0, fbWidth, fbHeight};
  const bool sameFrame = fbWidth == width_ && fbHeight == height_ &&
                         data.DisplayPos.x == origin_.x && data.DisplayPos.y == origin_.y &&
                         data.FramebufferScale.x == scale_.x && data.FramebufferScale.y == scale_.y;
  width_ = fbWidth, height_ = fbHeight, origin_ = data.DisplayPos, scale_ = data.FramebufferScale;
  cols_ = (fbWidth + kTile - 1) / kTile, rows_ = (fbHeight + kTile - 1) / kTile;
  std::vector<uint64_t> tiles(static_cast<size_t>(cols_) * static_cast<size_t>(rows_), 0);
  const bool hashed = hashTiles(data, solidFill, tiles);
  const bool comparable = hashed && sameFrame && tiles_.size() == tiles.size();
  std::vector<bool> damaged(tiles.size(), !comparable);
  if (comparable)
    for (size_t i = 0; i < tiles.size(); ++i) damaged[i] = tiles[i] != tiles_[i];
  if (hashed) {
    tiles_ = std::move(tiles);
  } else {
    tiles_.clear();
  }
  if (!comparable) return {whole};
  std::vector<PixelRect> rects = tileRuns(damaged, cols_, rows_);
  mergeRects(rects, kMaxRects);
  for (PixelRect& r : rects)
    r = intersect({r.x0 * kTile, r.y0 * kTile, r.x1 * kTile, r.y1 * kTile}, whole);
  return rects;
}

void FrameDamage::addBox(std::vector<uint64_t>& tiles, PixelRect box, uint64_t hash) const {
  box = intersect(box, {0, 0, width_, height_});
  if (box.x1 <= box.x0 || box.y1 <= box.y0) return;
  for (int row = box.y0 / kTile; row <= (box.y1 - 1) / kTile; ++row)
    for (int col = box.x0 / kTile; col <= (box.x1 - 1) / kTile; ++col) {
      uint64_t& tile = tiles[static_cast<size_t>(row * cols_ + col)];
      tile = mix(tile, hash);
    }
}

PixelRect FrameDamage::pixelsOf(ImVec2 min, ImVec2 max) const {
  return PixelRect{static_cast<int>(std::floor((min.x - origin_.x) * scale_.x)) - 1,
                   static_cast<int>(std::floor((min.y - origin_.y) * scale_.y)) - 1,
                   static_cast<int>(std::ceil((max.x - origin_.x) * scale_.x)) + 1,
                   static_cast<int>(std::ceil((max.y - origin_.y) * scale_.y)) + 1};
}

void FrameDamage::addFill(std::vector<uint64_t>& tiles, const ImDrawCmd& cmd, PixelRect clip,
                          uint64_t base) const {
  dashboard::SolidRects fill;
  std::memcpy(&fill, cmd.UserCallbackData, sizeof fill);
  const ImVec2 min(std::min(fill.min[0].x, fill.min[1].x), std::min(fill.min[0].y, fill.min[1].y));
  const ImVec2 max(std::max(fill.max[0].x, fill.max[1].x), std::max(fill.max[0].y, fill.max[1].y));
  addBox(tiles, intersect(pixelsOf(min, max), clip), mixBytes(base, &fill, sizeof fill));
}

void FrameDamage::addTriangles(std::vector<uint64_t>& tiles, const ImDrawList& list,
                               const ImDrawCmd& cmd, PixelRect clip, uint64_t base) const {
  base = mix(base, static_cast<uint64_t>(cmd.TexRef._TexID));
  base = mix(base, reinterpret_cast<uintptr_t>(cmd.TexRef._TexData));
  const ImDrawIdx* index = list.IdxBuffer.Data + cmd.IdxOffset;
  const ImDrawVert* vertex = list.VtxBuffer.Data + cmd.VtxOffset;
  for (unsigned i = 0; i + 2 < cmd.ElemCount; i += 3) {
    const ImDrawVert v[3] = {vertex[index[i]], vertex[index[i + 1]], vertex[index[i + 2]]};
    const ImVec2 min(std::min({v[0].pos.x, v[1].pos.x, v[2].pos.x}),
                     std::min({v[0].pos.y, v[1].pos.y, v[2].pos.y}));
    const ImVec2 max(std::max({v[0].pos.x, v[1].pos.x, v[2].pos.x}),
                     std::max({v[0].pos.y, v[1].pos.y, v[2].pos.y}));
    addBox(tiles, intersect(pixelsOf(min, max), clip), mixBytes(base, v, sizeof v));
  }
}

bool FrameDamage::hashTiles(const ImDrawData& data, ImDrawCallback solidFill,
                            std::vector<uint64_t>& tiles) const {
  if (data.Textures != nullptr)
    for (const ImTextureData* t : *data.Textures)
      if (t->Status != ImTextureStatus_OK) return false;
  for (const ImDrawList* list : data.CmdLists) {
    for (const ImDrawCmd& cmd : list->CmdBuffer) {
      const PixelRect clip =
          pixelsOf(ImVec2(cmd.ClipRect.x, cmd.ClipRect.y), ImVec2(cmd.ClipRect.z, cmd.ClipRect.w));
      const uint64_t base = mixBytes(0, &cmd.ClipRect, sizeof cmd.ClipRect);
      if (cmd.UserCallback == nullptr) {
        addTriangles(tiles, *list, cmd, clip, base);
      } else if (cmd.UserCallback == solidFill &&
                 cmd.UserCallbackDataSize == sizeof(dashboard::SolidRects)) {
        addFill(tiles, cmd, clip, base);
      } else if (cmd.UserCallback != ImDrawCallback_ResetRenderState) {
        return false;  // pixels it cannot follow
      }
    }
  }
  return true;
}
