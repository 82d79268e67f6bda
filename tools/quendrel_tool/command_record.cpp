#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "h264/h264_player.h"
#include "jpeg/jpeg_player.h"
#include "platform/display.h"
#include "platform/memory_window.h"
#include "record/avi_recorder.h"
#include "tools/quendrel_tool/tool.h"

namespace tool {
namespace {

constexpr const char* kUsage = "quendrel-tool record FILE OUT.avi [--fast]";
// How long the player or the recording may take to take in what is waiting before the run
// is given up.
constexpr auto kDrainGuard = std::chrono::seconds(60);

void PrintHelp() {
  std::printf(
      "usage: %s\n\n"
      "Plays FILE headless through the player's own reader and player at the reader's pace\n"
      "(fast playback with --fast), records the frames the player presents into OUT.avi from\n"
      "the first frame on, and ends the recording once the last picture is drawn and the\n"
      "recording has taken every frame handed to it. The recording runs in real time: one\n"
      "sample per 20 ms, an empty one where no frame came.\n\n"
      "Prints the samples written, the frames among them and the file's size. A recording\n"
      "that ends early (the picture size changed, or a write failed) keeps what it wrote,\n"
      "and says so on stderr.\n",
      kUsage);
}

struct RecordingCounts {
  bool recorded = false;    // a recording was there to end
  bool endedEarly = false;  // its thread had ended by itself
  int32_t samples = 0;
  int32_t frames = 0;
};

// What the tool needs of its player beyond the player interface.
class RecordingControl {
 public:
  virtual ~RecordingControl() = default;
  // True when the recording holds no frame waiting to be written, or can take no more.
  virtual bool RecordingDrained() = 0;
  // Ends the recording as StopRecord does, with its counts read in between.
  virtual RecordingCounts EndRecording() = 0;
};

template <class Player>
class RecordingPlayer final : public Player, public RecordingControl {
 public:
  using Player::Player;

  bool RecordingDrained() override {
    CriticalSectionGuard guard(this->recorderLock);
    const CAviRecorder* recorder = this->recorder.get();
    return recorder == nullptr || recorder->ended.load() != 0 || !recorder->frameQueue ||
           recorder->frameQueue->Count() == 0;
  }

  RecordingCounts EndRecording() override {
    RecordingCounts counts;
    {
      CriticalSectionGuard guard(this->recorderLock);
      if (CAviRecorder* recorder = this->recorder.get()) {
        counts.recorded = true;
        counts.endedEarly = recorder->ended.load() != 0;
        StopRecorderThread(recorder);
        counts.samples = recorder->samplesWritten;
        counts.frames = recorder->framesWritten;
      }
    }
    this->StopRecord();
    return counts;
  }
};

bool WaitWithGuard(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + kDrainGuard;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace

int CommandRecord(const Args& args) {
  std::vector<std::string> operands;
  bool fast = false;
  for (const std::string& arg : args) {
    if (IsHelp(arg)) {
      PrintHelp();
      return 0;
    } else if (arg == "--fast") {
      fast = true;
    } else if (!arg.empty() && arg[0] == '-') {
      return UsageError("record", kUsage, "unknown option " + arg);
    } else {
      operands.push_back(arg);
    }
  }
  if (operands.size() != 2) return UsageError("record", kUsage, "needs FILE and OUT.avi");
  const std::string& path = operands[0];
  const std::string& outPath = operands[1];
  const std::string problem = OpenProblem(path);
  if (!problem.empty()) {
    ReportFileError("record", path, problem);
    return 2;
  }

  platform::SetDisplayPixelFormat(platform::PixelFormat::Rgb32);
  platform::MemoryWindow video(640, 480);
  platform::MemoryWindow notify(0, 0);
  RecordingControl* control = nullptr;
  std::unique_ptr<PlaybackContext> context = CreatePlaybackContext(path);
  if (!context) return 1;
  // The recording starts as the player is made, before the reader hands on its first frame.
  context->createPlayer = [&](PlayerKind kind, platform::Window* notifyWindow,
                              platform::Window* videoWindow) -> std::unique_ptr<CVideoPlayer> {
    std::unique_ptr<CVideoPlayer> player;
    if (kind == PlayerKind::H264) {
      auto made = std::make_unique<RecordingPlayer<CH264Player>>(notifyWindow, videoWindow);
      control = made.get();
      player = std::move(made);
    } else {
      auto made = std::make_unique<RecordingPlayer<CJPEGPlayer>>(notifyWindow, videoWindow);
      control = made.get();
      player = std::move(made);
    }
    player->StartRecord(outPath);
    return player;
  };
  context->videoWindow = &video;
  context->notifyWindow = &notify;
  context->fast.store(fast ? 1 : 0);
  context->running.store(1);
  ReadFrames(*context);

  if (control == nullptr) {
    DestroyPlaybackContext(context);
    ReportFileError("record", path, "holds no frame to record");
    return 1;
  }
  // Stop joins the decode thread once it has drawn the frame in hand, so with the queue
  // empty the last picture is drawn and handed to the recording.
  CVideoPlayer* player = context->player.get();
  const bool drawn = WaitWithGuard([&] { return player->QueuedFrames() == 0; });
  player->Stop();
  const bool drained = drawn && WaitWithGuard([&] { return control->RecordingDrained(); });
  const RecordingCounts counts = control->EndRecording();
  DestroyPlaybackContext(context);
  if (!drained) {
    ReportFileError("record", path, "the player or the recording did not keep up");
    return 1;
  }

  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(outPath, error);
  if (error || counts.samples == 0) {
    ReportFileError("record", outPath,
                    "no recording was written (no key frame, or the file cannot be created)");
    return 1;
  }
  if (counts.endedEarly) {
    ReportFileError("record", outPath,
                    "the recording ended early (the picture size changed or a write failed)");
  }
  std::printf("samples:  %d\n", counts.samples);
  std::printf("frames:   %d\n", counts.frames);
  std::printf("bytes:    %ju\n", size);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace tool
