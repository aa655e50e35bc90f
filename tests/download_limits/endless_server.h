// A loopback HTTP server whose answers do not end the way a server's should:
// bodies that never stop, bodies that drip a few bytes at a time, bodies of
// an exact size to find where a bound lies, and an ordinary feed the test
// can swap for an endless one. Each connection is served on a thread of its
// own; the server ends every one of them when it stops.
//
//   /endless...   200, no length, a feed's start and then items without end
//   /chunked...   the same in chunks, never the last one
//   /drip...      200, no length, 16 bytes every 100 ms, never the end
//   /announced... 200 announcing a length of 1 GB, then the endless body
//   /sized/N      200 with exactly N bytes ('x') and their length
//   /feed...      the test's feed (SetFeed), or the endless or the dripping
//                 body as SetFeedMode says
// Anything else is a 404.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ltest {

// An RSS 2.0 feed of the items 1..items (newest first), each linked to
// "http://127.0.0.1/<name>/<n>.html".
std::string RssFeed(const std::string& name, int items);

class EndlessServer {
 public:
  EndlessServer() = default;
  ~EndlessServer() { Stop(); }
  EndlessServer(const EndlessServer&) = delete;
  EndlessServer& operator=(const EndlessServer&) = delete;

  bool Start();
  void Stop();
  int port() const { return port_; }
  std::string Url(const std::string& path) const;

  enum class FeedMode { kWhole, kEndless, kDrip };
  void SetFeed(const std::string& body);
  void SetFeedMode(FeedMode mode);

  // Connections whose answer has ended: the client left (or the body was
  // whole). Waits at most timeoutMs for count of them.
  bool WaitForEnded(int count, int timeoutMs);
  int Ended() const;
  // The body bytes sent on all connections so far.
  uint64_t BodyBytesSent() const;

 private:
  void AcceptLoop();
  void Serve(int fd);

  int listener_ = -1;
  int wake_[2] = {-1, -1};
  int port_ = 0;
  std::thread acceptor_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::thread> workers_;
  std::vector<int> open_;
  bool stopping_ = false;
  int ended_ = 0;
  uint64_t sent_ = 0;
  std::string feed_;
  FeedMode feedMode_ = FeedMode::kWhole;
};

}  // namespace ltest
