// Small scans over a page's source that the bounding pass and the first
// screen's cut share: where a tag ends and where a text stands, whatever
// its letter case.
#pragma once

#include <cstddef>
#include <string>

namespace qk::htmlview {

// The end of a tag that starts at '<' (one past its '>'), respecting quoted
// attribute values; npos when the source ends inside it.
size_t TagEnd(const std::string& s, size_t at);

// The first place from `from` on where lowerNeedle (in lower case) stands
// in s, in any letter case; npos when it does not.
size_t FindCaseBlind(const std::string& s, const std::string& lowerNeedle, size_t from);

}  // namespace qk::htmlview
