#include "support/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace qtest {

bool ServerProcess::Spawn(const std::string& program, const std::initializer_list<std::string>& args, int* stdoutFd) {
  std::vector<std::string> store{program};
  store.insert(store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : store) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int pipeFds[2] = {-1, -1};
  if (stdoutFd) {
    if (pipe(pipeFds) != 0) return false;
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  }
  int rc = posix_spawnp(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (stdoutFd) {
    close(pipeFds[1]);
    *stdoutFd = pipeFds[0];
  }
  if (rc != 0) pid_ = 0;
  return rc == 0;
}

void ServerProcess::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = 0;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = 0;
}

int FreeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  int port = ntohs(addr.sin_port);
  close(fd);
  return port;
}

bool WaitForPort(int port, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

std::string MakeTempFolder(const char* prefix) {
  std::string tmpl = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
  if (!mkdtemp(tmpl.data())) return std::string();
  return tmpl;
}

namespace {
void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}
std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}
}  // namespace

bool NginxServer::Start(const std::string& docroot, bool tls) {
  dir_ = MakeTempFolder("quillet-nginx");
  if (dir_.empty()) return false;
  std::filesystem::create_directories(dir_ + "/tmp");
  port_ = FreeLoopbackPort();
  if (tls) {
    ServerProcess openssl;
    if (!openssl.Spawn("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-days",
                                   "2", "-keyout", dir_ + "/key.pem", "-out", dir_ + "/cert.pem"}))
      return false;
    int status = 0;
    waitpid(openssl.pid(), &status, 0);
    openssl.Forget();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
    tlsPort_ = FreeLoopbackPort();
  }
  WriteText(dir_ + "/404.html", "not here: 404 page\n");
  std::ostringstream conf;
  conf << "worker_processes 1;\n"
       << "daemon off;\n"
       << "error_log " << dir_ << "/error.log;\n"
       << "pid " << dir_ << "/nginx.pid;\n"
       << (geteuid() == 0 ? "user root;\n" : "")
       << "events { worker_connections 64; }\n"
       << "http {\n"
       << "  log_format via '$http_via $request_uri';\n"
       << "  access_log " << dir_ << "/access.log via;\n"
       << "  client_body_temp_path " << dir_ << "/tmp/body;\n"
       << "  proxy_temp_path " << dir_ << "/tmp/proxy;\n"
       << "  fastcgi_temp_path " << dir_ << "/tmp/fastcgi;\n"
       << "  uwsgi_temp_path " << dir_ << "/tmp/uwsgi;\n"
       << "  scgi_temp_path " << dir_ << "/tmp/scgi;\n"
       << "  types { text/plain txt; application/octet-stream bin; }\n"
       << "  server {\n"
       << "    listen 127.0.0.1:" << port_ << ";\n"
       << (tls ? "    listen 127.0.0.1:" + std::to_string(tlsPort_) + " ssl;\n    ssl_certificate " + dir_ +
                     "/cert.pem;\n    ssl_certificate_key " + dir_ + "/key.pem;\n"
               : std::string())
       << "    root " << docroot << ";\n"
       << "    location = /redirect { return 302 /small.txt; }\n"
       << "    location /slow/ { limit_rate_after 16k; limit_rate 16k; }\n"
       << "    error_page 404 /404.html;\n"
       << "    location = /404.html { root " << dir_ << "; internal; }\n"
       << "  }\n"
       << "}\n";
  WriteText(dir_ + "/nginx.conf", conf.str());
  if (!process_.Spawn("/usr/sbin/nginx", {"-e", dir_ + "/error.log", "-p", dir_, "-c", dir_ + "/nginx.conf"}))
    return false;
  return WaitForPort(port_, 10000) && (!tls || WaitForPort(tlsPort_, 10000));
}

std::string NginxServer::TlsUrl(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(tlsPort_) + path;
}

void NginxServer::Stop() {
  process_.Stop();
  if (!dir_.empty() && !std::getenv("QUILLET_KEEP_TEST_ROOT")) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  dir_.clear();
}

std::string NginxServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string NginxServer::AccessLog() const { return ReadText(dir_ + "/access.log"); }

std::string NginxServer::WaitForLogLine(const std::string& needle, int timeoutMs) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::istringstream lines(AccessLog());
    std::string line;
    while (std::getline(lines, line))
      if (line.find(needle) != std::string::npos) return line;
    if (std::chrono::steady_clock::now() >= deadline) return std::string();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

bool TinyProxy::Start() {
  dir_ = MakeTempFolder("quillet-tinyproxy");
  if (dir_.empty()) return false;
  port_ = FreeLoopbackPort();
  std::ostringstream conf;
  conf << "Port " << port_ << "\n"
       << "Listen 127.0.0.1\n"
       << "Timeout 60\n"
       << "MaxClients 20\n"
       << "LogFile \"" << dir_ << "/tinyproxy.log\"\n"
       << "LogLevel Info\n"
       << "Allow 127.0.0.1\n";
  WriteText(dir_ + "/tinyproxy.conf", conf.str());
  if (!process_.Spawn("/usr/bin/tinyproxy", {"-d", "-c", dir_ + "/tinyproxy.conf"})) return false;
  return WaitForPort(port_, 10000);
}

void TinyProxy::Stop() {
  process_.Stop();
  if (!dir_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  dir_.clear();
}

bool ScriptedHttpServer::Start() {
  dir_ = MakeTempFolder("quillet-scripted");
  if (dir_.empty()) return false;
  WriteText(dir_ + "/server.py", R"PY(
import socket, sys, threading
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(16)
print(listener.getsockname()[1], flush=True)
def serve(conn):
    try:
        request = b""
        while b"\r\n\r\n" not in request:
            chunk = conn.recv(4096)
            if not chunk:
                return
            request += chunk
        path = request.split(b" ")[1]
        if path == b"/truncated":
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 500000\r\nConnection: close\r\n\r\n" + b"x" * 100000)
        elif path == b"/mute":
            while conn.recv(4096):
                pass
        elif path == b"/silent":
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n")
            while conn.recv(4096):
                pass
        else:
            conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")
    except OSError:
        pass
    finally:
        conn.close()
while True:
    c, _ = listener.accept()
    threading.Thread(target=serve, args=(c,), daemon=True).start()
)PY");
  int out = -1;
  if (!process_.Spawn("python3", {dir_ + "/server.py"}, &out)) return false;
  // The server prints its port once it listens.
  std::string line;
  char c;
  while (read(out, &c, 1) == 1 && c != '\n') line += c;
  close(out);
  port_ = std::atoi(line.c_str());
  return port_ > 0;
}

void ScriptedHttpServer::Stop() {
  process_.Stop();
  if (!dir_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  dir_.clear();
}

std::string ScriptedHttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace qtest
