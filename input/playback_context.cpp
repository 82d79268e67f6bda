#include "input/playback_context.h"

#include <new>
#include <system_error>

#include "input/reader.h"

namespace {

// Clears running, joins the reader, then deletes the player: the reader may still be using
// the player until it has been joined.
void TearDown(PlaybackContext& context) {
  context.running.store(0, std::memory_order_release);
  if (context.thread.joinable()) context.thread.join();
  context.player.reset();
}

}  // namespace

PlaybackContext::~PlaybackContext() {
  TearDown(*this);
}

std::unique_ptr<PlaybackContext> CreatePlaybackContext(const std::string& path) {
  std::unique_ptr<PlaybackContext> context(new (std::nothrow) PlaybackContext);
  if (!context) return nullptr;
  context->path = path;
  context->createPlayer = DefaultPlayerFactory();
  return context;
}

void StartPlayback(std::unique_ptr<PlaybackContext>& current, const std::string& path,
                   platform::Window* videoWindow, platform::Window* notifyWindow) {
  StartPlayback(current, path, videoWindow, notifyWindow, DefaultPlayerFactory(),
                platform::RealClock());
}

void StartPlayback(std::unique_ptr<PlaybackContext>& current, const std::string& path,
                   platform::Window* videoWindow, platform::Window* notifyWindow,
                   PlayerFactory createPlayer, platform::Clock& clock) {
  DestroyPlaybackContext(current);
  current = CreatePlaybackContext(path);
  if (!current) return;
  current->createPlayer = std::move(createPlayer);
  current->clock = &clock;
  current->videoWindow = videoWindow;
  current->notifyWindow = notifyWindow;
  current->running.store(1, std::memory_order_release);
  // A thread that cannot be created leaves an idle context, destroyed like any other.
  try {
    current->thread = std::thread(ReaderThreadProc, current.get());
  } catch (const std::system_error&) {
  }
}

void DestroyPlaybackContext(std::unique_ptr<PlaybackContext>& context) {
  if (!context) return;
  TearDown(*context);
  context.reset();
}
