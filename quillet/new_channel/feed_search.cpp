#include "quillet/new_channel/feed_search.h"

#include "common/encoding.h"
#include "quillet/refresh/refresh_state.h"

CString FeedSearchUrl(const CString& keywords) {
  CString host = ReadSettingString(u"Settings", u"FeedSearchHost", FEED_SEARCH_DEFAULT_HOST);
  if (host.IsEmpty()) host = FEED_SEARCH_DEFAULT_HOST;
  CString query;
  FormUrlEncode(query, keywords);
  return CString(u"http://") + host + FEED_SEARCH_QUERY_PATH + query;
}

namespace {

int HexDigit(WCHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// The escape that starts at text[at] (a backslash) appended to token;
// returns the index of its last character.
int TakeEscape(LPCWSTR text, int length, int at, CString& token) {
  if (at + 1 >= length) return at;  // a lone backslash at the end
  const WCHAR c = text[at + 1];
  switch (c) {
    case u'b': token += u'\b'; break;
    case u'f': token += u'\f'; break;
    case u'n': token += u'\n'; break;
    case u'r': token += u'\r'; break;
    case u't': token += u'\t'; break;
    case u'u': {
      int value = 0, digits = 0;
      while (digits < 4 && at + 2 + digits < length) {
        int d = HexDigit(text[at + 2 + digits]);
        if (d < 0) break;
        value = value * 16 + d;
        ++digits;
      }
      if (digits < 4) {
        // Not an escape after all: kept as it stands.
        token += u'\\';
        token += u'u';
        return at + 1;
      }
      // A NUL would end the text for every reader of it.
      if (value) token += static_cast<WCHAR>(value);
      return at + 5;
    }
    default:
      // "\"", "\\", "\/" and anything else: the character itself.
      if (c) token += c;
      break;
  }
  return at + 1;
}

}  // namespace

void ReadFeedSearchReply(LPCWSTR text, int length, CMapStringToString& titles, CStringList& urls) {
  if (!text) return;
  if (length > FEED_SEARCH_MAX_REPLY) length = FEED_SEARCH_MAX_REPLY;
  CString token, url, title;
  bool inString = false, expectUrl = false, expectTitle = false;
  // Set when the string being read ran past FEED_SEARCH_MAX_VALUE.
  bool overlong = false;
  for (int i = 0; i < length; ++i) {
    const WCHAR c = text[i];
    if (inString) {
      if (c == u'"') {
        inString = false;
      } else if (token.GetLength() >= FEED_SEARCH_MAX_VALUE) {
        // The rest of a string past the bound is read over, not kept.
        overlong = true;
        if (c == u'\\') ++i;
      } else if (c == u'\\') {
        i = TakeEscape(text, length, i, token);
      } else if (c) {
        token += c;  // a NUL, escaped or not, is left out
      }
      continue;
    }
    switch (c) {
      case u'"':
        // A value is one string: one that follows another replaces it.
        inString = true;
        overlong = false;
        token.Empty();
        break;
      case u'{':
      case u'}':
      case u'[':
      case u']':
        if (!url.IsEmpty() && !title.IsEmpty()) {
          HtmlToPlainText(title);
          if (title.GetLength() > FEED_SEARCH_MAX_TITLE) title.Truncate(FEED_SEARCH_MAX_TITLE);
          // A cut never leaves the first half of a pair alone at the end.
          const int last = title.GetLength() - 1;
          if (last >= 0 && title[last] >= 0xD800 && title[last] <= 0xDBFF) title.Truncate(last);
          titles.SetAt(url, title);
          urls.AddTail(url);
        }
        expectUrl = expectTitle = false;
        url.Empty();
        title.Empty();
        token.Empty();
        break;
      case u':':
        expectUrl = token.CompareNoCase(u"url") == 0;
        expectTitle = token.CompareNoCase(u"title") == 0;
        token.Empty();
        break;
      case u',':
        // An address cut short would name another feed: it is not taken.
        if (expectUrl) url = overlong ? CString() : token;
        else if (expectTitle) title = token;
        token.Empty();
        break;
      default:
        break;
    }
  }
}
