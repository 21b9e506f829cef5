#include "control/win32/connection_point.h"

#include <new>

namespace telorus::control::win32 {

ConnectionPoint::~ConnectionPoint() {
  for (auto& [cookie, sink] : sinks_) sink->Release();
}

std::vector<IUnknown*> ConnectionPoint::Sinks() const {
  std::vector<IUnknown*> out;
  for (const auto& [cookie, sink] : sinks_) {
    sink->AddRef();
    out.push_back(sink);
  }
  return out;
}

void ConnectionPoint::Release(std::vector<IUnknown*>& sinks) {
  for (IUnknown* sink : sinks) sink->Release();
  sinks.clear();
}

STDMETHODIMP ConnectionPoint::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IConnectionPoint)) {
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = iid_;
  return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (!container) return E_POINTER;
  *container = &container_;
  container_.AddRef();
  return S_OK;
}

STDMETHODIMP ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  if (single_ && !sinks_.empty()) return CONNECT_E_ADVISELIMIT;
  IUnknown* typed = nullptr;
  if (FAILED(sink->QueryInterface(iid_, reinterpret_cast<void**>(&typed))) || !typed) return CONNECT_E_CANNOTCONNECT;
  *cookie = nextCookie_++;
  sinks_.emplace_back(*cookie, typed);
  if (onChange_) onChange_();
  return S_OK;
}

STDMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) {
  for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
    if (it->first != cookie) continue;
    IUnknown* sink = it->second;
    sinks_.erase(it);
    if (onChange_) onChange_();
    sink->Release();
    return S_OK;
  }
  return CONNECT_E_NOCONNECTION;
}

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** connections) {
  if (!connections) return E_POINTER;
  *connections = nullptr;
  return E_NOTIMPL;
}

ConnectionPointEnumerator::ConnectionPointEnumerator(std::vector<IConnectionPoint*> points, std::size_t position)
    : points_(std::move(points)), position_(position) {
  for (IConnectionPoint* p : points_) p->AddRef();
}

ConnectionPointEnumerator::~ConnectionPointEnumerator() {
  for (IConnectionPoint* p : points_) p->Release();
}

STDMETHODIMP ConnectionPointEnumerator::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumConnectionPoints)) {
    *object = static_cast<IEnumConnectionPoints*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ConnectionPointEnumerator::Release() {
  LONG left = InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP ConnectionPointEnumerator::Next(ULONG count, IConnectionPoint** points, ULONG* fetched) {
  if (!points) return E_POINTER;
  ULONG n = 0;
  while (n < count && position_ < points_.size()) {
    points[n] = points_[position_++];
    points[n++]->AddRef();
  }
  if (fetched) *fetched = n;
  return n == count ? S_OK : S_FALSE;
}

STDMETHODIMP ConnectionPointEnumerator::Skip(ULONG count) {
  position_ += count;
  if (position_ <= points_.size()) return S_OK;
  position_ = points_.size();
  return S_FALSE;
}

STDMETHODIMP ConnectionPointEnumerator::Reset() {
  position_ = 0;
  return S_OK;
}

STDMETHODIMP ConnectionPointEnumerator::Clone(IEnumConnectionPoints** copy) {
  if (!copy) return E_POINTER;
  *copy = new (std::nothrow) ConnectionPointEnumerator(points_, position_);
  return *copy ? S_OK : E_OUTOFMEMORY;
}

}  // namespace telorus::control::win32
