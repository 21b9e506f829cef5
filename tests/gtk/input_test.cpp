// Real X input (xdotool through the X server) into the GTK widget: the
// messages its hook receives are those a Windows window would deliver for
// the same keys and buttons - virtual-key codes, the left Shift and Caps
// Lock states, system keys, MK_* flags and wheel steps - and AltGr and other
// characters of a German layout arrive as the characters they type.
#include "gtk/gtk_fixture.h"

namespace telorus::test {
namespace {

using namespace std::chrono_literals;
using platform::WindowMessage;
using Kind = platform::WindowMessageKind;

// A widget in a window that records what its hook receives.
class Recorder {
 public:
  Recorder() {
    top_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(top_), 320, 240);
    gtk_container_add(GTK_CONTAINER(top_), window_.Widget());
    window_.SetHook([this](WindowMessage& m) { Record(m); });
    gtk_widget_show_all(top_);
    PumpUntil([&] { return window_.Width() == 320; });
    window_.SetFocus();
    RunPumping(LocalDisplay(), {"xdotool", "windowfocus", "--sync", std::to_string(XidOf(top_))});
    PumpUntil([&] { return window_.Focused(); });
    seen_.clear();
  }
  ~Recorder() {
    window_.SetHook(nullptr);
    gtk_widget_destroy(top_);
  }
  // Runs xdotool with the given arguments and returns what the hook saw.
  std::vector<std::string> Xdotool(std::vector<std::string> args) {
    seen_.clear();
    args.insert(args.begin(), "xdotool");
    RunPumping(LocalDisplay(), args);
    PumpFor(150ms);
    return seen_;
  }
  unsigned long Xid() const { return XidOf(top_); }

 private:
  void Record(const WindowMessage& m) {
    char text[96];
    const platform::KeyboardState k = window_.KeyState();
    switch (m.kind) {
      case Kind::KeyDown:
      case Kind::KeyUp:
        std::snprintf(text, sizeof text, "%s %02X%s%s%s%s", m.kind == Kind::KeyDown ? "down" : "up", m.key,
                      m.keysym ? (" sym " + Hex(m.keysym)).c_str() : "", m.systemKey ? " sys" : "",
                      k.leftShift ? " lshift" : "", k.capsLock && m.key != 0x14 ? " caps" : "");
        break;
      case Kind::Char: std::snprintf(text, sizeof text, "char %02X", m.key); break;
      case Kind::MouseMove: std::snprintf(text, sizeof text, "move %d,%d %u", m.x, m.y, m.keyFlags); break;
      case Kind::ButtonDown:
      case Kind::ButtonUp:
        std::snprintf(text, sizeof text, "%s %d %d,%d %u", m.kind == Kind::ButtonDown ? "press" : "release",
                      static_cast<int>(m.button), m.x, m.y, m.keyFlags);
        break;
      case Kind::Wheel: std::snprintf(text, sizeof text, "wheel %d%s", m.wheelDelta, m.horizontal ? " h" : ""); break;
      default: return;  // paint, size and focus are not what these tests look at
    }
    seen_.push_back(text);
  }
  static std::string Hex(std::uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "%X", v);
    return b;
  }

  platform::gtk::ViewerWidget window_;
  GtkWidget* top_ = nullptr;
  std::vector<std::string> seen_;
};

using Seen = std::vector<std::string>;

TEST(GtkInput, KeysArriveAsTheVirtualKeysOfAWindowsWindow) {
  RunWithDisplay(LocalDisplay(), {"setxkbmap", "us"});
  Recorder r;
  EXPECT_EQ(r.Xdotool({"key", "a", "shift+a"}),
            (Seen{"down 41", "char 61", "up 41", "down 10 lshift", "down 41 lshift", "char 41", "up 10", "up 41"}));
  // Digits and punctuation by their key's code; a shifted one carries the
  // character it types, which the code alone would not make.
  EXPECT_EQ(r.Xdotool({"key", "shift+1", "semicolon", "shift+slash"}),
            (Seen{"down 10 lshift", "down 31 sym 21 lshift", "char 21", "up 10", "up 31 sym 21", "down BA", "char 3B",
                  "up BA", "down 10 lshift", "down BF sym 3F lshift", "char 3F", "up 10", "up BF sym 3F"}));
  // Both sides of Ctrl and Alt give the generic codes; Alt makes system keys.
  EXPECT_EQ(r.Xdotool({"key", "ctrl+c", "alt+F4", "F10"}),
            (Seen{"down 11", "down 43", "char 03", "up 11", "up 43", "down 12 sys", "down 73 sys", "up 12", "up 73",
                  "down 79 sys", "up 79 sys"}));
  EXPECT_EQ(r.Xdotool({"key", "Return", "Tab", "Left", "KP_Add", "Delete"}),
            (Seen{"down 0D", "char 0D", "up 0D", "down 09", "char 09", "up 09", "down 25", "up 25", "down 6B",
                  "char 2B", "up 6B", "down 2E", "char 7F", "up 2E"}));
  // Caps Lock toggles (GDK reports the lock's new state from the next
  // event on).
  EXPECT_EQ(r.Xdotool({"key", "Caps_Lock", "c", "Caps_Lock", "d"}),
            (Seen{"down 14", "up 14", "down 43 caps", "char 43", "up 43 caps", "down 14", "up 14", "down 44", "char 64",
                  "up 44"}));
}

TEST(GtkInput, AltGrAndGermanKeysArriveAsTheCharactersTheyType) {
  RunWithDisplay(LocalDisplay(), {"setxkbmap", "de"});
  Recorder r;
  // AltGr itself stays local; Q with it types '@'.
  EXPECT_EQ(r.Xdotool({"keydown", "ISO_Level3_Shift", "key", "q", "keyup", "ISO_Level3_Shift"}),
            (Seen{"down 51 sym 40", "char 40", "up 51 sym 40"}));
  // A letter the table lacks, with and without Shift; a shifted digit; a
  // letter of the layout.
  EXPECT_EQ(r.Xdotool({"key", "udiaeresis", "shift+udiaeresis", "shift+7", "z"}),
            (Seen{"down 00 sym FC", "char FC", "up 00 sym FC", "down 10 lshift", "down 00 sym DC lshift", "char DC",
                  "up 10", "up 00 sym DC", "down 10 lshift", "down 37 sym 2F lshift", "char 2F", "up 10",
                  "up 37 sym 2F", "down 5A", "char 7A", "up 5A"}));
  RunWithDisplay(LocalDisplay(), {"setxkbmap", "us"});
}

TEST(GtkInput, MouseButtonsCarryTheirFlagsAndTheWheelItsSteps) {
  Recorder r;
  const std::string id = std::to_string(r.Xid());
  EXPECT_EQ(r.Xdotool({"mousemove", "--window", id, "30", "40"}), (Seen{"move 30,40 0"}));
  EXPECT_EQ(r.Xdotool({"click", "1", "click", "3"}),
            (Seen{"press 0 30,40 1", "release 0 30,40 0", "press 1 30,40 2", "release 1 30,40 0"}));
  EXPECT_EQ(r.Xdotool({"keydown", "shift", "mousedown", "1", "mousemove", "--window", id, "50", "60", "mousedown", "2",
                       "mouseup", "2", "mouseup", "1", "keyup", "shift"}),
            (Seen{"down 10 lshift", "press 0 30,40 5", "move 50,60 5", "press 2 50,60 21", "release 2 50,60 5",
                  "release 0 50,60 4", "up 10"}));
  EXPECT_EQ(r.Xdotool({"click", "4", "click", "5", "click", "6", "click", "7"}),
            (Seen{"wheel 120", "wheel -120", "wheel -120 h", "wheel 120 h"}));
}

}  // namespace
}  // namespace telorus::test
