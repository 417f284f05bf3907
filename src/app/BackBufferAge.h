#pragma once

// What the window's back buffer holds when a frame begins: the frame drawn
// that many frames ago, or 0 when its pixels are unknown. Asked of GLX:
// its buffer-age query where it has one, else a swap that copies (a
// configuration that says so, or Mesa's software rasterisers, whose swap
// copies the back buffer to the window and keeps it). Anything else is 0,
// and every frame is drawn whole.
class BackBufferAge {
 public:
  // Reads the current context's window system; the context must be current.
  BackBufferAge();
  int beforeFrame() const;

 private:
  enum class Kind { Unknown, Queried, Kept };
  Kind kind_ = Kind::Unknown;
};
