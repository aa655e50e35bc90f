// The online feed search of the wizard's search page: the query sent to the
// feed-search service and the reading of its JSON reply.
//
// The service's host is the setting "FeedSearchHost" (section "Settings");
// without it the program asks FEED_SEARCH_DEFAULT_HOST. The query goes over
// plain HTTP to "/ajax/services/feed/find?v=1.0&q=" with the keywords
// form-encoded.
//
// The reply is not parsed as a whole: it is scanned once for "url" and
// "title" members, and a result is taken at the bracket or brace that
// follows both (each value counts only when a comma follows it). Strings are
// read as JSON strings: a backslash escapes the character after it, so an
// escaped quote is part of the text and never ends the string. A NUL,
// written as such or as "\u0000", is left out of a string: it would end the
// text for every reader of it.
//
// The service is reached over plain HTTP, so anyone on the path may answer
// in its place: only the first FEED_SEARCH_MAX_REPLY characters of a reply
// are read, a string is read up to FEED_SEARCH_MAX_VALUE characters (an
// address that is longer gives no result, a longer title is cut), and a
// title is cut to FEED_SEARCH_MAX_TITLE characters of plain text. What lies
// beyond is ignored.
#pragma once

#include "framework/afx.h"
#include "framework/coll.h"

#define FEED_SEARCH_DEFAULT_HOST u"feedsearch.marrowby.com"
#define FEED_SEARCH_QUERY_PATH u"/ajax/services/feed/find?v=1.0&q="
#define FEED_SEARCH_MAX_REPLY (1024 * 1024)
#define FEED_SEARCH_MAX_VALUE 4096
#define FEED_SEARCH_MAX_TITLE 512

// The service's address for these keywords.
CString FeedSearchUrl(const CString& keywords);

// Scans a reply: for each result found, sets titles[url] to its title as
// plain text (tags removed, character references decoded) and appends the
// URL to urls (a URL given twice is listed twice). A result without URL or
// title is dropped.
void ReadFeedSearchReply(LPCWSTR text, int length, CMapStringToString& titles, CStringList& urls);
