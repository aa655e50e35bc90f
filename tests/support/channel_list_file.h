// A channel list file as the tests read it back from disk. Header only: the
// targets that use it link the reader's feeds library, which the test
// support library does not.
#pragma once

#include <string>
#include <vector>

#include "kernel/wstring.h"
#include "quillet/feeds/opml_xml.h"

namespace qtest {

// The channels of the list file: "category|title|url", in document order.
inline std::vector<std::string> ChannelsOnDisk(const char16_t* list) {
  static std::vector<std::string> rows;
  static std::string line;
  rows.clear();
  COpmlXML opml(
      [](void*, LPCWSTR parent, LPCWSTR name, LPCWSTR value) {
        std::u16string n = name;
        if (n == u"text") line = qk::ToUtf8(parent) + "|" + qk::ToUtf8(value);
        if (n == u"xmlUrl") rows.push_back(line + "|" + qk::ToUtf8(value));
      },
      nullptr, 0);
  opml.LoadAndWalk(list);
  return rows;
}

}  // namespace qtest
