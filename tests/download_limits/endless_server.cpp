#include "endless_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace ltest {

namespace {

// At most this many connections are served in one test.
constexpr int kMaxConnections = 64;

bool SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= size_t(n);
  }
  return true;
}

// Waits up to ms for the client to close (or anything to read); true when
// the connection is gone.
bool ClientLeft(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return false;
  char c[256];
  return recv(fd, c, sizeof c, MSG_DONTWAIT) <= 0;
}

std::string EndlessBlock() {
  std::string block;
  while (block.size() < 60000)
    block += "<item><title>Again</title><link>http://127.0.0.1/again</link><description>more and more"
             "</description></item>\n";
  return block;
}

const char kFeedStart[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Endless</title>"
    "<link>http://127.0.0.1/</link><description>d</description>\n";

}  // namespace

bool EndlessServer::Start() {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t length = sizeof a;
  if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener_, 16) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length) != 0 || pipe2(wake_, O_CLOEXEC) != 0) {
    close(listener_);
    listener_ = -1;
    return false;
  }
  port_ = ntohs(a.sin_port);
  acceptor_ = std::thread(&EndlessServer::AcceptLoop, this);
  return true;
}

void EndlessServer::Stop() {
  if (listener_ < 0) return;
  {
    std::lock_guard<std::mutex> g(lock_);
    stopping_ = true;
    for (int fd : open_) shutdown(fd, SHUT_RDWR);
  }
  changed_.notify_all();
  if (write(wake_[1], "x", 1) < 0) {
  }
  acceptor_.join();
  for (auto& w : workers_) w.join();
  workers_.clear();
  close(listener_);
  close(wake_[0]);
  close(wake_[1]);
  listener_ = -1;
}

std::string EndlessServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void EndlessServer::SetFeed(const std::string& body) {
  std::lock_guard<std::mutex> g(lock_);
  feed_ = body;
}

void EndlessServer::SetFeedMode(FeedMode mode) {
  std::lock_guard<std::mutex> g(lock_);
  feedMode_ = mode;
}

std::string RssFeed(const std::string& name, int items) {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>" + name +
                  "</title><link>http://127.0.0.1/</link><description>d</description>\n";
  for (int i = items; i >= 1; --i)
    s += "<item><title>" + name + " story " + std::to_string(i) + "</title><link>http://127.0.0.1/" + name + "/" +
         std::to_string(i) + ".html</link><description>Text " + std::to_string(i) + "</description></item>\n";
  return s + "</channel></rss>\n";
}

bool EndlessServer::WaitForEnded(int count, int timeoutMs) {
  std::unique_lock<std::mutex> g(lock_);
  return changed_.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return ended_ >= count; });
}

int EndlessServer::Ended() const {
  std::lock_guard<std::mutex> g(lock_);
  return ended_;
}

uint64_t EndlessServer::BodyBytesSent() const {
  std::lock_guard<std::mutex> g(lock_);
  return sent_;
}

void EndlessServer::AcceptLoop() {
  for (;;) {
    pollfd p[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(p, 2, -1) < 0) continue;
    if (p[1].revents) return;
    int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> g(lock_);
    if (stopping_ || int(workers_.size()) >= kMaxConnections) {
      close(fd);
      continue;
    }
    open_.push_back(fd);
    workers_.emplace_back(&EndlessServer::Serve, this, fd);
  }
}

void EndlessServer::Serve(int fd) {
  std::string request;
  char buffer[4096];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) break;
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    request.append(buffer, size_t(n));
  }
  size_t start = request.find(' ') + 1, end = request.find(' ', start);
  std::string path = start > 0 && end != std::string::npos ? request.substr(start, end - start) : "";
  auto stopping = [this] {
    std::lock_guard<std::mutex> g(lock_);
    return stopping_;
  };
  auto count = [this](size_t n) {
    std::lock_guard<std::mutex> g(lock_);
    sent_ += n;
  };
  bool endless = path.rfind("/endless", 0) == 0 || path.rfind("/announced", 0) == 0;
  bool drip = path.rfind("/drip", 0) == 0;
  std::string fixed;
  bool haveFixed = false;
  if (path.rfind("/feed", 0) == 0) {
    std::lock_guard<std::mutex> g(lock_);
    endless = feedMode_ == FeedMode::kEndless;
    drip = feedMode_ == FeedMode::kDrip;
    fixed = feed_;
    haveFixed = feedMode_ == FeedMode::kWhole;
  }
  if (path.rfind("/sized/", 0) == 0) {
    fixed.assign(size_t(std::stoull(path.substr(7))), 'x');
    haveFixed = true;
  }
  if (haveFixed) {
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(fixed.size()) +
                       "\r\nConnection: close\r\n\r\n";
    if (SendAll(fd, head.data(), head.size()) && SendAll(fd, fixed.data(), fixed.size())) count(fixed.size());
    shutdown(fd, SHUT_WR);
    ClientLeft(fd, 10000);
  } else if (endless) {
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n";
    if (path.rfind("/announced", 0) == 0) head += "Content-Length: 1073741824\r\n";
    head += "Connection: close\r\n\r\n";
    head += kFeedStart;
    const std::string block = EndlessBlock();
    bool ok = SendAll(fd, head.data(), head.size());
    while (ok && !stopping()) {
      ok = SendAll(fd, block.data(), block.size());
      if (ok) count(block.size());
    }
  } else if (path.rfind("/chunked", 0) == 0) {
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nTransfer-Encoding: chunked\r\n"
                       "Connection: close\r\n\r\n";
    const std::string block = EndlessBlock();
    char size[32];
    snprintf(size, sizeof size, "%zx\r\n", block.size());
    std::string chunk = size + block + "\r\n";
    bool ok = SendAll(fd, head.data(), head.size());
    while (ok && !stopping()) {
      ok = SendAll(fd, chunk.data(), chunk.size());
      if (ok) count(block.size());
    }
  } else if (drip) {
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n\r\n";
    bool ok = SendAll(fd, head.data(), head.size()) && SendAll(fd, kFeedStart, sizeof kFeedStart - 1);
    // The server's pace, not a wait for the client: a few bytes, then up to
    // 100 ms in which the client may leave.
    while (ok && !stopping()) {
      ok = SendAll(fd, "<!-- drip.. -->\n", 16);
      if (ok) count(16);
      if (ok && ClientLeft(fd, 100)) break;
    }
  } else {
    const char notFound[] = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    SendAll(fd, notFound, sizeof notFound - 1);
    shutdown(fd, SHUT_WR);
    ClientLeft(fd, 10000);
  }
  std::lock_guard<std::mutex> g(lock_);
  open_.erase(std::find(open_.begin(), open_.end(), fd));
  close(fd);
  ++ended_;
  changed_.notify_all();
}

}  // namespace ltest
