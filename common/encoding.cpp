#include "common/encoding.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>

namespace {

struct Entity {
  const char16_t* name;
  unsigned short code;
};

// The 252 character entity references of HTML 4.01 (Latin-1, symbols and
// special characters). Names compare with case.
const Entity kEntities[] = {
    // Latin-1
    {u"nbsp", 160}, {u"iexcl", 161}, {u"cent", 162}, {u"pound", 163}, {u"curren", 164}, {u"yen", 165},
    {u"brvbar", 166}, {u"sect", 167}, {u"uml", 168}, {u"copy", 169}, {u"ordf", 170}, {u"laquo", 171},
    {u"not", 172}, {u"shy", 173}, {u"reg", 174}, {u"macr", 175}, {u"deg", 176}, {u"plusmn", 177},
    {u"sup2", 178}, {u"sup3", 179}, {u"acute", 180}, {u"micro", 181}, {u"para", 182}, {u"middot", 183},
    {u"cedil", 184}, {u"sup1", 185}, {u"ordm", 186}, {u"raquo", 187}, {u"frac14", 188}, {u"frac12", 189},
    {u"frac34", 190}, {u"iquest", 191}, {u"Agrave", 192}, {u"Aacute", 193}, {u"Acirc", 194}, {u"Atilde", 195},
    {u"Auml", 196}, {u"Aring", 197}, {u"AElig", 198}, {u"Ccedil", 199}, {u"Egrave", 200}, {u"Eacute", 201},
    {u"Ecirc", 202}, {u"Euml", 203}, {u"Igrave", 204}, {u"Iacute", 205}, {u"Icirc", 206}, {u"Iuml", 207},
    {u"ETH", 208}, {u"Ntilde", 209}, {u"Ograve", 210}, {u"Oacute", 211}, {u"Ocirc", 212}, {u"Otilde", 213},
    {u"Ouml", 214}, {u"times", 215}, {u"Oslash", 216}, {u"Ugrave", 217}, {u"Uacute", 218}, {u"Ucirc", 219},
    {u"Uuml", 220}, {u"Yacute", 221}, {u"THORN", 222}, {u"szlig", 223}, {u"agrave", 224}, {u"aacute", 225},
    {u"acirc", 226}, {u"atilde", 227}, {u"auml", 228}, {u"aring", 229}, {u"aelig", 230}, {u"ccedil", 231},
    {u"egrave", 232}, {u"eacute", 233}, {u"ecirc", 234}, {u"euml", 235}, {u"igrave", 236}, {u"iacute", 237},
    {u"icirc", 238}, {u"iuml", 239}, {u"eth", 240}, {u"ntilde", 241}, {u"ograve", 242}, {u"oacute", 243},
    {u"ocirc", 244}, {u"otilde", 245}, {u"ouml", 246}, {u"divide", 247}, {u"oslash", 248}, {u"ugrave", 249},
    {u"uacute", 250}, {u"ucirc", 251}, {u"uuml", 252}, {u"yacute", 253}, {u"thorn", 254}, {u"yuml", 255},
    // Symbols, mathematical symbols and Greek letters
    {u"fnof", 402}, {u"Alpha", 913}, {u"Beta", 914}, {u"Gamma", 915}, {u"Delta", 916}, {u"Epsilon", 917},
    {u"Zeta", 918}, {u"Eta", 919}, {u"Theta", 920}, {u"Iota", 921}, {u"Kappa", 922}, {u"Lambda", 923},
    {u"Mu", 924}, {u"Nu", 925}, {u"Xi", 926}, {u"Omicron", 927}, {u"Pi", 928}, {u"Rho", 929},
    {u"Sigma", 931}, {u"Tau", 932}, {u"Upsilon", 933}, {u"Phi", 934}, {u"Chi", 935}, {u"Psi", 936},
    {u"Omega", 937}, {u"alpha", 945}, {u"beta", 946}, {u"gamma", 947}, {u"delta", 948}, {u"epsilon", 949},
    {u"zeta", 950}, {u"eta", 951}, {u"theta", 952}, {u"iota", 953}, {u"kappa", 954}, {u"lambda", 955},
    {u"mu", 956}, {u"nu", 957}, {u"xi", 958}, {u"omicron", 959}, {u"pi", 960}, {u"rho", 961},
    {u"sigmaf", 962}, {u"sigma", 963}, {u"tau", 964}, {u"upsilon", 965}, {u"phi", 966}, {u"chi", 967},
    {u"psi", 968}, {u"omega", 969}, {u"thetasym", 977}, {u"upsih", 978}, {u"piv", 982}, {u"bull", 8226},
    {u"hellip", 8230}, {u"prime", 8242}, {u"Prime", 8243}, {u"oline", 8254}, {u"frasl", 8260},
    {u"weierp", 8472}, {u"image", 8465}, {u"real", 8476}, {u"trade", 8482}, {u"alefsym", 8501},
    {u"larr", 8592}, {u"uarr", 8593}, {u"rarr", 8594}, {u"darr", 8595}, {u"harr", 8596}, {u"crarr", 8629},
    {u"lArr", 8656}, {u"uArr", 8657}, {u"rArr", 8658}, {u"dArr", 8659}, {u"hArr", 8660}, {u"forall", 8704},
    {u"part", 8706}, {u"exist", 8707}, {u"empty", 8709}, {u"nabla", 8711}, {u"isin", 8712}, {u"notin", 8713},
    {u"ni", 8715}, {u"prod", 8719}, {u"sum", 8721}, {u"minus", 8722}, {u"lowast", 8727}, {u"radic", 8730},
    {u"prop", 8733}, {u"infin", 8734}, {u"ang", 8736}, {u"and", 8743}, {u"or", 8744}, {u"cap", 8745},
    {u"cup", 8746}, {u"int", 8747}, {u"there4", 8756}, {u"sim", 8764}, {u"cong", 8773}, {u"asymp", 8776},
    {u"ne", 8800}, {u"equiv", 8801}, {u"le", 8804}, {u"ge", 8805}, {u"sub", 8834}, {u"sup", 8835},
    {u"nsub", 8836}, {u"sube", 8838}, {u"supe", 8839}, {u"oplus", 8853}, {u"otimes", 8855}, {u"perp", 8869},
    {u"sdot", 8901}, {u"lceil", 8968}, {u"rceil", 8969}, {u"lfloor", 8970}, {u"rfloor", 8971},
    {u"lang", 9001}, {u"rang", 9002}, {u"loz", 9674}, {u"spades", 9824}, {u"clubs", 9827}, {u"hearts", 9829},
    {u"diams", 9830},
    // Special characters
    {u"quot", 34}, {u"amp", 38}, {u"lt", 60}, {u"gt", 62}, {u"OElig", 338}, {u"oelig", 339},
    {u"Scaron", 352}, {u"scaron", 353}, {u"Yuml", 376}, {u"circ", 710}, {u"tilde", 732}, {u"ensp", 8194},
    {u"emsp", 8195}, {u"thinsp", 8201}, {u"zwnj", 8204}, {u"zwj", 8205}, {u"lrm", 8206}, {u"rlm", 8207},
    {u"ndash", 8211}, {u"mdash", 8212}, {u"lsquo", 8216}, {u"rsquo", 8217}, {u"sbquo", 8218},
    {u"ldquo", 8220}, {u"rdquo", 8221}, {u"bdquo", 8222}, {u"dagger", 8224}, {u"Dagger", 8225},
    {u"permil", 8240}, {u"lsaquo", 8249}, {u"rsaquo", 8250}, {u"euro", 8364},
};
static_assert(sizeof(kEntities) / sizeof(kEntities[0]) == 252, "HTML 4.01 defines 252 entity references");

// The entity table by name, built once.
const std::unordered_map<std::u16string_view, unsigned short>& EntityMap() {
  static const std::unordered_map<std::u16string_view, unsigned short> map = [] {
    std::unordered_map<std::u16string_view, unsigned short> m;
    for (const Entity& e : kEntities) m.emplace(e.name, e.code);
    return m;
  }();
  return map;
}

bool IsCSpace(char16_t c) { return c == u' ' || (c >= 9 && c <= 13); }

int DigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'z') return c - u'a' + 10;
  if (c >= u'A' && c <= u'Z') return c - u'A' + 10;
  return 99;
}

// Reads the number at text[from, to) as the C runtime's "%d" or "%x" does:
// leading white space, an optional sign, then digits (and, for hexadecimal,
// an optional 0x); trailing text is ignored. False when no digit was read.
// A value beyond U+10FFFF (or below zero) is given as -1: no reference
// takes it. Reads only the characters that belong to the number.
bool ScanNumber(const std::u16string& text, size_t from, size_t to, int base, long long* value) {
  size_t i = from;
  while (i < to && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < to && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  if (base == 16 && i + 2 < to && text[i] == u'0' && (text[i + 1] | 0x20) == u'x' && DigitValue(text[i + 2]) < 16)
    i += 2;
  const size_t digitsFrom = i;
  long long v = 0;
  bool beyond = false;
  while (i < to && DigitValue(text[i]) < base) {
    if (!beyond) {
      v = v * base + DigitValue(text[i]);
      if (v > 0x10FFFF) beyond = true;
    }
    ++i;
  }
  if (i == digitsFrom) return false;
  *value = beyond || (negative && v != 0) ? -1 : v;
  return true;
}

}  // namespace

LPWSTR ConvertToWide(LPWSTR dst, LPCSTR src, int dstSize, UINT codePage) {
  if (!dst || !src) return nullptr;
  if (dstSize > 0) dst[0] = 0;
  if (dstSize <= 0) return nullptr;
  int n = MultiByteToWideChar(codePage, 0, src, -1, dst, dstSize);
  if (n <= 0) {
    dst[0] = 0;
    return nullptr;
  }
  return dst;
}

LPSTR ConvertToMultiByte(LPSTR dst, LPCWSTR src, int dstSize, UINT codePage) {
  if (!dst || !src) return nullptr;
  if (dstSize > 0) dst[0] = 0;
  if (dstSize <= 0) return nullptr;
  int n = WideCharToMultiByte(codePage, 0, src, -1, dst, dstSize, nullptr, nullptr);
  if (n <= 0) {
    dst[0] = 0;
    return nullptr;
  }
  return dst;
}

int EncodeUtf8Char(BYTE* buf, UINT code) {
  if (code == 0) return -1;
  if (code < 0x80) {
    buf[0] = BYTE(code);
    return 1;
  }
  if (code < 0x800) {
    buf[0] = BYTE(0xC0 | (code >> 6));
    buf[1] = BYTE(0x80 | (code & 0x3F));
    return 2;
  }
  if (code < 0x10000) {
    buf[0] = BYTE(0xE0 | (code >> 12));
    buf[1] = BYTE(0x80 | ((code >> 6) & 0x3F));
    buf[2] = BYTE(0x80 | (code & 0x3F));
    return 3;
  }
  if (code <= 2097151) {
    buf[0] = BYTE(0xF0 | (code >> 18));
    buf[1] = BYTE(0x80 | ((code >> 12) & 0x3F));
    buf[2] = BYTE(0x80 | ((code >> 6) & 0x3F));
    buf[3] = BYTE(0x80 | (code & 0x3F));
    return 4;
  }
  // Beyond the 4-byte form nothing is written; no caller passes such a code.
  return -1;
}

CString& FormUrlEncode(CString& out, const CString& in) {
  out.Empty();
  static const char16_t kHex[] = u"0123456789ABCDEF";
  const int n = in.GetLength();
  for (int i = 0; i < n; ++i) {
    UINT code = in[i];
    // A surrogate pair is one character: encode it as one 4-byte sequence,
    // so servers receive valid UTF-8.
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < n && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (UINT(in[i + 1]) - 0xDC00);
      ++i;
    }
    BYTE bytes[6];
    int count = EncodeUtf8Char(bytes, code);
    for (int k = 0; k < count; ++k) {
      BYTE b = bytes[k];
      if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9')) {
        out += WCHAR(b);
      } else if (b == ' ' || (b >= 9 && b <= 13)) {
        out += u'+';
      } else {
        out += u'%';
        out += kHex[b >> 4];
        out += kHex[b & 15];
      }
    }
  }
  return out;
}

void ReplaceHTMLEntities(CString& text) {
  const std::u16string& s = text.str();
  size_t p = s.find(u'&');
  if (p == std::u16string::npos) return;
  // One pass: each reference is decoded once and the text after it is read
  // on from its end, so replaced text is never decoded again. The end of a
  // name is found by a search that only moves forward: the first end after
  // one ampersand is the first end after every ampersand before it, so no
  // part of the text is searched twice.
  const size_t n = s.size();
  size_t knownEnd = 0;
  bool haveEnd = false;
  auto nameEnd = [&](size_t from) {
    if (!haveEnd || (knownEnd != std::u16string::npos && knownEnd < from)) {
      knownEnd = s.find_first_of(u"; \t\n", from);
      haveEnd = true;
    }
    return knownEnd;
  };
  std::u16string out;
  out.reserve(n);
  out.append(s, 0, p);
  size_t at = p;
  while (at < n) {
    if (s[at] != u'&') {
      size_t amp = s.find(u'&', at);
      if (amp == std::u16string::npos) amp = n;
      out.append(s, at, amp - at);
      at = amp;
      continue;
    }
    const size_t end = at + 1 < n ? nameEnd(at + 1) : std::u16string::npos;
    long long code = -1;
    size_t refEnd = at + 1;
    if (end != std::u16string::npos && end > at + 1) {
      refEnd = s[end] == u';' ? end + 1 : end;
      const size_t nameFrom = at + 1, nameLength = end - nameFrom;
      if (s[nameFrom] == u'#') {
        long long v;
        bool have;
        if (nameLength > 1 && s[nameFrom + 1] == u'x') have = ScanNumber(s, nameFrom + 2, end, 16, &v);
        else have = ScanNumber(s, nameFrom + 1, end, 10, &v);
        // References to 0, to lone surrogates and beyond U+10FFFF stay as text.
        if (have && v > 0 && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) code = v;
      } else if (nameLength < 15) {
        const auto& map = EntityMap();
        auto found = map.find(std::u16string_view(s.data() + nameFrom, nameLength));
        if (found != map.end()) code = found->second;
      }
    }
    if (code > 0) {
      if (code >= 0x10000) {
        long long c = code - 0x10000;
        out.push_back(char16_t(0xD800 + (c >> 10)));
        out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
      } else {
        out.push_back(char16_t(code));
      }
      at = refEnd;
    } else {
      out.push_back(u'&');
      ++at;
    }
  }
  text.str() = std::move(out);
}

UINT HtmlEntityCode(const CString& name) {
  if (name.IsEmpty() || name.GetLength() >= 15) return 0;
  const auto& map = EntityMap();
  auto found = map.find(std::u16string_view(name.str()));
  return found == map.end() ? 0 : found->second;
}

CString& DecodeHtmlEntities(CString& out, const CString& in) {
  out = in;
  ReplaceHTMLEntities(out);
  return out;
}

void HtmlToPlainText(CString& text) {
  // Each step reads its input once and writes its output once, so the time
  // grows with the length of the text whatever it holds.
  const std::u16string& s = text.str();
  const size_t n = s.size();
  // "\uXXXX" escapes: one to four hexadecimal digits, which are all the
  // escape takes. A surrogate counts only as the first half of a pair whose
  // second half is the escape right after it; a surrogate without its
  // partner, and an escape of code 0 (a NUL would end the text for every
  // reader that takes it as a terminated string), stay as they are. What an
  // escape gives is never read as the start of another.
  auto escapeAt = [&s, n](size_t at, size_t* length) -> UINT {
    UINT value = 0;
    size_t digits = 0;
    while (digits < 4 && at + 2 + digits < n && iswxdigit16(s[at + 2 + digits])) {
      char16_t c = s[at + 2 + digits];
      value = value * 16 + UINT(c <= u'9' ? c - u'0' : (c | 0x20) - u'a' + 10);
      ++digits;
    }
    *length = 2 + digits;
    return digits ? value : 0;
  };
  auto isEscape = [&s, n](size_t at) { return at + 1 < n && s[at] == u'\\' && s[at + 1] == u'u'; };
  std::u16string unescaped;
  unescaped.reserve(n);
  for (size_t i = 0; i < n;) {
    if (!isEscape(i)) {
      unescaped.push_back(s[i++]);
      continue;
    }
    size_t length = 0;
    UINT v = escapeAt(i, &length);
    if (v >= 0xD800 && v <= 0xDBFF) {
      size_t second = 0;
      UINT low = isEscape(i + length) ? escapeAt(i + length, &second) : 0;
      if (second == 6 && low >= 0xDC00 && low <= 0xDFFF) {
        unescaped.push_back(char16_t(v));
        unescaped.push_back(char16_t(low));
        i += length + second;
        continue;
      }
    } else if (v != 0 && !(v >= 0xDC00 && v <= 0xDFFF)) {
      unescaped.push_back(char16_t(v));
      i += length;
      continue;
    }
    // Left as it stands: the backslash, and the text after it as text.
    unescaped.push_back(s[i++]);
  }
  // Tags: everything from a "<" through the first ">" after it goes, tags
  // that follow one another included. A "<" without a later ">" stays, and
  // so does the text after it.
  std::u16string plain;
  plain.reserve(unescaped.size());
  for (size_t i = 0, m = unescaped.size(); i < m;) {
    size_t open = unescaped.find(u'<', i);
    size_t close = open == std::u16string::npos ? open : unescaped.find(u'>', open);
    if (close == std::u16string::npos) {
      plain.append(unescaped, i, std::u16string::npos);
      break;
    }
    plain.append(unescaped, i, open - i);
    i = close + 1;
  }
  text.str() = std::move(plain);
  ReplaceHTMLEntities(text);
}

CWideBuffer::CWideBuffer() : m_pText(nullptr), m_nCapacity(64), m_nLength(0) {
  m_pText = static_cast<WCHAR*>(malloc(m_nCapacity * sizeof(WCHAR)));
  if (!m_pText) throw std::bad_alloc();
  m_pText[0] = 0;
}

CWideBuffer::~CWideBuffer() { free(m_pText); }

void CWideBuffer::Assign(LPCWSTR text) {
  size_t n = text ? wcslen(text) : 0;
  if (n + 4 > m_nCapacity) {
    auto* grown = static_cast<WCHAR*>(malloc((n + 64) * sizeof(WCHAR)));
    if (!grown) throw std::bad_alloc();
    free(m_pText);
    m_pText = grown;
    m_nCapacity = n + 64;
  }
  m_nLength = n;
  if (n) memcpy(m_pText, text, n * sizeof(WCHAR));
  m_pText[n] = 0;
}

void CWideBuffer::Append(LPCWSTR text) {
  size_t n = text ? wcslen(text) : 0;
  if (m_nLength + n + 4 > m_nCapacity) {
    size_t capacity = m_nLength + n + 64;
    auto* grown = static_cast<WCHAR*>(malloc(capacity * sizeof(WCHAR)));
    if (!grown) throw std::bad_alloc();
    memcpy(grown, m_pText, (m_nLength + 1) * sizeof(WCHAR));
    free(m_pText);
    m_pText = grown;
    m_nCapacity = capacity;
  }
  if (n) memcpy(m_pText + m_nLength, text, n * sizeof(WCHAR));
  m_nLength += n;
  m_pText[m_nLength] = 0;
}

CWideBuffer& FileDialogPathBuffer() {
  static CWideBuffer buffer;
  return buffer;
}

CWideBuffer& FileDialogNameBuffer() {
  static CWideBuffer buffer;
  return buffer;
}
