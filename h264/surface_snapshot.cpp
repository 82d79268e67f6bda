#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "h264/ddraw_renderer.h"
#include "platform/jpeg_codec.h"
#include "record/prepare_directories.h"

void CDDrawRenderer::TakeSnapshot(int32_t width, int32_t height) {
  if (!offscreenSurface) return;
  platform::SurfaceDesc desc;
  if (offscreenSurface->Lock(&desc) < 0) return;
  const int32_t copyWidth = std::min(width, desc.width);
  const int32_t copyHeight = std::min(height, desc.height);
  if (copyWidth <= 0 || copyHeight <= 0) {
    offscreenSurface->Unlock();
    return;
  }
  // The picture is copied out so that the surface is free again before the slow encode.
  const int32_t rowBytes = copyWidth * platform::BytesPerPixel(desc.format);
  std::unique_ptr<uint8_t[]> pixels(
      new (std::nothrow) uint8_t[static_cast<size_t>(rowBytes) * static_cast<size_t>(copyHeight)]);
  if (pixels) {
    for (int32_t row = 0; row < copyHeight; ++row) {
      std::memcpy(pixels.get() + static_cast<size_t>(row) * static_cast<size_t>(rowBytes),
                  desc.surface + static_cast<int64_t>(row) * desc.pitch,
                  static_cast<size_t>(rowBytes));
    }
  }
  offscreenSurface->Unlock();
  if (!pixels) return;

  PrepareDirectories(snapshotPath);
  platform::WriteJpegFile(
      platform::PixelView{pixels.get(), rowBytes, copyWidth, copyHeight, desc.format}, 100,
      snapshotPath);
}
