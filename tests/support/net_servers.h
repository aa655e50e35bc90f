// Real network peers for tests, started on free loopback ports and stopped
// by their destructors: a scripted HTTP server (python3) that records every
// request, tinyproxy (HTTP CONNECT), dante (SOCKS4 and SOCKS5, with or
// without user name and password), apache2 (Basic and Digest), and a test
// certificate authority made with the openssl tool.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qnet {

// A child process; stopped (SIGTERM, then waited for) by the destructor.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // Starts argv; stdout goes to a pipe when captureStdout, stderr to logFile.
  bool Start(const std::vector<std::string>& argv, bool captureStdout, const std::string& logFile);
  // One line of the child's stdout (blocking); empty at its end.
  std::string ReadLine();
  void Stop();
  // Waits for the child's end; its exit status, or -1.
  int Wait();
  // Whether the child still runs.
  bool Alive();
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

// Whether a peer program is installed: found in PATH or in /usr/sbin or /sbin.
bool PeerInstalled(const std::string& program);

// For a test that needs a real peer: when the peer did not start, the test
// fails if the program is installed (the install script installs every
// peer, so a broken one must not pass unseen) and is skipped only when the
// program is absent.
#define QNET_REQUIRE_PEER(started, program)                                                     \
  do {                                                                                          \
    if (!(started)) {                                                                           \
      if (::qnet::PeerInstalled(program)) FAIL() << (program) << " is installed but did not start"; \
      else GTEST_SKIP() << (program) << " is not installed";                                    \
    }                                                                                           \
  } while (0)

// A fresh folder under the temporary folder, removed by RemoveTree.
std::string MakeTempFolder(const std::string& tag);
void RemoveTree(const std::string& path);
// A loopback port that was free a moment ago.
int FreeLoopbackPort();
// Waits until something accepts connections on the port (it has no other
// way to say it is ready); false after timeoutMs.
// Gives up early when the given process has ended.
bool WaitForListener(int port, int timeoutMs, ChildProcess* process = nullptr);

// The raw bytes a loopback server answers to a plain GET of path (the whole
// stream until it closes).
std::string RawHttpGet(int port, const std::string& path);

// Certificates made at test time: a CA and server certificates it issued.
struct TestCertificates {
  std::string dir;
  std::string caFile;         // the CA certificate (PEM)
  std::string serverCert;     // for localhost and 127.0.0.1
  std::string serverKey;
  std::string expiredCert;    // for localhost, expired
  std::string expiredKey;
  std::string otherNameCert;  // for other.example only
  std::string otherNameKey;
  std::string selfSignedCert; // localhost, issued by nobody we trust
  std::string selfSignedKey;
  bool ok = false;  // the openssl tool made every one of them
  // Made once per process.
  static const TestCertificates& Get();
};

// The scripted HTTP server (see scripted_server.py for the rule format).
class ScriptedServer {
 public:
  ScriptedServer() = default;
  ~ScriptedServer();
  // scriptJson: {"rules": [...]}. With certificates, TLS connections on the
  // same port are served with cert/key.
  bool Start(const std::string& scriptJson, const std::string& cert = "", const std::string& key = "");
  int port() const { return port_; }
  std::string Url(const std::string& path) const;
  // Requests received so far, in order (raw bytes).
  std::vector<std::string> Requests() const;
  // Whether each request came over TLS.
  std::vector<bool> RequestsOverTls() const;

 private:
  ChildProcess process_;
  std::string dir_;
  int port_ = 0;
};

class TinyProxy {
 public:
  ~TinyProxy();
  bool Start();
  int port() const { return port_; }

 private:
  ChildProcess process_;
  std::string dir_;
  int port_ = 0;
};

class DanteServer {
 public:
  ~DanteServer();
  // With a user, SOCKS5 clients must give that user and password; without,
  // SOCKS4 and SOCKS5 clients connect without authentication.
  bool Start(const std::string& user = "", const std::string& password = "");
  int port() const { return port_; }

 private:
  ChildProcess process_;
  std::string dir_;
  int port_ = 0;
};

// apache2 with "/basic/" (Basic) and "/digest/" (Digest with qop "auth",
// the only kind this apache serves), each holding "index.txt".
class ApacheServer {
 public:
  ~ApacheServer();
  bool Start(const std::string& user, const std::string& password);
  int port() const { return port_; }
  static constexpr const char* kBasicRealm = "Quillet Basic";
  static constexpr const char* kDigestRealm = "Quillet Digest";
  static constexpr const char* kBody = "protected content\n";

 private:
  ChildProcess process_;
  std::string dir_;
  int port_ = 0;
};

}  // namespace qnet
