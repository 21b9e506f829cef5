#include "viewer/pixel_format.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "test_encoder.h"
#include "viewer/receive_buffer.h"

namespace telorus::viewer {
namespace {

using Path = PixelConverter::Path;

PixelFormat Format(int bpp, int red, int green, int blue, int redShift, int greenShift, int blueShift,
                   bool bigEndian = false) {
  return test::TrueColour(bpp, red, green, blue, redShift, greenShift, blueShift, bigEndian);
}

Colour Rgb(std::uint32_t red, std::uint32_t green, std::uint32_t blue) { return red | (green << 8) | (blue << 16); }

// Converts one raw pixel given as wire bytes, returning a colour value.
Colour RawColour(const PixelConverter& pixels, std::vector<std::uint8_t> bytes) {
  std::uint32_t memory = 0xFFFFFFFFu;
  pixels.ConvertRawRow(bytes.data(), 1, &memory);
  return platform::MemoryToColour(memory);
}

TEST(PixelToColor, Bgr233Levels) {
  const PixelConverter pixels(EightBitFormat());
  EXPECT_EQ(pixels.PixelToColor(255), 0xFFFFFFu);
  EXPECT_EQ(pixels.PixelToColor(7), 0x0000FFu);
  EXPECT_EQ(pixels.PixelToColor(56), 0x00FF00u);
  EXPECT_EQ(pixels.PixelToColor(192), 0xFF0000u);
  const std::uint32_t redLevels[] = {0, 36, 72, 109, 145, 182, 218, 255};
  const std::uint32_t blueLevels[] = {0, 85, 170, 255};
  for (std::uint32_t v = 0; v < 8; ++v) {
    EXPECT_EQ(pixels.PixelToColor(v), Rgb(redLevels[v], 0, 0));
    EXPECT_EQ(pixels.PixelToColor(v << 3), Rgb(0, redLevels[v], 0));
    EXPECT_EQ(RawColour(pixels, {static_cast<std::uint8_t>(v << 3)}), Rgb(0, redLevels[v], 0));
  }
  for (std::uint32_t v = 0; v < 4; ++v) {
    EXPECT_EQ(pixels.PixelToColor(v << 6), Rgb(0, 0, blueLevels[v]));
  }
}

TEST(PixelToColor, SixteenBit565) {
  const PixelConverter pixels(Format(16, 31, 63, 31, 11, 5, 0));
  EXPECT_EQ(pixels.PixelToColor(0xF800), 0x0000FFu);
  EXPECT_EQ(pixels.PixelToColor(0x0400), Rgb(0, 129, 0));
  EXPECT_EQ(pixels.PixelToColor(0x001F), 0xFF0000u);
  EXPECT_EQ(pixels.PixelToColor(0xFFFF), 0xFFFFFFu);
  // Raw data is least significant byte first.
  EXPECT_EQ(RawColour(pixels, {0x00, 0xF8}), 0x0000FFu);
  EXPECT_EQ(RawColour(pixels, {0x00, 0x04}), Rgb(0, 129, 0));
}

TEST(PixelToColor, ThirtyTwoBitRawTakesEightBitsWhilePixelToColorScales) {
  const PixelConverter common(Format(32, 255, 255, 255, 16, 8, 0));
  EXPECT_EQ(common.PixelToColor(0x00112233u), Rgb(0x11, 0x22, 0x33));
  EXPECT_EQ(RawColour(common, {0x33, 0x22, 0x11, 0x99}), Rgb(0x11, 0x22, 0x33));

  // Ten bits per channel: the two conversions differ by design.
  const PixelConverter wide(Format(32, 1023, 1023, 1023, 20, 10, 0));
  const std::uint32_t pixel = (0x200u << 20) | (0x3FFu << 10) | 0x0C0u;
  EXPECT_EQ(wide.PixelToColor(pixel), Rgb(0x200 * 255 / 1023, 255, 0x0C0 * 255 / 1023));
  EXPECT_EQ(RawColour(wide, {static_cast<std::uint8_t>(pixel), static_cast<std::uint8_t>(pixel >> 8),
                             static_cast<std::uint8_t>(pixel >> 16), static_cast<std::uint8_t>(pixel >> 24)}),
            Rgb(0x00, 0xFF, 0xC0));
}

TEST(PixelToColor, ShiftCountsAreTakenModulo32) {
  const PixelConverter pixels(Format(32, 255, 255, 255, 16 + 32, 8 + 64, 0 + 224));
  EXPECT_EQ(pixels.PixelToColor(0x00ABCDEFu), Rgb(0xAB, 0xCD, 0xEF));
  EXPECT_EQ(RawColour(pixels, {0xEF, 0xCD, 0xAB, 0x00}), Rgb(0xAB, 0xCD, 0xEF));
}

TEST(PixelToColor, EveryChannelIsScaledByItsMaximumForAnyFormat) {
  std::mt19937 random(7);
  const int maxima[] = {1, 3, 5, 7, 31, 63, 255, 1000, 4095, 65535};
  for (int round = 0; round < 200; ++round) {
    const int red = maxima[random() % 10], green = maxima[random() % 10], blue = maxima[random() % 10];
    const int bpp = round % 3 == 0 ? 8 : round % 3 == 1 ? 16 : 32;
    const auto shift = [&] { return static_cast<int>(random() % 48); };
    const PixelConverter pixels(Format(bpp, red, green, blue, shift(), shift(), shift()));
    const PixelFormat& f = pixels.Format();
    for (int sample = 0; sample < 200; ++sample) {
      const std::uint32_t value = static_cast<std::uint32_t>(random());
      const auto level = [&](int s, std::uint32_t max) { return ((value >> (s % 32)) & max) * 255u / max; };
      ASSERT_EQ(pixels.PixelToColor(value),
                Rgb(level(f.redShift, f.redMax), level(f.greenShift, f.greenMax), level(f.blueShift, f.blueMax)))
          << round << " " << sample;
    }
  }
}

TEST(ReadPixelValue, LittleEndianUnlessTheFormatSaysBigEndian) {
  ReceiveBuffer buffer;
  const std::uint8_t bytes[] = {0xF8, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  ASSERT_TRUE(buffer.Append(bytes, sizeof bytes));

  const PixelConverter big16(Format(16, 31, 63, 31, 11, 5, 0, true));
  std::uint32_t value = 0;
  ASSERT_TRUE(ReadPixelValue(buffer, big16, value));
  EXPECT_EQ(value, 0xF800u);
  EXPECT_EQ(big16.PixelToColor(value), 0x0000FFu);
  EXPECT_EQ(RawColour(big16, {0xF8, 0x00}), 0x0000FFu);

  const PixelConverter little32(Format(32, 255, 255, 255, 16, 8, 0));
  ASSERT_TRUE(ReadPixelValue(buffer, little32, value));
  EXPECT_EQ(value, 0x44332211u);
  EXPECT_FALSE(ReadPixelValue(buffer, little32, value));  // one byte left
  EXPECT_EQ(buffer.Unread(), 1u);

  const PixelConverter big32(Format(32, 255, 255, 255, 16, 8, 0, true));
  EXPECT_EQ(RawColour(big32, {0x00, 0x11, 0x22, 0x33}), Rgb(0x11, 0x22, 0x33));
  const PixelConverter big32Shifted(Format(32, 255, 255, 255, 24, 16, 8, true));
  EXPECT_EQ(RawColour(big32Shifted, {0x11, 0x22, 0x33, 0x00}), Rgb(0x11, 0x22, 0x33));
  EXPECT_EQ(big32Shifted.PixelToColor(big32Shifted.ValueAt(std::array<std::uint8_t, 4>{0x11, 0x22, 0x33, 0x00}.data())),
            Rgb(0x11, 0x22, 0x33));
}

TEST(CheckPixelFormat, RejectsUnsupportedDepthsAndZeroMaxima) {
  EXPECT_EQ(CheckPixelFormat(EightBitFormat()), "");
  for (const int bpp : {0, 1, 4, 12, 24, 64, 255}) {
    const PixelFormat format = Format(bpp, 255, 255, 255, 16, 8, 0);
    EXPECT_NE(CheckPixelFormat(format), "") << bpp;
    const PixelConverter pixels(format);
    EXPECT_FALSE(pixels.Usable());
    EXPECT_EQ(pixels.PixelToColor(0xFFFFFFFF), 0u);
  }
  EXPECT_NE(CheckPixelFormat(Format(16, 0, 63, 31, 11, 5, 0)), "");
  EXPECT_NE(CheckPixelFormat(Format(16, 31, 0, 31, 11, 5, 0)), "");
  EXPECT_NE(CheckPixelFormat(Format(32, 255, 255, 0, 16, 8, 0)), "");

  ReceiveBuffer buffer;
  const std::uint8_t bytes[] = {1, 2, 3, 4};
  ASSERT_TRUE(buffer.Append(bytes, sizeof bytes));
  std::uint32_t value = 0;
  EXPECT_FALSE(ReadPixelValue(buffer, PixelConverter(Format(24, 255, 255, 255, 16, 8, 0)), value));
  EXPECT_EQ(buffer.Unread(), 4u);
}

TEST(PixelFormats, ServerInitSetEightBitAndRestoreServerFormat) {
  // 32-bit little-endian true colour, with non-zero padding bytes.
  const std::array<std::uint8_t, 16> serverWire = {32, 24, 0, 1, 0, 255, 0, 255, 0, 255, 16, 8, 0, 7, 8, 9};
  PixelFormats formats;
  EXPECT_EQ(formats.ServerInit(serverWire.data()), "");
  PixelFormat announced = Format(32, 255, 255, 255, 16, 8, 0);
  announced.depth = 24;
  EXPECT_EQ(formats.CurrentPixelFormat(), announced);
  EXPECT_EQ(formats.ServerPixelFormat().redMax, 255);
  EXPECT_EQ(formats.ServerPixelFormat().depth, 24);
  EXPECT_EQ(formats.BytesPerPixel(), 4);
  EXPECT_EQ(formats.Converter().ConversionPath(), Path::Rgb32);

  const PixelFormats::Message eight = formats.SetEightBitFormat();
  const PixelFormats::Message expectedEight = {0, 0, 0, 0, 8, 8, 0, 1, 0, 7, 0, 7, 0, 3, 0, 3, 6, 0, 0, 0};
  EXPECT_EQ(eight, expectedEight);
  EXPECT_EQ(formats.BytesPerPixel(), 1);
  EXPECT_EQ(formats.CurrentPixelFormat(), EightBitFormat());
  EXPECT_EQ(formats.ServerPixelFormat().bitsPerPixel, 32);

  PixelFormats::Message restored{};
  EXPECT_EQ(formats.RestoreServerFormat(restored), "");
  EXPECT_EQ(formats.BytesPerPixel(), 4);
  // The server's 16 bytes go back exactly as announced.
  EXPECT_EQ(restored[0], 0);
  EXPECT_TRUE(std::equal(serverWire.begin(), serverWire.end(), restored.begin() + 4));
}

TEST(PixelFormats, ColourMappedAndInvalidServerFormats) {
  PixelFormats formats;
  // Colour-mapped 8-bit server: accepted at initialisation (BGR233 follows),
  // but never restored, since the viewer keeps no colour map.
  const std::array<std::uint8_t, 16> mapped = {8, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(formats.ServerInit(mapped.data()), "");
  EXPECT_FALSE(formats.Converter().Usable());
  formats.SetEightBitFormat();
  PixelFormats::Message message{};
  EXPECT_NE(formats.RestoreServerFormat(message), "");
  EXPECT_EQ(formats.CurrentPixelFormat(), EightBitFormat());

  // True colour at 24 bits per pixel, or with a zero maximum: refused.
  const std::array<std::uint8_t, 16> packed24 = {24, 24, 0, 1, 0, 255, 0, 255, 0, 255, 16, 8, 0};
  EXPECT_NE(formats.ServerInit(packed24.data()), "");
  const std::array<std::uint8_t, 16> zeroMax = {16, 16, 0, 1, 0, 31, 0, 0, 0, 31, 11, 5, 0};
  EXPECT_NE(formats.ServerInit(zeroMax.data()), "");
  EXPECT_FALSE(formats.Converter().Usable());
}

// The fast paths must give the general formula's result for every pixel.
void ExpectFastMatchesGeneral(const PixelFormat& format, Path expectedPath, const std::vector<std::uint8_t>& data) {
  const PixelConverter fast(format);
  const PixelConverter general(format, false);
  ASSERT_EQ(fast.ConversionPath(), expectedPath);
  ASSERT_EQ(general.ConversionPath(), Path::General);
  const std::size_t count = data.size() / static_cast<std::size_t>(format.BytesPerPixel());
  std::vector<std::uint32_t> fastOut(count), generalOut(count);
  fast.ConvertRawRow(data.data(), count, fastOut.data());
  general.ConvertRawRow(data.data(), count, generalOut.data());
  EXPECT_EQ(fastOut, generalOut);
}

TEST(PixelConverter, FastPathsMatchTheGeneralPath) {
  std::mt19937 random(99);
  // 8 bits: every value, in several layouts (including BGR233 and odd maxima).
  std::vector<std::uint8_t> all8(256);
  for (int v = 0; v < 256; ++v) all8[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(v);
  // Rows of every length from 0 to 40 and from every start, so both the
  // 16-pixel vector loop and the pixels after it are covered.
  std::vector<std::uint8_t> rows8;
  for (std::size_t length = 0; length <= 40; ++length) {
    for (std::size_t i = 0; i < length; ++i) rows8.push_back(static_cast<std::uint8_t>(random()));
  }
  for (const auto& data : {all8, rows8}) {
    ExpectFastMatchesGeneral(EightBitFormat(), Path::Levels8, data);
    ExpectFastMatchesGeneral(Format(8, 3, 7, 7, 6, 3, 0), Path::Levels8, data);
    ExpectFastMatchesGeneral(Format(8, 15, 3, 3, 4, 2, 0), Path::Levels8, data);
    ExpectFastMatchesGeneral(Format(8, 15, 5, 1, 6, 1, 40), Path::Levels8, data);  // 40 mod 32 = 8
    ExpectFastMatchesGeneral(Format(8, 7, 15, 9, 13, 7, 3), Path::Levels8, data);
    ExpectFastMatchesGeneral(Format(8, 5, 2, 1000, 0, 33, 7), Path::Table8, data);
    ExpectFastMatchesGeneral(Format(8, 16, 3, 3, 0, 5, 6), Path::Table8, data);
  }
  for (std::size_t start = 0; start < 16; ++start) {
    const std::vector<std::uint8_t> shifted(all8.begin() + static_cast<std::ptrdiff_t>(start), all8.end());
    ExpectFastMatchesGeneral(EightBitFormat(), Path::Levels8, shifted);
  }

  // 16 bits: every value, both byte orders.
  std::vector<std::uint8_t> all16(2 * 65536);
  for (std::size_t v = 0; v < 65536; ++v) {
    all16[2 * v] = static_cast<std::uint8_t>(v);
    all16[2 * v + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  for (const bool big : {false, true}) {
    ExpectFastMatchesGeneral(Format(16, 31, 63, 31, 11, 5, 0, big), Path::Table16, all16);
    ExpectFastMatchesGeneral(Format(16, 31, 31, 31, 10, 5, 0, big), Path::Table16, all16);
    ExpectFastMatchesGeneral(Format(16, 15, 15, 15, 0, 4, 8, big), Path::Table16, all16);
  }

  // 32 bits: a sample of values, both byte orders.
  std::vector<std::uint8_t> sample32(4 * 100000);
  for (auto& byte : sample32) byte = static_cast<std::uint8_t>(random());
  // Rows of every length from 0 to 40, from every start.
  for (std::size_t length = 0; length <= 40; ++length) {
    for (std::size_t start = 0; start < 4; ++start) {
      const std::vector<std::uint8_t> row(sample32.begin() + static_cast<std::ptrdiff_t>(start),
                                          sample32.begin() + static_cast<std::ptrdiff_t>(start + 4 * length));
      ExpectFastMatchesGeneral(Format(32, 255, 255, 255, 16, 8, 0), Path::Rgb32, row);
    }
  }
  for (const bool big : {false, true}) {
    ExpectFastMatchesGeneral(Format(32, 255, 255, 255, 16, 8, 0, big), Path::Rgb32, sample32);
    ExpectFastMatchesGeneral(Format(32, 1023, 1023, 1023, 16, 8, 0, big), Path::Rgb32, sample32);
    ExpectFastMatchesGeneral(Format(32, 255, 255, 255, 0, 8, 16, big), Path::Shift32, sample32);
    ExpectFastMatchesGeneral(Format(32, 255, 255, 255, 24, 16, 8, big), Path::Shift32, sample32);
  }
}

}  // namespace
}  // namespace telorus::viewer
