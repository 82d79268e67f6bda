#pragma once

// An independent reading of an AVI file for the tests: walks every RIFF list and chunk,
// checks that the sizes add up to the file, and resolves both indexes (idx1 and the
// OpenDML indx/ix00) to the sample chunks they point at. Any inconsistency is an error.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace avitest {

inline uint32_t FourCc(const char* s) {
  return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
         uint32_t(uint8_t(s[3])) << 24;
}

inline std::string FourCcText(uint32_t v) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

struct Sample {
  uint64_t offset = 0;  // of the chunk header
  uint32_t size = 0;
  bool key = false;
};

struct AviLayout {
  std::string error;  // empty when the file is consistent
  std::vector<uint8_t> bytes;

  // avih
  uint32_t microSecPerFrame = 0, maxBytesPerSec = 0, flags = 0, totalFrames = 0;
  uint32_t streams = 0, suggestedBufferSize = 0, width = 0, height = 0;
  // strh
  uint32_t fccType = 0, fccHandler = 0, streamFlags = 0, initialFrames = 0, scale = 0, rate = 0;
  uint32_t start = 0, length = 0, streamBufferSize = 0, quality = 0, sampleSize = 0;
  uint16_t priority = 0, language = 0;
  int16_t frameLeft = 0, frameTop = 0, frameRight = 0, frameBottom = 0;
  // strf
  std::vector<uint8_t> format;
  // OpenDML
  bool hasSuperIndex = false;
  bool hasDmlh = false;
  uint32_t dmlhTotalFrames = 0;
  uint32_t riffCount = 0;

  std::vector<Sample> moviChunks;  // every 00dc chunk of every movi list, in file order
  std::vector<Sample> idx1;        // resolved idx1 entries
  bool hasIdx1 = false;
  std::vector<Sample> odmlIndex;  // resolved ix00 entries of all RIFF lists, in order

  // The samples in order, as a reader would take them: the OpenDML index when there is
  // one, otherwise idx1.
  const std::vector<Sample>& Samples() const { return hasSuperIndex ? odmlIndex : idx1; }
  std::vector<uint8_t> Payload(const Sample& s) const {
    return std::vector<uint8_t>(bytes.begin() + s.offset + 8,
                                bytes.begin() + s.offset + 8 + s.size);
  }
  uint32_t FormatU32(size_t at) const {
    return at + 4 <= format.size() ? U32(format.data() + at) : 0;
  }
  uint16_t FormatU16(size_t at) const {
    return at + 2 <= format.size() ? U16(format.data() + at) : 0;
  }

  static uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
  static uint32_t U32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  }
  static uint64_t U64(const uint8_t* p) { return uint64_t(U32(p)) | uint64_t(U32(p + 4)) << 32; }
};

namespace detail {

struct Parser {
  AviLayout& out;
  const uint8_t* d;
  uint64_t n;
  uint64_t firstMoviFourCc = 0;
  std::vector<std::pair<uint64_t, uint32_t>> superEntries;  // ix00 offset, duration

  bool Fail(const std::string& why) {
    if (out.error.empty()) out.error = why;
    return false;
  }

  bool ChunkAt(uint64_t at, uint64_t end, uint32_t* id, uint32_t* size) {
    if (at + 8 > end) return Fail("chunk header past its list at " + std::to_string(at));
    *id = AviLayout::U32(d + at);
    *size = AviLayout::U32(d + at + 4);
    if (at + 8 + *size > end) {
      return Fail("chunk " + FourCcText(*id) + " at " + std::to_string(at) + " past its list");
    }
    return true;
  }

  bool ParseHdrl(uint64_t at, uint64_t end) {
    while (at < end) {
      uint32_t id, size;
      if (!ChunkAt(at, end, &id, &size)) return false;
      const uint8_t* p = d + at + 8;
      if (id == FourCc("avih")) {
        if (size != 56) return Fail("avih size");
        out.microSecPerFrame = AviLayout::U32(p);
        out.maxBytesPerSec = AviLayout::U32(p + 4);
        out.flags = AviLayout::U32(p + 12);
        out.totalFrames = AviLayout::U32(p + 16);
        out.streams = AviLayout::U32(p + 24);
        out.suggestedBufferSize = AviLayout::U32(p + 28);
        out.width = AviLayout::U32(p + 32);
        out.height = AviLayout::U32(p + 36);
      } else if (id == FourCc("LIST") && size >= 4 && AviLayout::U32(p) == FourCc("strl")) {
        if (!ParseStrl(at + 12, at + 8 + size)) return false;
      } else if (id == FourCc("LIST") && size >= 4 && AviLayout::U32(p) == FourCc("odml")) {
        uint32_t cid, csize;
        if (!ChunkAt(at + 12, at + 8 + size, &cid, &csize)) return false;
        if (cid != FourCc("dmlh") || csize < 4) return Fail("odml without dmlh");
        out.hasDmlh = true;
        out.dmlhTotalFrames = AviLayout::U32(d + at + 20);
      }
      at += 8 + size + (size & 1);
    }
    return true;
  }

  bool ParseStrl(uint64_t at, uint64_t end) {
    while (at < end) {
      uint32_t id, size;
      if (!ChunkAt(at, end, &id, &size)) return false;
      const uint8_t* p = d + at + 8;
      if (id == FourCc("strh")) {
        if (size != 56) return Fail("strh size");
        out.fccType = AviLayout::U32(p);
        out.fccHandler = AviLayout::U32(p + 4);
        out.streamFlags = AviLayout::U32(p + 8);
        out.priority = AviLayout::U16(p + 12);
        out.language = AviLayout::U16(p + 14);
        out.initialFrames = AviLayout::U32(p + 16);
        out.scale = AviLayout::U32(p + 20);
        out.rate = AviLayout::U32(p + 24);
        out.start = AviLayout::U32(p + 28);
        out.length = AviLayout::U32(p + 32);
        out.streamBufferSize = AviLayout::U32(p + 36);
        out.quality = AviLayout::U32(p + 40);
        out.sampleSize = AviLayout::U32(p + 44);
        out.frameLeft = int16_t(AviLayout::U16(p + 48));
        out.frameTop = int16_t(AviLayout::U16(p + 50));
        out.frameRight = int16_t(AviLayout::U16(p + 52));
        out.frameBottom = int16_t(AviLayout::U16(p + 54));
      } else if (id == FourCc("strf")) {
        out.format.assign(p, p + size);
      } else if (id == FourCc("indx")) {
        if (size < 24 || AviLayout::U16(p) != 4 || p[3] != 0) return Fail("indx header");
        const uint32_t entries = AviLayout::U32(p + 4);
        if (AviLayout::U32(p + 8) != FourCc("00dc")) return Fail("indx chunk id");
        if (24 + uint64_t(entries) * 16 > size) return Fail("indx entries past the chunk");
        out.hasSuperIndex = true;
        for (uint32_t i = 0; i < entries; ++i) {
          const uint8_t* e = p + 24 + 16 * i;
          superEntries.emplace_back(AviLayout::U64(e), AviLayout::U32(e + 12));
          const uint32_t ixSize = AviLayout::U32(e + 8);
          if (AviLayout::U64(e) + ixSize > n) return Fail("indx entry past the file");
        }
      }
      at += 8 + size + (size & 1);
    }
    return true;
  }

  bool ParseMovi(uint64_t at, uint64_t end) {
    while (at < end) {
      uint32_t id, size;
      if (!ChunkAt(at, end, &id, &size)) return false;
      if (id == FourCc("00dc")) {
        out.moviChunks.push_back(Sample{at, size, false});
      } else if (id != FourCc("ix00") && id != FourCc("JUNK")) {
        return Fail("unexpected chunk in movi: " + FourCcText(id));
      }
      at += 8 + size + (size & 1);
    }
    return true;
  }

  bool ResolveChunk(uint64_t offset, uint32_t size, bool key, std::vector<Sample>* into) {
    if (offset + 8 > n || AviLayout::U32(d + offset) != FourCc("00dc") ||
        AviLayout::U32(d + offset + 4) != size) {
      return Fail("index entry does not point at a 00dc chunk of its size: " +
                  std::to_string(offset));
    }
    into->push_back(Sample{offset, size, key});
    return true;
  }

  bool ParseIdx1(uint64_t at, uint32_t size) {
    out.hasIdx1 = true;
    if (size % 16 != 0) return Fail("idx1 size");
    for (uint32_t i = 0; i < size / 16; ++i) {
      const uint8_t* e = d + at + 16 * i;
      if (AviLayout::U32(e) != FourCc("00dc")) return Fail("idx1 chunk id");
      const uint64_t offset = firstMoviFourCc + AviLayout::U32(e + 8);
      if (!ResolveChunk(offset, AviLayout::U32(e + 12), (AviLayout::U32(e + 4) & 0x10) != 0,
                        &out.idx1)) {
        return false;
      }
    }
    return true;
  }

  bool ParseStdIndexes() {
    for (const auto& [offset, duration] : superEntries) {
      uint32_t id, size;
      if (!ChunkAt(offset, n, &id, &size)) return false;
      if (id != FourCc("ix00") || size < 24) return Fail("superindex entry not at an ix00");
      const uint8_t* p = d + offset + 8;
      if (AviLayout::U16(p) != 2 || p[3] != 1) return Fail("ix00 header");
      const uint32_t entries = AviLayout::U32(p + 4);
      if (entries != duration) return Fail("ix00 entries differ from the superindex duration");
      if (24 + uint64_t(entries) * 8 > size) return Fail("ix00 entries past the chunk");
      const uint64_t base = AviLayout::U64(p + 12);
      for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t* e = p + 24 + 8 * i;
        const uint32_t sizeField = AviLayout::U32(e + 4);
        const uint64_t dataOffset = base + AviLayout::U32(e);
        if (dataOffset < 8) return Fail("ix00 offset");
        if (!ResolveChunk(dataOffset - 8, sizeField & 0x7FFFFFFF, (sizeField & 0x80000000u) == 0,
                          &out.odmlIndex)) {
          return false;
        }
      }
    }
    return true;
  }

  void Run() {
    uint64_t at = 0;
    while (at < n) {
      uint32_t id, size;
      if (!ChunkAt(at, n, &id, &size)) return;
      if (id != FourCc("RIFF") || size < 4) {
        Fail("not a RIFF list at " + std::to_string(at));
        return;
      }
      const uint32_t form = AviLayout::U32(d + at + 8);
      const bool first = out.riffCount == 0;
      if (first ? form != FourCc("AVI ") : form != FourCc("AVIX")) {
        Fail("RIFF form " + FourCcText(form));
        return;
      }
      ++out.riffCount;
      const uint64_t end = at + 8 + size;
      uint64_t c = at + 12;
      bool sawMovi = false;
      while (c < end) {
        uint32_t cid, csize;
        if (!ChunkAt(c, end, &cid, &csize)) return;
        const uint32_t listType = csize >= 4 ? AviLayout::U32(d + c + 8) : 0;
        if (cid == FourCc("LIST") && listType == FourCc("hdrl") && first) {
          if (!ParseHdrl(c + 12, c + 8 + csize)) return;
        } else if (cid == FourCc("LIST") && listType == FourCc("movi")) {
          if (first) firstMoviFourCc = c + 8;
          sawMovi = true;
          if (!ParseMovi(c + 12, c + 8 + csize)) return;
        } else if (cid == FourCc("idx1") && first) {
          if (!ParseIdx1(c + 8, csize)) return;
        } else if (cid != FourCc("JUNK")) {
          Fail("unexpected chunk in RIFF: " + FourCcText(cid));
          return;
        }
        c += 8 + csize + (csize & 1);
      }
      if (!sawMovi) {
        Fail("RIFF without movi");
        return;
      }
      at = end + (size & 1);
    }
    if (at != n) {
      Fail("RIFF lists do not end at the end of the file");
      return;
    }
    if (out.hasSuperIndex && !ParseStdIndexes()) return;
  }
};

}  // namespace detail

inline AviLayout ReadAviLayout(const std::string& path) {
  AviLayout layout;
  layout.bytes = testsupport::ReadFileBytes(path);
  if (layout.bytes.size() < 12) {
    layout.error = "file missing or too short";
    return layout;
  }
  detail::Parser parser{layout, layout.bytes.data(), layout.bytes.size(), 0, {}};
  parser.Run();
  return layout;
}

// Runs a shell command and returns its standard output; *status gets the exit status.
inline std::string RunCommand(const std::string& command, int* status = nullptr) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    if (status) *status = -1;
    return output;
  }
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  const int result = pclose(pipe);
  if (status) *status = result;
  return output;
}

inline std::string Quoted(const std::string& path) {
  return testsupport::ShellQuoted(path);
}

struct ProbedPacket {
  int64_t dts = 0;  // in samples
  uint32_t size = 0;
  bool key = false;
};

// The video packets as ffprobe reads them (it skips empty samples but counts them in the
// time stamps). For H.264 ffmpeg takes the key flags from the bitstream, not the index.
inline std::vector<ProbedPacket> ProbePackets(const std::string& path, int* status) {
  std::string text = RunCommand(
      "ffprobe -v error -select_streams v:0 -show_entries "
      "packet=dts,size,flags -of csv=p=0 " +
          Quoted(path) + " 2>/dev/null",
      status);
  std::vector<ProbedPacket> packets;
  size_t line = 0;
  while (line < text.size()) {
    size_t next = text.find('\n', line);
    if (next == std::string::npos) next = text.size();
    const std::string row = text.substr(line, next - line);
    line = next + 1;
    long long dts = 0;
    unsigned size = 0;
    char flags[8] = {};
    if (std::sscanf(row.c_str(), "%lld,%u,%7s", &dts, &size, flags) == 3) {
      packets.push_back(ProbedPacket{dts, size, flags[0] == 'K'});
    }
  }
  return packets;
}

// One stream entry of ffprobe, e.g. ProbeStream(path, "codec_tag_string").
inline std::string ProbeStream(const std::string& path, const std::string& entry) {
  std::string text =
      RunCommand("ffprobe -v error -select_streams v:0 -show_entries stream=" + entry +
                 " -of default=nw=1:nk=1 " + Quoted(path) + " 2>/dev/null");
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace avitest
