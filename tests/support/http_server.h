// Real servers on loopback for network tests, started and stopped by the
// test: nginx serving a folder (with a redirect, a 404 page with a body and
// a rate-limited folder), tinyproxy as an HTTP proxy, and a small scripted
// server for answers no ordinary server gives (a body cut short, headers
// and then silence).
#pragma once

#include <sys/types.h>

#include <string>

namespace qtest {

// A child process started with posix_spawn and ended (SIGTERM, then
// SIGKILL) by Stop or the destructor.
class ServerProcess {
 public:
  ~ServerProcess() { Stop(); }
  bool Spawn(const std::string& program, const std::initializer_list<std::string>& args, int* stdoutFd = nullptr);
  void Stop();
  pid_t pid() const { return pid_; }
  // For a process the caller has waited for itself.
  void Forget() { pid_ = 0; }

 private:
  pid_t pid_ = 0;
};

// A free TCP port on 127.0.0.1 (bound and released; the server takes it next).
int FreeLoopbackPort();
// Waits (at most timeoutMs) until 127.0.0.1:port accepts a connection.
bool WaitForPort(int port, int timeoutMs);
// Creates a folder under the system's temporary folder.
std::string MakeTempFolder(const char* prefix);

class NginxServer {
 public:
  ~NginxServer() { Stop(); }
  // Serves docroot on a free port:
  //   /redirect      302 to /small.txt
  //   /missing...    404 with the body "not here: 404 page"
  //   /slow/...      sent at 16 KB/s after the first 16 KB
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
  ServerProcess process_;
  std::string dir_;
  int port_ = 0;
  int tlsPort_ = 0;
};

class TinyProxy {
 public:
  ~TinyProxy() { Stop(); }
  bool Start();
  void Stop();
  int port() const { return port_; }

 private:
  ServerProcess process_;
  std::string dir_;
  int port_ = 0;
};

// A python3 server:
//   /truncated   announces 500000 bytes, sends 100000 and closes
//   /silent      sends its headers and then nothing until the client leaves
//   /mute        answers nothing at all until the client leaves
class ScriptedHttpServer {
 public:
  ~ScriptedHttpServer() { Stop(); }
  bool Start();
  void Stop();
  int port() const { return port_; }
  std::string Url(const std::string& path) const;

 private:
  ServerProcess process_;
  std::string dir_;
  int port_ = 0;
};

}  // namespace qtest
