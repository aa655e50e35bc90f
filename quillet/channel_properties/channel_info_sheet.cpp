// The channel properties sheet, its Details page and the HTML it shows
// (see channel_properties.h).
#include <cstdlib>

#include "common/localize.h"
#include "common/settings.h"
#include "controls/commctrl.h"
#include "quillet/feeds/rss_xml.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/res/resources.h"
#include "quillet/channel_properties/channel_properties.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"

namespace {

LPCWSTR ScreenTitle() { return GetTouchFlag() ? u"Quillet Reach" : u"Quillet"; }

}  // namespace

// ---------------------------------------------------------------- the description

BEGIN_MESSAGE_MAP(COptionChannelInfoDescDlg, CHtmlHostDialog)
ON_WM_SIZE()
END_MESSAGE_MAP()

COptionChannelInfoDescDlg::COptionChannelInfoDescDlg() : CHtmlHostDialog(IDD_CHANNEL_INFO_DESC, nullptr, TRUE) {
  RegisterQuilletResources();
}

BOOL COptionChannelInfoDescDlg::OnInitDialog() {
  CHtmlHostDialog::OnInitDialog();
  // The feed file the channel's last refresh kept.
  CString path;
  path.Format(u"%s\\Ch%03d.xml", ChannelDataFolder().GetString(), m_nChannel);
  CRssXML feed(nullptr, nullptr, this, 1);
  m_strPage.Empty();
  if (FileAccess(path)) {
    feed.Load(path);
    feed.GetChannelInfoHtml(m_strPage);
  }
  SetHtml(m_strPage);
  // The page shows in the first view; the second, empty one is hidden.
  LayoutHtmlView(FALSE, FALSE);
  CRect client;
  GetClientRect(&client);
  OnSize(SIZE_RESTORED, client.Width(), client.Height());
  return TRUE;
}

void COptionChannelInfoDescDlg::OnSize(UINT type, int cx, int cy) {
  CHtmlHostDialog::OnSize(type, cx, cy);
  for (int slot = 0; slot < 2; ++slot)
    if (HWND view = GetHtmlView(slot)) ::MoveWindow(view, -2, -2, cx + 4, cy + 4, TRUE);
}

// ---------------------------------------------------------------- the Details page

BEGIN_MESSAGE_MAP(COptionChannelInfoDetailsDlg, CPropertyPage)
ON_WM_SIZE()
END_MESSAGE_MAP()

COptionChannelInfoDetailsDlg::COptionChannelInfoDetailsDlg() : CPropertyPage(IDD_CHANNEL_INFO_DETAILS) {
  RegisterQuilletResources();
  m_strCaption = Localized(u"Details");
}

void COptionChannelInfoDetailsDlg::SetField(LPCWSTR name, LPCWSTR value) {
  if (CString(name ? name : u"").CompareNoCase(u"UniqueID") != 0) return;
  // Leading blanks and a sign, then the digits up to the first other
  // character; no digits give 0.
  const CStringA text(value ? value : u"");
  m_nChannel = std::atoi(text.GetString());
  if (m_desc.m_hWnd) m_desc.m_nChannel = m_nChannel;
}

void COptionChannelInfoDetailsDlg::DoDataExchange(CDataExchange* dx) {
  CPropertyPage::DoDataExchange(dx);
  DDX_Control(dx, IDC_INFO_CAPTION, m_caption);
}

BOOL COptionChannelInfoDetailsDlg::OnInitDialog() {
  CPropertyPage::OnInitDialog();
  SetWindowText(ScreenTitle());
  InitScreenDpi(0);
  m_caption.SetWindowText(Localized(u"Channel Properties"));
  m_desc.m_nChannel = m_nChannel;
  m_desc.Create(IDD_CHANNEL_INFO_DESC, this);
  m_desc.ShowWindow(SW_SHOW);
  CRect client;
  GetClientRect(&client);
  OnSize(SIZE_RESTORED, client.Width(), client.Height());
  return TRUE;
}

void COptionChannelInfoDetailsDlg::OnSize(UINT type, int cx, int cy) {
  CPropertyPage::OnSize(type, cx, cy);
  if (!m_hWnd) return;
  SetWindowText(ScreenTitle());
  const int captionHeight = Dy(28);
  if (m_caption.m_hWnd) m_caption.MoveWindow(-2, -2, cx + 4, captionHeight);
  if (m_desc.m_hWnd) m_desc.MoveWindow(0, captionHeight - 2, cx, cy - captionHeight + 4);
}

// ---------------------------------------------------------------- the sheet

BEGIN_MESSAGE_MAP(COptionChannelInfoDlg, CPropertySheet)
ON_WM_SIZE()
END_MESSAGE_MAP()

COptionChannelInfoDlg::COptionChannelInfoDlg() : CPropertySheet(u"Quillet", nullptr, 0) {
  RegisterQuilletResources();
  AddPage(&m_main);
  AddPage(&m_details);
}

void COptionChannelInfoDlg::SetField(LPCWSTR name, LPCWSTR value) {
  m_main.SetField(name, value);
  m_details.SetField(name, value);
}

BOOL COptionChannelInfoDlg::OnInitDialog() {
  const BOOL result = CPropertySheet::OnInitDialog();
  SetWindowText(ScreenTitle());
  // Full screen below the task bar, whose done button closes the sheet.
  SHINITDLGINFO init = {
      SHIDIM_FLAGS, m_hWnd,
      static_cast<DWORD>((GetTouchFlag() ? SHIDIF_FULLSCREENNOMENUBAR : SHIDIF_SIZEDLGFULLSCREEN) | SHIDIF_DONEBUTTON)};
  SHInitDialog(&init);
  if (HWND tab = reinterpret_cast<HWND>(SendMessage(PSM_GETTABCONTROL))) {
    const CString texts[2] = {Localized(u"Title"), Localized(u"Details")};
    for (int i = 0; i < 2; ++i) {
      TCITEMW item{};
      item.mask = TCIF_TEXT;
      item.pszText = const_cast<LPWSTR>(texts[i].GetString());
      ::SendMessageW(tab, TCM_SETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    }
  }
  return result;
}

void COptionChannelInfoDlg::OnSize(UINT type, int cx, int cy) {
  CPropertySheet::OnSize(type, cx, cy);
  if (m_hWnd) SetWindowText(ScreenTitle());
}

// ---------------------------------------------------------------- callers

void RunChannelProperties(BOOL sheet, int channel, const CString& url, const CString& title, CWnd* parent) {
  CString number;
  number.Format(u"%d", channel);
  if (sheet) {
    COptionChannelInfoDlg properties;
    properties.m_pParentWnd = parent;
    properties.SetField(u"UniqueID", number);
    properties.SetField(u"URL", url);
    properties.SetField(u"Title", title);
    properties.DoModal();
  } else {
    COptionChannelInfoMainDialog properties(parent);
    properties.SetField(u"UniqueID", number);
    properties.SetField(u"URL", url);
    properties.SetField(u"Title", title);
    properties.DoModal();
  }
}
