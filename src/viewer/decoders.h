// Rectangle decoders: the bodies of the Raw, CopyRect, RRE, CoRRE and
// Hextile encodings, decoded into `FrameBitmap`.
//
// How the session engine drives them (one `RectangleDecoder` for the
// viewer's whole life, because Hextile's colours carry over from rectangle
// to rectangle and from session to session):
//
//   // the 12-byte rectangle header has been taken from the buffer
//   decoder.BeginRectangle(RectangleHeader::FromWire(bytes));
//   // then, now and after every data event until the result is not NeedMore:
//   for (;;) {
//     DecodeResult r = decoder.DecodeStep(buffer, *frameBitmap, pixelFormats.Converter());
//     if (r == DecodeResult::PieceDone) continue;         // call again at once
//     if (r == DecodeResult::NeedMore) break;             // wait for more data
//     if (r == DecodeResult::Failed) { /* end the session, decoder.FailureText() */ }
//     /* Finished: copy the rectangle to the window, next header or message */
//     break;
//   }
//
// Each step peeks before it takes: `NeedMore` (-1) means the next piece is
// not wholly buffered and nothing of it was taken; `PieceDone` (0) a piece was
// decoded; `Finished` (1) the rectangle is done. Raw takes the whole rows
// that are buffered in each step (a piece is a band of rows); CopyRect
// finishes in one step. `Failed` is returned, having taken nothing, when the current
// pixel format cannot be decoded or a piece could never fit in the receive
// buffer; the session cannot continue in step with the server then.
//
// Zlib (6), Tight (7), TRLE (15) and ZRLE (16) are decoded by classes of
// their own (compressed_decoders.h), kept in a table keyed by encoding.
// Other encodings carry no data: they finish at once.
//
// The decoders read only through the receive buffer and draw only through
// the framebuffer's surface; every pixel, fill and copy is clipped to the
// framebuffer, so rectangles and subrectangles that reach outside it are
// drawn as far as it goes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/surface.h"
#include "viewer/rfb_wire.h"

namespace telorus::viewer {

class EncodingDecoder;
class FrameBitmap;
class PixelConverter;
class ReceiveBuffer;

using rfb::kEncodingCopyRect;
using rfb::kEncodingCoRRE;
using rfb::kEncodingHextile;
using rfb::kEncodingRaw;
using rfb::kEncodingRRE;

// A FramebufferUpdate rectangle header, in host order.
struct RectangleHeader {
  static constexpr std::size_t kWireSize = 12;

  std::uint16_t x = 0;
  std::uint16_t y = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::uint32_t encoding = 0;

  static RectangleHeader FromWire(const std::uint8_t* wire);
};

enum class DecodeResult : int { NeedMore = -1, PieceDone = 0, Finished = 1, Failed = 2 };

// Resume state of RRE and CoRRE.
struct RreState {
  std::uint8_t RreStage = 0;  // 0: header next; 1: subrectangle list next
  std::uint32_t SubrectCount = 0;
};

// Resume state of Hextile. The two colours (colour values) outlive
// rectangles; the rest describes the current tile.
struct HextileState {
  std::uint8_t HextileStage = 0;  // 0: sub-encoding byte next; 1: tile body; 2: subrectangles
  std::int32_t TileX = 0;
  std::int32_t TileY = 0;
  std::int32_t TileWidth = 0;
  std::int32_t TileHeight = 0;
  std::uint8_t TileSubencoding = 0;
  std::uint8_t TileSubrectCount = 0;
  platform::Colour HextileBackground = 0;
  platform::Colour HextileForeground = 0;
};

// Hextile sub-encoding bits.
inline constexpr std::uint8_t kHextileRaw = 1;
inline constexpr std::uint8_t kHextileBackgroundSpecified = 2;
inline constexpr std::uint8_t kHextileForegroundSpecified = 4;
inline constexpr std::uint8_t kHextileAnySubrects = 8;
inline constexpr std::uint8_t kHextileSubrectsColoured = 16;

class RectangleDecoder {
 public:
  RectangleDecoder();
  ~RectangleDecoder();
  RectangleDecoder(const RectangleDecoder&) = delete;
  RectangleDecoder& operator=(const RectangleDecoder&) = delete;

  // A new connection: the compressed encodings' streams start afresh.
  void NewConnection();
  // Whether rectangles of `encoding` carry data this decoder reads.
  bool Decodes(std::uint32_t encoding) const;

  // Called with the source position of each CopyRect rectangle once its
  // data has been taken and before the block is copied (the engine's status
  // text "CopyRect Codec:x,y"). Returns whether the copy may go on: false
  // when the notice ended the session, which takes the framebuffer with it;
  // the rectangle is then finished without copying.
  using CopyRectNotice = std::function<bool(std::uint16_t sourceX, std::uint16_t sourceY)>;

  void SetCopyRectNotice(CopyRectNotice notice) { copyRectNotice_ = std::move(notice); }

  // Makes `header` the current rectangle and resets the per-rectangle state
  // of its encoding (the Hextile tile cursor goes to its top-left corner).
  void BeginRectangle(const RectangleHeader& header);

  // One decoding step of the current rectangle, in the pixel format of
  // `pixels` (the format in force now, also if it changed mid-rectangle).
  DecodeResult DecodeStep(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels);

  const RectangleHeader& Current() const { return rect_; }
  // Raw: the rows of the current rectangle drawn so far, from its top. Each
  // step draws one band of at most kRawBandBytes of framebuffer.
  std::uint32_t RawRowsDone() const { return rawRowsDone_; }
  static constexpr std::size_t kRawBandBytes = std::size_t{256} << 10;
  const RreState& Rre() const { return rre_; }
  const HextileState& Hextile() const { return hextile_; }
  // Why the last step returned `Failed`.
  const std::string& FailureText() const { return failure_; }

 private:
  DecodeResult DecodeRaw(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels);
  DecodeResult DecodeCopyRect(ReceiveBuffer& buffer, FrameBitmap& frame);
  // `DecodeRRE` and, with compact subrectangles, `DecodeCoRRE`.
  DecodeResult DecodeRRE(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels, bool compact);
  DecodeResult DecodeHextile(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels);
  DecodeResult HextilePiece(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels);
  DecodeResult HextileTileBody(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels);
  DecodeResult HextileSubrects(ReceiveBuffer& buffer, FrameBitmap& frame, const PixelConverter& pixels);
  DecodeResult NextTile();
  DecodeResult Fail(std::string text);
  // Whether a piece of `size` bytes could ever be buffered; sets the failure
  // text when not.
  bool Fits(const ReceiveBuffer& buffer, std::uint64_t size, const char* what);

  RectangleHeader rect_;
  // The compressed encodings, and the one of the current rectangle (null
  // for the others).
  std::vector<std::pair<std::uint32_t, std::unique_ptr<EncodingDecoder>>> table_;
  EncodingDecoder* current_ = nullptr;
  std::uint32_t rawRowsDone_ = 0;  // Raw: rows of the current rectangle drawn
  RreState rre_;
  HextileState hextile_;
  CopyRectNotice copyRectNotice_;
  std::string failure_;
};

}  // namespace telorus::viewer
