// Where a long page may be cut for its first screen (see htmlview.h): a
// light scan over the tags that follows which elements are open the way
// the parser would (paragraphs and list items closed by what starts after
// them), and takes the first place, after enough text, where a block has
// just ended and only plain block containers are open. The layout of what
// comes before such a place does not depend on anything after it: no table
// sizes its columns across it, no line or inline element runs on past it.
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

}  // namespace

size_t FirstScreenCut(const std::string& html, size_t text) {
  std::vector<std::string> open;
  size_t seen = 0;  // characters of text so far
  size_t i = 0;
  const size_t n = html.size();
  while (i < n) {
    const char c = html[i];
    if (c != '<') {
      // A character of text (a UTF-8 sequence counts once), blanks too.
      if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++seen;
      ++i;
      continue;
    }
    if (html.compare(i, 4, "<!--") == 0) {
      size_t end = html.find("-->", i + 4);
      if (end == std::string::npos) return std::string::npos;
      i = end + 3;
      continue;
    }
    if (i + 1 < n && (html[i + 1] == '!' || html[i + 1] == '?')) {
      size_t end = html.find('>', i);
      if (end == std::string::npos) return std::string::npos;
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
    if (end == std::string::npos) return std::string::npos;
    i = end;
    if (!closing) {
      if (name == "plaintext") return std::string::npos;  // the rest is all text
      if (ClosesParagraph(name)) CloseOpen(open, "p", {"table", "td", "th", "button"});
      if (name == "li") CloseOpen(open, "li", {"ul", "ol", "table"});
      if (name == "dd" || name == "dt") {
        CloseOpen(open, "dd", {"dl", "table"});
        CloseOpen(open, "dt", {"dl", "table"});
      }
      if (IsRawTextElement(name)) {
        size_t close = FindCaseBlind(html, "</" + name, i);
        if (close == std::string::npos) return std::string::npos;
        i = close;  // its end tag is taken as any other
        open.push_back(name);
        continue;
      }
      if (!IsVoidElement(name)) open.push_back(name);
      continue;
    }
    // An end tag closes the innermost element of its name (and what it holds).
    size_t k = open.size();
    while (k > 0 && open[k - 1] != name) --k;
    if (k == 0) continue;  // nothing of that name is open
    PopTo(open, k - 1);
    if (seen < text || !EndsBlock(name)) continue;
    bool plain = true;
    for (const std::string& e : open) plain = plain && StacksBlocks(e);
    if (plain) return i;
  }
  return std::string::npos;
}

}  // namespace qk::htmlview
