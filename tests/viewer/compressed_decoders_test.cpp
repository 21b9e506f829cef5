// The compressed encodings (Zlib, ZRLE, TRLE, Tight) against the test
// encoders: every pixel of a varied picture under each chunking and pixel
// format, then the hostile streams a broken or malicious server could send.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <tuple>

#include "compressed_encoder.h"
#include "test_encoder.h"
#include "viewer/compressed_decoders.h"
#include "viewer/frame_bitmap.h"
#include "viewer/link_meter.h"
#include "viewer/receive_buffer.h"

#ifdef TELORUS_HAVE_JPEG
#include <turbojpeg.h>
#endif

namespace telorus::viewer {
namespace {

using namespace test;

struct FormatCase {
  const char* name;
  PixelFormat format;
};

const FormatCase kFormats[] = {
    {"BGR233", EightBitFormat()},
    {"RGB565", TrueColour(16, 31, 63, 31, 11, 5, 0, false)},
    {"RGB888", TrueColour(32, 255, 255, 255, 16, 8, 0, false)},
    {"BigEndian32", TrueColour(32, 255, 255, 255, 24, 16, 8, true)},
};

RectangleHeader Rect(int x, int y, int width, int height) {
  return {static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y), static_cast<std::uint16_t>(width),
          static_cast<std::uint16_t>(height), 0};
}

// A picture with what servers meet: noise (raw tiles), flat areas (solid
// tiles, long runs), a few colours (packed palettes), horizontal stripes of
// a handful (palette runs) and smooth gradients (Tight's gradient filter).
std::vector<std::uint32_t> Picture(const PixelFormat& format, int width, int height, std::uint32_t seed) {
  std::mt19937 random(seed);  // 32-bit results
  const std::uint32_t mask = format.bitsPerPixel == 32 ? 0xFFFFFFFFu : (1u << format.bitsPerPixel) - 1;
  std::uint32_t few[5];
  for (auto& colour : few) colour = static_cast<std::uint32_t>(random()) & mask;
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width * height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint32_t p;
      switch ((x / 20 + y / 20) % 5) {
        case 0: p = static_cast<std::uint32_t>(random()) & mask; break;
        case 1: p = few[0]; break;
        case 2: p = few[(x * 7 + y * 3) % 2]; break;
        case 3: p = few[(y / 3) % 5]; break;
        default:
          p = ((static_cast<std::uint32_t>(x * format.redMax / width) & format.redMax) << format.redShift) |
              ((static_cast<std::uint32_t>(y * format.greenMax / height) & format.greenMax) << format.greenShift) |
              ((static_cast<std::uint32_t>((x + y) * format.blueMax / (width + height)) & format.blueMax)
               << format.blueShift);
          break;
      }
      pixels[static_cast<std::size_t>(y * width + x)] = p;
    }
  }
  return pixels;
}

class CompressedTest : public ::testing::TestWithParam<std::tuple<Chunking, int>> {
 protected:
  CompressedTest() : format_(kFormats[std::get<1>(GetParam())].format), pixels_(format_) {
    std::string error;
    frame_ = FrameBitmap::Create(160, 100, error);
    expected_ = std::make_unique<ReferenceImage>(160, 100);
  }

  // A rectangle of a fresh picture, painted into the reference.
  std::vector<std::uint32_t> Content(const RectangleHeader& rect, std::uint32_t seed) {
    auto content = Picture(format_, rect.width, rect.height, seed);
    expected_->PaintRaw(rect, format_, content);
    return content;
  }

  FeedResult Run(const std::vector<EncodedRect>& rects) {
    const FeedResult result = Feed(Serialise(rects), std::get<0>(GetParam()), 91, decoder_, *frame_, pixels_);
    EXPECT_EQ(result.problem, "");
    EXPECT_EQ(result.finishedRects, static_cast<int>(rects.size()));
    EXPECT_EQ(CompareWith(frame_->Surface(), *expected_), "");
    return result;
  }

  PixelFormat format_;
  PixelConverter pixels_;
  std::unique_ptr<FrameBitmap> frame_;
  std::unique_ptr<ReferenceImage> expected_;
  RectangleDecoder decoder_;
};

// Two rectangles of each stream in a row, so the second one inflates with
// the first one's dictionary; rectangles that reach past the framebuffer's
// edges are drawn as far as it goes.
TEST_P(CompressedTest, ZlibZrleAndTrleDrawEveryPixel) {
  TestDeflater zlib;
  TestDeflater zrle;
  TileEncoder trle(format_, true);
  std::vector<EncodedRect> rects;
  const RectangleHeader a = Rect(0, 0, 100, 60), b = Rect(100, 10, 90, 70);
  rects.push_back(EncodeZlib(a, format_, Content(a, 1), zlib));
  rects.push_back(EncodeZlib(b, format_, Content(b, 2), zlib));
  const RectangleHeader c = Rect(0, 0, 150, 70), d = Rect(30, 50, 130, 50);
  rects.push_back(EncodeZrle(c, format_, Content(c, 3), zrle));
  rects.push_back(EncodeZrle(d, format_, Content(d, 4), zrle));
  const RectangleHeader e = Rect(5, 3, 83, 61), f = Rect(90, 60, 80, 50);
  rects.push_back(EncodeTrle(e, Content(e, 5), trle));
  rects.push_back(EncodeTrle(f, Content(f, 6), trle));
  // Empty rectangles: ZRLE still sends its (empty) block, TRLE nothing.
  rects.push_back(EncodeZrle(Rect(7, 7, 0, 9), format_, {}, zrle));
  rects.push_back(EncodeTrle(Rect(7, 7, 9, 0), {}, trle));
  Run(rects);
}

TEST_P(CompressedTest, TightDrawsEveryMethodAndFilter) {
  TightEncoder tight(format_);
  std::vector<EncodedRect> rects;
  auto add = [&](RectangleHeader rect, TightMethod method, int stream, std::uint8_t resets, std::uint32_t seed) {
    auto content = Picture(format_, rect.width, rect.height, seed);
    const std::uint32_t mask = format_.bitsPerPixel == 32 ? 0xFFFFFFu : (1u << format_.bitsPerPixel) - 1;
    for (auto& p : content) {
      if (method == TightMethod::Fill) p = content[0];
      if (method == TightMethod::Palette) p = (p % 7) * 0x2F1Du & mask;  // at most 7 colours
    }
    expected_->PaintRaw(rect, format_, content);
    rects.push_back(tight.Encode(rect, content, method, stream, resets));
  };
  add(Rect(0, 0, 160, 100), TightMethod::Copy, 0, 0, 10);
  add(Rect(10, 10, 40, 30), TightMethod::Fill, 0, 0, 11);
  // Two colours, a bit per pixel, width not a multiple of 8.
  {
    const RectangleHeader rect = Rect(60, 5, 37, 21);
    auto content = Picture(format_, rect.width, rect.height, 12);
    for (auto& p : content) p = (p & 1u) ? 0x12345u & 0xFFu : 0u;
    expected_->PaintRaw(rect, format_, content);
    rects.push_back(tight.Encode(rect, content, TightMethod::Palette, 1, 0));
  }
  add(Rect(20, 40, 60, 40), TightMethod::Palette, 2, 0, 13);  // stripes: a few colours
  if (format_.bitsPerPixel != 8) add(Rect(80, 30, 90, 80), TightMethod::Gradient, 3, 0, 14);
  add(Rect(0, 0, 2, 1), TightMethod::Copy, 1, 0, 15);  // under 12 bytes: not compressed
  // Streams reset on both sides, then used again.
  add(Rect(3, 60, 70, 40), TightMethod::Copy, 0, 0x0F, 16);
  add(Rect(100, 0, 60, 30), TightMethod::Copy, 0, 0, 17);
  Run(rects);
}

std::string ParamName(const ::testing::TestParamInfo<std::tuple<Chunking, int>>& info) {
  return ChunkingName(std::get<0>(info.param)) + "_" + kFormats[std::get<1>(info.param)].name;
}

INSTANTIATE_TEST_SUITE_P(Chunkings, CompressedTest,
                         ::testing::Combine(::testing::Values(Chunking::Whole, Chunking::OneByte, Chunking::Random),
                                            ::testing::Range(0, 4)),
                         ParamName);

// ---- Hostile streams ----

const PixelFormat kRgb = TrueColour(32, 255, 255, 255, 16, 8, 0, false);

EncodedRect WithBody(std::uint32_t encoding, RectangleHeader header, Bytes body) {
  header.encoding = encoding;
  return {header, std::move(body)};
}

Bytes Block(TestDeflater& stream, const Bytes& data) {
  const Bytes compressed = stream.Compress(data);
  Bytes out;
  PutU32(out, static_cast<std::uint32_t>(compressed.size()));
  out.insert(out.end(), compressed.begin(), compressed.end());
  return out;
}

class HostileTest : public ::testing::TestWithParam<Chunking> {
 protected:
  HostileTest() : pixels_(kRgb) {
    std::string error;
    frame_ = FrameBitmap::Create(64, 48, error);
    frame_->Surface().FillRect({0, 0, 64, 48}, 0x00808080u);
  }
  // Feeds the rectangles through a small receive buffer and returns the
  // failure (empty when none). Outside the rectangle nothing may change.
  std::string Failure(const std::vector<EncodedRect>& rects, RectangleHeader inside = Rect(0, 0, 64, 48)) {
    const FeedResult result = Feed(Serialise(rects), GetParam(), 5, decoder_, *frame_, pixels_);
    for (int y = 0; y < 48; ++y) {
      for (int x = 0; x < 64; ++x) {
        const bool in = x >= inside.x && x < inside.x + inside.width && y >= inside.y && y < inside.y + inside.height;
        if (!in) {
          EXPECT_EQ(frame_->Surface().GetPixel(x, y), 0x00808080u) << x << "," << y;
        }
      }
    }
    return result.problem;
  }
  PixelConverter pixels_;
  std::unique_ptr<FrameBitmap> frame_;
  RectangleDecoder decoder_;
};

TEST_P(HostileTest, TilesThatLieAreRefused) {
  TestDeflater zrle;
  // A run longer than its tile, in plain and in palette RLE.
  Bytes plain = {128, 1, 2, 3, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255};
  EXPECT_EQ(Failure({WithBody(rfb::kEncodingZRLE, Rect(0, 0, 64, 48), Block(zrle, plain))}),
            "Failed: Run longer than its tile");
  decoder_.NewConnection();
  TestDeflater zrle2;
  Bytes paletted = {130, 1, 2, 3, 4, 5, 6, 0x81, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 10};
  EXPECT_EQ(Failure({WithBody(rfb::kEncodingZRLE, Rect(0, 0, 64, 48), Block(zrle2, paletted))}),
            "Failed: Run longer than its tile");
  // Tiles that stop before the rectangle is covered.
  decoder_.NewConnection();
  TestDeflater zrle3;
  EXPECT_EQ(Failure({WithBody(rfb::kEncodingZRLE, Rect(0, 0, 128, 48), Block(zrle3, {1, 9, 9, 9, 1}))}),
            "Failed: ZRLE rectangle data ends inside a tile");
  decoder_.NewConnection();
  TestDeflater zrle4;
  EXPECT_EQ(Failure({WithBody(rfb::kEncodingZRLE, Rect(0, 0, 16, 16), Block(zrle4, {17}))}),
            "Failed: ZRLE tile of an unused sub-encoding");
  // TRLE: reusing a palette before any tile had one.
  decoder_.NewConnection();
  EXPECT_EQ(Failure({WithBody(rfb::kEncodingTRLE, Rect(0, 0, 16, 16), {127, 0})}),
            "Failed: TRLE tile reuses a palette it does not have");
}

TEST_P(HostileTest, CompressedDataThatLiesIsRefused) {
  // A block shorter than the pixels it should hold.
  TestDeflater zlib;
  Bytes rows(64 * 4 * 3, 0x11);
  EXPECT_EQ(Failure({WithBody(rfb::kEncodingZlib, Rect(0, 0, 64, 48), Block(zlib, rows))}),
            "Failed: Zlib rectangle data ends before its pixels");
  // Bytes that are no zlib stream.
  decoder_.NewConnection();
  Bytes junk = {0, 0, 0, 8, 0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04};
  const std::string problem = Failure({WithBody(rfb::kEncodingZRLE, Rect(0, 0, 64, 48), junk)});
  EXPECT_EQ(problem.rfind("Failed: Zlib data is corrupt", 0), 0u) << problem;
}

// A block that inflates to more than its rectangle: the rest is inflated
// and dropped, nothing is drawn outside the rectangle, and the stream stays
// in step for the next one.
TEST_P(HostileTest, DataPastTheRectangleIsDropped) {
  TestDeflater zlib;
  Bytes more(8 * 8 * 4 * 3, 0x40);
  Bytes exact(8 * 8 * 4, 0x20);
  EXPECT_EQ(Failure({WithBody(rfb::kEncodingZlib, Rect(8, 8, 8, 8), Block(zlib, more)),
                     WithBody(rfb::kEncodingZlib, Rect(8, 8, 8, 8), Block(zlib, exact))},
                    Rect(8, 8, 8, 8)),
            "");
  EXPECT_EQ(frame_->Surface().GetPixel(9, 9), 0x00202020u);
}

TEST_P(HostileTest, TightRefusesWhatItCannotDecode) {
  EXPECT_EQ(Failure({WithBody(rfb::kEncodingTight, Rect(0, 0, 8, 8), {0xB0})}),
            "Failed: Tight rectangle of unknown compression method 11");
  EXPECT_EQ(Failure({WithBody(rfb::kEncodingTight, Rect(0, 0, 8, 8), {0x40, 3})}),
            "Failed: Tight rectangle of unknown filter 3");
  // A JPEG picture whose size is not the rectangle's, or no picture at all.
  const std::string notJpeg = Failure({WithBody(rfb::kEncodingTight, Rect(0, 0, 8, 8), {0x90, 4, 1, 2, 3, 4})});
  EXPECT_NE(notJpeg, "");
  EXPECT_EQ(notJpeg.rfind("Failed: ", 0), 0u);
  // A palette of three colours and an index beyond them: black, not memory.
  EncodedRect beyond =
      WithBody(rfb::kEncodingTight, Rect(0, 0, 4, 2), {0x40, 1, 2, 10, 20, 30, 40, 50, 60, 70, 80, 90});
  for (int i = 0; i < 8; ++i) beyond.body.push_back(i == 3 ? 250 : 0);
  EXPECT_EQ(Failure({beyond}, Rect(0, 0, 4, 2)), "");
  EXPECT_EQ(frame_->Surface().GetPixel(3, 0), 0u);
  EXPECT_EQ(frame_->Surface().GetPixel(0, 0), platform::Colour{10 | (20 << 8) | (30 << 16)});
}

TEST_P(HostileTest, TightJpegLargerThanTheBufferIsRefused) {
  Bytes body = {0x90};
  TightEncoder::PutCompactLength(body, 4000000);
  ReceiveBuffer small(1 << 20);
  decoder_.BeginRectangle(WithBody(rfb::kEncodingTight, Rect(0, 0, 8, 8), {}).header);
  ASSERT_TRUE(small.Append(body.data(), body.size()));
  EXPECT_EQ(decoder_.DecodeStep(small, *frame_, pixels_), DecodeResult::Failed);
  EXPECT_EQ(decoder_.FailureText(), "Tight JPEG picture larger than the receive buffer");
}

INSTANTIATE_TEST_SUITE_P(Chunkings, HostileTest,
                         ::testing::Values(Chunking::Whole, Chunking::OneByte, Chunking::Random),
                         [](const auto& param) { return ChunkingName(param.param); });

// The automatic quality: lossless while the link keeps up, lower as it
// slows, back up when it recovers, and no flapping on a rate near a step.
TEST(LinkMeter, QualityFollowsTheLinkWithHysteresis) {
  LinkMeter meter;
  EXPECT_EQ(meter.Quality(), -1);
  meter.Sample(200 * 1024, 0.001);  // loopback
  EXPECT_EQ(meter.Quality(), -1);
  meter.Sample(1000, 10);  // too small to count
  EXPECT_EQ(meter.Quality(), -1);
  for (int i = 0; i < 20; ++i) meter.Sample(150'000, 0.1);  // 12 Mbit/s
  EXPECT_EQ(meter.Quality(), 7);
  EXPECT_NEAR(meter.BitsPerSecond(), 12e6, 1e6);
  for (int i = 0; i < 20; ++i) meter.Sample(100'000, 1.5);  // 0.53 Mbit/s
  EXPECT_EQ(meter.Quality(), 2);
  // Just above the 1 Mbit/s step: not enough to climb.
  for (int i = 0; i < 20; ++i) meter.Sample(131'250, 1.0);  // 1.05 Mbit/s
  EXPECT_EQ(meter.Quality(), 2);
  for (int i = 0; i < 30; ++i) meter.Sample(1'000'000, 0.02);  // 400 Mbit/s
  EXPECT_EQ(meter.Quality(), -1);
  meter.Reset();
  EXPECT_EQ(meter.BitsPerSecond(), 0);
}

#ifdef TELORUS_HAVE_JPEG

double Psnr(const std::vector<std::uint8_t>& rgb, const platform::Surface& surface, int x0, int y0, int width,
            int height) {
  double squares = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const platform::Colour c = surface.GetPixel(x0 + x, y0 + y);
      const std::uint8_t* e = &rgb[static_cast<std::size_t>((y * width + x) * 3)];
      const double d[3] = {double(c & 0xFF) - e[0], double((c >> 8) & 0xFF) - e[1], double((c >> 16) & 0xFF) - e[2]};
      squares += d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    }
  }
  const double mse = squares / (3.0 * width * height);
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// JPEG rectangles inside the framebuffer and reaching past its corner, with
// the picture's error against the original as the measure.
TEST(TightJpeg, PicturesDecodeWithinTheirError) {
  const int width = 96, height = 64;
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width * height * 3));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = &rgb[static_cast<std::size_t>((y * width + x) * 3)];
      p[0] = static_cast<std::uint8_t>(x * 255 / width);
      p[1] = static_cast<std::uint8_t>(y * 255 / height);
      p[2] = static_cast<std::uint8_t>(128 + 100 * std::sin(x * 0.2) * std::cos(y * 0.15));
    }
  }
  tjhandle compressor = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long jpegSize = 0;
  ASSERT_EQ(tjCompress2(compressor, rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &jpegSize, TJSAMP_444, 95, 0), 0);
  const Bytes picture(jpeg, jpeg + jpegSize);
  tjFree(jpeg);
  tjDestroy(compressor);

  for (const Chunking chunking : {Chunking::Whole, Chunking::Random}) {
    std::string error;
    auto frame = FrameBitmap::Create(160, 100, error);
    RectangleDecoder decoder;
    const PixelConverter pixels(TrueColour(16, 31, 63, 31, 11, 5, 0, false));
    const FeedResult result =
        Feed(Serialise(
                 {TightEncoder::Jpeg(WithBody(rfb::kEncodingTight, Rect(10, 20, width, height), {}).header, picture),
                  TightEncoder::Jpeg(WithBody(rfb::kEncodingTight, Rect(110, 70, width, height), {}).header, picture)}),
             chunking, 3, decoder, *frame, pixels);
    EXPECT_EQ(result.problem, "");
    EXPECT_GE(Psnr(rgb, frame->Surface(), 10, 20, width, height), 35.0);
    // The part of the second picture on the framebuffer, against the same
    // part of the original.
    std::vector<std::uint8_t> corner;
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 50; ++x) {
        const std::uint8_t* p = &rgb[static_cast<std::size_t>((y * width + x) * 3)];
        corner.insert(corner.end(), p, p + 3);
      }
    }
    EXPECT_GE(Psnr(corner, frame->Surface(), 110, 70, 50, 30), 35.0);
    // The unused byte of the memory pixels stays clear on both paths.
    EXPECT_EQ(frame->Surface().Row(20)[10] >> 24, 0u);
    EXPECT_EQ(frame->Surface().Row(70)[110] >> 24, 0u);
  }
  // A picture of another size than its rectangle.
  std::string error;
  auto frame = FrameBitmap::Create(160, 100, error);
  RectangleDecoder decoder;
  const PixelConverter pixels(kRgb);
  const FeedResult wrong =
      Feed(Serialise({TightEncoder::Jpeg(WithBody(rfb::kEncodingTight, Rect(0, 0, 95, 64), {}).header, picture)}),
           Chunking::Whole, 3, decoder, *frame, pixels);
  EXPECT_EQ(wrong.problem, "Failed: JPEG picture of 96x64 in a rectangle of 95x64");
}

#endif

}  // namespace
}  // namespace telorus::viewer
