// Real network peers for tests.
#include "support/net_servers.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "support/device_fixture.h"

extern char** environ;

namespace qnet {
namespace {

std::string SupportDir() {
#ifdef QUILLET_TEST_SUPPORT_DIR
  // The source name may be relative to the build folder (a compiler cache
  // rewrites it), which is not where the tests run.
  return QUILLET_TEST_SUPPORT_DIR;
#else
  std::string f = __FILE__;
  size_t slash = f.rfind('/');
  return slash == std::string::npos ? std::string(".") : f.substr(0, slash);
#endif
}

bool Run(const std::vector<std::string>& argv, const std::string& logFile) {
  ChildProcess p;
  if (!p.Start(argv, false, logFile)) return false;
  return p.Wait() == 0;
}

}  // namespace

namespace {
void OnWatchdogSignal(int) {}

// How long a stopped peer may take to end before it is killed.
constexpr unsigned kPeerStopGraceSeconds = 5;

// The executable a program name stands for: itself when it holds a "/",
// else the first match along PATH and the system folders.
std::string ResolveProgram(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  std::string dirs = getenv("PATH") ? getenv("PATH") : "";
  dirs += ":/usr/sbin:/sbin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t colon = dirs.find(':', start);
    if (colon == std::string::npos) colon = dirs.size();
    std::string dir = dirs.substr(start, colon - start);
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return dir + "/" + program;
    start = colon + 1;
  }
  return std::string();
}
}  // namespace

bool ChildProcess::Start(const std::vector<std::string>& argv, bool captureStdout, const std::string& logFile) {
  if (argv.empty()) return false;
  std::string path = ResolveProgram(argv[0]);
  if (path.empty()) return false;
  int pipeFds[2] = {-1, -1};
  if (captureStdout && pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int out = captureStdout ? pipeFds[1] : open("/dev/null", O_WRONLY | O_CLOEXEC);
  int err = open(logFile.empty() ? "/dev/null" : logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t parent = getpid();
  pid_ = (in >= 0 && out >= 0 && err >= 0) ? fork() : -1;
  if (pid_ == 0) {
    // A watchdog stands between the test program and the peer: it ends
    // with the test program, even when that program crashes or is killed
    // (the parent-death signal; it comes when the thread that started the
    // child ends, and tests start their servers on their own thread), and
    // then stops the peer. The peer cannot carry that signal itself: it is
    // dropped when a server gives up its privileges.
    struct sigaction term {};
    term.sa_handler = OnWatchdogSignal;
    sigemptyset(&term.sa_mask);
    sigaction(SIGTERM, &term, nullptr);
    sigaction(SIGALRM, &term, nullptr);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // The watchdog never runs a new program, so descriptors marked
    // close-on-exec stay open in it: it keeps only its standard three, or a
    // connection the test closes would stay open here.
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (close_range(3, ~0u, 0) != 0) {
      for (int fd = 3; fd < 65536; ++fd) close(fd);
    }
    pid_t peer = fork();
    if (peer == 0) {
      execve(path.c_str(), args.data(), environ);
      _exit(127);
    }
    if (peer < 0) _exit(127);
    close(1);  // the peer alone holds the write end of a stdout pipe
    int status = 0;
    bool stopping = false;
    for (;;) {
      if (waitpid(peer, &status, 0) == peer) break;
      if (errno != EINTR) _exit(127);
      if (!stopping) {
        // A threaded peer may take the stop signal on a thread that serves
        // a connection while its main thread keeps waiting for the next one
        // (tinyproxy does, while a client keeps a connection open): a peer
        // still there after the grace period is killed.
        kill(peer, SIGTERM);
        stopping = true;
        alarm(kPeerStopGraceSeconds);
      } else {
        kill(peer, SIGKILL);
      }
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0));
  }
  if (in >= 0) close(in);
  if (err >= 0) close(err);
  if (captureStdout) {
    close(pipeFds[1]);
    if (pid_ > 0) out_ = pipeFds[0];
    else close(pipeFds[0]);
  } else if (out >= 0) {
    close(out);
  }
  if (pid_ < 0) {
    pid_ = -1;
    return false;
  }
  return true;
}

bool PeerInstalled(const std::string& program) { return !ResolveProgram(program).empty(); }

std::string ChildProcess::ReadLine() {
  std::string line;
  char c;
  while (out_ >= 0) {
    ssize_t n = read(out_, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n') break;
    line += c;
  }
  return line;
}

int ChildProcess::Wait() {
  if (pid_ <= 0) return -1;
  int status = 0;
  pid_t rc;
  while ((rc = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  if (rc < 0 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

void ChildProcess::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
  if (out_ >= 0) close(out_);
  out_ = -1;
}

std::string MakeTempFolder(const std::string& tag) {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillet-" + tag + "-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) return std::string();
  chmod(buf.data(), 0755);  // servers dropping privileges read their files
  return buf.data();
}

void RemoveTree(const std::string& path) {
  if (path.empty() || getenv("QUILLET_KEEP_TEST_ROOT")) return;
  DIR* d = opendir(path.c_str());
  if (d) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      std::string full = path + "/" + name;
      struct stat st;
      if (lstat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) RemoveTree(full);
      else unlink(full.c_str());
    }
    closedir(d);
  }
  rmdir(path.c_str());
}

int FreeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = 0;
  socklen_t len = sizeof sa;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
    port = ntohs(sa.sin_port);
  close(fd);
  return port;
}

bool ChildProcess::Alive() {
  if (pid_ <= 0) return false;
  int status;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

bool WaitForListener(int port, int timeoutMs, ChildProcess* process) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (process && !process->Alive()) return false;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(uint16_t(port));
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    close(fd);
    if (ok) return true;
    // Nothing to wait on but the port itself: try again shortly.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::string RawHttpGet(int port, const std::string& path) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(uint16_t(port));
  timeval tv{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::string out;
  if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
    std::string req = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    char buf[65536];
    ssize_t n;
    while ((n = recv(fd, buf, sizeof buf, 0)) > 0) out.append(buf, size_t(n));
  }
  close(fd);
  return out;
}

// Certificates.

const TestCertificates& TestCertificates::Get() {
  static TestCertificates certs;
  static std::once_flag once;
  std::call_once(once, [] {
    TestCertificates c;
    c.dir = MakeTempFolder("certs");
    const std::string& d = c.dir;
    std::string log = d + "/openssl.log";
    bool ok = !d.empty();
    auto ext = [&](const std::string& name, const std::string& san) {
      qtest::WriteHostFile(d + "/" + name + ".ext", "basicConstraints=CA:FALSE\nsubjectAltName=" + san + "\n");
      return d + "/" + name + ".ext";
    };
    ok = Run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", d + "/ca.key", "-out",
              d + "/ca.pem", "-days", "3", "-subj", "/CN=Quillet Test CA"},
             log) && ok;
    qtest::WriteHostFile(d + "/ca.cnf",
              "[ca]\ndefault_ca=d\n[d]\ndatabase=" + d + "/index.txt\nnew_certs_dir=" + d +
                  "\nserial=" + d + "/serial\ndefault_md=sha256\nunique_subject=no\npolicy=p\n[p]\ncommonName=supplied\n");
    qtest::WriteHostFile(d + "/index.txt", "");
    qtest::WriteHostFile(d + "/serial", "1000\n");
    auto issue = [&](const std::string& name, const std::string& cn, const std::string& san, const char* start,
                     const char* end) {
      ok = Run({"openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", d + "/" + name + ".key", "-out",
                d + "/" + name + ".csr", "-subj", "/CN=" + cn},
               log) && ok;
      ok = Run({"openssl", "ca", "-batch", "-notext", "-config", d + "/ca.cnf", "-cert", d + "/ca.pem", "-keyfile",
           d + "/ca.key", "-in", d + "/" + name + ".csr", "-out", d + "/" + name + ".pem", "-startdate", start,
           "-enddate", end, "-extfile", ext(name, san)},
          log) && ok;
    };
    issue("server", "localhost", "DNS:localhost,IP:127.0.0.1", "20240101000000Z", "20991231000000Z");
    issue("expired", "localhost", "DNS:localhost,IP:127.0.0.1", "20200101000000Z", "20200102000000Z");
    issue("other", "other.example", "DNS:other.example", "20240101000000Z", "20991231000000Z");
    ok = Run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", d + "/self.key", "-out",
              d + "/self.pem", "-days", "3", "-subj", "/CN=localhost", "-addext",
              "subjectAltName=DNS:localhost,IP:127.0.0.1"},
             log) && ok;
    c.caFile = d + "/ca.pem";
    c.serverCert = d + "/server.pem";
    c.serverKey = d + "/server.key";
    c.expiredCert = d + "/expired.pem";
    c.expiredKey = d + "/expired.key";
    c.otherNameCert = d + "/other.pem";
    c.otherNameKey = d + "/other.key";
    c.selfSignedCert = d + "/self.pem";
    c.selfSignedKey = d + "/self.key";
    c.ok = ok;
    certs = c;
    std::atexit([] { RemoveTree(certs.dir); });
  });
  return certs;
}

// Scripted server.

ScriptedServer::~ScriptedServer() {
  process_.Stop();
  RemoveTree(dir_);
}

bool ScriptedServer::Start(const std::string& scriptJson, const std::string& cert, const std::string& key) {
  dir_ = MakeTempFolder("scripted");
  qtest::WriteHostFile(dir_ + "/script.json", scriptJson);
  mkdir((dir_ + "/log").c_str(), 0755);
  std::vector<std::string> argv = {"/usr/bin/python3", SupportDir() + "/scripted_server.py", "--script",
                                   dir_ + "/script.json", "--log-dir", dir_ + "/log"};
  if (!cert.empty()) {
    argv.insert(argv.end(), {"--cert", cert, "--key", key});
  }
  if (!process_.Start(argv, true, dir_ + "/server.log")) return false;
  port_ = atoi(process_.ReadLine().c_str());
  return port_ > 0;
}

std::string ScriptedServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

namespace {
std::vector<std::string> RequestFiles(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (!d) return names;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n.rfind("req-", 0) == 0 && n.size() > 4 && n.substr(n.size() - 4) == ".bin") names.push_back(n);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}
}  // namespace

std::vector<std::string> ScriptedServer::Requests() const {
  std::vector<std::string> out;
  for (const std::string& n : RequestFiles(dir_ + "/log")) out.push_back(qtest::ReadHostFile(dir_ + "/log/" + n));
  return out;
}

std::vector<bool> ScriptedServer::RequestsOverTls() const {
  std::vector<bool> out;
  for (const std::string& n : RequestFiles(dir_ + "/log")) out.push_back(n.find("-tls") != std::string::npos);
  return out;
}

// tinyproxy.

TinyProxy::~TinyProxy() {
  process_.Stop();
  RemoveTree(dir_);
}

bool TinyProxy::Start() {
  dir_ = MakeTempFolder("tinyproxy");
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = FreeLoopbackPort();
    qtest::WriteHostFile(dir_ + "/tinyproxy.conf", "Port " + std::to_string(port_) +
                                            "\nListen 127.0.0.1\nTimeout 60\nMaxClients 64\n"
                                            "Allow 127.0.0.1\nLogLevel Error\nUser nobody\nGroup nogroup\n");
    if (!process_.Start({"tinyproxy", "-d", "-c", dir_ + "/tinyproxy.conf"}, false, dir_ + "/tinyproxy.log"))
      return false;
    if (WaitForListener(port_, 5000, &process_)) return true;
    process_.Stop();
  }
  return false;
}

// dante.

DanteServer::~DanteServer() {
  process_.Stop();
  RemoveTree(dir_);
}

bool DanteServer::Start(const std::string& user, const std::string& password) {
  dir_ = MakeTempFolder("dante");
  bool auth = !user.empty();
  std::string prefix;
  if (auth) {
    // The user exists only for dante: a private copy of the account files
    // is mounted over the system's in a mount namespace of its own.
    std::string passwd = qtest::ReadHostFile("/etc/passwd") + user + ":x:4242:4242::/nonexistent:/usr/sbin/nologin\n";
    qtest::WriteHostFile(dir_ + "/passwd", passwd);
    std::string hashLog = dir_ + "/hash.txt";
    ChildProcess hash;
    if (!hash.Start({"openssl", "passwd", "-6", password}, true, "")) return false;
    std::string hashed = hash.ReadLine();
    hash.Stop();
    qtest::WriteHostFile(dir_ + "/shadow", qtest::ReadHostFile("/etc/shadow") + user + ":" + hashed + ":19000:0:99999:7:::\n");
    chmod((dir_ + "/shadow").c_str(), 0600);
  }
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = FreeLoopbackPort();
    qtest::WriteHostFile(dir_ + "/danted.conf",
              "logoutput: stderr\ninternal: 127.0.0.1 port = " + std::to_string(port_) +
                  "\nexternal: 127.0.0.1\nsocksmethod: " + (auth ? "username" : "none") +
                  "\nclientmethod: none\nuser.privileged: root\nuser.unprivileged: nobody\n"
                  "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                  "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 protocol: tcp }\n");
    std::vector<std::string> argv;
    if (auth) {
      argv = {"unshare", "-m", "sh", "-c",
              "mount --bind '" + dir_ + "/passwd' /etc/passwd && mount --bind '" + dir_ +
                  "/shadow' /etc/shadow && exec danted -f '" + dir_ + "/danted.conf'"};
    } else {
      argv = {"danted", "-f", dir_ + "/danted.conf"};
    }
    if (!process_.Start(argv, false, dir_ + "/danted.log")) return false;
    if (WaitForListener(port_, 5000, &process_)) return true;
    process_.Stop();
  }
  return false;
}

// apache2.

ApacheServer::~ApacheServer() {
  process_.Stop();
  RemoveTree(dir_);
}

bool ApacheServer::Start(const std::string& user, const std::string& password) {
  dir_ = MakeTempFolder("apache");
  const std::string m = "/usr/lib/apache2/modules/";
  for (const char* area : {"basic", "digest"}) {
    mkdir((dir_ + "/docs/").c_str(), 0755);
    mkdir((dir_ + "/docs/" + area).c_str(), 0755);
    qtest::WriteHostFile(dir_ + "/docs/" + area + "/index.txt", kBody);
  }
  // Password files: SHA-1 for Basic, MD5 of user:realm:password for Digest.
  ChildProcess sha;
  sha.Start({"/usr/bin/python3", "-c",
             "import base64,hashlib,sys;print('{SHA}'+base64.b64encode(hashlib.sha1(sys.argv[1].encode())"
             ".digest()).decode());print(hashlib.md5(sys.argv[2].encode()).hexdigest())",
             password, user + ":" + kDigestRealm + ":" + password},
            true, "");
  std::string shaLine = sha.ReadLine();
  std::string md5Line = sha.ReadLine();
  sha.Stop();
  qtest::WriteHostFile(dir_ + "/htpasswd", user + ":" + shaLine + "\n");
  qtest::WriteHostFile(dir_ + "/htdigest", user + ":" + kDigestRealm + ":" + md5Line + "\n");
  chmod((dir_ + "/htpasswd").c_str(), 0644);
  chmod((dir_ + "/htdigest").c_str(), 0644);
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = FreeLoopbackPort();
    std::string conf =
        "ServerRoot " + dir_ + "\nServerName 127.0.0.1\nListen 127.0.0.1:" + std::to_string(port_) +
        "\nPidFile " + dir_ + "/apache.pid\nDefaultRuntimeDir " + dir_ + "\nErrorLog " + dir_ +
        "/error.log\nLogLevel warn\nUser www-data\nGroup www-data\n"
        "LoadModule mpm_event_module " + m + "mod_mpm_event.so\n"
        "LoadModule authz_core_module " + m + "mod_authz_core.so\n"
        "LoadModule authz_user_module " + m + "mod_authz_user.so\n"
        "LoadModule authn_core_module " + m + "mod_authn_core.so\n"
        "LoadModule authn_file_module " + m + "mod_authn_file.so\n"
        "LoadModule auth_basic_module " + m + "mod_auth_basic.so\n"
        "LoadModule auth_digest_module " + m + "mod_auth_digest.so\n"
        "DocumentRoot " + dir_ + "/docs\n"
        "<Directory " + dir_ + "/docs>\n  Require all granted\n</Directory>\n"
        "<Location /basic/>\n  AuthType Basic\n  AuthName \"" + kBasicRealm + "\"\n  AuthBasicProvider file\n"
        "  AuthUserFile " + dir_ + "/htpasswd\n  Require valid-user\n</Location>\n"
        "<Location /digest/>\n  AuthType Digest\n  AuthName \"" + kDigestRealm + "\"\n  AuthDigestDomain /digest/\n"
        "  AuthDigestProvider file\n  AuthUserFile " + dir_ + "/htdigest\n  Require valid-user\n</Location>\n"
        "";
    qtest::WriteHostFile(dir_ + "/apache2.conf", conf);
    if (!process_.Start({"apache2", "-f", dir_ + "/apache2.conf", "-DFOREGROUND"}, false, dir_ + "/stderr.log"))
      return false;
    if (WaitForListener(port_, 10000, &process_)) return true;
    process_.Stop();
  }
  return false;
}

}  // namespace qnet
