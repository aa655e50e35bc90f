// The reading view: one article as an HTML page, with Previous and Next
// through the screen that opened it.
#pragma once

#include "framework/afx.h"
#include "framework/dialog.h"
#include "quillet/screens/article_info.h"

class CNewsReadDlg : public CDialog {
 public:
  // source: the headline list's side of Previous and Next (may be null).
  CNewsReadDlg(const ArticleInfo& info, CWnd* parent, CArticleSource* source);
  ~CNewsReadDlg() override;

  // The user confirmed Delete in the view: the opener deletes the article
  // that the view showed last (GetArticle()).
  BOOL IsDeleteRequested() const { return m_bDeleteRequested; }
  const ArticleInfo& GetArticle() const { return m_info; }

 protected:
  ArticleInfo m_info;
  CArticleSource* m_pSource = nullptr;
  BOOL m_bDeleteRequested = FALSE;
};
