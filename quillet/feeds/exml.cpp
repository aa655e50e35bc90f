#include "quillet/feeds/exml.h"

#include <tinyxml.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common/log.h"
#include "kernel/kernel.h"

namespace {

// Reads a whole device file; false when it cannot be opened or read.
bool ReadWholeFile(LPCWSTR path, std::string& out) {
  out.clear();
  FILE* f = _wfopen(path, u"rb");
  if (!f) return false;
  char chunk[65536];
  size_t n;
  bool ok = true;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) out.append(chunk, n);
  if (ferror(f)) ok = false;
  fclose(f);
  return ok;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

// A UTF-16 file (with or without byte-order mark) becomes UTF-8; false when
// the bytes are not UTF-16.
bool TranscodeUtf16(std::string& data) {
  if (data.size() < 2) return false;
  const unsigned char* b = reinterpret_cast<const unsigned char*>(data.data());
  bool little;
  size_t start = 0;
  if (b[0] == 0xFF && b[1] == 0xFE) {
    little = true;
    start = 2;
  } else if (b[0] == 0xFE && b[1] == 0xFF) {
    little = false;
    start = 2;
  } else if (b[0] == '<' && b[1] == 0) {
    little = true;
  } else if (b[0] == 0 && b[1] == '<') {
    little = false;
  } else {
    return false;
  }
  std::string out;
  out.reserve(data.size());
  size_t count = (data.size() - start) / 2;
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* u = b + start + 2 * i;
    uint32_t c = little ? uint32_t(u[0] | (u[1] << 8)) : uint32_t((u[0] << 8) | u[1]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count) {
      const unsigned char* v = u + 2;
      uint32_t d = little ? uint32_t(v[0] | (v[1] << 8)) : uint32_t((v[0] << 8) | v[1]);
      if (d >= 0xDC00 && d <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00);
        ++i;
      }
    }
    if (c == 0) break;
    AppendUtf8(out, c);
  }
  data.swap(out);
  return true;
}

// TinyXML reads files with every line end turned into a line feed; text
// parsed from memory gets the same treatment.
void NormaliseLineEnds(std::string& data) {
  if (data.find('\r') == std::string::npos) return;
  std::string out;
  out.reserve(data.size());
  for (size_t i = 0; i < data.size(); ++i) {
    if (data[i] == '\r') {
      out += '\n';
      if (i + 1 < data.size() && data[i + 1] == '\n') ++i;
    } else {
      out += data[i];
    }
  }
  data.swap(out);
}

size_t SkipPast(const std::string& d, size_t i, const char* end) {
  size_t e = d.find(end, i);
  return e == std::string::npos ? d.size() : e + strlen(end);
}

// The deepest element nesting of the text, found without parsing it.
int NestingDepth(const std::string& d) {
  int depth = 0, deepest = 0;
  size_t i = 0, n = d.size();
  while (i < n) {
    size_t lt = d.find('<', i);
    if (lt == std::string::npos) break;
    if (d.compare(lt, 4, "<!--") == 0) {
      i = SkipPast(d, lt + 4, "-->");
    } else if (d.compare(lt, 9, "<![CDATA[") == 0) {
      i = SkipPast(d, lt + 9, "]]>");
    } else if (lt + 1 < n && (d[lt + 1] == '?' || d[lt + 1] == '!')) {
      i = SkipPast(d, lt + 1, ">");
    } else if (lt + 1 < n && d[lt + 1] == '/') {
      --depth;
      i = SkipPast(d, lt + 1, ">");
    } else {
      size_t j = lt + 1;
      char quote = 0;
      while (j < n && (quote || d[j] != '>')) {
        if (quote) {
          if (d[j] == quote) quote = 0;
        } else if (d[j] == '"' || d[j] == '\'') {
          quote = d[j];
        }
        ++j;
      }
      bool selfClosing = j < n && j > lt + 1 && d[j - 1] == '/';
      if (!selfClosing && ++depth > deepest) deepest = depth;
      i = j < n ? j + 1 : n;
    }
  }
  return deepest;
}

// The encoding declared in the first bytes: sets mode and code page as the
// declaration says; leaves both alone when there is no "encoding=".
bool SniffEncoding(const char* head, int& mode, UINT& codePage) {
  const char* at = strstr(head, "encoding=");
  if (!at) return false;
  std::string rest(at + 9);
  size_t end = rest.find("?>");
  if (end != std::string::npos) rest.resize(end);
  std::string value;
  size_t q = rest.find('"');
  if (q != std::string::npos) {
    size_t q2 = rest.find('"', q + 1);
    value = rest.substr(q + 1, q2 == std::string::npos ? std::string::npos : q2 - q - 1);
  } else {
    value = rest;
  }
  for (char& c : value) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  // A file whose bytes reach here is 8-bit text: one that claims to be
  // UTF-16 without being it is read as UTF-8, the only 8-bit form it can be.
  bool claims16 = value.find("utf-16") != std::string::npos || value.find("utf16") != std::string::npos ||
                  value.find("ucs-2") != std::string::npos;
  if (value.empty() || value.find("utf-8") != std::string::npos || value.find("utf8") != std::string::npos ||
      claims16) {
    mode = EXML_MODE_UTF8;
    codePage = CP_UTF8;
    return true;
  }
  mode = EXML_MODE_ANSI;
  // The charset name without quotes and blanks, for the code-page lookup.
  size_t s = value.find_first_not_of("'\" \t\n");
  std::string name;
  for (size_t i = (s == std::string::npos ? value.size() : s); i < value.size(); ++i) {
    char c = value[i];
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':') name += c;
    else break;
  }
  UINT cp = name.empty() ? 0 : qk::CodePageFromCharset(name.c_str());
  codePage = cp ? cp : CP_ACP;
  return true;
}

bool EqualNoCase(const char* a, const char* b) {
  if (!a || !b) return false;
  for (; *a && *b; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return *a == *b;
}

}  // namespace

CEXML::CEXML() : m_pDoc(nullptr), m_nEncodingMode(EXML_MODE_UTF8), m_bDeleteOnFailure(0), m_nCodePage(CP_UTF8),
                 m_bLoadFailed(false) {
  m_szPath[0] = 0;
}

CEXML::~CEXML() { FreeDocument(); }

void CEXML::FreeDocument() {
  delete m_pDoc;
  m_pDoc = nullptr;
}

void CEXML::SetPath(LPCWSTR path, int deleteOnFailure) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  size_t n = path ? wcsnlen(path, MAX_PATH - 1) : 0;
  if (n) memcpy(m_szPath, path, n * sizeof(WCHAR));
  m_szPath[n] = 0;
  m_bDeleteOnFailure = deleteOnFailure;
  m_bLoadFailed = false;
}

CString CEXML::GetPath() const {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return CString(m_szPath);
}

TiXmlElement* CEXML::GetRoot() const { return m_pDoc ? m_pDoc->FirstChildElement() : nullptr; }

int CEXML::LoadAndWalk(LPCWSTR path) { return LoadEx(path, 1, 1); }

int CEXML::Load(LPCWSTR path) { return LoadEx(path, 0, 1); }

int CEXML::LoadEx(const void* source, int walk, int fromFile) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  FreeDocument();
  m_pDoc = new TiXmlDocument();
  std::string data;
  bool readable = false;
  bool fromUtf16 = false;
  if (fromFile) {
    LPCWSTR path = static_cast<LPCWSTR>(source);
    SetPath(path, 0);
    readable = path && ReadWholeFile(path, data);
  } else {
    const char* text = static_cast<const char*>(source);
    readable = text != nullptr;
    if (text) data = text;
  }
  bool parsed = false;
  int mode = m_nEncodingMode;
  UINT codePage = m_nCodePage;
  if (readable) {
    fromUtf16 = TranscodeUtf16(data);
    // The encoding is sniffed from the first 127 bytes; the parser is told
    // the same, so that character references become text of that encoding.
    char head[128];
    memset(head, 0, sizeof head);
    memcpy(head, data.data(), data.size() < 127 ? data.size() : 127);
    bool declared = false;
    if (fromUtf16) {
      mode = EXML_MODE_UTF8;
      codePage = CP_UTF8;
    } else {
      declared = SniffEncoding(head, mode, codePage);
    }
    bool bom = data.size() >= 3 && data.compare(0, 3, "\xEF\xBB\xBF") == 0;
    TiXmlEncoding encoding = TIXML_ENCODING_UNKNOWN;
    if (fromUtf16) encoding = TIXML_ENCODING_UTF8;
    else if (declared && !bom) encoding = mode == EXML_MODE_UTF8 ? TIXML_ENCODING_UTF8 : TIXML_ENCODING_LEGACY;
    if (NestingDepth(data) <= kMaxDepth) {
      NormaliseLineEnds(data);
      m_pDoc->SetTabSize(0);  // no row and column tracking: it costs a quarter of the parse
      m_pDoc->Parse(data.c_str(), nullptr, encoding);
      parsed = !m_pDoc->Error();
    }
  }
  if (!parsed) {
    // A file that is there but is no XML must survive whatever the caller
    // saves afterwards.
    if (fromFile && readable) m_bLoadFailed = true;
    WriteLog(m_szPath);
    WriteLog(u"CEXML: Cannot load XML.\n");
    return 0;
  }
  m_nEncodingMode = mode;
  m_nCodePage = codePage;
  if (fromUtf16) {
    // The text now is UTF-8, and is written back as UTF-8.
    TiXmlNode* first = m_pDoc->FirstChild();
    if (first && first->ToDeclaration()) {
      TiXmlDeclaration* old = first->ToDeclaration();
      TiXmlDeclaration decl(old->Version(), "UTF-8", old->Standalone());
      m_pDoc->ReplaceChild(first, decl);
    }
  }
  TiXmlElement* root = m_pDoc->FirstChildElement();
  if (!root) {
    if (fromFile) m_bLoadFailed = true;
    return 0;
  }
  if (!IsAcceptedDocument()) {
    if (fromFile) m_bLoadFailed = true;
    FreeDocument();
    WriteLog(m_szPath);
    WriteLog(u"CEXML: Cannot load XML.\n");
    return 0;
  }
  if (walk) Walk(nullptr, root);
  return 1;
}

void CEXML::Walk(TiXmlElement* parent, TiXmlElement* element) {
  if (!element) return;
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  VisitElement(parent, element);
  for (TiXmlElement* child = element->FirstChildElement(); child; child = child->NextSiblingElement())
    Walk(element, child);
}

int CEXML::DecodeUtf8(const char* text, int index, int length, WCHAR* out, int* units) {
  if (units) *units = 0;
  if (!text || index < 0 || index >= length) return 0;
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text) + index;
  unsigned char b = s[0];
  int need;
  uint32_t cp;
  if (b < 0x80) {
    out[0] = WCHAR(b);
    if (units) *units = 1;
    return 1;
  } else if ((b & 0xE0) == 0xC0) {
    need = 2;
    cp = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    need = 3;
    cp = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    need = 4;
    cp = b & 0x07;
  } else if ((b & 0xFC) == 0xF8) {
    need = 5;
    cp = b & 0x03;
  } else if ((b & 0xFE) == 0xFC) {
    need = 6;
    cp = b & 0x01;
  } else {
    return 0;
  }
  if (index + need > length) return 0;
  for (int i = 1; i < need; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (s[i] & 0x3F);
  }
  if (cp < 0x10000) {
    out[0] = WCHAR(cp);
    if (units) *units = 1;
  } else if (cp <= 0x10FFFF) {
    cp -= 0x10000;
    out[0] = WCHAR(0xD800 + (cp >> 10));
    out[1] = WCHAR(0xDC00 + (cp & 0x3FF));
    if (units) *units = 2;
  } else {
    out[0] = 0xFFFD;  // beyond Unicode: a replacement character
    if (units) *units = 1;
  }
  return need;
}

int CEXML::EncodeUtf8(LPCWSTR units, int available, char* out, int* consumed) {
  uint32_t c = units[0];
  if (consumed) *consumed = 1;
  if (c < 0x80) {
    out[0] = char(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = char(0xC0 | (c >> 6));
    out[1] = char(0x80 | (c & 0x3F));
    return 2;
  }
  if (c >= 0xD800 && c <= 0xDBFF && available >= 2 && units[1] >= 0xDC00 && units[1] <= 0xDFFF) {
    uint32_t cp = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(units[1]) - 0xDC00);
    out[0] = char(0xF0 | (cp >> 18));
    out[1] = char(0x80 | ((cp >> 12) & 0x3F));
    out[2] = char(0x80 | ((cp >> 6) & 0x3F));
    out[3] = char(0x80 | (cp & 0x3F));
    if (consumed) *consumed = 2;
    return 4;
  }
  out[0] = char(0xE0 | (c >> 12));
  out[1] = char(0x80 | ((c >> 6) & 0x3F));
  out[2] = char(0x80 | (c & 0x3F));
  return 3;
}

LPCWSTR CEXML::FindFirstOf(LPCWSTR text, LPCWSTR set) {
  if (!text || !set || !*set) return nullptr;
  for (LPCWSTR p = text; *p; ++p) {
    for (LPCWSTR s = set; *s; ++s) {
      if (*p == *s) return p;
    }
  }
  return nullptr;
}

std::string CEXML::ToDocumentText(LPCWSTR text) const {
  std::string out;
  if (!text) return out;
  int len = int(wcslen(text));
  if (m_nEncodingMode == EXML_MODE_ANSI) {
    if (len == 0) return out;
    int need = WideCharToMultiByte(m_nCodePage, 0, text, len, nullptr, 0, nullptr, nullptr);
    if (need <= 0) return out;
    out.resize(size_t(need));
    int n = WideCharToMultiByte(m_nCodePage, 0, text, len, out.data(), need, nullptr, nullptr);
    out.resize(size_t(n > 0 ? n : 0));
    return out;
  }
  out.reserve(size_t(len));
  char buf[4];
  for (int i = 0; i < len;) {
    int used = 1;
    int n = EncodeUtf8(text + i, len - i, buf, &used);
    out.append(buf, size_t(n));
    i += used;
  }
  return out;
}

CString CEXML::NodeText(const char* text) const {
  CString result;
  if (!text || !*text) return result;
  int len = int(strlen(text));
  std::u16string& s = result.str();
  if (m_nEncodingMode == EXML_MODE_ANSI) {
    int need = MultiByteToWideChar(m_nCodePage, 0, text, len, nullptr, 0);
    if (need <= 0) return result;
    s.resize(size_t(need));
    int n = MultiByteToWideChar(m_nCodePage, 0, text, len, s.data(), need);
    s.resize(size_t(n > 0 ? n : 0));
    return result;
  }
  s.reserve(size_t(len));
  WCHAR units[2];
  for (int i = 0; i < len;) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      s.push_back(WCHAR(text[i++]));
      continue;
    }
    int count = 0;
    int used = DecodeUtf8(text, i, len, units, &count);
    if (used == 0) break;
    s.append(units, size_t(count));
    i += used;
  }
  return result;
}

int CEXML::GetElementText(const TiXmlElement* element, CString& name, CString& text) const {
  name.Empty();
  text.Empty();
  if (!element) return 1;
  name = NodeText(element->Value());
  const TiXmlNode* child = element->FirstChild();
  if (child && child->ToText()) text = NodeText(child->Value());
  return 1;
}

void CEXML::GetAttributes(const TiXmlElement* element, CString& list) const {
  list.Empty();
  if (!element) return;
  for (const TiXmlAttribute* a = element->FirstAttribute(); a; a = a->Next()) {
    list += NodeText(a->Name());
    list += u":";
    list += NodeText(a->Value());
    list += u"|";
  }
}

void CEXML::SplitName(const CString& item, CString& key, CString& value) {
  int colon = item.Find(u':');
  if (colon < 0) {
    key.Empty();
    value = item;
    return;
  }
  key = item.Left(colon);
  value = item.Mid(colon + 1);
}

CString CEXML::SplitNameTail(CString& list) {
  int bar = list.Find(u'|');
  if (bar < 0) return CString();
  CString head = list.Left(bar);
  list = list.Mid(bar + 1);
  return head;
}

BOOL CEXML::NameIs(const TiXmlElement* element, const char* name) {
  return element && EqualNoCase(element->Value(), name);
}

TiXmlElement* CEXML::FirstChildNoCase(TiXmlNode* node, const char* name) {
  if (!node) return nullptr;
  for (TiXmlElement* e = node->FirstChildElement(); e; e = e->NextSiblingElement()) {
    if (EqualNoCase(e->Value(), name)) return e;
  }
  return nullptr;
}

TiXmlElement* CEXML::NextSiblingNoCase(TiXmlElement* element, const char* name) {
  for (TiXmlElement* e = element ? element->NextSiblingElement() : nullptr; e; e = e->NextSiblingElement()) {
    if (EqualNoCase(e->Value(), name)) return e;
  }
  return nullptr;
}

BOOL CEXML::SaveDocument() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!m_pDoc || !m_szPath[0]) return FALSE;
  std::string target = qk::HostPath(m_szPath);
  std::error_code ec;
  if (m_bLoadFailed && std::filesystem::exists(target, ec)) {
    // Keep the file that could not be read: the user may still want it.
    bool kept = false;
    for (int i = 0; i < 10 && !kept; ++i) {
      std::string aside = target + (i ? ".bad" + std::to_string(i) : std::string(".bad"));
      if (std::filesystem::exists(aside, ec)) continue;
      kept = std::rename(target.c_str(), aside.c_str()) == 0;
    }
    if (!kept) return FALSE;
  }
  m_bLoadFailed = false;
  std::string temp = target + ".tmp~";
  FILE* f = fopen(temp.c_str(), "wb");
  if (!f) return FALSE;
  bool ok = m_pDoc->SaveFile(f);
  ok = fflush(f) == 0 && ok;
  ok = fclose(f) == 0 && ok;
  if (!ok || std::rename(temp.c_str(), target.c_str()) != 0) {
    std::remove(temp.c_str());
    return FALSE;
  }
  return TRUE;
}
