#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "player/messages.h"
#include "tools/quendrel_tool/tool.h"

namespace tool {
namespace {

// Takes the file length the reader posts and ignores every other message; it draws nothing.
class LengthWindow final : public platform::Window {
 public:
  void PostMessage(uint32_t message, uint64_t wParam, int64_t) override {
    if (message == WM_PLAYER_FILESIZE) fileLength = static_cast<int64_t>(wParam);
  }
  platform::Rect GetClientRect() const override { return platform::Rect{}; }
  platform::Point ClientToScreen(platform::Point clientPoint) const override { return clientPoint; }
  void Present(const platform::PixelView&, const platform::Rect&, const platform::Rect&,
               const platform::Rect&) override {}
  void InvalidateErase() override {}

  int64_t fileLength = -1;
};

}  // namespace

void ReportFileError(const std::string& command, const std::string& path,
                     const std::string& reason) {
  std::fprintf(stderr, "quendrel-tool %s: %s: %s\n", command.c_str(), path.c_str(), reason.c_str());
}

int UsageError(const std::string& command, const std::string& usage, const std::string& problem) {
  std::fprintf(stderr, "quendrel-tool %s: %s\nusage: %s\n", command.c_str(), problem.c_str(),
               usage.c_str());
  return 2;
}

std::string OpenProblem(const std::string& path) {
  if (path.empty()) return "empty path";
  int64_t length = 0;
  FILE* file = OpenRecording(path, &length);
  if (file != nullptr) {
    std::fclose(file);
    return std::string();
  }
  const int openError = errno;
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return std::strerror(errno);
  if (S_ISDIR(info.st_mode)) return "is a directory";
  if (!S_ISREG(info.st_mode)) return "not a regular file";
  return openError != 0 ? std::strerror(openError) : "cannot be read";
}

bool ParseInt64(const std::string& text, int64_t* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size()) return false;
  // strtoll skips leading blanks; a number here starts with a sign or a digit.
  if (!(text[0] == '-' || text[0] == '+' || (text[0] >= '0' && text[0] <= '9'))) return false;
  *value = parsed;
  return true;
}

bool IsHelp(const std::string& arg) {
  return arg == "--help" || arg == "-h";
}

int HandOffPlayer::InputData(const uint8_t* data, int32_t length, uint32_t, uint32_t timestamp) {
  if (onInput) onInput(data, length, timestamp);
  return 1;
}

int64_t WalkRecording(const std::string& path, const WalkOptions& options, ReaderObserver& observer,
                      const HandOffPlayer::Sink& onInput, PlayerKind* kind, bool* playerMade) {
  CountingClock clock;
  LengthWindow notify;
  std::unique_ptr<PlaybackContext> context = CreatePlaybackContext(path);
  if (!context) return -1;
  *playerMade = false;
  context->createPlayer = [&](PlayerKind madeKind, platform::Window*,
                              platform::Window*) -> std::unique_ptr<CVideoPlayer> {
    *kind = madeKind;
    *playerMade = true;
    return std::make_unique<HandOffPlayer>(onInput);
  };
  context->clock = &clock;
  context->notifyWindow = &notify;
  context->observer = &observer;
  context->fast.store(options.fast ? 1 : 0);
  if (options.seek) {
    context->seekTarget.store(options.seekTarget, std::memory_order_relaxed);
    context->seekRequested.store(1, std::memory_order_release);
  }
  context->running.store(1);
  ReadFrames(*context);
  return notify.fileLength;
}

}  // namespace tool
