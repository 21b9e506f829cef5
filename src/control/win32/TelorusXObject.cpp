#include "control/win32/TelorusXObject.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace telorus::control::win32 {

namespace {

constexpr wchar_t kProgId[] = L"TelorusXControl.TelorusX";
constexpr DWORD kSafetyOptions = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
constexpr DWORD kStreamMagic = 0x58524C54;  // "TLRX"
constexpr DWORD kMaxStreamBytes = 1 << 20;
constexpr SIZEL kDefaultSize = {320, 240};  // pixels, until the container sets an extent

int PixelsPerInch(bool horizontal) {
  HDC screen = GetDC(nullptr);
  int dpi = screen ? GetDeviceCaps(screen, horizontal ? LOGPIXELSX : LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}
LONG HimetricToPixels(LONG v, bool horizontal) { return MulDiv(v, PixelsPerInch(horizontal), 2540); }
LONG PixelsToHimetric(LONG v, bool horizontal) { return MulDiv(v, 2540, PixelsPerInch(horizontal)); }

// The properties a container stores with its document: the members with a
// put that property browsers show, ITelorusX's first. An older control
// reading a newer document skips the names it does not know.
std::vector<const Member*> PersistentProperties() {
  std::vector<const Member*> out;
  for (auto members : {InterfaceMembers(), Interface2Members(), Interface3Members()}) {
    for (const Member& m : members) {
      if (m.kind == MemberKind::PropertyPut && !m.hidden) out.push_back(&m);
    }
  }
  return out;
}

// Property values in a stream are lines "Name=Value"; backslash, CR and LF
// in a value are escaped.
std::wstring Escape(const wchar_t* text, UINT length) {
  std::wstring out;
  for (UINT i = 0; i < length; ++i) {
    wchar_t c = text[i];
    if (c == L'\\')
      out += L"\\\\";
    else if (c == L'\r')
      out += L"\\r";
    else if (c == L'\n')
      out += L"\\n";
    else
      out += c;
  }
  return out;
}

std::wstring Unescape(const std::wstring& text) {
  std::wstring out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    wchar_t c = text[++i];
    out += c == L'r' ? L'\r' : c == L'n' ? L'\n' : c;
  }
  return out;
}

class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&v); }
  ~ScopedVariant() { VariantClear(&v); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  VARIANT v;
};

}  // namespace

LONG& ServerUsers() {
  static LONG users = 0;
  return users;
}

// ---- Creation and lifetime ----

TelorusXObject::TelorusXObject()
    : events_(*this, IID_ITelorusXEvents, true, [this] { AdoptEventSink(events_, eventSink_); }),
      events2_(*this, IID_ITelorusXEvents2, true, [this] { AdoptEventSink(events2_, eventSink2_); }),
      propertyNotify_(*this, IID_IPropertyNotifySink, false) {
  InterlockedIncrement(&ServerUsers());
}

TelorusXObject::~TelorusXObject() {
  if (inPlaceSite_) InPlaceDeactivate();
  eventSink_.Reset();
  eventSink2_.Reset();
  viewer_.reset();
  window_.reset();
  if (parking_) DestroyWindow(parking_);
  InterlockedDecrement(&ServerUsers());
}

HRESULT TelorusXObject::Create(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  auto* control = new (std::nothrow) TelorusXObject();
  if (!control) return E_OUTOFMEMORY;
  HRESULT hr = control->Initialise();
  if (SUCCEEDED(hr)) hr = control->QueryInterface(riid, object);
  control->Release();
  return hr;
}

HRESULT TelorusXObject::Initialise() {
  HRESULT hr = LoadTypeLibEx(ServerPath().c_str(), REGKIND_NONE, library_.Out());
  if (FAILED(hr)) return hr;
  // ITelorusX3's type information resolves its own names and, through its
  // bases, ITelorusX2's and ITelorusX's.
  hr = library_->GetTypeInfoOfGuid(IID_ITelorusX3, typeInfo_.Out());
  if (FAILED(hr)) return hr;
  // The dispatch layer calls the vtable view of the dual interface.
  HREFTYPE vtableView = 0;
  if (SUCCEEDED(typeInfo_->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableView))) {
    hr = typeInfo_->GetRefTypeInfo(vtableView, dispatchInfo_.Out());
    if (FAILED(hr)) return hr;
  } else {
    dispatchInfo_ = typeInfo_;
  }
  hr = CreateOleAdviseHolder(adviseHolder_.Out());
  if (FAILED(hr)) return hr;

  // The viewer lives in a hidden parking window until a container sites it.
  parking_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, kDefaultSize.cx, kDefaultSize.cy, nullptr, nullptr,
                             ServerModule(), nullptr);
  if (!parking_) return HRESULT_FROM_WIN32(GetLastError());
  try {
    window_ = std::make_unique<platform::win32::Win32Window>(parking_, 0, 0, kDefaultSize.cx, kDefaultSize.cy);
    if (!window_->Handle()) return E_FAIL;
    viewer_ = std::make_unique<viewer::TQuarneTelorus>(*window_, clipboard_, bell_);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
  facade_.BindViewer(*viewer_);
  extent_ = {PixelsToHimetric(kDefaultSize.cx, true), PixelsToHimetric(kDefaultSize.cy, false)};
  return S_OK;
}

STDMETHODIMP TelorusXObject::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  void* found = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_ITelorusX) ||
      IsEqualIID(riid, IID_ITelorusX2) || IsEqualIID(riid, IID_ITelorusX3))
    found = static_cast<ITelorusX3*>(this);
  else if (IsEqualIID(riid, IID_IProvideClassInfo) || IsEqualIID(riid, IID_IProvideClassInfo2))
    found = static_cast<IProvideClassInfo2*>(this);
  else if (IsEqualIID(riid, IID_ISupportErrorInfo))
    found = static_cast<ISupportErrorInfo*>(this);
  else if (IsEqualIID(riid, IID_IConnectionPointContainer))
    found = static_cast<IConnectionPointContainer*>(this);
  else if (IsEqualIID(riid, IID_IOleObject))
    found = static_cast<IOleObject*>(this);
  else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceObject))
    found = static_cast<IOleInPlaceObject*>(this);
  else if (IsEqualIID(riid, IID_IOleInPlaceActiveObject))
    found = static_cast<IOleInPlaceActiveObject*>(this);
  else if (IsEqualIID(riid, IID_IOleControl))
    found = static_cast<IOleControl*>(this);
  else if (IsEqualIID(riid, IID_IViewObject) || IsEqualIID(riid, IID_IViewObject2))
    found = static_cast<IViewObject2*>(this);
  else if (IsEqualIID(riid, IID_IPersist) || IsEqualIID(riid, IID_IPersistStreamInit))
    found = static_cast<IPersistStreamInit*>(this);
  else if (IsEqualIID(riid, IID_IPersistPropertyBag))
    found = static_cast<IPersistPropertyBag*>(this);
  else if (IsEqualIID(riid, IID_IPersistStorage))
    found = static_cast<IPersistStorage*>(this);
  else if (IsEqualIID(riid, IID_IQuickActivate))
    found = static_cast<IQuickActivate*>(this);
  else if (IsEqualIID(riid, IID_IObjectSafety))
    found = static_cast<IObjectSafety*>(this);
  else if (IsEqualIID(riid, IID_ISpecifyPropertyPages))
    found = static_cast<ISpecifyPropertyPages*>(this);
  *object = found;
  if (!found) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) TelorusXObject::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

STDMETHODIMP_(ULONG) TelorusXObject::Release() {
  LONG left = InterlockedDecrement(&refs_);
  if (left == 0) {
    refs_ = 1;  // a reference for the destructor's own calls
    delete this;
  }
  return static_cast<ULONG>(left);
}

// ---- IDispatch, from the type library ----

STDMETHODIMP TelorusXObject::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP TelorusXObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  *info = typeInfo_.Get();
  (*info)->AddRef();
  return S_OK;
}

STDMETHODIMP TelorusXObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  return DispGetIDsOfNames(dispatchInfo_.Get(), names, count, ids);
}

STDMETHODIMP TelorusXObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                    EXCEPINFO* exception, UINT* argError) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  ::SetErrorInfo(0, nullptr);
  return dispatchInfo_->Invoke(static_cast<ITelorusX3*>(this), id, flags, params, result, exception, argError);
}

// ---- The member conversions that COM adds to the facade's ----

template <typename T, typename F>
HRESULT TelorusXObject::Get(T* out, HResult (TTelorusX::*member)(F*)) {
  if (!out) return E_POINTER;
  F value{};
  HRESULT hr = (facade_.*member)(&value);
  *out = static_cast<T>(value);
  return hr;
}

HRESULT TelorusXObject::Get(BSTR* out, HResult (TTelorusX::*member)(WideString*)) {
  if (!out) return E_POINTER;
  *out = nullptr;
  WideString value;
  HRESULT hr = (facade_.*member)(&value);
  if (SUCCEEDED(hr) && value) {
    *out = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(value->data()), static_cast<UINT>(value->size()));
    if (!*out) return E_OUTOFMEMORY;
  }
  return hr;
}

WideString TelorusXObject::FromBstr(BSTR value) {
  if (!value) return std::nullopt;
  return std::u16string(reinterpret_cast<const char16_t*>(value), SysStringLen(value));
}

HRESULT TelorusXObject::Put(DISPID id, HResult result) {
  if (FAILED(result)) return result;
  dirty_ = true;
  std::vector<IUnknown*> sinks = propertyNotify_.Sinks();
  for (IUnknown* sink : sinks) static_cast<IPropertyNotifySink*>(sink)->OnChanged(id);
  ConnectionPoint::Release(sinks);
  return result;
}

// ---- ControlHost ----

std::u16string TelorusXObject::ToWide(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string out(static_cast<std::size_t>(std::max(n, 0)), u'\0');
  if (n > 0)
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), reinterpret_cast<wchar_t*>(out.data()),
                        n);
  return out;
}

std::string TelorusXObject::ToAnsi(const std::u16string& text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  int n = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

void TelorusXObject::AdoptEventSink(ConnectionPoint& point, ComPtr<IDispatch>& sink) {
  std::vector<IUnknown*> sinks = point.Sinks();
  sink.Reset();
  if (!sinks.empty()) sinks.front()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(sink.Out()));
  ConnectionPoint::Release(sinks);
}

void TelorusXObject::FireEvent(EventInterface target, std::int32_t dispid, std::vector<EventArgument>& arguments) {
  // The handler may disconnect the sink: it is held for the call.
  ComPtr<IDispatch> sink = target == EventInterface::Events2 ? eventSink2_ : eventSink_;
  if (!sink || eventsFrozen_ > 0) return;
  // Positional arguments travel last first.
  std::vector<VARIANT> args(arguments.size());
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const EventArgument& a = arguments[i];
    VARIANT& v = args[arguments.size() - 1 - i];
    VariantInit(&v);
    switch (a.kind) {
      case EventArgument::Kind::Long:
        v.vt = VT_I4;
        v.lVal = a.number;
        break;
      case EventArgument::Kind::String:
        v.vt = VT_BSTR;
        v.bstrVal =
            SysAllocStringLen(reinterpret_cast<const OLECHAR*>(a.text.data()), static_cast<UINT>(a.text.size()));
        break;
      case EventArgument::Kind::ShortByReference:
        v.vt = VT_BYREF | VT_I2;
        v.piVal = a.reference;
        break;
      case EventArgument::Kind::Date:
        v.vt = VT_DATE;
        v.date = a.date;
        break;
      case EventArgument::Kind::BoolByReference:
        v.vt = VT_BYREF | VT_BOOL;
        v.pboolVal = a.reference;
        break;
    }
  }
  DISPPARAMS params{args.empty() ? nullptr : args.data(), nullptr, static_cast<UINT>(args.size()), 0};
  // What the host's handler returns is no concern of the viewer's.
  sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
  for (VARIANT& v : args) VariantClear(&v);
}

void TelorusXObject::SetErrorInfo(const std::u16string& description, std::uint32_t helpContext) {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.Out()))) return;
  std::wstring text(description.begin(), description.end());
  create->SetGUID(IID_ITelorusX);
  create->SetSource(const_cast<LPOLESTR>(kProgId));
  create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
  create->SetHelpContext(helpContext);
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.Out()))))
    ::SetErrorInfo(0, info.Get());
}

// ---- Class information, error information, connection points ----

STDMETHODIMP TelorusXObject::GetClassInfo(ITypeInfo** info) {
  if (!info) return E_POINTER;
  return library_->GetTypeInfoOfGuid(CLSID_TelorusX, info);
}

STDMETHODIMP TelorusXObject::GetGUID(DWORD kind, GUID* guid) {
  if (!guid) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *guid = GUID_NULL;
    return E_INVALIDARG;
  }
  *guid = IID_ITelorusXEvents;
  return S_OK;
}

STDMETHODIMP TelorusXObject::InterfaceSupportsErrorInfo(REFIID riid) {
  return IsEqualIID(riid, IID_ITelorusX) || IsEqualIID(riid, IID_ITelorusX2) || IsEqualIID(riid, IID_ITelorusX3)
             ? S_OK
             : S_FALSE;
}

STDMETHODIMP TelorusXObject::EnumConnectionPoints(IEnumConnectionPoints** points) {
  if (!points) return E_POINTER;
  *points = new (std::nothrow) ConnectionPointEnumerator({&events_, &events2_, &propertyNotify_});
  return *points ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP TelorusXObject::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
  if (!point) return E_POINTER;
  *point = nullptr;
  if (IsEqualIID(riid, IID_ITelorusXEvents))
    *point = &events_;
  else if (IsEqualIID(riid, IID_ITelorusXEvents2))
    *point = &events2_;
  else if (IsEqualIID(riid, IID_IPropertyNotifySink))
    *point = &propertyNotify_;
  else
    return CONNECT_E_NOCONNECTION;
  (*point)->AddRef();
  return S_OK;
}

// ---- IOleObject ----

STDMETHODIMP TelorusXObject::SetClientSite(IOleClientSite* site) {
  site_.Reset();
  if (site) {
    site->AddRef();
    site_ = ComPtr<IOleClientSite>::Adopt(site);
  }
  return S_OK;
}

STDMETHODIMP TelorusXObject::GetClientSite(IOleClientSite** site) {
  if (!site) return E_POINTER;
  *site = site_.Get();
  if (*site) (*site)->AddRef();
  return S_OK;
}

STDMETHODIMP TelorusXObject::Close(DWORD) {
  if (inPlaceSite_) InPlaceDeactivate();
  return S_OK;
}

STDMETHODIMP TelorusXObject::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker) *moniker = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP TelorusXObject::GetClipboardData(DWORD, IDataObject** data) {
  if (data) *data = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP TelorusXObject::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND, LPCRECT) {
  switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_UIACTIVATE: return ActivateInPlace(site ? site : site_.Get(), true);
    case OLEIVERB_INPLACEACTIVATE: return ActivateInPlace(site ? site : site_.Get(), false);
    case OLEIVERB_HIDE:
      if (ViewerWindow()) ShowWindow(ViewerWindow(), SW_HIDE);
      return S_OK;
    case OLEIVERB_PROPERTIES: return E_NOTIMPL;  // the control has no property pages
    default: return verb > 0 ? OLEOBJ_S_INVALIDVERB : E_NOTIMPL;
  }
}

HRESULT TelorusXObject::ActivateInPlace(IOleClientSite* site, bool uiActivate) {
  if (!site) return E_UNEXPECTED;
  if (!inPlaceSite_) {
    ComPtr<IOleInPlaceSite> inPlace;
    if (FAILED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(inPlace.Out()))))
      return E_NOINTERFACE;
    if (inPlace->CanInPlaceActivate() != S_OK) return E_FAIL;
    inPlace->OnInPlaceActivate();
    HWND parent = nullptr;
    ComPtr<IOleInPlaceFrame> frame;
    ComPtr<IOleInPlaceUIWindow> document;
    RECT position{}, clip{};
    OLEINPLACEFRAMEINFO info{};
    info.cb = sizeof info;
    if (FAILED(inPlace->GetWindow(&parent)) ||
        FAILED(inPlace->GetWindowContext(frame.Out(), document.Out(), &position, &clip, &info))) {
      inPlace->OnInPlaceDeactivate();
      return E_FAIL;
    }
    SetParent(ViewerWindow(), parent);
    MoveWindow(ViewerWindow(), position.left, position.top, position.right - position.left,
               position.bottom - position.top, TRUE);
    ShowWindow(ViewerWindow(), SW_SHOW);
    inPlaceSite_ = inPlace;
  }
  if (uiActivate && !uiActive_) {
    uiActive_ = true;
    inPlaceSite_->OnUIActivate();
    SetFocus(ViewerWindow());
  }
  return S_OK;
}

STDMETHODIMP TelorusXObject::EnumVerbs(IEnumOLEVERB** verbs) { return OleRegEnumVerbs(CLSID_TelorusX, verbs); }

STDMETHODIMP TelorusXObject::GetUserType(DWORD form, LPOLESTR* type) {
  return OleRegGetUserType(CLSID_TelorusX, form, type);
}

STDMETHODIMP TelorusXObject::SetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!size) return E_POINTER;
  extent_ = *size;
  if (!inPlaceSite_ && ViewerWindow()) {
    SetWindowPos(ViewerWindow(), nullptr, 0, 0, HimetricToPixels(extent_.cx, true), HimetricToPixels(extent_.cy, false),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return S_OK;
}

STDMETHODIMP TelorusXObject::GetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!size) return E_POINTER;
  *size = extent_;
  return S_OK;
}

STDMETHODIMP TelorusXObject::Advise(IAdviseSink* sink, DWORD* cookie) { return adviseHolder_->Advise(sink, cookie); }
STDMETHODIMP TelorusXObject::Unadvise(DWORD cookie) { return adviseHolder_->Unadvise(cookie); }
STDMETHODIMP TelorusXObject::EnumAdvise(IEnumSTATDATA** advise) { return adviseHolder_->EnumAdvise(advise); }

STDMETHODIMP TelorusXObject::GetMiscStatus(DWORD, DWORD* status) {
  if (!status) return E_POINTER;
  *status = kMiscStatus;
  return S_OK;
}

// ---- In-place object ----

STDMETHODIMP TelorusXObject::GetWindow(HWND* window) {
  if (!window) return E_POINTER;
  *window = ViewerWindow();
  return *window ? S_OK : E_FAIL;
}

STDMETHODIMP TelorusXObject::InPlaceDeactivate() {
  if (!inPlaceSite_) return S_OK;
  UIDeactivate();
  ComPtr<IOleInPlaceSite> site = inPlaceSite_;
  inPlaceSite_.Reset();
  if (ViewerWindow()) {
    ShowWindow(ViewerWindow(), SW_HIDE);
    SetParent(ViewerWindow(), parking_);
  }
  site->OnInPlaceDeactivate();
  return S_OK;
}

STDMETHODIMP TelorusXObject::UIDeactivate() {
  if (!uiActive_) return S_OK;
  uiActive_ = false;
  if (inPlaceSite_) inPlaceSite_->OnUIDeactivate(FALSE);
  return S_OK;
}

STDMETHODIMP TelorusXObject::SetObjectRects(LPCRECT position, LPCRECT) {
  if (!position) return E_POINTER;
  if (ViewerWindow())
    MoveWindow(ViewerWindow(), position->left, position->top, position->right - position->left,
               position->bottom - position->top, TRUE);
  return S_OK;
}

// ---- IOleControl ----

STDMETHODIMP TelorusXObject::GetControlInfo(CONTROLINFO* info) {
  if (!info) return E_POINTER;
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

STDMETHODIMP TelorusXObject::FreezeEvents(BOOL freeze) {
  eventsFrozen_ += freeze ? 1 : (eventsFrozen_ > 0 ? -1 : 0);
  return S_OK;
}

// ---- IViewObject2: the picture for containers that draw the control ----

STDMETHODIMP TelorusXObject::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                                  BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!dc || !bounds) return E_INVALIDARG;
  RECT area{bounds->left, bounds->top, bounds->right, bounds->bottom};
  COLORREF background = 0;
  OleTranslateColor(viewer_->Color(), nullptr, &background);
  HBRUSH brush = CreateSolidBrush(background);
  FillRect(dc, &area, brush);
  DeleteObject(brush);
  const viewer::FrameBitmap* frame = viewer_->Framebuffer();
  if (!frame || frame->Width() <= 0 || frame->Height() <= 0) return S_OK;
  const platform::Surface& surface = frame->Surface();
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = static_cast<LONG>(surface.Stride() / 4);
  info.bmiHeader.biHeight = -surface.Height();
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (viewer_->Stretch()) {
    SetStretchBltMode(dc, HALFTONE);
    StretchDIBits(dc, area.left, area.top, width, height, 0, 0, surface.Width(), surface.Height(), surface.Pixels(),
                  &info, DIB_RGB_COLORS, SRCCOPY);
  } else {
    const int x = std::clamp(viewer_->xPosition(), 0, surface.Width());
    const int y = std::clamp(viewer_->yPosition(), 0, surface.Height());
    const int w = std::min(width, surface.Width() - x);
    const int h = std::min(height, surface.Height() - y);
    if (w > 0 && h > 0)
      StretchDIBits(dc, area.left, area.top, w, h, x, y, w, h, surface.Pixels(), &info, DIB_RGB_COLORS, SRCCOPY);
  }
  return S_OK;
}

STDMETHODIMP TelorusXObject::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  viewSink_.Reset();
  if (sink) {
    sink->AddRef();
    viewSink_ = ComPtr<IAdviseSink>::Adopt(sink);
  }
  viewAspects_ = aspects;
  viewFlags_ = flags;
  return S_OK;
}

STDMETHODIMP TelorusXObject::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
  if (aspects) *aspects = viewAspects_;
  if (flags) *flags = viewFlags_;
  if (sink) {
    *sink = viewSink_.Get();
    if (*sink) (*sink)->AddRef();
  }
  return S_OK;
}

STDMETHODIMP TelorusXObject::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  return GetExtent(aspect, size);
}

// ---- Persistence: the browsable properties by name ----

STDMETHODIMP TelorusXObject::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = CLSID_TelorusX;
  return S_OK;
}

STDMETHODIMP TelorusXObject::InitNew() {
  // The viewer's update timer follows RequestFreames and FrameUpdateDelay
  // only once they are written; a container's new control writes them.
  viewer_->SetFrameUpdateDelay(viewer_->FrameUpdateDelay());
  viewer_->SetRequestFreames(viewer_->RequestFreames());
  return S_OK;
}

HRESULT TelorusXObject::ReadProperty(DISPID id, VARIANT* value) {
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  return Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, value, nullptr, nullptr);
}

HRESULT TelorusXObject::WriteProperty(DISPID id, VARIANT& value) {
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&value, &named, 1, 1};
  return Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
}

STDMETHODIMP TelorusXObject::Save(IStream* stream, BOOL clearDirty) {
  if (!stream) return E_POINTER;
  std::wstring text;
  for (const Member* m : PersistentProperties()) {
    ScopedVariant value, asText;
    HRESULT hr = ReadProperty(m->dispid, &value.v);
    if (FAILED(hr)) return hr;
    if (value.v.vt == VT_BOOL) VariantChangeType(&value.v, &value.v, 0, VT_I4);  // "-1" and "0", not words
    hr = VariantChangeTypeEx(&asText.v, &value.v, LOCALE_INVARIANT, 0, VT_BSTR);
    if (FAILED(hr)) return hr;
    text += Widen(m->name) + L"=" + Escape(asText.v.bstrVal, SysStringLen(asText.v.bstrVal)) + L"\n";
  }
  const DWORD header[2] = {kStreamMagic, static_cast<DWORD>(text.size() * sizeof(wchar_t))};
  HRESULT hr = stream->Write(header, sizeof header, nullptr);
  if (SUCCEEDED(hr)) hr = stream->Write(text.data(), header[1], nullptr);
  if (SUCCEEDED(hr) && clearDirty) dirty_ = false;
  return hr;
}

STDMETHODIMP TelorusXObject::Load(IStream* stream) {
  if (!stream) return E_POINTER;
  DWORD header[2] = {};
  ULONG got = 0;
  if (FAILED(stream->Read(header, sizeof header, &got)) || got != sizeof header || header[0] != kStreamMagic ||
      header[1] > kMaxStreamBytes || header[1] % sizeof(wchar_t) != 0)
    return E_FAIL;
  std::wstring text(header[1] / sizeof(wchar_t), L'\0');
  if (header[1] && (FAILED(stream->Read(text.data(), header[1], &got)) || got != header[1])) return E_FAIL;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    start = end + 1;
    std::size_t equals = line.find(L'=');
    if (equals == std::wstring::npos) continue;
    std::wstring name = line.substr(0, equals);
    for (const Member* m : PersistentProperties()) {
      if (Widen(m->name) != name) continue;
      ScopedVariant value;
      std::wstring v = Unescape(line.substr(equals + 1));
      value.v.vt = VT_BSTR;
      value.v.bstrVal = SysAllocStringLen(v.data(), static_cast<UINT>(v.size()));
      WriteProperty(m->dispid, value.v);  // a value the member refuses keeps the old one
    }
  }
  dirty_ = false;
  return S_OK;
}

STDMETHODIMP TelorusXObject::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  size->QuadPart = kMaxStreamBytes + 8;
  return S_OK;
}

STDMETHODIMP TelorusXObject::Load(IPropertyBag* bag, IErrorLog* log) {
  if (!bag) return E_POINTER;
  for (const Member* m : PersistentProperties()) {
    ScopedVariant value;
    std::wstring name = Widen(m->name);
    if (SUCCEEDED(bag->Read(name.c_str(), &value.v, log))) WriteProperty(m->dispid, value.v);
  }
  dirty_ = false;
  return S_OK;
}

STDMETHODIMP TelorusXObject::Save(IPropertyBag* bag, BOOL clearDirty, BOOL) {
  if (!bag) return E_POINTER;
  for (const Member* m : PersistentProperties()) {
    ScopedVariant value;
    HRESULT hr = ReadProperty(m->dispid, &value.v);
    if (SUCCEEDED(hr)) hr = bag->Write(Widen(m->name).c_str(), &value.v);
    if (FAILED(hr)) return hr;
  }
  if (clearDirty) dirty_ = false;
  return S_OK;
}

STDMETHODIMP TelorusXObject::Load(IStorage* storage) {
  if (!storage) return E_POINTER;
  ComPtr<IStream> stream;
  HRESULT hr = storage->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.Out());
  return SUCCEEDED(hr) ? Load(stream.Get()) : hr;
}

STDMETHODIMP TelorusXObject::Save(IStorage* storage, BOOL) {
  if (!storage) return E_POINTER;
  ComPtr<IStream> stream;
  HRESULT hr = storage->CreateStream(L"Contents", STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, stream.Out());
  return SUCCEEDED(hr) ? Save(stream.Get(), TRUE) : hr;
}

// ---- IQuickActivate ----

STDMETHODIMP TelorusXObject::QuickActivate(QACONTAINER* container, QACONTROL* control) {
  if (!container || !control) return E_POINTER;
  if (container->cbSize < sizeof(QACONTAINER) || control->cbSize < sizeof(QACONTROL)) return E_INVALIDARG;
  SetClientSite(container->pClientSite);
  if (container->pAdviseSink) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
  control->dwEventCookie = 0;
  control->dwPropNotifyCookie = 0;
  if (container->pUnkEventSink) events_.Advise(container->pUnkEventSink, &control->dwEventCookie);
  if (container->pPropertyNotifySink)
    propertyNotify_.Advise(container->pPropertyNotifySink, &control->dwPropNotifyCookie);
  control->dwMiscStatus = kMiscStatus;
  control->dwViewStatus = 0;
  control->dwPointerActivationPolicy = 0;
  return S_OK;
}

// ---- IObjectSafety: safe for scripting and for initialisation ----

STDMETHODIMP TelorusXObject::GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) {
  if (!supported || !enabled) return E_POINTER;
  void* probe = nullptr;
  if (FAILED(QueryInterface(riid, &probe))) {
    *supported = *enabled = 0;
    return E_NOINTERFACE;
  }
  static_cast<IUnknown*>(probe)->Release();
  *supported = kSafetyOptions;
  *enabled = safety_;
  return S_OK;
}

STDMETHODIMP TelorusXObject::SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) {
  void* probe = nullptr;
  if (FAILED(QueryInterface(riid, &probe))) return E_NOINTERFACE;
  static_cast<IUnknown*>(probe)->Release();
  if (mask & ~kSafetyOptions) return E_FAIL;
  safety_ = (safety_ & ~mask) | (enabled & mask);
  return S_OK;
}

STDMETHODIMP TelorusXObject::GetPages(CAUUID* pages) {
  if (!pages) return E_POINTER;
  pages->cElems = 0;
  pages->pElems = nullptr;
  return S_OK;
}

}  // namespace telorus::control::win32
