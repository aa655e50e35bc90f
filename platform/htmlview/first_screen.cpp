// Where a long page may be cut for its first screen (see htmlview.h): a
// light scan over the tags that follows which elements are open the way
// the parser would (paragraphs and list items closed by what starts after
// them, end tags honoured only where the parser honours them), and takes
// the first place, after enough visible text, where a block has just ended
// and only plain block containers are open. The layout of what comes
// before such a place does not depend on anything after it: no table sizes
// its columns across it, no line or inline element runs on past it, no
// container open there adds its own bottom spacing right after it, and no
// later <body> or <html> tag gives the page's root attributes the start
// would not have.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "htmlview/htmlview.h"
#include "htmlview/source_scan.h"

namespace qk::htmlview {
namespace {

bool Is(const std::string& name, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (name == n) return true;
  return false;
}

bool IsVoidElement(const std::string& n) {
  return Is(n, {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "param", "source", "track",
                "wbr", "basefont", "frame", "keygen", "bgsound", "image"});
}

// Elements whose start closes an open paragraph.
bool ClosesParagraph(const std::string& n) {
  return Is(n, {"address", "article", "aside", "blockquote", "center", "details", "dialog", "dir", "div", "dl",
                "fieldset", "figcaption", "figure", "footer", "form", "h1", "h2", "h3", "h4", "h5", "h6", "header",
                "hgroup", "hr", "main", "menu", "nav", "ol", "p", "pre", "section", "summary", "table", "ul", "li",
                "dd", "dt", "listing", "xmp", "plaintext"});
}

// Block elements whose end may end the first screen.
bool EndsBlock(const std::string& n) {
  return Is(n, {"p", "div", "h1", "h2", "h3", "h4", "h5", "h6", "ul", "ol", "li", "dl", "blockquote", "pre", "table",
                "figure", "section", "article", "center", "header", "footer", "main", "nav", "aside", "address"});
}

// Containers that may stay open around the place of a cut: they only stack
// their children, one below the other.
bool StacksBlocks(const std::string& n) {
  return Is(n, {"html", "body", "div", "section", "article", "main", "header", "footer", "center", "blockquote",
                "nav", "aside", "ul", "ol"});
}

bool IsRawTextElement(const std::string& n) {
  return Is(n, {"script", "style", "textarea", "title", "xmp", "noembed", "noframes", "iframe", "noscript"});
}

std::string NameAt(const std::string& s, size_t at, size_t* end) {
  std::string name;
  size_t i = at;
  while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '-' || s[i] == ':' || s[i] == '_'))
    name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(s[i++]))));
  *end = i;
  return name;
}

void PopTo(std::vector<std::string>& open, size_t depth) { open.resize(depth); }

// Closes the innermost open element of that name, unless an element in
// `stops` lies above it.
void CloseOpen(std::vector<std::string>& open, const char* name, std::initializer_list<const char*> stops) {
  for (size_t k = open.size(); k-- > 0;) {
    if (open[k] == name) {
      PopTo(open, k);
      return;
    }
    if (Is(open[k], stops)) return;
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// The elements after which the parser closes no element when an end tag
// (not of a special element) asks for one beyond them.
bool IsSpecial(const std::string& n) {
  return Is(n, {"address", "applet", "area", "article", "aside", "base", "basefont", "bgsound", "blockquote", "body",
                "br", "button", "caption", "center", "col", "colgroup", "dd", "details", "dir", "div", "dl", "dt",
                "embed", "fieldset", "figcaption", "figure", "footer", "form", "frame", "frameset", "h1", "h2", "h3",
                "h4", "h5", "h6", "head", "header", "hgroup", "hr", "html", "iframe", "img", "input", "keygen", "li",
                "link", "listing", "main", "marquee", "menu", "meta", "nav", "noembed", "noframes", "noscript",
                "object", "ol", "p", "param", "plaintext", "pre", "script", "search", "section", "select", "source",
                "style", "summary", "table", "tbody", "td", "template", "textarea", "tfoot", "th", "thead", "title",
                "tr", "track", "ul", "wbr", "xmp"});
}

// Whether an element open below an end tag's name keeps the parser from
// closing it ("in scope"): the end tag is then ignored.
bool StopsEndTag(const std::string& end, const std::string& open) {
  if (Is(open, {"html", "template"})) return true;
  if (end == "table") return false;
  if (Is(end, {"tbody", "thead", "tfoot", "tr", "td", "th", "caption", "colgroup"})) return open == "table";
  if (Is(open, {"applet", "caption", "table", "td", "th", "marquee", "object"})) return true;
  if (end == "p") return open == "button";
  if (end == "li") return open == "ol" || open == "ul";
  // Any other end tag of an element that is not special stops at a
  // special element.
  return !IsSpecial(end) && IsSpecial(open);
}

// Whether a start tag's style attribute gives its box a bottom margin,
// padding or border (any of those properties that is not only about
// another side): the container then adds room after its last child.
bool StyleSpacesBottom(const std::string& html, size_t at, size_t end) {
  size_t i = at + 1;
  while (i < end && !IsBlank(html[i]) && html[i] != '/' && html[i] != '>') ++i;
  while (i < end) {
    while (i < end && (IsBlank(html[i]) || html[i] == '/')) ++i;
    if (i >= end || html[i] == '>') return false;
    const size_t nameStart = i++;
    while (i < end && !IsBlank(html[i]) && html[i] != '/' && html[i] != '>' && html[i] != '=') ++i;
    std::string name;
    for (size_t k = nameStart; k < i; ++k)
      name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(html[k]))));
    while (i < end && IsBlank(html[i])) ++i;
    std::string value;
    if (i < end && html[i] == '=') {
      ++i;
      while (i < end && IsBlank(html[i])) ++i;
      if (i < end && (html[i] == '"' || html[i] == '\'')) {
        const char quote = html[i];
        size_t close = html.find(quote, i + 1);
        if (close == std::string::npos || close >= end) close = end;
        value = html.substr(i + 1, close - i - 1);
        i = close + 1;
      } else {
        const size_t v = i;
        while (i < end && !IsBlank(html[i]) && html[i] != '>') ++i;
        value = html.substr(v, i - v);
      }
    }
    if (name != "style") continue;
    for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t d = 0;
    while (d < value.size()) {
      size_t semi = value.find(';', d);
      if (semi == std::string::npos) semi = value.size();
      const std::string decl = value.substr(d, semi - d);
      d = semi + 1;
      const size_t colon = decl.find(':');
      if (colon == std::string::npos) continue;
      std::string prop;
      for (size_t k = 0; k < colon; ++k)
        if (!IsBlank(decl[k])) prop.push_back(decl[k]);
      if (prop.compare(0, 6, "margin") != 0 && prop.compare(0, 7, "padding") != 0 && prop.compare(0, 6, "border") != 0)
        continue;
      if (prop.find("-top") != std::string::npos || prop.find("-left") != std::string::npos ||
          prop.find("-right") != std::string::npos || prop.find("-radius") != std::string::npos ||
          prop == "border-collapse" || prop == "border-spacing")
        continue;
      return true;
    }
    return false;  // the parser takes the first style attribute only
  }
  return false;
}

}  // namespace

size_t FirstScreenCut(const std::string& html, size_t text) {
  std::vector<std::string> open;
  std::vector<bool> spaced;  // per open element: its style adds room at its bottom
  size_t seen = 0;           // visible characters of text so far
  // The first place a cut may be made; a later <body> or <html> start tag
  // (whose attributes the parser gives the page's root) takes it back.
  size_t cut = std::string::npos;
  size_t i = 0;
  const size_t n = html.size();
  // The source ends inside a comment, tag or element of text: the parser
  // never closes it, so no block ends after this point.
  auto cutOff = [&] { return cut; };
  while (i < n) {
    const char c = html[i];
    if (c != '<') {
      // A character of text (a UTF-8 sequence counts once); blanks, which
      // the layout folds, do not count.
      if ((static_cast<unsigned char>(c) & 0xC0) != 0x80 && !IsBlank(c)) ++seen;
      ++i;
      continue;
    }
    if (html.compare(i, 4, "<!--") == 0) {
      size_t end = html.find("-->", i + 4);
      if (end == std::string::npos) return cutOff();
      i = end + 3;
      continue;
    }
    if (i + 1 < n && (html[i + 1] == '!' || html[i + 1] == '?')) {
      size_t end = html.find('>', i);
      if (end == std::string::npos) return cutOff();
      i = end + 1;
      continue;
    }
    const bool closing = i + 1 < n && html[i + 1] == '/';
    size_t nameEnd = 0;
    const std::string name = NameAt(html, i + (closing ? 2 : 1), &nameEnd);
    if (name.empty()) {
      // Not a tag: a '<' of the text.
      ++seen;
      ++i;
      continue;
    }
    const size_t end = TagEnd(html, i);
    if (end == std::string::npos) return cutOff();
    const size_t start = i;
    i = end;
    if (!closing) {
      if (name == "body" || name == "html") cut = std::string::npos;
      if (name == "plaintext") return cutOff();  // the rest is all text
      if (ClosesParagraph(name)) CloseOpen(open, "p", {"table", "td", "th", "button"});
      if (name == "li") CloseOpen(open, "li", {"ul", "ol", "table"});
      if (name == "dd" || name == "dt") {
        CloseOpen(open, "dd", {"dl", "table"});
        CloseOpen(open, "dt", {"dl", "table"});
      }
      spaced.resize(open.size());
      if (IsRawTextElement(name)) {
        size_t close = FindCaseBlind(html, "</" + name, i);
        if (close == std::string::npos) return cutOff();
        i = close;  // its end tag is taken as any other
        open.push_back(name);
        spaced.push_back(false);
        continue;
      }
      if (!IsVoidElement(name)) {
        open.push_back(name);
        spaced.push_back(StyleSpacesBottom(html, start, end));
      }
      continue;
    }
    // An end tag closes the innermost element of its name (and what it
    // holds) when the parser would: not past an element that keeps it out
    // of scope, else it is ignored.
    size_t k = open.size();
    while (k > 0 && open[k - 1] != name && !StopsEndTag(name, open[k - 1])) --k;
    if (k == 0 || open[k - 1] != name) continue;  // nothing of that name is open in scope
    PopTo(open, k - 1);
    spaced.resize(open.size());
    if (cut != std::string::npos || seen < text || !EndsBlock(name)) continue;
    bool plain = true;
    for (size_t e = 0; e < open.size(); ++e) plain = plain && StacksBlocks(open[e]) && !spaced[e];
    if (plain) cut = i;
  }
  return cut;
}

}  // namespace qk::htmlview
