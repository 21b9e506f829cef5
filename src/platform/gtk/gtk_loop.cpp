// Our message loop under GLib's: a GSource that polls the loop's wake
// descriptor and its registered sockets, wakes for its next timer, and
// hands out the waiting records when any of them is ready.
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/gtk/gtk_viewer.h"
#include "platform/posix/loop.h"

namespace telorus::platform::gtk {
namespace {

constexpr auto kBudget = std::chrono::milliseconds(4);

struct LoopSource {
  GSource base;
  posix::Loop* loop;
  std::vector<GPollFD>* polls;
  std::vector<pollfd>* scratch;
};

LoopSource* Of(GSource* source) { return reinterpret_cast<LoopSource*>(source); }

gboolean Prepare(GSource* source, gint* timeout) {
  LoopSource* s = Of(source);
  const int wait = s->loop->WaitSet(s->scratch);
  const std::vector<pollfd>& want = *s->scratch;
  std::vector<GPollFD>& polls = *s->polls;
  const bool sameDescriptors =
      polls.size() == want.size() && std::equal(polls.begin(), polls.end(), want.begin(),
                                                [](const GPollFD& p, const pollfd& w) { return p.fd == w.fd; });
  if (sameDescriptors) {
    // GLib reads the events from the records at every poll: changing them
    // in place is enough. Adding or removing a record wakes the context
    // (a write to its wake-up descriptor, and a poll that returns at once),
    // which a stream of bytes would pay at every turn.
    for (std::size_t i = 0; i < want.size(); ++i) {
      polls[i].events = static_cast<gushort>(want[i].events);
      polls[i].revents = 0;
    }
  } else {
    // GLib keeps pointers to the poll records: take the old ones out before
    // the vector that holds them changes.
    for (GPollFD& p : polls) g_source_remove_poll(source, &p);
    polls.clear();
    for (const pollfd& p : want) polls.push_back(GPollFD{p.fd, static_cast<gushort>(p.events), 0});
    for (GPollFD& p : polls) g_source_add_poll(source, &p);
  }
  *timeout = wait;
  return wait == 0;
}

gboolean Check(GSource* source) {
  LoopSource* s = Of(source);
  for (const GPollFD& p : *s->polls)
    if (p.revents != 0) return TRUE;
  // A timer may have come due while GLib polled.
  return s->loop->WaitSet(s->scratch) == 0;
}

// Whether anything is ready for the loop right now, without waiting.
bool Ready(LoopSource* s) {
  if (s->loop->WaitSet(s->scratch) == 0) return true;
  return poll(s->scratch->data(), static_cast<nfds_t>(s->scratch->size()), 0) > 0;
}

gboolean Dispatch(GSource* source, GSourceFunc, gpointer) {
  LoopSource* s = Of(source);
  // Slices follow one another while work is ready, for up to a few
  // milliseconds: a stream that never pauses is read in long runs instead
  // of one read per turn of GLib's loop, and GTK still gets its turn well
  // within every display frame.
  const auto until = std::chrono::steady_clock::now() + kBudget;
  do {
    if (s->loop->PumpSlice()) {
      // A quit record ends GTK's loop as it ends ours.
      if (gtk_main_level() > 0) gtk_main_quit();
      break;
    }
  } while (std::chrono::steady_clock::now() < until && Ready(s));
  return G_SOURCE_CONTINUE;
}

void Finalize(GSource* source) {
  delete Of(source)->polls;
  delete Of(source)->scratch;
}

GSourceFuncs kFuncs = {Prepare, Check, Dispatch, Finalize, nullptr, nullptr};

}  // namespace

MessageLoopSource::MessageLoopSource() {
  source_ = g_source_new(&kFuncs, sizeof(LoopSource));
  LoopSource* s = Of(source_);
  s->loop = &posix::Loop::Current();
  s->polls = new std::vector<GPollFD>;
  s->scratch = new std::vector<pollfd>;
  // Below GTK's input, layout and redraw: however fast the bytes come, the
  // window keeps painting once a frame and taking input.
  g_source_set_priority(source_, GDK_PRIORITY_REDRAW + 10);
  // Sockets and timers keep running inside nested GTK loops started from
  // our own handlers (a modal dialog).
  g_source_set_can_recurse(source_, TRUE);
  g_source_set_name(source_, "telorus message loop");
  g_source_attach(source_, nullptr);
}

MessageLoopSource::~MessageLoopSource() {
  g_source_destroy(source_);
  g_source_unref(source_);
}

}  // namespace telorus::platform::gtk
