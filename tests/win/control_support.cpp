#include "control_support.h"

#include <stdexcept>

namespace telorus::test {

using control::win32::ITelorusX;

std::wstring ControlDllPath() {
  // The build passes the Linux path; Wine shows the Linux root as Z:.
  std::string linux = TELORUS_CONTROL_DLL;
  std::wstring path = L"Z:";
  for (char c : linux) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
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

HRESULT CallByName(IDispatch* object, const wchar_t* name, WORD kind, std::vector<VARIANT> arguments,
                   VARIANT* result, EXCEPINFO* exception) {
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
      IsEqualIID(riid, control::win32::IID_ITelorusXEvents)) {
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

DWORD AdviseEvents(IUnknown* control, IUnknown* sink, HRESULT* result) {
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  DWORD cookie = 0;
  HRESULT hr = control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.Out()));
  if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(control::win32::IID_ITelorusXEvents, point.Out());
  if (SUCCEEDED(hr)) hr = point->Advise(sink, &cookie);
  if (result) *result = hr;
  return SUCCEEDED(hr) ? cookie : 0;
}

}  // namespace telorus::test
