#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "h264/h264_decoder.h"
#include "platform/jpeg_codec.h"
#include "player/capture_time.h"
#include "tools/quendrel_tool/tool.h"

namespace tool {
namespace {

constexpr const char* kUsage = "quendrel-tool info FILE";
// Frames offered to the decoder in search of the picture size before giving up.
constexpr int kSizeAttempts = 50;
// Places of damage listed one by one; the rest are only counted.
constexpr size_t kListedSkips = 20;

void PrintHelp() {
  std::printf(
      "usage: %s\n\n"
      "Walks FILE as the reader thread does and summarises it: the player its first frame\n"
      "chooses, the frames handed on and how many of them a seek can land on, the picture\n"
      "size, the first and last capture time (local time) and the time between them, the\n"
      "bytes passed over by resynchronisation and where, and how the file ends.\n",
      kUsage);
}

struct Range {
  int64_t from;
  int64_t to;
};

class Summary final : public ReaderObserver {
 public:
  void OnSkipped(int64_t from, int64_t to) override {
    // A search that restarts right where the last one stopped is one stretch of damage.
    if (!skips.empty() && skips.back().to == from) {
      skips.back().to = to;
    } else {
      skips.push_back(Range{from, to});
    }
  }
  void OnFrame(const ReaderFrame& frame) override {
    if (frames == 0) first = frame.header;
    last = frame.header;
    ++frames;
    if (frame.header.frameType == FRAME_H264_KEY || frame.header.frameType == FRAME_JPEG) {
      ++landingFrames;
    }
  }
  void OnEnd(ReaderEnd reason, int64_t offset) override {
    end = reason;
    endOffset = offset;
  }

  uint64_t frames = 0;
  uint64_t landingFrames = 0;
  FrameHeader first;
  FrameHeader last;
  std::vector<Range> skips;
  ReaderEnd end = ReaderEnd::Stopped;
  int64_t endOffset = 0;
};

// Finds the picture size from the first frames that decode.
class SizeProbe {
 public:
  void Offer(PlayerKind kind, const uint8_t* data, int32_t length) {
    if (width > 0 || attempts >= kSizeAttempts) return;
    ++attempts;
    if (kind == PlayerKind::Jpeg) {
      const platform::DecodedImage image =
          platform::DecodeJpeg(data, static_cast<size_t>(length), 1, 1);
      width = image.width;
      height = image.height;
      return;
    }
    if (!decoder) decoder = std::make_unique<H264DecoderContext>();
    int32_t w = 0;
    int32_t h = 0;
    if (decoder->IsOpen() && decoder->Decode(data, length, &w, &h) == 1) {
      width = w;
      height = h;
    }
  }

  int32_t width = 0;
  int32_t height = 0;

 private:
  int attempts = 0;
  std::unique_ptr<H264DecoderContext> decoder;
};

std::string CaptureTime(const FrameHeader& header) {
  char millis[16];
  std::snprintf(millis, sizeof millis, ".%03u", static_cast<unsigned>(header.milliseconds));
  return FormatCaptureTime(header.seconds) + millis;
}

std::string EndText(const Summary& summary) {
  char text[160];
  switch (summary.end) {
    case ReaderEnd::EndOfFile:
      return "whole: the last frame ends at the end of the file";
    case ReaderEnd::CutShort:
      std::snprintf(text, sizeof text, "cut short: the frame at byte %" PRId64 " is incomplete",
                    summary.endOffset);
      return text;
    case ReaderEnd::NoFurtherMagic:
      std::snprintf(text, sizeof text, "with damage: no frame after byte %" PRId64,
                    summary.skips.empty() ? summary.endOffset : summary.skips.back().from);
      return text;
    case ReaderEnd::NoPlayer:
    case ReaderEnd::NoMemory:
      std::snprintf(text, sizeof text, "reading stopped at byte %" PRId64 ": out of memory",
                    summary.endOffset);
      return text;
    case ReaderEnd::OpenFailed:
    case ReaderEnd::SeekFailed:
    case ReaderEnd::Stopped:
      break;
  }
  std::snprintf(text, sizeof text, "reading stopped at byte %" PRId64, summary.endOffset);
  return text;
}

}  // namespace

int CommandInfo(const Args& args) {
  std::vector<std::string> operands;
  for (const std::string& arg : args) {
    if (IsHelp(arg)) {
      PrintHelp();
      return 0;
    }
    operands.push_back(arg);
  }
  if (operands.size() != 1) return UsageError("info", kUsage, "needs one FILE");
  const std::string& path = operands[0];
  const std::string problem = OpenProblem(path);
  if (!problem.empty()) {
    ReportFileError("info", path, problem);
    return 2;
  }

  Summary summary;
  SizeProbe size;
  PlayerKind kind = PlayerKind::H264;
  bool playerMade = false;
  const int64_t fileLength = WalkRecording(
      path, WalkOptions{}, summary,
      [&](const uint8_t* data, int32_t length, uint32_t) { size.Offer(kind, data, length); }, &kind,
      &playerMade);
  if (summary.end == ReaderEnd::OpenFailed) {
    ReportFileError("info", path, "cannot be opened");
    return 2;
  }

  auto line = [](const char* label, const std::string& value) {
    std::printf("%-18s%s\n", label, value.c_str());
  };
  line("file:", path);
  line("length:", std::to_string(fileLength) + " bytes");
  line("player:",
       !playerMade ? "none (no valid frame)" : (kind == PlayerKind::H264 ? "H.264" : "JPEG"));
  line("frames handed on:", std::to_string(summary.frames));
  line("key frames:", std::to_string(summary.landingFrames) + " (where a seek can land)");
  line("picture size:", size.width > 0
                            ? std::to_string(size.width) + "x" + std::to_string(size.height)
                            : "unknown (no frame decodes)");
  if (summary.frames > 0) {
    line("first capture:", CaptureTime(summary.first) + " (local time)");
    line("last capture:", CaptureTime(summary.last) + " (local time)");
    const int64_t firstMs = int64_t{summary.first.seconds} * 1000 + summary.first.milliseconds;
    const int64_t lastMs = int64_t{summary.last.seconds} * 1000 + summary.last.milliseconds;
    char duration[48];
    std::snprintf(duration, sizeof duration, "%.3f s",
                  static_cast<double>(lastMs - firstMs) / 1000);
    line("duration:", duration);
  }
  int64_t skippedBytes = 0;
  for (const Range& range : summary.skips) skippedBytes += range.to - range.from;
  line("skipped:", std::to_string(skippedBytes) + " bytes in " +
                       std::to_string(summary.skips.size()) +
                       (summary.skips.size() == 1 ? " place" : " places"));
  for (size_t i = 0; i < summary.skips.size() && i < kListedSkips; ++i) {
    line("", std::to_string(summary.skips[i].to - summary.skips[i].from) + " bytes at " +
                 std::to_string(summary.skips[i].from));
  }
  if (summary.skips.size() > kListedSkips) {
    line("", "and " + std::to_string(summary.skips.size() - kListedSkips) + " more");
  }
  line("ends:", EndText(summary));
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace tool
