#pragma once

// Helpers shared by the H.264 suites: reading the fixture recordings, splitting and
// damaging access units, and decoding or encoding with the ffmpeg command-line tool, which
// stands apart from the code under test.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "input/frame_header.h"
#include "tests/support/test_support.h"

namespace h264test {

struct RecordedFrame {
  FrameHeader header;
  std::vector<uint8_t> payload;
  bool Key() const { return header.frameType == FRAME_H264_KEY; }
};

inline uint32_t LittleEndian32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The fields these suites need, read here because the suite links the player libraries
// only, not the reader's.
inline FrameHeader ReadHeaderFields(const uint8_t* bytes) {
  FrameHeader header;
  header.magic = LittleEndian32(bytes);
  header.frameType = bytes[4];
  header.milliseconds = static_cast<uint16_t>(bytes[6] | (bytes[7] << 8));
  header.seconds = LittleEndian32(bytes + 8);
  header.dataLength = LittleEndian32(bytes + 16);
  return header;
}

inline bool IsPlayableHeader(const FrameHeader& header) {
  return header.magic == FRAME_MAGIC && header.dataLength <= MAX_FRAME_LENGTH &&
         (header.frameType == FRAME_H264_KEY || header.frameType == FRAME_H264_NONKEY ||
          header.frameType == FRAME_JPEG);
}

// Every whole frame with a valid header, in file order; past an invalid header the search
// moves on byte by byte, as the reader does.
inline std::vector<RecordedFrame> ReadRecording(const std::string& path) {
  const std::vector<uint8_t> bytes = testsupport::ReadFileBytes(path);
  std::vector<RecordedFrame> frames;
  size_t at = 0;
  while (at + FRAME_HEADER_SIZE <= bytes.size()) {
    const FrameHeader header = ReadHeaderFields(bytes.data() + at);
    if (!IsPlayableHeader(header)) {
      ++at;
      continue;
    }
    const size_t end = at + FRAME_HEADER_SIZE + header.dataLength;
    if (end > bytes.size()) break;
    RecordedFrame frame;
    frame.header = header;
    frame.payload.assign(bytes.begin() + static_cast<long>(at + FRAME_HEADER_SIZE),
                         bytes.begin() + static_cast<long>(end));
    frames.push_back(std::move(frame));
    at = end;
  }
  return frames;
}

inline std::vector<uint8_t> Concatenate(const std::vector<RecordedFrame>& frames) {
  std::vector<uint8_t> stream;
  for (const RecordedFrame& frame : frames) {
    stream.insert(stream.end(), frame.payload.begin(), frame.payload.end());
  }
  return stream;
}

struct Nal {
  size_t start;  // first byte of the start code
  size_t end;    // one past the NAL's last byte
  int type;
};

inline std::vector<Nal> SplitNals(const std::vector<uint8_t>& s) {
  std::vector<Nal> nals;
  for (size_t i = 0; i + 3 <= s.size(); ++i) {
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
      const size_t start = (i > 0 && s[i - 1] == 0) ? i - 1 : i;
      if (!nals.empty()) nals.back().end = start;
      const int type = i + 3 < s.size() ? (s[i + 3] & 0x1F) : -1;
      nals.push_back(Nal{start, s.size(), type});
      i += 2;
    }
  }
  return nals;
}

// Access units of a stream that has a delimiter (NAL type 9) before every picture.
inline std::vector<std::vector<uint8_t>> SplitAtDelimiters(const std::vector<uint8_t>& stream) {
  std::vector<std::vector<uint8_t>> units;
  for (const Nal& nal : SplitNals(stream)) {
    if (nal.type == 9 || units.empty()) units.emplace_back();
    units.back().insert(units.back().end(), stream.begin() + static_cast<long>(nal.start),
                        stream.begin() + static_cast<long>(nal.end));
  }
  return units;
}

// The unit with its sequence and picture parameter sets taken out.
inline std::vector<uint8_t> WithoutParameterSets(const std::vector<uint8_t>& unit) {
  std::vector<uint8_t> out;
  for (const Nal& nal : SplitNals(unit)) {
    if (nal.type == 7 || nal.type == 8) continue;
    out.insert(out.end(), unit.begin() + static_cast<long>(nal.start),
               unit.begin() + static_cast<long>(nal.end));
  }
  return out;
}

inline bool Run(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

// Decodes an H.264 elementary stream with the ffmpeg tool into yuv420p pictures of width x
// height, one vector per picture. Empty when the tool fails.
inline std::vector<std::vector<uint8_t>> ReferenceDecode(const std::vector<uint8_t>& stream,
                                                         int32_t width, int32_t height,
                                                         const std::string& dir) {
  const std::string in = dir + "/reference_in.264";
  const std::string out = dir + "/reference_out.yuv";
  std::vector<std::vector<uint8_t>> pictures;
  if (!testsupport::WriteFileBytes(in, stream)) return pictures;
  if (!Run("ffmpeg -hide_banner -loglevel error -nostdin -y -f h264 -i '" + in +
           "' -fps_mode passthrough -f rawvideo -pix_fmt yuv420p '" + out + "'")) {
    return pictures;
  }
  const std::vector<uint8_t> raw = testsupport::ReadFileBytes(out);
  const size_t size = static_cast<size_t>(width) * height * 3 / 2;
  for (size_t at = 0; at + size <= raw.size(); at += size) {
    pictures.emplace_back(raw.begin() + static_cast<long>(at),
                          raw.begin() + static_cast<long>(at + size));
  }
  return pictures;
}

// A short libx264 stream of the lavfi test source, a delimiter before every picture, no
// B-frames; pixelFormat chooses the chroma layout and depth. Empty when the tool fails.
inline std::vector<uint8_t> EncodeTestStream(const std::string& size,
                                             const std::string& pixelFormat, int frames,
                                             const std::string& dir) {
  const std::string out = dir + "/encoded_" + pixelFormat + "_" + size + ".264";
  if (!Run("ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i testsrc2=size=" + size +
           ":rate=25 -frames:v " + std::to_string(frames) +
           " -c:v libx264 -preset veryfast -bf 0 -g 6 -pix_fmt " + pixelFormat +
           " -x264-params aud=1 -f h264 '" + out + "'")) {
    return {};
  }
  return testsupport::ReadFileBytes(out);
}

}  // namespace h264test
