#include "quillet/feeds/rss_xml.h"

#include <tinyxml.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/encoding.h"
#include "common/localize.h"
#include "common/log.h"
#include "kernel/kernel.h"
#include "quillet/feeds/feed_date.h"
#include "quillet/feeds/image_ref.h"

namespace {

std::atomic<int> g_nameCounter{0};

struct ChannelLabel {
  const char* name;
  const char16_t* label;
};
const ChannelLabel kChannelElements[] = {
    {"title", u"Title"},
    {"link", u"Link"},
    {"description", u"Description"},
    {"language", u"Language"},
    {"copyright", u"Copyright"},
    {"managingEditor", u"ManagingEditor"},
    {"webMaster", u"WebMaster"},
    {"pubDate", u"Published Date"},
    {"lastBuildDate", u"Last Build Date"},
    {"category", u"Category"},
    {"generator", u"Generator"},
    {"docs", u"Docs"},
    {"cloud", u"Cloud"},
    {"ttl", u"TTL"},
    {"image", u"Image"},
    {"textInput", u"TextInput"},
    {"skipHours", u"SkipHours"},
    {"skipDays", u"SkipDays"},
};
const char* kItemElements[] = {"title",    "link", "description", "author",  "category", "comments",
                               "enclosure", "guid", "pubDate",     "dc:date", "source"};

bool Is(const TiXmlElement* e, const char* name) { return CEXML::NameIs(e, name); }

const ChannelLabel* ChannelEntry(const char* name) {
  for (const ChannelLabel& c : kChannelElements) {
    if (strcasecmp(c.name, name) == 0) return &c;
  }
  return nullptr;
}

bool IsItemElement(const char* name) {
  for (const char* n : kItemElements) {
    if (strcasecmp(n, name) == 0) return true;
  }
  return false;
}

// A copy for finding the ASCII markers "<img" and "src=" without regard to
// case; other characters are kept, so positions match the original.
CString AsciiLower(const CString& text) {
  CString lower(text);
  for (char16_t& c : lower.str()) {
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
  }
  return lower;
}

// Text for an HTML page: the markup characters escaped.
CString HtmlEscape(const CString& text) {
  CString out;
  std::u16string& o = out.str();
  for (char16_t c : text.str()) {
    switch (c) {
      case u'&': o += u"&amp;"; break;
      case u'<': o += u"&lt;"; break;
      case u'>': o += u"&gt;"; break;
      case u'"': o += u"&quot;"; break;
      default: o += c;
    }
  }
  return out;
}

// True when the element holds markup or text other than blanks.
bool HasContent(const TiXmlElement* e) {
  for (const TiXmlNode* c = e->FirstChild(); c; c = c->NextSibling()) {
    if (c->ToElement()) return true;
    if (c->ToText() && std::string(c->Value()).find_first_not_of(" \t\r\n") != std::string::npos) return true;
  }
  return false;
}

// How a title, summary or content carries its text: its "type" (Atom 1.0:
// text, html or xhtml; Atom 0.3: a media type) and its Atom 0.3 "mode"
// (xml, escaped or base64).
enum class TextKind {
  kUntyped,  // neither type nor mode: read as feed text always has been
  kText,     // plain text
  kHtml,     // HTML escaped into the element's text
  kMarkup,   // markup written as child elements
  kBinary,   // base64 of something that is no text
};

struct TextConstruct {
  TextKind kind = TextKind::kUntyped;
  bool base64 = false;
};

std::string LowerAttribute(const TiXmlElement* e, const char* name) {
  const char* v = e->Attribute(name);
  std::string out;
  for (const char* p = v; p && *p && *p != ';'; ++p) {
    char c = *p;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    out += c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
  }
  return out;
}

bool EndsWith(const std::string& s, const char* tail) {
  size_t n = strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

TextConstruct ConstructOf(const TiXmlElement* e) {
  TextConstruct c;
  std::string type = LowerAttribute(e, "type");
  std::string mode = LowerAttribute(e, "mode");
  bool typed = e->Attribute("type") != nullptr;
  c.base64 = mode == "base64";
  if (!typed) {
    // Atom 0.3 text is plain text unless it says otherwise; escaped text
    // without a type is the HTML that such feeds escape.
    if (!e->Attribute("mode")) return c;
    c.kind = mode == "escaped" ? TextKind::kHtml : TextKind::kText;
  } else if (type == "text" || type == "text/plain") {
    c.kind = TextKind::kText;
  } else if (type == "html" || type == "text/html") {
    c.kind = TextKind::kHtml;
  } else if (type == "xhtml" || EndsWith(type, "+xml") || EndsWith(type, "/xml")) {
    c.kind = TextKind::kMarkup;
  } else if (type.compare(0, 5, "text/") == 0) {
    c.kind = TextKind::kText;
  } else {
    c.kind = c.base64 ? TextKind::kBinary : TextKind::kUntyped;
  }
  // Markup that arrives escaped or encoded is HTML text; child elements are
  // markup whatever the type says.
  if (c.kind == TextKind::kMarkup && (c.base64 || mode == "escaped")) c.kind = TextKind::kHtml;
  if (c.kind == TextKind::kText && !c.base64 && e->FirstChildElement()) c.kind = TextKind::kMarkup;
  return c;
}

// True when the element holds text that can be shown.
bool HasShowableContent(const TiXmlElement* e) { return HasContent(e) && ConstructOf(e).kind != TextKind::kBinary; }

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+' || c == '-') return 62;
  if (c == '/' || c == '_') return 63;
  return -1;
}

// The bytes of base64 text; line breaks and blanks between its groups are
// passed over, and it ends at its padding or at the first other character.
std::string DecodeBase64(const std::string& text) {
  std::string out;
  out.reserve(text.size() / 4 * 3);
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    int v = Base64Value(c);
    if (v < 0) break;
    bits = (bits << 6) | uint32_t(v);
    if (++count == 4) {
      out += char(bits >> 16);
      out += char(bits >> 8);
      out += char(bits);
      bits = 0;
      count = 0;
    }
  }
  if (count == 2) {
    out += char(bits >> 4);
  } else if (count == 3) {
    out += char(bits >> 10);
    out += char(bits >> 2);
  }
  return out;
}

bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

// The plain text of HTML: tags and comments removed (a line break or a
// paragraph is a blank) and character references decoded. A "<" that starts
// no tag is a character of the text.
CString HtmlToText(const CString& html) {
  const std::u16string& h = html.str();
  const size_t npos = std::u16string::npos;
  std::u16string out;
  out.reserve(h.size());
  for (size_t i = 0, n = h.size(); i < n;) {
    if (h[i] == u'<' && h.compare(i, 4, u"<!--") == 0) {
      size_t end = h.find(u"-->", i + 4);
      i = end == npos ? n : end + 3;
      continue;
    }
    char16_t next = i + 1 < n ? h[i + 1] : 0;
    if (h[i] == u'<' && (IsAsciiLetter(next) || next == u'/' || next == u'!' || next == u'?')) {
      // The tag ends at its first ">" outside a quoted attribute value.
      size_t j = i + 1;
      char16_t quote = 0, last = 0;
      for (; j < n && (quote || h[j] != u'>'); ++j) {
        if (quote) {
          if (h[j] == quote) quote = 0;
        } else if ((h[j] == u'"' || h[j] == u'\'') && last == u'=') {
          quote = h[j];
        }
        if (h[j] != u' ') last = h[j];
      }
      if (j < n) {
        size_t name = next == u'/' ? i + 2 : i + 1, end = name;
        while (end < j && (IsAsciiLetter(h[end]) || (h[end] >= u'0' && h[end] <= u'9'))) ++end;
        std::u16string tag = h.substr(name, end - name);
        for (char16_t& c : tag) c = c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
        if (tag == u"br" || tag == u"p" || tag == u"div" || tag == u"li") out += u' ';
        i = j + 1;
        continue;
      }
    }
    out += h[i++];
  }
  CString text(std::move(out));
  ReplaceHTMLEntities(text);
  return text;
}

// A title is one line of plain text: every run of white space in it
// (line breaks and indents of the feed's layout) is one blank.
void FoldWhiteSpace(CString& text) {
  std::u16string& t = text.str();
  std::u16string out;
  out.reserve(t.size());
  bool blank = false;
  for (char16_t c : t) {
    if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r') {
      blank = true;
      continue;
    }
    if (blank && !out.empty()) out += u' ';
    blank = false;
    out += c;
  }
  t.swap(out);
}

// A "|" would shift the fields of an image job.
CString JobField(const CString& text) {
  CString out(text);
  out.Replace(u"|", u"%7C");
  return out;
}

void AppendEscaped(std::string& out, const char* s, bool attribute) {
  for (; s && *s; ++s) {
    switch (*s) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"':
        if (attribute) {
          out += "&quot;";
          break;
        }
        [[fallthrough]];
      default: out += *s;
    }
  }
}

bool IsVoidElement(const char* name) {
  static const char* const kVoid[] = {"area", "base", "br",    "col",   "embed",  "hr",    "img",
                                      "input", "link", "meta", "param", "source", "track", "wbr"};
  for (const char* v : kVoid) {
    if (strcasecmp(v, name) == 0) return true;
  }
  return false;
}

bool HasPrefix(const std::vector<std::string>& list, const std::string& prefix) {
  return std::find(list.begin(), list.end(), prefix) != list.end();
}

// Adds to needed the prefixes that names of the element and its descendants
// use and that no element on the way down from where the walk began declares.
void CollectUndeclaredPrefixes(const TiXmlElement* e, std::vector<std::string>& declared,
                               std::vector<std::string>& needed) {
  size_t mark = declared.size();
  for (const TiXmlAttribute* a = e->FirstAttribute(); a; a = a->Next()) {
    if (strncmp(a->Name(), "xmlns:", 6) == 0) declared.push_back(a->Name() + 6);
  }
  auto use = [&](const char* name) {
    const char* colon = strchr(name, ':');
    if (!colon || colon == name) return;
    std::string prefix(name, size_t(colon - name));
    if (prefix == "xml" || prefix == "xmlns" || HasPrefix(declared, prefix) || HasPrefix(needed, prefix)) return;
    needed.push_back(prefix);
  };
  use(e->Value());
  for (const TiXmlAttribute* a = e->FirstAttribute(); a; a = a->Next()) use(a->Name());
  for (const TiXmlElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement())
    CollectUndeclaredPrefixes(c, declared, needed);
  declared.resize(mark);
}

// The namespace declarations that markup cut out of the document needs: a
// prefix that the element or its descendants use gets the declaration of
// the nearest ancestor that declares it (an inline SVG written with a
// prefix declared on the feed keeps its namespace, and so its picture).
std::string NeededDeclarations(const TiXmlElement* e) {
  std::vector<std::string> declared, needed;
  CollectUndeclaredPrefixes(e, declared, needed);
  std::string out;
  for (const std::string& prefix : needed) {
    std::string attribute = "xmlns:" + prefix;
    for (const TiXmlNode* n = e->Parent(); n; n = n->Parent()) {
      const TiXmlElement* ancestor = n->ToElement();
      const char* uri = ancestor ? ancestor->Attribute(attribute.c_str()) : nullptr;
      if (!uri) continue;
      out += ' ' + attribute + "=\"";
      AppendEscaped(out, uri, true);
      out += '"';
      break;
    }
  }
  return out;
}

// Markup of a node as HTML: text escaped, character data as it stands. The
// top element of markup taken out of the document (cut) carries the
// namespace declarations that its names need.
void SerialiseNode(const TiXmlNode* node, std::string& out, bool cut = false) {
  if (const TiXmlText* text = node->ToText()) {
    if (text->CDATA()) out += text->Value();
    else AppendEscaped(out, text->Value(), false);
    return;
  }
  const TiXmlElement* e = node->ToElement();
  if (!e) return;  // comments and the like are no content
  out += '<';
  out += e->Value();
  for (const TiXmlAttribute* a = e->FirstAttribute(); a; a = a->Next()) {
    out += ' ';
    out += a->Name();
    out += "=\"";
    AppendEscaped(out, a->Value(), true);
    out += '"';
  }
  if (cut) out += NeededDeclarations(e);
  if (!e->FirstChild() && IsVoidElement(e->Value())) {
    out += " />";
    return;
  }
  out += '>';
  for (const TiXmlNode* c = e->FirstChild(); c; c = c->NextSibling()) SerialiseNode(c, out);
  out += "</";
  out += e->Value();
  out += '>';
}

// URL resolution of a reference against a base address.
struct UrlParts {
  std::u16string scheme, authority, path, query, fragment;
  bool hasScheme = false, hasAuthority = false, hasQuery = false, hasFragment = false;
};

bool IsSchemeChar(char16_t c, bool first) {
  bool alpha = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
  if (first) return alpha;
  return alpha || (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
}

UrlParts SplitUrl(const std::u16string& u) {
  const size_t npos = std::u16string::npos;
  UrlParts p;
  size_t i = 0;
  size_t colon = u.find(u':');
  if (colon != npos && colon > 0) {
    bool ok = true;
    for (size_t k = 0; k < colon && ok; ++k) ok = IsSchemeChar(u[k], k == 0);
    if (ok) {
      p.scheme = u.substr(0, colon);
      p.hasScheme = true;
      i = colon + 1;
    }
  }
  if (u.compare(i, 2, u"//") == 0) {
    size_t e = u.find_first_of(u"/?#", i + 2);
    if (e == npos) e = u.size();
    p.authority = u.substr(i + 2, e - i - 2);
    p.hasAuthority = true;
    i = e;
  }
  size_t e = u.find_first_of(u"?#", i);
  if (e == npos) e = u.size();
  p.path = u.substr(i, e - i);
  i = e;
  if (i < u.size() && u[i] == u'?') {
    e = u.find(u'#', i);
    if (e == npos) e = u.size();
    p.query = u.substr(i + 1, e - i - 1);
    p.hasQuery = true;
    i = e;
  }
  if (i < u.size() && u[i] == u'#') {
    p.fragment = u.substr(i + 1);
    p.hasFragment = true;
  }
  return p;
}

// The path without "." and ".." segments, in one pass over its segments.
std::u16string RemoveDotSegments(const std::u16string& path) {
  const size_t npos = std::u16string::npos;
  bool absolute = !path.empty() && path[0] == u'/';
  std::vector<std::u16string_view> kept;
  bool trailingSlash = false;
  std::u16string_view all(path);
  size_t i = absolute ? 1 : 0;
  while (i <= path.size()) {
    size_t j = path.find(u'/', i);
    if (j == npos) j = path.size();
    std::u16string_view segment = all.substr(i, j - i);
    bool last = j == path.size();
    if (segment == u"." || segment == u"..") {
      if (segment == u".." && !kept.empty()) kept.pop_back();
      trailingSlash = last;
    } else {
      kept.push_back(segment);
      trailingSlash = false;
    }
    i = j + 1;
  }
  std::u16string out;
  out.reserve(path.size());
  if (absolute) out += u'/';
  for (size_t k = 0; k < kept.size(); ++k) {
    if (k) out += u'/';
    out += kept[k];
  }
  if (trailingSlash && !kept.empty()) out += u'/';
  return out;
}

std::u16string ResolveUrl(const std::u16string& base, const std::u16string& ref) {
  UrlParts b = SplitUrl(base), r = SplitUrl(ref), t;
  if (r.hasScheme) {
    t = r;
    t.path = RemoveDotSegments(r.path);
  } else {
    if (r.hasAuthority) {
      t.authority = r.authority;
      t.hasAuthority = true;
      t.path = RemoveDotSegments(r.path);
      t.query = r.query;
      t.hasQuery = r.hasQuery;
    } else {
      if (r.path.empty()) {
        t.path = b.path;
        t.query = r.hasQuery ? r.query : b.query;
        t.hasQuery = r.hasQuery || b.hasQuery;
      } else {
        if (r.path[0] == u'/') {
          t.path = RemoveDotSegments(r.path);
        } else {
          std::u16string merged;
          if (b.hasAuthority && b.path.empty()) {
            merged = u"/" + r.path;
          } else {
            size_t slash = b.path.rfind(u'/');
            merged = (slash == std::u16string::npos ? std::u16string() : b.path.substr(0, slash + 1)) + r.path;
          }
          t.path = RemoveDotSegments(merged);
        }
        t.query = r.query;
        t.hasQuery = r.hasQuery;
      }
      t.authority = b.authority;
      t.hasAuthority = b.hasAuthority;
    }
    t.scheme = b.scheme;
    t.hasScheme = b.hasScheme;
  }
  std::u16string out;
  if (t.hasScheme) out += t.scheme + u":";
  if (t.hasAuthority) out += u"//" + t.authority;
  out += t.path;
  if (t.hasQuery) out += u"?" + t.query;
  if (r.hasFragment) out += u"#" + r.fragment;
  return out;
}

bool HasScheme(const CString& url) { return SplitUrl(url.str()).hasScheme; }

}  // namespace

void SetItemNameCounter(int value) { g_nameCounter = value; }

int NextItemNameNumber() { return ++g_nameCounter; }

CRssXML::CRssXML(RssElementCallback elementCallback, RssCancelCallback cancelCallback, void* context,
                 int readKeptCount)
    : m_nVersion(RSS_VERSION_OTHER),
      m_pElement(elementCallback),
      m_pCancel(cancelCallback),
      m_pContext(context),
      m_nKeptCount(readKeptCount ? GetArticlesNumberSetting() : 0) {
  m_bKeepInlineSpace = true;
}

CRssXML::~CRssXML() {
  m_linksAdded.RemoveAll();
  m_imageJobs.RemoveAll();
  m_spare.RemoveAll();
  m_readIds.RemoveAll();
}

void CRssXML::VisitElement(TiXmlElement*, TiXmlElement* element) {
  if (!element) return;
  if (Is(element, "rdf:RDF")) {
    m_nVersion = RSS_VERSION_RDF;
  } else if (Is(element, "rss")) {
    const char* v = element->Attribute("version");
    if (v && strcasecmp(v, "2.0") == 0) m_nVersion = RSS_VERSION_20;
    else if (v && strcasecmp(v, "0.91") == 0) m_nVersion = RSS_VERSION_091;
  }
}

TiXmlElement* CRssXML::TopElement() const {
  if (!m_pDoc) return nullptr;
  TiXmlElement* top = m_pDoc->FirstChildElement("rss");
  if (!top) top = m_pDoc->FirstChildElement("rdf:RDF");
  if (!top) top = m_pDoc->FirstChildElement("feed");
  return top;
}

CString& CRssXML::GetBinPath(CString& out) {
  out = GetPath();
  CString lower(out);
  lower.MakeLower();
  int tilde = lower.Find(u"~.xml");
  int plain = lower.Find(u".xml");
  if (tilde >= 0) out = out.Left(tilde) + u".bin" + out.Mid(tilde + 5);
  else if (plain >= 0) out = out.Left(plain) + u".bin" + out.Mid(plain + 4);
  else out += u".bin";  // never the feed file itself
  return out;
}

bool CRssXML::DownloadImages() {
  // The setting is read again before each image, but from the registry at
  // most every half second: switching it off still stops a running parse.
  uint64_t now = qk::TickCount64();
  if (m_nDownloadImage < 0 || now - m_nDownloadImageTick >= 500) {
    m_nDownloadImage = GetDownloadImageSetting() ? 1 : 0;
    m_nDownloadImageTick = now;
  }
  return m_nDownloadImage != 0;
}

CString CRssXML::NewPageName() {
  // The store's name without its extension, taken again only when the path
  // changed.
  CString path = GetPath();
  if (path != m_strPageNamePath || m_strPageNameBase.IsEmpty()) {
    CString bin;
    GetBinPath(bin);
    CString name = bin.Mid(bin.ReverseFind(u'\\') + 1);
    int dot = name.Find(u'.');
    if (dot >= 0) name = name.Left(dot);
    m_strPageNamePath = path;
    m_strPageNameBase = name;
  }
  const CString& name = m_strPageNameBase;
  const long long seconds = (long long)GetCurrentSeconds();
  const int number = NextItemNameNumber();
  CString page;
  if (seconds < 0 || number < 0) {
    page.Format(u"%s-%08lld-%03d.htm", name.GetString(), seconds, number);
    return page;
  }
  // "<name>-<seconds, 8 digits at least>-<number, 3 digits at least>.htm",
  // made for every item of every feed: put together without the formatter.
  auto digits = [](std::u16string& out, unsigned long long v, size_t width) {
    char16_t text[24];
    size_t n = 0;
    do {
      text[n++] = char16_t(u'0' + v % 10);
      v /= 10;
    } while (v);
    for (size_t k = n; k < width; ++k) out.push_back(u'0');
    while (n) out.push_back(text[--n]);
  };
  std::u16string& text = page.str();
  text.reserve(size_t(name.GetLength()) + 18);
  text.assign(name.GetString(), size_t(name.GetLength()));
  text.push_back(u'-');
  digits(text, (unsigned long long)seconds, 8);
  text.push_back(u'-');
  digits(text, (unsigned long long)number, 3);
  text += u".htm";
  return page;
}

CString CRssXML::NewImageName(const CString& extension) {
  CString bin;
  GetBinPath(bin);
  int dot = bin.ReverseFind(u'.');
  int slash = bin.ReverseFind(u'\\');
  CString base = dot > slash ? bin.Left(dot) : bin;
  CString local;
  local.Format(u"%s-%08lld-%03d%s", base.GetString(), (long long)GetCurrentSeconds(), NextItemNameNumber(),
               extension.GetString());
  return local.Mid(local.ReverseFind(u'\\') + 1);
}

bool CRssXML::LocaliseImages(const TiXmlElement* element, CString& content, const CString& pageName,
                             CStringList& itemImages, std::unordered_map<std::u16string, std::u16string>& itemRefs) {
  // With images off nothing is rewritten (the walk below stops at once).
  if (!DownloadImages()) return true;
  const std::u16string& text = content.str();
  const std::u16string lower = AsciiLower(content).str();
  CImageScanner scanner(text, lower);
  std::u16string out;
  size_t copied = 0;
  bool cancelled = false;
  for (;;) {
    if (!DownloadImages()) break;
    if (Cancelled()) {
      cancelled = true;
      break;
    }
    ImageReference found;
    if (!scanner.Next(found)) break;
    const std::u16string& ref = found.ref.str();
    if (ref.empty()) continue;
    // A reference that already is a local name of this parse stays.
    if (m_localNames.count(ref)) continue;
    // An image written into the content itself shows as it is; there is
    // nothing to fetch, and a local name would leave it blank.
    if (ref.size() >= 5 && AsciiLower(CString(ref.substr(0, 5))) == u"data:") continue;
    CString ext(u".img");
    size_t dot = ref.rfind(u'.');
    if (dot != std::u16string::npos) {
      ext = CString(ref.substr(dot));
      for (WCHAR stop : {u'%', u'&', u'?'}) {
        int s = ext.Find(stop);
        if (s >= 0) ext = ext.Left(s);
      }
    }
    if (ext.GetLength() > 4) break;
    // The local name takes only an extension of letters and digits: the
    // feed's text must never reach a file name.
    bool plain = ext.GetLength() >= 2;
    for (int i = 1; i < ext.GetLength() && plain; ++i) plain = iswalnum16(ext[i]) && ext[i] < 0x80;
    if (!plain) ext = u".img";
    std::u16string local;
    auto known = m_refToLocal.find(ref);
    auto mine = itemRefs.find(ref);
    if (known != m_refToLocal.end()) {
      local = known->second;
    } else if (mine != itemRefs.end()) {
      local = mine->second;
    } else {
      local = NewImageName(ext).str();
      m_localNames.insert(local);
      itemRefs.emplace(ref, local);
      // The job names the address to fetch: the value as HTML means it.
      CString address(found.ref);
      ReplaceHTMLEntities(address);
      // A relative address is fetched from where the content stands: its
      // xml:base, else the feed's own address.
      address.Trim(u" \t\r\n");
      address = ResolveLink(element, address);
      CString lowerRef(address);
      lowerRef.MakeLower();
      if (lowerRef.Find(RSS_AD_DOMAIN) < 0)
        itemImages.AddTail(pageName + u"|" + JobField(address) + u"|" + CString(local));
    }
    // Only the value itself is replaced, and only where it stands whole.
    out.append(text, copied, size_t(found.start) - copied);
    out += local;
    copied = size_t(found.start) + ref.size();
  }
  if (cancelled) return false;
  if (copied > 0) {
    out.append(text, copied, std::u16string::npos);
    content = CString(std::move(out));
  }
  return true;
}

CString CRssXML::ElementContent(const TiXmlElement* element, bool markupOnly) const {
  std::string markup;
  bool children = markupOnly;
  for (const TiXmlNode* c = element->FirstChild(); c && !children; c = c->NextSibling()) children = c->ToElement();
  const char* only = nullptr;  // the one piece of text, read where it stands
  if (!children) {
    // Text and character data, all of it (not only the first piece).
    const TiXmlNode* first = element->FirstChild();
    if (first && first->ToText() && !first->NextSibling()) {
      only = first->Value();
    } else {
      for (const TiXmlNode* c = first; c; c = c->NextSibling()) {
        if (c->ToText()) markup += c->Value();
      }
    }
  } else {
    const TiXmlElement* from = element;
    const char* type = element->Attribute("type");
    if (type && strcasecmp(type, "xhtml") == 0) {
      // Atom wraps xhtml content in one div that is not part of it.
      const TiXmlElement* only = element->FirstChildElement();
      bool alone = only && !only->NextSiblingElement();
      for (const TiXmlNode* c = element->FirstChild(); c && alone; c = c->NextSibling()) {
        alone = !c->ToText() || std::string(c->Value()).find_first_not_of(" \t\n\r") == std::string::npos;
      }
      if (alone && strcasecmp(only->Value(), "div") == 0) from = only;
    }
    for (const TiXmlNode* c = from->FirstChild(); c; c = c->NextSibling()) SerialiseNode(c, markup, true);
  }
  CString text = NodeText(only ? only : markup.c_str());
  // White space kept around inline markup is no part of the value's ends.
  bool cdata = element->FirstChild() && element->FirstChild()->ToText() &&
               static_cast<const TiXmlText*>(element->FirstChild())->CDATA();
  if (!cdata) text.TrimLeft(u" \t\n\r");
  const TiXmlNode* last = element->LastChild();
  if (!(last && last->ToText() && static_cast<const TiXmlText*>(last)->CDATA())) text.TrimRight(u" \t\n\r");
  return text;
}

CString CRssXML::ConstructValue(const TiXmlElement* element, bool markup, bool base64) const {
  if (!base64) return ElementContent(element, markup);
  std::string encoded;
  for (const TiXmlNode* c = element->FirstChild(); c; c = c->NextSibling()) {
    if (c->ToText()) encoded += c->Value();
  }
  // Decoded text says nothing of its encoding: it is read as a file that
  // declares none.
  return NodeText(UndeclaredTextToUtf8(DecodeBase64(encoded)).c_str());
}

CString CRssXML::ContentHtml(const TiXmlElement* element) const {
  TextConstruct c = ConstructOf(element);
  if (c.kind == TextKind::kBinary) return CString();
  CString value = ConstructValue(element, c.kind == TextKind::kMarkup, c.base64);
  return c.kind == TextKind::kText ? HtmlEscape(value) : value;
}

CString CRssXML::TitleText(const TiXmlElement* element) const {
  TextConstruct c = ConstructOf(element);
  if (c.kind == TextKind::kBinary) return CString();
  CString value = ConstructValue(element, c.kind == TextKind::kMarkup, c.base64);
  switch (c.kind) {
    case TextKind::kUntyped:
      // A title of no stated type may carry escaped references; they are
      // decoded once.
      ReplaceHTMLEntities(value);
      break;
    case TextKind::kHtml:
    case TextKind::kMarkup:
      value = HtmlToText(value);
      break;
    default:
      break;
  }
  FoldWhiteSpace(value);
  return value;
}

CString CRssXML::ResolveLink(const TiXmlElement* element, const CString& link) const {
  if (link.IsEmpty() || HasScheme(link)) return link;
  std::vector<CString> bases;
  for (const TiXmlNode* n = element; n; n = n->Parent()) {
    const TiXmlElement* e = n->ToElement();
    const char* base = e ? e->Attribute("xml:base") : nullptr;
    if (base) bases.push_back(NodeText(base));
  }
  std::u16string base = m_strFeedUrl.str();
  if (!HasScheme(m_strFeedUrl)) base.clear();
  for (auto it = bases.rbegin(); it != bases.rend(); ++it) {
    if (HasScheme(*it)) base = it->str();
    else if (!base.empty()) base = ResolveUrl(base, it->str());
  }
  if (base.empty()) return link;
  return CString(ResolveUrl(base, link.str()));
}

int CRssXML::ParseItem(TiXmlElement* item, CItemStore* store) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  CString key, page, title, id, date, content;
  DWORD readFlag = 0;
  bool fullContent = false;
  CString name, text;
  // Key and page name: the item's link, else its guid.
  for (TiXmlElement* c = item->FirstChildElement(); c; c = c->NextSiblingElement()) {
    if (Is(c, "link")) {
      GetElementText(c, name, text);
      // An address in character data keeps its line breaks; an empty link
      // (an Atom link element after the RSS one) takes nothing away.
      text.Trim(u" \t\r\n");
      if (!text.IsEmpty()) key = ResolveLink(c, text);
      page = NewPageName();
    } else if ((Is(c, "content:encoded") || Is(c, "content")) && HasShowableContent(c)) {
      // An empty full-content element (an excerpt-only feed, or Atom
      // content given by address) leaves the description in place.
      fullContent = true;
    }
  }
  if (key.IsEmpty()) {
    for (TiXmlElement* c = item->FirstChildElement(); c; c = c->NextSiblingElement()) {
      if (Is(c, "guid")) {
        GetElementText(c, name, text);
        text.Trim(u" \t\r\n");
        key = text;
        page = NewPageName();
      }
    }
  }
  CStringList itemImages;
  std::unordered_map<std::u16string, std::u16string> itemRefs;
  for (TiXmlElement* c = item->FirstChildElement(); c; c = c->NextSiblingElement()) {
    if (Cancelled()) return 0;
    if (Is(c, "title")) {
      title = TitleText(c);
      WriteLog(title);
    } else if (Is(c, "enclosure")) {
    } else if (Is(c, "id")) {
      GetElementText(c, name, id);
    } else if (Is(c, "published") || Is(c, "pubDate") || Is(c, "dc:date")) {
      GetElementText(c, name, date);
    } else if (Is(c, "updated")) {
      if (date.IsEmpty()) GetElementText(c, name, date);
    } else if (Is(c, "category")) {
      for (const TiXmlAttribute* a = c->FirstAttribute(); a; a = a->Next()) {
        if (strcasecmp(a->Name(), "label") == 0 && strcasecmp(a->Value(), "read") == 0) readFlag = ITEM_READ_READ;
      }
    } else if (Is(c, "link")) {
      if (key.IsEmpty()) {
        // An Atom link without rel is the alternate link.
        const char* rel = c->Attribute("rel");
        const char* href = c->Attribute("href");
        if (href && (!rel || strcasecmp(rel, "alternate") == 0)) {
          CString address = NodeText(href);
          address.Trim(u" \t\r\n");
          key = ResolveLink(c, address);
        }
      }
    } else if (Is(c, "description") || Is(c, "summary") || Is(c, "content:encoded") || Is(c, "content")) {
      bool isFull = Is(c, "content:encoded") || Is(c, "content");
      if (isFull != fullContent || (isFull && !HasShowableContent(c))) continue;
      // Already HTML after the XML parse: decoding it again would turn
      // escaped markup into live markup. Plain text is escaped so that it
      // stays text.
      content = ContentHtml(c);
      if (!LocaliseImages(c, content, page, itemImages, itemRefs)) return 0;
    }
  }
  // A "|" in a key would shift the fields of the item's image jobs.
  key = JobField(key);
  // Keys are compared as the store holds them: a longer one would never be
  // found again and would be stored anew at every refresh.
  if (key.GetLength() > ITEM_MAX_KEY_CHARS) key = key.Left(ITEM_MAX_KEY_CHARS);
  if (id.GetLength() > ITEM_MAX_KEY_CHARS) id = id.Left(ITEM_MAX_KEY_CHARS);
  bool known;
  CString keylessTag;
  if (key.IsEmpty()) {
    // Items without a link are told apart by id, else by title.
    // Items with neither (a description alone, as older feeds write them)
    // are told apart by their content, whatever local names its images got.
    if (!id.IsEmpty()) {
      keylessTag = u"id:" + id;
      known = m_keylessAdded.count(keylessTag.str()) || store->IsKnownItem(u"", u"", id);
    } else if (!title.IsEmpty()) {
      keylessTag = u"title:" + title;
      known = m_keylessAdded.count(keylessTag.str()) || store->IsKnownKeylessItem(title);
    } else {
      CString body = WithoutImageReferences(content);
      keylessTag = u"content:" + body;
      known = m_keylessAdded.count(keylessTag.str()) || store->IsKnownKeylessContent(body);
    }
  } else {
    // A link already stored is the same item under whatever title; with an
    // id the id decides.
    // An id already stored by this parse is the same entry again (a feed
    // that lists an entry twice under two addresses).
    known = m_linksAddedSet.count(key.str()) || (!id.IsEmpty() && m_keylessAdded.count(u"id:" + id.str())) ||
            (id.IsEmpty() ? store->IsKnownItem(key, u"", u"") : store->IsKnownItem(key, title, id));
  }
  if (known) {
    if (!key.IsEmpty() && m_linksAddedSet.insert(key.str()).second) m_linksAdded.AddTail(key);
  } else {
    if (date.IsEmpty()) {
      WCHAR now[32];
      CurrentLocalTimeText(now);
      date = now;
    }
    if (!key.IsEmpty() && store->IsKnownItem(key, u"", u"")) {
      // A new id under a stored link: a record of its own.
      CString suffix;
      suffix.Format(u"-%d", int(GetTickCount()));
      if (key.GetLength() + suffix.GetLength() > ITEM_MAX_KEY_CHARS)
        key = key.Left(ITEM_MAX_KEY_CHARS - suffix.GetLength());
      key += suffix;
    }
    // The content is not used after this: the store takes it over.
    store->AddPendingItem(title, key, id, date, readFlag, 0, std::move(content), page);
    if (key.IsEmpty()) {
      m_keylessAdded.insert(keylessTag.str());
    } else {
      m_linksAdded.AddTail(key);
      m_linksAddedSet.insert(key.str());
    }
    if (!id.IsEmpty()) m_keylessAdded.insert(u"id:" + id.str());
    // The jobs name the item by its final key.
    for (POSITION pos = itemImages.GetHeadPosition(); pos;) m_imageJobs.AddTail(key + u"|" + itemImages.GetNext(pos));
    for (auto& r : itemRefs) m_refToLocal.insert(r);
  }
  if (readFlag == ITEM_READ_READ) {
    // An item without a key is stored read already; an empty key given to
    // the store would mark every item of the channel read.
    if (!key.IsEmpty()) store->SetItemProperty(key, u"ReadFlag", ITEM_READ_READ);
    m_readIds.AddTail(id);
  }
  return 1;
}

int CRssXML::SaveItems(CItemStore* given) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!m_pDoc) return 0;
  m_imageJobs.RemoveAll();
  m_spare.RemoveAll();
  m_readIds.RemoveAll();
  m_localNames.clear();
  m_refToLocal.clear();
  m_keylessAdded.clear();
  CString bin;
  GetBinPath(bin);
  TiXmlElement* top = m_pDoc->FirstChildElement("rss");
  if (!top) top = m_pDoc->FirstChildElement("rdf:RDF");
  const char* itemName = "item";
  TiXmlElement* container = nullptr;
  if (top) {
    container = top->FirstChildElement("channel");
    if (TiXmlElement* rdf = m_pDoc->FirstChildElement("rdf:RDF")) container = rdf;
  } else {
    container = m_pDoc->FirstChildElement("feed");
    itemName = "entry";
  }
  m_linksAdded.RemoveAll();
  m_linksAddedSet.clear();
  if (!container) return 0;
  std::unique_ptr<CItemStore> own;
  if (!given) own = std::make_unique<CItemStore>(1);
  CItemStore& store = given ? *given : *own;
  store.Open(bin, 0, 0);
  // From the first look at the stored keys to the removal of the error
  // item, the store is read once.
  store.HoldFile();
  int limit = GetArticlesNumberSetting();
  int examined = 0;
  for (TiXmlElement* e = container->FirstChildElement(itemName); e && examined < limit;
       e = e->NextSiblingElement(itemName)) {
    if (Cancelled()) break;
    if (ParseItem(e, &store)) ++examined;
  }
  if (!store.Commit()) {
    // Nothing of this parse was stored (a full disk, a store that cannot be
    // written): that is no successful parse, and the channel's error item
    // stays.
    m_imageJobs.RemoveAll();
    return 0;
  }
  store.Open(bin, 1, 1);
  store.TrimItems(0);
  store.DeleteItem(ERROR_ITEM_LINK);
  return 1;
}

int CRssXML::CountItems(int& itemCount, int& readCount) {
  itemCount = readCount = 0;
  CString bin;
  GetBinPath(bin);
  CItemStore store(0);
  store.Open(bin, 0, 1);
  store.CountItems(itemCount, readCount);
  return 1;
}

int CRssXML::AddErrorItem(LPCWSTR errorText) {
  RemoveErrorItem();
  CString bin;
  GetBinPath(bin);
  CItemStore store(1);
  store.Open(bin, 0, 0);
  WCHAR now[32];
  CurrentLocalTimeText(now);
  CString content = Localized(u"An error occured while attempting to download the channel data:");
  content += errorText;
  content += u".";
  return store.WriteErrorRecord(Localized(u"Error occured on last update"), ERROR_ITEM_LINK, u"", now, 0,
                                ITEM_TYPE_ERROR, content, u"");
}

int CRssXML::RemoveErrorItem() {
  CString bin;
  GetBinPath(bin);
  CItemStore store(1);
  store.Open(bin, 0, 0);
  store.DeleteItem(ERROR_ITEM_LINK);
  return 1;
}

int CRssXML::GetTitle(CString& out) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  out.Empty();
  TiXmlElement* top = TopElement();
  if (!top) return 0;
  TiXmlElement* parent = Is(top, "feed") ? top : top->FirstChildElement("channel");
  TiXmlElement* title = parent ? parent->FirstChildElement("title") : nullptr;
  if (!title) return 0;
  // All of the title: text split by a comment or by character data
  // sections, or markup written as child elements. The title is its text,
  // as the XML decodes it ("Quotes &amp; Co" is "Quotes & Co"; a character
  // data section is taken as it stands): no reference in that text is
  // decoded a second time, as an item's title would be. An Atom title that
  // states its type or mode is read as the type says.
  if (Is(top, "feed") && (ConstructOf(title).kind != TextKind::kUntyped || title->FirstChildElement())) {
    out = TitleText(title);
    return 1;
  }
  out = ElementContent(title);
  FoldWhiteSpace(out);
  return 1;
}

int CRssXML::GetLink(CString& out) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  out.Empty();
  TiXmlElement* top = TopElement();
  if (!top) return 0;
  if (Is(top, "feed")) {
    for (TiXmlElement* l = top->FirstChildElement("link"); l; l = l->NextSiblingElement("link")) {
      const char* rel = l->Attribute("rel");
      const char* href = l->Attribute("href");
      if (href && (!rel || strcasecmp(rel, "alternate") == 0)) {
        out = NodeText(href);
        out.Trim(u" \t\r\n");
        out = ResolveLink(l, out);
        return 1;
      }
    }
    return 0;
  }
  TiXmlElement* channel = top->FirstChildElement("channel");
  TiXmlElement* link = channel ? channel->FirstChildElement("link") : nullptr;
  if (!link) return 0;
  CString name;
  GetElementText(link, name, out);
  out.Trim(u" \t\r\n");
  out = ResolveLink(link, out);
  return 1;
}

int CRssXML::GetImageUrl(CString& out) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  out.Empty();
  TiXmlElement* top = TopElement();
  TiXmlElement* channel = top ? top->FirstChildElement("channel") : nullptr;
  TiXmlElement* image = channel ? channel->FirstChildElement("image") : nullptr;
  TiXmlElement* url = image ? image->FirstChildElement("url") : nullptr;
  if (!url) return 0;
  CString name;
  GetElementText(url, name, out);
  return 1;
}

CString& CRssXML::GetChannelInfoHtml(CString& out) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  out = u"<HTML><BODY>";
  TiXmlElement* top = TopElement();
  TiXmlElement* channel = top ? top->FirstChildElement("channel") : nullptr;
  if (top) VisitElement(nullptr, top);
  if (m_nVersion == RSS_VERSION_20) {
    out += u"<B>";
    out += Localized(u"RSS Version");
    out += u": </B>2.0<BR>";
  } else {
    out += Localized(u"No details Available");
    out += u".<BR>";
  }
  for (TiXmlElement* c = channel ? channel->FirstChildElement() : nullptr; c; c = c->NextSiblingElement()) {
    const ChannelLabel* entry = ChannelEntry(c->Value());
    if (!entry) continue;
    CString name, text;
    GetElementText(c, name, text);
    if (text.IsEmpty()) continue;
    // The description is HTML; every other value is plain text.
    if (strcasecmp(entry->name, "description") != 0) text = HtmlEscape(text);
    out.AppendFormat(u"<B>%s: </B>%s<BR>\n", entry->label, text.GetString());
  }
  out += u"</BODY></HTML>";
  return out;
}

void CRssXML::Walk(TiXmlElement*, TiXmlElement* element) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!element) return;
  VisitElement(nullptr, element);
  if (m_nVersion > RSS_VERSION_091 || !m_pElement) return;
  auto dated = [](const CString& childName, CString& text, bool underItem) {
    bool convert = childName.Find(u"date") >= 0 || (underItem && childName.Find(u"Date") >= 0);
    WCHAR out[32];
    if (convert && FormatFeedDate(text, out)) text = out;
  };
  for (TiXmlElement* channel = element->FirstChildElement(); channel; channel = channel->NextSiblingElement()) {
    if (!Is(channel, "channel")) continue;
    for (TiXmlElement* c = channel->FirstChildElement(); c; c = c->NextSiblingElement()) {
      if (Cancelled()) return;
      CString name, text;
      GetElementText(c, name, text);
      if (Is(c, "item") || Is(c, "lastError")) {
        bool isItem = Is(c, "item");
        if (const char* status = c->Attribute("status")) m_pElement(m_pContext, name, u"#status", NodeText(status));
        for (TiXmlElement* ic = c->FirstChildElement(); ic; ic = ic->NextSiblingElement()) {
          if (!IsItemElement(ic->Value())) continue;
          CString childName, childText;
          GetElementText(ic, childName, childText);
          dated(childName, childText, isItem);
          m_pElement(m_pContext, name, childName, childText);
        }
      } else if (ChannelEntry(c->Value())) {
        if (name.Find(u"Date") >= 0 || name.Find(u"date") >= 0) dated(u"date", text, false);
        m_pElement(m_pContext, u"channel", name, text);
      }
    }
  }
}
