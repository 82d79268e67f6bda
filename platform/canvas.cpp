#include "platform/canvas.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <cstring>

#include "platform/stretch.h"

namespace platform {
namespace {

QColor ToQColor(ColorRef colour) {
  return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                static_cast<int>((colour >> 16) & 0xFF));
}

// 0x00BBGGRR to 0x00RRGGBB.
uint32_t ToRgb(ColorRef colour) {
  return ((colour & 0xFF) << 16) | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
}

QImage::Format ToQImageFormat(PixelFormat format) {
  switch (format) {
    case PixelFormat::Rgb555:
      return QImage::Format_RGB555;
    case PixelFormat::Rgb565:
      return QImage::Format_RGB16;
    case PixelFormat::Rgb24:
      return QImage::Format_BGR888;
    case PixelFormat::Rgb32:
      return QImage::Format_RGB32;
    case PixelFormat::Palette8:
      return QImage::Format_Invalid;
  }
  return QImage::Format_Invalid;
}

bool HaveGuiApplication() {
  return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

QFont MakeFont(const FontSpec& spec) {
  QFont font(QString::fromStdString(spec.face));
  font.setPixelSize(std::max(spec.pixelHeight, 1));
  font.setWeight(static_cast<QFont::Weight>(std::clamp(spec.weight, 1, 1000)));
  return font;
}

}  // namespace

struct Canvas::State {
  uint8_t* bits = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t pitch = 0;
  PixelFormat format = PixelFormat::Rgb32;
  bool usable = false;  // the pixels can be written: a known layout and a sane pitch

  ColorRef textColour = 0x000000;
  ColorRef backColour = 0xFFFFFF;
  BackgroundMode backMode = BackgroundMode::Opaque;
  FontSpec font;
};

Canvas::Canvas(uint8_t* bits, int32_t width, int32_t height, int32_t pitch, PixelFormat format)
    : state(std::make_unique<State>()) {
  state->bits = bits;
  state->width = std::max(width, 0);
  state->height = std::max(height, 0);
  state->pitch = pitch;
  state->format = format;
  state->usable =
      bits != nullptr && width > 0 && height > 0 && format != PixelFormat::Palette8 &&
      static_cast<int64_t>(pitch) >= static_cast<int64_t>(width) * BytesPerPixel(format);
}

Canvas::~Canvas() = default;

void Canvas::SetTextColor(ColorRef colour) {
  state->textColour = colour & 0xFFFFFFu;
}
void Canvas::SetBkColor(ColorRef colour) {
  state->backColour = colour & 0xFFFFFFu;
}
void Canvas::SetBkMode(BackgroundMode mode) {
  state->backMode = mode;
}
void Canvas::SelectFont(const FontSpec& font) {
  state->font = font;
}

TextExtent Canvas::GetTextExtent(std::string_view text) const {
  if (!HaveGuiApplication()) return TextExtent{};
  QFontMetrics metrics(MakeFont(state->font));
  QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  return TextExtent{metrics.horizontalAdvance(s), metrics.ascent() + metrics.descent()};
}

void Canvas::TextOut(int32_t x, int32_t y, std::string_view text) {
  if (!state->usable || !HaveGuiApplication()) return;
  QFont font = MakeFont(state->font);
  QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  QFontMetrics metrics(font);
  const int ascent = metrics.ascent();
  const QRect box(x, y, metrics.horizontalAdvance(s), ascent + metrics.descent());
  // Ink may overhang the cell, so the glyphs' own bounds count too, with room for
  // antialiasing.
  const QRect band = box.united(metrics.boundingRect(s).translated(x, y + ascent))
                         .adjusted(-2, -2, 2, 2)
                         .intersected(QRect(0, 0, state->width, state->height));
  if (band.isEmpty()) return;

  // Text is drawn into a copy of the rows it touches: Qt needs rows aligned as its own
  // images have them, which the caller's memory need not be.
  QImage scratch(band.size(), ToQImageFormat(state->format));
  if (scratch.isNull()) return;
  const int32_t bpp = BytesPerPixel(state->format);
  const size_t rowBytes = static_cast<size_t>(band.width()) * bpp;
  auto canvasRow = [&](int row) {
    return state->bits + static_cast<int64_t>(band.top() + row) * state->pitch +
           static_cast<int64_t>(band.left()) * bpp;
  };
  for (int row = 0; row < band.height(); ++row) {
    std::memcpy(scratch.scanLine(row), canvasRow(row), rowBytes);
  }

  QPainter painter(&scratch);
  painter.translate(-band.left(), -band.top());
  painter.setFont(font);
  if (state->backMode == BackgroundMode::Opaque && !box.isEmpty()) {
    painter.fillRect(box, ToQColor(state->backColour));
  }
  painter.setPen(ToQColor(state->textColour));
  // QPainter places text by its baseline; callers give the cell's top-left.
  painter.drawText(QPoint(x, y + ascent), s);
  painter.end();

  for (int row = 0; row < band.height(); ++row) {
    uint8_t* out = canvasRow(row);
    const uint8_t* in = scratch.constScanLine(row);
    if (state->format == PixelFormat::Rgb32) {
      // Qt writes 0xFF into the fourth byte; the caller's own fourth byte is kept.
      for (int column = 0; column < band.width(); ++column) {
        std::memcpy(out + column * 4, in + column * 4, 3);
      }
    } else {
      std::memcpy(out, in, rowBytes);
    }
  }
}

void Canvas::DrawImage(const PixelView& image, const Rect& dest) {
  if (!state->usable) return;
  StretchPixels(image, Rect{0, 0, image.width, image.height}, state->bits, state->pitch,
                state->width, state->height, state->format, dest,
                Rect{0, 0, state->width, state->height});
}

void Canvas::Fill(ColorRef colour) {
  if (!state->usable) return;
  const uint32_t packed = PackPixel(ToRgb(colour), state->format);
  const int32_t bpp = BytesPerPixel(state->format);
  uint8_t pixel[4];
  std::memcpy(pixel, &packed, 4);
  for (int32_t row = 0; row < state->height; ++row) {
    uint8_t* p = state->bits + static_cast<int64_t>(row) * state->pitch;
    if (bpp == 4) {
      for (int32_t x = 0; x < state->width; ++x) std::memcpy(p + x * 4, &packed, 4);
    } else {
      for (int32_t x = 0; x < state->width; ++x) std::memcpy(p + x * bpp, pixel, bpp);
    }
  }
}

PixelView Canvas::View() const {
  return PixelView{state->bits, state->pitch, state->width, state->height, state->format};
}

}  // namespace platform
