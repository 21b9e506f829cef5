// A loopback server that plays the server side of a conversation from a
// script, on its own thread, and records every byte the client sends.
//
// Steps run in order after one client connects: Send (split into chunks by
// the chunking mode, with a short pause after each chunk so they arrive as
// separate reads), Expect (wait until the client has sent n more bytes),
// Pause, and Close or Reset. Used to play RFB servers and proxies exactly,
// including the byte-by-byte and random splits real networks produce.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace telorus::test {

enum class Chunking { Whole, ByteByByte, Random };
const char* ChunkingName(Chunking c);

class ScriptedServer {
 public:
  explicit ScriptedServer(Chunking chunking = Chunking::Whole, std::uint32_t seed = 1);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  std::uint16_t Port() const { return port_; }

  ScriptedServer& Send(std::string bytes);
  ScriptedServer& Expect(std::size_t count);
  ScriptedServer& Pause(std::chrono::milliseconds ms);
  ScriptedServer& Close();  // orderly close
  ScriptedServer& Reset();  // abortive close
  // Any other action, run on the server thread.
  ScriptedServer& Do(std::function<void()> action);

  // Starts the server thread: it accepts one client and runs the script.
  void Start();
  // Waits until the script has run to its end (or failed). False on timeout.
  bool WaitDone(std::chrono::milliseconds timeout = std::chrono::seconds(10));

  std::string Received();
  // A script step that could not run (client gone, timeout), or empty.
  std::string Failure();

 private:
  struct Step {
    enum Kind { kSend, kExpect, kPause, kClose, kReset, kDo } kind;
    std::string bytes;
    std::size_t count = 0;
    std::chrono::milliseconds pause{0};
    std::function<void()> action;
  };
  void Run();
  void SendChunked(const std::string& bytes);
  void Fail(const std::string& why);

  Chunking chunking_;
  std::uint32_t seed_;
  int listenFd_ = -1;
  // Written by the server thread when the client connects, read by the
  // destructor to shut the connection down under it.
  std::atomic<int> clientFd_{-1};
  std::uint16_t port_ = 0;
  std::vector<Step> steps_;
  std::thread thread_;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string received_;
  std::string failure_;
  bool done_ = false;
  bool clientClosed_ = false;
};

}  // namespace telorus::test
