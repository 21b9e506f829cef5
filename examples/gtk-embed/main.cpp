// A GTK3 window around the Telorus viewer widget: the smallest program that
// embeds Telorus from an installed copy (find_package or pkg-config).
//
//   telorus-gtk-embed HOST [PORT [PASSWORD]] [--exit-after-picture]
//
// With --exit-after-picture it quits once the first picture has arrived,
// printing its size (exit code 0), or prints why the session failed (1).
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/gtk/gtk_viewer.h"
#include "telorus_version.h"
#include "viewer/Telorus.h"

int main(int argc, char** argv) {
  bool exitAfterPicture = false;
  const char* args[3] = {nullptr, "5900", nullptr};
  int given = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--exit-after-picture") == 0) {
      exitAfterPicture = true;
    } else if (given < 3) {
      args[given++] = argv[i];
    }
  }
  if (!args[0]) {
    std::fprintf(stderr, "usage: telorus-gtk-embed HOST [PORT [PASSWORD]] [--exit-after-picture]\n");
    return 2;
  }
  gtk_init(&argc, &argv);

  telorus::platform::gtk::MessageLoopSource loop;  // sockets and timers under gtk_main
  telorus::platform::gtk::ViewerWidget window;
  telorus::platform::gtk::ClipboardText clipboard;
  telorus::platform::gtk::DisplayBell bell;
  telorus::viewer::TQuarneTelorus viewer(window, clipboard, bell);

  GtkWidget* top = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(top), "Telorus " TELORUS_VERSION);
  gtk_window_set_default_size(GTK_WINDOW(top), 800, 600);
  gtk_container_add(GTK_CONTAINER(top), window.Widget());
  g_signal_connect(top, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_widget_show_all(top);

  int status = 0;
  viewer.OnConnectError = [&](telorus::TObject*, const std::string& text) {
    std::fprintf(stderr, "connection failed: %s\n", text.c_str());
    status = 1;
    if (exitAfterPicture) gtk_main_quit();
  };
  viewer.OnUpdateComplete = [&](telorus::TObject*) {
    if (!exitAfterPicture) return;
    std::printf("first picture: %dx%d\n", viewer.RemoteDeskWidth(), viewer.RemoteDeskHeight());
    std::fflush(stdout);
    gtk_main_quit();
  };

  viewer.SetServer(args[0]);
  viewer.SetPort(std::atoi(args[1]));
  if (args[2]) viewer.SetPassword(args[2]);
  viewer.SetFrameUpdateDelay(20);  // an update request every 20 ms
  viewer.SetRequestFreames(true);  // starts the update timer
  viewer.SetTransferWheel(true);
  // One read per socket record, so that GTK paints between reads.
  viewer.Socket().SetComponentOptions(telorus::socket::OptionBit(telorus::socket::wsoNoReceiveLoop));
  viewer.Connect();
  gtk_main();
  viewer.DisConnect();
  return status;
}
