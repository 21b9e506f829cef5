// A connection point of the control: the sinks of one outgoing interface,
// either a single one (the events) or any number (property notification).
#pragma once

#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <functional>
#include <utility>
#include <vector>

namespace telorus::control::win32 {

class ConnectionPoint final : public IConnectionPoint {
 public:
  // `container` is the object that owns this point and shares its lifetime
  // (its reference count stands for ours). `onChange` runs after a sink came
  // or went.
  ConnectionPoint(IConnectionPointContainer& container, const IID& iid, bool singleSink,
                  std::function<void()> onChange = {})
      : container_(container), iid_(iid), single_(singleSink), onChange_(std::move(onChange)) {}
  ~ConnectionPoint();
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;

  // The sinks, each with a reference held for the caller.
  std::vector<IUnknown*> Sinks() const;
  static void Release(std::vector<IUnknown*>& sinks);
  const IID& Iid() const { return iid_; }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return container_.AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return container_.Release(); }
  // IConnectionPoint
  STDMETHODIMP GetConnectionInterface(IID* iid) override;
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

 private:
  IConnectionPointContainer& container_;
  IID iid_;
  bool single_;
  std::function<void()> onChange_;
  std::vector<std::pair<DWORD, IUnknown*>> sinks_;
  DWORD nextCookie_ = 1;
};

// Lists a fixed set of connection points.
class ConnectionPointEnumerator final : public IEnumConnectionPoints {
 public:
  ConnectionPointEnumerator(std::vector<IConnectionPoint*> points, std::size_t position = 0);
  ~ConnectionPointEnumerator();

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumConnectionPoints** copy) override;

 private:
  LONG refs_ = 1;
  std::vector<IConnectionPoint*> points_;
  std::size_t position_;
};

}  // namespace telorus::control::win32
