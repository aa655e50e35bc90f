// The HTML node tree and the automation object's methods over a fuzzed
// page, called with arguments taken from the input's tail.
//
// Input: the page's bytes, then (after the last NUL byte, when there is
// one) the calls to make. The first byte of the calls chooses how the page
// is decoded: UTF-8, UTF-16 units as they stand (so lone surrogates reach
// the scanner), windows-1251 or the system code page. Without calls the
// page is decoded as UTF-8 and walked as the script prefix walks it.
//
// Checked after every call: positions returned lie inside the page on the
// characters they name, spans are the page's own text, every node's parent
// opened before it and encloses it, relatives are what they are asked to
// be, texts the scanner makes itself (names, entries) are well-formed
// UTF-16 when the page is, and the article file written is valid UTF-8.
// One call runs a few methods from a script on the engine under a small
// memory bound, so that a build or a copy may fail in the middle; the tree
// left behind is checked the same way.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ambrel/html_node_tree.h"
#include "ambrel/script_host.h"
#include "ambrel/text_file.h"
#include "kernel/kernel.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::u16string& detail = {}) {
  std::fprintf(stderr, "node tree fuzzer: %s: %s\n", what, qk::ToUtf8(detail).c_str());
  __builtin_trap();
}
#define CHECK(cond, ...) \
  do {                   \
    if (!(cond)) Fail(#cond, ##__VA_ARGS__); \
  } while (0)

bool WellFormed(const std::u16string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

// Strict UTF-8: shortest forms, no surrogates, nothing beyond U+10FFFF.
bool ValidUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    uint32_t v = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
      unsigned char t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      v = (v << 6) | (t & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (v < kLeast[n] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

// The calls' bytes, read from the front; zeros once they run out.
class Tail {
 public:
  Tail(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  bool More() const { return at_ < n_; }
  uint8_t Byte() { return at_ < n_ ? p_[at_++] : 0; }
  unsigned U16() { return Byte() | (Byte() << 8); }

 private:
  const uint8_t* p_;
  size_t n_;
  size_t at_ = 0;
};

const char16_t* const kNames[] = {u"HTML", u"BODY", u"DIV", u"P", u"A", u"SPAN", u"TABLE", u"TD", u"LI",
                                  u"UL", u"IMG", u"SCRIPT", u"LINK", u"META", u"html", u"div", u"class",
                                  u"id", u"href", u"story", u"main", u"", u"/", u"DIV\r"};

struct Fuzz {
  CCodeObject code;
  CString page;
  std::u16string text;  // the page's units
  bool wellFormed = true;
  CString root;         // the name of the last tree build
  Tail tail;

  explicit Fuzz(Tail t) : tail(t) {}

  const std::vector<CHtmlNode>& Nodes() { return code.Tree().Nodes(); }

  const CHtmlNode* Find(int id) {
    for (const CHtmlNode& n : Nodes())
      if (n.id == id) return &n;
    return nullptr;
  }

  // A position: inside the page, at its edges, beyond it, or on a record.
  int Position() {
    const int length = static_cast<int>(text.size());
    switch (tail.Byte() % 10) {
      case 0: return -1;
      case 1: return INT_MIN;
      case 2: return INT_MAX;
      case 3: return length;
      case 4: return length - 1;
      case 5:
      case 6: {
        if (Nodes().empty()) return static_cast<int>(tail.U16() % (text.size() + 1));
        const CHtmlNode& n = Nodes()[tail.Byte() % Nodes().size()];
        return (tail.Byte() & 1) ? n.endPos : n.startPos;
      }
      default: return static_cast<int>(tail.U16() % (text.size() + 1));
    }
  }

  int Id() {
    switch (tail.Byte() % 4) {
      case 0: return static_cast<int>(static_cast<int8_t>(tail.Byte()));
      case 1: return INT_MAX;
      default:
        return Nodes().empty() ? 1 : Nodes()[tail.Byte() % Nodes().size()].id;
    }
  }

  CString Name() {
    switch (tail.Byte() % 4) {
      case 0: return CString(kNames[tail.Byte() % (sizeof kNames / sizeof kNames[0])]);
      case 1: {
        if (Nodes().empty()) return root;
        CString name = Nodes()[tail.Byte() % Nodes().size()].name;
        if (tail.Byte() & 1) name.MakeLower();
        return name;
      }
      case 2: {
        std::u16string s;
        for (unsigned k = tail.Byte() % 12; k > 0; --k) s += static_cast<char16_t>(tail.Byte());
        return CString(std::move(s));
      }
      default: {
        // The name of the tag at a position, as a script finds it.
        int at = Position();
        return code.GetNodeName(at);
      }
    }
  }

  // The page span [start, start + s.size()) is s.
  bool IsPageSpan(const std::u16string& s, size_t start) {
    return start <= text.size() && s.size() <= text.size() - start && text.compare(start, s.size(), s) == 0;
  }

  void CheckTree(const CString& result) {
    std::multiset<std::u16string> entries = CheckNodes(Nodes());
    // Once the root is closed every element opened inside it was closed
    // (recorded, or given way to the element that closed it): every parent
    // named is a record.
    const CHtmlNode* top = Find(1);
    if (top && top->parentId == -1 && top->name == root.Left(17))
      for (const CHtmlNode& n : Nodes()) CHECK(n.parentId == -1 || Find(n.parentId), CHtmlNodeTree::Entry(n).str());
    // The result lists every record once.
    std::multiset<std::u16string> listed;
    const std::u16string& r = result.str();
    for (size_t from = 0; !r.empty();) {
      size_t bar = r.find(u'|', from);
      listed.insert(r.substr(from, bar == std::u16string::npos ? std::u16string::npos : bar - from));
      if (bar == std::u16string::npos) break;
      from = bar + 1;
    }
    CHECK(listed == entries, r);
  }

  // Every record lies on the page, its parent opened before it and
  // encloses it; the records' entries.
  std::multiset<std::u16string> CheckNodes(const std::vector<CHtmlNode>& nodes) {
    auto find = [&nodes](int id) -> const CHtmlNode* {
      for (const CHtmlNode& n : nodes)
        if (n.id == id) return &n;
      return nullptr;
    };
    std::multiset<std::u16string> entries;
    int lastId = 0;
    for (const CHtmlNode& n : nodes) {
      std::u16string entry = CHtmlNodeTree::Entry(n).str();
      CHECK(n.id > lastId, entry);
      lastId = n.id;
      CHECK(n.startPos >= 0 && static_cast<size_t>(n.startPos) < text.size() && text[n.startPos] == u'<', entry);
      CHECK(n.endPos == -1 || (n.endPos > n.startPos && static_cast<size_t>(n.endPos) < text.size() &&
                               text[n.endPos] == u'>'),
            entry);
      CHECK(!n.name.IsEmpty() && n.name.GetLength() <= 17, entry);
      CHECK(n.parentId == -1 || (n.parentId >= 1 && n.parentId < n.id), entry);
      if (const CHtmlNode* parent = find(n.parentId)) {
        CHECK(parent->startPos < n.startPos, entry);
        CHECK(n.endPos < 0 || parent->endPos < 0 || n.endPos <= parent->endPos, entry);
      }
      if (wellFormed) CHECK(WellFormed(entry), entry);
      entries.insert(std::move(entry));
    }
    return entries;
  }

  // The methods called from a script, as the engine calls them, under a
  // small memory bound that a build or a copy may pass (the method then
  // fails in the script): the tree stays whole either way.
  void RunScript() {
    qk::script::Limits limits;
    limits.timeMs = 5000;
    limits.memoryBytes = (512u << 10) + static_cast<size_t>(tail.Byte()) * (16u << 10);
    CScriptHost host;
    if (!host.CreateEngine(limits)) return;
    host.GetCodeObject()->Tree().SetPageText(page);
    std::u16string name = Name().str();
    std::string literal = "\"";
    for (char16_t c : name) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(c));
      literal += hex;
    }
    literal += "\"";
    std::string pos = std::to_string(Position()), a = std::to_string(Position()), b = std::to_string(Position());
    std::string script =
        "var r;\n"
        "try { r = GetNodeTree(" + literal + ", " + pos + "); } catch (e) {}\n"
        "try { r = GetHTML(\"{outerHTML,\" + " + a + " + \",\" + " + b + " + \"}{outerHTML,0,-1}\"); } catch (e) {}\n"
        "try { r = GetNodeElementsByAttr(" + literal + ", \"class\", \"story\"); } catch (e) {}\n"
        "try { r = GetNodeOuterHTML(" + a + ", " + b + ") + GetNodeAttr(" + a + ", -1); } catch (e) {}\n"
        "try { r = GetNodeElement(1, 1) + GetNodeName(" + pos + ") + GetNodeStartPos(" + pos + "); } catch (e) {}\n";
    host.ParseScript(CString(script.c_str()));
    CheckNodes(host.GetCodeObject()->Tree().Nodes());
  }

  // The entry is one of the tree's records, which is returned.
  const CHtmlNode* Recorded(const CString& entry) {
    for (const CHtmlNode& n : Nodes())
      if (CHtmlNodeTree::Entry(n) == entry) return &n;
    Fail("entry is no record", entry.str());
  }

  void BuildTree(const CString& name, int pos) {
    std::vector<CHtmlNode> before = Nodes();
    CString result = code.GetNodeTree(name, pos);
    int at = pos;
    CString found = CHtmlNodeTree::FindNextTag(page, at);
    if (found != name || at < 0) {
      // Not the root asked for: nothing built, the map as it was.
      CHECK(result.IsEmpty(), result.str());
      CHECK(Nodes().size() == before.size());
      return;
    }
    root = name;
    CheckTree(result);
  }

  void Call(uint8_t op) {
    switch (op % 13) {
      case 0: {
        int pos = Position();
        CString name = code.GetNodeName(pos);
        int start = code.GetNodeStartPos(pos);
        if (name == u"<END>") {
          CHECK(start == -1);
          break;
        }
        // The name is the upper-case of the tag's own characters.
        CHECK(start >= 0 && static_cast<size_t>(start) < text.size() && text[start] == u'<');
        CHECK(pos < 0 || start >= pos);
        // Blanks may stand between the "<" and the name.
        size_t from = static_cast<size_t>(start) + 1;
        while (from < text.size() && (text[from] == u' ' || text[from] == u'\t' || text[from] == u'\n')) ++from;
        CHECK(!name.IsEmpty() && from + name.GetLength() <= text.size(), name.str());
        for (int k = 0; k < name.GetLength(); ++k) {
          WCHAR own = text[from + k];
          CHECK(name[k] == own || name[k] == towupper16(own), name.str());
        }
        break;
      }
      case 1:
      case 2: {
        CString name = Name();
        BuildTree(name, Position());
        break;
      }
      case 3: {
        int start = Position(), end = Position();
        CString outer = code.GetNodeOuterHTML(start, end);
        if (outer.IsEmpty()) break;
        int at = start;
        CHtmlNodeTree::FindNextTag(page, at);
        CHECK(at >= 0 && outer.str()[0] == u'<' && IsPageSpan(outer.str(), static_cast<size_t>(at)), outer.str());
        CHECK(end < 0 || static_cast<size_t>(at) + outer.GetLength() <= static_cast<size_t>(end) + 1);
        CString inner = code.Outer2InnerHTML(outer);
        CHECK(outer.str().find(inner.str()) != std::u16string::npos, inner.str());
        break;
      }
      case 4: {
        int start = Position(), end = Position();
        CString tag = code.GetNodeAttr(start, end);
        CHECK(static_cast<size_t>(tag.GetLength()) <= text.size());
        CHECK(tag.Find(u'<') < 0 && tag.Find(u'>') < 0, tag.str());
        break;
      }
      case 5: {
        // A token of the records' spans, with text around and between.
        std::u16string token;
        size_t groups = 0;
        bool ofRecords = true;
        for (unsigned k = tail.Byte() % 6; k > 0; --k) {
          int start = Position(), end = Position();
          if (!Nodes().empty() && (tail.Byte() & 1)) {
            const CHtmlNode& n = Nodes()[tail.Byte() % Nodes().size()];
            start = n.startPos;
            end = n.endPos;
          } else {
            ofRecords = false;
          }
          std::string g = "x{outerHTML," + std::to_string(start) + "," + std::to_string(end) + "}";
          token.append(g.begin(), g.end());
          ++groups;
        }
        if (tail.Byte() & 1) {
          token += u"{o,";
          ofRecords = false;
          for (unsigned k = tail.Byte() % 8; k > 0; --k) token += static_cast<char16_t>(tail.Byte());
        }
        CString html = code.GetHTML(CString(token));
        CHECK(static_cast<size_t>(html.GetLength()) <= (groups + 1) * text.size());
        if (ofRecords && wellFormed) CHECK(WellFormed(html.str()));
        break;
      }
      case 6: {
        CString tag = Name(), attr = Name(), value = Name();
        CString found = code.GetNodeElementsByAttr(tag, attr, value);
        int from = 0;
        while (from >= 0 && !found.IsEmpty()) {
          int bar = found.Find(u'|', from);
          CString entry = found.Mid(from, bar < 0 ? found.GetLength() - from : bar - from);
          CHECK(Recorded(entry)->name.CompareNoCase(tag) == 0, entry.str());
          from = bar < 0 ? -1 : bar + 1;
        }
        break;
      }
      case 7:
      case 8: {
        int id = Id(), kind = tail.Byte() % 7 - 1;
        CString related = code.GetNodeElement(id, kind);
        const CHtmlNode* self = Find(id);
        if (related.IsEmpty()) {
          CHECK(kind != 0 || !self);
          break;
        }
        const CHtmlNode* r = Recorded(related);
        if (kind == 0) CHECK(r == self);
        if (kind == 1 || kind == 2) CHECK(r->parentId == id);
        if (kind == 3 || kind == 4) {
          CHECK(self && self->parentId >= 0 && r->parentId == self->parentId);
          CHECK(kind == 3 ? r->id < id : r->id > id);
        }
        CHECK(kind >= 0 && kind <= 4);
        break;
      }
      case 9: {
        CString inner = code.Outer2InnerHTML(page);
        CHECK(text.find(inner.str()) != std::u16string::npos);
        break;
      }
      case 10:
        WriteArticle();
        break;
      case 12:
        RunScript();
        break;
      case 11: {
        // Every record walked as a script walks it: its span and relatives.
        size_t count = Nodes().size() < 64 ? Nodes().size() : 64;
        for (size_t k = 0; k < count; ++k) {
          const CHtmlNode n = Nodes()[k];
          std::string g = "{outerHTML," + std::to_string(n.startPos) + "," + std::to_string(n.endPos) + "}";
          CString html = code.GetHTML(CString(g.c_str()));
          CHECK(html.IsEmpty() || IsPageSpan(html.str(), static_cast<size_t>(n.startPos)));
          if (wellFormed && n.endPos >= 0) CHECK(WellFormed(html.str()), html.str());
          for (int kind = 0; kind <= 4; ++kind) {
            CString related = code.GetNodeElement(n.id, kind);
            if (!related.IsEmpty()) Recorded(related);
          }
        }
        break;
      }
    }
  }

  // The article file carries the text as valid UTF-8, lone surrogates as
  // U+FFFD.
  void WriteArticle() {
    int start = Position(), end = Position();
    CString body = code.GetNodeOuterHTML(start, end);
    if (tail.Byte() & 1) body = page;
    code.SetOutputPath(u"\\ChannelData\\a.sft");
    code.SetArticleBody(body);
    std::ifstream in(qk::HostPath(u"\\ChannelData\\a.htm"), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::remove(qk::HostPath(u"\\ChannelData\\a.htm").c_str());
    std::string written = bytes.str();
    if (body.IsEmpty()) return;
    CHECK(ValidUtf8(written));
    std::u16string back = qk::FromUtf8(written);
    CHECK(back.size() == body.str().size());
    for (size_t i = 0; i < back.size(); ++i)
      CHECK(back[i] == body.str()[i] || back[i] == u'\xFFFD');
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string tmpl = "/tmp/quillet-fuzz-pages-XXXXXX";
  std::string root = mkdtemp(tmpl.data());
  qk::SetDeviceRoot(root);
  std::filesystem::create_directories(root + "/ChannelData");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The page, then the calls after the last NUL.
  size_t pageSize = size;
  while (pageSize > 0 && data[pageSize - 1] != 0) --pageSize;
  bool calls = pageSize > 0;
  if (!calls) pageSize = size + 1;
  Fuzz f(calls ? Tail(data + pageSize, size - pageSize) : Tail(nullptr, 0));
  --pageSize;  // without the NUL

  static const UINT kCodePages[] = {CP_UTF8, 0, 1251, CP_ACP};
  const uint8_t mode = calls ? f.tail.Byte() % 4 : 0;
  if (mode == 1) {
    std::u16string units;
    for (size_t i = 0; i + 1 < pageSize; i += 2) units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    f.page = CString(std::move(units));
  } else {
    WCHAR* decoded = nullptr;
    int length = 0;
    DecodeTextBytes(data, pageSize, &decoded, &length, kCodePages[mode]);
    CHECK(length >= 0 && (length == 0 || decoded));
    f.page = decoded && length > 0 ? CString(decoded, length) : CString();
    std::free(decoded);
    // UTF-8 (without a UTF-16 mark) decodes to well-formed UTF-16, but for
    // surrogates the bytes encode themselves: the decoder keeps those, so
    // that text goes back to the same bytes (the article file writes them
    // as U+FFFD).
    bool utf16Mark = pageSize > 1 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF));
    bool encodedSurrogate = false;
    for (size_t i = 0; i + 1 < pageSize && !encodedSurrogate; ++i)
      encodedSurrogate = data[i] == 0xED && data[i + 1] >= 0xA0 && data[i + 1] <= 0xBF;
    if (mode == 0 && !utf16Mark && !encodedSurrogate) CHECK(WellFormed(f.page.str()));
  }
  f.text = f.page.str();
  f.wellFormed = WellFormed(f.text);
  f.code.Tree().SetPageText(f.page);

  if (!calls) {
    // As the script prefix does: the first HTML element's tree, then its
    // records walked.
    int pos = 0;
    for (int k = 0; k < 10000; ++k) {
      CString name = f.code.GetNodeName(pos);
      if (name == u"<END>") break;
      if (name == u"HTML" || k == 0) f.BuildTree(name, pos);
      if (name == u"HTML") break;
      pos = f.code.GetNodeStartPos(pos) + name.GetLength() + 1;
    }
    f.Call(11);
    return 0;
  }
  for (int k = 0; k < 64 && f.tail.More(); ++k) f.Call(f.tail.Byte());
  return 0;
}
