// Real servers on loopback for network tests, started and stopped by the
// test: nginx serving a folder (with a redirect, a 404 page with a body and
// a rate-limited folder) and the scripted server set up for answers no
// ordinary server gives (a body cut short, headers and then silence). They
// build on support/net_servers.h, which also has tinyproxy, the free-port
// and temporary-folder helpers.
#pragma once

#include <string>

#include "support/net_servers.h"

namespace qtest {

class NginxServer {
 public:
  ~NginxServer() { Stop(); }
  // Serves docroot on a free port:
  //   /redirect      302 to /small.txt
  //   /missing...    404 with the body "not here: 404 page"
  //   /slow/...      sent at 16 KB/s after the first 16 KB
  //   /reset/...     the connection closed without an answer
  //   /chunked/...   sent with chunked transfer coding (one chunk for a
  //                  small file: a 26-byte file comes as chunk "1a")
  // Requests are logged to AccessLog() as "<Via header> <request URI>".
  // With tls, the same site is also served over https on a second port,
  // with a self-signed certificate for 127.0.0.1 made by the openssl tool
  // (so no client that verifies certificates accepts it).
  bool Start(const std::string& docroot, bool tls = false);
  void Stop();
  int port() const { return port_; }
  std::string Url(const std::string& path) const;
  std::string TlsUrl(const std::string& path) const;
  std::string AccessLog() const;
  // nginx writes a request's log line after the answer has left: waits (at
  // most timeoutMs) for a line that contains needle, and returns that line.
  std::string WaitForLogLine(const std::string& needle, int timeoutMs = 5000) const;

 private:
  qnet::ChildProcess process_;
  std::string dir_;
  int port_ = 0;
  int tlsPort_ = 0;
};

// The scripted server (qnet::ScriptedServer) with answers no ordinary
// server gives:
//   /truncated   announces 500000 bytes, sends 100000 and closes
//   /silent      sends its headers and then nothing until the client leaves
//   /mute        answers nothing at all until the client leaves
//   /gated/NAME  holds its answer until /open/NAME has been asked for (at
//                most 60 seconds), then sends kGatedPage: a page that comes
//                when the test says so
//   /open/NAME   204, and lets /gated/NAME answer
class ScriptedHttpServer : public qnet::ScriptedServer {
 public:
  static constexpr const char* kGatedPage =
      "<html><body><div class=\"story\"><p>Continued.</p></div></body></html>\n";
  bool Start();
  // Asks for /open/NAME; whether the server answered it.
  bool Open(const std::string& name);
  // Waits (at most timeoutMs) until a GET of exactly this path has arrived.
  bool WaitForRequest(const std::string& path, int timeoutMs = 30000) const;
};

}  // namespace qtest
