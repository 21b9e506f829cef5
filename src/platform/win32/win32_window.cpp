#include "platform/win32/win32_window.h"

#include "platform/scale.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace telorus::platform::win32 {
namespace {

constexpr const char* kClassName = "TelorusViewerWindow";
constexpr int kLineStep = 16;  // pixels per click on a scroll bar arrow

bool RegisterViewerClass(WNDPROC proc) {
  static const bool registered = [proc] {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;  // double clicks arrive as such
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    return RegisterClassExA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

// A coordinate or size for GDI, which takes ints; false when it is beyond.
bool ToInt(std::int64_t v, int* out) {
  if (v < INT_MIN / 2 || v > INT_MAX / 2) return false;
  *out = static_cast<int>(v);
  return true;
}

int BarOf(ScrollBarKind bar) { return bar == ScrollBarKind::Horizontal ? SB_HORZ : SB_VERT; }

BITMAPINFO TopDownInfo(const Surface& surface) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = static_cast<LONG>(surface.Stride() / 4);
  info.bmiHeader.biHeight = -surface.Height();
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

}  // namespace

Win32Window::Win32Window(HWND parent, int x, int y, int width, int height) {
  if (!RegisterViewerClass(Proc)) return;
  const DWORD style = parent ? WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS : WS_POPUP | WS_VISIBLE;
  background_ = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
  cursor_ = LoadCursor(nullptr, IDC_ARROW);
  hwnd_ =
      CreateWindowExA(0, kClassName, "", style, x, y, width, height, parent, nullptr, GetModuleHandleA(nullptr), this);
  memoryDc_ = CreateCompatibleDC(nullptr);
}

Win32Window::~Win32Window() {
  if (hwnd_) {
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  if (memoryDc_) {
    if (memoryDcDefault_) SelectObject(memoryDc_, memoryDcDefault_);
    DeleteDC(memoryDc_);
  }
  if (background_) DeleteObject(background_);
}

LRESULT CALLBACK Win32Window::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    static_cast<Win32Window*>(create->lpCreateParams)->hwnd_ = hwnd;
  }
  auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  return self ? self->Handle(msg, wParam, lParam) : DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT Win32Window::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ERASEBKGND: {
      RECT r;
      GetClientRect(hwnd_, &r);
      FillRect(reinterpret_cast<HDC>(wParam), &r, background_);
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      paintDc_ = BeginPaint(hwnd_, &ps);
      WindowMessage paint = WindowMessage::Of(WindowMessageKind::Paint);
      Deliver(paint);
      paintDc_ = nullptr;
      EndPaint(hwnd_, &ps);
      return 0;
    }
    case WM_SIZE: {
      if (!applyingBars_) {
        ApplyScrollBar(ScrollBarKind::Horizontal);
        ApplyScrollBar(ScrollBarKind::Vertical);
      }
      WindowMessage size = WindowMessage::Of(WindowMessageKind::Size);
      size.x = LOWORD(lParam);
      size.y = HIWORD(lParam);
      Deliver(size);
      return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS: {
      WindowMessage focus =
          WindowMessage::Of(msg == WM_SETFOCUS ? WindowMessageKind::SetFocus : WindowMessageKind::KillFocus);
      Deliver(focus);
      return 0;
    }
    case WM_GETDLGCODE:
      // Every key belongs to the remote desktop, arrows and Tab included.
      return DLGC_WANTALLKEYS | DLGC_WANTARROWS | DLGC_WANTCHARS | DLGC_WANTTAB;
    case WM_SETCURSOR:
      if (LOWORD(lParam) == HTCLIENT && cursor_) {
        SetCursor(cursor_);
        return TRUE;
      }
      break;
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP: {
      const bool down = msg == WM_KEYDOWN || msg == WM_SYSKEYDOWN;
      const bool system = msg == WM_SYSKEYDOWN || msg == WM_SYSKEYUP;
      WindowMessage key = WindowMessage::Key(down, static_cast<std::uint16_t>(wParam), system);
      Deliver(key);
      // System keys keep their meaning for the host (Alt+F4, the menu).
      return system ? DefWindowProcA(hwnd_, msg, key.key, lParam) : 0;
    }
    case WM_CHAR: {
      WindowMessage c = WindowMessage::Character(static_cast<std::uint8_t>(wParam));
      Deliver(c);
      // A host that set the character to 0 has swallowed it.
      return c.key == 0 ? 0 : DefWindowProcA(hwnd_, msg, c.key, lParam);
    }
    case WM_MOUSEMOVE: MouseMessage(WindowMessageKind::MouseMove, MouseButtonKind::Left, wParam, lParam); return 0;
    case WM_LBUTTONDOWN: MouseMessage(WindowMessageKind::ButtonDown, MouseButtonKind::Left, wParam, lParam); return 0;
    case WM_RBUTTONDOWN: MouseMessage(WindowMessageKind::ButtonDown, MouseButtonKind::Right, wParam, lParam); return 0;
    case WM_MBUTTONDOWN: MouseMessage(WindowMessageKind::ButtonDown, MouseButtonKind::Middle, wParam, lParam); return 0;
    case WM_LBUTTONUP: MouseMessage(WindowMessageKind::ButtonUp, MouseButtonKind::Left, wParam, lParam); return 0;
    case WM_RBUTTONUP: MouseMessage(WindowMessageKind::ButtonUp, MouseButtonKind::Right, wParam, lParam); return 0;
    case WM_MBUTTONUP: MouseMessage(WindowMessageKind::ButtonUp, MouseButtonKind::Middle, wParam, lParam); return 0;
    case WM_LBUTTONDBLCLK:
      MouseMessage(WindowMessageKind::DoubleClick, MouseButtonKind::Left, wParam, lParam);
      return 0;
    case WM_RBUTTONDBLCLK:
      MouseMessage(WindowMessageKind::DoubleClick, MouseButtonKind::Right, wParam, lParam);
      return 0;
    case WM_MBUTTONDBLCLK:
      MouseMessage(WindowMessageKind::DoubleClick, MouseButtonKind::Middle, wParam, lParam);
      return 0;
    case WM_MOUSEWHEEL: Wheel(false, wParam, lParam); return 0;
    case WM_MOUSEHWHEEL: Wheel(true, wParam, lParam); return 0;
    case WM_HSCROLL: UserScroll(ScrollBarKind::Horizontal, LOWORD(wParam)); return 0;
    case WM_VSCROLL: UserScroll(ScrollBarKind::Vertical, LOWORD(wParam)); return 0;
    default: break;
  }
  return DefWindowProcA(hwnd_, msg, wParam, lParam);
}

void Win32Window::MouseMessage(WindowMessageKind kind, MouseButtonKind button, WPARAM wParam, LPARAM lParam) {
  const std::uint32_t flags = static_cast<std::uint32_t>(wParam) & 0x1F;  // the MK_* flags
  // While a button is held the window keeps the mouse, so a drag that leaves
  // it still reaches the server.
  if (kind == WindowMessageKind::ButtonDown || kind == WindowMessageKind::DoubleClick) SetCapture(hwnd_);
  if (kind == WindowMessageKind::ButtonUp && (flags & (kMkLButton | kMkRButton | kMkMButton)) == 0) ReleaseCapture();
  WindowMessage m =
      WindowMessage::Mouse(kind, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)), flags, button);
  Deliver(m);
}

void Win32Window::Wheel(bool horizontal, WPARAM wParam, LPARAM lParam) {
  POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  ScreenToClient(hwnd_, &p);  // wheel messages carry screen positions
  WindowMessage m = WindowMessage::WheelTurn(static_cast<short>(HIWORD(wParam)), p.x, p.y,
                                             static_cast<std::uint32_t>(LOWORD(wParam)) & 0x1F, horizontal);
  Deliver(m);
}

int Win32Window::Width() const {
  RECT r{};
  GetWindowRect(hwnd_, &r);
  return r.right - r.left;
}

int Win32Window::Height() const {
  RECT r{};
  GetWindowRect(hwnd_, &r);
  return r.bottom - r.top;
}

int Win32Window::ClientWidth() const {
  RECT r{};
  GetClientRect(hwnd_, &r);
  return r.right;
}

int Win32Window::ClientHeight() const {
  RECT r{};
  GetClientRect(hwnd_, &r);
  return r.bottom;
}

ScrollBarState Win32Window::ScrollBar(ScrollBarKind bar) const {
  return bar == ScrollBarKind::Horizontal ? horizontal_ : vertical_;
}

void Win32Window::ApplyScrollBar(ScrollBarKind bar) {
  // A bar shows when it is marked visible and its range exceeds the extent
  // it scrolls; the window's outer size decides, so showing one bar does
  // not take the other away.
  applyingBars_ = true;
  const ScrollBarState& b = Bar(bar);
  const int outer = bar == ScrollBarKind::Horizontal ? Width() : Height();
  ShowScrollBar(hwnd_, BarOf(bar), b.visible && b.range > outer);
  applyingBars_ = false;
  const int client = bar == ScrollBarKind::Horizontal ? ClientWidth() : ClientHeight();
  ScrollBarState& state = Bar(bar);
  state.position = std::clamp(state.position, 0, std::max(0, state.range - client));
  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  si.nMin = 0;
  si.nMax = std::max(0, state.range - 1);
  si.nPage = static_cast<UINT>(std::max(0, client));
  si.nPos = state.position;
  SetScrollInfo(hwnd_, BarOf(bar), &si, TRUE);
}

void Win32Window::SetScrollRange(ScrollBarKind bar, int range) {
  Bar(bar).range = std::max(0, range);
  ApplyScrollBar(bar);
}

void Win32Window::SetScrollVisible(ScrollBarKind bar, bool visible) {
  Bar(bar).visible = visible;
  ApplyScrollBar(bar);
}

void Win32Window::SetScrollPosition(ScrollBarKind bar, int position) {
  ScrollBarState& b = Bar(bar);
  const int client = bar == ScrollBarKind::Horizontal ? ClientWidth() : ClientHeight();
  const int clamped = std::clamp(position, 0, std::max(0, b.range - client));
  const int delta = b.position - clamped;
  if (delta == 0) return;
  b.position = clamped;
  SetScrollPos(hwnd_, BarOf(bar), clamped, TRUE);
  // The content moves and the part that comes into view is painted.
  if (bar == ScrollBarKind::Horizontal)
    ScrollWindowEx(hwnd_, delta, 0, nullptr, nullptr, nullptr, nullptr, SW_INVALIDATE | SW_ERASE);
  else
    ScrollWindowEx(hwnd_, 0, delta, nullptr, nullptr, nullptr, nullptr, SW_INVALIDATE | SW_ERASE);
}

void Win32Window::UserScroll(ScrollBarKind bar, WORD request) {
  const ScrollBarState& b = Bar(bar);
  const int client = bar == ScrollBarKind::Horizontal ? ClientWidth() : ClientHeight();
  int target = b.position;
  switch (request) {
    case SB_LINEUP: target -= kLineStep; break;
    case SB_LINEDOWN: target += kLineStep; break;
    case SB_PAGEUP: target -= client; break;
    case SB_PAGEDOWN: target += client; break;
    case SB_TOP: target = 0; break;
    case SB_BOTTOM: target = b.range; break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
      SCROLLINFO si{};
      si.cbSize = sizeof si;
      si.fMask = SIF_TRACKPOS;
      GetScrollInfo(hwnd_, BarOf(bar), &si);
      target = si.nTrackPos;
      break;
    }
    default: return;
  }
  SetScrollPosition(bar, target);
}

HDC Win32Window::AcquireDc() { return paintDc_ ? paintDc_ : GetDC(hwnd_); }

void Win32Window::ReleaseDc(HDC dc) {
  if (dc != paintDc_) ReleaseDC(hwnd_, dc);
}

HDC Win32Window::SourceDc(const Surface& surface) {
  auto* bitmap = static_cast<HBITMAP>(surface.NativeBitmap());
  if (!bitmap || !memoryDc_) return nullptr;
  HGDIOBJ previous = SelectObject(memoryDc_, bitmap);
  if (!memoryDcDefault_) memoryDcDefault_ = previous;
  return memoryDc_;
}

bool Win32Window::CopyFromSurface(const Surface& surface, Rect source, std::int64_t destX, std::int64_t destY) {
  int sx, sy, w, h, dx, dy;
  if (!ToInt(source.left, &sx) || !ToInt(source.top, &sy) || !ToInt(source.Width(), &w) ||
      !ToInt(source.Height(), &h) || !ToInt(destX, &dx) || !ToInt(destY, &dy))
    return false;
  if (w <= 0 || h <= 0) return true;
  HDC dc = AcquireDc();
  if (!dc) return false;
  BOOL ok;
  if (HDC from = SourceDc(surface)) {
    ok = BitBlt(dc, dx, dy, w, h, from, sx, sy, SRCCOPY);
  } else {
    // Plain memory: the same pixels through the device-independent path.
    const BITMAPINFO info = TopDownInfo(surface);
    ok = StretchDIBits(dc, dx, dy, w, h, sx, sy, w, h, surface.Pixels(), &info, DIB_RGB_COLORS, SRCCOPY) != 0;
  }
  ReleaseDc(dc);
  return ok != 0;
}

bool Win32Window::StretchFromSurface(const Surface& surface, Rect source, Rect dest, Rect clip) {
  int sx, sy, sw, sh, dx, dy, dw, dh, cl, ct, cr, cb;
  if (!ToInt(source.left, &sx) || !ToInt(source.top, &sy) || !ToInt(source.Width(), &sw) ||
      !ToInt(source.Height(), &sh) || !ToInt(dest.left, &dx) || !ToInt(dest.top, &dy) || !ToInt(dest.Width(), &dw) ||
      !ToInt(dest.Height(), &dh) || !ToInt(clip.left, &cl) || !ToInt(clip.top, &ct) || !ToInt(clip.right, &cr) ||
      !ToInt(clip.bottom, &cb))
    return false;
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || cr <= cl || cb <= ct) return true;
  HDC dc = AcquireDc();
  if (!dc) return false;
  // The filtered picture is made in a bitmap of the clip's size, then
  // copied to the window. The filter is our own box filter: GDI's halftone
  // mode gives the same picture on Windows, but not every GDI implements it
  // (Wine's takes the nearest pixel).
  const int cw = cr - cl, ch = cb - ct;
  BOOL ok = FALSE;
  if (scratch_.Width() < cw || scratch_.Height() < ch) {
    const int w = std::max(cw, scratch_.Width()), h = std::max(ch, scratch_.Height());
    scratch_ = Surface();
    try {
      scratch_ = CreateBitmapSurface(w, h);
    } catch (const std::bad_alloc&) {
    }
  }
  if (HDC scratchDc = scratch_.NativeBitmap() ? CreateCompatibleDC(dc) : nullptr) {
    GdiFlush();  // GDI is done with the scratch bitmap before its memory is written
    ScaleAreaAverage(surface, source, scratch_.View(),
                     {dest.left - cl, dest.top - ct, dest.right - cl, dest.bottom - ct}, {0, 0, cw, ch});
    // Only what the scaled picture covers inside the clip goes to the window.
    const int left = std::max(cl, dx), top = std::max(ct, dy);
    const int right = std::min(cr, dx + dw), bottom = std::min(cb, dy + dh);
    HGDIOBJ previous = SelectObject(scratchDc, static_cast<HBITMAP>(scratch_.NativeBitmap()));
    ok = right <= left || bottom <= top ||
         BitBlt(dc, left, top, right - left, bottom - top, scratchDc, left - cl, top - ct, SRCCOPY);
    SelectObject(scratchDc, previous);
    DeleteDC(scratchDc);
  }
  ReleaseDc(dc);
  return ok != 0;
}

void Win32Window::DrawDashedOutline(Rect area) {
  int l, t, r, b;
  if (!ToInt(area.left, &l) || !ToInt(area.top, &t) || !ToInt(area.right, &r) || !ToInt(area.bottom, &b)) return;
  HDC dc = AcquireDc();
  if (!dc) return;
  HPEN pen = CreatePen(PS_DASH, 1, RGB(0, 0, 0));
  HGDIOBJ oldPen = SelectObject(dc, pen);
  HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  Rectangle(dc, l, t, r, b);
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
  DeleteObject(pen);
  ReleaseDc(dc);
}

void Win32Window::Invalidate() { InvalidateRect(hwnd_, nullptr, TRUE); }

void Win32Window::SetBackground(TColor colour) {
  const std::uint32_t marker = colour >> 24;
  // A colour value is a COLORREF (red in the low byte); a system colour is
  // the system's own.
  const COLORREF value = (marker == 0xFF || marker == 0x80) ? GetSysColor(static_cast<int>(colour & 0xFF))
                                                            : static_cast<COLORREF>(colour & 0xFFFFFF);
  if (background_) DeleteObject(background_);
  background_ = CreateSolidBrush(value);
  Invalidate();
}

void Win32Window::SetCursorShape(int cursor) {
  // The VCL cursor numbers of the two shapes a viewer uses.
  cursor_ = LoadCursor(nullptr, cursor == -3 ? IDC_CROSS : IDC_ARROW);
}

void Win32Window::SetFocus() { ::SetFocus(hwnd_); }

bool Win32Window::Focused() const { return GetFocus() == hwnd_; }

KeyboardState Win32Window::KeyState() const {
  KeyboardState k;
  k.leftShift = (GetKeyState(VK_LSHIFT) & 0x8000) != 0;
  k.shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
  k.control = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
  k.alt = (GetKeyState(VK_MENU) & 0x8000) != 0;
  k.capsLock = (GetKeyState(VK_CAPITAL) & 1) != 0;
  return k;
}

// ---- Clipboard ----

namespace {

// The clipboard needs an owner window to take text.
HWND ClipboardOwner() {
  thread_local HWND owner = nullptr;
  if (!owner || !IsWindow(owner))
    owner = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr), nullptr);
  return owner;
}

bool OpenClipboardSoon() {
  // Another program may hold it for a moment.
  for (int i = 0; i < 20; ++i) {
    if (OpenClipboard(ClipboardOwner())) return true;
    Sleep(5);
  }
  return false;
}

}  // namespace

std::string Win32Clipboard::Text() {
  std::string text;
  if (!IsClipboardFormatAvailable(CF_TEXT) || !OpenClipboardSoon()) return text;
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    if (const char* p = static_cast<const char*>(GlobalLock(data))) {
      text.assign(p, strnlen(p, GlobalSize(data)));
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

void Win32Clipboard::SetText(const std::string& text) {
  if (!OpenClipboardSoon()) return;
  EmptyClipboard();
  if (HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1)) {
    if (char* p = static_cast<char*>(GlobalLock(data))) {
      std::memcpy(p, text.c_str(), text.size() + 1);
      GlobalUnlock(data);
      if (!SetClipboardData(CF_TEXT, data)) GlobalFree(data);
    } else {
      GlobalFree(data);
    }
  }
  CloseClipboard();
}

}  // namespace telorus::platform::win32
