// The CLIPBOARD selection as ISO-8859-1 text, and the display's bell.
#include "platform/gtk/gtk_viewer.h"

namespace telorus::platform::gtk {

std::string Latin1ToUtf8(const std::string& latin1) {
  std::string out;
  out.reserve(latin1.size() + latin1.size() / 8);
  for (unsigned char c : latin1) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string Utf8ToLatin1(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const auto* end = p + utf8.size();
  while (p < end) {
    const unsigned char c = *p;
    int length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    std::uint32_t code = length == 1 ? c : length == 2 ? (c & 0x1Fu) : length == 3 ? (c & 0x0Fu) : (c & 0x07u);
    bool valid = length > 0 && end - p >= length;
    for (int i = 1; valid && i < length; ++i) {
      if ((p[i] & 0xC0) != 0x80) valid = false;
      code = (code << 6) | (p[i] & 0x3Fu);
    }
    if (!valid) {
      // A byte that starts no character, or a character cut short.
      out += '?';
      ++p;
      continue;
    }
    out += code <= 0xFF ? static_cast<char>(code) : '?';
    p += length;
  }
  return out;
}

std::string ToLineFeeds(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  return out;
}

// What an answer from the selection's owner may still update: the clipboard
// object may be gone when it arrives.
struct ClipboardText::State {
  bool alive = true;
  bool pending = false;
  // Bumped by every change of the selection: an answer asked for before it
  // is stale and dropped.
  unsigned generation = 0;
  std::string text;  // ISO-8859-1, line feeds
};

namespace {
struct Asked {
  std::shared_ptr<ClipboardText::State> state;
  unsigned generation;
};
}  // namespace

ClipboardText::ClipboardText()
    : state_(std::make_shared<State>()), clipboard_(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD)) {
  GdkDisplay* display = gdk_display_get_default();
  notified_ = display && gdk_display_supports_selection_notification(display);
  if (notified_) ownerChange_ = g_signal_connect(clipboard_, "owner-change", G_CALLBACK(OnOwnerChange), this);
  Request();
}

ClipboardText::~ClipboardText() {
  state_->alive = false;
  if (ownerChange_) g_signal_handler_disconnect(clipboard_, ownerChange_);
}

void ClipboardText::Request() {
  if (state_->pending) return;
  state_->pending = true;
  gtk_clipboard_request_text(clipboard_, OnText, new Asked{state_, state_->generation});
}

void ClipboardText::OnOwnerChange(GtkClipboard*, GdkEvent*, gpointer self) {
  auto* clipboard = static_cast<ClipboardText*>(self);
  // An answer already on its way is the old owner's: ask again.
  ++clipboard->state_->generation;
  clipboard->state_->pending = false;
  clipboard->Request();
}

void ClipboardText::OnText(GtkClipboard*, const gchar* text, gpointer data) {
  std::unique_ptr<Asked> asked(static_cast<Asked*>(data));
  State& s = *asked->state;
  if (asked->generation != s.generation) return;
  s.pending = false;
  if (!s.alive) return;
  // No text (empty, or a picture) reads as empty text.
  s.text = text ? ToLineFeeds(Utf8ToLatin1(text)) : std::string();
}

std::string ClipboardText::Text() {
  // Without owner-change notices the selection is asked again at each read;
  // the answer serves the next one.
  if (!notified_) Request();
  return state_->text;
}

void ClipboardText::SetText(const std::string& text) {
  const std::string local = ToLineFeeds(text);
  gtk_clipboard_set_text(clipboard_, Latin1ToUtf8(local).c_str(), -1);
  // What reading it back gives, without waiting for the round trip.
  ++state_->generation;
  state_->pending = false;
  state_->text = local;
}

void DisplayBell::Beep() {
  if (GdkDisplay* display = gdk_display_get_default()) gdk_display_beep(display);
}

}  // namespace telorus::platform::gtk
