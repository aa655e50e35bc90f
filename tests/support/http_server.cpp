#include "support/http_server.h"

#include <chrono>
#include <filesystem>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "support/device_fixture.h"

namespace qtest {

bool NginxServer::Start(const std::string& docroot, bool tls) {
  dir_ = qnet::MakeTempFolder("nginx");
  if (dir_.empty()) return false;
  std::filesystem::create_directories(dir_ + "/tmp");
  port_ = qnet::FreeLoopbackPort();
  if (tls) {
    qnet::ChildProcess openssl;
    if (!openssl.Start({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-days",
                        "2", "-keyout", dir_ + "/key.pem", "-out", dir_ + "/cert.pem"},
                       false, dir_ + "/openssl.log") ||
        openssl.Wait() != 0)
      return false;
    tlsPort_ = qnet::FreeLoopbackPort();
  }
  WriteHostFile(dir_ + "/404.html", "not here: 404 page\n");
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
       << "    location /reset/ { return 444; }\n"
       << "    location /chunked/ { ssi on; ssi_types text/plain; }\n"
       << "    error_page 404 /404.html;\n"
       << "    location = /404.html { root " << dir_ << "; internal; }\n"
       << "  }\n"
       << "}\n";
  WriteHostFile(dir_ + "/nginx.conf", conf.str());
  if (!process_.Start({"/usr/sbin/nginx", "-e", dir_ + "/error.log", "-p", dir_, "-c", dir_ + "/nginx.conf"}, false,
                      dir_ + "/nginx.log"))
    return false;
  return qnet::WaitForListener(port_, 10000, &process_) &&
         (!tls || qnet::WaitForListener(tlsPort_, 10000, &process_));
}

std::string NginxServer::TlsUrl(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(tlsPort_) + path;
}

void NginxServer::Stop() {
  process_.Stop();
  qnet::RemoveTree(dir_);
  dir_.clear();
}

std::string NginxServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string NginxServer::AccessLog() const { return ReadHostFile(dir_ + "/access.log"); }

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

bool ScriptedHttpServer::Start() {
  std::string page = kGatedPage;
  std::string quoted;
  for (char c : page) quoted += c == '"' ? std::string("\\\"") : c == '\n' ? std::string("\\n") : std::string(1, c);
  return ScriptedServer::Start(R"({"rules": [
    {"path": "/truncated", "times": 0, "body_size": 100000,
     "response": "HTTP/1.1 200 OK\r\nContent-Length: 500000\r\nConnection: close\r\n\r\n"},
    {"path": "/silent", "times": 0, "hold": true, "response": "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n"},
    {"path": "/mute", "times": 0, "silent": true},
    {"path": "/gated/", "times": 0, "until": "/open/*",
     "response": "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: )" +
                               std::to_string(page.size()) + R"(\r\nConnection: close\r\n\r\n)" + quoted + R"("},
    {"path": "/open/", "times": 0, "response": "HTTP/1.1 204 No Content\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"}
  ]})");
}

bool ScriptedHttpServer::Open(const std::string& name) {
  return qnet::RawHttpGet(port(), "/open/" + name).rfind("HTTP/1.1 204", 0) == 0;
}

bool ScriptedHttpServer::WaitForRequest(const std::string& path, int timeoutMs) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string line = "GET " + path + " ";
  for (;;) {
    for (const std::string& r : Requests())
      if (r.rfind(line, 0) == 0) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace qtest
