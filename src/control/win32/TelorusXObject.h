// The COM object of the control: one viewer in a real child window, driven
// through ITelorusX and ITelorusX2 (dispatch answered from the type library
// embedded in the DLL, through ITelorusX2's type information, which holds
// the names of both) and reporting through the ITelorusXEvents and
// ITelorusXEvents2 connection points; plus what a container needs to site,
// activate in place, draw and persist a control.
// The facade logic itself is TTelorusX; this class supplies its host
// services (code page, sink, error information).
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <ole2.h>
#include <olectl.h>
#include <objsafe.h>

#include <memory>
#include <string>

#include "control/TelorusImpl.h"
#include "control/win32/ITelorusX.h"
#include "control/win32/com_util.h"
#include "control/win32/connection_point.h"
#include "platform/win32/win32_window.h"

namespace telorus::control::win32 {

// OLEMISC_RECOMPOSEONRESIZE | CANTLINKINSIDE | INSIDEOUT |
// ACTIVATEWHENVISIBLE | SETCLIENTSITEFIRST.
inline constexpr DWORD kMiscStatus = 131473;

// Objects alive and server locks, for DllCanUnloadNow.
LONG& ServerUsers();

// The module (this DLL) and its path.
HMODULE ServerModule();
std::wstring ServerPath();

class TelorusXObject final : public ITelorusX3,
                             public IProvideClassInfo2,
                             public ISupportErrorInfo,
                             public IConnectionPointContainer,
                             public IOleObject,
                             public IOleInPlaceObject,
                             public IOleInPlaceActiveObject,
                             public IOleControl,
                             public IViewObject2,
                             public IPersistStreamInit,
                             public IPersistPropertyBag,
                             public IPersistStorage,
                             public IQuickActivate,
                             public IObjectSafety,
                             public ISpecifyPropertyPages,
                             private ControlHost {
 public:
  // A new control with one reference; null when its type information or
  // its window cannot be had.
  static HRESULT Create(REFIID riid, void** object);

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argError) override;

  // ITelorusX, forwarded to the facade
  STDMETHODIMP Connect() override { return facade_.Connect(); }
  STDMETHODIMP DisConnect() override { return facade_.DisConnect(); }
  STDMETHODIMP Start() override { return facade_.Start(); }
  STDMETHODIMP UpdateRequest() override { return facade_.UpdateRequest(); }
  STDMETHODIMP get_Status(long* Value) override { return Get(Value, &TTelorusX::get_Status); }
  STDMETHODIMP get_RemoteDeskWidth(long* Value) override { return Get(Value, &TTelorusX::get_RemoteDeskWidth); }
  STDMETHODIMP get_RemoteDeskHeight(long* Value) override { return Get(Value, &TTelorusX::get_RemoteDeskHeight); }
  STDMETHODIMP get_RemoteHostName(BSTR* Value) override { return Get(Value, &TTelorusX::get_RemoteHostName); }
  STDMETHODIMP get_Connected(VARIANT_BOOL* Value) override { return Get(Value, &TTelorusX::get_Connected); }
  STDMETHODIMP get_xPosition(long* Value) override { return Get(Value, &TTelorusX::get_xPosition); }
  STDMETHODIMP set_xPosition(long Value) override { return Put(210, facade_.set_xPosition(Value)); }
  STDMETHODIMP get_yPosition(long* Value) override { return Get(Value, &TTelorusX::get_yPosition); }
  STDMETHODIMP set_yPosition(long Value) override { return Put(211, facade_.set_yPosition(Value)); }
  STDMETHODIMP get_Color(OLE_COLOR* Value) override { return Get(Value, &TTelorusX::get_Color); }
  STDMETHODIMP set_Color(OLE_COLOR Value) override { return Put(DISPID_BACKCOLOR, facade_.set_Color(Value)); }
  STDMETHODIMP get_Port(long* Value) override { return Get(Value, &TTelorusX::get_Port); }
  STDMETHODIMP set_Port(long Value) override { return Put(212, facade_.set_Port(Value)); }
  STDMETHODIMP get_Server(BSTR* Value) override { return Get(Value, &TTelorusX::get_Server); }
  STDMETHODIMP set_Server(BSTR Value) override { return Put(213, facade_.set_Server(FromBstr(Value))); }
  STDMETHODIMP get_Password(BSTR* Value) override { return Get(Value, &TTelorusX::get_Password); }
  STDMETHODIMP set_Password(BSTR Value) override { return Put(214, facade_.set_Password(FromBstr(Value))); }
  STDMETHODIMP get_ShareDesktop(VARIANT_BOOL* Value) override { return Get(Value, &TTelorusX::get_ShareDesktop); }
  STDMETHODIMP set_ShareDesktop(VARIANT_BOOL Value) override { return Put(215, facade_.set_ShareDesktop(Value)); }
  STDMETHODIMP get_PixelFormat(long* Value) override { return Get(Value, &TTelorusX::get_PixelFormat); }
  STDMETHODIMP set_PixelFormat(long Value) override { return Put(216, facade_.set_PixelFormat(Value)); }
  STDMETHODIMP get_FrameUpdateDelay(unsigned short* Value) override {
    return Get(Value, &TTelorusX::get_FrameUpdateDelay);
  }
  STDMETHODIMP set_FrameUpdateDelay(unsigned short Value) override {
    return Put(217, facade_.set_FrameUpdateDelay(Value));
  }
  STDMETHODIMP get_EnableBell(VARIANT_BOOL* Value) override { return Get(Value, &TTelorusX::get_EnableBell); }
  STDMETHODIMP set_EnableBell(VARIANT_BOOL Value) override { return Put(218, facade_.set_EnableBell(Value)); }
  STDMETHODIMP get_Display(long* Value) override { return Get(Value, &TTelorusX::get_Display); }
  STDMETHODIMP set_Display(long Value) override { return Put(219, facade_.set_Display(Value)); }
  STDMETHODIMP get_AutoScroll(VARIANT_BOOL* Value) override { return Get(Value, &TTelorusX::get_AutoScroll); }
  STDMETHODIMP set_AutoScroll(VARIANT_BOOL Value) override { return Put(220, facade_.set_AutoScroll(Value)); }
  STDMETHODIMP get_Codec(long* Value) override { return Get(Value, &TTelorusX::get_Codec); }
  STDMETHODIMP set_Codec(long Value) override { return Put(221, facade_.set_Codec(Value)); }
  STDMETHODIMP get_TransferKeys(VARIANT_BOOL* Value) override { return Get(Value, &TTelorusX::get_TransferKeys); }
  STDMETHODIMP set_TransferKeys(VARIANT_BOOL Value) override { return Put(222, facade_.set_TransferKeys(Value)); }
  STDMETHODIMP get_TransferLocalClipboard(VARIANT_BOOL* Value) override {
    return Get(Value, &TTelorusX::get_TransferLocalClipboard);
  }
  STDMETHODIMP set_TransferLocalClipboard(VARIANT_BOOL Value) override {
    return Put(223, facade_.set_TransferLocalClipboard(Value));
  }
  STDMETHODIMP get_TransferMouse(VARIANT_BOOL* Value) override { return Get(Value, &TTelorusX::get_TransferMouse); }
  STDMETHODIMP set_TransferMouse(VARIANT_BOOL Value) override { return Put(224, facade_.set_TransferMouse(Value)); }
  STDMETHODIMP get_TransferServerClipBoard(VARIANT_BOOL* Value) override {
    return Get(Value, &TTelorusX::get_TransferServerClipBoard);
  }
  STDMETHODIMP set_TransferServerClipBoard(VARIANT_BOOL Value) override {
    return Put(225, facade_.set_TransferServerClipBoard(Value));
  }
  STDMETHODIMP get_RequestFreames(VARIANT_BOOL* Value) override { return Get(Value, &TTelorusX::get_RequestFreames); }
  STDMETHODIMP set_RequestFreames(VARIANT_BOOL Value) override { return Put(226, facade_.set_RequestFreames(Value)); }
  STDMETHODIMP get_Stretch(VARIANT_BOOL* Value) override { return Get(Value, &TTelorusX::get_Stretch); }
  STDMETHODIMP set_Stretch(VARIANT_BOOL Value) override { return Put(227, facade_.set_Stretch(Value)); }
  STDMETHODIMP DisableAutoRange() override { return facade_.DisableAutoRange(); }
  STDMETHODIMP EnableAutoRange() override { return facade_.EnableAutoRange(); }
  STDMETHODIMP get_DoubleBuffered(VARIANT_BOOL* Value) override { return Get(Value, &TTelorusX::get_DoubleBuffered); }
  STDMETHODIMP set_DoubleBuffered(VARIANT_BOOL Value) override { return Put(230, facade_.set_DoubleBuffered(Value)); }
  STDMETHODIMP get_AlignDisabled(VARIANT_BOOL* Value) override { return Get(Value, &TTelorusX::get_AlignDisabled); }
  STDMETHODIMP get_VisibleDockClientCount(long* Value) override {
    return Get(Value, &TTelorusX::get_VisibleDockClientCount);
  }
  STDMETHODIMP DrawTextBiDiModeFlagsReadingOnly(long* Value) override {
    return Get(Value, &TTelorusX::DrawTextBiDiModeFlagsReadingOnly);
  }
  STDMETHODIMP get_Enabled(VARIANT_BOOL* Value) override { return Get(Value, &TTelorusX::get_Enabled); }
  STDMETHODIMP set_Enabled(VARIANT_BOOL Value) override { return Put(DISPID_ENABLED, facade_.set_Enabled(Value)); }
  STDMETHODIMP InitiateAction() override { return facade_.InitiateAction(); }
  STDMETHODIMP IsRightToLeft(VARIANT_BOOL* Value) override { return Get(Value, &TTelorusX::IsRightToLeft); }
  STDMETHODIMP UseRightToLeftReading(VARIANT_BOOL* Value) override {
    return Get(Value, &TTelorusX::UseRightToLeftReading);
  }
  STDMETHODIMP UseRightToLeftScrollBar(VARIANT_BOOL* Value) override {
    return Get(Value, &TTelorusX::UseRightToLeftScrollBar);
  }
  STDMETHODIMP get_Visible(VARIANT_BOOL* Value) override { return Get(Value, &TTelorusX::get_Visible); }
  STDMETHODIMP set_Visible(VARIANT_BOOL Value) override { return Put(238, facade_.set_Visible(Value)); }
  STDMETHODIMP SetSubComponent(VARIANT_BOOL IsSubComponent) override { return facade_.SetSubComponent(IsSubComponent); }

  // ITelorusX2's own members
  STDMETHODIMP get_Protocol(long* Value) override { return Get(Value, &TTelorusX::get_Protocol); }
  STDMETHODIMP set_Protocol(long Value) override { return Put(kDispProtocol, facade_.set_Protocol(Value)); }
  STDMETHODIMP get_SecurityTypes(BSTR* Value) override { return Get(Value, &TTelorusX::get_SecurityTypes); }
  STDMETHODIMP set_SecurityTypes(BSTR Value) override {
    return Put(kDispSecurityTypes, facade_.set_SecurityTypes(FromBstr(Value)));
  }
  STDMETHODIMP get_UserName(BSTR* Value) override { return Get(Value, &TTelorusX::get_UserName); }
  STDMETHODIMP set_UserName(BSTR Value) override { return Put(kDispUserName, facade_.set_UserName(FromBstr(Value))); }
  STDMETHODIMP get_CaFile(BSTR* Value) override { return Get(Value, &TTelorusX::get_CaFile); }
  STDMETHODIMP set_CaFile(BSTR Value) override { return Put(kDispCaFile, facade_.set_CaFile(FromBstr(Value))); }
  STDMETHODIMP get_Encrypted(VARIANT_BOOL* Value) override { return Get(Value, &TTelorusX::get_Encrypted); }

  // ITelorusX3's own members
  STDMETHODIMP get_AllowOtherEncodings(VARIANT_BOOL* Value) override {
    return Get(Value, &TTelorusX::get_AllowOtherEncodings);
  }
  STDMETHODIMP set_AllowOtherEncodings(VARIANT_BOOL Value) override {
    return Put(kDispAllowOtherEncodings, facade_.set_AllowOtherEncodings(Value));
  }
  STDMETHODIMP get_CompressLevel(long* Value) override { return Get(Value, &TTelorusX::get_CompressLevel); }
  STDMETHODIMP set_CompressLevel(long Value) override {
    return Put(kDispCompressLevel, facade_.set_CompressLevel(Value));
  }
  STDMETHODIMP get_JpegQuality(long* Value) override { return Get(Value, &TTelorusX::get_JpegQuality); }
  STDMETHODIMP set_JpegQuality(long Value) override { return Put(kDispJpegQuality, facade_.set_JpegQuality(Value)); }
  STDMETHODIMP get_AutoQuality(VARIANT_BOOL* Value) override { return Get(Value, &TTelorusX::get_AutoQuality); }
  STDMETHODIMP set_AutoQuality(VARIANT_BOOL Value) override {
    return Put(kDispAutoQuality, facade_.set_AutoQuality(Value));
  }

  // IProvideClassInfo2
  STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
  STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

  // IOleObject
  STDMETHODIMP SetClientSite(IOleClientSite* site) override;
  STDMETHODIMP GetClientSite(IOleClientSite** site) override;
  STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP Close(DWORD saveOption) override;
  STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
  STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetClipboardData(DWORD, IDataObject** data) override;
  STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND, LPCRECT) override;
  STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override;
  STDMETHODIMP Update() override { return S_OK; }
  STDMETHODIMP IsUpToDate() override { return S_OK; }
  STDMETHODIMP GetUserClassID(CLSID* clsid) override { return GetClassID(clsid); }
  STDMETHODIMP GetUserType(DWORD form, LPOLESTR* type) override;
  STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP Advise(IAdviseSink* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumAdvise(IEnumSTATDATA** advise) override;
  STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
  STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject
  STDMETHODIMP GetWindow(HWND* window) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP InPlaceDeactivate() override;
  STDMETHODIMP UIDeactivate() override;
  STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT clip) override;
  STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP TranslateAccelerator(LPMSG) override { return S_FALSE; }
  STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }

  // IOleControl
  STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
  STDMETHODIMP OnMnemonic(MSG*) override { return E_NOTIMPL; }
  STDMETHODIMP OnAmbientPropertyChange(DISPID) override { return S_OK; }
  STDMETHODIMP FreezeEvents(BOOL freeze) override;

  // IViewObject2
  STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device, HDC targetDc, HDC dc,
                    LPCRECTL bounds, LPCRECTL windowBounds, BOOL(STDMETHODCALLTYPE* cont)(ULONG_PTR),
                    ULONG_PTR contArg) override;
  STDMETHODIMP GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE**) override { return E_NOTIMPL; }
  STDMETHODIMP Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP Unfreeze(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
  STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
  STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, LPSIZEL size) override;

  // IPersist, IPersistStreamInit, IPersistPropertyBag, IPersistStorage
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  STDMETHODIMP IsDirty() override { return dirty_ ? S_OK : S_FALSE; }
  STDMETHODIMP Load(IStream* stream) override;
  STDMETHODIMP Save(IStream* stream, BOOL clearDirty) override;
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
  // IPersistStreamInit and IPersistPropertyBag: a new control starts as its
  // properties read, requesting frames every FrameUpdateDelay milliseconds.
  STDMETHODIMP InitNew() override;
  STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
  STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;
  STDMETHODIMP InitNew(IStorage*) override { return InitNew(); }
  STDMETHODIMP Load(IStorage* storage) override;
  STDMETHODIMP Save(IStorage* storage, BOOL sameAsLoad) override;
  STDMETHODIMP SaveCompleted(IStorage*) override { return S_OK; }
  STDMETHODIMP HandsOffStorage() override { return S_OK; }

  // IQuickActivate
  STDMETHODIMP QuickActivate(QACONTAINER* container, QACONTROL* control) override;
  STDMETHODIMP SetContentExtent(LPSIZEL size) override { return SetExtent(DVASPECT_CONTENT, size); }
  STDMETHODIMP GetContentExtent(LPSIZEL size) override { return GetExtent(DVASPECT_CONTENT, size); }

  // IObjectSafety
  STDMETHODIMP GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) override;
  STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) override;

  // ISpecifyPropertyPages: the control has none.
  STDMETHODIMP GetPages(CAUUID* pages) override;

 private:
  TelorusXObject();
  ~TelorusXObject();
  HRESULT Initialise();

  using TTelorusX = control::TTelorusX;
  template <typename T, typename F>
  HRESULT Get(T* out, HResult (TTelorusX::*member)(F*));
  HRESULT Get(BSTR* out, HResult (TTelorusX::*member)(WideString*));
  static WideString FromBstr(BSTR value);
  // After a successful put: the container hears of the change and the
  // control's persistent state is dirty.
  HRESULT Put(DISPID id, HResult result);

  // ControlHost
  std::u16string ToWide(const std::string& text) override;
  std::string ToAnsi(const std::u16string& text) override;
  void FireEvent(EventInterface target, std::int32_t dispid, std::vector<EventArgument>& arguments) override;
  void SetErrorInfo(const std::u16string& description, std::uint32_t helpContext) override;

  // Keeps an events connection point's sink, or forgets it when it went.
  static void AdoptEventSink(ConnectionPoint& point, ComPtr<IDispatch>& sink);
  HRESULT ActivateInPlace(IOleClientSite* site, bool uiActivate);
  HWND ViewerWindow() const { return window_ ? window_->Handle() : nullptr; }
  // A property through the dispatch layer, which converts the value.
  HRESULT ReadProperty(DISPID id, VARIANT* value);
  HRESULT WriteProperty(DISPID id, VARIANT& value);

  LONG refs_ = 1;
  ComPtr<ITypeLib> library_;
  ComPtr<ITypeInfo> typeInfo_;      // ITelorusX3 as hosts browse it
  ComPtr<ITypeInfo> dispatchInfo_;  // its vtable view, which Invoke calls
  HWND parking_ = nullptr;
  std::unique_ptr<platform::win32::Win32Window> window_;
  platform::win32::Win32Clipboard clipboard_;
  platform::win32::Win32Bell bell_;
  std::unique_ptr<viewer::TQuarneTelorus> viewer_;
  TTelorusX facade_{*this};
  ConnectionPoint events_;
  ConnectionPoint events2_;
  ConnectionPoint propertyNotify_;
  ComPtr<IDispatch> eventSink_;
  ComPtr<IDispatch> eventSink2_;
  int eventsFrozen_ = 0;

  ComPtr<IOleClientSite> site_;
  ComPtr<IOleInPlaceSite> inPlaceSite_;
  ComPtr<IOleAdviseHolder> adviseHolder_;
  ComPtr<IAdviseSink> viewSink_;
  DWORD viewAspects_ = 0;
  DWORD viewFlags_ = 0;
  SIZEL extent_{};  // HIMETRIC
  bool uiActive_ = false;
  bool dirty_ = false;
  DWORD safety_ = 0;
};

}  // namespace telorus::control::win32
