#include "common/encoding.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

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

// Reads a number as the C runtime's "%d" or "%x" does: leading white space,
// an optional sign, then digits (and, for hexadecimal, an optional 0x);
// trailing text is ignored. False when no digit was read.
bool ScanNumber(const std::u16string& text, int base, long long* value) {
  std::string narrow;
  for (char16_t c : text) narrow.push_back(c < 0x80 ? char(c) : '\x7f');
  const char* s = narrow.c_str();
  char* end = nullptr;
  errno = 0;
  long long v = strtoll(s, &end, base);
  if (end == s) return false;
  // strtoll accepts "0x" alone as "0" followed by "x": "%x" does the same.
  if (errno == ERANGE) v = base == 16 ? 0x7FFFFFFFFFFFFFFFLL : v;
  *value = v;
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
  std::u16string& s = text.str();
  size_t p = s.find(u'&');
  while (p != std::u16string::npos) {
    size_t end = s.find_first_of(u"; \t\n", p + 1);
    if (end != std::u16string::npos && end > p + 1) {
      std::u16string name = s.substr(p + 1, end - p - 1);
      size_t refEnd = s[end] == u';' ? end + 1 : end;
      long long code = -1;
      bool have = false;
      if (name[0] == u'#') {
        long long v;
        if (name.size() > 1 && name[1] == u'x') {
          have = ScanNumber(name.substr(2), 16, &v);
        } else {
          have = ScanNumber(name.substr(1), 10, &v);
        }
        // References to 0, to lone surrogates and beyond U+10FFFF stay as text.
        if (have && v > 0 && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) code = v;
      } else if (name.size() < 15) {
        for (const Entity& e : kEntities) {
          if (name == e.name) {
            code = e.code;
            break;
          }
        }
      }
      if (code > 0) {
        std::u16string replacement;
        if (code >= 0x10000) {
          long long c = code - 0x10000;
          replacement.push_back(char16_t(0xD800 + (c >> 10)));
          replacement.push_back(char16_t(0xDC00 + (c & 0x3FF)));
        } else {
          replacement.push_back(char16_t(code));
        }
        s.replace(p, refEnd - p, replacement);
      }
    }
    // Go on after the ampersand, so replaced text is never decoded again.
    p = s.find(u'&', p + 1);
  }
}

UINT HtmlEntityCode(const CString& name) {
  if (name.IsEmpty() || name.GetLength() >= 15) return 0;
  for (const Entity& e : kEntities) {
    if (name.str() == e.name) return e.code;
  }
  return 0;
}

CString& DecodeHtmlEntities(CString& out, const CString& in) {
  out = in;
  ReplaceHTMLEntities(out);
  return out;
}

void HtmlToPlainText(CString& text) {
  std::u16string& s = text.str();
  // "\uXXXX" escapes: one to four hexadecimal digits, which are all the
  // escape takes. A surrogate counts only as the first half of a pair whose
  // second half is the escape right after it; a surrogate without its
  // partner, and an escape of code 0 (a NUL would end the text for every
  // reader that takes it as a terminated string), stay as they are.
  auto escapeAt = [&s](size_t at, size_t* length) -> UINT {
    UINT value = 0;
    size_t digits = 0;
    while (digits < 4 && at + 2 + digits < s.size() && iswxdigit16(s[at + 2 + digits])) {
      char16_t c = s[at + 2 + digits];
      value = value * 16 + UINT(c <= u'9' ? c - u'0' : (c | 0x20) - u'a' + 10);
      ++digits;
    }
    *length = 2 + digits;
    return digits ? value : 0;
  };
  size_t i = s.find(u"\\u");
  while (i != std::u16string::npos) {
    size_t length = 0;
    UINT v = escapeAt(i, &length);
    if (v >= 0xD800 && v <= 0xDBFF) {
      size_t second = 0;
      UINT low = s.compare(i + length, 2, u"\\u") == 0 ? escapeAt(i + length, &second) : 0;
      if (second == 6 && low >= 0xDC00 && low <= 0xDFFF) {
        const char16_t pair[2] = {char16_t(v), char16_t(low)};
        s.replace(i, length + second, pair, 2);
      }
    } else if (v != 0 && !(v >= 0xDC00 && v <= 0xDFFF)) {
      s.replace(i, length, 1, char16_t(v));
    }
    i = s.find(u"\\u", i + 1);
  }
  // Tags.
  i = s.find(u'<');
  while (i != std::u16string::npos) {
    size_t close = s.find(u'>', i);
    if (close == std::u16string::npos) break;
    s.erase(i, close - i + 1);
    i = s.find(u'<', i + 1);
  }
  CString decoded;
  DecodeHtmlEntities(decoded, text);
  text = decoded;
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
