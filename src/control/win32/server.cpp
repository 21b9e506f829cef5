// The in-process server: its exports, the one class factory, and the
// registry entries that registration writes and removes.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <cwchar>
#include <stdexcept>
#include <string>

#include "control/win32/ITelorusX.h"
#include "control/win32/TelorusXObject.h"
#include "control/win32/com_util.h"

namespace telorus::control::win32 {

namespace {

HMODULE gModule = nullptr;

constexpr wchar_t kProgId[] = L"TelorusXControl.TelorusX";
constexpr wchar_t kDescription[] = L"TelorusX Control";

std::wstring Braced(const GUID& guid) {
  wchar_t text[64];
  if (!StringFromGUID2(guid, text, 64)) throw std::runtime_error("GUID text");
  return text;
}

std::wstring ClassKey() { return L"CLSID\\" + Braced(CLSID_TelorusX); }

// Creates HKCR\key, and sets its default value when `value` is given.
void WriteKey(const std::wstring& key, const wchar_t* value, const wchar_t* name = nullptr) {
  HKEY handle = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
      ERROR_SUCCESS)
    throw std::runtime_error("registry key");
  LONG status = ERROR_SUCCESS;
  if (value) {
    status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                            static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t)));
  }
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS) throw std::runtime_error("registry value");
}

// Removes HKCR\key; a key that is not there is already removed.
void RemoveKey(const std::wstring& key) {
  LONG status = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) throw std::runtime_error("registry key removal");
}

// The module path as the registry stores it: its short form when it
// contains a space.
std::wstring RegisteredPath() {
  std::wstring path = ServerPath();
  if (path.find(L' ') == std::wstring::npos) return path;
  wchar_t shortPath[MAX_PATH];
  DWORD n = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) throw std::runtime_error("short path");
  return shortPath;
}

void RegisterServer() {
  const std::wstring path = ServerPath();
  ComPtr<ITypeLib> library;
  if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Out()))) throw std::runtime_error("type library");
  std::wstring directory = path.substr(0, path.find_last_of(L"\\/"));
  if (FAILED(
          RegisterTypeLib(library.Get(), const_cast<LPOLESTR>(path.c_str()), const_cast<LPOLESTR>(directory.c_str()))))
    throw std::runtime_error("type library registration");

  const std::wstring key = ClassKey();
  const std::wstring module = RegisteredPath();
  WriteKey(key, kDescription);
  WriteKey(key + L"\\InprocServer32", module.c_str());
  WriteKey(key + L"\\InprocServer32", L"Apartment", L"ThreadingModel");
  WriteKey(kProgId, kDescription);
  WriteKey(std::wstring(kProgId) + L"\\Clsid", Braced(CLSID_TelorusX).c_str());
  WriteKey(key + L"\\ProgID", kProgId);
  WriteKey(key + L"\\Version", (std::to_wstring(kVersionMajor) + L"." + std::to_wstring(kVersionMinor)).c_str());
  WriteKey(key + L"\\TypeLib", Braced(LIBID_TelorusXControl).c_str());
  WriteKey(key + L"\\MiscStatus", L"0");
  WriteKey(key + L"\\MiscStatus\\1", std::to_wstring(kMiscStatus).c_str());
  WriteKey(key + L"\\ToolboxBitmap32", (module + L",1").c_str());
  WriteKey(key + L"\\Control", nullptr);
  WriteKey(key + L"\\Verb", nullptr);
  WriteKey(key + L"\\Verb\\0", L"Properties,0,2");
}

void UnregisterServer() {
  ComPtr<ITypeLib> registered;
  if (SUCCEEDED(LoadRegTypeLib(LIBID_TelorusXControl, kVersionMajor, kVersionMinor, 0, registered.Out()))) {
    registered.Reset();
    if (FAILED(UnRegisterTypeLib(LIBID_TelorusXControl, kVersionMajor, kVersionMinor, 0, SYS_WIN64)))
      throw std::runtime_error("type library unregistration");
  }
  const std::wstring key = ClassKey();
  for (const wchar_t* sub : {L"\\Verb\\0", L"\\Verb", L"\\Control", L"\\ToolboxBitmap32", L"\\MiscStatus\\1",
                             L"\\MiscStatus", L"\\TypeLib", L"\\Version", L"\\ProgID"})
    RemoveKey(key + sub);
  RemoveKey(std::wstring(kProgId) + L"\\Clsid");
  RemoveKey(kProgId);
  RemoveKey(key + L"\\InprocServer32");
  RemoveKey(key);
}

class ClassFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // The factory lives as long as the module.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    // Once a control has registered its window classes and started its
    // socket threads, the module stays loaded: a later unload would leave
    // window procedures pointing into freed code.
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&gModule), &self);
    return TelorusXObject::Create(riid, object);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock)
      InterlockedIncrement(&ServerUsers());
    else
      InterlockedDecrement(&ServerUsers());
    return S_OK;
  }
};

ClassFactory gFactory;

}  // namespace

HMODULE ServerModule() { return gModule; }

std::wstring ServerPath() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(gModule, path, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(path, n) : std::wstring();
}

}  // namespace telorus::control::win32

using namespace telorus::control::win32;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    gModule = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_TelorusX)) return CLASS_E_CLASSNOTAVAILABLE;
  return gFactory.QueryInterface(riid, object);
}

STDAPI DllCanUnloadNow() { return ServerUsers() == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  try {
    RegisterServer();
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

STDAPI DllUnregisterServer() {
  try {
    UnregisterServer();
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}
