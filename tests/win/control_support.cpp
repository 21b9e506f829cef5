#include "control_support.h"

#include <stdexcept>

#include "support/x_servers.h"

namespace telorus::test {

using control::win32::ITelorusX;

std::wstring WindowsPath(const std::string& linuxPath) {
  std::wstring path = L"Z:";
  for (char c : linuxPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

std::wstring ControlDllPath() { return WindowsPath(TELORUS_CONTROL_DLL); }

int RunProcess(const std::wstring& commandLine, std::string* output, std::chrono::milliseconds timeout) {
  wchar_t directory[MAX_PATH], file[MAX_PATH];
  GetTempPathW(MAX_PATH, directory);
  GetTempFileNameW(directory, L"tlr", 0, file);
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out = CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = out;
  si.hStdError = out;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  std::wstring line = commandLine;
  int code = -1;
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    // Keep this thread's windows answering while the child runs.
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT && std::chrono::steady_clock::now() < end)
      PumpUntil([] { return false; }, std::chrono::milliseconds(20));
    DWORD exit = 0;
    if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0 && GetExitCodeProcess(pi.hProcess, &exit))
      code = static_cast<int>(exit);
    else
      TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  CloseHandle(out);
  if (output) {
    output->clear();
    HANDLE in = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    char buffer[4096];
    DWORD n = 0;
    while (in != INVALID_HANDLE_VALUE && ReadFile(in, buffer, sizeof buffer, &n, nullptr) && n > 0)
      output->append(buffer, n);
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  }
  DeleteFileW(file);
  return code;
}

ComPtr<ITelorusX> CreateControl() {
  static HMODULE dll = LoadLibraryW(ControlDllPath().c_str());
  if (!dll) throw std::runtime_error("the control's DLL does not load");
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
  if (!get) throw std::runtime_error("DllGetClassObject is not exported");
  ComPtr<IClassFactory> factory;
  if (FAILED(get(control::win32::CLSID_TelorusX, IID_IClassFactory, reinterpret_cast<void**>(factory.Out()))))
    throw std::runtime_error("no class factory");
  ComPtr<ITelorusX> control;
  HRESULT hr = factory->CreateInstance(nullptr, control::win32::IID_ITelorusX, reinterpret_cast<void**>(control.Out()));
  if (FAILED(hr)) throw std::runtime_error("CreateInstance failed");
  return control;
}

HRESULT CallByName(IDispatch* object, const wchar_t* name, WORD kind, std::vector<VARIANT> arguments, VARIANT* result,
                   EXCEPINFO* exception) {
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  // Positional arguments travel last first.
  std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), kind == DISPATCH_PROPERTYPUT ? &put : nullptr,
                    static_cast<UINT>(reversed.size()), kind == DISPATCH_PROPERTYPUT ? 1u : 0u};
  EXCEPINFO ignored{};
  UINT argError = 0;
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result, exception ? exception : &ignored,
                      &argError);
  if (!exception) {
    SysFreeString(ignored.bstrSource);
    SysFreeString(ignored.bstrDescription);
    SysFreeString(ignored.bstrHelpFile);
  }
  return hr;
}

VARIANT Long(long v) {
  VARIANT out;
  VariantInit(&out);
  out.vt = VT_I4;
  out.lVal = v;
  return out;
}

VARIANT Text(const wchar_t* v) {
  VARIANT out;
  VariantInit(&out);
  out.vt = VT_BSTR;
  out.bstrVal = SysAllocString(v);
  return out;
}

bool PaintPicture(int display, int width, int height) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  const std::string image = "/tmp/telorus-control-picture-" + std::to_string(display) + ".png";
  // `display` stays in the background to keep the picture on the root window.
  const std::string command = "(convert -size " + size +
                              " gradient:'#2040a0-#e0a020' -fill '#ff0000' -draw "
                              "'rectangle 10,10 60,40' -fill white -draw 'rectangle 70,50 110,100' " +
                              image + " && display -window root " + image + ") >/dev/null 2>&1 &";
  int status = -1;
  RunWithDisplay(display, {"sh", "-c", command}, &status);
  Sleep(1500);
  RunWithDisplay(display, {"rm", "-f", image});
  return status == 0;
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
}

bool RecordingSink::Has(DISPID id) const { return First(id) != nullptr; }

const FiredEvent* RecordingSink::First(DISPID id) const {
  for (const FiredEvent& e : events)
    if (e.id == id) return &e;
  return nullptr;
}

STDMETHODIMP RecordingSink::QueryInterface(REFIID riid, void** object) {
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
      IsEqualIID(riid, control::win32::IID_ITelorusXEvents) || IsEqualIID(riid, control::win32::IID_ITelorusXEvents2)) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP RecordingSink::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) {
  FiredEvent e{id, {}};
  if (flags != DISPATCH_METHOD) e.arguments.push_back(L"<not a method call>");
  for (UINT i = params->cArgs; i-- > 0;) {
    VARIANT& v = params->rgvarg[i];
    if (v.vt == (VT_BYREF | VT_I2)) {
      e.arguments.push_back(L"&" + std::to_wstring(*v.piVal));
      if (onKey) onKey(*v.piVal);
    } else if (v.vt == VT_BSTR) {
      e.arguments.push_back(v.bstrVal ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : L"");
    } else if (v.vt == VT_I4) {
      e.arguments.push_back(std::to_wstring(v.lVal));
    } else {
      e.arguments.push_back(L"<vt " + std::to_wstring(v.vt) + L">");
    }
  }
  events.push_back(std::move(e));
  return E_FAIL;  // a failing handler must not disturb the control
}

DWORD AdviseEvents(IUnknown* control, IUnknown* sink, HRESULT* result, const IID& events) {
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  DWORD cookie = 0;
  HRESULT hr = control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.Out()));
  if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(events, point.Out());
  if (SUCCEEDED(hr)) hr = point->Advise(sink, &cookie);
  if (result) *result = hr;
  return SUCCEEDED(hr) ? cookie : 0;
}

}  // namespace telorus::test
