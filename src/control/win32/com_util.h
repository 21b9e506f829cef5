// Small helpers shared by the control's COM code: GUIDs from the interface
// description, wide strings, and a minimal owning interface pointer.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>
#include <utility>

#include "control/TelorusXControl_TLB.h"

namespace telorus::control::win32 {

inline GUID ToGUID(const Guid& g) {
  GUID out;
  out.Data1 = g.data1;
  out.Data2 = g.data2;
  out.Data3 = g.data3;
  for (int i = 0; i < 8; ++i) out.Data4[i] = g.data4[i];
  return out;
}

inline std::wstring Widen(const char* ascii) {
  std::wstring out;
  for (; *ascii; ++ascii) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*ascii)));
  return out;
}

// Owns one reference.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr& other) : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }
  void Reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }
  T** Out() {
    Reset();
    return &p_;
  }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Takes a reference that was already counted for us.
  static ComPtr Adopt(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace telorus::control::win32
