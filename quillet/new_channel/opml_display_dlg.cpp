#include "quillet/new_channel/opml_display_dlg.h"

#include <set>

#include "common/localize.h"
#include "common/log.h"
#include "common/settings.h"
#include "controls/commctrl.h"
#include "net/urlfuncs.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/new_channel/new_input_url_dlg.h"
#include "quillet/res/resources.h"
#include "quillet/screens/screen_frame.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"

namespace {

// A row's action runs from this timer, once the pressed row is drawn: the
// action may rebuild the list whose handler called it.
constexpr UINT_PTR kTimerRow = 3;

// TRUE for an address a feed can be fetched from: http or https as the
// downloads read it (CNewInputUrlDlg::IsFeedAddress), nothing in it below
// the printable range (spaces included). Anything else (a script, a local
// file, data, mail, ftp, a share, a relative path, a server no download
// can reach) would stay a channel whose every refresh fails.
BOOL IsWebFeedAddress(const CString& address) {
  for (int i = 0; i < address.GetLength(); ++i)
    if (address[i] <= u' ' || address[i] == 0x7F) return FALSE;
  return CNewInputUrlDlg::IsFeedAddress(address);
}

}  // namespace

BEGIN_MESSAGE_MAP(COpmlDisplayDlg, CWizardListPage)
ON_COMMAND(ID_EDITOR_BACK, OnCancel)
ON_COMMAND(ID_EDITOR_FINISH, OnNothing)
ON_WM_SIZE()
ON_WM_TIMER()
ON_WM_ERASEBKGND()
ON_WM_PAINT()
ON_WM_ACTIVATE()
END_MESSAGE_MAP()

COpmlDisplayDlg::COpmlDisplayDlg(LPCWSTR path, CWnd* parent) : CWizardListPage(IDD_OPML_DISPLAY, parent) {
  RegisterQuilletResources();
  // The template holds a tree control (never shown).
  InitCommonControls();
  InitScreenDpi(0);
  m_strPath = path ? path : u"";
  if (m_strPath.IsEmpty()) {
    WCHAR folder[MAX_PATH] = {0};
    GetProgramFolder(folder);
    m_strPath = folder;
    m_strPath += u"\\SampleChannels.opml";
    m_nMode = 0;
  } else {
    m_nMode = 1;
    m_bPicked = TRUE;
  }
  m_hFont = CreateWizardFont(FALSE);
  m_hTitleFont = CreateWizardFont(TRUE);
  m_highlight = ::GetSysColor(COLOR_HIGHLIGHT);
}

COpmlDisplayDlg::~COpmlDisplayDlg() {
  // A page that goes before its list loaded leaves no wait cursor behind.
  ::SetCursor(::LoadCursor(nullptr, IDC_ARROW));
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
  if (m_hFont) ::DeleteObject(m_hFont);
  if (m_hTitleFont) ::DeleteObject(m_hTitleFont);
  delete m_pRows;
  m_pRows = nullptr;
  delete m_pBar;
  m_pBar = nullptr;
}

void COpmlDisplayDlg::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, 1003, m_caption);
  DDX_Control(dx, 1004, m_prompt);
  DDX_Control(dx, 1005, m_loading);
}

CStringList* COpmlDisplayDlg::ChosenList() const {
  auto* wizard = dynamic_cast<CWizardFrame*>(GetParent());
  return wizard ? &wizard->m_chosenChannels : nullptr;
}

UINT COpmlDisplayDlg::RowImage(UINT low, UINT high, UINT key) const {
  return GetTouchFlag() ? ImageIdAt192(low, high) : key;
}

// ---------------------------------------------------------------- start

BOOL COpmlDisplayDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  InitScreenDpi(0);
  WriteLog(u"COpmlDisplayDlg::OnInitDialog()");
  if (!ShowAddSelectedKeys()) return -1;
  ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
  m_caption.SetWindowText(Localized(u"New Channel Wizard"));
  m_prompt.SetWindowText(Localized(u"Choose the channels to add:"));
  m_loading.SetWindowText(Localized(u"Loading, please waiting..."));
  if (GetTouchFlag()) m_pBar = MakeOkCancelBar();
  // The choice screen at once; the catalog once the page has been drawn.
  if (m_nMode == 1) ::SetCursor(::LoadCursor(nullptr, IDC_ARROW));
  FillList();
  if (m_nMode == 0) SetTimer(OPML_TIMER_LOAD, 5, nullptr);
  return FALSE;
}

// ---------------------------------------------------------------- the file

void COpmlDisplayDlg::ReadOutline(void* context, LPCWSTR parentText, LPCWSTR name, LPCWSTR value) {
  auto* self = static_cast<COpmlDisplayDlg*>(context);
  if (!self) return;
  const CString attribute = name ? name : u"";
  const CString text = value ? value : u"";
  if (attribute.IsEmpty() && text.IsEmpty()) {
    // The outline is complete: a feed is filed under its URL, a folder
    // under its title, each with the title of the outline around it.
    self->m_bOutlineEnded = TRUE;
    CString url = self->m_strScratchUrl;
    if (!url.IsEmpty()) {
      // Only web feeds are offered and added, by their address without the
      // spaces around it; the others are counted and left out.
      url.Trim();
      if (!IsWebFeedAddress(url)) {
        ++self->m_nLeftOut;
        return;
      }
      self->m_urls.push_back(url);
    }
    if (self->m_strScratchTitle.IsEmpty()) return;
    const CString key = url.IsEmpty() ? self->m_strScratchTitle : url;
    self->m_titles[key] = self->m_strScratchTitle;
    self->m_parents[key] = parentText ? parentText : u"";
    self->m_keys.push_back(key);
    if (url.IsEmpty()) self->m_folders.insert(key);
    else self->m_feeds.insert(key);
    return;
  }
  if (self->m_bOutlineEnded) {
    self->m_strScratchTitle.Empty();
    self->m_strScratchUrl.Empty();
    self->m_bOutlineEnded = FALSE;
  }
  if (attribute.CompareNoCase(u"text") == 0 || attribute.CompareNoCase(u"title") == 0) {
    self->m_strScratchTitle = text;
  } else if (attribute.CompareNoCase(u"xmlUrl") == 0) {
    self->m_strScratchUrl = text;
  }
}

COpmlOutlineReader::COpmlOutlineReader(COpmlDisplayDlg* page)
    : COpmlXML(&COpmlDisplayDlg::ReadOutline, page, 1), m_pPage(page) {}

void COpmlOutlineReader::VisitElement(TiXmlElement* parent, TiXmlElement* element) {
  m_pPage->BeginOutline();
  COpmlXML::VisitElement(parent, element);
}

void COpmlDisplayDlg::Forget() {
  m_titles.clear();
  m_parents.clear();
  m_keys.clear();
  m_folders.clear();
  m_feeds.clear();
  m_urls.clear();
  m_bOutlineEnded = TRUE;
  m_nLeftOut = 0;
}

void COpmlDisplayDlg::Load() {
  KillTimer(OPML_TIMER_LOAD);
  Forget();
  const BOOL exists = FileAccess(m_strPath);
  BOOL read = FALSE;
  if (exists) {
    COpmlOutlineReader document(this);
    read = document.LoadAndWalk(m_strPath) != 0;
  }
  // Nothing of a file that did not read whole is offered, so nothing of it
  // can be added.
  if (!read) Forget();
  ::SetCursor(::LoadCursor(nullptr, IDC_ARROW));
  // A catalog not fetched yet is simply empty. A file that is there but
  // does not read as an OPML list, or a picked file that went away, is
  // reported; the page for a picked file goes back to its first screen.
  if (!read && (exists || m_bPicked)) {
    m_bAddAll = FALSE;
    CString text = Localized(u"The OPML file cannot be read. It is damaged or it is not an OPML file:");
    text += u"\n";
    text += m_strPath;
    MessageBox(text, Localized(u"Error"), MB_OK | MB_ICONHAND);
    // The program may have ended while the box showed.
    if (!::IsWindow(m_hWnd)) return;
    if (m_bPicked) m_nMode = 1;
    FillList();
    return;
  }
  FillList();
  if (m_nLeftOut > 0) {
    CString text;
    text.Format(Localized(u"Outlines left out, as their addresses are no http or https web feeds: %d"), m_nLeftOut);
    MessageBox(text, Localized(u"Information"), MB_OK | MB_ICONINFORMATION);
    if (!::IsWindow(m_hWnd)) return;
  }
  if (m_bAddAll) AddEveryChannel();
}

CString COpmlDisplayDlg::CategoryOf(const CString& key) const {
  CString category;
  std::set<CString> seen;
  auto parent = m_parents.find(key);
  CString name = parent == m_parents.end() ? CString() : parent->second;
  // Up to the top-level folder; a name met before means the names lead
  // round in a circle, and the walk ends there.
  while (!name.IsEmpty() && seen.insert(name).second) {
    category = name;
    auto up = m_parents.find(name);
    name = up == m_parents.end() ? CString() : up->second;
  }
  return category.IsEmpty() ? Localized(u"Others") : category;
}

// ---------------------------------------------------------------- the list

void COpmlDisplayDlg::FillList() {
  if (!m_hWnd) return;
  delete m_pRows;
  CRect client;
  GetClientRect(&client);
  m_pRows = new CTouchMenuList(FALSE, TRUE);
  m_pRows->Create(reinterpret_cast<DWORD_PTR>(this), m_hWnd, 0, GetListTop(), client.Width(), GetListHeight(),
                  &COpmlDisplayDlg::OnListClick);
  const int check = static_cast<int>(RowImage(IDR_PNG_OK, IDR_PNG_OK_192, IDR_PNG_INPUT_SELECTED_KEY));
  if (m_nMode == 1) {
    m_pRows->AddItem(Localized(u"Choose specific channels from OPML"), nullptr,
                     static_cast<int>(RowImage(IDR_PNG_OPML_CHOOSE, IDR_PNG_OPML_CHOOSE_192, IDR_PNG_OPML_CHOOSE_KEY)),
                     -1, OPML_ROW_CHOOSE);
    m_pRows->AddItem(
        Localized(u"Add entire OPML channels"), nullptr,
        static_cast<int>(RowImage(IDR_PNG_OPML_ADD_ALL, IDR_PNG_OPML_ADD_ALL_192, IDR_PNG_OPML_ADD_ALL_KEY)), -1,
        OPML_ROW_ADD_ALL);
  } else {
    if (!m_strFolder.IsEmpty())
      m_pRows->AddItem(Localized(u"Back folder"), nullptr,
                       static_cast<int>(RowImage(IDR_PNG_OPML_BACK_FOLDER, IDR_PNG_OPML_BACK_FOLDER_192,
                                                 IDR_PNG_OPML_BACK_FOLDER_KEY)),
                       check, OPML_ROW_BACK_FOLDER);
    CScreenFrame* frame = ScreenFrame();
    const int folderImage =
        static_cast<int>(RowImage(IDR_PNG_OPML_FOLDER, IDR_PNG_OPML_FOLDER_192, IDR_PNG_OPML_FOLDER_KEY));
    const int feedImage =
        static_cast<int>(RowImage(IDR_PNG_NEWS_TITLE_ICON, IDR_PNG_NEWS_TITLE_ICON_192, IDR_PNG_OPML_FEED_KEY));
    std::map<CString, UINT> firstRow;
    for (size_t i = 0; i < m_keys.size(); ++i) {
      const CString& key = m_keys[i];
      const UINT command = firstRow.emplace(key, OPML_ROW_FIRST_ENTRY + static_cast<UINT>(i)).first->second;
      auto parent = m_parents.find(key);
      if (parent == m_parents.end() || parent->second != m_strFolder) continue;
      if (frame && frame->IsUrlSubscribed(key)) continue;
      auto title = m_titles.find(key);
      m_pRows->AddItem(title == m_titles.end() ? key : title->second, nullptr, IsFolder(key) ? folderImage : feedImage,
                       check, command);
    }
  }
  m_pRows->RefreshItems(FALSE);
  // The ticks that the wizard keeps.
  if (CStringList* chosen = ChosenList()) {
    for (int i = 0; i < m_pRows->GetItemCount(); ++i) {
      CTouchListItem* row = m_pRows->GetItem(i);
      if (row->m_nCommandId < OPML_ROW_FIRST_ENTRY) continue;
      const CString& key = m_keys[row->m_nCommandId - OPML_ROW_FIRST_ENTRY];
      if (!IsFolder(key) && chosen->Find(key)) SetRowsChecked(row->m_nCommandId, 1);
    }
  }
  HDC hdc = ::GetDC(m_hWnd);
  DrawPage(hdc);
  ::ReleaseDC(m_hWnd, hdc);
}

BOOL COpmlDisplayDlg::IsFolder(const CString& key) const {
  // A feed whose title is its own address is still a feed.
  return m_folders.count(key) && !m_feeds.count(key);
}

void COpmlDisplayDlg::SetRowsChecked(UINT commandId, DWORD value) {
  if (!m_pRows) return;
  // A feed listed twice in a folder is ticked in both rows.
  for (int i = 0; i < m_pRows->GetItemCount(); ++i) {
    CTouchListItem* row = m_pRows->GetItem(i);
    if (row->m_nCommandId != commandId) continue;
    row->m_nCheckValue = value;
    m_pRows->DropRendering(row);
  }
  m_pRows->Scroller().Redraw(1);
}

void COpmlDisplayDlg::OnListClick(HWND window, DWORD_PTR, UINT commandId, CTouchListItem*) {
  auto* self = dynamic_cast<COpmlDisplayDlg*>(CWnd::FromHandlePermanent(window));
  if (!self) return;
  self->m_nPendingRow = commandId;
  self->SetTimer(kTimerRow, 5, nullptr);
}

void COpmlDisplayDlg::Click(UINT commandId) {
  if (commandId == OPML_ROW_CHOOSE || commandId == OPML_ROW_ADD_ALL) {
    if (m_nMode != 1) return;
    m_nMode = 0;
    m_bAddAll = commandId == OPML_ROW_ADD_ALL;
    FillList();
    ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
    SetTimer(OPML_TIMER_LOAD, 5, nullptr);
    return;
  }
  if (m_nMode != 0) return;
  if (commandId == OPML_ROW_BACK_FOLDER) {
    auto parent = m_parents.find(m_strFolder);
    m_strFolder = parent == m_parents.end() ? CString() : parent->second;
    FillList();
    return;
  }
  if (commandId < OPML_ROW_FIRST_ENTRY || commandId - OPML_ROW_FIRST_ENTRY >= m_keys.size()) return;
  const CString key = m_keys[commandId - OPML_ROW_FIRST_ENTRY];
  if (IsFolder(key)) {
    m_strFolder = key;
    SetTimer(OPML_TIMER_FOLDER, 5, nullptr);
    return;
  }
  CStringList* chosen = ChosenList();
  if (!chosen) return;
  if (POSITION at = chosen->Find(key)) {
    chosen->RemoveAt(at);
    SetRowsChecked(commandId, 0);
  } else {
    chosen->AddTail(key);
    SetRowsChecked(commandId, 1);
  }
}

void COpmlDisplayDlg::OnTimer(UINT_PTR id) {
  switch (id) {
    case OPML_TIMER_LOAD:
      Load();
      return;
    case OPML_TIMER_FOLDER:
      KillTimer(OPML_TIMER_FOLDER);
      FillList();
      return;
    case kTimerRow:
      KillTimer(kTimerRow);
      Click(m_nPendingRow);
      return;
    default:
      if (m_pRows) m_pRows->OnTimer(m_hWnd, id);
      Default();
      return;
  }
}

// ---------------------------------------------------------------- adding

BOOL COpmlDisplayDlg::AddChannels(const std::vector<CString>& urls) {
  if (!m_pList) return TRUE;
  std::vector<COpmlXML::NewChannel> fresh;
  std::vector<CString> freshUrls;
  std::set<CString> met;
  for (const CString& url : urls) {
    // A feed listed twice is added once, with the title and folder of its
    // last place (what the title and parent maps hold). The same feed spelt
    // otherwise counts as the same feed.
    const CString same(InternetAddressKey(url.str()).c_str());
    if (!met.insert(same).second) continue;
    auto title = m_titles.find(url);
    // A feed without a title of its own is known by its address, so that it
    // is not lost.
    CString text = title == m_titles.end() || title->second.IsEmpty() ? url : title->second;
    // A feed the list holds already stays as it is; the page tells of it
    // unless this page added it itself.
    if (m_pList->HasChannel(url)) {
      if (!m_addedUrls.count(same) && m_subscribedUrls.insert(same).second) m_subscribedTitles.push_back(text);
      continue;
    }
    fresh.push_back({CategoryOf(url), text, url});
    freshUrls.push_back(same);
  }
  if (fresh.empty()) return TRUE;
  // All of them with one save of the list: a file of thousands of feeds
  // must not write the list once for each.
  std::vector<int> numbers;
  if (!m_pList->AddChannels(fresh, &numbers)) {
    // Nothing of them could be saved, so nothing of them is added; the
    // person is told and may try again.
    MessageBox(Localized(u"Insert Channel failed. Please check whether the channel exists or not."),
               Localized(u"Error"), MB_OK | MB_ICONHAND);
    return FALSE;
  }
  for (size_t i = 0; i < freshUrls.size(); ++i)
    if (numbers[i]) m_addedUrls.insert(freshUrls[i]);
  return TRUE;
}

void COpmlDisplayDlg::OnOK() {
  // Once: the wizard ends with this, and a second OK must not add again.
  if (m_bAdded) return;
  m_bAdded = TRUE;
  WriteLog(u"Add Channels:");
  if (CStringList* chosen = ChosenList()) {
    std::vector<CString> keys;
    for (POSITION at = chosen->GetHeadPosition(); at;) keys.push_back(chosen->GetNext(at));
    if (!AddChannels(keys)) {
      // The page stays, its ticks kept, for another try.
      if (::IsWindow(m_hWnd)) m_bAdded = FALSE;
      return;
    }
  }
  TellAlreadySubscribed(m_hWnd, m_subscribedTitles);
  if (CWnd* wizard = GetParent()) {
    wizard->SendMessage(WM_WIZARD_CHANNELS_ADDED, 0, 0);
    wizard->SendMessage(WM_CLOSE, 0, 0);
  }
}

void COpmlDisplayDlg::AddEveryChannel() {
  m_bAddAll = FALSE;
  // Every feed of the file in its order, also those listed twice or
  // subscribed already (the channel list refuses a title it holds).
  if (!AddChannels(m_urls)) {
    // Nothing was added: the page goes back to its first screen, from
    // which the whole file may be added again.
    if (!::IsWindow(m_hWnd)) return;
    m_subscribedUrls.clear();
    m_subscribedTitles.clear();
    if (m_bPicked) m_nMode = 1;
    FillList();
    return;
  }
  if (CWnd* wizard = GetParent()) wizard->SendMessage(WM_WIZARD_CHANNELS_ADDED, 0, 0);
  OnOK();
}

void COpmlDisplayDlg::OnCancel() {
  if (CWnd* wizard = GetParent()) wizard->SendMessage(WM_WIZARD_OPML_BACK, 0, 0);
}

// ---------------------------------------------------------------- input

void COpmlDisplayDlg::OnBarCommand(int command) {
  if (command == 1) OnCancel();
  else if (command == 2) OnOK();
}

// ---------------------------------------------------------------- layout and painting

void COpmlDisplayDlg::OnSize(UINT type, int cx, int cy) {
  CWizardListPage::OnSize(type, cx, cy);
  CRect client;
  GetClientRect(&client);
  if (m_caption.GetSafeHwnd()) m_caption.MoveWindow(-2, -2, client.Width() + 4, Dy(28), FALSE);
  if (m_prompt.GetSafeHwnd()) m_prompt.MoveWindow(4, Dy(28) + 4, client.Width() - 8, Dy(16), FALSE);
  if (m_loading.GetSafeHwnd()) m_loading.MoveWindow(0, Dy(28) - 2, client.Width(), Dy(16), FALSE);
}

void COpmlDisplayDlg::DrawBand(HDC hdc) {
  const BOOL touch = GetTouchFlag();
  CString title = Localized(touch ? u"Welcome to Quillet!" : u"Browse and select channels to add");
  CString subtitle = touch ? Localized(u"Choose channels to add") : CString();
  DrawWizardBand(m_hWnd, hdc, m_hFont, m_hTitleFont, title, subtitle);
}

