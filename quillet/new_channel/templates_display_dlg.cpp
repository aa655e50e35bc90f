#include "quillet/new_channel/templates_display_dlg.h"

#include <algorithm>
#include <set>
#include <string>

#include "common/file_finder.h"
#include "common/localize.h"
#include "common/log.h"
#include "common/settings.h"
#include "net/urlfuncs.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/feeds/template_xml.h"
#include "quillet/screens/screen_frame.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"

namespace {

// Row images: touch edition below 192 dpi / at 192 dpi / key device.
struct Images {
  int low, high, key;
};
constexpr Images kFolderImage{241, 291, 369};
constexpr Images kFeedImage{IDR_PNG_NEWS_TITLE_ICON, IDR_PNG_NEWS_TITLE_ICON_192, 373};
constexpr Images kBackImage{322, 323, 368};
constexpr Images kCheckImage{IDR_PNG_OK, IDR_PNG_OK_192, IDR_PNG_INPUT_SELECTED_KEY};

int ImageOf(const Images& images) {
  if (!GetTouchFlag()) return images.key;
  return static_cast<int>(ImageIdAt192(images.low, images.high));
}

bool SameName(LPCWSTR a, const char16_t* b) { return a && CString(a).CompareNoCase(b) == 0; }

}  // namespace

BEGIN_MESSAGE_MAP(CTemplatesDisplayDlg, CWizardListPage)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
ON_COMMAND(ID_EDITOR_BACK, OnCancel)
ON_COMMAND(ID_EDITOR_FINISH, OnNothing)
ON_WM_SIZE()
ON_WM_TIMER()
ON_WM_ERASEBKGND()
ON_WM_PAINT()
ON_WM_ACTIVATE()
END_MESSAGE_MAP()

CTemplatesDisplayDlg::CTemplatesDisplayDlg(LPCWSTR folder, CWnd* parent) : CWizardListPage(IDD_TEMPLATES_PAGE, parent) {
  InitScreenDpi(0);
  m_hFont = CreateWizardFont(FALSE);
  m_hBoldFont = CreateWizardFont(TRUE);
  m_highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  m_strFolder = folder ? folder : u"";
  if (m_strFolder.IsEmpty()) {
    WCHAR programFolder[MAX_PATH] = {0};
    GetProgramFolder(programFolder);
    m_strFolder = CString(programFolder) + u"\\Templates";
  }
}

CTemplatesDisplayDlg::~CTemplatesDisplayDlg() {
  // A page that goes before its list loaded leaves no wait cursor behind.
  ::SetCursor(::LoadCursor(nullptr, IDC_ARROW));
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
  if (m_hFont) ::DeleteObject(m_hFont);
  if (m_hBoldFont) ::DeleteObject(m_hBoldFont);
  delete m_pList;
  m_pList = nullptr;
  delete m_pBar;
  m_pBar = nullptr;
}

void CTemplatesDisplayDlg::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, 1003, m_caption);
  DDX_Control(dx, 1004, m_prompt);
  DDX_Control(dx, 1005, m_loading);
}

CStringList* CTemplatesDisplayDlg::ChosenChannels() const {
  auto* wizard = dynamic_cast<CWizardFrame*>(GetParent());
  return wizard ? &wizard->m_chosenChannels : nullptr;
}

BOOL CTemplatesDisplayDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  InitScreenDpi(0);
  if (!ShowAddSelectedKeys()) return -1;
  ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
  m_caption.SetWindowText(Localized(u"New Channel Wizard"));
  m_prompt.SetWindowText(Localized(u"Choose the channel templates to add:"));
  m_loading.SetWindowText(Localized(u"Loading, please waiting..."));
  if (GetTouchFlag()) m_pBar = MakeOkCancelBar();
  SetTimer(TEMPLATES_TIMER_LOAD, 100, nullptr);
  return FALSE;
}

// ------------------------------------------------------------------ loading

void CTemplatesDisplayDlg::ReadTemplateElement(void* context, LPCWSTR kind, LPCWSTR first, LPCWSTR second) {
  auto* self = static_cast<CTemplatesDisplayDlg*>(context);
  if (!self || !kind) return;
  const std::u16string a = first ? first : u"", b = second ? second : u"";
  if (SameName(kind, u"template")) {
    self->m_strGroup = CString(b);
    self->m_titles[b] = b;
    self->m_parents[b] = u"";
    self->m_keys.push_back(b);
    self->m_groups.push_back(b);
  } else if (SameName(kind, u"channel")) {
    self->m_urls.push_back(b);
    self->m_pending.push_back(self->m_urls.size() - 1);
    self->m_titles[b] = a;
    self->m_parents[b] = self->m_strGroup.str();
    self->m_keys.push_back(b);
  } else if (SameName(kind, u"parse_article")) {
    for (size_t entry : self->m_pending) self->m_scripts[entry] = CString(b);
    self->m_pending.clear();
  }
}

void CTemplatesDisplayDlg::Load() {
  m_titles.clear();
  m_parents.clear();
  m_keys.clear();
  m_groups.clear();
  m_urls.clear();
  m_scripts.clear();
  m_pending.clear();
  CFileFinder finder;
  BOOL more = finder.FindFile(m_strFolder + u"\\*.xml");
  while (more) {
    more = finder.FindNextFile();
    if (finder.IsDirectory()) continue;
    // A script belongs to the channels of its own file: channels after the
    // last script of a file keep none.
    m_pending.clear();
    m_strGroup.Empty();
    CTemplateXML document(&CTemplatesDisplayDlg::ReadTemplateElement, this);
    document.LoadAndWalk(m_strFolder + u"\\" + finder.GetFileName());
  }
  m_pending.clear();
  m_strGroup.Empty();
  FillList();
  ::SetCursor(::LoadCursor(nullptr, IDC_ARROW));
}

CString CTemplatesDisplayDlg::GetScript(const CString& url) const {
  auto first = std::find(m_urls.begin(), m_urls.end(), url.str());
  if (first == m_urls.end()) return CString();
  auto script = m_scripts.find(static_cast<size_t>(first - m_urls.begin()));
  return script == m_scripts.end() ? CString() : script->second;
}

std::u16string CTemplatesDisplayDlg::KeyOfRow(UINT commandId) const {
  if (commandId < TEMPLATES_ROW_FIRST) return u"";
  const size_t index = commandId - TEMPLATES_ROW_FIRST;
  return index < m_keys.size() ? m_keys[index] : std::u16string();
}

void CTemplatesDisplayDlg::FillList() {
  delete m_pList;
  m_pList = new CTouchMenuList(FALSE, TRUE);
  CRect client;
  GetClientRect(&client);
  m_pList->Create(reinterpret_cast<DWORD_PTR>(this), m_hWnd, 0, GetListTop(), client.Width(), GetListHeight(),
                  &CTemplatesDisplayDlg::OnListClick);
  m_pList->SetCheckMode(1);
  const int check = ImageOf(kCheckImage);
  if (!m_strGroup.IsEmpty())
    m_pList->AddItem(Localized(u"Back folder"), nullptr, ImageOf(kBackImage), check, TEMPLATES_ROW_BACK);
  CScreenFrame* frame = ScreenFrame();
  std::vector<UINT> ticked;
  CStringList* chosen = ChosenChannels();
  for (const std::u16string& key : m_keys) {
    if (m_parents[key] != m_strGroup.str()) continue;
    const bool group = std::find(m_groups.begin(), m_groups.end(), key) != m_groups.end() && m_titles[key] == key;
    if (!group && frame && frame->IsUrlSubscribed(key.c_str())) continue;
    const UINT id =
        TEMPLATES_ROW_FIRST + static_cast<UINT>(std::find(m_keys.begin(), m_keys.end(), key) - m_keys.begin());
    m_pList->AddItem(CString(m_titles[key]), nullptr, ImageOf(group ? kFolderImage : kFeedImage), check, id);
    if (!group && chosen && chosen->Find(key.c_str())) ticked.push_back(id);
  }
  m_pList->RefreshItems(FALSE);
  for (UINT id : ticked) m_pList->SetItemCheck(id, 1);
  Invalidate(FALSE);
}

// ------------------------------------------------------------------ rows

void CTemplatesDisplayDlg::OnListClick(HWND window, DWORD_PTR, UINT commandId, CTouchListItem*) {
  auto* self = dynamic_cast<CTemplatesDisplayDlg*>(CWnd::FromHandlePermanent(window));
  if (self) self->Click(commandId);
}

void CTemplatesDisplayDlg::Click(UINT commandId) {
  if (commandId == TEMPLATES_ROW_BACK) {
    // The list that called is rebuilt: after its handler has returned.
    m_strGroup = CString(m_parents[m_strGroup.str()]);
    SetTimer(TEMPLATES_TIMER_REFILL, 5, nullptr);
    return;
  }
  if (commandId < TEMPLATES_ROW_FIRST || commandId - TEMPLATES_ROW_FIRST >= m_keys.size()) return;
  const std::u16string key = KeyOfRow(commandId);
  const bool group = std::find(m_groups.begin(), m_groups.end(), key) != m_groups.end() && m_titles[key] == key;
  if (group) {
    // Groups are one level deep.
    if (m_strGroup.IsEmpty()) {
      m_strGroup = CString(key);
      SetTimer(TEMPLATES_TIMER_REFILL, 5, nullptr);
    }
    return;
  }
  CStringList* chosen = ChosenChannels();
  if (!chosen || !m_pList) return;
  if (POSITION at = chosen->Find(key.c_str())) {
    chosen->RemoveAt(at);
    m_pList->SetItemCheck(commandId, 0);
  } else {
    chosen->AddTail(CString(key));
    m_pList->SetItemCheck(commandId, 1);
  }
}

void CTemplatesDisplayDlg::OnTimer(UINT_PTR id) {
  if (id == TEMPLATES_TIMER_LOAD) {
    KillTimer(id);
    Load();
    return;
  }
  if (id == TEMPLATES_TIMER_REFILL) {
    KillTimer(id);
    FillList();
    return;
  }
  if (m_pList) m_pList->OnTimer(m_hWnd, id);
  Default();
}

// ------------------------------------------------------------------ adding

void CTemplatesDisplayDlg::OnOK() {
  WriteLog(u"Add Channels with Templates:");
  CStringList* chosen = ChosenChannels();
  WCHAR root[MAX_PATH] = {0};
  GetDataRoot(root);
  const CString folder = CString(root) + u"\\ChannelData";
  std::vector<CString> subscribed;
  // The feeds added here, by comparison key: a template naming one feed
  // twice, spelt otherwise, adds it once.
  std::set<std::u16string> added;
  for (POSITION pos = chosen ? chosen->GetHeadPosition() : nullptr; pos && m_pDocument;) {
    const CString url = chosen->GetNext(pos);
    const std::u16string& group = m_parents[url.str()];
    CString title(m_titles[url.str()]);
    if (!group.empty()) title = CString(group) + u" - " + title;
    // A feed the list holds already stays as it is, and so does its script.
    const std::u16string same = InternetAddressKey(url.str());
    if (m_pDocument->HasChannel(url)) {
      if (!added.count(same)) subscribed.push_back(title);
      continue;
    }
    const int channel = m_pDocument->AddChannel(Localized(u"Others"), title, url);
    WriteLog(title);
    if (!channel) continue;
    added.insert(same);
    CString path;
    path.Format(u"%s\\Ch%03d.tpl", folder.GetString(), channel);
    const CString script = GetScript(url);
    std::string bytes;
    if (!script.IsEmpty()) {
      int length = WideCharToMultiByte(CP_ACP, 0, script, script.GetLength(), nullptr, 0, nullptr, nullptr);
      bytes.resize(static_cast<size_t>(length > 0 ? length : 0));
      if (length > 0)
        WideCharToMultiByte(CP_ACP, 0, script, script.GetLength(), bytes.data(), length, nullptr, nullptr);
    }
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) continue;
    DWORD written = 0;
    if (!bytes.empty()) WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
  }
  TellAlreadySubscribed(m_hWnd, subscribed);
  CWnd* wizard = GetParent();
  if (wizard) wizard->SendMessage(WM_WIZARD_CHANNELS_ADDED, 0, 0);
  CDialog::OnOK();
  if (wizard && ::IsWindow(wizard->GetSafeHwnd())) wizard->SendMessage(WM_CLOSE, 0, 0);
}

void CTemplatesDisplayDlg::OnCancel() {
  if (CWnd* wizard = GetParent()) wizard->SendMessage(WM_WIZARD_TEMPLATES_BACK, 0, 0);
}

// ------------------------------------------------------------------ input

void CTemplatesDisplayDlg::OnBarCommand(int command) {
  if (command == 1) OnCancel();
  else if (command == 2) OnOK();
}

// ------------------------------------------------------------------ layout and painting

void CTemplatesDisplayDlg::OnSize(UINT type, int cx, int cy) {
  CWizardListPage::OnSize(type, cx, cy);
  CRect client;
  GetClientRect(&client);
  if (m_caption.m_hWnd) m_caption.MoveWindow(-2, -2, client.Width() + 4, Dy(28), FALSE);
  if (m_prompt.m_hWnd) m_prompt.MoveWindow(4, Dy(28) + 4, client.Width() - 8, Dy(16), FALSE);
  if (m_loading.m_hWnd) m_loading.MoveWindow(0, Dy(28) - 2, client.Width(), Dy(16), FALSE);
}

void CTemplatesDisplayDlg::DrawBand(HDC hdc) {
  const BOOL touch = GetTouchFlag();
  CString title = Localized(touch ? u"Welcome to Quillet!" : u"Choose channel templates to add");
  CString subtitle = touch ? Localized(u"Choose channel templates to add") : CString();
  DrawWizardBand(m_hWnd, hdc, m_hFont, m_hBoldFont, title, subtitle);
}

