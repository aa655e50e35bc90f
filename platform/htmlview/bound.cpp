// Bounding a page's source before it is parsed (see htmlview.h): a light
// scan over the tags that keeps the nesting depth, the amount of text and
// the number of tags and the layout's cost within limits, so that neither
// the parser nor the layout (both recursive over the element tree) can be
// driven into deep recursion or unbounded work. The layout's time for a
// box grows with its depth (each line asks its ancestors for its room) and
// doubles with each table around it (a table lays its cells out twice to
// size its columns); its time for the list items of one element grows
// with the square of their count (each item counts the items before it
// for its number).
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <functional>
#include <queue>
#include <string>
#include <vector>

#include "htmlview/htmlview.h"
#include "htmlview/source_scan.h"
#include "htmlview/text_boxes.h"

namespace qk::htmlview {
namespace {

std::string LowerName(const std::string& s, size_t at, size_t* end) {
  size_t i = at;
  std::string name;
  while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '-' || s[i] == ':' || s[i] == '_')) {
    name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(s[i]))));
    ++i;
  }
  *end = i;
  return name;
}

// Elements that never hold content.
bool IsVoid(const std::string& n) {
  static const char* const kVoid[] = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link",
                                      "meta", "param", "source", "track", "wbr", "basefont", "frame", "keygen"};
  for (const char* v : kVoid)
    if (n == v) return true;
  return false;
}

// Elements the parser closes by itself when a sibling of their kind starts,
// so a run of them does not nest.
bool ClosesItself(const std::string& n) {
  static const char* const kImplied[] = {"p", "li", "dt", "dd", "tr", "td", "th", "option", "optgroup",
                                         "thead", "tbody", "tfoot", "colgroup", "rt", "rp", "html", "head", "body"};
  for (const char* v : kImplied)
    if (n == v) return true;
  return false;
}

// Elements that hold their content in items.
bool IsList(const std::string& n) { return n == "ul" || n == "ol" || n == "dl" || n == "menu" || n == "dir"; }

// Elements whose content is raw text up to their end tag.
bool IsRawText(const std::string& n) {
  return n == "script" || n == "style" || n == "textarea" || n == "title" || n == "xmp" || n == "noembed" ||
         n == "noframes" || n == "iframe" || n == "plaintext";
}

// Counts characters (not bytes) of UTF-8 text.
size_t CountChars(const std::string& s, size_t from, size_t to) {
  size_t n = 0;
  for (size_t i = from; i < to; ++i)
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) ++n;
  return n;
}


// Page styles keep only properties that change how text and boxes look;
// those that change how boxes are laid out around their content (floats,
// positions, display types, inline blocks) are dropped: the layout sizes
// such boxes by laying out their content more than once, so nesting them
// makes its work grow exponentially.
bool KeptProperty(const std::string& name) {
  static const char* const kKept[] = {
      "color", "background-color", "font", "font-weight", "font-style", "font-size", "font-family",
      "text-decoration", "text-align", "text-indent", "text-transform", "line-height", "vertical-align",
      "word-break", "white-space", "letter-spacing", "word-spacing", "list-style-type", "width", "height"};
  for (const char* k : kKept)
    if (name == k) return true;
  static const char* const kPrefixes[] = {"margin", "padding", "border"};
  for (const char* k : kPrefixes)
    if (name.compare(0, std::strlen(k), k) == 0) return true;
  return false;
}

std::string FilterStyle(const std::string& style) {
  std::string out;
  size_t i = 0;
  while (i < style.size()) {
    size_t semi = style.find(';', i);
    if (semi == std::string::npos) semi = style.size();
    std::string decl = style.substr(i, semi - i);
    i = semi + 1;
    size_t colon = decl.find(':');
    if (colon == std::string::npos) continue;
    std::string name;
    for (size_t k = 0; k < colon; ++k)
      if (!std::isspace(static_cast<unsigned char>(decl[k])))
        name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(decl[k]))));
    std::string lowerDecl;
    for (char c : decl) lowerDecl.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    if (!KeptProperty(name) || lowerDecl.find("url(") != std::string::npos ||
        lowerDecl.find("expression") != std::string::npos)
      continue;
    if (!out.empty()) out += ';';
    out += decl;
  }
  return out;
}

// A cell's span as the layout reads it (a decimal number after optional
// blanks and sign, 0 when there is none), held to [1, most].
int SpanValue(const std::string& value, int most) {
  size_t i = 0;
  while (i < value.size() && std::isspace(static_cast<unsigned char>(value[i]))) ++i;
  bool negative = i < value.size() && value[i] == '-';
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) ++i;
  long long n = 0;
  for (; i < value.size() && std::isdigit(static_cast<unsigned char>(value[i])) && n <= most; ++i)
    n = n * 10 + (value[i] - '0');
  if (negative || n < 1) return 1;
  return n > most ? most : static_cast<int>(n);
}

// The columns and rows a table cell spans.
struct Spans {
  int columns = 1;
  int rows = 1;
};

// Rewrites a start tag's attributes: page styles filtered (above); a
// cell's spans (when spans is given) held to kMaxColumnSpan and
// kMaxRowSpan, written as the numbers the layout will read and returned;
// the rest as written.
std::string RewriteTag(const std::string& tag, size_t nameEnd, Spans* spans = nullptr) {
  bool columnsSeen = false, rowsSeen = false;
  std::string out = tag.substr(0, nameEnd);
  size_t i = nameEnd, end = tag.size() - 1;  // tag ends with '>'
  while (i < end) {
    while (i < end && (std::isspace(static_cast<unsigned char>(tag[i])) || tag[i] == '/')) ++i;
    if (i >= end) break;
    size_t n0 = i;
    while (i < end && !std::isspace(static_cast<unsigned char>(tag[i])) && tag[i] != '=' && tag[i] != '>') ++i;
    if (i == n0 && tag[i] == '>') {
      // A ">" inside the tag (a quoted value let it in) stands for nothing.
      ++i;
      continue;
    }
    std::string name = tag.substr(n0, i - n0);
    std::string lname;
    for (char c : name) lname.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    while (i < end && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
    std::string value;
    bool hasValue = false;
    char quote = '"';
    if (i < end && tag[i] == '=') {
      hasValue = true;
      ++i;
      while (i < end && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
      if (i < end && (tag[i] == '"' || tag[i] == '\'')) {
        quote = tag[i];
        size_t close = tag.find(quote, i + 1);
        if (close == std::string::npos || close > end) close = end;
        value = tag.substr(i + 1, close - i - 1);
        i = close + 1;
      } else {
        size_t v0 = i;
        while (i < end && !std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
        value = tag.substr(v0, i - v0);
        if (value.find('"') != std::string::npos) quote = '\'';
      }
    }
    if (name.empty()) continue;
    if (spans && (lname == "colspan" || lname == "rowspan")) {
      // The first of each counts, as the parser keeps only the first.
      bool columns = lname == "colspan";
      int n = SpanValue(value, columns ? kMaxColumnSpan : kMaxRowSpan);
      if (!(columns ? columnsSeen : rowsSeen)) (columns ? spans->columns : spans->rows) = n;
      (columns ? columnsSeen : rowsSeen) = true;
      value = std::to_string(n);
      hasValue = true;
      quote = '"';
    }
    if (lname == "style") {
      value = FilterStyle(value);
      if (value.empty()) continue;
      if (value.find('"') != std::string::npos) quote = '\'';
    }
    out += ' ';
    out += name;
    if (hasValue) {
      out += '=';
      out += quote;
      out += value;
      out += quote;
    }
  }
  if (tag.size() >= 2 && tag[tag.size() - 2] == '/') out += " /";
  out += '>';
  return out;
}

bool IsRowGroup(const std::string& n) { return n == "thead" || n == "tbody" || n == "tfoot"; }

// The shape of a table's grid as the layout builds it: rows one after
// another, a cell placed after the places that cells of rows above still
// span, every row padded to the widest. Cells the layout keeps for every
// place of the grid, so its size is rows times the widest row.
struct Grid {
  size_t rows = 0;
  size_t width = 0;    // of the row being read, at most
  size_t widest = 0;   // of the rows before it
  size_t counted = 0;  // cells counted against the page's bound
  bool inRow = false;
  // The last rows that cells spanning rows reach, earliest first.
  std::priority_queue<size_t, std::vector<size_t>, std::greater<size_t>> reach;

  void BeginRow() {
    widest = std::max(widest, width);
    while (!reach.empty() && reach.top() < rows) reach.pop();
    width = reach.size();  // places held from above (the row may pass them all)
    ++rows;
    inRow = true;
  }
  void AddCell(const Spans& spans) {
    width += static_cast<size_t>(spans.columns);
    if (spans.rows > 1) reach.push(rows - 1 + static_cast<size_t>(spans.rows) - 1);
  }
  size_t Cells() const { return rows * std::max(widest, width); }
};

// Elements left out with their content: the page's own style sheets (see
// FilterStyle) and anything a page would run or embed.
bool IsLeftOut(const std::string& n) { return n == "style" || n == "link"; }

}  // namespace

std::string BoundSource(const std::string& in, int maxDepth, size_t maxText, size_t maxTags, size_t maxCost) {
  std::string out;
  out.reserve(std::min(in.size(), maxText * 4 + 4096));
  std::vector<std::string> open;  // counted open elements
  std::vector<size_t> items{0};      // list items in the document (first) and in each open element
  std::vector<std::string> dropped;  // start tags left out beyond the depth, still open
  // The grids of the open tables, innermost last, and the grid cells of
  // the page so far (weighed as the layout's cost is, by the tables around).
  std::vector<Grid> grids;
  size_t gridCells = 0;
  size_t text = 0, tags = 0, cost = 0;
  size_t i = 0;
  // The layout's cost of a box at the current depth (see htmlview.h). A
  // list holds its content in an item, which the parser closes by itself
  // and so is not among the open elements: each list counts two levels.
  auto weigh = [&](size_t own) -> size_t {
    size_t depth = open.size(), tables = 0;
    for (const std::string& name : open) {
      if (name == "table") ++tables;
      else if (IsList(name)) ++depth;
    }
    return (own + depth) << (tables > 1 ? tables - 1 : 0);
  };
  // Keeps text while it stays within the bounds of characters and cost,
  // counting its boxes as the layout will cut them; a cut falls on a
  // character boundary. An entity may stand for an ideograph: it starts a
  // box.
  auto emitText = [&](size_t from, size_t to) -> bool {
    const size_t weight = weigh(kWordCost);
    const auto* s = reinterpret_cast<const unsigned char*>(in.data());
    size_t k = from;
    bool inWord = false, fits = true;
    while (k < to) {
      unsigned char c = s[k];
      uint32_t cp = c;
      size_t len = IsBlank(c) ? 1 : static_cast<size_t>(Utf8Char(s + k, s + to, &cp));
      bool box;
      if (IsBlank(c)) {
        box = !(c == ' ' && inWord && k + 1 < to && !IsBlank(s[k + 1]));  // a space joining two words is theirs
        inWord = false;
      } else if (c == '&' || BreaksAnywhere(cp)) {
        box = true;
        inWord = c == '&';
      } else {
        box = !inWord;
        inWord = true;
      }
      size_t chars = CountChars(in, k, k + len);
      if (text + chars > maxText || (box && cost + weight > maxCost)) {
        fits = false;
        break;
      }
      text += chars;
      if (box) cost += weight;
      k += len;
    }
    out.append(in, from, k - from);
    return fits;
  };
  while (i < in.size()) {
    size_t lt = in.find('<', i);
    if (lt == std::string::npos) lt = in.size();
    if (lt > i && !emitText(i, lt)) break;
    i = lt;
    if (i >= in.size()) break;
    // Comments, declarations and processing instructions pass whole.
    if (in.compare(i, 4, "<!--") == 0) {
      size_t end = in.find("-->", i + 4);
      i = end == std::string::npos ? in.size() : end + 3;
      continue;
    }
    if (i + 1 < in.size() && (in[i + 1] == '!' || in[i + 1] == '?')) {
      size_t end = in.find('>', i);
      if (end == std::string::npos) break;
      out.append(in, i, end + 1 - i);
      i = end + 1;
      continue;
    }
    bool closing = i + 1 < in.size() && in[i + 1] == '/';
    size_t nameEnd = 0;
    std::string name = LowerName(in, i + (closing ? 2 : 1), &nameEnd);
    if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0]))) {
      // A '<' that starts no tag is text.
      if (!emitText(i, i + 1)) break;
      ++i;
      continue;
    }
    size_t end = TagEnd(in, i);
    if (end == std::string::npos) break;  // cut inside a tag: leave it out
    if (++tags > maxTags) break;
    if (closing) {
      if (!dropped.empty() && dropped.back() == name) {
        dropped.pop_back();  // the end of a start tag left out
      } else {
        dropped.clear();  // an outer end tag closes whatever was left open inside it
        auto it = std::find(open.rbegin(), open.rend(), name);
        if (it != open.rend()) {
          grids.resize(grids.size() - static_cast<size_t>(std::count(std::next(it).base(), open.end(), "table")));
          open.erase(std::next(it).base(), open.end());
          items.resize(open.size() + 1);
        }
        // The next cell starts a row of its own.
        if ((name == "tr" || IsRowGroup(name)) && !grids.empty()) grids.back().inRow = false;
        out.append(in, i, end - i);
      }
      i = end;
      continue;
    }
    // "/>" closes no element the parser builds from HTML: a self-closed
    // div opens a div all the same.
    bool counted = !IsVoid(name) && !ClosesItself(name);
    if (IsLeftOut(name)) {
      i = end;
      if (name == "style") {
        size_t close = FindCaseBlind(in, "</style", i);
        if (close == std::string::npos) break;
        size_t closeEnd = TagEnd(in, close);
        i = closeEnd == std::string::npos ? in.size() : closeEnd;
      }
      continue;
    }
    // Tables size their cells by laying them out more than once: nested
    // tables are kept only a few levels deep.
    bool tooDeepTable = name == "table" && std::count(open.begin(), open.end(), "table") >= kMaxTableDepth;
    if (tooDeepTable || (counted && static_cast<int>(open.size()) >= maxDepth)) {
      i = end;
      if (IsRawText(name)) {
        // Its raw content goes with it.
        size_t close = FindCaseBlind(in, "</" + name, i);
        if (close == std::string::npos) break;
        size_t closeEnd = TagEnd(in, close);
        i = closeEnd == std::string::npos ? in.size() : closeEnd;
      } else {
        dropped.push_back(name);
      }
      continue;
    }
    const size_t elementCost = weigh(kElementCost);
    if (cost + elementCost > maxCost) break;
    cost += elementCost;
    // Items are counted in the innermost open element, the parent the
    // parser gives them (an item closes the item open before it).
    if (name == "li" && ++items.back() > kMaxListItems) break;
    const bool cell = name == "td" || name == "th";
    Spans spans;
    std::string tag = RewriteTag(in.substr(i, end - i), nameEnd - i, cell ? &spans : nullptr);
    if (!grids.empty() && (cell || name == "tr" || IsRowGroup(name))) {
      // The table's grid as the layout will build it: every row as wide as
      // the widest, so a wide cell or a long row widens every row.
      Grid& grid = grids.back();
      if (name == "tr" || (cell && !grid.inRow)) grid.BeginRow();
      if (cell) grid.AddCell(spans);
      if (IsRowGroup(name)) grid.inRow = false;
      const size_t now = grid.Cells();
      if (now > grid.counted) {
        const size_t more = (now - grid.counted) << std::min<size_t>(grids.size() - 1, 16);
        if (gridCells + more > kMaxTableCells) break;
        gridCells += more;
        grid.counted = now;
      }
    }
    out += tag;
    i = end;
    if (counted) {
      open.push_back(name);
      items.push_back(0);
      if (name == "table") grids.emplace_back();
    }
    if (IsRawText(name)) {
      // Raw text runs to the element's end tag; it counts as text.
      size_t close = FindCaseBlind(in, "</" + name, i);
      if (close == std::string::npos) close = in.size();
      if (!emitText(i, close)) break;
      i = close;
    }
  }
  return out;
}

}  // namespace qk::htmlview
