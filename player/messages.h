#pragma once

#include <cstdint>

// Private messages that the reader and the players post to the main dialog (lParam 0).
constexpr uint32_t WM_USER = 0x0400;
// wParam: size class of the first picture: 2 for width 1280, 1 for 640, else 0.
constexpr uint32_t WM_PLAYER_VIDEOSIZE = WM_USER + 200;
// wParam: file length in bytes.
constexpr uint32_t WM_PLAYER_FILESIZE = WM_USER + 300;
// wParam: byte offset of the next header to read.
constexpr uint32_t WM_PLAYER_POSITION = WM_USER + 301;
