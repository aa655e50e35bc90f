#include "quillet/reading/article_page.h"

#include <algorithm>
#include <functional>
#include <string>

#include "quillet/feeds/item_store.h"

namespace {

using Text = std::u16string;
constexpr size_t npos = Text::npos;

char16_t LowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

Text AsciiLower(const Text& text) {
  Text lower(text);
  for (char16_t& c : lower) c = LowerAscii(c);
  return lower;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f'; }

// Replaces every occurrence of what (lower-case ASCII, found in the
// lower-cased copy) by with, in the text and in its copy alike.
void ReplaceAllNoCase(Text& text, Text& lower, const Text& what, const Text& with) {
  size_t at = lower.find(what);
  if (at == npos) return;
  const Text withLower = AsciiLower(with);
  Text out, outLower;
  out.reserve(text.size() + text.size() / 8);
  outLower.reserve(out.capacity());
  size_t copied = 0;
  for (; at != npos; at = lower.find(what, copied)) {
    out.append(text, copied, at - copied);
    outLower.append(lower, copied, at - copied);
    out += with;
    outLower += withLower;
    copied = at + what.size();
  }
  out.append(text, copied, npos);
  outLower.append(lower, copied, npos);
  text.swap(out);
  lower.swap(outLower);
}

// Removes every block from open to the next close (both tags with it); an
// unclosed block runs to the end of the text.
void RemoveBlocks(Text& text, Text& lower, const Text& open, const Text& close) {
  size_t at = lower.find(open);
  if (at == npos) return;
  Text out, outLower;
  out.reserve(text.size());
  outLower.reserve(text.size());
  size_t copied = 0;
  for (; at != npos; at = lower.find(open, copied)) {
    out.append(text, copied, at - copied);
    outLower.append(lower, copied, at - copied);
    size_t end = lower.find(close, at + open.size());
    copied = end == npos ? text.size() : end + close.size();
  }
  out.append(text, copied, npos);
  outLower.append(lower, copied, npos);
  text.swap(out);
  lower.swap(outLower);
}

// Replaces every occurrence of a picture reference that stands as an
// attribute value (right after "="; an unquoted one also ended by a blank,
// ">" or the end of the text) by replacement. The lower-cased copy follows
// piece by piece, so the text is not lower-cased again for every picture.
// Returns where the replacement of the occurrence at mark ends.
size_t ReplaceReference(Text& text, Text& lower, const Text& token, bool quoted, const Text& replacement,
                        size_t mark) {
  const Text replacementLower = AsciiLower(replacement);
  Text out, outLower;
  out.reserve(text.size() + replacement.size() * 2);
  outLower.reserve(out.capacity());
  size_t copied = 0, from = 0, markEnd = mark + token.size();
  // The token is looked for by skipping ahead on mismatches: the page is
  // long and this runs once per picture.
  const std::boyer_moore_horspool_searcher<Text::const_iterator> searcher(token.begin(), token.end());
  auto find = [&](size_t start) -> size_t {
    if (token.empty() || start > text.size()) return npos;
    auto hit = std::search(text.cbegin() + static_cast<std::ptrdiff_t>(start), text.cend(), searcher);
    return hit == text.cend() ? npos : static_cast<size_t>(hit - text.cbegin());
  };
  for (size_t at = find(0); at != npos; at = find(from)) {
    const size_t end = at + token.size();
    const bool value = at > 0 && text[at - 1] == u'=' &&
                       (quoted || end == text.size() || IsBlank(text[end]) || text[end] == u'>');
    if (!value) {
      from = at + 1;
      continue;
    }
    out.append(text, copied, at - copied);
    outLower.append(lower, copied, at - copied);
    out += replacement;
    outLower += replacementLower;
    if (at == mark) markEnd = out.size();
    copied = end;
    from = end;
  }
  out.append(text, copied, npos);
  outLower.append(lower, copied, npos);
  text.swap(out);
  lower.swap(outLower);
  return markEnd;
}

// An attribute value that would run a script if a viewer followed it:
// "javascript:" or "vbscript:", also when written with character
// references, blanks or control characters in between.
bool IsScriptAddress(const Text& value) {
  Text plain;
  for (size_t i = 0; i < value.size() && plain.size() < 16; ++i) {
    char16_t c = value[i];
    if (c == u'&') {
      size_t semi = value.find(u';', i);
      if (semi != npos && semi - i <= 10) {
        Text ref = AsciiLower(value.substr(i + 1, semi - i - 1));
        unsigned long code = 0;
        bool known = true;
        if (ref.size() > 1 && ref[0] == u'#') {
          const bool hex = ref[1] == u'x';
          for (size_t k = hex ? 2 : 1; k < ref.size(); ++k) {
            char16_t d = ref[k];
            int digit = d >= u'0' && d <= u'9' ? d - u'0' : hex && d >= u'a' && d <= u'f' ? d - u'a' + 10 : -1;
            if (digit < 0 || code > 0x10FFFF) {
              known = false;
              break;
            }
            code = code * (hex ? 16 : 10) + unsigned(digit);
          }
        } else if (ref == u"colon") {
          code = u':';
        } else if (ref == u"tab" || ref == u"newline") {
          code = u' ';
        } else {
          known = false;
        }
        if (known) {
          c = code <= 0xFFFF ? char16_t(code) : u'?';
          i = semi;
        }
      }
    }
    if (c <= 0x20 || c == 0x7F) continue;
    plain += LowerAscii(c);
  }
  return plain.rfind(u"javascript:", 0) == 0 || plain.rfind(u"vbscript:", 0) == 0 ||
         plain.rfind(u"livescript:", 0) == 0;
}

bool IsLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

// Drops the event-handler attributes ("on..." names) and the attributes
// whose value is a script address from every tag.
Text NeutraliseAttributes(const Text& text) {
  if (text.find(u'<') == npos) return text;
  Text out;
  out.reserve(text.size());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    size_t lt = text.find(u'<', i);
    if (lt == npos) {
      out.append(text, i, npos);
      break;
    }
    out.append(text, i, lt - i);
    if (lt + 1 >= n || !IsLetter(text[lt + 1])) {
      out += u'<';
      i = lt + 1;
      continue;
    }
    size_t p = lt + 1;
    while (p < n && !IsBlank(text[p]) && text[p] != u'>' && text[p] != u'/') ++p;
    out.append(text, lt, p - lt);
    // The blanks before an attribute go with it.
    while (p < n) {
      const size_t blank = p;
      while (p < n && (IsBlank(text[p]) || text[p] == u'/')) ++p;
      if (p >= n) {
        out.append(text, blank, p - blank);
        break;
      }
      if (text[p] == u'>') {
        out.append(text, blank, p - blank);
        out += u'>';
        ++p;
        break;
      }
      const size_t nameStart = p;
      ++p;  // a name may begin with any character but a blank, "/" or ">"
      while (p < n && !IsBlank(text[p]) && text[p] != u'>' && text[p] != u'=' && text[p] != u'/') ++p;
      const Text name = AsciiLower(text.substr(nameStart, p - nameStart));
      Text value;
      bool hasValue = false;
      size_t q = p;
      while (q < n && IsBlank(text[q])) ++q;
      if (q < n && text[q] == u'=') {
        hasValue = true;
        ++q;
        while (q < n && IsBlank(text[q])) ++q;
        if (q < n && (text[q] == u'"' || text[q] == u'\'')) {
          size_t close = text.find(text[q], q + 1);
          size_t end = close == npos ? n : close;
          value = text.substr(q + 1, end - q - 1);
          p = close == npos ? n : close + 1;
        } else {
          size_t s = q;
          while (q < n && !IsBlank(text[q]) && text[q] != u'>') ++q;
          value = text.substr(s, q - s);
          p = q;
        }
      }
      const bool handler = name.size() > 2 && name[0] == u'o' && name[1] == u'n';
      if (!handler && !(hasValue && IsScriptAddress(value))) out.append(text, blank, p - blank);
    }
    i = p;
  }
  return out;
}

Text EscapeText(const Text& text) {
  Text out;
  out.reserve(text.size());
  for (char16_t c : text) {
    switch (c) {
      case u'&': out += u"&amp;"; break;
      case u'<': out += u"&lt;"; break;
      case u'>': out += u"&gt;"; break;
      case u'"': out += u"&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

BOOL IsErrorArticle(const ArticleInfo& info) { return info.strLink == CString(ERROR_ITEM_LINK); }

CString ArticlePageTitle(const ArticleInfo& info) {
  CString title(info.strTitle);
  if (IsErrorArticle(info)) title.Replace(u": Tap for details.", u"");
  return title;
}

BOOL IsLocalImageReference(const CString& reference) {
  const Text& r = reference.str();
  if (r.empty() || r[0] == u'\\' || r[0] == u'/') return FALSE;
  for (char16_t c : r)
    if (c < 0x20 || c == 0x7F || c == u':') return FALSE;
  // No part of the path may lead out of the folder.
  size_t start = 0;
  while (start <= r.size()) {
    size_t end = r.find_first_of(u"\\/", start);
    if (end == npos) end = r.size();
    const Text part = r.substr(start, end - start);
    if (part.size() >= 2 && part.find_first_not_of(u'.') == npos) return FALSE;
    start = end + 1;
  }
  return TRUE;
}

CString EscapeHtmlAttribute(const CString& text) { return CString(EscapeText(text.str())); }

CString PrepareArticleContent(const CString& content, const ArticlePageOptions& options, CArticleImageLoader* loader,
                              int* imagesLoaded) {
  Text text = content.str();
  Text lower = AsciiLower(text);
  int loaded = 0;
  size_t at = 0;
  const Text filler = u"\"newsfiller\"";
  for (;;) {
    const size_t img = lower.find(u"<img", at);
    if (img == npos) break;
    const size_t src = lower.find(u"src=", img);
    if (src == npos) break;
    const size_t from = src + 4;
    if (from >= text.size()) break;
    // The value: a quoted one up to its closing quote, else up to the first
    // blank or ">".
    Text token, path;
    size_t valueEnd;
    const bool quoted = text[from] == u'"' || text[from] == u'\'';
    if (quoted) {
      const size_t close = text.find(text[from], from + 1);
      if (close == npos) {
        at = from;  // unterminated: left alone
        continue;
      }
      path = text.substr(from + 1, close - from - 1);
      valueEnd = close + 1;
      if (path.find_first_of(u"<>\r\n") != npos) {
        at = from;
        continue;
      }
    } else {
      size_t end = from;
      while (end < text.size() && !IsBlank(text[end]) && text[end] != u'>') ++end;
      if (end == text.size()) break;
      path = text.substr(from, end - from);
      valueEnd = end;
    }
    if (path.empty()) {
      at = valueEnd;
      continue;
    }
    token = text.substr(from, valueEnd - from);
    const Text tokenLower = AsciiLower(token);
    // Names this page build gave already.
    if (tokenLower.find(u"newscontent") != npos || tokenLower.find(u"newsfiller") != npos) {
      at = valueEnd;
      continue;
    }
    if (loaded < ARTICLE_MAX_CONTENT_IMAGES && loader && IsLocalImageReference(CString(path))) {
      CString name;
      name.Format(u"newscontent%02d", loaded + 1);
      CString file = options.dataFolder + u"\\" + CString(path);
      if (loader->LoadContentImage(file, name)) {
        ++loaded;
        at = ReplaceReference(text, lower, token, quoted, u"\"" + name.str() + u"\"", from);
        continue;
      }
    }
    if (!options.remoteImages) {
      at = ReplaceReference(text, lower, token, quoted, filler, from);
      continue;
    }
    at = valueEnd;
  }
  if (!options.remoteImages) ReplaceAllNoCase(text, lower, u"http://", u"h t t p://");
  ReplaceAllNoCase(text, lower, u"width=", u"width&eq;");
  ReplaceAllNoCase(text, lower, u"width:", u"width&#58;");
  RemoveBlocks(text, lower, u"<script", u"</script>");
  RemoveBlocks(text, lower, u"<style", u"</style>");
  RemoveBlocks(text, lower, u"<textarea", u"</textarea>");
  RemoveBlocks(text, lower, u"<iframe", u"</iframe>");
  if (imagesLoaded) *imagesLoaded = loaded;
  return CString(NeutraliseAttributes(text));
}

CString BuildArticlePage(const ArticleInfo& info, const ArticlePageOptions& options, CArticleImageLoader* loader,
                         int* imagesLoaded) {
  const BOOL error = IsErrorArticle(info);
  CString content = PrepareArticleContent(info.strBody, options, loader, imagesLoaded);
  Text page;
  page.reserve(size_t(content.GetLength()) + 1024);
  page += u"<HTML><BODY style=\"word-break:break-all\" scroll=\"no\">";
  if (options.hasLogo) page += u"<P><img src=\"logo\"></P>";
  page += u"<b><font color=\"#000080\">";
  if (!options.hasLogo) page += u"<P>" + EscapeText(info.strChannelTitle.str()) + u"</P>";
  page += info.bWasRead ? u"</font></b><img src=\"news-read\">&nbsp;<B>" : u"</font></b><img src=\"news-unread\">&nbsp;<B>";
  const Text title = EscapeText(ArticlePageTitle(info).str());
  page += error ? u"<font color=\"#FF0000\">" + title + u"</font>" : title;
  page += u"</B><P>";
  page += content.str();
  if (!error && !info.bHasPage) {
    page += u"</P><P><a href=\"" + EscapeText(info.strLink.str()) + u"\">" + options.readMoreText.str() +
            u"...</a></P><P align=\"left\"><font color=\"#C0C0C0\">";
  } else {
    page += u"</P><P align=\"left\"><font color=\"#C0C0C0\">";
  }
  page += options.publishedText.str() + u": " + options.displayDate.str() + u"</font></P><BR><BR><BR>";
  page += u"</BODY></HTML>";
  return CString(std::move(page));
}
