// The doors of the main frame through which a screen of one family opens a
// screen of another (see quillet/screens/screen_frame.h): the frame knows
// every family, the families know only the frame's interface.
#include "quillet/channel_list/category_edit_dlg.h"
#include "quillet/channel_properties/channel_properties.h"
#include "quillet/frame/main_frame.h"
#include "quillet/headlines/news_list_dlg.h"
#include "quillet/reading/news_read_dlg.h"

HeadlineCounts CMainFrame::RunHeadlineList(const CString& title, const CString& url, int channel,
                                           CChannelListFields* owner) {
  HeadlineCounts counts;
  CNewsListDlg headlines(title, url, channel, owner);
  headlines.DoModal();
  counts.bKnown = headlines.HasCounts();
  counts.bChannelDeleted = headlines.IsChannelDeleted();
  counts.nChannel = channel;
  if (counts.bKnown) headlines.GetCounts(counts.nChannel, counts.nItems, counts.nFresh);
  return counts;
}

BOOL CMainFrame::RunReadingView(ArticleInfo& info, CWnd* parent, CArticleSource* source) {
  CNewsReadDlg view(info, parent, source);
  view.DoModal();
  info = view.GetArticle();
  return view.IsDeleteRequested();
}

BOOL CMainFrame::ChooseChannelCategory(CString& chosen) {
  CCategoryEditDlg editor(CATEGORY_EDIT_MODE_CHANGE, nullptr, nullptr);
  editor.AddCategoriesOfChannelList();
  if (editor.DoModal() != IDOK) return FALSE;
  chosen = editor.GetChosenCategory();
  return TRUE;
}

void CMainFrame::ShowChannelProperties(BOOL sheet, int channel, const CString& url, const CString& title,
                                       CWnd* parent) {
  RunChannelProperties(sheet, channel, url, title, parent);
}
