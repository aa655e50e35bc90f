// The forgiving HTML scanner (see ambrel/html_node_tree.h).
#include "ambrel/html_node_tree.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/log.h"

namespace {

constexpr int kNameLength = 17;

bool IsTerminator(WCHAR c) { return c == u'\t' || c == u'\n' || c == u' ' || c == u'/' || c == u'>'; }
bool IsBlank(WCHAR c) { return c == u'\t' || c == u'\n' || c == u' '; }

// Adds c to the tag name being read when it belongs to it: a name
// character, or the '/' that opens an end tag. False at the name's end.
bool ExtendTagName(std::u16string& name, WCHAR c) {
  if (!IsTerminator(c)) {
    name += c;
    return true;
  }
  if (c == u'/' && name.empty()) {
    name.assign(1, u'/');
    return true;
  }
  return false;
}

WCHAR Upper(WCHAR c) { return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - 32) : towupper16(c); }

CString UpperOf(const std::u16string& s) {
  std::u16string u(s);
  for (auto& c : u) c = Upper(c);
  return CString(std::move(u));
}

// Whether the text at i starts with what (ASCII, compared without regard to case).
bool At(const std::u16string& text, size_t i, const char* what, bool anyCase) {
  for (size_t k = 0; what[k]; ++k) {
    if (i + k >= text.size()) return false;
    WCHAR c = text[i + k];
    WCHAR w = static_cast<WCHAR>(static_cast<unsigned char>(what[k]));
    if (anyCase ? Upper(c) != Upper(w) : c != w) return false;
  }
  return true;
}

// Inside a comment or a script: past the marker `end` that closes it when
// it stands at i (and no longer inside), else one character on.
void PassInside(const std::u16string& text, size_t& i, bool& inside, const char* end, bool anyCase) {
  if (At(text, i, end, anyCase)) {
    inside = false;
    i += std::strlen(end);
  } else {
    ++i;
  }
}

bool EqualsNoCase(const CString& a, const char16_t* b) { return _wcsicmp(a, b) == 0; }

// A tag name FindNextTag reports: not an end tag, and not META.
bool NamesStartTag(const std::u16string& name) {
  return name.find(u'/') == std::u16string::npos && !EqualsNoCase(CString(name), u"META");
}

int AsciiToInt(const CString& field) {
  // Read as 8-bit text, as the C runtime's atoi reads it.
  std::string narrow;
  for (WCHAR c : field.str()) narrow += c < 0x80 ? static_cast<char>(c) : '?';
  return std::atoi(narrow.c_str());
}

}  // namespace

namespace {

void AppendInt(std::u16string& out, int value) {
  char16_t digits[12];
  int n = 0;
  unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  do {
    digits[n++] = static_cast<char16_t>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  if (value < 0) digits[n++] = u'-';
  std::reverse(digits, digits + n);
  out.append(digits, static_cast<size_t>(n));
}

// "id,parentId,NAME,start,end"
void AppendEntry(std::u16string& out, const CHtmlNode& node) {
  AppendInt(out, node.id);
  out += u',';
  AppendInt(out, node.parentId);
  out += u',';
  out += node.name.str();
  out += u',';
  AppendInt(out, node.startPos);
  out += u',';
  AppendInt(out, node.endPos);
}

}  // namespace

CString CHtmlNodeTree::Entry(const CHtmlNode& node) {
  std::u16string entry;
  AppendEntry(entry, node);
  return CString(std::move(entry));
}

CString CHtmlNodeTree::FindNextTag(const CString& textString, int& position) {
  const std::u16string& text = textString.str();
  const size_t n = text.size();
  if (position < 0 || static_cast<size_t>(position) >= n) {
    position = -1;
    return CString();
  }
  bool inComment = false, inTag = false, collecting = false;
  std::u16string name;
  size_t tagAt = 0;
  size_t i = static_cast<size_t>(position);
  while (i < n) {
    if (inComment) {
      PassInside(text, i, inComment, "-->", false);
      continue;
    }
    if (At(text, i, "<!--", false)) {
      inComment = true;
      inTag = collecting = false;
      i += 4;
      continue;
    }
    WCHAR c = text[i];
    if (c == u'<') {
      tagAt = i;
      name.clear();
      inTag = collecting = true;
      ++i;
      continue;
    }
    if (inTag && collecting) {
      if (ExtendTagName(name, c)) {
        ++i;
        continue;
      }
      if (!name.empty()) {
        collecting = false;
        if (NamesStartTag(name)) {
          position = static_cast<int>(tagAt);
          return UpperOf(name);
        }
      }
    }
    if (inTag && c == u'>') inTag = collecting = false;
    ++i;
  }
  // A tag cut off by the end of the text still names itself.
  if (inTag && collecting && !name.empty() && NamesStartTag(name)) {
    position = static_cast<int>(tagAt);
    return UpperOf(name);
  }
  position = -1;
  return CString();
}

CString CHtmlNodeTree::GetOuterHtml(const CString& text, int position, int end) {
  int at = position;
  if (FindNextTag(text, at).IsEmpty() || at < 0) return CString();
  int length = text.GetLength();
  if (end < 0) return text.Mid(at);
  if (end < at) return CString();
  // Positions past the page's end are cut at its end.
  if (end >= length) end = length - 1;
  return text.Mid(at, end - at + 1);
}

CString CHtmlNodeTree::GetTagText(const CString& textString, int position, int end) {
  int at = position;
  if (FindNextTag(textString, at).IsEmpty() || at < 0) return CString();
  const std::u16string& text = textString.str();
  std::u16string out;
  for (size_t i = static_cast<size_t>(at); i < text.size() && static_cast<long long>(i) <= end; ++i) {
    WCHAR c = text[i];
    if (c == u'>') break;
    if (c != u'<') out += c;
  }
  return CString(std::move(out));
}

CString CHtmlNodeTree::ResolveHtmlToken(const CString& token) const {
  CString result;
  int from = 0;
  for (;;) {
    int open = token.Find(u'{', from);
    if (open < 0) break;
    int close = token.Find(u'}', open + 1);
    if (close < 0) break;
    CString inner = token.Mid(open + 1, close - open - 1);
    int first = inner.Find(u',');
    int second = first < 0 ? -1 : inner.Find(u',', first + 1);
    if (second >= 0) {
      int start = AsciiToInt(inner.Mid(first + 1, second - first - 1));
      int end = AsciiToInt(inner.Mid(second + 1));
      result += GetOuterHtml(m_strPage, start, end);
    }
    from = close + 1;
  }
  return result;
}

CString CHtmlNodeTree::GetElementsByAttr(const CString& tag, const CString& attribute, const CString& value) const {
  CString result;
  const std::u16string& page = m_strPage.str();
  for (const CHtmlNode& node : m_nodes) {
    if (_wcsicmp(node.name, tag) != 0) continue;
    if (node.startPos < 0 || static_cast<size_t>(node.startPos) >= page.size()) continue;
    std::u16string head = page.substr(static_cast<size_t>(node.startPos), 63);
    size_t gt = head.find(u'>');
    if (gt != std::u16string::npos) head.resize(gt + 1);
    bool quoted = false, matched = false;
    size_t pieceStart = 0;
    for (size_t i = 0; i < head.size() && !matched; ++i) {
      WCHAR c = head[i];
      if (c == u'"' || c == u'\'') {
        quoted = !quoted;
        continue;
      }
      // Attributes are also split at line ends, as a tag's name is.
      bool separator = !quoted && (c == u'<' || c == u'>' || c == u'\t' || c == u' ' || c == u'\n' || c == u'\r');
      if (!separator) continue;
      if (i > pieceStart) {
        CString piece(head.substr(pieceStart, i - pieceStart));
        int eq = piece.Find(u'=');
        if (eq >= 0) {
          CString name = piece.Left(eq);
          CString val = piece.Mid(eq + 1);
          val.Remove(u'"');
          val.Remove(u'\'');
          name.Trim();
          val.Trim();
          if (name.CompareNoCase(attribute) == 0 && val.CompareNoCase(value) == 0) matched = true;
        }
      }
      pieceStart = i + 1;
    }
    if (matched) {
      if (!result.IsEmpty()) result += u"|";
      result += Entry(node);
    }
  }
  return result;
}

CString CHtmlNodeTree::GetRelatedNode(int id, int kind) const {
  auto it = std::lower_bound(m_nodes.begin(), m_nodes.end(), id,
                             [](const CHtmlNode& node, int key) { return node.id < key; });
  bool found = it != m_nodes.end() && it->id == id;
  switch (kind) {
    case 0:
      return found ? Entry(*it) : CString();
    case 1:
      for (const CHtmlNode& node : m_nodes)
        if (node.parentId == id) return Entry(node);
      return CString();
    case 2:
      for (auto p = m_nodes.rbegin(); p != m_nodes.rend(); ++p)
        if (p->parentId == id) return Entry(*p);
      return CString();
    case 3:
      if (!found || it->parentId < 0) return CString();
      for (auto p = std::make_reverse_iterator(it); p != m_nodes.rend(); ++p)
        if (p->parentId == it->parentId) return Entry(*p);
      return CString();
    case 4:
      if (!found || it->parentId < 0) return CString();
      for (auto p = std::next(it); p != m_nodes.end(); ++p)
        if (p->parentId == it->parentId) return Entry(*p);
      return CString();
    default:
      return CString();
  }
}

CString CHtmlNodeTree::GetNodeTree(const CString& textString, const CString& rootName, int position) {
  int at = position;
  CString found = FindNextTag(textString, at);
  if (found != rootName || at < 0) return CString();
  WriteLog(u"GetNodeTree() BEGIN...");
  // Records of an earlier build never take part in this one.
  m_stack.clear();
  m_implicit.clear();
  m_completed.clear();
  m_completed.reserve(textString.GetLength() / 40 + 16);
  m_stack.reserve(256);

  const std::u16string& text = textString.str();
  const size_t n = text.size();
  CString root = rootName.Left(kNameLength);
  int counter = 0;
  bool inComment = false, inScript = false, inTag = false, collecting = false;
  bool finished = false, rootTagOpen = false, pushedThisTag = false;
  std::u16string name;
  size_t afterSeparator = 0;  // where the text after the tag's last separator starts
  size_t i = static_cast<size_t>(at);
  size_t tagAt = i;

  auto parentOfTop = [&] { return m_stack.empty() ? -1 : m_stack.back().id; };

  auto handleName = [&](CString upper) {
    if (upper.Find(u'/') >= 0) {
      CString endName = std::move(upper);
      endName.Remove(u'/');
      if (endName.GetLength() > kNameLength) endName.Truncate(kNameLength);
      m_implicit.clear();
      while (!m_stack.empty()) {
        if (m_stack.back().name == endName) {
          CHtmlNode node = std::move(m_stack.back());
          m_stack.pop_back();
          size_t gt = text.find(u'>', i);
          node.endPos = gt == std::u16string::npos ? -1 : static_cast<int>(gt);
          node.parentId = parentOfTop();
          m_completed.push_back(std::move(node));
          break;
        }
        if (m_completed.empty()) break;
        m_implicit.push_back(std::move(m_stack.back()));
        m_stack.pop_back();
        m_completed.back().parentId = parentOfTop();
        if (m_stack.empty()) {
          // A stray end tag: everything goes back as it was.
          for (auto r = m_implicit.rbegin(); r != m_implicit.rend(); ++r) m_stack.push_back(std::move(*r));
          m_implicit.clear();
          m_completed.back().parentId = parentOfTop();
          break;
        }
      }
      if (endName == root && m_stack.empty()) finished = true;
      return;
    }
    ++counter;
    bool recorded = !(upper == u"META") && !(upper == u"LINK");  // names are in upper case already
    if (upper.GetLength() > kNameLength) upper.Truncate(kNameLength);
    if (upper == root) rootTagOpen = true;
    if (recorded) {
      CHtmlNode node;
      node.id = counter;
      node.name = std::move(upper);
      node.startPos = static_cast<int>(tagAt);
      m_stack.push_back(std::move(node));
      pushedThisTag = true;
    }
  };

  // A comment or a script opening at i: the tag being read is dropped and
  // the opening's `length` characters passed.
  auto openInside = [&](bool& inside, size_t length) {
    inside = true;
    inTag = collecting = false;
    i += length;
  };

  while (i < n) {
    // Text between tags, comments and scripts: straight to the next
    // character that can matter.
    if (!inTag || inComment || inScript) {
      size_t next = text.find(inComment ? u'-' : u'<', i);
      if (next == std::u16string::npos) break;
      i = next;
    }
    WCHAR c = text[i];
    if (inComment) {
      PassInside(text, i, inComment, "-->", false);
      continue;
    }
    if (c == u'<' && At(text, i, "<!-", false)) {
      openInside(inComment, 4);
      continue;
    }
    if (inScript) {
      PassInside(text, i, inScript, "</script>", true);
      continue;
    }
    if (c == u'<' && At(text, i, "<script", true)) {
      openInside(inScript, 7);
      continue;
    }
    if (c == u'<') {
      tagAt = i;
      afterSeparator = i + 1;
      name.clear();
      inTag = collecting = true;
      pushedThisTag = rootTagOpen = false;
      ++i;
      continue;
    }
    if (!inTag) {
      ++i;
      continue;
    }
    if (collecting) {
      if (ExtendTagName(name, c)) {
        ++i;
        continue;
      }
      if (!name.empty()) {
        collecting = false;
        afterSeparator = i;
        handleName(UpperOf(name));
      }
    }
    if (IsBlank(c)) {
      afterSeparator = i + 1;
    } else if (c == u'>') {
      inTag = collecting = false;
      if (finished) break;
      bool selfClosed = text.compare(afterSeparator, i - afterSeparator, u"/") == 0;
      if (selfClosed && pushedThisTag && !m_stack.empty()) {
        m_stack.pop_back();
        if (rootTagOpen) break;
      }
      pushedThisTag = rootTagOpen = false;
    }
    ++i;
  }

  std::u16string result;
  result.reserve(m_completed.size() * 36);
  for (auto r = m_completed.rbegin(); r != m_completed.rend(); ++r) {
    if (!result.empty()) result += u'|';
    AppendEntry(result, *r);
  }
  // The map in id order: ids run from 1 to the counter.
  std::vector<int> slot(static_cast<size_t>(counter) + 1, -1);
  for (size_t k = 0; k < m_completed.size(); ++k) slot[static_cast<size_t>(m_completed[k].id)] = static_cast<int>(k);
  m_nodes.clear();
  m_nodes.reserve(m_completed.size());
  for (int k : slot)
    if (k >= 0) m_nodes.push_back(std::move(m_completed[static_cast<size_t>(k)]));
  m_completed.clear();
  WriteLog(u"GetNodeTree() END.");
  return CString(std::move(result));
}
