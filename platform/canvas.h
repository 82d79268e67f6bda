#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/geometry.h"
#include "platform/pixel_format.h"

namespace platform {

// A colour as GDI gives it: 0x00BBGGRR.
using ColorRef = uint32_t;

enum class BackgroundMode : int32_t { Transparent = 1, Opaque = 2 };

// The size of a line of text as drawn: its advance and the height of the font's cell.
struct TextExtent {
  int32_t width = 0;
  int32_t height = 0;
};

struct FontSpec {
  std::string face = "Arial";  // fontconfig maps Arial to Liberation Sans
  int32_t pixelHeight = 20;    // character height in pixels, as a GDI height of -20
  int32_t weight = 400;        // 100..900; 800 is extra bold
};

// Stands for a GDI device context on a bitmap: drawing onto pixels that the caller owns,
// in any of the four RGB layouts. A new canvas has a fresh device context's settings:
// black text, an opaque background of white, and a default font.
// Needs a QGuiApplication to exist (fonts); otherwise it draws no text.
class Canvas {
 public:
  Canvas(uint8_t* bits, int32_t width, int32_t height, int32_t pitch, PixelFormat format);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  void SetTextColor(ColorRef colour);
  void SetBkColor(ColorRef colour);
  void SetBkMode(BackgroundMode mode);
  void SelectFont(const FontSpec& font);

  // Draws text (UTF-8) with the top-left of its cell at (x, y): in opaque mode on a box of
  // the background colour as wide as the text and as high as the font's cell.
  void TextOut(int32_t x, int32_t y, std::string_view text);

  // What TextOut would cover with the selected font (0 and 0 without a QGuiApplication).
  TextExtent GetTextExtent(std::string_view text) const;

  // Draws the whole image scaled into dest (no aspect ratio kept), clipped to the canvas.
  void DrawImage(const PixelView& image, const Rect& dest);

  // Fills the whole canvas with one colour.
  void Fill(ColorRef colour);

  PixelView View() const;

 private:
  struct State;
  std::unique_ptr<State> state;
};

}  // namespace platform
