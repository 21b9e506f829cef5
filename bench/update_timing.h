// What the bench clients measure of a viewer: its complete framebuffer
// updates, and the time from the session's start to the end of the last.
#pragma once

#include <chrono>
#include <functional>

#include "viewer/Telorus.h"

namespace telorus::bench {

struct UpdateTiming {
  using Clock = std::chrono::steady_clock;

  // Hooks the viewer's events; `onStart` runs when the session starts.
  void Attach(viewer::TQuarneTelorus& v, std::function<void()> onStart = {}) {
    v.OnConnectClose = [this](TObject*) { closed = true; };
    v.OnUpdateComplete = [this](TObject*) {
      ++frames;
      last = Clock::now();
    };
    v.OnConnected = [this, onStart = std::move(onStart)](TObject*) {
      first = Clock::now();
      started = true;
      if (onStart) onStart();
    };
  }
  // Seconds from the start to the last update (0 when none came).
  double Seconds() const { return started ? std::chrono::duration<double>(last - first).count() : 0.0; }

  int frames = 0;
  bool closed = false;
  bool started = false;
  Clock::time_point first{};
  Clock::time_point last{};
};

}  // namespace telorus::bench
