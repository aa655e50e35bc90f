#include "quillet/reading/article_page.h"

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "quillet/feeds/image_sources.h"
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
  int loaded = 0;
  // Each picture source is looked at where it stands (see image_sources.h);
  // one named again gets the answer it got the first time, so a picture is
  // loaded once however often the page shows it.
  std::map<Text, std::optional<Text>> answered;
  Text text = RewriteImageSources(content.str(), [&](const HtmlImageSource& source) -> std::optional<Text> {
    const Text& path = source.value;
    if (path.empty()) return std::nullopt;
    // Names this page build gave already.
    const Text pathLower = AsciiLower(path);
    if (pathLower.find(u"newscontent") != npos || pathLower.find(u"newsfiller") != npos) return std::nullopt;
    auto known = answered.find(path);
    if (known != answered.end()) return known->second;
    std::optional<Text> answer;
    if (loaded < ARTICLE_MAX_CONTENT_IMAGES && loader && IsLocalImageReference(CString(path))) {
      CString name;
      name.Format(u"newscontent%02d", loaded + 1);
      if (loader->LoadContentImage(options.dataFolder + u"\\" + CString(path), name)) {
        ++loaded;
        answer = name.str();
      }
    }
    if (!answer && !options.remoteImages) answer = u"newsfiller";
    answered.emplace(path, answer);
    return answer;
  });
  Text lower = AsciiLower(text);
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
