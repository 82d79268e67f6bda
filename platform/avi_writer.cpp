#include "platform/avi_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

namespace platform {
namespace {

constexpr uint32_t AVIF_HASINDEX = 0x10;
// The first RIFF is kept this small so that every AVI reader can read it.
constexpr uint64_t MAX_RIFF_LIMIT = uint64_t{1} << 30;
constexpr uint64_t MIN_RIFF_LIMIT = 4096;
// Room for 256 RIFF lists in the superindex: 256 GiB at the default limit.
constexpr uint32_t SUPER_INDEX_ENTRIES = 256;
constexpr uint32_t SUPER_INDEX_BYTES = 8 + 24 + 16 * SUPER_INDEX_ENTRIES;
constexpr uint32_t ODML_LIST_BYTES = 12 + 8 + 248;
constexpr uint32_t STD_INDEX_HEADER_BYTES = 8 + 24;
constexpr uint32_t STD_INDEX_ENTRY_BYTES = 8;
constexpr uint32_t IDX1_ENTRY_BYTES = 16;
constexpr uint32_t AVIX_START_BYTES = 24;  // RIFF size 'AVIX' LIST size 'movi'
constexpr uint32_t SAMPLE_CHUNK_ID = MakeFourCc("00dc");

class ByteWriter {
 public:
  explicit ByteWriter(std::vector<uint8_t>* bytes) : bytes(bytes) {}
  void U8(uint8_t v) { bytes->push_back(v); }
  void U16(uint16_t v) {
    U8(static_cast<uint8_t>(v));
    U8(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    U16(static_cast<uint16_t>(v));
    U16(static_cast<uint16_t>(v >> 16));
  }
  void U64(uint64_t v) {
    U32(static_cast<uint32_t>(v));
    U32(static_cast<uint32_t>(v >> 32));
  }
  void Zeros(size_t n) { bytes->insert(bytes->end(), n, 0); }
  void Bytes(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes->insert(bytes->end(), p, p + n);
  }
  size_t Size() const { return bytes->size(); }

 private:
  std::vector<uint8_t>* bytes;
};

int16_t ClampToInt16(int32_t v) {
  return static_cast<int16_t>(std::clamp<int32_t>(v, INT16_MIN, INT16_MAX));
}

// Writes all of size bytes at offset; false if any of them could not be written.
bool WriteAt(int fd, uint64_t offset, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    ssize_t done = pwrite(fd, p, size, static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    p += done;
    size -= static_cast<size_t>(done);
    offset += static_cast<uint64_t>(done);
  }
  return true;
}

// The same for a chunk in up to three pieces (header, payload, pad byte), in one call when
// the kernel takes it whole.
bool WriteChunkAt(int fd, uint64_t offset, iovec* pieces, int count) {
  while (count > 0) {
    ssize_t done = pwritev(fd, pieces, count, static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    offset += static_cast<uint64_t>(done);
    while (count > 0 && static_cast<size_t>(done) >= pieces->iov_len) {
      done -= static_cast<ssize_t>(pieces->iov_len);
      ++pieces;
      --count;
    }
    if (count > 0) {
      pieces->iov_base = static_cast<uint8_t*>(pieces->iov_base) + done;
      pieces->iov_len -= static_cast<size_t>(done);
    }
  }
  return true;
}

uint64_t FileSize(int fd) {
  struct stat status {};
  if (fstat(fd, &status) != 0) return 0;
  return static_cast<uint64_t>(status.st_size);
}

uint32_t ChunkBytes(uint32_t payload) {
  return 8 + payload + (payload & 1);
}

}  // namespace

struct AviFile::Core {
  struct Sample {
    uint64_t offset;  // of the chunk header
    uint32_t size;
    uint32_t flags;
  };
  struct RiffEntry {
    uint64_t indexOffset;  // of its ix00 chunk
    uint32_t indexBytes;
    uint32_t samples;
  };

  int fd = -1;
  std::string path;
  uint64_t riffLimit = MAX_RIFF_LIMIT;

  bool hasStream = false;
  bool hasFormat = false;  // the header block is on disk
  bool failed = false;     // a write failed; nothing more is accepted
  uint64_t diskEnd = 0;    // the file's size when the write failed

  AviStreamInfo info;
  std::vector<uint8_t> format;

  uint64_t riffOffset = 0;  // start of the RIFF list now open
  uint64_t moviOffset = 0;  // its 'LIST' movi header
  bool riffOpen = false;
  uint64_t writeEnd = 0;        // end of the last whole sample
  std::vector<Sample> samples;  // those of the open RIFF

  std::vector<RiffEntry> closedRiffs;
  uint32_t firstRiffSamples = 0;
  uint64_t firstRiffEnd = 0;
  uint64_t firstMoviEnd = 0;
  bool firstHasIdx1 = true;
  uint32_t samplesInClosedRiffs = 0;

  uint32_t largestSample = 0;
  uint64_t currentSecond = 0;
  uint64_t bytesThisSecond = 0;
  uint64_t maxBytesPerSecond = 0;

  ~Core() { Complete(); }

  uint32_t HeaderBytes() const {
    const uint32_t formatPadded = static_cast<uint32_t>(format.size() + (format.size() & 1));
    return 12 + 12 + 64 + 12 + 64 + 8 + formatPadded + SUPER_INDEX_BYTES + ODML_LIST_BYTES + 12;
  }

  bool InFirstRiff() const { return closedRiffs.empty(); }

  uint32_t TotalSamples() const {
    return samplesInClosedRiffs + static_cast<uint32_t>(samples.size());
  }

  uint64_t EndOfSamples(size_t count) const {
    if (count == 0) return moviOffset + 12;
    const Sample& last = samples[count - 1];
    return last.offset + ChunkBytes(last.size);
  }

  static uint64_t StdIndexBytes(size_t count) {
    return STD_INDEX_HEADER_BYTES + uint64_t{STD_INDEX_ENTRY_BYTES} * count;
  }
  static uint64_t Idx1Bytes(size_t count) { return 8 + uint64_t{IDX1_ENTRY_BYTES} * count; }

  // Bytes that closing the open RIFF after count samples adds after them.
  uint64_t TailBytes(size_t count, bool withStdIndex, bool withIdx1) const {
    return (withStdIndex ? StdIndexBytes(count) : 0) + (withIdx1 ? Idx1Bytes(count) : 0);
  }

  void BuildStdIndex(size_t count, ByteWriter& out) const {
    out.U32(MakeFourCc("ix00"));
    out.U32(static_cast<uint32_t>(StdIndexBytes(count) - 8));
    out.U16(2);  // longs per entry
    out.U8(0);
    out.U8(1);  // an index of chunks
    out.U32(static_cast<uint32_t>(count));
    out.U32(SAMPLE_CHUNK_ID);
    out.U64(riffOffset);
    out.U32(0);
    for (size_t i = 0; i < count; ++i) {
      out.U32(static_cast<uint32_t>(samples[i].offset + 8 - riffOffset));
      // Bit 31 marks a sample that is not a key frame.
      out.U32(samples[i].size | ((samples[i].flags & AVIIF_KEYFRAME) ? 0u : 0x80000000u));
    }
  }

  void BuildIdx1(size_t count, ByteWriter& out) const {
    out.U32(MakeFourCc("idx1"));
    out.U32(static_cast<uint32_t>(Idx1Bytes(count) - 8));
    const uint64_t moviFourCc = moviOffset + 8;
    for (size_t i = 0; i < count; ++i) {
      out.U32(SAMPLE_CHUNK_ID);
      out.U32(samples[i].flags & AVIIF_KEYFRAME);
      out.U32(static_cast<uint32_t>(samples[i].offset - moviFourCc));
      out.U32(samples[i].size);
    }
  }

  // Ends the open RIFF with its indexes. When the disk takes less than that needs, the last
  // samples are given up until the indexes fit in what the disk did take; the file then
  // ends at the indexes. Returns false only if the tail could not be written at all.
  bool CloseRiff(bool continuing) {
    const bool first = InFirstRiff();
    const bool withStdIndex = continuing || !first;
    bool withIdx1 = first;
    uint64_t limitEnd = failed ? diskEnd : UINT64_MAX;
    size_t count = samples.size();
    std::vector<uint8_t> tail;
    for (;;) {
      while (count > 0 && EndOfSamples(count) + TailBytes(count, withStdIndex, withIdx1) > limitEnd)
        --count;
      // An AVIX list left without samples is given up whole.
      if (!first && count == 0) return false;
      if (EndOfSamples(count) + TailBytes(count, withStdIndex, withIdx1) > limitEnd) {
        if (!first || continuing) return false;
        // Not even an empty idx1 fits: the first RIFF ends at its header, without an index.
        withIdx1 = false;
      }
      tail.clear();
      try {
        tail.reserve(TailBytes(count, withStdIndex, withIdx1));
      } catch (const std::bad_alloc&) {
        return false;
      }
      ByteWriter out(&tail);
      if (withStdIndex) BuildStdIndex(count, out);
      if (withIdx1) BuildIdx1(count, out);
      const uint64_t at = EndOfSamples(count);
      if (tail.empty() || WriteAt(fd, at, tail.data(), tail.size())) break;
      const uint64_t reached = FileSize(fd);
      limitEnd = std::min(reached, at + tail.size() - 1);
      if (continuing) return false;
    }

    const uint64_t samplesEnd = EndOfSamples(count);
    const uint64_t moviEnd = samplesEnd + (withStdIndex ? StdIndexBytes(count) : 0);
    const uint64_t riffEnd = moviEnd + (withIdx1 ? Idx1Bytes(count) : 0);
    if (withStdIndex) {
      closedRiffs.push_back(RiffEntry{samplesEnd, static_cast<uint32_t>(StdIndexBytes(count)),
                                      static_cast<uint32_t>(count)});
    }
    if (first) {
      firstRiffSamples = static_cast<uint32_t>(count);
      firstRiffEnd = riffEnd;
      firstMoviEnd = moviEnd;
      firstHasIdx1 = withIdx1;
    } else {
      uint8_t sizes[4];
      PutU32(sizes, static_cast<uint32_t>(riffEnd - riffOffset - 8));
      WriteAt(fd, riffOffset + 4, sizes, 4);
      PutU32(sizes, static_cast<uint32_t>(moviEnd - moviOffset - 8));
      WriteAt(fd, moviOffset + 4, sizes, 4);
    }
    samplesInClosedRiffs += static_cast<uint32_t>(count);
    samples.clear();
    riffOpen = false;
    writeEnd = riffEnd;
    return true;
  }

  static void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  }

  bool StartAvix() {
    std::vector<uint8_t> start;
    ByteWriter out(&start);
    out.U32(MakeFourCc("RIFF"));
    out.U32(4 + 12);
    out.U32(MakeFourCc("AVIX"));
    out.U32(MakeFourCc("LIST"));
    out.U32(4);
    out.U32(MakeFourCc("movi"));
    if (!WriteAt(fd, writeEnd, start.data(), start.size())) return false;
    riffOffset = writeEnd;
    moviOffset = writeEnd + 12;
    writeEnd += AVIX_START_BYTES;
    riffOpen = true;
    return true;
  }

  std::vector<uint8_t> BuildHeader() const {
    const bool odml = !closedRiffs.empty();
    // Until the first RIFF is closed its sizes are those of an empty file.
    const bool firstOpen = riffOpen && InFirstRiff();
    const uint32_t total = TotalSamples();
    const uint32_t firstSamples = firstOpen ? total : firstRiffSamples;
    const uint32_t suggested = std::max(info.dwSuggestedBufferSize, largestSample);
    const uint64_t riffEnd = firstOpen ? 0 : firstRiffEnd;
    const uint64_t moviEnd = firstOpen ? 0 : firstMoviEnd;
    const bool hasIdx1 = !firstOpen && firstHasIdx1;

    std::vector<uint8_t> header;
    header.reserve(HeaderBytes());
    ByteWriter out(&header);
    const uint32_t headerBytes = HeaderBytes();
    out.U32(MakeFourCc("RIFF"));
    out.U32(riffEnd > 8 ? static_cast<uint32_t>(riffEnd - 8) : headerBytes - 8);
    out.U32(MakeFourCc("AVI "));
    out.U32(MakeFourCc("LIST"));
    out.U32(headerBytes - 12 - 8 - 12);
    out.U32(MakeFourCc("hdrl"));

    out.U32(MakeFourCc("avih"));
    out.U32(56);
    out.U32(
        static_cast<uint32_t>((uint64_t{1000000} * info.dwScale + info.dwRate / 2) / info.dwRate));
    out.U32(static_cast<uint32_t>(std::min<uint64_t>(maxBytesPerSecond, UINT32_MAX)));
    out.U32(0);  // padding granularity
    out.U32(hasIdx1 ? AVIF_HASINDEX : 0);
    out.U32(firstSamples);
    out.U32(0);  // initial frames
    out.U32(1);  // streams
    out.U32(suggested);
    out.U32(static_cast<uint32_t>(info.rcFrame.right - info.rcFrame.left));
    out.U32(static_cast<uint32_t>(info.rcFrame.bottom - info.rcFrame.top));
    out.Zeros(16);

    const uint32_t formatPadded = static_cast<uint32_t>(format.size() + (format.size() & 1));
    out.U32(MakeFourCc("LIST"));
    out.U32(4 + 64 + 8 + formatPadded + SUPER_INDEX_BYTES);
    out.U32(MakeFourCc("strl"));
    out.U32(MakeFourCc("strh"));
    out.U32(56);
    out.U32(info.fccType);
    out.U32(info.fccHandler);
    out.U32(info.dwFlags);
    out.U16(info.wPriority);
    out.U16(info.wLanguage);
    out.U32(info.dwInitialFrames);
    out.U32(info.dwScale);
    out.U32(info.dwRate);
    out.U32(info.dwStart);
    out.U32(total);
    out.U32(suggested);
    out.U32(info.dwQuality);
    out.U32(info.dwSampleSize);
    out.U16(static_cast<uint16_t>(ClampToInt16(info.rcFrame.left)));
    out.U16(static_cast<uint16_t>(ClampToInt16(info.rcFrame.top)));
    out.U16(static_cast<uint16_t>(ClampToInt16(info.rcFrame.right)));
    out.U16(static_cast<uint16_t>(ClampToInt16(info.rcFrame.bottom)));

    out.U32(MakeFourCc("strf"));
    out.U32(static_cast<uint32_t>(format.size()));
    out.Bytes(format.data(), format.size());
    out.Zeros(formatPadded - format.size());

    // The superindex and the OpenDML header have their room from the start, as JUNK while
    // the file is a plain AVI file.
    if (odml) {
      out.U32(MakeFourCc("indx"));
      out.U32(SUPER_INDEX_BYTES - 8);
      out.U16(4);  // longs per entry
      out.U8(0);
      out.U8(0);  // an index of indexes
      out.U32(static_cast<uint32_t>(closedRiffs.size()));
      out.U32(SAMPLE_CHUNK_ID);
      out.Zeros(12);
      for (const RiffEntry& riff : closedRiffs) {
        out.U64(riff.indexOffset);
        out.U32(riff.indexBytes);
        out.U32(riff.samples);
      }
      out.Zeros(16 * (SUPER_INDEX_ENTRIES - closedRiffs.size()));
      out.U32(MakeFourCc("LIST"));
      out.U32(ODML_LIST_BYTES - 8);
      out.U32(MakeFourCc("odml"));
      out.U32(MakeFourCc("dmlh"));
      out.U32(248);
      out.U32(total);
      out.Zeros(244);
    } else {
      out.U32(MakeFourCc("JUNK"));
      out.U32(SUPER_INDEX_BYTES - 8);
      out.Zeros(SUPER_INDEX_BYTES - 8);
      out.U32(MakeFourCc("JUNK"));
      out.U32(ODML_LIST_BYTES - 8);
      out.Zeros(ODML_LIST_BYTES - 8);
    }

    out.U32(MakeFourCc("LIST"));
    out.U32(moviEnd > 0 ? static_cast<uint32_t>(moviEnd - (headerBytes - 12) - 8) : 4);
    out.U32(MakeFourCc("movi"));
    return header;
  }

  int SetFormat(const void* data, int32_t size) {
    if (hasFormat) return AVIERR_UNSUPPORTED;
    if (data == nullptr || size <= 0 || size > 0x10000) return AVIERR_BADPARAM;
    try {
      format.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    } catch (const std::bad_alloc&) {
      return AVIERR_MEMORY;
    }
    riffOffset = 0;
    moviOffset = HeaderBytes() - 12;
    riffOpen = true;
    std::vector<uint8_t> header = BuildHeader();
    if (!WriteAt(fd, 0, header.data(), header.size())) {
      format.clear();
      riffOpen = false;
      return AVIERR_FILEWRITE;
    }
    writeEnd = header.size();
    hasFormat = true;
    return AVIERR_OK;
  }

  int Write(const void* buffer, int32_t bytes, uint32_t flags) {
    if (!hasFormat) return AVIERR_BADFORMAT;
    if (failed || !riffOpen) return AVIERR_FILEWRITE;
    if (bytes < 0 || (bytes > 0 && buffer == nullptr)) return AVIERR_BADPARAM;
    if (TotalSamples() == INT32_MAX) return AVIERR_UNSUPPORTED;
    const uint32_t size = static_cast<uint32_t>(bytes);
    const uint64_t chunk = ChunkBytes(size);

    // A RIFF ends before it would pass the limit, counting the indexes that will close it.
    const size_t next = samples.size() + 1;
    const uint64_t closedEnd = writeEnd + chunk + TailBytes(next, true, InFirstRiff());
    if (closedEnd - riffOffset > riffLimit && !samples.empty()) {
      // The superindex needs a place for this RIFF and the next one.
      if (closedRiffs.size() + 2 > SUPER_INDEX_ENTRIES) return AVIERR_UNSUPPORTED;
      if (!CloseRiff(true) || !StartAvix()) {
        failed = true;
        diskEnd = FileSize(fd);
        return AVIERR_FILEWRITE;
      }
    }

    // Room for the index entry is made before the sample goes to disk, so that a sample on
    // disk always has its entry; the growth is geometric, as push_back's would be.
    if (samples.size() == samples.capacity()) {
      try {
        samples.reserve(std::max<size_t>(1024, samples.capacity() * 2));
      } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
      }
    }
    uint8_t head[8];
    PutU32(head, SAMPLE_CHUNK_ID);
    PutU32(head + 4, size);
    uint8_t pad = 0;
    iovec pieces[3] = {{head, 8}, {const_cast<void*>(buffer), size}, {&pad, size & 1}};
    const uint64_t at = writeEnd;
    if (!WriteChunkAt(fd, at, pieces, 3)) {
      failed = true;
      diskEnd = FileSize(fd);
      return AVIERR_FILEWRITE;
    }
    samples.push_back(Sample{at, size, flags});
    writeEnd = at + chunk;

    largestSample = std::max(largestSample, size);
    const uint64_t second = uint64_t{TotalSamples() - 1} * info.dwScale / info.dwRate;
    if (second != currentSecond) {
      currentSecond = second;
      bytesThisSecond = 0;
    }
    bytesThisSecond += size;
    maxBytesPerSecond = std::max(maxBytesPerSecond, bytesThisSecond);
    return AVIERR_OK;
  }

  void Complete() {
    if (fd < 0) return;
    if (!hasFormat) {
      // Without a stream and its format the file holds nothing a reader could play.
      close(fd);
      unlink(path.c_str());
      fd = -1;
      return;
    }
    if (riffOpen && !CloseRiff(false)) {
      // An AVIX list whose index cannot be written is given up whole.
      writeEnd = riffOffset;
      riffOpen = false;
    }
    if (ftruncate(fd, static_cast<off_t>(writeEnd)) != 0) {
      // The tail past writeEnd is outside every RIFF list, which readers skip.
    }
    std::vector<uint8_t> header = BuildHeader();
    WriteAt(fd, 0, header.data(), header.size());
    close(fd);
    fd = -1;
  }
};

AviFile::AviFile(std::shared_ptr<Core> core) : core(std::move(core)) {}
AviFile::~AviFile() = default;
AviStream::AviStream(std::shared_ptr<AviFile::Core> core) : core(std::move(core)) {}
AviStream::~AviStream() = default;

int AviFileOpen(std::unique_ptr<AviFile>* file, const std::string& path, uint32_t mode,
                const AviWriterOptions& options) {
  if (file == nullptr) return AVIERR_BADPARAM;
  file->reset();
  if ((mode & (OF_CREATE | OF_WRITE)) != (OF_CREATE | OF_WRITE)) return AVIERR_UNSUPPORTED;

  std::shared_ptr<AviFile::Core> core(new (std::nothrow) AviFile::Core);
  if (!core) return AVIERR_MEMORY;
  core->path = path;
  core->riffLimit = std::clamp(options.riffLimitBytes, MIN_RIFF_LIMIT, MAX_RIFF_LIMIT);

  // Non-blocking, so that a FIFO in the way fails at once instead of waiting for a reader;
  // only a regular file is truncated and written.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return AVIERR_FILEOPEN;
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || ftruncate(fd, 0) != 0) {
    close(fd);
    return AVIERR_FILEOPEN;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  core->fd = fd;

  file->reset(new (std::nothrow) AviFile(std::move(core)));
  return *file ? AVIERR_OK : AVIERR_MEMORY;
}

int AviFileCreateStream(AviFile* file, std::unique_ptr<AviStream>* stream,
                        const AviStreamInfo& info) {
  if (file == nullptr || stream == nullptr) return AVIERR_BADPARAM;
  stream->reset();
  AviFile::Core& core = *file->core;
  if (core.hasStream) return AVIERR_UNSUPPORTED;
  if (info.fccType != MakeFourCc("vids")) return AVIERR_UNSUPPORTED;
  if (info.dwRate == 0 || info.dwScale == 0) return AVIERR_BADPARAM;
  stream->reset(new (std::nothrow) AviStream(file->core));
  if (!*stream) return AVIERR_MEMORY;
  core.info = info;
  core.hasStream = true;
  return AVIERR_OK;
}

int AviStreamSetFormat(AviStream* stream, int32_t position, const void* format, int32_t size) {
  if (stream == nullptr || position != 0) return AVIERR_BADPARAM;
  return stream->core->SetFormat(format, size);
}

int AviStreamWrite(AviStream* stream, int32_t start, int32_t samples, const void* buffer,
                   int32_t bytes, uint32_t flags, int32_t* samplesWritten, int32_t* bytesWritten) {
  if (samplesWritten != nullptr) *samplesWritten = 0;
  if (bytesWritten != nullptr) *bytesWritten = 0;
  if (stream == nullptr || samples != 1) return AVIERR_BADPARAM;
  AviFile::Core& core = *stream->core;
  if (start < 0 || static_cast<uint32_t>(start) != core.TotalSamples()) return AVIERR_BADPARAM;
  const int result = core.Write(buffer, bytes, flags);
  if (result == AVIERR_OK) {
    if (samplesWritten != nullptr) *samplesWritten = 1;
    if (bytesWritten != nullptr) *bytesWritten = bytes;
  }
  return result;
}

}  // namespace platform
