// The control as hosts meet it: registered with regsvr32 (every key and
// value read back, and gone after /u), registration failures and their exit
// codes, ATL's container placing it by ProgID on a real screen showing the
// remote desktop pixel for pixel, telorus-host, and a late-bound script.
// These tests share the registry, so they run one at a time.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "control/TelorusXControl_TLB.h"
#include "control_support.h"
#include "screen.h"
#include "support/x_servers.h"

namespace telorus::test {
namespace {

using control::win32::ITelorusX;
using namespace std::chrono_literals;

std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

int Regsvr32(const std::wstring& dll, bool unregister = false) {
  return RunProcess(L"regsvr32.exe /s " + std::wstring(unregister ? L"/u " : L"") + Quoted(dll));
}

std::wstring Braced(const GUID& g) {
  wchar_t text[64];
  StringFromGUID2(g, text, 64);
  return text;
}

// The default (or named) value of HKCR\key; `exists` says whether the key is there.
std::wstring Value(const std::wstring& key, bool* exists = nullptr, const wchar_t* name = nullptr) {
  HKEY handle = nullptr;
  const bool open = RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) == ERROR_SUCCESS;
  if (exists) *exists = open;
  if (!open) return L"<no key>";
  wchar_t data[1024];
  DWORD size = sizeof data, type = 0;
  LONG status = RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS) return L"<no value>";
  return std::wstring(data, size / sizeof(wchar_t)).c_str();
}

bool KeyExists(const std::wstring& key) {
  bool exists = false;
  Value(key, &exists);
  return exists;
}

std::wstring Directory(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr))); }
  void TearDown() override { OleUninitialize(); }
  const std::wstring dll = ControlDllPath();
  const std::wstring classKey = L"CLSID\\" + Braced(control::win32::CLSID_TelorusX);
};

TEST_F(RegistrationTest, RegsvrWritesEveryEntryAndRemovesThemAll) {
  ASSERT_EQ(Regsvr32(dll), 0);
  const std::wstring clsid = Braced(control::win32::CLSID_TelorusX);
  EXPECT_EQ(Value(classKey), L"TelorusX Control");
  const std::wstring module = Value(classKey + L"\\InprocServer32");
  EXPECT_EQ(_wcsicmp(module.c_str(), dll.c_str()), 0) << Narrow(module);
  EXPECT_EQ(Value(classKey + L"\\InprocServer32", nullptr, L"ThreadingModel"), L"Apartment");
  EXPECT_EQ(Value(L"TelorusXControl.TelorusX"), L"TelorusX Control");
  EXPECT_EQ(Value(L"TelorusXControl.TelorusX\\Clsid"), clsid);
  EXPECT_EQ(Value(classKey + L"\\ProgID"), L"TelorusXControl.TelorusX");
  EXPECT_EQ(Value(classKey + L"\\Version"), L"1.2");
  EXPECT_EQ(Value(classKey + L"\\TypeLib"), Braced(control::win32::LIBID_TelorusXControl));
  EXPECT_EQ(Value(classKey + L"\\MiscStatus"), L"0");
  EXPECT_EQ(Value(classKey + L"\\MiscStatus\\1"), L"131473");
  EXPECT_EQ(_wcsicmp(Value(classKey + L"\\ToolboxBitmap32").c_str(), (module + L",1").c_str()), 0);
  EXPECT_TRUE(KeyExists(classKey + L"\\Control"));
  EXPECT_EQ(Value(classKey + L"\\Control"), L"<no value>");
  EXPECT_EQ(Value(classKey + L"\\Verb"), L"<no value>");
  EXPECT_EQ(Value(classKey + L"\\Verb\\0"), L"Properties,0,2");
  // The type library is registered from the DLL, with its directory for help.
  const std::wstring libKey = L"TypeLib\\" + Braced(control::win32::LIBID_TelorusXControl) + L"\\1.2";
  EXPECT_EQ(Value(libKey), L"TelorusXControl Library");
  EXPECT_EQ(_wcsicmp(Value(libKey + L"\\0\\win64").c_str(), dll.c_str()), 0);
  EXPECT_EQ(_wcsicmp(Value(libKey + L"\\HELPDIR").c_str(), Directory(dll).c_str()), 0);
  // A registered control is created by ProgID like any other.
  CLSID byName{};
  ASSERT_EQ(CLSIDFromProgID(L"TelorusXControl.TelorusX", &byName), S_OK);
  EXPECT_TRUE(IsEqualCLSID(byName, control::win32::CLSID_TelorusX));
  {
    ComPtr<ITelorusX> created;
    ASSERT_EQ(CoCreateInstance(byName, nullptr, CLSCTX_INPROC_SERVER, control::win32::IID_ITelorusX,
                               reinterpret_cast<void**>(created.Out())),
              S_OK);
  }

  ASSERT_EQ(Regsvr32(dll, true), 0);
  for (const wchar_t* sub : {L"\\Verb\\0", L"\\Verb", L"\\Control", L"\\ToolboxBitmap32", L"\\MiscStatus\\1",
                             L"\\MiscStatus", L"\\TypeLib", L"\\Version", L"\\ProgID", L"\\InprocServer32", L""})
    EXPECT_FALSE(KeyExists(classKey + sub)) << Narrow(sub);
  EXPECT_FALSE(KeyExists(L"TelorusXControl.TelorusX"));
  EXPECT_FALSE(KeyExists(libKey));
  // Unregistering twice finds nothing left to remove and still succeeds.
  EXPECT_EQ(Regsvr32(dll, true), 0);
}

TEST_F(RegistrationTest, FailuresGiveRegsvrsExitCodes) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  // Not a DLL at all: it cannot be loaded.
  const std::wstring text = std::wstring(temp) + L"telorus-not-a-dll.dll";
  { std::ofstream(Narrow(text)) << "not a library"; }
  EXPECT_EQ(Regsvr32(text), 3);
  // A DLL without the entry point.
  EXPECT_EQ(Regsvr32(L"C:\\windows\\system32\\version.dll"), 4);
  // The control with its type library overwritten by garbage: registration
  // fails at its first step and writes no class entries.
  const std::wstring broken = std::wstring(temp) + L"TelorusXControl-no-typelib.dll";
  ASSERT_TRUE(CopyFileW(dll.c_str(), broken.c_str(), FALSE));
  std::vector<WORD> languages;
  HMODULE image = LoadLibraryExW(broken.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(image, nullptr);
  EnumResourceLanguagesW(
      image, L"TYPELIB", MAKEINTRESOURCEW(1),
      [](HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR list) -> BOOL {
        reinterpret_cast<std::vector<WORD>*>(list)->push_back(language);
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&languages));
  FreeLibrary(image);
  ASSERT_FALSE(languages.empty());
  HANDLE update = BeginUpdateResourceW(broken.c_str(), FALSE);
  ASSERT_NE(update, nullptr);
  char garbage[64] = "this is no type library";
  for (WORD language : languages)
    ASSERT_TRUE(UpdateResourceW(update, L"TYPELIB", MAKEINTRESOURCEW(1), language, garbage, sizeof garbage));
  ASSERT_TRUE(EndUpdateResourceW(update, FALSE));
  const int code = Regsvr32(broken);
  EXPECT_EQ(code, 5);
  EXPECT_FALSE(KeyExists(classKey));
  if (code == 0) Regsvr32(broken, true);
  DeleteFileW(broken.c_str());
  DeleteFileW(text.c_str());
}

// ---- Hosted in a container on a real screen ----

LRESULT CALLBACK PlainProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); }

class HostedTest : public RegistrationTest {
 protected:
  void SetUp() override {
    RegistrationTest::SetUp();
    ASSERT_EQ(Regsvr32(dll), 0);
  }
  void TearDown() override {
    control.Reset();
    if (frame) DestroyWindow(frame);
    PumpUntil([] { return false; }, 50ms);
    Regsvr32(dll, true);
    RegistrationTest::TearDown();
  }

  // ATL's container window with the control placed by ProgID, in a frame
  // whose client area is width x height at (300, 300) of the screen.
  void Place(int width, int height) {
    HMODULE atl = LoadLibraryW(L"atl.dll");
    ASSERT_NE(atl, nullptr);
    auto init = reinterpret_cast<BOOL(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit")));
    auto getControl = reinterpret_cast<HRESULT(WINAPI*)(HWND, IUnknown**)>(
        reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxGetControl")));
    ASSERT_TRUE(init && getControl && init());
    WNDCLASSW wc{};
    wc.lpfnWndProc = PlainProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TelorusTestFrame";
    RegisterClassW(&wc);
    frame = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP | WS_VISIBLE, 300, 300, width, height, nullptr, nullptr,
                            wc.hInstance, nullptr);
    HWND site = CreateWindowExW(0, L"AtlAxWin", L"TelorusXControl.TelorusX", WS_CHILD | WS_VISIBLE, 0, 0, width, height,
                                frame, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(site, nullptr);
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(getControl(site, unknown.Out()), S_OK);
    ASSERT_EQ(unknown->QueryInterface(control::win32::IID_ITelorusX, reinterpret_cast<void**>(control.Out())), S_OK);
    ComPtr<IOleWindow> window;
    ASSERT_EQ(control->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(window.Out())), S_OK);
    ASSERT_EQ(window->GetWindow(&viewerWindow), S_OK);
  }

  HWND frame = nullptr;
  HWND viewerWindow = nullptr;
  ComPtr<ITelorusX> control;
};

TEST_F(HostedTest, AtlContainerShowsTheRemoteDesktopPixelForPixel) {
  X11VncServer vnc(240, 180, 24);
  if (!vnc.Ok()) GTEST_SKIP() << vnc.Problem();
  ASSERT_TRUE(PaintPicture(vnc.Display(), 240, 180));
  Place(240, 180);
  // The container activated the control in place: its window is the
  // container's child and covers it.
  EXPECT_TRUE(IsWindowVisible(viewerWindow));
  EXPECT_TRUE(IsChild(frame, viewerWindow));
  RECT client{};
  GetClientRect(viewerWindow, &client);
  EXPECT_EQ(client.right, 240);
  EXPECT_EQ(client.bottom, 180);

  RecordingSink sink;
  const DWORD cookie = AdviseEvents(control.Get(), &sink);
  ASSERT_NE(cookie, 0u);
  BSTR server = SysAllocString(L"127.0.0.1");
  control->set_Server(server);
  SysFreeString(server);
  control->set_Port(vnc.Port());
  ASSERT_EQ(control->Connect(), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return sink.Has(204); }, 20s)) << "never connected";
  const ScreenImage remote = CaptureScreen(vnc.Display());
  ASSERT_EQ(remote.width, 240);
  int wrong = 0;
  Shot shot;
  PumpUntil(
      [&] {
        RedrawWindow(viewerWindow, nullptr, nullptr, RDW_UPDATENOW);
        shot = Screenshot(viewerWindow);
        wrong = 0;
        for (int y = 0; y < 180; ++y)
          for (int x = 0; x < 240; ++x) wrong += (shot.At(x, y) & 0xFFFFFF) != (remote.At(x, y) & 0xFFFFFF);
        return wrong == 0;
      },
      20s);
  EXPECT_EQ(wrong, 0) << "pixels differ from the remote screen; at (10,10) " << std::hex << shot.At(10, 10)
                      << " instead of " << remote.At(10, 10);
  control->DisConnect();
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.Out()));
  container->FindConnectionPoint(control::win32::IID_ITelorusXEvents, point.Out());
  point->Unadvise(cookie);
}

TEST_F(HostedTest, TelorusHostRunsASessionAndPrintsItsEvents) {
  X11VncServer vnc(120, 90, 24, "hostpw");
  if (!vnc.Ok()) GTEST_SKIP() << vnc.Problem();
  std::string output;
  const std::wstring host = WindowsPath(TELORUS_HOST_EXE);
  const int code =
      RunProcess(Quoted(host) + L" 127.0.0.1 " + std::to_wstring(vnc.Port()) + L" hostpw --seconds 2", &output, 40s);
  EXPECT_EQ(code, 0) << output;
  EXPECT_NE(output.find("OnConnected"), std::string::npos) << output;
  EXPECT_NE(output.find("OnFrameSize 120 90"), std::string::npos) << output;
  EXPECT_NE(output.find("OnConnectClose"), std::string::npos) << output;
  // A wrong password ends in OnAuthFail and exit code 1.
  EXPECT_EQ(RunProcess(Quoted(host) + L" 127.0.0.1 " + std::to_wstring(vnc.Port()) + L" wrong", &output, 40s), 1);
  EXPECT_NE(output.find("OnAuthFail"), std::string::npos) << output;
}

TEST_F(HostedTest, AScriptHostDrivesTheControlByLateBinding) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring script = std::wstring(temp) + L"telorus-late-bound.vbs";
  {
    std::ofstream out(Narrow(script));
    out << "Set c = CreateObject(\"TelorusXControl.TelorusX\")\r\n"
           "c.Server = \"192.0.2.7\"\r\n"
           "c.Port = 5907\r\n"
           "c.ShareDesktop = 1\r\n"
           "c.Codec = 260\r\n"
           "WScript.Echo c.Server & \"|\" & c.Port & \"|\" & CInt(c.ShareDesktop) & \"|\" & c.Codec & \"|\" & "
           "c.Status & \"|\" & CInt(c.Connected)\r\n";
  }
  std::string output;
  EXPECT_EQ(RunProcess(L"cscript.exe //nologo " + Quoted(script), &output), 0) << output;
  EXPECT_NE(output.find("192.0.2.7|5907|-1|4|0|0"), std::string::npos) << output;
  DeleteFileW(script.c_str());
}

}  // namespace
}  // namespace telorus::test
