// The session in memory for the fuzz targets: a transport that counts what
// the session sends and is open until the session asks to close, and a
// handler that plays the viewer (it draws nothing, checks what it is told,
// and resets the session when asked to close, as the viewer's closed
// handler does).
#pragma once

#include <algorithm>
#include <cstdio>
#include <functional>
#include <new>
#include <string>

#include "loopback_peer.h"
#include "platform/surface.h"
#include "viewer/rfb_session.h"

namespace telorus::fuzz {

class MemoryTransport : public viewer::Transport {
 public:
  std::int32_t Receive(void*, std::size_t) override { return 0; }
  void Send(const void* data, std::size_t length) override {
    if (!open) Fault("the session sent over a closed transport");
    if (onSend) onSend(std::string(static_cast<const char*>(data), length));
    if (bytes.size() < kKept) bytes.append(static_cast<const char*>(data), std::min(length, kKept - bytes.size()));
  }
  bool Open() const override { return open; }
  static constexpr std::size_t kKept = 1 << 16;  // the first bytes sent are kept
  bool open = true;
  std::string bytes;
  std::function<void(const std::string&)> onSend;  // sees every send as it happens
};

class Handler : public viewer::RfbSessionHandler {
 public:
  explicit Handler(MemoryTransport& transport) : transport_(transport) {}
  viewer::RfbSession* session = nullptr;
  bool debug = false;

  void SessionStatus(const std::string& text) override {
    if (debug) std::fprintf(stderr, "status: %s\n", text.c_str());
  }
  void SessionFrameSize(std::int32_t, std::int32_t) override {}
  // Large framebuffers are refused as memory shortage is (the session then
  // ends with its text): allocating and clearing them would be most of a
  // run's time, and find nothing the small ones do not.
  platform::Surface CreateFrameSurface(int width, int height) override {
    if (std::int64_t{width} * height > kMaxPixels) throw std::bad_alloc();
    return platform::CreateBitmapSurface(width, height);
  }
  static constexpr std::int64_t kMaxPixels = 1 << 20;
  void SessionAuthFailed() override {}
  void SessionHostName(const std::string&) override {}
  void SessionConnected() override {}
  void SessionRunning() override {}
  void SessionRectangle(int x, int y, int width, int height) override {
    const viewer::FrameBitmap* frame = session->Frame();
    if (!frame) Fault("a rectangle was reported without a framebuffer");
    if (width < 0 || height < 0 || x < 0 || y < 0) Fault("a rectangle with a negative position or size");
  }
  void SessionUpdateComplete() override {}
  void SessionBell() override {}
  void SessionCutText(const std::string&) override {}
  void SessionConnectError(const std::string&) override {}
  bool SessionCertificate(const viewer::CertificateInfo&) override { return false; }
  void SessionClose() override {
    if (!transport_.open) return;
    transport_.open = false;
    session->Reset();
  }

 private:
  MemoryTransport& transport_;
};

}  // namespace telorus::fuzz
