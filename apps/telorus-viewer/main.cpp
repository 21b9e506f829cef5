// telorus-viewer HOST[:PORT] [options]: a remote desktop in a GTK3 window.
//
// The window holds the viewer widget and a status bar, takes the remote
// desktop's size when the screen has room for it and its name as title.
// F8 opens a menu (stretch, smooth or nearest scaling, Ctrl+Alt+Del, full
// screen, reconnect, quit). The session options (protocol version, security
// types, user name, password, CA file) are the ones telorus-snap takes. A
// server that asks for a password, or for a user name and password (Plain),
// that was not given gets them from a dialog. A certificate that does not
// verify is shown in a dialog that refuses it unless the user accepts it;
// an accepted certificate is remembered for its server (known_certs.h) and
// taken without asking next time, while a different certificate from that
// server is refused with a warning. A failed or lost connection is shown
// with a Reconnect button that keeps the settings; problems are also
// printed on standard error.
#include <gtk/gtk.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "common/known_certs.h"
#include "common/session_options.h"
#include "platform/gtk/gtk_viewer.h"
#include "viewer/Telorus.h"
#include "telorus_version.h"

namespace {

using namespace telorus;
using namespace telorus::viewer;
namespace pg = telorus::platform::gtk;

std::string UsageText() {
  return std::string(
             "usage: telorus-viewer [HOST[:PORT]] [options]\n"
             "\n"
             "Shows the desktop of an RFB (VNC) server and sends it keys, mouse, wheel and\n"
             "clipboard text. PORT is the TCP port (default 5900). Without a server, a\n"
             "dialog asks for one.\n"
             "\n"
             "options:\n") +
         apps::kSessionOptionsUsage +
         "  --stretch            scale the picture to the window\n"
         "  --smooth             filter a scaled picture smoothly (the default)\n"
         "  --nearest            scale by nearest neighbour: sharp pixels\n"
         "  --autoscroll         scroll bars when the picture is larger than the window\n"
         "  --8bit               ask for 8-bit colour (less data on slow links)\n"
         "  --view-only          send no keys, mouse, wheel or clipboard to the server\n"
         "  --help               this text\n"
         "  --version            the version\n"
         "\n"
         "A password, or a user name and password for Plain, that the server wants and\n"
         "that is not given is asked for in a dialog. A certificate that does not verify\n"
         "is shown in a dialog, which may accept it; accepted certificates are\n"
         "remembered per server in $XDG_CONFIG_HOME/telorus/known_certs (else\n"
         "~/.config/telorus/known_certs), and a server whose certificate has changed\n"
         "since is refused.\n"
         "\n"
         "In the window, F8 opens a menu: stretch, smooth or nearest scaling, send\n"
         "Ctrl+Alt+Del, full screen, reconnect, quit.\n";
}

struct Options {
  std::string host;
  long port = 5900;
  apps::SessionOptions session;
  bool stretch = false;
  bool nearest = false;
  bool autoScroll = false;
  bool eightBit = false;
  bool viewOnly = false;
};

int Usage(const std::string& problem) {
  std::fprintf(stderr, "telorus-viewer: %s\n\n%s", problem.c_str(), UsageText().c_str());
  return 2;
}

// HOST[:PORT] into o; false with the problem when it does not parse.
bool ParseTarget(const std::string& target, Options* o, std::string& problem) {
  o->host = target;
  o->port = 5900;
  if (auto colon = target.rfind(':'); colon != std::string::npos) {
    o->host = target.substr(0, colon);
    char* end = nullptr;
    const std::string port = target.substr(colon + 1);
    o->port = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end || o->port < 1 || o->port > 65535) {
      problem = "the port must be 1 to 65535";
      return false;
    }
  }
  if (o->host.empty()) {
    problem = "no host given";
    return false;
  }
  return true;
}

// 0 parsed, 1 --help or --version (answered), 2 a problem (printed).
int ParseArguments(int argc, char** argv, Options* o) {
  std::string target, problem;
  // On screen the JPEG quality follows the link unless it is given.
  o->session.autoQuality = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(UsageText().c_str(), stdout);
      return 1;
    } else if (a == "--version") {
      std::printf("telorus-viewer %s\n", TELORUS_VERSION);
      return 1;
    } else if (const int taken = apps::TakeSessionOption(argc, argv, i, o->session, problem); taken != 0) {
      if (taken < 0) return Usage(problem);
    } else if (a == "--stretch") {
      o->stretch = true;
    } else if (a == "--smooth") {
      o->nearest = false;
    } else if (a == "--nearest") {
      o->nearest = true;
    } else if (a == "--autoscroll") {
      o->autoScroll = true;
    } else if (a == "--8bit") {
      o->eightBit = true;
    } else if (a == "--view-only") {
      o->viewOnly = true;
    } else if (!a.empty() && a[0] == '-') {
      return Usage("unknown option " + a);
    } else if (target.empty()) {
      target = a;
    } else {
      return Usage("only one server may be given");
    }
  }
  // Without a server (started from the desktop's menu) a dialog asks for one.
  if (target.empty()) return 0;
  if (!ParseTarget(target, o, problem)) return Usage(problem);
  return 0;
}

// Asks for HOST[:PORT] until one parses; false when the dialog is cancelled.
bool AskServer(Options* o) {
  GtkWidget* dialog = gtk_dialog_new_with_buttons("Telorus Viewer", nullptr, GTK_DIALOG_MODAL, "_Cancel",
                                                  GTK_RESPONSE_CANCEL, "_Connect", GTK_RESPONSE_OK, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
  GtkWidget* label = gtk_label_new("VNC server (host or host:port):");
  GtkWidget* problemLabel = gtk_label_new("");
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
  gtk_container_set_border_width(GTK_CONTAINER(content), 12);
  gtk_box_set_spacing(GTK_BOX(content), 6);
  gtk_container_add(GTK_CONTAINER(content), label);
  gtk_container_add(GTK_CONTAINER(content), entry);
  gtk_container_add(GTK_CONTAINER(content), problemLabel);
  gtk_widget_show_all(dialog);
  bool chosen = false;
  while (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK) {
    std::string problem;
    if (ParseTarget(gtk_entry_get_text(GTK_ENTRY(entry)), o, problem)) {
      chosen = true;
      break;
    }
    problem[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(problem[0])));
    gtk_label_set_text(GTK_LABEL(problemLabel), (problem + ".").c_str());
  }
  gtk_widget_destroy(dialog);
  return chosen;
}

// A certificate's time as "YYYY-MM-DD HH:MM:SS UTC".
std::string UtcTime(std::int64_t seconds) {
  GDateTime* time = g_date_time_new_from_unix_utc(seconds);
  if (!time) return "?";
  gchar* text = g_date_time_format(time, "%Y-%m-%d %H:%M:%S UTC");
  std::string result = text ? text : "?";
  g_free(text);
  g_date_time_unref(time);
  return result;
}

class ViewerApp {
 public:
  explicit ViewerApp(const Options& options);
  ~ViewerApp();
  void Start() { Connect(); }

 private:
  void BuildMenu();
  void Connect();
  void Reconnect();
  void ShowProblem(const std::string& text);
  void SetStatus(const std::string& text);
  void FitToFrame(int width, int height);
  std::string ServerName() const { return options_.host + ":" + std::to_string(options_.port); }
  // What the next Connect asks for before it connects.
  enum class Ask { Nothing, Password, Credentials, Certificate };
  void EndAndAsk(Ask what);
  void AskPassword();
  void AskCredentials();
  bool CheckCertificate(const CertificateInfo& certificate);
  void AskCertificate();
  void SendCtrlAltDel();
  void ToggleFullScreen();

  static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer self);
  static void OnInfoResponse(GtkInfoBar*, gint response, gpointer self);

  Options options_;
  // The message loop runs under GTK's from here on; the viewer's socket and
  // timer live on it.
  pg::MessageLoopSource loop_;
  pg::ViewerWidget window_;
  pg::ClipboardText clipboard_;
  pg::DisplayBell bell_;
  TQuarneTelorus viewer_{window_, clipboard_, bell_};
  GtkWidget* top_ = nullptr;
  GtkWidget* info_ = nullptr;
  GtkWidget* infoText_ = nullptr;
  GtkWidget* status_ = nullptr;
  GtkWidget* menu_ = nullptr;
  GtkWidget* stretchItem_ = nullptr;
  GtkWidget* fullItem_ = nullptr;
  guint statusContext_ = 0;
  bool closing_ = false;  // our own disconnect: no problem to show
  Ask ask_ = Ask::Nothing;
  bool plain_ = false;  // this attempt authenticates with user name and password
  // Why the certificate handler refused the certificate, shown in place of
  // the session's own error text.
  std::string refusal_;
  CertificateInfo offered_;   // the certificate the dialog asks about
  std::string acceptedOnce_;  // accepted, but it could not be remembered
  bool fullScreen_ = false;
  bool sized_ = false;
};

ViewerApp::ViewerApp(const Options& options) : options_(options) {
  top_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  const std::string title = "telorus-viewer " + ServerName();
  gtk_window_set_title(GTK_WINDOW(top_), title.c_str());
  gtk_window_set_default_size(GTK_WINDOW(top_), 800, 600);
  g_signal_connect(top_, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) -> gboolean {
                     gtk_main_quit();
                     return TRUE;
                   }),
                   nullptr);
  g_signal_connect(top_, "key-press-event", G_CALLBACK(OnKey), this);
  g_signal_connect(top_, "key-release-event", G_CALLBACK(OnKey), this);

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(top_), box);
  // The picture first, at the window's top-left corner.
  gtk_box_pack_start(GTK_BOX(box), window_.Widget(), TRUE, TRUE, 0);
  info_ = gtk_info_bar_new_with_buttons("_Reconnect", 1, nullptr);
  gtk_info_bar_set_message_type(GTK_INFO_BAR(info_), GTK_MESSAGE_ERROR);
  infoText_ = gtk_label_new("");
  gtk_label_set_line_wrap(GTK_LABEL(infoText_), TRUE);
  gtk_container_add(GTK_CONTAINER(gtk_info_bar_get_content_area(GTK_INFO_BAR(info_))), infoText_);
  g_signal_connect(info_, "response", G_CALLBACK(OnInfoResponse), this);
  gtk_widget_set_no_show_all(info_, TRUE);
  gtk_widget_show(infoText_);
  gtk_box_pack_start(GTK_BOX(box), info_, FALSE, FALSE, 0);
  status_ = gtk_statusbar_new();
  statusContext_ = gtk_statusbar_get_context_id(GTK_STATUSBAR(status_), "session");
  gtk_box_pack_start(GTK_BOX(box), status_, FALSE, FALSE, 0);
  BuildMenu();

  viewer_.SetServer(options_.host);
  viewer_.SetPort(static_cast<std::int32_t>(options_.port));
  apps::ApplySessionOptions(options_.session, viewer_);
  if (options_.eightBit) viewer_.SetPixelFormat(VNC8Bit);
  viewer_.SetAutoScroll(options_.autoScroll);
  viewer_.SetStretch(options_.stretch);
  window_.SetScaleFilter(options_.nearest ? pg::ScaleFilter::Nearest : pg::ScaleFilter::Smooth);
  viewer_.SetEnableBell(true);
  // One read per socket record: the socket's own loop would otherwise read
  // on while bytes keep coming, and GTK would get no turn to paint.
  viewer_.Socket().SetComponentOptions(viewer_.Socket().ComponentOptions() |
                                       socket::OptionBit(socket::wsoNoReceiveLoop));
  // Updates are asked for as soon as the last one is shown, and at the
  // timer's ticks while none is outstanding.
  viewer_.SetFrameUpdateDelay(20);
  viewer_.SetPacedRequests(true);
  viewer_.SetRequestFreames(true);
  viewer_.SetTransferWheel(!options_.viewOnly);
  if (options_.viewOnly) {
    viewer_.SetTransferKeys(false);
    viewer_.SetTransferMouse(false);
    viewer_.SetTransferLocalClipboard(false);
  }

  viewer_.OnStatus = [this](TObject*, const std::string& text) {
    SetStatus(text);
    // The server wants what was not given: end this attempt rather than
    // answer with nothing (both statuses come before anything is sent),
    // then ask and connect again.
    const apps::SessionOptions& given = options_.session;
    if (text == "Send Password!") {
      if (viewer_.Password().empty() && !given.passwordGiven) EndAndAsk(Ask::Password);
    } else if (text == "Send User Name And Password!") {
      plain_ = true;
      if ((viewer_.UserName().empty() && !given.userGiven) || (viewer_.Password().empty() && !given.passwordGiven))
        EndAndAsk(Ask::Credentials);
    }
  };
  viewer_.OnConnectError = [this](TObject*, const std::string& text) {
    ShowProblem(refusal_.empty() ? text : refusal_);
    refusal_.clear();
  };
  viewer_.OnAuthFail = [this](TObject*) {
    const apps::SessionOptions& given = options_.session;
    if (plain_) {
      ShowProblem("The server refused the user name or password.");
      if (!given.userGiven || !given.passwordGiven) ask_ = Ask::Credentials;
    } else {
      ShowProblem("The server refused the password.");
      if (!given.passwordGiven) ask_ = Ask::Password;
    }
  };
  viewer_.OnCertificate = [this](TObject*, const CertificateInfo& certificate, bool& accept) {
    accept = CheckCertificate(certificate);
  };
  viewer_.OnConnectClose = [this](TObject*) {
    if (!closing_ && !gtk_widget_get_visible(info_)) ShowProblem("The connection was closed.");
  };
  viewer_.OnHostName = [this](TObject*, const std::string& name) {
    gtk_window_set_title(GTK_WINDOW(top_), name.empty() ? "telorus-viewer" : name.c_str());
  };
  viewer_.OnFrameSize = [this](TObject*, std::int32_t w, std::int32_t h) { FitToFrame(w, h); };
  viewer_.OnConnected = [this](TObject*) {
    gtk_widget_hide(info_);
    window_.SetFocus();
  };

  gtk_widget_show_all(top_);
  window_.SetFocus();
}

ViewerApp::~ViewerApp() {
  closing_ = true;
  viewer_.DisConnect();
  if (menu_) gtk_widget_destroy(menu_);
  gtk_widget_destroy(top_);
}

void ViewerApp::BuildMenu() {
  menu_ = gtk_menu_new();
  auto add = [this](GtkWidget* item, void (*activate)(GtkWidget*, gpointer)) {
    gtk_menu_shell_append(GTK_MENU_SHELL(menu_), item);
    g_signal_connect(item, "activate", G_CALLBACK(activate), this);
  };
  stretchItem_ = gtk_check_menu_item_new_with_mnemonic("_Stretch to the window");
  gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(stretchItem_), options_.stretch);
  add(
      stretchItem_, +[](GtkWidget* item, gpointer self) {
        auto* app = static_cast<ViewerApp*>(self);
        app->viewer_.SetStretch(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item)));
        app->window_.Invalidate();
      });
  GtkWidget* smooth = gtk_radio_menu_item_new_with_mnemonic(nullptr, "S_mooth scaling");
  GtkWidget* nearest =
      gtk_radio_menu_item_new_with_mnemonic_from_widget(GTK_RADIO_MENU_ITEM(smooth), "_Nearest-neighbour scaling");
  gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(options_.nearest ? nearest : smooth), TRUE);
  add(
      smooth, +[](GtkWidget* item, gpointer self) {
        if (gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item)))
          static_cast<ViewerApp*>(self)->window_.SetScaleFilter(pg::ScaleFilter::Smooth);
      });
  add(
      nearest, +[](GtkWidget* item, gpointer self) {
        if (gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item)))
          static_cast<ViewerApp*>(self)->window_.SetScaleFilter(pg::ScaleFilter::Nearest);
      });
  gtk_menu_shell_append(GTK_MENU_SHELL(menu_), gtk_separator_menu_item_new());
  add(
      gtk_menu_item_new_with_mnemonic("Send Ctrl+Alt+_Del"),
      +[](GtkWidget*, gpointer self) { static_cast<ViewerApp*>(self)->SendCtrlAltDel(); });
  fullItem_ = gtk_check_menu_item_new_with_mnemonic("_Full screen");
  add(
      fullItem_, +[](GtkWidget*, gpointer self) { static_cast<ViewerApp*>(self)->ToggleFullScreen(); });
  add(
      gtk_menu_item_new_with_mnemonic("_Reconnect"),
      +[](GtkWidget*, gpointer self) { static_cast<ViewerApp*>(self)->Reconnect(); });
  gtk_menu_shell_append(GTK_MENU_SHELL(menu_), gtk_separator_menu_item_new());
  add(
      gtk_menu_item_new_with_mnemonic("_Quit"), +[](GtkWidget*, gpointer) { gtk_main_quit(); });
  gtk_widget_show_all(menu_);
}

gboolean ViewerApp::OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
  if (event->keyval != GDK_KEY_F8) return FALSE;  // everything else goes to the remote desktop
  auto* app = static_cast<ViewerApp*>(data);
  if (event->type == GDK_KEY_PRESS) {
    // The check items follow what may have changed meanwhile.
    g_signal_handlers_block_matched(app->stretchItem_, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, app);
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(app->stretchItem_), app->viewer_.Stretch());
    g_signal_handlers_unblock_matched(app->stretchItem_, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, app);
    gtk_menu_popup_at_pointer(GTK_MENU(app->menu_), reinterpret_cast<GdkEvent*>(event));
  }
  return TRUE;
}

void ViewerApp::OnInfoResponse(GtkInfoBar*, gint response, gpointer data) {
  if (response == 1) static_cast<ViewerApp*>(data)->Reconnect();
}

void ViewerApp::Connect() {
  const Ask ask = ask_;
  ask_ = Ask::Nothing;
  if (ask == Ask::Password) return AskPassword();
  if (ask == Ask::Credentials) return AskCredentials();
  if (ask == Ask::Certificate) return AskCertificate();
  plain_ = false;
  refusal_.clear();
  gtk_widget_hide(info_);
  SetStatus("Connecting to " + ServerName());
  try {
    viewer_.Connect();
  } catch (const std::exception& e) {
    ShowProblem(e.what());  // refused before any connection existed
  }
}

void ViewerApp::EndAndAsk(Ask what) {
  ask_ = what;
  closing_ = true;
  viewer_.DisConnect();
  closing_ = false;
  g_idle_add(
      +[](gpointer self) -> gboolean {
        static_cast<ViewerApp*>(self)->Connect();
        return G_SOURCE_REMOVE;
      },
      this);
}

void ViewerApp::Reconnect() {
  closing_ = true;
  viewer_.DisConnect();
  closing_ = false;
  Connect();
}

void ViewerApp::AskPassword() {
  GtkWidget* dialog = gtk_dialog_new_with_buttons("Password", GTK_WINDOW(top_), GTK_DIALOG_MODAL, "_Cancel",
                                                  GTK_RESPONSE_CANCEL, "_Connect", GTK_RESPONSE_OK, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
  const std::string prompt = ServerName() + " asks for a password:";
  GtkWidget* label = gtk_label_new(prompt.c_str());
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_visibility(GTK_ENTRY(entry), FALSE);
  gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
  gtk_container_set_border_width(GTK_CONTAINER(content), 12);
  gtk_box_set_spacing(GTK_BOX(content), 6);
  gtk_container_add(GTK_CONTAINER(content), label);
  gtk_container_add(GTK_CONTAINER(content), entry);
  gtk_widget_show_all(dialog);
  const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
  const std::string password = gtk_entry_get_text(GTK_ENTRY(entry));
  gtk_widget_destroy(dialog);
  if (response != GTK_RESPONSE_OK) {
    ask_ = Ask::Password;  // Reconnect asks again
    ShowProblem("No password was given.");
    return;
  }
  viewer_.SetPassword(password);
  Connect();
}

void ViewerApp::AskCredentials() {
  GtkWidget* dialog = gtk_dialog_new_with_buttons("User Name and Password", GTK_WINDOW(top_), GTK_DIALOG_MODAL,
                                                  "_Cancel", GTK_RESPONSE_CANCEL, "_Connect", GTK_RESPONSE_OK, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
  gtk_container_set_border_width(GTK_CONTAINER(content), 12);
  gtk_box_set_spacing(GTK_BOX(content), 6);
  const std::string prompt = ServerName() + " asks for a user name and password:";
  GtkWidget* label = gtk_label_new(prompt.c_str());
  gtk_label_set_xalign(GTK_LABEL(label), 0);
  gtk_container_add(GTK_CONTAINER(content), label);
  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
  // What was given or typed before stays filled in.
  GtkWidget* user = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(user), viewer_.UserName().c_str());
  GtkWidget* password = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(password), viewer_.Password().c_str());
  gtk_entry_set_visibility(GTK_ENTRY(password), FALSE);
  gtk_entry_set_activates_default(GTK_ENTRY(password), TRUE);
  // Enter in the user name goes on to the password rather than connecting.
  g_signal_connect(user, "activate",
                   G_CALLBACK(+[](GtkEntry*, gpointer next) { gtk_widget_grab_focus(GTK_WIDGET(next)); }), password);
  int row = 0;
  for (auto [text, entry] : {std::pair{"_User name:", user}, std::pair{"_Password:", password}}) {
    GtkWidget* name = gtk_label_new_with_mnemonic(text);
    gtk_label_set_mnemonic_widget(GTK_LABEL(name), entry);
    gtk_label_set_xalign(GTK_LABEL(name), 0);
    gtk_widget_set_hexpand(entry, TRUE);
    gtk_grid_attach(GTK_GRID(grid), name, 0, row, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), entry, 1, row++, 1, 1);
  }
  gtk_container_add(GTK_CONTAINER(content), grid);
  gtk_widget_show_all(dialog);
  gtk_widget_grab_focus(viewer_.UserName().empty() ? user : password);
  const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
  const std::string userName = gtk_entry_get_text(GTK_ENTRY(user));
  const std::string secret = gtk_entry_get_text(GTK_ENTRY(password));
  gtk_widget_destroy(dialog);
  if (response != GTK_RESPONSE_OK) {
    ask_ = Ask::Credentials;  // Reconnect asks again
    ShowProblem("No user name and password were given.");
    return;
  }
  viewer_.SetUserName(userName);
  viewer_.SetPassword(secret);
  Connect();
}

// The session's certificate event. An unknown certificate ends the
// attempt, and the dialog comes from GTK's loop afterwards: the session is
// in the middle of its TLS step here, and a dialog's loop would hand it
// the socket's next events while it waits for the answer. An accepted
// certificate is remembered first, so the next attempt takes it at once.
bool ViewerApp::CheckCertificate(const CertificateInfo& certificate) {
  const std::string server = ServerName();
  const apps::KnownCertificates known(apps::DefaultKnownCertsPath());
  std::string remembered;
  switch (known.Lookup(server, certificate.sha256, &remembered)) {
    case apps::KnownCertificates::Match::Same: return true;
    case apps::KnownCertificates::Match::Changed:
      // Not offered for acceptance: that is what an attacker in between
      // would hope for.
      refusal_ = "The certificate of " + server + " has changed since it was accepted (remembered SHA-256 " +
                 remembered + ", now " + certificate.sha256 +
                 "). It may not be the same server: the connection was refused. Remove the line for " + server +
                 " from " + known.Path() + " to accept the new one.";
      return false;
    case apps::KnownCertificates::Match::Unknown: break;
  }
  if (!acceptedOnce_.empty() && acceptedOnce_ == certificate.sha256) return true;
  offered_ = certificate;
  EndAndAsk(Ask::Certificate);
  return false;
}

void ViewerApp::AskCertificate() {
  const CertificateInfo& c = offered_;
  const apps::KnownCertificates known(apps::DefaultKnownCertsPath());
  SetStatus("The certificate of " + ServerName() + " does not verify");
  GtkWidget* dialog =
      gtk_dialog_new_with_buttons("Certificate Not Verified", GTK_WINDOW(top_), GTK_DIALOG_MODAL, "_Cancel",
                                  GTK_RESPONSE_CANCEL, "_Accept and remember", GTK_RESPONSE_ACCEPT, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
  gtk_container_set_border_width(GTK_CONTAINER(content), 12);
  gtk_box_set_spacing(GTK_BOX(content), 10);
  // Plain text throughout: names in certificates are not markup.
  auto text = [](const std::string& value, bool selectable) {
    GtkWidget* label = gtk_label_new(value.c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_widget_set_halign(label, GTK_ALIGN_START);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
    gtk_label_set_selectable(GTK_LABEL(label), selectable);
    return label;
  };
  gtk_container_add(GTK_CONTAINER(content),
                    text("The certificate of " + ServerName() + " does not verify: " + c.problem + ".", false));
  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 4);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
  // The fingerprint in two lines of 16 bytes, easier to compare.
  const std::string fingerprint = c.sha256.size() > 48 ? c.sha256.substr(0, 47) + "\n" + c.sha256.substr(48) : c.sha256;
  const std::pair<const char*, std::string> rows[] = {{"Subject:", c.subject},
                                                      {"Issuer:", c.issuer},
                                                      {"Valid from:", UtcTime(c.notBefore)},
                                                      {"Valid until:", UtcTime(c.notAfter)},
                                                      {"SHA-256:", fingerprint}};
  for (int row = 0; row < 5; ++row) {
    GtkWidget* title = gtk_label_new(rows[row].first);
    gtk_label_set_xalign(GTK_LABEL(title), 0);
    gtk_widget_set_valign(title, GTK_ALIGN_START);
    gtk_grid_attach(GTK_GRID(grid), title, 0, row, 1, 1);
    GtkWidget* shown = text(rows[row].second, true);
    gtk_widget_set_hexpand(shown, TRUE);
    if (row == 4) {
      PangoAttrList* mono = pango_attr_list_new();
      pango_attr_list_insert(mono, pango_attr_family_new("monospace"));
      gtk_label_set_attributes(GTK_LABEL(shown), mono);
      pango_attr_list_unref(mono);
    }
    gtk_grid_attach(GTK_GRID(grid), shown, 1, row, 1, 1);
  }
  gtk_container_add(GTK_CONTAINER(content), grid);
  const std::string advice =
      "Accept it only if you know it to be the server's, for example by its SHA-256 fingerprint. It is then "
      "remembered" +
      (known.Path().empty() ? std::string() : " in " + known.Path()) +
      ", and a different certificate from this server is refused.";
  gtk_container_add(GTK_CONTAINER(content), text(advice, false));
  gtk_widget_show_all(dialog);
  // Not a selectable label: the focus starts on the safe answer.
  gtk_widget_grab_focus(gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL));
  const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  if (response != GTK_RESPONSE_ACCEPT) {
    // Reconnect offers it again: it is still unknown.
    ShowProblem("The certificate of " + ServerName() + " was refused: " + c.problem + ".");
    return;
  }
  if (std::string problem; !known.Remember(ServerName(), c.sha256, problem)) {
    acceptedOnce_ = c.sha256;
    GtkWidget* warning = gtk_message_dialog_new(GTK_WINDOW(top_), GTK_DIALOG_MODAL, GTK_MESSAGE_WARNING, GTK_BUTTONS_OK,
                                                "The certificate is accepted until the viewer ends, but it could "
                                                "not be remembered: %s.",
                                                problem.c_str());
    gtk_dialog_run(GTK_DIALOG(warning));
    gtk_widget_destroy(warning);
  }
  Connect();
}

void ViewerApp::ShowProblem(const std::string& text) {
  std::fprintf(stderr, "telorus-viewer: %s\n", text.c_str());
  gtk_label_set_text(GTK_LABEL(infoText_), text.c_str());
  gtk_widget_show(info_);
  SetStatus(text);
}

void ViewerApp::SetStatus(const std::string& text) {
  gtk_statusbar_remove_all(GTK_STATUSBAR(status_), statusContext_);
  gtk_statusbar_push(GTK_STATUSBAR(status_), statusContext_, text.c_str());
}

void ViewerApp::FitToFrame(int width, int height) {
  if (sized_ || fullScreen_) return;
  sized_ = true;  // the user's later resizing wins over a reconnect
  // The picture is in device pixels; the window is sized in GTK's units.
  const int scale = std::max(1, gtk_widget_get_scale_factor(top_));
  GdkDisplay* display = gtk_widget_get_display(top_);
  GdkMonitor* monitor = gdk_display_get_monitor_at_window(display, gtk_widget_get_window(top_));
  if (!monitor) monitor = gdk_display_get_primary_monitor(display);
  GdkRectangle work{0, 0, width / scale, height / scale};
  if (monitor) gdk_monitor_get_workarea(monitor, &work);
  int statusHeight = 0;
  gtk_widget_get_preferred_height(status_, nullptr, &statusHeight);
  const int w = std::min((width + scale - 1) / scale, work.width);
  const int h = std::min((height + scale - 1) / scale + statusHeight, work.height);
  gtk_window_resize(GTK_WINDOW(top_), w, h);
}

void ViewerApp::SendCtrlAltDel() {
  constexpr std::uint32_t kControl = 0xFFE3, kAlt = 0xFFE9, kDelete = 0xFFFF;
  viewer_.SendKeyEvent(true, kControl);
  viewer_.SendKeyEvent(true, kAlt);
  viewer_.SendKeyEvent(true, kDelete);
  viewer_.SendKeyEvent(false, kDelete);
  viewer_.SendKeyEvent(false, kAlt);
  viewer_.SendKeyEvent(false, kControl);
}

void ViewerApp::ToggleFullScreen() {
  fullScreen_ = !fullScreen_;
  if (fullScreen_) {
    gtk_widget_hide(status_);
    gtk_window_fullscreen(GTK_WINDOW(top_));
  } else {
    gtk_window_unfullscreen(GTK_WINDOW(top_));
    gtk_widget_show(status_);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (int rc = ParseArguments(argc, argv, &options); rc != 0) return rc == 1 ? 0 : rc;
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "telorus-viewer: cannot open the display (is DISPLAY set?)\n");
    return 1;
  }
  if (options.host.empty() && !AskServer(&options)) return 0;
  auto app = std::make_unique<ViewerApp>(options);
  app->Start();
  gtk_main();
  app.reset();
  return 0;
}
