// The forgiving HTML scanner (see ambrel/html_node_tree.h).
#include "ambrel/html_node_tree.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/log.h"
#include "script/script.h"

namespace {

constexpr int kNameLength = 17;
// What one record of a build costs: its place on the open-element stack,
// in the completed list and in the node map, as the lists grow.
constexpr size_t kRecordCost = 3 * sizeof(CHtmlNode) + 16;

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

size_t DigitsOf(int value) {
  unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  size_t n = value < 0 ? 2 : 1;
  for (; magnitude >= 10000; magnitude /= 10000) n += 4;
  return n + (magnitude >= 10) + (magnitude >= 100) + (magnitude >= 1000);
}

// Writes value's digits (and sign) at p, which has room for DigitsOf(value)
// characters, and returns where they end.
char16_t* WriteInt(char16_t* p, int value) {
  char16_t* const end = p + DigitsOf(value);
  unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  char16_t* at = end;
  do {
    *--at = static_cast<char16_t>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  if (value < 0) *--at = u'-';
  return end;
}

size_t EntryLength(const CHtmlNode& node) {
  return DigitsOf(node.id) + DigitsOf(node.parentId) + node.name.str().size() + DigitsOf(node.startPos) +
         DigitsOf(node.endPos) + 4;
}

// "id,parentId,NAME,start,end", written at p (with room for EntryLength
// characters); returns where it ends.
char16_t* WriteEntry(char16_t* p, const CHtmlNode& node) {
  p = WriteInt(p, node.id);
  *p++ = u',';
  p = WriteInt(p, node.parentId);
  *p++ = u',';
  const std::u16string& name = node.name.str();
  p = std::copy(name.begin(), name.end(), p);
  *p++ = u',';
  p = WriteInt(p, node.startPos);
  *p++ = u',';
  return WriteInt(p, node.endPos);
}

void AppendEntry(std::u16string& out, const CHtmlNode& node) {
  const size_t at = out.size();
  out.resize(at + EntryLength(node));
  WriteEntry(out.data() + at, node);
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

namespace {

// The span that GetOuterHtml copies: from and count; false when it copies
// nothing.
bool OuterSpan(const CString& text, int position, int end, size_t* from, size_t* count) {
  int at = position;
  if (CHtmlNodeTree::FindNextTag(text, at).IsEmpty() || at < 0) return false;
  int length = text.GetLength();
  if (end >= 0 && end < at) return false;
  // Positions past the page's end are cut at its end.
  if (end < 0 || end >= length) end = length - 1;
  *from = static_cast<size_t>(at);
  *count = static_cast<size_t>(end - at + 1);
  return true;
}

}  // namespace

CString CHtmlNodeTree::GetOuterHtml(const CString& text, int position, int end) {
  size_t from = 0, count = 0;
  if (!OuterSpan(text, position, end, &from, &count)) return CString();
  qk::script::ChargeMemory(count * sizeof(char16_t));
  return CString(text.str().substr(from, count));
}

CString CHtmlNodeTree::GetTagText(const CString& textString, int position, int end) {
  int at = position;
  if (FindNextTag(textString, at).IsEmpty() || at < 0) return CString();
  const std::u16string& text = textString.str();
  size_t gt = text.find(u'>', static_cast<size_t>(at));
  qk::script::ChargeMemory((gt == std::u16string::npos ? text.size() - static_cast<size_t>(at) : gt - static_cast<size_t>(at)) *
                           sizeof(char16_t));
  std::u16string out;
  for (size_t i = static_cast<size_t>(at); i < text.size() && static_cast<long long>(i) <= end; ++i) {
    WCHAR c = text[i];
    if (c == u'>') break;
    if (c != u'<') out += c;
  }
  return CString(std::move(out));
}

CString CHtmlNodeTree::ResolveHtmlToken(const CString& token) const {
  // The spans first, so that the length of the whole is known (and paid
  // for) before any of it is copied.
  std::vector<std::pair<size_t, size_t>> spans;
  size_t total = 0;
  int from = 0;
  for (;;) {
    qk::script::CheckTime();
    int open = token.Find(u'{', from);
    if (open < 0) break;
    int close = token.Find(u'}', open + 1);
    if (close < 0) break;
    CString inner = token.Mid(open + 1, close - open - 1);
    int first = inner.Find(u',');
    int second = first < 0 ? -1 : inner.Find(u',', first + 1);
    size_t at = 0, count = 0;
    if (second >= 0 && OuterSpan(m_strPage, AsciiToInt(inner.Mid(first + 1, second - first - 1)),
                                 AsciiToInt(inner.Mid(second + 1)), &at, &count)) {
      qk::script::ChargeMemory(count * sizeof(char16_t) + sizeof(spans[0]));
      spans.emplace_back(at, count);
      total += count;
    }
    from = close + 1;
  }
  std::u16string result;
  result.reserve(total);
  for (const auto& [at, count] : spans) result.append(m_strPage.str(), at, count);
  return CString(std::move(result));
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
      // Room for the entry as the result grows.
      qk::script::ChargeMemory(2 * (EntryLength(node) + 1) * sizeof(char16_t));
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
  // Records of an earlier build never take part in this one, and whatever
  // way the build ends (a script's bounds may end it) its work lists go.
  struct WorkLists {
    CHtmlNodeTree& tree;
    ~WorkLists() {
      std::vector<CHtmlNode>().swap(tree.m_stack);
      std::vector<CHtmlNode>().swap(tree.m_completed);
    }
  } work{*this};
  m_stack.clear();
  m_completed.clear();

  const std::u16string& text = textString.str();
  const size_t n = text.size();
  CString root = rootName.Left(kNameLength);
  int counter = 0;
  bool inComment = false, inScript = false, inTag = false, collecting = false;
  bool finished = false, rootTagOpen = false, pushedThisTag = false;
  // Inside a tag: the quote of the attribute value being read (0 outside
  // one), and whether an attribute's "=" was the last thing met, so that a
  // quote there opens a value.
  WCHAR quote = 0;
  bool afterEquals = false;
  std::u16string name;
  size_t afterSeparator = 0;  // where the text after the tag's last separator starts
  size_t i = static_cast<size_t>(at);
  size_t tagAt = i;
  size_t steps = 0;
  // An element closed with the element it lay in (an unclosed p inside a
  // div) is not recorded: what was completed inside it goes to the element
  // that closed it. forward[id] is that element's id, -1 for the others.
  std::vector<int> forward;

  auto parentOfTop = [&] { return m_stack.empty() ? -1 : m_stack.back().id; };

  // An end tag closes the nearest open element of its name and the
  // elements left open inside it; when no open element has its name it
  // changes nothing.
  auto closeElement = [&](const CString& endName) {
    size_t match = m_stack.size();
    while (match > 0 && m_stack[match - 1].name != endName) --match;
    if (match == 0) return;
    --match;
    // Before anything is completed, only the element on top is closed.
    if (match + 1 < m_stack.size() && m_completed.empty()) return;
    int closer = m_stack[match].id;
    while (m_stack.size() > match + 1) {
      int dropped = m_stack.back().id;
      if (forward.size() <= static_cast<size_t>(dropped)) forward.resize(static_cast<size_t>(counter) + 1, -1);
      forward[static_cast<size_t>(dropped)] = closer;
      m_stack.pop_back();
    }
    CHtmlNode node = std::move(m_stack.back());
    m_stack.pop_back();
    size_t gt = text.find(u'>', i);
    node.endPos = gt == std::u16string::npos ? -1 : static_cast<int>(gt);
    node.parentId = parentOfTop();
    m_completed.push_back(std::move(node));
  };

  auto handleName = [&](CString upper) {
    if (upper.Find(u'/') >= 0) {
      CString endName = std::move(upper);
      endName.Remove(u'/');
      if (endName.GetLength() > kNameLength) endName.Truncate(kNameLength);
      closeElement(endName);
      if (endName == root && m_stack.empty()) finished = true;
      return;
    }
    ++counter;
    bool recorded = !(upper == u"META") && !(upper == u"LINK");  // names are in upper case already
    if (upper.GetLength() > kNameLength) upper.Truncate(kNameLength);
    if (upper == root) rootTagOpen = true;
    if (recorded) {
      // The record, its place in the lists as they grow and its name.
      qk::script::ChargeMemory(kRecordCost);
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
    quote = 0;
    i += length;
  };

  while (i < n) {
    if ((++steps & 0xFFFF) == 0) qk::script::CheckTime();
    // Text between tags, comments and scripts: straight to the next
    // character that can matter.
    if (!inTag || inComment || inScript) {
      size_t next = text.find(inComment ? u'-' : u'<', i);
      if (next == std::u16string::npos) break;
      i = next;
    }
    if (quote) {
      // A quoted value may hold anything, "/>" and "<" included: straight
      // to its closing quote.
      const size_t close = text.find(quote, i);
      if (close == std::u16string::npos) break;
      quote = 0;
      afterSeparator = close + 1;
      i = close + 1;
      continue;
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
      pushedThisTag = rootTagOpen = afterEquals = false;
      ++i;
      continue;
    }
    if (!inTag) {
      ++i;
      continue;
    }
    if (collecting) {
      if (!name.empty() && !IsTerminator(c)) {
        // The rest of the name at once: up to a character that ends it or
        // the "<" of another tag.
        size_t end = i + 1;
        while (end < n && !IsTerminator(text[end]) && text[end] != u'<') ++end;
        name.append(text, i, end - i);
        i = end;
        continue;
      }
      if (ExtendTagName(name, c)) {
        ++i;
        continue;
      }
      if (!name.empty()) {
        collecting = false;
        afterSeparator = i;
        handleName(UpperOf(name));
      }
    } else if (c == u'"' || c == u'\'') {
      if (afterEquals) {
        quote = c;
        afterEquals = false;
        ++i;
        continue;
      }
    } else if (c == u'=') {
      afterEquals = true;
    } else if (!IsBlank(c) && c != u'\r' && c != u'\f') {
      afterEquals = false;
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

  // Parents that were closed unrecorded give way to the elements that
  // closed them.
  for (CHtmlNode& node : m_completed)
    if (node.parentId >= 0 && static_cast<size_t>(node.parentId) < forward.size() &&
        forward[static_cast<size_t>(node.parentId)] >= 0)
      node.parentId = forward[static_cast<size_t>(node.parentId)];

  size_t length = 0;
  for (const CHtmlNode& node : m_completed) length += EntryLength(node) + 1;
  qk::script::ChargeMemory(length * sizeof(char16_t) + (static_cast<size_t>(counter) + 1) * sizeof(int));
  std::u16string result;
  if (!m_completed.empty()) {
    result.resize(length - 1);  // one "|" fewer than entries
    char16_t* p = result.data();
    for (auto r = m_completed.rbegin(); r != m_completed.rend(); ++r) {
      if (p != result.data()) *p++ = u'|';
      p = WriteEntry(p, *r);
    }
  }
  // The map in id order: ids run from 1 to the counter.
  std::vector<int> slot(static_cast<size_t>(counter) + 1, -1);
  for (size_t k = 0; k < m_completed.size(); ++k) slot[static_cast<size_t>(m_completed[k].id)] = static_cast<int>(k);
  m_nodes.clear();
  m_nodes.shrink_to_fit();
  m_nodes.reserve(m_completed.size());
  for (int k : slot)
    if (k >= 0) m_nodes.push_back(std::move(m_completed[static_cast<size_t>(k)]));
  WriteLog(u"GetNodeTree() END.");
  return CString(std::move(result));
}

size_t CHtmlNodeTree::HeldMemory() const {
  return (m_strPage.str().capacity() + m_strArticleUrl.str().capacity()) * sizeof(char16_t) +
         (m_nodes.capacity() + m_stack.capacity() + m_completed.capacity()) * sizeof(CHtmlNode);
}
