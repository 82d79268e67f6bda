#include "h264/h264_decoder.h"

#include <cstring>
#include <mutex>
#include <new>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/pixfmt.h>
}

H264DecoderContext::H264DecoderContext(AVCodecID codecId) {
  // Failures are quiet: libavcodec's reports about damaged streams would only fill stderr.
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
  codec = avcodec_find_decoder(codecId);
  if (codec == nullptr) return;
  codecContext.reset(avcodec_alloc_context3(codec));
  if (!codecContext) return;
  // Frame threading would hold pictures back for other threads and break "one frame in, at
  // most one picture out"; slice threading is off with it.
  codecContext->thread_count = 1;
  codecContext->max_pixels = MAX_PICTURE_PIXELS;
  if (avcodec_open2(codecContext.get(), codec, nullptr) < 0) return;
  opened = true;
  frame.reset(av_frame_alloc());
  packet.reset(av_packet_alloc());
}

int H264DecoderContext::Decode(const uint8_t* data, int32_t length, int32_t* width,
                               int32_t* height) {
  pictureWidth = 0;
  pictureHeight = 0;
  int got = 0;
  // An empty packet would put the decoder into draining for good; it carries nothing anyway.
  if (IsOpen() && data != nullptr && length > 0) {
    const int64_t needed = static_cast<int64_t>(length) + AV_INPUT_BUFFER_PADDING_SIZE;
    if (needed > paddedCapacity) {
      padded.reset(new (std::nothrow) uint8_t[needed]);
      paddedCapacity = padded ? needed : 0;
    }
    if (padded) {
      std::memcpy(padded.get(), data, length);
      std::memset(padded.get() + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
      packet->data = padded.get();
      packet->size = length;
      int sent = avcodec_send_packet(codecContext.get(), packet.get());
      if (sent == AVERROR(EAGAIN)) {
        // A picture is still waiting from before: it is this frame's output, and the packet
        // goes in after it so that nothing compressed is lost.
        got = ReceivePicture();
        avcodec_send_packet(codecContext.get(), packet.get());
      } else {
        got = ReceivePicture();
      }
      packet->data = nullptr;
      packet->size = 0;
    }
  }
  if (width) *width = codecContext ? codecContext->width : 0;
  if (height) *height = codecContext ? codecContext->height : 0;
  return got;
}

int H264DecoderContext::ReceivePicture() {
  int received = avcodec_receive_frame(codecContext.get(), frame.get());
  if (received == AVERROR_EOF) {
    // Only a drained decoder says this; make it take packets again.
    avcodec_flush_buffers(codecContext.get());
    return 0;
  }
  if (received < 0) return 0;
  const int32_t w = codecContext->width;
  const int32_t h = codecContext->height;
  // Other layouts (4:2:2, 4:4:4, more than 8 bits) would need another copy and conversion;
  // they are passed over like a frame without a picture. A frame whose own size differs from
  // the decoder's would have smaller planes than the copy walks. An odd size, which 4:2:0
  // H.264 cannot code, would make the conversion's last row read a chroma row the picture
  // buffer does not hold.
  const bool usable =
      (frame->format == AV_PIX_FMT_YUV420P || frame->format == AV_PIX_FMT_YUVJ420P) && w > 0 &&
      h > 0 && w % 2 == 0 && h % 2 == 0 && frame->width == w && frame->height == h &&
      static_cast<int64_t>(w) * h <= MAX_PICTURE_PIXELS && frame->data[0] != nullptr &&
      frame->data[1] != nullptr && frame->data[2] != nullptr;
  if (!usable) {
    av_frame_unref(frame.get());
    return 0;
  }
  pictureWidth = w;
  pictureHeight = h;
  return 1;
}

int H264DecoderContext::CopyPicture(uint8_t* buffer) const {
  if (pictureWidth <= 0 || pictureHeight <= 0 || buffer == nullptr) return 0;
  const int32_t w = pictureWidth;
  const int32_t h = pictureHeight;
  const int64_t lumaBytes = static_cast<int64_t>(w) * h;
  for (int32_t row = 0; row < h; ++row) {
    std::memcpy(buffer + static_cast<int64_t>(row) * w,
                frame->data[0] + static_cast<ptrdiff_t>(row) * frame->linesize[0], w);
  }
  // U at w*h and V at 5*w*h/4, where the renderer and the cache look for them. For an odd
  // size the two differ by more than a plane, and the bytes between stay defined.
  uint8_t* const planeStart[3] = {nullptr, buffer + lumaBytes, buffer + (5 * lumaBytes) / 4};
  const int64_t chromaBytes = static_cast<int64_t>(w / 2) * (h / 2);
  std::memset(buffer + lumaBytes + chromaBytes, 0, (5 * lumaBytes) / 4 - lumaBytes - chromaBytes);
  // Decoded chroma planes hold (h + 1) / 2 rows of (w + 1) / 2 samples: h/2 rows of w/2 fit.
  for (int plane = 1; plane <= 2; ++plane) {
    for (int32_t row = 0; row < h / 2; ++row) {
      std::memcpy(planeStart[plane] + static_cast<int64_t>(row) * (w / 2),
                  frame->data[plane] + static_cast<ptrdiff_t>(row) * frame->linesize[plane], w / 2);
    }
  }
  return 1;
}
