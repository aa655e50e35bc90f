#include "quillet/feeds/image_sources.h"

namespace {

using Text = std::u16string;
constexpr size_t npos = Text::npos;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f'; }
bool IsLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
char16_t LowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

bool EqualsNoCase(const Text& text, size_t from, size_t end, const char16_t* lower) {
  size_t i = from;
  for (; *lower; ++lower, ++i)
    if (i >= end || LowerAscii(text[i]) != *lower) return false;
  return i == end;
}

// The elements whose text holds no tags, up to their own end tag.
bool IsRawTextElement(const Text& name) {
  for (const char16_t* raw :
       {u"script", u"style", u"textarea", u"title", u"xmp", u"iframe", u"noembed", u"noframes"})
    if (name == raw) return true;
  return false;
}

struct NamedReference {
  const char16_t* name;
  char16_t c;
  bool legacy;  // also stands without its ";"
};

constexpr NamedReference kNamed[] = {
    {u"amp", u'&', true},        {u"lt", u'<', true},       {u"gt", u'>', true},     {u"quot", u'"', true},
    {u"apos", u'\'', false},     {u"nbsp", 0xA0, true},     {u"copy", 0xA9, true},   {u"reg", 0xAE, true},
    {u"colon", u':', false},     {u"sol", u'/', false},     {u"quest", u'?', false}, {u"equals", u'=', false},
    {u"num", u'#', false},       {u"percnt", u'%', false},  {u"period", u'.', false}, {u"lowbar", u'_', false},
    {u"hyphen", u'-', false},    {u"plus", u'+', false},    {u"comma", u',', false}, {u"semi", u';', false},
    {u"excl", u'!', false},      {u"dollar", u'$', false},  {u"ast", u'*', false},   {u"commat", u'@', false},
    {u"tilde", u'~', false},     {u"Tab", u'\t', false},    {u"NewLine", u'\n', false},
};

bool IsAlnum(char16_t c) { return IsLetter(c) || (c >= u'0' && c <= u'9'); }

void AppendCodePoint(Text& out, unsigned long code) {
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  if (code <= 0xFFFF) {
    out += char16_t(code);
  } else {
    code -= 0x10000;
    out += char16_t(0xD800 + (code >> 10));
    out += char16_t(0xDC00 + (code & 0x3FF));
  }
}

}  // namespace

size_t CHtmlImageSources::Find(char16_t c, size_t from) {
  const size_t at = m_page.find(c, from);
  m_steps += (at == npos ? m_page.size() : at + 1) - std::min(from, m_page.size());
  return at;
}

size_t CHtmlImageSources::FindText(const char16_t* what, size_t from) {
  const size_t at = m_page.find(what, from);
  m_steps += (at == npos ? m_page.size() : at + 1) - std::min(from, m_page.size());
  return at;
}

size_t CHtmlImageSources::SkipPast(char16_t c, size_t from) {
  const size_t at = Find(c, from);
  return at == npos ? m_page.size() : at + 1;
}

size_t CHtmlImageSources::EndOfRawText(size_t from, const Text& name) {
  const size_t n = m_page.size();
  for (;;) {
    const size_t at = FindText(u"</", from);
    if (at == npos) return n;
    size_t p = at + 2;
    while (p < n && p - at - 2 < name.size() && LowerAscii(m_page[p]) == name[p - at - 2]) ++p;
    m_steps += p - at - 2;
    if (p - at - 2 == name.size() && p < n && (IsBlank(m_page[p]) || m_page[p] == u'/' || m_page[p] == u'>'))
      return at;
    from = at + 2;
  }
}

CHtmlImageSources::TagEnd CHtmlImageSources::ReadTag(size_t lt, bool endTag, HtmlImageSource& found,
                                                     bool& hasSource, size_t& end) {
  const Text& t = m_page;
  const size_t n = t.size();
  size_t p = lt + (endTag ? 2 : 1);
  const size_t nameStart = p;
  while (p < n && !IsBlank(t[p]) && t[p] != u'/' && t[p] != u'>') ++p;
  m_steps += p - nameStart;
  const bool image = !endTag && EqualsNoCase(t, nameStart, p, u"img");
  bool sourceSeen = false;
  hasSource = false;
  for (;;) {
    const size_t skipFrom = p;
    while (p < n && (IsBlank(t[p]) || t[p] == u'/')) ++p;
    m_steps += p - skipFrom;
    if (p >= n) return TagEnd::Cut;
    if (t[p] == u'>') {
      end = p + 1;
      if (hasSource) found.tagEnd = end;
      return TagEnd::Done;
    }
    // A name may begin with any character but a blank, "/" or ">" ("="
    // included).
    const size_t attrStart = p;
    ++p;
    while (p < n && !IsBlank(t[p]) && t[p] != u'/' && t[p] != u'>' && t[p] != u'=') ++p;
    const size_t attrEnd = p;
    while (p < n && IsBlank(t[p])) ++p;
    m_steps += p - attrStart;
    size_t valueStart = npos, valueEnd = npos;
    char16_t quote = 0;
    if (p < n && t[p] == u'=') {
      ++p;
      while (p < n && IsBlank(t[p])) ++p;
      if (p >= n) return TagEnd::Cut;
      if (t[p] == u'"' || t[p] == u'\'') {
        quote = t[p];
        const size_t close = Find(quote, p + 1);
        if (close == npos) return TagEnd::Cut;
        valueStart = p;
        valueEnd = close + 1;
        p = close + 1;
      } else if (t[p] != u'>') {
        valueStart = p;
        while (p < n && !IsBlank(t[p]) && t[p] != u'>') ++p;
        m_steps += p - valueStart;
        if (p >= n) return TagEnd::Cut;
        valueEnd = p;
      }
    }
    if (image && !sourceSeen && EqualsNoCase(t, attrStart, attrEnd, u"src")) {
      sourceSeen = true;
      if (valueStart != npos) {
        hasSource = true;
        found.tag = lt;
        found.valueStart = valueStart;
        found.valueEnd = valueEnd;
        found.quote = quote;
        const size_t inner = quote ? valueStart + 1 : valueStart;
        const size_t innerEnd = quote ? valueEnd - 1 : valueEnd;
        found.value = DecodeHtmlAttribute(t.substr(inner, innerEnd - inner));
      }
    }
  }
}

bool CHtmlImageSources::Next(HtmlImageSource& found) {
  const Text& t = m_page;
  const size_t n = t.size();
  while (m_pos < n) {
    const size_t lt = Find(u'<', m_pos);
    if (lt == npos || lt + 1 >= n) {
      m_pos = n;
      return false;
    }
    const char16_t c = t[lt + 1];
    if (c == u'!') {
      if (t.compare(lt, 4, u"<!--") == 0) {
        const size_t body = lt + 4;
        if (body < n && t[body] == u'>') {
          m_pos = body + 1;  // "<!-->"
        } else if (t.compare(body, 2, u"->") == 0) {
          m_pos = body + 2;  // "<!--->"
        } else {
          // Ends at the first "--" followed by ">" or "!>".
          size_t from = body;
          m_pos = n;
          for (size_t dash = FindText(u"--", from); dash != npos; dash = FindText(u"--", from)) {
            size_t after = dash + 2;
            while (after < n && t[after] == u'-') ++after;  // "--->" ends it too
            m_steps += after - dash;
            if (after < n && t[after] == u'>') {
              m_pos = after + 1;
              break;
            }
            if (after + 1 < n && t[after] == u'!' && t[after + 1] == u'>') {
              m_pos = after + 2;
              break;
            }
            from = after;
          }
        }
      } else {
        m_pos = SkipPast(u'>', lt + 2);
      }
      continue;
    }
    if (c == u'?') {
      m_pos = SkipPast(u'>', lt + 2);
      continue;
    }
    if (c == u'/') {
      if (lt + 2 >= n) {
        m_pos = n;
        return false;
      }
      if (t[lt + 2] == u'>') {
        m_pos = lt + 3;
        continue;
      }
      if (!IsLetter(t[lt + 2])) {
        m_pos = SkipPast(u'>', lt + 3);
        continue;
      }
      bool unused = false;
      size_t end = n;
      HtmlImageSource ignored;
      if (ReadTag(lt, true, ignored, unused, end) == TagEnd::Cut) {
        m_pos = n;
        return false;
      }
      m_pos = end;
      continue;
    }
    if (!IsLetter(c)) {
      m_pos = lt + 1;
      continue;
    }
    bool hasSource = false;
    size_t end = n;
    if (ReadTag(lt, false, found, hasSource, end) == TagEnd::Cut) {
      m_pos = n;
      return false;
    }
    m_pos = end;
    // The name again, lower-cased, for the elements whose text is no markup.
    size_t nameEnd = lt + 1;
    while (nameEnd < n && !IsBlank(t[nameEnd]) && t[nameEnd] != u'/' && t[nameEnd] != u'>' && nameEnd - lt <= 10)
      ++nameEnd;
    m_steps += nameEnd - lt;
    Text name;
    for (size_t i = lt + 1; i < nameEnd; ++i) name += LowerAscii(t[i]);
    if (name == u"plaintext") {
      m_pos = n;
    } else if (IsRawTextElement(name)) {
      m_pos = EndOfRawText(end, name);
    }
    if (hasSource) return true;
  }
  return false;
}

std::u16string DecodeHtmlAttribute(const std::u16string& value) {
  if (value.find(u'&') == npos) return value;
  Text out;
  out.reserve(value.size());
  const size_t n = value.size();
  size_t i = 0;
  while (i < n) {
    const char16_t c = value[i];
    if (c != u'&') {
      out += c;
      ++i;
      continue;
    }
    size_t p = i + 1;
    if (p < n && value[p] == u'#') {
      ++p;
      const bool hex = p < n && (value[p] == u'x' || value[p] == u'X');
      if (hex) ++p;
      const size_t digits = p;
      unsigned long code = 0;
      while (p < n) {
        const char16_t d = LowerAscii(value[p]);
        int digit = d >= u'0' && d <= u'9' ? d - u'0' : hex && d >= u'a' && d <= u'f' ? d - u'a' + 10 : -1;
        if (digit < 0) break;
        if (code <= 0x10FFFF) code = code * (hex ? 16 : 10) + unsigned(digit);
        ++p;
      }
      if (p == digits) {  // no digits: not a reference
        out += c;
        ++i;
        continue;
      }
      if (p < n && value[p] == u';') ++p;
      AppendCodePoint(out, code);
      i = p;
      continue;
    }
    // A named reference: the longest known name that follows.
    size_t nameEnd = p;
    while (nameEnd < n && IsAlnum(value[nameEnd]) && nameEnd - p < 12) ++nameEnd;
    bool done = false;
    for (const NamedReference& ref : kNamed) {
      const Text name(ref.name);
      if (value.compare(p, name.size(), name) != 0) continue;
      const size_t after = p + name.size();
      if (after < n && value[after] == u';') {
        out += ref.c;
        i = after + 1;
        done = true;
        break;
      }
      // Without its ";" only an old name stands, and not in front of a
      // letter, digit or "=" (as in "?a=1&copy=2").
      if (ref.legacy && after == nameEnd && !(after < n && value[after] == u'=')) {
        out += ref.c;
        i = after;
        done = true;
        break;
      }
    }
    if (!done) {
      out += c;
      ++i;
    }
  }
  return out;
}

std::u16string WriteHtmlAttribute(const std::u16string& value, char16_t quote) {
  if (!quote) {
    bool bare = !value.empty();
    for (char16_t c : value)
      if (IsBlank(c) || c == u'"' || c == u'\'' || c == u'=' || c == u'<' || c == u'>' || c == u'`' || c == u'&')
        bare = false;
    if (bare) return value;
    quote = u'"';
  }
  Text out(1, quote);
  for (char16_t c : value) {
    if (c == u'&')
      out += u"&amp;";
    else if (c == quote)
      out += quote == u'"' ? u"&quot;" : u"&#39;";
    else
      out += c;
  }
  out += quote;
  return out;
}

std::u16string RewriteImageSources(
    const std::u16string& page, const std::function<std::optional<std::u16string>(const HtmlImageSource&)>& replace) {
  CHtmlImageSources reader(page);
  Text out;
  size_t copied = 0;
  HtmlImageSource source;
  while (reader.Next(source)) {
    std::optional<Text> with = replace(source);
    if (!with) continue;
    if (out.empty()) out.reserve(page.size() + page.size() / 8);
    out.append(page, copied, source.valueStart - copied);
    out += WriteHtmlAttribute(*with, source.quote);
    copied = source.valueEnd;
  }
  if (copied == 0) return page;
  out.append(page, copied, npos);
  return out;
}
