// quendrel-make-recording: builds recording files for demos and test fixtures.
//
//   quendrel-make-recording h264 STREAM.h264 OUT [--start SECONDS] [--fps RATE] [--seed N]
//       One frame per access unit of an H.264 Annex-B elementary stream: type 0 for an access
//       unit with an IDR slice, 1 otherwise.
//   quendrel-make-recording jpeg OUT FILE.jpg... [--start SECONDS] [--fps RATE] [--seed N]
//       One type-3 frame per JPEG file, in the order given.
//   quendrel-make-recording damage IN OUT
//       A copy of IN hurt in the ways a reader must survive (see DamageRecording).
//
// Capture times run from --start (seconds since 1970, UTC) plus --start-ms at --fps frames per
// second; the header bytes that readers do not interpret get seeded random values.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "input/frame_header.h"

namespace {

struct Options {
  uint32_t startSeconds = 1773480413;  // 2026-03-14 09:26:53 UTC
  uint32_t startMs = 0;
  double fps = 25.0;
  uint32_t seed = 1;
};

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  uint8_t buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    bytes->insert(bytes->end(), buffer, buffer + got);
  }
  bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

struct Nal {
  size_t begin;  // first byte after the start code
  size_t end;    // one past the last byte (before the next start code)
  int type;
};

// Splits an Annex-B stream at its 3- and 4-byte start codes.
std::vector<Nal> SplitNals(const std::vector<uint8_t>& s) {
  std::vector<size_t> starts;  // positions of the start codes' first zero byte
  std::vector<size_t> payloads;
  for (size_t i = 0; i + 3 <= s.size(); ++i) {
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
      size_t codeStart = (i > 0 && s[i - 1] == 0) ? i - 1 : i;
      starts.push_back(codeStart);
      payloads.push_back(i + 3);
      i += 2;
    }
  }
  std::vector<Nal> nals;
  for (size_t k = 0; k < payloads.size(); ++k) {
    size_t end = k + 1 < starts.size() ? starts[k + 1] : s.size();
    if (payloads[k] < end) nals.push_back(Nal{payloads[k], end, s[payloads[k]] & 0x1F});
  }
  return nals;
}

bool IsVcl(int type) {
  return type == 1 || type == 5;
}

// An access unit begins at a delimiter, parameter set or SEI that follows a slice, or at a
// slice whose first_mb_in_slice is 0 (ue(v) 0 is a single 1 bit) after another slice.
std::vector<std::vector<uint8_t>> SplitAccessUnits(const std::vector<uint8_t>& stream,
                                                   std::vector<bool>* idr) {
  std::vector<std::vector<uint8_t>> units;
  std::vector<uint8_t> current;
  bool currentHasVcl = false;
  bool currentIdr = false;
  static const uint8_t kStartCode[4] = {0, 0, 0, 1};
  for (const Nal& nal : SplitNals(stream)) {
    bool firstSliceOfPicture =
        IsVcl(nal.type) && nal.end - nal.begin > 1 && (stream[nal.begin + 1] & 0x80) != 0;
    bool startsUnit = currentHasVcl && ((nal.type >= 6 && nal.type <= 9) || firstSliceOfPicture);
    if (startsUnit) {
      units.push_back(std::move(current));
      idr->push_back(currentIdr);
      current.clear();
      currentHasVcl = false;
      currentIdr = false;
    }
    current.insert(current.end(), kStartCode, kStartCode + 4);
    current.insert(current.end(), stream.begin() + static_cast<long>(nal.begin),
                   stream.begin() + static_cast<long>(nal.end));
    currentHasVcl = currentHasVcl || IsVcl(nal.type);
    currentIdr = currentIdr || nal.type == 5;
  }
  if (currentHasVcl) {
    units.push_back(std::move(current));
    idr->push_back(currentIdr);
  }
  return units;
}

class RecordingWriter {
 public:
  RecordingWriter(FILE* file, const Options& options)
      : file(file), options(options), random(options.seed) {}

  bool Write(uint8_t frameType, const std::vector<uint8_t>& payload) {
    FrameHeader header;
    header.magic = FRAME_MAGIC;
    header.frameType = frameType;
    const uint64_t ms =
        options.startMs + static_cast<uint64_t>(static_cast<double>(index) * 1000.0 / options.fps);
    header.seconds = options.startSeconds + static_cast<uint32_t>(ms / 1000);
    header.milliseconds = static_cast<uint16_t>(ms % 1000);
    header.dataLength = static_cast<uint32_t>(payload.size());
    header.reserved5 = static_cast<uint8_t>(random());
    header.reserved12 = static_cast<uint32_t>(random());
    for (uint8_t& b : header.reserved20) b = static_cast<uint8_t>(random());
    uint8_t bytes[FRAME_HEADER_SIZE];
    SerializeFrameHeader(header, bytes);
    ++index;
    return std::fwrite(bytes, 1, sizeof bytes, file) == sizeof bytes &&
           (payload.empty() ||
            std::fwrite(payload.data(), 1, payload.size(), file) == payload.size());
  }

  uint32_t Frames() const { return index; }

 private:
  FILE* file;
  Options options;
  std::mt19937 random;
  uint32_t index = 0;
};

bool ParseOptions(int argc, char** argv, int first, Options* options,
                  std::vector<std::string>* positional) {
  for (int i = first; i < argc; ++i) {
    std::string arg = argv[i];
    if ((arg == "--start" || arg == "--start-ms" || arg == "--fps" || arg == "--seed") &&
        i + 1 < argc) {
      const char* value = argv[++i];
      if (arg == "--start-ms")
        options->startMs = static_cast<uint32_t>(std::strtoul(value, nullptr, 10));
      if (arg == "--start")
        options->startSeconds = static_cast<uint32_t>(std::strtoul(value, nullptr, 10));
      if (arg == "--fps") options->fps = std::strtod(value, nullptr);
      if (arg == "--seed") options->seed = static_cast<uint32_t>(std::strtoul(value, nullptr, 10));
    } else if (arg.rfind("--", 0) == 0) {
      std::fprintf(stderr, "unknown option %s\n", arg.c_str());
      return false;
    } else {
      positional->push_back(arg);
    }
  }
  if (options->fps <= 0) {
    std::fprintf(stderr, "--fps must be above 0\n");
    return false;
  }
  return true;
}

int Finish(FILE* out, const std::string& path, const RecordingWriter& writer, bool ok) {
  if (std::fclose(out) != 0) ok = false;
  if (!ok) {
    std::fprintf(stderr, "%s: write failed\n", path.c_str());
    return 1;
  }
  std::printf("%s: %u frames\n", path.c_str(), writer.Frames());
  return 0;
}

int MakeH264(const std::vector<std::string>& args, const Options& options) {
  if (args.size() != 2) return 2;
  std::vector<uint8_t> stream;
  if (!ReadWholeFile(args[0], &stream)) {
    std::fprintf(stderr, "%s: cannot read\n", args[0].c_str());
    return 1;
  }
  std::vector<bool> idr;
  std::vector<std::vector<uint8_t>> units = SplitAccessUnits(stream, &idr);
  FILE* out = std::fopen(args[1].c_str(), "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "%s: cannot create\n", args[1].c_str());
    return 1;
  }
  RecordingWriter writer(out, options);
  bool ok = true;
  for (size_t i = 0; i < units.size() && ok; ++i) {
    if (units[i].size() > MAX_FRAME_LENGTH) {
      std::fprintf(stderr, "access unit %zu is larger than a frame may be\n", i);
      ok = false;
      break;
    }
    ok = writer.Write(idr[i] ? FRAME_H264_KEY : FRAME_H264_NONKEY, units[i]);
  }
  return Finish(out, args[1], writer, ok);
}

int MakeJpeg(const std::vector<std::string>& args, const Options& options) {
  if (args.size() < 2) return 2;
  FILE* out = std::fopen(args[0].c_str(), "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "%s: cannot create\n", args[0].c_str());
    return 1;
  }
  RecordingWriter writer(out, options);
  bool ok = true;
  for (size_t i = 1; i < args.size() && ok; ++i) {
    std::vector<uint8_t> jpeg;
    ok = ReadWholeFile(args[i], &jpeg) && jpeg.size() <= MAX_FRAME_LENGTH &&
         writer.Write(FRAME_JPEG, jpeg);
    if (!ok) std::fprintf(stderr, "%s: cannot read or too large\n", args[i].c_str());
  }
  return Finish(out, args[0], writer, ok);
}

// Junk before the first header, a header with a foreign type, one with a length over the
// limit, a frame whose magic is broken (its payload then crossed byte by byte), and a last
// frame cut short by the end of the file.
int DamageRecording(const std::vector<std::string>& args) {
  if (args.size() != 2) return 2;
  std::vector<uint8_t> in;
  if (!ReadWholeFile(args[0], &in)) {
    std::fprintf(stderr, "%s: cannot read\n", args[0].c_str());
    return 1;
  }
  std::vector<size_t> offsets;
  for (size_t at = 0; at + FRAME_HEADER_SIZE <= in.size();) {
    FrameHeader h = ParseFrameHeader(in.data() + at);
    if (!IsValidFrameHeader(h) || at + FRAME_HEADER_SIZE + h.dataLength > in.size()) break;
    offsets.push_back(at);
    at += FRAME_HEADER_SIZE + h.dataLength;
  }
  if (offsets.size() < 8) {
    std::fprintf(stderr, "%s: needs at least 8 whole frames\n", args[0].c_str());
    return 1;
  }
  std::vector<uint8_t> out(in);
  out[offsets[3] + 4] = 2;                                  // a type no player takes
  out[offsets[5] + 18] = 0x10;                              // dataLength 0x10xxxx > limit
  out[offsets[6]] = 0x54;                                   // magic broken
  out.resize(offsets.back() + FRAME_HEADER_SIZE + 5);       // last payload cut short
  const uint8_t junk[45] = {0x13, 0x37, 0x55, 0xAA, 0x15};  // a magic inside the junk's header
  out.insert(out.begin(), junk, junk + sizeof junk);
  FILE* file = std::fopen(args[1].c_str(), "wb");
  if (file == nullptr || std::fwrite(out.data(), 1, out.size(), file) != out.size()) {
    std::fprintf(stderr, "%s: cannot write\n", args[1].c_str());
    if (file != nullptr) std::fclose(file);
    return 1;
  }
  std::fclose(file);
  std::printf("%s: %zu bytes\n", args[1].c_str(), out.size());
  return 0;
}

void Usage() {
  std::fputs(
      "usage: quendrel-make-recording h264 STREAM.h264 OUT [--start S] [--start-ms MS]\n"
      "                              [--fps R] [--seed N]\n"
      "       quendrel-make-recording jpeg OUT FILE.jpg... [--start S] [--fps R] [--seed N]\n"
      "       quendrel-make-recording damage IN OUT\n",
      stderr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    Usage();
    return 2;
  }
  Options options;
  std::vector<std::string> args;
  if (!ParseOptions(argc, argv, 2, &options, &args)) return 2;
  std::string command = argv[1];
  int status = 2;
  if (command == "h264") status = MakeH264(args, options);
  if (command == "jpeg") status = MakeJpeg(args, options);
  if (command == "damage") status = DamageRecording(args);
  if (status == 2) Usage();
  return status;
}
