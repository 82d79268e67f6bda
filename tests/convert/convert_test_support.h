#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>

#include "h264/yuv_convert.h"
#include "h264/yuv_convert_paths.h"

namespace converttest {

using yuvconvert::ConvertFunction;
using yuvconvert::ConvertFunctions;
using yuvconvert::Layout;

// The colour of one pixel written out plainly: every division by 8192 rounds towards minus
// infinity, the green terms are divided each on its own, luma below 16 counts as 16.
struct Rgb {
  int r, g, b;
};

inline int FloorDiv8192(int product) {
  return product >= 0 ? product / 8192 : -((-product + 8191) / 8192);
}

inline int Clamp255(int value) {
  return value < 0 ? 0 : value > 255 ? 255 : value;
}

inline Rgb Formula(int y, int u, int v) {
  const int luma = FloorDiv8192((y < 16 ? 0 : y - 16) * 9576);
  const int cb = u - 128;
  const int cr = v - 128;
  return Rgb{Clamp255(luma + FloorDiv8192(cr * 13123)),
             Clamp255(luma + FloorDiv8192(cb * -3218) + FloorDiv8192(cr * -6686)),
             Clamp255(luma + FloorDiv8192(cb * 16591))};
}

inline int BytesPerPixel(Layout layout) {
  switch (layout) {
    case Layout::Rgb32:
      return 4;
    case Layout::Rgb24:
      return 3;
    default:
      return 2;
  }
}

// Writes one pixel as the layout stores it.
inline void PutPixel(Layout layout, Rgb c, uint8_t* p) {
  switch (layout) {
    case Layout::Rgb32:
      p[0] = static_cast<uint8_t>(c.b);
      p[1] = static_cast<uint8_t>(c.g);
      p[2] = static_cast<uint8_t>(c.r);
      p[3] = 0;
      return;
    case Layout::Rgb24:
      p[0] = static_cast<uint8_t>(c.b);
      p[1] = static_cast<uint8_t>(c.g);
      p[2] = static_cast<uint8_t>(c.r);
      return;
    case Layout::Rgb565: {
      const int word = (c.r >> 3) << 11 | ((c.g >> 3) << 1) << 5 | c.b >> 3;
      p[0] = static_cast<uint8_t>(word & 0xFF);
      p[1] = static_cast<uint8_t>(word >> 8);
      return;
    }
    case Layout::Rgb555: {
      const int word = (c.r >> 3) << 10 | (c.g >> 3) << 5 | c.b >> 3;
      p[0] = static_cast<uint8_t>(word & 0xFF);
      p[1] = static_cast<uint8_t>(word >> 8);
      return;
    }
  }
}

inline const char* LayoutName(Layout layout) {
  switch (layout) {
    case Layout::Rgb32:
      return "Rgb32";
    case Layout::Rgb24:
      return "Rgb24";
    case Layout::Rgb565:
      return "Rgb565";
    case Layout::Rgb555:
      return "Rgb555";
  }
  return "?";
}

// The routes a test can take: the public routines as the renderer calls them, or one path.
enum class Route { Public, Scalar, Sse2, Avx2 };

inline const char* RouteName(Route route) {
  switch (route) {
    case Route::Public:
      return "Public";
    case Route::Scalar:
      return "Scalar";
    case Route::Sse2:
      return "Sse2";
    case Route::Avx2:
      return "Avx2";
  }
  return "?";
}

// The route's routines, or nullptr when this machine cannot run that path.
inline const ConvertFunctions* FunctionsFor(Route route) {
  static const ConvertFunctions kPublic = {"public", Yuv420ToRgb32, Yuv420ToRgb24, Yuv420ToRgb565,
                                           Yuv420ToRgb555};
  switch (route) {
    case Route::Public:
      return &kPublic;
    case Route::Scalar:
      return yuvconvert::FunctionsFor(yuvconvert::ConvertPath::Scalar);
    case Route::Sse2:
      return yuvconvert::FunctionsFor(yuvconvert::ConvertPath::Sse2);
    case Route::Avx2:
      return yuvconvert::FunctionsFor(yuvconvert::ConvertPath::Avx2);
  }
  return nullptr;
}

inline ConvertFunction Pick(const ConvertFunctions& functions, Layout layout) {
  switch (layout) {
    case Layout::Rgb32:
      return functions.rgb32;
    case Layout::Rgb24:
      return functions.rgb24;
    case Layout::Rgb565:
      return functions.rgb565;
    case Layout::Rgb555:
      return functions.rgb555;
  }
  return nullptr;
}

// Bytes that end right where an inaccessible page begins, so a read or write of even one byte
// past them faults in every build, not only under the address sanitizer.
class GuardedBytes {
 public:
  explicit GuardedBytes(size_t size) : size(size) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t dataPages = (size + page - 1) / page;
    mappedBytes = (dataPages + 1) * page;
    void* m =
        mmap(nullptr, mappedBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) return;
    mapping = static_cast<uint8_t*>(m);
    mprotect(mapping + dataPages * page, page, PROT_NONE);
    bytes = mapping + dataPages * page - size;
  }
  ~GuardedBytes() {
    if (mapping) munmap(mapping, mappedBytes);
  }
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;

  bool Ok() const { return mapping != nullptr; }
  uint8_t* Data() const { return bytes; }
  size_t Size() const { return size; }

 private:
  size_t size;
  size_t mappedBytes = 0;
  uint8_t* mapping = nullptr;
  uint8_t* bytes = nullptr;
};

inline void PrintTo(Route route, std::ostream* os) {
  *os << RouteName(route);
}

}  // namespace converttest

namespace yuvconvert {
inline void PrintTo(Layout layout, std::ostream* os) {
  *os << converttest::LayoutName(layout);
}
}  // namespace yuvconvert
