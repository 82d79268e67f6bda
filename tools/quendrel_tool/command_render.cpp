#include <QImage>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "h264/ddraw_renderer.h"
#include "h264/h264_decoder.h"
#include "h264/h264_player.h"
#include "jpeg/jpeg_player.h"
#include "platform/display.h"
#include "platform/memory_window.h"
#include "tools/quendrel_tool/tool.h"

namespace tool {
namespace {

constexpr const char* kUsage =
    "quendrel-tool render FILE OUTDIR [--depth 15|16|24|32] [--no-osd] [--png] [--size WxH]";
// How long one frame may take to be decoded and drawn before the run is given up.
constexpr auto kFrameGuard = std::chrono::seconds(60);

void PrintHelp() {
  std::printf(
      "usage: %s\n\n"
      "Plays FILE headless through the player's own reader, players and renderer, without\n"
      "pacing waits, into a window in memory, and writes every picture drawn to OUTDIR\n"
      "(made when missing). One tab-separated line per picture: index width height timestamp.\n\n"
      "H.264: OUTDIR/NNNNNN.raw holds the top-left width x height pixels of the off-screen\n"
      "surface right after conversion and overlay, rows tightly packed in the display's\n"
      "layout: 15 = 5-5-5 and 16 = 5-6-5 (little-endian words), 24 = B,G,R, 32 = B,G,R,0.\n"
      "JPEG: OUTDIR/NNNNNN.png of the window's client area as presented.\n\n"
      "  --depth N    display format (default 32)\n"
      "  --no-osd     H.264: no capture time over the picture\n"
      "  --png        H.264: NNNNNN.png of the same area instead of .raw\n"
      "  --size WxH   client area of the window (default 640x480)\n",
      kUsage);
}

struct RenderOptions {
  std::string path;
  std::string outDir;
  platform::PixelFormat format = platform::PixelFormat::Rgb32;
  bool osd = true;
  bool png = false;
  int32_t clientWidth = 640;
  int32_t clientHeight = 480;
};

bool ParseSize(const std::string& text, int32_t* width, int32_t* height) {
  const size_t x = text.find('x');
  if (x == std::string::npos) return false;
  int64_t w = 0;
  int64_t h = 0;
  if (!ParseInt64(text.substr(0, x), &w) || !ParseInt64(text.substr(x + 1), &h)) return false;
  if (w < 1 || h < 1 || w > platform::MAX_SURFACE_DIMENSION ||
      h > platform::MAX_SURFACE_DIMENSION) {
    return false;
  }
  *width = static_cast<int32_t>(w);
  *height = static_cast<int32_t>(h);
  return true;
}

// One picture taken from the window: tightly packed rows in a pixel layout.
struct Picture {
  std::vector<uint8_t> bytes;
  int32_t width = 0;
  int32_t height = 0;
  platform::PixelFormat format = platform::PixelFormat::Rgb32;
};

QImage::Format QtFormatOf(platform::PixelFormat format) {
  switch (format) {
    case platform::PixelFormat::Rgb555:
      return QImage::Format_RGB555;
    case platform::PixelFormat::Rgb565:
      return QImage::Format_RGB16;
    case platform::PixelFormat::Rgb24:
      return QImage::Format_BGR888;
    case platform::PixelFormat::Rgb32:
    case platform::PixelFormat::Palette8:
      break;
  }
  return QImage::Format_RGB32;
}

bool WritePng(const Picture& picture, const std::string& path) {
  const int32_t bytesPerPixel = platform::BytesPerPixel(picture.format);
  QImage view(picture.bytes.data(), picture.width, picture.height,
              static_cast<qsizetype>(picture.width) * bytesPerPixel, QtFormatOf(picture.format));
  QImage image = view.convertToFormat(QImage::Format_RGB32);
  // The fourth byte of a 32-bit pixel is 0 here; a PNG wants the pixels opaque.
  for (int y = 0; y < image.height(); ++y) {
    auto* row = reinterpret_cast<uint32_t*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) row[x] |= 0xFF000000u;
  }
  return image.save(QString::fromStdString(path), "PNG");
}

bool WriteRaw(const Picture& picture, const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written =
      picture.bytes.empty() ||
      std::fwrite(picture.bytes.data(), 1, picture.bytes.size(), file) == picture.bytes.size();
  return std::fclose(file) == 0 && written;
}

// What the reader's thread (this one) and the player's decode thread share: the pictures
// captured at presentation and the count of frames the decode thread has finished with.
class RenderSink {
 public:
  explicit RenderSink(const RenderOptions& options) : options(options) {}

  // Decode thread, inside the present: copies the picture area of the off-screen surface.
  void CaptureSurface(const platform::PixelView& source, const platform::Rect& area) {
    Picture picture;
    const int32_t bytesPerPixel = platform::BytesPerPixel(source.format);
    const platform::Rect clipped =
        platform::Intersect(area, platform::Rect{0, 0, source.width, source.height});
    picture.width = std::max(clipped.Width(), 0);
    picture.height = std::max(clipped.Height(), 0);
    picture.format = source.format;
    const size_t rowBytes = static_cast<size_t>(picture.width) * bytesPerPixel;
    picture.bytes.resize(rowBytes * static_cast<size_t>(picture.height));
    for (int32_t y = 0; y < picture.height; ++y) {
      const uint8_t* from = source.bits + static_cast<ptrdiff_t>(clipped.top + y) * source.pitch +
                            static_cast<ptrdiff_t>(clipped.left) * bytesPerPixel;
      std::memcpy(picture.bytes.data() + rowBytes * y, from, rowBytes);
    }
    std::lock_guard<std::mutex> guard(mutex);
    captured.push_back(std::move(picture));
  }

  // Decode thread: done with one frame, drawn or not.
  void FrameDone() {
    {
      std::lock_guard<std::mutex> guard(mutex);
      ++done;
    }
    changed.notify_all();
  }

  // Reader: waits until the decode thread has finished `count` frames.
  bool WaitDone(uint64_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, kFrameGuard, [&] { return done >= count; });
  }

  std::vector<Picture> TakeCaptured() {
    std::lock_guard<std::mutex> guard(mutex);
    std::vector<Picture> pictures = std::move(captured);
    captured.clear();
    return pictures;
  }

  // Reader: writes one picture and prints its line. Returns false when the file failed.
  bool Emit(const Picture& picture, uint32_t timestamp, bool png) {
    char name[32];
    std::snprintf(name, sizeof name, "/%06llu.%s", static_cast<unsigned long long>(index),
                  png ? "png" : "raw");
    const std::string path = options.outDir + name;
    if (!(png ? WritePng(picture, path) : WriteRaw(picture, path))) {
      ReportFileError("render", path, "cannot be written");
      return false;
    }
    std::printf("%llu\t%d\t%d\t%u\n", static_cast<unsigned long long>(index), picture.width,
                picture.height, static_cast<unsigned>(timestamp));
    ++index;
    return true;
  }

  const RenderOptions& options;
  bool failed = false;

 private:
  std::mutex mutex;
  std::condition_variable changed;
  uint64_t done = 0;
  std::vector<Picture> captured;
  uint64_t index = 0;
};

// The H.264 player with a decode loop that tells the sink when it is done with each frame,
// so that the reader hands on the next only then: the queue never reaches its flush rule.
class RenderH264Player final : public CH264Player {
 public:
  RenderH264Player(platform::Window* notifyWindow, platform::Window* videoWindow, RenderSink& sink)
      : CH264Player(notifyWindow, videoWindow), sink(sink) {}
  // The loop below uses this object's members: it ends before they go.
  ~RenderH264Player() override { StopDecodeThread(); }

  int InputData(const uint8_t* data, int32_t length, uint32_t keyFlag,
                uint32_t timestamp) override {
    if (sink.failed) return 1;
    CH264Player::InputData(data, length, keyFlag, timestamp);
    if (!sink.WaitDone(++handed)) {
      ReportFileError("render", sink.options.path, "a frame was not drawn in time");
      sink.failed = true;
      return 1;
    }
    for (const Picture& picture : sink.TakeCaptured()) {
      if (!sink.Emit(picture, timestamp, sink.options.png)) sink.failed = true;
    }
    return 1;
  }

  void DecodeLoop() override {
    while (running.load() != 0) {
      FrameItem item;
      if (!frameQueue || !frameQueue->Pop(&item)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      if (sink.options.osd) {
        DecodeFrame(&item);
      } else {
        DrawWithoutOverlay(&item);
      }
      sink.FrameDone();
    }
  }

 private:
  // DecodeFrame's decode and draw, with the overlay off.
  void DrawWithoutOverlay(FrameItem* item) {
    int32_t w = 0;
    int32_t h = 0;
    if (!decoder || !decoder->IsOpen() ||
        decoder->Decode(item->data.get(), item->length, &w, &h) == 0) {
      return;
    }
    const int64_t pixels = static_cast<int64_t>(w) * h;
    std::unique_ptr<uint8_t[]> picture(new (std::nothrow) uint8_t[pixels + pixels / 2]);
    if (!picture) return;
    decoder->CopyPicture(picture.get());
    CriticalSectionGuard guard(pictureLock);
    if (renderer) renderer->osdOn.store(0);
    DrawLocked(picture.get(), w, h);
  }

  RenderSink& sink;
  uint64_t handed = 0;
};

// The JPEG player as it is; the reader waits for each picture to be presented and takes the
// window's client pixels.
class RenderJpegPlayer final : public CJPEGPlayer {
 public:
  RenderJpegPlayer(platform::Window* notifyWindow, platform::MemoryWindow* videoWindow,
                   RenderSink& sink)
      : CJPEGPlayer(notifyWindow, videoWindow), window(videoWindow), sink(sink) {}

  int InputData(const uint8_t* data, int32_t length, uint32_t keyFlag,
                uint32_t timestamp) override {
    if (sink.failed) return 1;
    CJPEGPlayer::InputData(data, length, keyFlag, timestamp);
    const uint64_t expected = ++handed;
    if (!window->WaitFor([&] { return window->PresentCount() >= expected; },
                         std::chrono::duration_cast<std::chrono::milliseconds>(kFrameGuard))) {
      ReportFileError("render", sink.options.path, "a picture was not drawn in time");
      sink.failed = true;
      return 1;
    }
    const platform::Rect client = window->GetClientRect();
    const std::vector<uint32_t> pixels = window->ClientPixels();
    Picture picture;
    picture.width = client.Width();
    picture.height = client.Height();
    picture.format = platform::PixelFormat::Rgb32;
    picture.bytes.resize(pixels.size() * 4);
    std::memcpy(picture.bytes.data(), pixels.data(), picture.bytes.size());
    if (!sink.Emit(picture, timestamp, /*png=*/true)) sink.failed = true;
    return 1;
  }

 private:
  platform::MemoryWindow* window;
  RenderSink& sink;
  uint64_t handed = 0;
};

int ParseOptions(const Args& args, RenderOptions* options, bool* help) {
  std::vector<std::string> operands;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (IsHelp(arg)) {
      *help = true;
      return 0;
    } else if (arg == "--no-osd") {
      options->osd = false;
    } else if (arg == "--png") {
      options->png = true;
    } else if (arg == "--depth") {
      const std::string value = hasValue ? args[++i] : "";
      if (value == "15") {
        options->format = platform::PixelFormat::Rgb555;
      } else if (value == "16") {
        options->format = platform::PixelFormat::Rgb565;
      } else if (value == "24") {
        options->format = platform::PixelFormat::Rgb24;
      } else if (value == "32") {
        options->format = platform::PixelFormat::Rgb32;
      } else {
        return UsageError("render", kUsage, "--depth takes 15, 16, 24 or 32");
      }
    } else if (arg == "--size") {
      if (!hasValue || !ParseSize(args[++i], &options->clientWidth, &options->clientHeight)) {
        return UsageError("render", kUsage, "--size takes WxH, each 1 to 8192");
      }
    } else if (!arg.empty() && arg[0] == '-') {
      return UsageError("render", kUsage, "unknown option " + arg);
    } else {
      operands.push_back(arg);
    }
  }
  if (operands.size() != 2) return UsageError("render", kUsage, "needs FILE and OUTDIR");
  options->path = operands[0];
  options->outDir = operands[1];
  return 0;
}

}  // namespace

int CommandRender(const Args& args) {
  RenderOptions options;
  bool help = false;
  if (const int status = ParseOptions(args, &options, &help); status != 0) return status;
  if (help) {
    PrintHelp();
    return 0;
  }
  const std::string problem = OpenProblem(options.path);
  if (!problem.empty()) {
    ReportFileError("render", options.path, problem);
    return 2;
  }
  std::error_code error;
  std::filesystem::create_directories(options.outDir, error);
  if (!std::filesystem::is_directory(options.outDir, error)) {
    ReportFileError("render", options.outDir, "cannot be made a directory");
    return 1;
  }

  platform::SetDisplayPixelFormat(options.format);
  RenderSink sink(options);
  platform::MemoryWindow video(options.clientWidth, options.clientHeight);
  platform::MemoryWindow notify(0, 0);
  CountingClock clock;
  std::unique_ptr<PlaybackContext> context = CreatePlaybackContext(options.path);
  if (!context) return 1;
  context->createPlayer = [&](PlayerKind kind, platform::Window* notifyWindow,
                              platform::Window*) -> std::unique_ptr<CVideoPlayer> {
    if (kind == PlayerKind::H264) {
      video.SetPresentObserver(
          [&sink](const platform::PixelView& source, const platform::Rect& sourceRect) {
            sink.CaptureSurface(source, sourceRect);
          });
      return std::make_unique<RenderH264Player>(notifyWindow, &video, sink);
    }
    return std::make_unique<RenderJpegPlayer>(notifyWindow, &video, sink);
  };
  context->clock = &clock;
  context->videoWindow = &video;
  context->notifyWindow = &notify;
  context->running.store(1);
  ReadFrames(*context);
  DestroyPlaybackContext(context);
  if (sink.failed) return 1;
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace tool
