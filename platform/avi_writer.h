#pragma once

#include <cstdint>
#include <memory>
#include <string>

// A writer of AVI files with one video stream: the calls the recorder makes, in the order it
// makes them (open, create the stream, set its format, write numbered samples, release).
// The file is a standard RIFF 'AVI ' file with an idx1 index; once it passes the RIFF size
// limit it goes on as an OpenDML (AVI 2.0) file in 'AVIX' RIFF lists indexed by indx/ix00,
// and the first RIFF keeps its idx1 for older readers. The headers and indexes are completed
// when the last of the file and its stream is released.
//
// One thread at a time may use a file and its stream. Results are 0 on success and negative
// on failure. After a failed write the file refuses
// further samples; on completion its headers and indexes describe exactly the samples that
// are wholly on disk, dropping the last ones if the index would not otherwise fit.
namespace platform {

constexpr uint32_t MakeFourCc(const char (&code)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(code[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(code[3])) << 24;
}

constexpr int32_t AVIERR_OK = 0;
constexpr int32_t AVIERR_UNSUPPORTED = -101;
constexpr int32_t AVIERR_BADPARAM = -102;
constexpr int32_t AVIERR_MEMORY = -103;
constexpr int32_t AVIERR_FILEOPEN = -104;
constexpr int32_t AVIERR_FILEWRITE = -105;
constexpr int32_t AVIERR_BADFORMAT = -106;

constexpr uint32_t OF_WRITE = 0x0001;
constexpr uint32_t OF_CREATE = 0x1000;

// Index flag of a sample at which decoding can begin.
constexpr uint32_t AVIIF_KEYFRAME = 0x10;

struct AviRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

// The stream header given when the stream is created. dwLength is the writer's to fill.
struct AviStreamInfo {
  uint32_t fccType = 0;
  uint32_t fccHandler = 0;
  uint32_t dwFlags = 0;
  uint32_t dwCaps = 0;
  uint16_t wPriority = 0;
  uint16_t wLanguage = 0;
  uint32_t dwScale = 0;
  uint32_t dwRate = 0;
  uint32_t dwStart = 0;
  uint32_t dwLength = 0;
  uint32_t dwInitialFrames = 0;
  uint32_t dwSuggestedBufferSize = 0;
  uint32_t dwQuality = 0;
  uint32_t dwSampleSize = 0;
  AviRect rcFrame;
  uint32_t dwEditCount = 0;
  uint32_t dwFormatChangeCount = 0;
  char szName[64] = {};
};

struct AviWriterOptions {
  // A RIFF list ends before it would grow past this many bytes and the file goes on in the
  // next; 1 GiB keeps the first RIFF readable by every AVI reader. Values are clamped to
  // [4 KiB, 1 GiB].
  uint64_t riffLimitBytes = uint64_t{1} << 30;
};

class AviFile;
class AviStream;

// Creates the file at path, replacing any file of that name. mode must include OF_CREATE
// and OF_WRITE (this writer does not read). On failure *file stays null and no file is made.
int AviFileOpen(std::unique_ptr<AviFile>* file, const std::string& path, uint32_t mode,
                const AviWriterOptions& options = {});

// Creates the one video stream ("vids", dwRate over dwScale samples per second, both
// non-zero). A second stream is refused.
int AviFileCreateStream(AviFile* file, std::unique_ptr<AviStream>* stream,
                        const AviStreamInfo& info);

// Sets the stream format (a BITMAPINFOHEADER for video) at position 0, once; the headers
// are written to the file here.
int AviStreamSetFormat(AviStream* stream, int32_t position, const void* format, int32_t size);

// Writes one sample at the next sample number (start must equal the samples written so
// far, samples must be 1). bytes 0 writes an empty sample. flags: AVIIF_KEYFRAME or 0.
// samplesWritten and bytesWritten may be null.
int AviStreamWrite(AviStream* stream, int32_t start, int32_t samples, const void* buffer,
                   int32_t bytes, uint32_t flags, int32_t* samplesWritten, int32_t* bytesWritten);

// Both handles share the open file; whichever is released last completes it on disk. A file
// completed before its stream and format were set holds nothing playable and is removed.
class AviFile {
 public:
  ~AviFile();
  AviFile(const AviFile&) = delete;
  AviFile& operator=(const AviFile&) = delete;

  struct Core;  // the open file, shared by both handles; defined in the .cpp only

 private:
  friend int AviFileOpen(std::unique_ptr<AviFile>*, const std::string&, uint32_t,
                         const AviWriterOptions&);
  friend int AviFileCreateStream(AviFile*, std::unique_ptr<AviStream>*, const AviStreamInfo&);
  explicit AviFile(std::shared_ptr<Core> core);
  std::shared_ptr<Core> core;
  friend class AviStream;
};

class AviStream {
 public:
  ~AviStream();
  AviStream(const AviStream&) = delete;
  AviStream& operator=(const AviStream&) = delete;

 private:
  friend int AviFileCreateStream(AviFile*, std::unique_ptr<AviStream>*, const AviStreamInfo&);
  friend int AviStreamSetFormat(AviStream*, int32_t, const void*, int32_t);
  friend int AviStreamWrite(AviStream*, int32_t, int32_t, const void*, int32_t, uint32_t, int32_t*,
                            int32_t*);
  explicit AviStream(std::shared_ptr<AviFile::Core> core);
  std::shared_ptr<AviFile::Core> core;
};

}  // namespace platform
