// The record of one article that the headline list hands to the reading
// view, and the headline list's side of Previous and Next as the reading
// view sees it.
#pragma once

#include "framework/afx.h"

struct ArticleInfo {
  int nChannel = 0;
  CString strChannelTitle;
  CString strTitle;
  // The item's content HTML, or the text of its stored page.
  CString strBody;
  CString strLink;
  CString strDate;
  // The item was read before it was opened.
  BOOL bWasRead = FALSE;
  // The body is the text of the item's stored page.
  BOOL bHasPage = FALSE;
};

// What the reading view asks of the screen that opened it.
class CArticleSource {
 public:
  virtual ~CArticleSource() = default;
  // Fills info with the article step rows away from the row whose link is
  // link (or, with a non-empty title, whose title is title), wrapping round
  // at both ends, and marks it read. FALSE (info untouched) when the list has
  // no row to move to.
  virtual BOOL MoveArticle(ArticleInfo& info, int step, const CString& link, const CString& title) = 0;
};
