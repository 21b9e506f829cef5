// telorus-host SERVER PORT [PASSWORD] [--seconds N] [--stretch]
//
// Places the TelorusX control in a top-level window through ATL's standard
// container (the "AtlAxWin" window class, by ProgID), sets Server, Port and
// Password, connects, and prints every event the control fires, one per
// line. The control must be registered (regsvr32 TelorusXControl.dll).
// It ends when the window is closed, when the session ends or fails, or
// after N seconds (then it disconnects first). Exit code 0 when the session
// ran and ended normally, 1 when it failed, 2 on bad usage.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "control/win32/ITelorusX.h"
#include "control/win32/com_util.h"

using telorus::control::win32::ComPtr;
using telorus::control::win32::IID_ITelorusX;
using telorus::control::win32::IID_ITelorusXEvents;
using telorus::control::win32::ITelorusX;

namespace {

int gExitCode = 0;
bool gSessionRan = false;
HWND gFrame = nullptr;

void Print(const std::wstring& line) {
  std::fputws(line.c_str(), stdout);
  std::fputws(L"\n", stdout);
  std::fflush(stdout);  // a crash must not lose what was printed
}

std::wstring Argument(const VARIANT& v) {
  if (v.vt == VT_BSTR) return v.bstrVal ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : L"";
  if (v.vt == VT_I4) return std::to_wstring(v.lVal);
  if (v.vt == (VT_BYREF | VT_I2)) return std::to_wstring(*v.piVal);
  return L"?";
}

// Prints the control's events; the session's end ends the host.
class EventPrinter final : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_ITelorusXEvents)) {
      *object = static_cast<IDispatch*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }  // a static object
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
    static const wchar_t* const names[] = {L"OnAuthFail",  L"OnConnectError", L"OnConnectClose",
                                           L"OnConnected", L"OnFrameSize",    L"OnHostName",
                                           L"OnStatus",    L"OnKeyPress",     L"OnClick"};
    std::wstring line = id >= 201 && id <= 209 ? names[id - 201] : L"event " + std::to_wstring(id);
    // Arguments arrive last first.
    for (UINT i = params ? params->cArgs : 0; i-- > 0;) line += L" " + Argument(params->rgvarg[i]);
    Print(line);
    if (id == 204) gSessionRan = true;
    if (id == 201 || id == 202) gExitCode = 1;
    if (id == 201 || id == 202 || id == 203) PostMessageW(gFrame, WM_CLOSE, 0, 0);
    return S_OK;
  }
};

EventPrinter gEvents;

LRESULT CALLBACK FrameProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SIZE: {
      HWND child = GetWindow(hwnd, GW_CHILD);
      if (child) MoveWindow(child, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    }
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

int Usage() {
  std::fputs("usage: telorus-host SERVER PORT [PASSWORD] [--seconds N] [--stretch]\n", stderr);
  return 2;
}

int Fail(const char* what, HRESULT hr) {
  std::fprintf(stderr, "telorus-host: %s (0x%08lX)\n", what, static_cast<unsigned long>(hr));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::wstring server, password;
  long port = 0;
  int seconds = 0;
  bool stretch = false;
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--seconds" && i + 1 < argc) {
      seconds = std::atoi(argv[++i]);
    } else if (a == "--stretch") {
      stretch = true;
    } else if (a.rfind("--", 0) == 0) {
      return Usage();
    } else {
      std::wstring wide(a.begin(), a.end());
      if (positional == 0)
        server = wide;
      else if (positional == 1)
        port = std::atol(a.c_str());
      else if (positional == 2)
        password = wide;
      else
        return Usage();
      ++positional;
    }
  }
  if (positional < 2 || port <= 0 || port > 65535) return Usage();

  if (FAILED(OleInitialize(nullptr))) return Fail("OLE could not be initialised", E_FAIL);
  HMODULE atl = LoadLibraryW(L"atl.dll");
  using Init = BOOL(WINAPI*)();
  using GetControl = HRESULT(WINAPI*)(HWND, IUnknown**);
  auto init = atl ? reinterpret_cast<Init>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit"))) : nullptr;
  auto getControl =
      atl ? reinterpret_cast<GetControl>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxGetControl"))) : nullptr;
  if (!init || !getControl || !init()) return Fail("ATL's control container is not available", E_FAIL);

  WNDCLASSW wc{};
  wc.lpfnWndProc = FrameProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.lpszClassName = L"TelorusHostFrame";
  RegisterClassW(&wc);
  gFrame = CreateWindowExW(0, wc.lpszClassName, (L"Telorus host - " + server).c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                           0, 0, 1024, 768, nullptr, nullptr, wc.hInstance, nullptr);
  RECT client;
  GetClientRect(gFrame, &client);
  HWND site = CreateWindowExW(0, L"AtlAxWin", L"TelorusXControl.TelorusX", WS_CHILD | WS_VISIBLE, 0, 0, client.right,
                              client.bottom, gFrame, nullptr, wc.hInstance, nullptr);
  ComPtr<IUnknown> unknown;
  ComPtr<ITelorusX> control;
  HRESULT hr = site ? getControl(site, unknown.Out()) : E_FAIL;
  if (SUCCEEDED(hr)) hr = unknown->QueryInterface(IID_ITelorusX, reinterpret_cast<void**>(control.Out()));
  if (FAILED(hr)) return Fail("the control could not be created (is TelorusXControl.dll registered?)", hr);

  // ATL's container ignores event sinks given to it: advise directly.
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  DWORD cookie = 0;
  hr = control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.Out()));
  if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(IID_ITelorusXEvents, point.Out());
  if (SUCCEEDED(hr)) hr = point->Advise(&gEvents, &cookie);
  if (FAILED(hr)) return Fail("the control's events could not be connected", hr);

  BSTR serverText = SysAllocString(server.c_str());
  BSTR passwordText = SysAllocString(password.c_str());
  control->set_Server(serverText);
  control->set_Port(port);
  control->set_Password(passwordText);
  control->set_Stretch(stretch ? VARIANT_TRUE : VARIANT_FALSE);
  // Update requests every 50 ms (the container's InitNew already started
  // the timer; a host that creates the control itself must do this).
  control->set_FrameUpdateDelay(50);
  control->set_RequestFreames(VARIANT_TRUE);
  SysFreeString(serverText);
  SysFreeString(passwordText);
  hr = control->Connect();
  if (FAILED(hr)) return Fail("Connect failed", hr);

  const UINT_PTR timer = seconds > 0 ? SetTimer(nullptr, 0, static_cast<UINT>(seconds) * 1000, nullptr) : 0;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (timer && msg.message == WM_TIMER && msg.wParam == timer) {
      KillTimer(nullptr, timer);
      control->DisConnect();
      PostMessageW(gFrame, WM_CLOSE, 0, 0);
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  point->Unadvise(cookie);
  point.Reset();
  container.Reset();
  control.Reset();
  unknown.Reset();
  OleUninitialize();
  return gExitCode != 0 || !gSessionRan ? 1 : 0;
}
