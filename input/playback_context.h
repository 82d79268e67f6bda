#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/window.h"
#include "player/video_player.h"

class ReaderObserver;

// Which player the first valid frame of a file chooses: H.264 for types 0 and 1, JPEG for
// any other.
enum class PlayerKind : int32_t { H264, Jpeg };

// Makes the player of a context, given the window it notifies and the window it draws into.
// Returns null when the player cannot be made; the reader then ends quietly.
using PlayerFactory = std::function<std::unique_ptr<CVideoPlayer>(
    PlayerKind kind, platform::Window* notifyWindow, platform::Window* videoWindow)>;

// The real players: CH264Player and CJPEGPlayer.
PlayerFactory DefaultPlayerFactory();

// One opened recording file: its path, its reader thread, its player, and the requests the
// dialog leaves for the reader. The dialog writes paused, fast, seekTarget and seekRequested
// on the UI thread; the reader thread polls them at every pass and is the only writer of
// player (until it has been joined) and of seekRequested's reset to 0.
struct PlaybackContext {
  PlaybackContext() = default;
  PlaybackContext(const PlaybackContext&) = delete;
  PlaybackContext& operator=(const PlaybackContext&) = delete;
  // Tears down like DestroyPlaybackContext, so a context dropped any other way still joins
  // its reader before the player goes.
  ~PlaybackContext();

  platform::Window* videoWindow = nullptr;   // the player draws here; set before the start
  std::string path;                          // any length, kept whole
  std::thread thread;                        // the reader; not joinable = none
  std::atomic<int32_t> running{0};           // set by the starter, cleared only by teardown
  std::unique_ptr<CVideoPlayer> player;      // made by the reader at the first valid frame
  std::atomic<int32_t> paused{0};            // 1 = paused (dialog buttons)
  std::atomic<int32_t> fast{0};              // 1 = fast playback (dialog buttons)
  platform::Window* notifyWindow = nullptr;  // receives FILESIZE and POSITION
  std::atomic<int32_t> seekRequested{0};     // dialog sets 1 after seekTarget, reader resets 0
  std::atomic<int64_t> seekTarget{0};        // byte offset; stored before seekRequested

  // How the reader makes its player and what it waits on; replaced by tests and tools.
  PlayerFactory createPlayer;
  platform::Clock* clock = &platform::RealClock();
  // Told about every frame, skip and end on the reader thread; may be null.
  ReaderObserver* observer = nullptr;
};

// A new context for path: no thread, no player, every flag 0, the real players and clock,
// no windows. Null when it cannot be allocated.
std::unique_ptr<PlaybackContext> CreatePlaybackContext(const std::string& path);

// The dialog's way of opening a file. current is the dialog's one context: it is destroyed
// first if there is one, then replaced by a new context for path whose reader thread is
// started at once with running 1. current is left null when no context can be made.
void StartPlayback(std::unique_ptr<PlaybackContext>& current, const std::string& path,
                   platform::Window* videoWindow, platform::Window* notifyWindow);
// The same with the player factory and clock given (tests, tools).
void StartPlayback(std::unique_ptr<PlaybackContext>& current, const std::string& path,
                   platform::Window* videoWindow, platform::Window* notifyWindow,
                   PlayerFactory createPlayer, platform::Clock& clock);

// On the UI thread: clears running, joins the reader without a time limit, deletes the
// player (which joins its decode thread) and frees the context. context is null afterwards.
// Returns at once for a null context.
void DestroyPlaybackContext(std::unique_ptr<PlaybackContext>& context);
