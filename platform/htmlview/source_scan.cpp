#include "htmlview/source_scan.h"

#include <cctype>

namespace qk::htmlview {

size_t TagEnd(const std::string& s, size_t at) {
  char quote = 0;
  for (size_t i = at + 1; i < s.size(); ++i) {
    char c = s[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      // Quotes only open inside an attribute value (after '=').
      size_t j = i;
      while (j > at && std::isspace(static_cast<unsigned char>(s[j - 1]))) --j;
      if (j > at && s[j - 1] == '=') quote = c;
    } else if (c == '>') {
      return i + 1;
    }
  }
  return std::string::npos;
}

size_t FindCaseBlind(const std::string& s, const std::string& lowerNeedle, size_t from) {
  if (lowerNeedle.empty() || s.size() < lowerNeedle.size()) return std::string::npos;
  for (size_t i = from; i + lowerNeedle.size() <= s.size(); ++i) {
    size_t k = 0;
    while (k < lowerNeedle.size() &&
           std::tolower(static_cast<unsigned char>(s[i + k])) == static_cast<unsigned char>(lowerNeedle[k]))
      ++k;
    if (k == lowerNeedle.size()) return i;
  }
  return std::string::npos;
}

}  // namespace qk::htmlview
