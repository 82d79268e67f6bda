#include <new>

#include "h264/h264_player.h"
#include "input/playback_context.h"
#include "jpeg/jpeg_player.h"

PlayerFactory DefaultPlayerFactory() {
  return [](PlayerKind kind, platform::Window* notifyWindow,
            platform::Window* videoWindow) -> std::unique_ptr<CVideoPlayer> {
    // A player that cannot be allocated is reported as none, and the reader ends quietly.
    if (kind == PlayerKind::H264) {
      return std::unique_ptr<CVideoPlayer>(new (std::nothrow)
                                               CH264Player(notifyWindow, videoWindow));
    }
    return std::unique_ptr<CVideoPlayer>(new (std::nothrow) CJPEGPlayer(notifyWindow, videoWindow));
  };
}
