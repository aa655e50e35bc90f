// Shared pieces of the HTTP client tests: a device root with logging on,
// sockets started, script builders for the scripted server and waits on
// what a server or a file shows.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "framework/afx.h"
#include "support/device_fixture.h"
#include "support/net_servers.h"

#include <ostream>

#include "kernel/kernel.h"

// Lets the test framework print wide strings.
inline void PrintTo(const CString& s, std::ostream* os) { *os << '"' << qk::ToUtf8(s.str()) << '"'; }

namespace vtest {

std::string JsonText(const std::string& s);
// One rule of the scripted server; extra is further JSON members (",..." form).
std::string Rule(const std::string& path, const std::string& response, const std::string& extra = "");
std::string Script(const std::vector<std::string>& rules);
// A complete response with a Content-Length body.
std::string Ok(const std::string& body, const std::string& headers = "");

class HttpTest : public qtest::DeviceTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The run log written so far.
  std::string RunLog() const;
  // Waits until the server has received n requests (it writes each one
  // down before answering); false after timeoutMs.
  static bool WaitForRequests(const qnet::ScriptedServer& server, size_t n, int timeoutMs = 10000);
  // Waits until a host file holds at least n bytes.
  static bool WaitForFileSize(const std::string& hostPath, size_t n, int timeoutMs = 10000);
  static CString Wide(const std::string& s);
};

// Milliseconds since start.
inline long long ElapsedMs(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace vtest
