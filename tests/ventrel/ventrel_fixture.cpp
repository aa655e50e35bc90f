#include "ventrel_fixture.h"

#include <sys/stat.h>

#include <thread>

#include "common/log.h"
#include "kernel/kernel.h"
#include "net/winsock.h"

namespace vtest {

std::string JsonText(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"') out += "\\\"";
    else if (c == '\\') out += "\\\\";
    else if (c < 0x20 || c >= 0x7f) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else out += char(c);
  }
  return out + "\"";
}

std::string Rule(const std::string& path, const std::string& response, const std::string& extra) {
  std::string r = "{\"path\": " + JsonText(path);
  if (!response.empty()) r += ", \"response\": " + JsonText(response);
  return r + extra + "}";
}

std::string Script(const std::vector<std::string>& rules) {
  std::string s = "{\"rules\": [";
  for (size_t i = 0; i < rules.size(); ++i) s += (i ? ", " : "") + rules[i];
  return s + "]}";
}

std::string Ok(const std::string& body, const std::string& headers) {
  return "HTTP/1.1 200 OK\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

void HttpTest::SetUp() {
  DeviceTest::SetUp();
  WSADATA data;
  WSAStartup(0x0101, &data);
  SetLogEnabled(1);
}

void HttpTest::TearDown() {
  SetLogEnabled(0);
  WSACleanup();
  DeviceTest::TearDown();
}

std::string HttpTest::RunLog() const { return ReadDeviceFile(u"\\Program Files\\Quillet\\Quillet_RunLog.txt"); }

bool HttpTest::WaitForRequests(const qnet::ScriptedServer& server, size_t n, int timeoutMs) {
  auto start = std::chrono::steady_clock::now();
  while (server.Requests().size() < n) {
    if (ElapsedMs(start) > timeoutMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool HttpTest::WaitForFileSize(const std::string& hostPath, size_t n, int timeoutMs) {
  auto start = std::chrono::steady_clock::now();
  for (;;) {
    struct stat st;
    if (stat(hostPath.c_str(), &st) == 0 && size_t(st.st_size) >= n) return true;
    if (ElapsedMs(start) > timeoutMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

CString HttpTest::Wide(const std::string& s) { return CString(qk::FromUtf8(s)); }

}  // namespace vtest
