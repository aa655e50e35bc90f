#include "quillet/screens/news_read_dlg.h"

#include "quillet/screens/screen_messages.h"

CNewsReadDlg::CNewsReadDlg(const ArticleInfo& info, CWnd* parent, CArticleSource* source)
    : CDialog(IDD_NEWS_READ, parent), m_info(info), m_pSource(source) {}

CNewsReadDlg::~CNewsReadDlg() = default;
