#include "quillet/options/option_download_dlg.h"

#include <algorithm>

#include "controls/commctrl.h"
#include "quillet/ui/density.h"

BEGIN_MESSAGE_MAP(COptionDownloadDlg, COptionPage)
ON_EN_CHANGE(IDC_OPTION_ARTICLES, OnArticlesChange)
ON_EN_CHANGE(IDC_OPTION_SYNC_COUNT, OnSyncCountChange)
ON_NOTIFY(UDN_DELTAPOS, IDC_OPTION_ARTICLES_SPIN, OnArticlesDeltaPos)
ON_NOTIFY(UDN_DELTAPOS, IDC_OPTION_SYNC_COUNT_SPIN, OnSyncCountDeltaPos)
ON_BN_CLICKED(IDC_OPTION_LIMIT_SET, OnNothing)
ON_CONTROL(STN_CLICKED, IDC_OPTION_SYNC_COUNT_LABEL, OnNothing)
END_MESSAGE_MAP()

namespace {

constexpr int kSpinTop = OPTION_ARTICLES_MAX - 1;

int ProfileInt(LPCWSTR entry, int defaultValue) {
  return static_cast<int>(AfxGetApp()->GetProfileInt(u"Settings", entry, defaultValue));
}

}  // namespace

COptionDownloadDlg::COptionDownloadDlg(CWnd* parent) : COptionPage(IDD_OPTION_GENERAL, parent) {}

BOOL COptionDownloadDlg::OnInitDialog() {
  COptionPage::OnInitDialog();
  if (!StartPage(TRUE)) return TRUE;
  CheckDlgButton(IDC_OPTION_IMAGES, ProfileInt(u"DownloadImage", 1) ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(IDC_OPTION_FULLTEXT, ProfileInt(u"DownloadFulltext", 1) ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(IDC_OPTION_LIMIT_SET, ProfileInt(u"ArticlesNumberSet", 1) ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(IDC_OPTION_FULLSCREEN,
                 ProfileInt(u"FullScreenReading", GetTouchFlag() ? 1 : 0) ? BST_CHECKED : BST_UNCHECKED);
  const int articles = std::clamp(ProfileInt(u"ArticlesNumber", 50), 1, OPTION_ARTICLES_MAX);
  SetDlgItemInt(IDC_OPTION_ARTICLES, static_cast<UINT>(articles));
  const int syncCount = std::max(std::min(ProfileInt(u"VentrelNumber", 15), articles), 1);
  SetDlgItemInt(IDC_OPTION_SYNC_COUNT, static_cast<UINT>(syncCount));
  SetItemText(IDC_OPTION_LIMIT_SET, u"Limit the number of articles in a channel to");
  SetItemText(IDC_OPTION_ARTICLES_LABEL, u"Limit the number of articles in a channel to");
  SetItemText(IDC_OPTION_IMAGES, u"Download/show images if possible");
  SetItemText(IDC_OPTION_FULLSCREEN, u"Full screen reading");
  SetItemText(IDC_OPTION_SYNC_COUNT_LABEL, u"Google Reader download size");
  SetItemText(IDC_OPTION_FULLTEXT, u"Download fulltext articles if having template");
  FinishStart(u"General");
  if (!GetTouchFlag()) {
    // A key device steps the numbers with its own keys and reads full
    // screen from its own setting.
    for (UINT id : {IDC_OPTION_FULLSCREEN, IDC_OPTION_ARTICLES_SPIN, IDC_OPTION_SYNC_COUNT_SPIN})
      ::ShowWindow(::GetDlgItem(m_hWnd, static_cast<int>(id)), SW_HIDE);
  }
  for (UINT spin : {IDC_OPTION_ARTICLES_SPIN, IDC_OPTION_SYNC_COUNT_SPIN})
    SendDlgItemMessage(static_cast<int>(spin), UDM_SETRANGE, 0, MAKELPARAM(0, kSpinTop));
  SetSpinValue(IDC_OPTION_ARTICLES_SPIN, articles);
  SetSpinValue(IDC_OPTION_SYNC_COUNT_SPIN, syncCount);
  SetSpanningControls({IDC_OPTION_ARTICLES_LABEL, IDC_OPTION_SYNC_COUNT_LABEL, IDC_OPTION_IMAGES,
                       IDC_OPTION_FULLTEXT, IDC_OPTION_FULLSCREEN});
  return TRUE;
}

int COptionDownloadDlg::ReadNumber(UINT id) const {
  CString text;
  GetDlgItemText(static_cast<int>(id), text);
  int value = 0;
  for (int i = 0; i < text.GetLength() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    // Far beyond any limit: the rest of a long number changes nothing.
    if (value > 100000) return 100000;
  }
  return value;
}

void COptionDownloadDlg::CorrectNumber(UINT id, int value) {
  SetDlgItemInt(static_cast<int>(id), static_cast<UINT>(value));
  SendDlgItemMessage(static_cast<int>(id), EM_SETSEL, 0, -1);
  SendDlgItemMessage(static_cast<int>(id), EM_SCROLLCARET, 0, 0);
}

void COptionDownloadDlg::SetSpinValue(UINT id, int value) {
  SendDlgItemMessage(static_cast<int>(id), UDM_SETPOS, 0, MAKELPARAM(OPTION_ARTICLES_MAX - value, 0));
}

void COptionDownloadDlg::OnArticlesChange() {
  const int typed = ReadNumber(IDC_OPTION_ARTICLES);
  const int value = std::clamp(typed, 1, OPTION_ARTICLES_MAX);
  if (value != typed) CorrectNumber(IDC_OPTION_ARTICLES, value);
  SetSpinValue(IDC_OPTION_ARTICLES_SPIN, value);
}

void COptionDownloadDlg::OnSyncCountChange() {
  const int typed = ReadNumber(IDC_OPTION_SYNC_COUNT);
  const int articles = ReadNumber(IDC_OPTION_ARTICLES);
  int value = typed;
  if (typed < 1) value = articles < 1 ? articles : 1;
  else if (typed > articles) value = articles;
  if (value != typed) CorrectNumber(IDC_OPTION_SYNC_COUNT, value);
  SetSpinValue(IDC_OPTION_SYNC_COUNT_SPIN, value);
}

// The notification comes before the up-down moves: the value shown is the
// one of the position it moves to.
void COptionDownloadDlg::OnArticlesDeltaPos(NMHDR* header, LRESULT* result) {
  const auto* step = reinterpret_cast<NMUPDOWN*>(header);
  const int position = std::clamp(step->iPos + step->iDelta, 0, kSpinTop);
  SetDlgItemInt(IDC_OPTION_ARTICLES, static_cast<UINT>(OPTION_ARTICLES_MAX - position));
  *result = 0;
}

void COptionDownloadDlg::OnSyncCountDeltaPos(NMHDR* header, LRESULT* result) {
  const auto* step = reinterpret_cast<NMUPDOWN*>(header);
  const int position = std::clamp(step->iPos + step->iDelta, 0, kSpinTop);
  const int value = std::min(OPTION_ARTICLES_MAX - position, ReadNumber(IDC_OPTION_ARTICLES));
  SetDlgItemInt(IDC_OPTION_SYNC_COUNT, static_cast<UINT>(value));
  *result = 0;
}

void COptionDownloadDlg::OnOK() {
  CWinApp* app = AfxGetApp();
  auto checked = [&](UINT id) { return IsDlgButtonChecked(static_cast<int>(id)) == BST_CHECKED ? 1 : 0; };
  app->WriteProfileInt(u"Settings", u"DownloadImage", checked(IDC_OPTION_IMAGES));
  app->WriteProfileInt(u"Settings", u"DownloadFulltext", checked(IDC_OPTION_FULLTEXT));
  app->WriteProfileInt(u"Settings", u"ArticlesNumberSet", checked(IDC_OPTION_LIMIT_SET));
  app->WriteProfileInt(u"Settings", u"FullScreenReading", checked(IDC_OPTION_FULLSCREEN));
  app->WriteProfileInt(u"Settings", u"ArticlesNumber", ReadNumber(IDC_OPTION_ARTICLES));
  app->WriteProfileInt(u"Settings", u"VentrelNumber", ReadNumber(IDC_OPTION_SYNC_COUNT));
  EndDialog(IDOK);
}
