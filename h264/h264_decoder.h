#pragma once

#include <cstdint>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

struct AvCodecContextFree {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct AvFrameFree {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct AvPacketFree {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using AvCodecContextPtr = std::unique_ptr<AVCodecContext, AvCodecContextFree>;
using AvFramePtr = std::unique_ptr<AVFrame, AvFrameFree>;
using AvPacketPtr = std::unique_ptr<AVPacket, AvPacketFree>;

// The H.264 decoder of one player, and the one place where libavcodec's results are
// translated: one compressed frame in, at most one picture out. Used by one thread at a time.
struct H264DecoderContext {
  // Largest picture the decoder may allocate for, so a damaged stream cannot demand a huge
  // buffer; it also keeps w * h * 3 / 2 well inside 32 bits.
  static constexpr int64_t MAX_PICTURE_PIXELS = 8192LL * 8192LL;

  // Finds and opens the decoder for codecId (H.264; tests name one that is missing). A step
  // that fails leaves the members after it null, and IsOpen() false.
  explicit H264DecoderContext(AVCodecID codecId = AV_CODEC_ID_H264);
  H264DecoderContext(const H264DecoderContext&) = delete;
  H264DecoderContext& operator=(const H264DecoderContext&) = delete;

  // True when frames can be decoded: the decoder was found and opened.
  bool IsOpen() const { return opened && frame != nullptr && packet != nullptr; }

  // Decodes one compressed frame (an access unit). Returns 1 when it completed a picture
  // that can be shown (8-bit 4:2:0), 0 otherwise. *width and *height receive the picture
  // size from the decoder after the call (0 when it knows none yet).
  int Decode(const uint8_t* data, int32_t length, int32_t* width, int32_t* height);

  // Copies the picture of the last successful Decode into buffer in the picture buffer
  // layout: h rows of w luma bytes from 0, h/2 rows of w/2 U bytes from w*h, the same of V
  // from (5*w*h)/4, rows tightly packed. The buffer holds at least w*h + (w*h)/2 bytes.
  // Returns 1, or 0 (copying nothing) when there is no picture.
  int CopyPicture(uint8_t* buffer) const;

  AvCodecContextPtr codecContext;
  const AVCodec* codec = nullptr;
  AvFramePtr frame;

 private:
  // Receives at most one frame; returns 1 for a picture that can be shown.
  int ReceivePicture();

  AvPacketPtr packet;
  bool opened = false;
  // The packet's bytes with AV_INPUT_BUFFER_PADDING_SIZE zeroed bytes after them, since
  // libavcodec's bit readers look that far past the end.
  std::unique_ptr<uint8_t[]> padded;
  int64_t paddedCapacity = 0;
  int32_t pictureWidth = 0;  // size of the picture held in frame; 0 when none
  int32_t pictureHeight = 0;
};
