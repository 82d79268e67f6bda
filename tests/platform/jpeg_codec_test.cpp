#include "platform/jpeg_codec.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using platform::DecodedImage;
using platform::DecodeJpeg;
using platform::PixelFormat;
using platform::PixelView;
using platform::WriteJpegFile;

struct Rgb {
  int r, g, b;
};

// Pixels of one layout, made from a colour per position, with a pitch wider than a row so
// that a writer that ignores the pitch is caught.
struct Picture {
  std::vector<uint8_t> bytes;
  PixelView view;
};

Picture MakePicture(PixelFormat format, int32_t width, int32_t height,
                    const std::function<Rgb(int32_t, int32_t)>& colourAt) {
  const int32_t bpp = platform::BytesPerPixel(format);
  const int32_t pitch = width * bpp + 8;
  Picture picture;
  picture.bytes.assign(static_cast<size_t>(pitch) * height, 0xEE);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const Rgb c = colourAt(x, y);
      uint8_t* p = picture.bytes.data() + static_cast<size_t>(y) * pitch + x * bpp;
      uint32_t word = 0;
      switch (format) {
        case PixelFormat::Rgb555:
          word = ((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3);
          p[0] = static_cast<uint8_t>(word);
          p[1] = static_cast<uint8_t>(word >> 8);
          break;
        case PixelFormat::Rgb565:
          word = ((c.r >> 3) << 11) | ((c.g >> 2) << 5) | (c.b >> 3);
          p[0] = static_cast<uint8_t>(word);
          p[1] = static_cast<uint8_t>(word >> 8);
          break;
        case PixelFormat::Rgb24:
        case PixelFormat::Rgb32:
          p[0] = static_cast<uint8_t>(c.b);
          p[1] = static_cast<uint8_t>(c.g);
          p[2] = static_cast<uint8_t>(c.r);
          if (format == PixelFormat::Rgb32) p[3] = 0;
          break;
        case PixelFormat::Palette8:
          p[0] = static_cast<uint8_t>(c.g);
          break;
      }
    }
  }
  picture.view = PixelView{picture.bytes.data(), pitch, width, height, format};
  return picture;
}

// Red, green, blue and white quadrants: a swapped channel or a lost top bit shows at once.
Rgb Quadrants(int32_t x, int32_t y, int32_t width, int32_t height) {
  const bool right = x >= width / 2;
  const bool bottom = y >= height / 2;
  if (!right && !bottom) return {255, 0, 0};
  if (right && !bottom) return {0, 255, 0};
  if (!right && bottom) return {0, 0, 255};
  return {255, 255, 255};
}

Rgb PixelOf(const DecodedImage& image, int32_t x, int32_t y) {
  const uint8_t* p = image.pixels.data() + static_cast<size_t>(y) * image.pitch + x * 4;
  return {p[2], p[1], p[0]};
}

::testing::AssertionResult Near(const Rgb& actual, const Rgb& expected, int tolerance) {
  if (std::abs(actual.r - expected.r) <= tolerance &&
      std::abs(actual.g - expected.g) <= tolerance &&
      std::abs(actual.b - expected.b) <= tolerance) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "got (" << actual.r << ", " << actual.g << ", " << actual.b << "), expected ("
         << expected.r << ", " << expected.g << ", " << expected.b << ") within " << tolerance;
}

std::vector<uint8_t> EncodeQuadrants(int32_t width, int32_t height, int32_t quality = 90) {
  testsupport::TempDir dir;
  Picture picture = MakePicture(PixelFormat::Rgb32, width, height, [&](int32_t x, int32_t y) {
    return Quadrants(x, y, width, height);
  });
  const std::string path = dir.File("q.jpg");
  EXPECT_TRUE(WriteJpegFile(picture.view, quality, path));
  return testsupport::ReadFileBytes(path);
}

// Rewrites the frame size in the first baseline start-of-frame segment.
void SetDeclaredSize(std::vector<uint8_t>* jpeg, uint16_t width, uint16_t height) {
  for (size_t i = 0; i + 9 < jpeg->size(); ++i) {
    if ((*jpeg)[i] == 0xFF && (*jpeg)[i + 1] == 0xC0) {
      (*jpeg)[i + 5] = static_cast<uint8_t>(height >> 8);
      (*jpeg)[i + 6] = static_cast<uint8_t>(height);
      (*jpeg)[i + 7] = static_cast<uint8_t>(width >> 8);
      (*jpeg)[i + 8] = static_cast<uint8_t>(width);
      return;
    }
  }
  ADD_FAILURE() << "no start-of-frame segment";
}

// A valid grey JPEG of any size that costs almost nothing to make: one component, and
// Huffman tables whose only codes are a single 0 bit, so every 8 x 8 block (DC difference
// 0, end of block) is two zero bits and the entropy data is all zero bytes.
std::vector<uint8_t> MakeGreyJpeg(uint16_t width, uint16_t height) {
  std::vector<uint8_t> j = {0xFF, 0xD8};
  const auto append = [&j](std::initializer_list<uint8_t> bytes) {
    j.insert(j.end(), bytes.begin(), bytes.end());
  };
  append({0xFF, 0xDB, 0x00, 67, 0x00});
  j.insert(j.end(), 64, 1);
  append({0xFF, 0xC0, 0x00, 11, 8, static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height),
          static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width), 1, 1, 0x11, 0});
  for (uint8_t tableClass : {0x00, 0x10}) {
    append({0xFF, 0xC4, 0x00, 20, tableClass, 1});
    j.insert(j.end(), 15, 0);
    append({0x00});
  }
  append({0xFF, 0xDA, 0x00, 8, 1, 1, 0x00, 0, 63, 0});
  const size_t blocks = static_cast<size_t>((width + 7) / 8) * ((height + 7) / 8);
  j.insert(j.end(), (blocks * 2 + 7) / 8, 0);
  append({0xFF, 0xD9});
  return j;
}

TEST(DecodeJpeg, PixelLimitIsOnTheJpegsOwnSizeNotTheScaledOne) {
  // A 1 x 1 target decodes at 1/8, so even the largest allowed picture is cheap here.
  const std::vector<uint8_t> atLimit = MakeGreyJpeg(8192, 8192);
  const DecodedImage allowed = DecodeJpeg(atLimit.data(), atLimit.size(), 1, 1);
  EXPECT_EQ(allowed.width, 8192);
  EXPECT_EQ(allowed.height, 8192);
  EXPECT_EQ(allowed.pixelWidth, 1024);
  ASSERT_FALSE(allowed.pixels.empty());
  EXPECT_TRUE(Near(PixelOf(allowed, 512, 512), Rgb{128, 128, 128}, 2));

  const std::vector<uint8_t> overLimit = MakeGreyJpeg(8192, 8193);
  const DecodedImage refused = DecodeJpeg(overLimit.data(), overLimit.size(), 1, 1);
  EXPECT_EQ(refused.width, 0);
  EXPECT_EQ(refused.height, 0);
  EXPECT_EQ(refused.pixels.capacity(), 0u);
}

class JpegRoundTrip : public ::testing::TestWithParam<PixelFormat> {};

TEST_P(JpegRoundTrip, EveryLayoutComesBackWithItsColoursInPlace) {
  // Odd sizes, so rows end mid-block and the last pixel is not in a whole group of four.
  constexpr int32_t kWidth = 63, kHeight = 47;
  Picture picture = MakePicture(GetParam(), kWidth, kHeight, [](int32_t x, int32_t y) {
    return Quadrants(x, y, kWidth, kHeight);
  });
  testsupport::TempDir dir;
  const std::string path = dir.File("round.jpg");
  ASSERT_TRUE(WriteJpegFile(picture.view, 100, path));

  const std::vector<uint8_t> jpeg = testsupport::ReadFileBytes(path);
  const DecodedImage image = DecodeJpeg(jpeg.data(), jpeg.size());
  ASSERT_EQ(image.width, kWidth);
  ASSERT_EQ(image.height, kHeight);
  EXPECT_EQ(image.pixelWidth, kWidth);
  EXPECT_EQ(image.pixelHeight, kHeight);
  EXPECT_EQ(image.pitch, kWidth * 4);
  ASSERT_EQ(image.pixels.size(), static_cast<size_t>(kWidth * 4 * kHeight));
  // Quality 100 keeps the colour at full resolution, so even the pixels next to a quadrant
  // border keep their colour; 16-bit channels must come back at full strength (255, not 248).
  for (int32_t y : {0, kHeight / 2 - 1, kHeight / 2, kHeight - 1}) {
    for (int32_t x : {0, kWidth / 2 - 1, kWidth / 2, kWidth - 1}) {
      EXPECT_TRUE(Near(PixelOf(image, x, y), Quadrants(x, y, kWidth, kHeight), 4))
          << "at (" << x << ", " << y << ")";
    }
  }
  for (size_t i = 3; i < image.pixels.size(); i += 4) {
    ASSERT_EQ(image.pixels[i], 0) << "fourth byte of pixel " << i / 4;
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, JpegRoundTrip,
                         ::testing::Values(PixelFormat::Rgb555, PixelFormat::Rgb565,
                                           PixelFormat::Rgb24, PixelFormat::Rgb32),
                         [](const ::testing::TestParamInfo<PixelFormat>& info) {
                           switch (info.param) {
                             case PixelFormat::Rgb555:
                               return std::string("Rgb555");
                             case PixelFormat::Rgb565:
                               return std::string("Rgb565");
                             case PixelFormat::Rgb24:
                               return std::string("Rgb24");
                             default:
                               return std::string("Rgb32");
                           }
                         });

TEST(WriteJpegFile, HighestQualityKeepsSinglePixelColourDetail) {
  // Alternating red and blue columns: halving the colour resolution would blend them to
  // purple, so this shows that quality 100 does not subsample.
  Picture picture = MakePicture(PixelFormat::Rgb32, 32, 16, [](int32_t x, int32_t) {
    return x % 2 == 0 ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
  });
  testsupport::TempDir dir;
  ASSERT_TRUE(WriteJpegFile(picture.view, 100, dir.File("stripes.jpg")));
  const std::vector<uint8_t> jpeg = testsupport::ReadFileBytes(dir.File("stripes.jpg"));
  const DecodedImage image = DecodeJpeg(jpeg.data(), jpeg.size());
  ASSERT_EQ(image.width, 32);
  for (int32_t x = 0; x < 32; ++x) {
    EXPECT_TRUE(Near(PixelOf(image, x, 8), x % 2 == 0 ? Rgb{255, 0, 0} : Rgb{0, 0, 255}, 24))
        << "column " << x;
  }
}

TEST(WriteJpegFile, ReportsFailureWhenTheFileIsNotWholeOrCannotBeMade) {
  testsupport::TempDir dir;
  Picture good = MakePicture(PixelFormat::Rgb32, 16, 16, [](int32_t, int32_t) {
    return Rgb{10, 20, 30};
  });
  Picture palette = MakePicture(PixelFormat::Palette8, 16, 16, [](int32_t, int32_t) {
    return Rgb{10, 20, 30};
  });
  PixelView noBits = good.view;
  noBits.bits = nullptr;
  PixelView narrowPitch = good.view;
  narrowPitch.pitch = 16 * 4 - 1;
  PixelView empty = good.view;
  empty.width = 0;

  struct Case {
    const char* name;
    PixelView pixels;
    std::string path;
  };
  const std::vector<Case> cases = {
      {"missing directory", good.view, dir.File("absent/x.jpg")},
      // The device accepts the open and the buffered write; only the close fails.
      {"disk full at close", good.view, "/dev/full"},
      {"palette pixels", palette.view, dir.File("palette.jpg")},
      {"no pixels", noBits, dir.File("nobits.jpg")},
      {"pitch shorter than a row", narrowPitch, dir.File("pitch.jpg")},
      {"zero width", empty, dir.File("empty.jpg")},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(WriteJpegFile(c.pixels, 90, c.path)) << c.name;
  }
  EXPECT_TRUE(WriteJpegFile(good.view, 90, dir.File("good.jpg")));
}

TEST(DecodeJpeg, TargetSizeChoosesTheSmallestHalvingThatStillCoversIt) {
  struct Case {
    int32_t width, height, targetWidth, targetHeight;
    int32_t expectedWidth, expectedHeight;
  };
  const std::vector<Case> cases = {
      {1920, 1080, 960, 540, 960, 540},     // exactly half
      {1920, 1080, 1280, 720, 1920, 1080},  // half is too small; 3/4 is slower than whole
      {1920, 1080, 480, 271, 960, 540},     // the height alone rules out a quarter
      {1920, 1080, 0, 0, 1920, 1080},       // no target: full size
      {640, 480, 1280, 720, 640, 480},      // never enlarged
      {640, 480, 320, 240, 320, 240},       // exactly half
      {640, 480, 321, 240, 640, 480},       // one pixel more than half
      {640, 480, 100, 10, 160, 120},        // width decides: 1/8 gives 80
      {640, 480, 1, 1, 80, 60},             // the smallest factor there is
  };
  std::vector<uint8_t> full_hd = EncodeQuadrants(1920, 1080);
  std::vector<uint8_t> vga = EncodeQuadrants(640, 480);
  for (const Case& c : cases) {
    const std::vector<uint8_t>& jpeg = c.width == 1920 ? full_hd : vga;
    const DecodedImage image = DecodeJpeg(jpeg.data(), jpeg.size(), c.targetWidth, c.targetHeight);
    SCOPED_TRACE(std::to_string(c.width) + " into " + std::to_string(c.targetWidth) + "x" +
                 std::to_string(c.targetHeight));
    EXPECT_EQ(image.width, c.width);
    EXPECT_EQ(image.height, c.height);
    EXPECT_EQ(image.pixelWidth, c.expectedWidth);
    EXPECT_EQ(image.pixelHeight, c.expectedHeight);
    EXPECT_EQ(image.pitch, c.expectedWidth * 4);
    EXPECT_EQ(image.pixels.size(), static_cast<size_t>(c.expectedWidth) * 4 * c.expectedHeight);
    ASSERT_FALSE(image.pixels.empty());
    // The scaled picture is still the same picture: corners keep their quadrant colour.
    EXPECT_TRUE(Near(PixelOf(image, 1, 1), Rgb{255, 0, 0}, 12));
    EXPECT_TRUE(
        Near(PixelOf(image, image.pixelWidth - 2, image.pixelHeight - 2), Rgb{255, 255, 255}, 12));
  }
}

TEST(DecodeJpeg, RefusesBadInputWithoutPixels) {
  const std::vector<uint8_t> valid = EncodeQuadrants(64, 48);
  std::vector<uint8_t> half(valid.begin(), valid.begin() + valid.size() / 2);
  std::vector<uint8_t> headerOnly(valid.begin(), valid.begin() + 2);
  std::vector<uint8_t> absurd = valid;
  SetDeclaredSize(&absurd, 65535, 65535);
  std::vector<uint8_t> zeroHeight = valid;
  SetDeclaredSize(&zeroHeight, 64, 0);
  std::vector<uint8_t> scrambled = valid;
  for (size_t i = scrambled.size() / 2; i < scrambled.size() - 2; ++i) scrambled[i] = 0xFF;
  const std::string text = "this is not a picture, only some text of a decent length";
  std::vector<uint8_t> notJpeg(text.begin(), text.end());

  struct Case {
    const char* name;
    const uint8_t* data;
    size_t length;
  };
  const std::vector<Case> cases = {
      {"no data", nullptr, 0},
      {"zero length", valid.data(), 0},
      {"not a JPEG", notJpeg.data(), notJpeg.size()},
      {"cut in half", half.data(), half.size()},
      {"start marker only", headerOnly.data(), headerOnly.size()},
      {"65535 x 65535 declared", absurd.data(), absurd.size()},
      {"zero height declared", zeroHeight.data(), zeroHeight.size()},
      {"damaged entropy data", scrambled.data(), scrambled.size()},
  };
  for (const Case& c : cases) {
    const DecodedImage image = DecodeJpeg(c.data, c.length, 800, 600);
    EXPECT_EQ(image.width, 0) << c.name;
    EXPECT_EQ(image.height, 0) << c.name;
    EXPECT_EQ(image.pixelWidth, 0) << c.name;
    EXPECT_EQ(image.pixelHeight, 0) << c.name;
    EXPECT_EQ(image.pixels.capacity(), 0u) << c.name;
  }
  // The fixture itself is fine, so every refusal above is down to the damage.
  EXPECT_EQ(DecodeJpeg(valid.data(), valid.size()).width, 64);
}

}  // namespace
