// Writes an RGB image as a PNG file with the Windows Imaging Component.
#include <windows.h>
#include <wincodec.h>

#include <cstdio>
#include <string>
#include <vector>

#include "png_writer.h"

namespace telorus::apps {
namespace {

// Releases a COM interface when it goes out of scope.
template <typename T>
struct Com {
  T* p = nullptr;
  ~Com() {
    if (p) p->Release();
  }
  T** operator&() { return &p; }
  T* operator->() const { return p; }
};

std::string Failed(const char* step, HRESULT hr) {
  char text[96];
  std::snprintf(text, sizeof text, "%s failed (0x%08lx)", step, static_cast<unsigned long>(hr));
  return text;
}

}  // namespace

std::string WritePng(const std::string& path, int width, int height,
                     const std::function<std::uint32_t(int x, int y)>& pixel) {
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  struct Uninit {
    bool on;
    ~Uninit() {
      if (on) CoUninitialize();
    }
  } uninit{SUCCEEDED(init)};

  Com<IWICImagingFactory> factory;
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return Failed("creating the imaging factory", hr);
  Com<IWICStream> stream;
  if (FAILED(hr = factory->CreateStream(&stream))) return Failed("creating a stream", hr);
  std::wstring wide(path.begin(), path.end());
  if (int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0); n > 0) {
    wide.resize(static_cast<std::size_t>(n));
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), n);
    wide.resize(static_cast<std::size_t>(n - 1));
  }
  if (FAILED(hr = stream->InitializeFromFilename(wide.c_str(), GENERIC_WRITE))) return "cannot write " + path;
  Com<IWICBitmapEncoder> encoder;
  if (FAILED(hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)))
    return Failed("creating the PNG encoder", hr);
  if (FAILED(hr = encoder->Initialize(stream.p, WICBitmapEncoderNoCache))) return Failed("starting the encoder", hr);
  Com<IWICBitmapFrameEncode> frame;
  if (FAILED(hr = encoder->CreateNewFrame(&frame, nullptr))) return Failed("creating a frame", hr);
  if (FAILED(hr = frame->Initialize(nullptr))) return Failed("starting the frame", hr);
  if (FAILED(hr = frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height))))
    return Failed("sizing the frame", hr);
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (FAILED(hr = frame->SetPixelFormat(&format))) return Failed("choosing the pixel format", hr);
  const UINT stride = static_cast<UINT>((width * 3 + 3) & ~3);
  std::vector<BYTE> row(stride);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t c = pixel(x, y);
      // Blue, green, red.
      row[static_cast<std::size_t>(x) * 3] = static_cast<BYTE>(c >> 16);
      row[static_cast<std::size_t>(x) * 3 + 1] = static_cast<BYTE>(c >> 8);
      row[static_cast<std::size_t>(x) * 3 + 2] = static_cast<BYTE>(c);
    }
    if (FAILED(hr = frame->WritePixels(1, stride, stride, row.data()))) return Failed("writing pixels", hr);
  }
  if (FAILED(hr = frame->Commit())) return Failed("finishing the frame", hr);
  if (FAILED(hr = encoder->Commit())) return Failed("finishing the file", hr);
  return {};
}

}  // namespace telorus::apps
