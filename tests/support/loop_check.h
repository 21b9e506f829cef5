// Running the message loop from tests, and the check every loop-based test
// ends with: nothing left registered, queued, open or pending.
#pragma once

#include <chrono>
#include <functional>

#include <gtest/gtest.h>

namespace telorus::test {

// Runs the calling thread's loop until `done` or the timeout; returns done().
bool RunLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Pumps what is pending, then expects no notifiers, queued records, timers,
// registered or open sockets, or pending lookups to remain.
void ExpectLoopClean();

// Whether this Windows executable runs under Wine (which differs from
// Windows in a few documented places that tests skip with the reason).
bool RunningUnderWine();

// A fixture whose TearDown makes that check.
class LoopTest : public ::testing::Test {
 protected:
  void TearDown() override { ExpectLoopClean(); }
};

}  // namespace telorus::test
