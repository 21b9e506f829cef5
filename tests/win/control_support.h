// What the control's tests share: the DLL under test loaded by path, late-
// bound calls by name, and an event sink that records what the control
// fires.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "control/win32/ITelorusX.h"
#include "control/win32/com_util.h"

namespace telorus::test {

using control::win32::ComPtr;

// A Linux path as Wine shows it (the Linux root is drive Z:).
std::wstring WindowsPath(const std::string& linuxPath);
// The built DLL as a Windows path.
std::wstring ControlDllPath();

// Runs a Windows command line to its end; its exit code, or -1 when it
// cannot start or outlives `timeout`. What it printed goes to `output`.
int RunProcess(const std::wstring& commandLine, std::string* output = nullptr,
               std::chrono::milliseconds timeout = std::chrono::seconds(60));

// A new control from the DLL's own class factory (no registry involved).
ComPtr<control::win32::ITelorusX> CreateControl();

// A late-bound call by member name: DISPATCH_PROPERTYGET, _PROPERTYPUT or
// _METHOD. Returns the HRESULT; `result` and `exception` are filled when
// given.
HRESULT CallByName(IDispatch* object, const wchar_t* name, WORD kind, std::vector<VARIANT> arguments = {},
                   VARIANT* result = nullptr, EXCEPINFO* exception = nullptr);

VARIANT Long(long v);
VARIANT Text(const wchar_t* v);  // the caller clears it

// Puts a picture (a gradient and two rectangles) on the root window of the
// given display of the peer broker; false when it could not.
bool PaintPicture(int display, int width, int height);

// Pumps this thread's messages until `done` holds or the time is up.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// One event as the sink received it.
struct FiredEvent {
  DISPID id;
  std::vector<std::wstring> arguments;  // as text, in positional order
};

// A sink for either event interface.
class RecordingSink final : public IDispatch {
 public:
  std::vector<FiredEvent> events;
  // Called for OnKeyPress with the by-reference key.
  std::function<void(SHORT&)> onKey;

  bool Has(DISPID id) const;
  const FiredEvent* First(DISPID id) const;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }  // lives on the test's stack
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override;

 private:
  ULONG refs_ = 0;
};

// Connects `sink` to the control's connection point of `events`
// (ITelorusXEvents or ITelorusXEvents2); the cookie, or 0 on failure.
DWORD AdviseEvents(IUnknown* control, IUnknown* sink, HRESULT* result = nullptr,
                   const IID& events = control::win32::IID_ITelorusXEvents);

}  // namespace telorus::test
