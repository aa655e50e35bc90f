// The rules the refresh run tests give the scripted server (the sync
// service and its feeds), and a count over the items a channel stored.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "kernel/wstring.h"
#include "quillet/feeds/item_store.h"

namespace rtest {

// The text as a JSON string.
inline std::string J(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"') out += "\\\"";
    else if (c == '\\') out += "\\\\";
    else if (c < 0x20) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else out += char(c);
  }
  return out + "\"";
}

// A rule for the path: the response (none when empty) and the extra members.
inline std::string Rule(const std::string& path, const std::string& response, const std::string& extra = "") {
  return "{\"path\": " + J(path) + (response.empty() ? "" : ", \"response\": " + J(response)) + extra + "}";
}

// A whole answer of the body, the connection closed after it.
inline std::string Ok(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// The items with that link.
inline int CountLink(const std::vector<CItemRecord>& records, const std::string& link) {
  int n = 0;
  for (const CItemRecord& r : records) n += qk::ToUtf8(r.link.str()) == link;
  return n;
}

}  // namespace rtest
