// The message loop: arrival order, nesting, timers, quit and posts from
// other threads. Records use message numbers from kUserMessage up: the ones
// below belong to the windowing system.
#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/message_loop.h"
#include "support/loop_check.h"

namespace telorus::platform {
namespace {

using test::LoopTest;
using namespace std::chrono_literals;

class MessageLoopTest : public LoopTest {};

TEST_F(MessageLoopTest, DeliversRecordsInArrivalOrderAcrossReceivers) {
  std::vector<std::string> seen;
  Notifier a([&](const Message& m) { seen.push_back("a" + std::to_string(m.msg) + ":" + std::to_string(m.wParam)); });
  Notifier b([&](const Message& m) { seen.push_back("b" + std::to_string(m.msg) + ":" + std::to_string(m.lParam)); });
  a.Post(1025, 1, 0);
  b.Post(1026, 0, -7);
  a.Post(1028, 2, 0);
  EXPECT_TRUE(seen.empty()) << "posting must not deliver";
  EXPECT_FALSE(PumpPending());
  EXPECT_EQ(seen, (std::vector<std::string>{"a1025:1", "b1026:-7", "a1028:2"}));
}

TEST_F(MessageLoopTest, NestedPumpsDeliverEachRecordOnceAndKeepOrder) {
  std::vector<int> seen;
  int depth = 0, maxDepth = 0;
  Notifier* self = nullptr;
  Notifier n([&](const Message& m) {
    ++depth;
    maxDepth = std::max(maxDepth, depth);
    seen.push_back(static_cast<int>(m.wParam));
    if (m.wParam < 5) {
      self->Post(kUserMessage + 1, m.wParam + 1, 0);
      PumpPending();  // pumping from inside a handler, deeper each time
    }
    --depth;
  });
  self = &n;
  n.Post(kUserMessage + 1, 0, 0);
  n.Post(kUserMessage + 1, 100, 0);
  PumpPending();
  EXPECT_EQ(seen, (std::vector<int>{0, 100, 1, 2, 3, 4, 5}));
  EXPECT_GE(maxDepth, 3);
}

TEST_F(MessageLoopTest, DestroyedReceiverGetsNothingAndMaySelfDestructInHandler) {
  int calls = 0;
  std::unique_ptr<Notifier> owned;
  owned = std::make_unique<Notifier>([&](const Message&) {
    ++calls;
    owned.reset();  // the receiver ends inside its own handler
  });
  owned->Post(kUserMessage + 1, 0, 0);
  owned->Post(kUserMessage + 2, 0, 0);
  WindowId id = owned->Id();
  PumpPending();
  EXPECT_EQ(calls, 1) << "the second record was for a receiver that is gone";
  EXPECT_FALSE(PostTo(id, kUserMessage + 3, 0, 0));
}

TEST_F(MessageLoopTest, TimersTickPeriodicallyWithoutPilingUpAndStopWhenKilled) {
  int ticks = 0;
  std::uintptr_t lastId = 0;
  Notifier n([&](const Message& m) {
    if (m.msg == kTimerMessage) {
      ++ticks;
      lastId = m.wParam;
    }
  });
  n.SetTimer(7, 10);
  EXPECT_TRUE(RunUntil([&] { return ticks >= 3; }, 2s));
  EXPECT_EQ(lastId, 7u);
  // A slow consumer gets one outstanding tick, not a backlog.
  std::this_thread::sleep_for(80ms);
  int before = ticks;
  PumpPending();
  EXPECT_EQ(ticks, before + 1);
  n.KillTimer(7);
  std::this_thread::sleep_for(30ms);
  before = ticks;
  PumpPending();
  EXPECT_EQ(ticks, before);
}

TEST_F(MessageLoopTest, QuitIsTakenOffTheQueueNotDispatched) {
  int calls = 0;
  Notifier n([&](const Message&) { ++calls; });
  n.Post(kUserMessage + 1, 0, 0);
  PostQuit();
  n.Post(kUserMessage + 2, 0, 0);
  EXPECT_TRUE(PumpPending());
  EXPECT_EQ(calls, 2);
  EXPECT_FALSE(PumpPending());

  bool quit = false;
  PostQuit();
  EXPECT_FALSE(RunUntil([] { return false; }, 2s, &quit));
  EXPECT_TRUE(quit);
}

TEST_F(MessageLoopTest, PostsFromOtherThreadsWakeTheLoopAndArriveOnTheOwningThread) {
  std::atomic<int> got{0};
  std::thread::id owner = std::this_thread::get_id();
  bool wrongThread = false;
  Notifier n([&](const Message&) {
    wrongThread = wrongThread || std::this_thread::get_id() != owner;
    ++got;
  });
  WindowId id = n.Id();
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t)
    posters.emplace_back([id] {
      for (int i = 0; i < 250; ++i) PostTo(id, kUserMessage + 1, static_cast<std::uintptr_t>(i), 0);
    });
  EXPECT_TRUE(RunUntil([&] { return got == 1000; }, 5s));
  for (auto& t : posters) t.join();
  EXPECT_FALSE(wrongThread);
}

TEST_F(MessageLoopTest, RunUntilTimesOutWhenNothingHappens) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(RunUntil([] { return false; }, 50ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 45ms);
}

}  // namespace
}  // namespace telorus::platform
