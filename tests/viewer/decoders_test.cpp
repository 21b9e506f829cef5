#include "viewer/decoders.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <tuple>

#include "test_encoder.h"
#include "viewer/frame_bitmap.h"
#include "viewer/receive_buffer.h"

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

// Every scenario runs under each chunking and each pixel format, and ends by
// comparing the whole framebuffer with the reference image.
class DecoderTest : public ::testing::TestWithParam<std::tuple<Chunking, int>> {
 protected:
  DecoderTest() : format_(kFormats[std::get<1>(GetParam())].format), pixels_(format_), random_(2024) {
    UseFramebuffer(48, 40);
  }

  void UseFramebuffer(int width, int height) {
    std::string error;
    frame_ = FrameBitmap::Create(width, height, error);
    ASSERT_NE(frame_, nullptr) << error;
    expected_ = std::make_unique<ReferenceImage>(width, height);
  }

  std::uint32_t RandomPixel() {
    const std::uint32_t value = random_();
    return format_.bitsPerPixel == 32 ? value : value & ((1u << format_.bitsPerPixel) - 1);
  }

  std::vector<std::uint32_t> RandomPixels(std::size_t count) {
    std::vector<std::uint32_t> pixels(count);
    for (auto& pixel : pixels) pixel = RandomPixel();
    return pixels;
  }

  // Decodes `rects`, then checks the contract, the count and every pixel.
  FeedResult Run(const std::vector<EncodedRect>& rects) {
    const FeedResult result = Feed(Serialise(rects), std::get<0>(GetParam()), 77, decoder_, *frame_, pixels_);
    EXPECT_EQ(result.problem, "");
    EXPECT_EQ(result.finishedRects, static_cast<int>(rects.size()));
    EXPECT_EQ(CompareWith(frame_->Surface(), *expected_), "");
    return result;
  }

  // A Raw rectangle over the whole framebuffer, so later copies and fills
  // have something to overwrite.
  EncodedRect RandomBackdrop() {
    const RectangleHeader whole = Rect(0, 0, frame_->Width(), frame_->Height());
    const auto pixels = RandomPixels(static_cast<std::size_t>(frame_->Width() * frame_->Height()));
    expected_->PaintRaw(whole, format_, pixels);
    return EncodeRaw(whole, format_, pixels);
  }

  EncodedRect Raw(const RectangleHeader& header) {
    const auto pixels = RandomPixels(std::size_t{header.width} * header.height);
    expected_->PaintRaw(header, format_, pixels);
    return EncodeRaw(header, format_, pixels);
  }

  EncodedRect RRE(const RectangleHeader& header, std::uint32_t background, const std::vector<Subrect>& subrects,
                  bool compact) {
    expected_->PaintRRE(header, format_, background, subrects);
    return EncodeRRE(header, format_, background, subrects, compact);
  }

  EncodedRect Hextile(const RectangleHeader& header, const std::vector<HextileTile>& tiles) {
    expected_->PaintHextile(header, format_, tiles);
    return EncodeHextile(header, format_, tiles);
  }

  HextileTile RawTile(int width, int height, std::uint8_t subencoding = kHextileRaw) {
    HextileTile tile;
    tile.subencoding = subencoding;
    tile.raw = RandomPixels(static_cast<std::size_t>(width * height));
    return tile;
  }

  PixelFormat format_;
  PixelConverter pixels_;
  std::mt19937 random_;
  std::unique_ptr<FrameBitmap> frame_;
  std::unique_ptr<ReferenceImage> expected_;
  RectangleDecoder decoder_;
};

TEST_P(DecoderTest, RawRectanglesIncludingClippedAndEmptyOnes) {
  Run({Raw(Rect(3, 2, 7, 5)), Raw(Rect(44, 36, 8, 6)),    // runs off the right and bottom edges
       Raw(Rect(5, 5, 0, 0)),                             // no area: no data, still finished
       Raw(Rect(5, 5, 0, 3)), Raw(Rect(100, 100, 2, 2)),  // wholly outside
       Raw(Rect(0, 39, 48, 1))});
}

TEST_P(DecoderTest, CopyRectOverlapsInEveryDirectionAndNotifiesOncePerRectangle) {
  std::vector<EncodedRect> rects = {RandomBackdrop()};
  const std::vector<std::array<int, 6>> copies = {
      // source x, y, width, height, destination x, y
      {2, 2, 20, 15, 4, 3},     // down and right, overlapping
      {10, 10, 20, 15, 7, 6},   // up and left, overlapping
      {5, 20, 30, 10, 5, 17},   // straight up
      {12, 4, 30, 10, 14, 4},   // straight right
      {0, 30, 15, 10, 40, 30},  // destination runs off the framebuffer
      {40, 35, 20, 20, 1, 1},   // source runs off the framebuffer
  };
  for (const auto& [sx, sy, w, h, dx, dy] : copies) {
    const RectangleHeader header = Rect(dx, dy, w, h);
    expected_->PaintCopyRect(header, sx, sy);
    rects.push_back(EncodeCopyRect(header, static_cast<std::uint16_t>(sx), static_cast<std::uint16_t>(sy)));
  }
  const FeedResult result = Run(rects);
  ASSERT_EQ(result.copyRectSources.size(), copies.size());
  for (std::size_t i = 0; i < copies.size(); ++i) {
    EXPECT_EQ(result.copyRectSources[i].first, copies[i][0]);
    EXPECT_EQ(result.copyRectSources[i].second, copies[i][1]);
  }
}

TEST_P(DecoderTest, RreAndCoRreWithNoAndManySubrectangles) {
  std::vector<EncodedRect> rects = {RandomBackdrop()};
  for (const bool compact : {false, true}) {
    rects.push_back(RRE(Rect(4, 4, 20, 12), RandomPixel(), {}, compact));
    std::vector<Subrect> subrects;
    for (int i = 0; i < 60; ++i) {
      // Some reach outside the rectangle and the framebuffer.
      subrects.push_back({RandomPixel(), static_cast<std::uint16_t>(random_() % 40),
                          static_cast<std::uint16_t>(random_() % 35), static_cast<std::uint16_t>(1 + random_() % 20),
                          static_cast<std::uint16_t>(1 + random_() % 20)});
    }
    rects.push_back(RRE(Rect(6, 8, 30, 25), RandomPixel(), subrects, compact));
  }
  // RRE positions add up in 16 bits: 10 + 65530 wraps round to 4.
  rects.push_back(RRE(Rect(10, 10, 8, 8), RandomPixel(),
                      {{RandomPixel(), 65530, 0, 10, 3}, {RandomPixel(), 0, 65534, 2, 40}}, false));
  Run(rects);
}

TEST_P(DecoderTest, HextileWalksTilesLeftToRightThenTopToBottom) {
  UseFramebuffer(150, 80);
  // A 40 x 20 rectangle at (100, 50): six tiles, each given its own colour.
  const RectangleHeader header = Rect(100, 50, 40, 20);
  std::vector<HextileTile> tiles(6);
  std::vector<std::uint32_t> colours;
  for (auto& tile : tiles) {
    tile.subencoding = kHextileBackgroundSpecified;
    do tile.background = RandomPixel();
    while (std::find(colours.begin(), colours.end(), tile.background) != colours.end() ||
           ExpectedColour(format_, tile.background) == 0);
    colours.push_back(tile.background);
  }
  Run({Hextile(header, tiles)});
  const int geometry[6][4] = {{100, 50, 16, 16}, {116, 50, 16, 16}, {132, 50, 8, 16},
                              {100, 66, 16, 4},  {116, 66, 16, 4},  {132, 66, 8, 4}};
  for (int i = 0; i < 6; ++i) {
    const auto [x, y, w, h] = geometry[i];
    const Colour colour = ExpectedColour(format_, colours[static_cast<std::size_t>(i)]);
    EXPECT_EQ(frame_->Surface().GetPixel(x, y), colour) << "tile " << i;
    EXPECT_EQ(frame_->Surface().GetPixel(x + w - 1, y + h - 1), colour) << "tile " << i;
  }
  EXPECT_EQ(frame_->Surface().GetPixel(140, 50), 0u);
  EXPECT_EQ(frame_->Surface().GetPixel(100, 70), 0u);
}

TEST_P(DecoderTest, HextileRawTilesIncludingEdgeTilesAndIgnoredBits) {
  // 37 x 21 at (5, 3): tiles 16, 16 and 5 wide; 16 and 5 high.
  const RectangleHeader header = Rect(5, 3, 37, 21);
  std::vector<HextileTile> tiles;
  const std::uint8_t subencodings[] = {
      kHextileRaw,        kHextileRaw | kHextileBackgroundSpecified,  // raw wins: no background read
      kHextileRaw | 0xE0, kHextileRaw | kHextileAnySubrects | kHextileSubrectsColoured,
      kHextileRaw,        kHextileRaw};
  const std::vector<TileGeometry> walk = TileWalk(header);
  ASSERT_EQ(walk.size(), 6u);
  for (std::size_t i = 0; i < walk.size(); ++i) {
    tiles.push_back(RawTile(walk[i].width, walk[i].height, subencodings[i]));
  }
  Run({Hextile(header, tiles)});
}

TEST_P(DecoderTest, HextileColoursSubrectanglesAndCarryOver) {
  const std::uint32_t background = RandomPixel();
  const std::uint32_t foreground = RandomPixel();
  std::vector<HextileTile> first(6);  // 40 x 20 at (2, 2): 3 x 2 tiles
  // The first tile of the decoder's life gives no background: black.
  first[0].subencoding = 0;
  first[1] = {kHextileBackgroundSpecified, background, 0, {}, {}};
  first[2] = {
      kHextileForegroundSpecified | kHextileAnySubrects, 0, foreground, {}, {{0, 1, 2, 3, 4}, {0, 0, 0, 16, 1}}};
  // Coloured subrectangles; the last colour becomes the kept foreground.
  first[3] = {kHextileBackgroundSpecified | kHextileAnySubrects | kHextileSubrectsColoured,
              RandomPixel(),
              0,
              {},
              {{RandomPixel(), 2, 2, 5, 5}, {RandomPixel(), 15, 0, 1, 16}}};
  // Neither foreground nor coloured: drawn in the last subrectangle colour;
  // position 0xF0, size 0x0F is the column at x 15, rows 0..15.
  first[4] = {kHextileAnySubrects, 0, 0, {}, {{0, 15, 0, 1, 16}, {0, 3, 3, 2, 2}}};
  first[5] = {0x00, 0, 0, {}, {}};  // kept background

  // A second rectangle starts with the colours the first left behind.
  std::vector<HextileTile> second(2);  // 20 x 10 at (20, 26): 2 tiles
  second[0] = {0, 0, 0, {}, {}};
  second[1] = {kHextileAnySubrects, 0, 0, {}, {{0, 0, 0, 4, 10}}};
  Run({Hextile(Rect(2, 2, 40, 20), first), Hextile(Rect(20, 26, 20, 10), second)});

  // Spot checks that do not rely on the reference painter.
  EXPECT_EQ(frame_->Surface().GetPixel(2, 2), 0u);
  EXPECT_EQ(frame_->Surface().GetPixel(18, 2), ExpectedColour(format_, background));
  const Colour lastColoured = ExpectedColour(format_, first[3].subrects[1].pixel);
  EXPECT_EQ(frame_->Surface().GetPixel(2 + 16 + 15, 18 + 0), lastColoured);
  EXPECT_EQ(frame_->Surface().GetPixel(2 + 16 + 15, 18 + 3), lastColoured);
  EXPECT_EQ(frame_->Surface().GetPixel(36 + 0, 26 + 9), lastColoured);
}

TEST_P(DecoderTest, HextileSubrectanglesOutsideTheTileOrFramebufferAreClipped) {
  std::vector<EncodedRect> rects = {RandomBackdrop()};
  // A rectangle reaching off the framebuffer (48 x 40): its right tiles and
  // bottom row are partly or wholly off it.
  const RectangleHeader header = Rect(30, 28, 40, 20);
  std::vector<HextileTile> tiles;
  for (const TileGeometry& at : TileWalk(header)) {
    HextileTile tile{
        kHextileBackgroundSpecified | kHextileAnySubrects | kHextileSubrectsColoured, RandomPixel(), 0, {}, {}};
    // Subrectangles may run past the tile's own edge (up to 16 + 15).
    tile.subrects.push_back({RandomPixel(), 12, 12, 16, 16});
    tile.subrects.push_back({RandomPixel(), 0, 15, static_cast<std::uint16_t>(at.width), 1});
    tiles.push_back(tile);
  }
  rects.push_back(Hextile(header, tiles));
  rects.push_back(Hextile(Rect(44, 0, 16, 16), {RawTile(16, 16)}));
  Run(rects);
}

TEST_P(DecoderTest, HextileRandomTilesOverSeveralRectangles) {
  std::vector<EncodedRect> rects;
  for (int r = 0; r < 6; ++r) {
    const RectangleHeader header = Rect(static_cast<int>(random_() % 40), static_cast<int>(random_() % 30),
                                        1 + static_cast<int>(random_() % 50), 1 + static_cast<int>(random_() % 40));
    std::vector<HextileTile> tiles;
    for (const TileGeometry& at : TileWalk(header)) {
      HextileTile tile;
      tile.subencoding = static_cast<std::uint8_t>(random_() & 0x1F);
      if (random_() % 5 == 0)
        tile.subencoding |= kHextileRaw;
      else
        tile.subencoding &= static_cast<std::uint8_t>(~kHextileRaw);
      tile.background = RandomPixel();
      tile.foreground = RandomPixel();
      tile.raw = RandomPixels(static_cast<std::size_t>(at.width * at.height));
      const int count = static_cast<int>(random_() % 12);
      for (int i = 0; i < count; ++i) {
        tile.subrects.push_back(
            {RandomPixel(), static_cast<std::uint16_t>(random_() % 16), static_cast<std::uint16_t>(random_() % 16),
             static_cast<std::uint16_t>(1 + random_() % 16), static_cast<std::uint16_t>(1 + random_() % 16)});
      }
      tiles.push_back(tile);
    }
    rects.push_back(Hextile(header, tiles));
  }
  Run(rects);
}

TEST_P(DecoderTest, EmptyHextileAndUnknownEncodingsCarryNoData) {
  std::vector<EncodedRect> rects = {Raw(Rect(1, 1, 4, 4))};
  rects.push_back(Hextile(Rect(3, 3, 0, 5), {}));
  rects.push_back(Hextile(Rect(3, 3, 9, 0), {}));
  for (const std::uint32_t encoding : {3u, 17u, 0xFFFFFF21u}) {
    EncodedRect unknown{Rect(0, 0, 10, 10), {}};
    unknown.header.encoding = encoding;
    rects.push_back(unknown);
  }
  rects.push_back(Raw(Rect(6, 1, 4, 4)));
  Run(rects);
}

std::string ParamName(const ::testing::TestParamInfo<std::tuple<Chunking, int>>& info) {
  return ChunkingName(std::get<0>(info.param)) + "_" + kFormats[std::get<1>(info.param)].name;
}

INSTANTIATE_TEST_SUITE_P(Chunkings, DecoderTest,
                         ::testing::Combine(::testing::Values(Chunking::Whole, Chunking::OneByte, Chunking::Random),
                                            ::testing::Range(0, 4)),
                         ParamName);

// Scenarios that look inside a rectangle while its data is incomplete.
class PartialData : public ::testing::Test {
 protected:
  PartialData() : format_(TrueColour(32, 255, 255, 255, 16, 8, 0, false)), pixels_(format_) {
    std::string error;
    frame_ = FrameBitmap::Create(32, 32, error);
  }

  DecodeResult Step() { return decoder_.DecodeStep(buffer_, *frame_, pixels_); }
  void Give(const Bytes& bytes, std::size_t from, std::size_t to) {
    ASSERT_TRUE(buffer_.Append(bytes.data() + from, to - from));
  }

  PixelFormat format_;
  PixelConverter pixels_;
  ReceiveBuffer buffer_;
  RectangleDecoder decoder_;
  std::unique_ptr<FrameBitmap> frame_;
};

TEST_F(PartialData, RawIsDrawnAWholeRowAtATime) {
  std::vector<std::uint32_t> colours(9, 0xFFFFFF);
  colours[3] = colours[4] = colours[5] = 0x123456;
  const EncodedRect raw = EncodeRaw(Rect(2, 2, 3, 3), format_, colours);
  const std::size_t row = 3 * 4;
  decoder_.BeginRectangle(raw.header);
  Give(raw.body, 0, row - 1);
  EXPECT_EQ(Step(), DecodeResult::NeedMore);
  EXPECT_EQ(buffer_.Unread(), row - 1);
  EXPECT_EQ(frame_->Surface().GetPixel(2, 2), 0u);
  // The first row and a part of the second: only the first is taken.
  Give(raw.body, row - 1, row + 5);
  EXPECT_EQ(Step(), DecodeResult::PieceDone);
  EXPECT_EQ(buffer_.Unread(), 5u);
  EXPECT_EQ(frame_->Surface().GetPixel(4, 2), 0xFFFFFFu);
  EXPECT_EQ(frame_->Surface().GetPixel(2, 3), 0u);
  EXPECT_EQ(Step(), DecodeResult::NeedMore);
  Give(raw.body, row + 5, raw.body.size() - 1);
  EXPECT_EQ(Step(), DecodeResult::PieceDone);
  EXPECT_EQ(frame_->Surface().GetPixel(2, 3), 0x563412u);
  EXPECT_EQ(frame_->Surface().GetPixel(4, 4), 0u);
  Give(raw.body, raw.body.size() - 1, raw.body.size());
  EXPECT_EQ(Step(), DecodeResult::Finished);
  EXPECT_EQ(frame_->Surface().GetPixel(4, 4), 0xFFFFFFu);
  EXPECT_EQ(buffer_.Unread(), 0u);
}

TEST_F(PartialData, RawRectangleLargerThanTheBufferDecodesThroughIt) {
  // 16 x 16 pixels at 4 bytes are 1024 bytes; the buffer holds 100.
  ReceiveBuffer small(100);
  std::vector<std::uint32_t> colours(256);
  for (std::size_t i = 0; i < colours.size(); ++i) colours[i] = 0x010101u * static_cast<std::uint32_t>(i);
  const EncodedRect raw = EncodeRaw(Rect(0, 0, 16, 16), format_, colours);
  decoder_.BeginRectangle(raw.header);
  DecodeResult result = DecodeResult::NeedMore;
  for (std::size_t at = 0; at < raw.body.size(); at += 64) {
    ASSERT_TRUE(small.Append(raw.body.data() + at, 64));
    result = decoder_.DecodeStep(small, *frame_, pixels_);
    ASSERT_NE(result, DecodeResult::Failed) << decoder_.FailureText();
  }
  EXPECT_EQ(result, DecodeResult::Finished);
  EXPECT_EQ(small.Unread(), 0u);
  EXPECT_EQ(frame_->Surface().GetPixel(15, 15), 0xFFFFFFu);
  EXPECT_EQ(frame_->Surface().GetPixel(1, 0), 0x010101u);
}

TEST_F(PartialData, RreBackgroundShowsBeforeTheSubrectangleListIsComplete) {
  const EncodedRect rre =
      EncodeRRE(Rect(0, 0, 10, 10), format_, 0x0000FF, {{0x00FF00, 1, 1, 2, 2}, {0xFF0000, 5, 5, 1, 1}}, false);
  decoder_.BeginRectangle(rre.header);
  Give(rre.body, 0, 7);  // count and three bytes of the background
  EXPECT_EQ(Step(), DecodeResult::NeedMore);
  EXPECT_EQ(decoder_.Rre().RreStage, 0);
  Give(rre.body, 7, rre.body.size() - 1);
  EXPECT_EQ(Step(), DecodeResult::PieceDone);
  EXPECT_EQ(decoder_.Rre().RreStage, 1);
  EXPECT_EQ(decoder_.Rre().SubrectCount, 2u);
  EXPECT_EQ(frame_->Surface().GetPixel(1, 1), 0xFF0000u);  // background: red
  EXPECT_EQ(Step(), DecodeResult::NeedMore);
  EXPECT_EQ(buffer_.Unread(), rre.body.size() - 1 - 8);
  Give(rre.body, rre.body.size() - 1, rre.body.size());
  EXPECT_EQ(Step(), DecodeResult::Finished);
  EXPECT_EQ(frame_->Surface().GetPixel(1, 1), 0x00FF00u);
  EXPECT_EQ(frame_->Surface().GetPixel(5, 5), 0x0000FFu);
}

TEST_F(PartialData, RawHextileTileIsDrawnOnlyWhenWhole) {
  const EncodedRect hextile =
      EncodeHextile(Rect(0, 0, 4, 4), format_, {{kHextileRaw, 0, 0, std::vector<std::uint32_t>(16, 0xABCDEF), {}}});
  decoder_.BeginRectangle(hextile.header);
  Give(hextile.body, 0, hextile.body.size() - 1);
  EXPECT_EQ(Step(), DecodeResult::PieceDone);  // the sub-encoding byte
  EXPECT_EQ(decoder_.Hextile().HextileStage, 1);
  EXPECT_EQ(Step(), DecodeResult::NeedMore);
  EXPECT_EQ(frame_->Surface().GetPixel(0, 0), 0u);
  Give(hextile.body, hextile.body.size() - 1, hextile.body.size());
  EXPECT_EQ(Step(), DecodeResult::Finished);
  EXPECT_EQ(frame_->Surface().GetPixel(3, 3), 0xEFCDABu);
}

TEST_F(PartialData, PiecesThatCanNeverFitFailWithoutTakingAnything) {
  // A Raw row larger than the buffer's cap.
  ReceiveBuffer small(1000);
  decoder_.BeginRectangle(Rect(0, 0, 300, 2));  // rows of 1200 bytes at 4 per pixel
  EXPECT_EQ(decoder_.DecodeStep(small, *frame_, pixels_), DecodeResult::Failed);
  EXPECT_NE(decoder_.FailureText().find("1200"), std::string::npos);

  // An RRE count whose list size overflows 32 bits: 0xFFFFFFFF * 12 bytes.
  Bytes header;
  PutU32(header, 0xFFFFFFFFu);
  PutPixel(header, format_, 0x00FF00);
  header.push_back(0x42);
  RectangleHeader rre = Rect(0, 0, 4, 4);
  rre.encoding = kEncodingRRE;
  decoder_.BeginRectangle(rre);
  Give(header, 0, header.size());
  EXPECT_EQ(Step(), DecodeResult::PieceDone);
  EXPECT_EQ(Step(), DecodeResult::Failed);
  EXPECT_NE(decoder_.FailureText().find("51539607540"), std::string::npos);
  EXPECT_EQ(buffer_.Unread(), 1u);
}

TEST(DecoderFormat, UnusableFormatFailsInsteadOfDecoding) {
  std::string error;
  auto frame = FrameBitmap::Create(8, 8, error);
  ReceiveBuffer buffer;
  const std::uint8_t bytes[64] = {};
  ASSERT_TRUE(buffer.Append(bytes, sizeof bytes));
  RectangleDecoder decoder;
  for (const std::uint32_t encoding : {kEncodingRaw, kEncodingRRE, kEncodingCoRRE, kEncodingHextile}) {
    for (const PixelConverter& pixels : {PixelConverter(TrueColour(24, 255, 255, 255, 16, 8, 0, false)),
                                         PixelConverter(TrueColour(16, 31, 0, 31, 11, 5, 0, false))}) {
      RectangleHeader header = Rect(0, 0, 2, 2);
      header.encoding = encoding;
      decoder.BeginRectangle(header);
      EXPECT_EQ(decoder.DecodeStep(buffer, *frame, pixels), DecodeResult::Failed);
      EXPECT_NE(decoder.FailureText(), "");
      EXPECT_EQ(buffer.Unread(), 64u);
    }
  }
}

TEST(FrameBitmapCreate, RefusesSizesWithoutAreaOrTooLarge) {
  std::string error;
  EXPECT_EQ(FrameBitmap::Create(0, 10, error), nullptr);
  EXPECT_NE(error, "");
  error.clear();
  EXPECT_EQ(FrameBitmap::Create(65535, 65535, error), nullptr);
  EXPECT_NE(error, "");
  auto frame = FrameBitmap::Create(3840, 2160, error);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->Width(), 3840);
  EXPECT_EQ(frame->Surface().GetPixel(3839, 2159), 0u);
}

}  // namespace
}  // namespace telorus::viewer
