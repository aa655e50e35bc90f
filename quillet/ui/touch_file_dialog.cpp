// The touch file dialog.
#include "quillet/ui/touch_file_dialog.h"

#include <algorithm>

#include "common/localize.h"
#include "controls/commctrl.h"
#include "kernel/fs.h"
#include "kernel/resource.h"
#include "kernel/wstring.h"
#include "quillet/ui/bitmap_resource.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"
#include "user/dialog.h"
#include "user/input.h"
#include "user/user.h"

namespace {

constexpr int kNameEdit = 101, kExtEdit = 102, kFolderEdit = 103, kList = 104;
constexpr UINT kMenuBarId = 4101;
constexpr UINT WM_ENTER_ENTRY = WM_APP + 31;
constexpr LPARAM kFolderFlag = 0x10000;

// The soft-key bar: "Select" (command 1) and "Cancel" (command 2), texts set
// when the bar is made.
void RegisterMenuBar() {
  static bool done = false;
  if (done) return;
  done = true;
  static std::vector<BYTE> bar = qk::shell::BuildMenuBarResource(0, {{1}, {2}});
  static qk::ResourceEntry entry = {nullptr, 10, static_cast<WORD>(kMenuBarId), nullptr, bar.data(), bar.size()};
  qk::RegisterResources(nullptr, &entry, 1);
}

CTouchFileDialog* g_running = nullptr;

int CompareEntries(LPARAM a, LPARAM b, LPARAM context) {
  auto* entries = reinterpret_cast<std::vector<std::pair<CString, bool>>*>(context);
  const auto& ea = (*entries)[static_cast<size_t>(a & 0xFFFF)];
  const auto& eb = (*entries)[static_cast<size_t>(b & 0xFFFF)];
  if (ea.second != eb.second) return ea.second ? -1 : 1;
  return _wcsicmp(ea.first, eb.first);
}

}  // namespace

CTouchFileDialog::CTouchFileDialog(HWND owner, int mode, LPCWSTR title, LPCWSTR startFolder, UINT upBitmapId)
    : m_hOwner(owner), m_nMode(mode), m_strStartFolder(startFolder ? startFolder : u""), m_nUpBitmapId(upBitmapId) {
  if (title && *title) m_strTitle = title;
  else m_strTitle = Localized(mode == TOUCH_FILE_SAVE ? u"Save File" : mode == TOUCH_FILE_LOAD ? u"Load File" : u"Select Folder");
  m_strFileName = Localized(u"File Name");
  m_strExtensionLabel = Localized(u"Extension");
  m_strMissing = Localized(u"File name value is missing");
  m_strIllegal = Localized(u"File name include illegal characters");
  m_strNameError = Localized(u"File Name Error");
  m_strSelect = Localized(u"Select");
  m_strCancel = Localized(u"Cancel");
  m_strTooLong = Localized(u"The path is too long");
}

CTouchFileDialog::~CTouchFileDialog() = default;

void CTouchFileDialog::SetFileType(LPCWSTR extension, LPCWSTR description, LPCWSTR defaultName) {
  m_strExtension = extension ? extension : u"";
  m_strDescription = description ? description : u"";
  m_strDefaultName = defaultName ? defaultName : u"";
}

BOOL CTouchFileDialog::DoModal(LPWSTR buffer, int bufferChars) {
  if (g_running || !buffer || bufferChars < 1) return FALSE;
  m_nBufferChars = bufferChars;
  m_strResult.Empty();
  InitCommonControls();
  SHInitExtraControls();
  RegisterMenuBar();
  qk::DialogTemplateBuilder builder(WS_POPUP | WS_VISIBLE | WS_CAPTION, 0, 0, 0, 160, 200);
  std::vector<DWORD> bytes = builder.Build();
  g_running = this;
  INT_PTR result = DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()), m_hOwner,
                                           &CTouchFileDialog::DialogProc, reinterpret_cast<LPARAM>(this));
  g_running = nullptr;
  m_hDialog = nullptr;
  if (result != 1 || m_strResult.GetLength() >= bufferChars) return FALSE;
  for (int i = 0; i < m_strResult.GetLength(); ++i) buffer[i] = m_strResult[i];
  buffer[m_strResult.GetLength()] = 0;
  return TRUE;
}

INT_PTR CTouchFileDialog::DialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) SetWindowLongW(dialog, GWL_USERDATA, lParam);
  auto* self = reinterpret_cast<CTouchFileDialog*>(GetWindowLongW(dialog, GWL_USERDATA));
  if (!self) return FALSE;
  return self->OnMessage(dialog, msg, wParam, lParam);
}

void CTouchFileDialog::OnInitDialog(HWND dialog) {
  m_hDialog = dialog;
  LOGFONTW lf = {};
  lf.lfHeight = -ScaleY(12);
  lf.lfWeight = 100;
  const char16_t face[] = u"Tahoma";
  for (size_t i = 0; i < sizeof face / sizeof face[0]; ++i) lf.lfFaceName[i] = face[i];
  m_hFont = CreateFontIndirectW(&lf);
  SetWindowTextW(dialog, m_strTitle);
  SHINITDLGINFO init = {SHIDIM_FLAGS, dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN};
  SHInitDialog(&init);
  SHMENUBARINFO bar = {};
  bar.cbSize = sizeof bar;
  bar.hwndParent = dialog;
  bar.nToolBarId = kMenuBarId;
  if (SHCreateMenuBar(&bar)) {
    m_hMenuBar = bar.hwndMB;
    const CString* texts[2] = {&m_strSelect, &m_strCancel};
    for (int command = 1; command <= 2; ++command) {
      TBBUTTONINFOW info = {};
      info.cbSize = sizeof info;
      info.dwMask = TBIF_TEXT;
      CString text = *texts[command - 1];
      info.pszText = const_cast<LPWSTR>(static_cast<LPCWSTR>(text));
      SendMessageW(m_hMenuBar, TB_SETBUTTONINFO, static_cast<WPARAM>(command), reinterpret_cast<LPARAM>(&info));
    }
  }
  m_hImages = ImageList_Create(ScaleX(16), ScaleY(16), ILC_COLOR32 | ILC_MASK, 8, 8);
  m_hUpBitmap = m_nUpBitmapId ? LoadBitmapResource(nullptr, m_nUpBitmapId) : nullptr;
  m_strFolder = m_strStartFolder.IsEmpty() ? CString(u"\\") : m_strStartFolder;
  if (m_strFolder[m_strFolder.GetLength() - 1] != u'\\') m_strFolder += u"\\";

  RECT client;
  GetClientRect(dialog, &client);
  const DWORD edit = WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL;
  auto make = [&](LPCWSTR cls, LPCWSTR text, DWORD style, int id) {
    HWND w = CreateWindowExW(0, cls, text, style, 0, 0, 10, 10, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             nullptr, nullptr);
    SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(m_hFont), TRUE);
    return w;
  };
  if (m_nMode == TOUCH_FILE_SAVE) {
    m_hNameLabel = make(u"STATIC", m_strFileName, WS_CHILD | WS_VISIBLE, 0xFFFF);
    m_hName = make(u"EDIT", m_strDefaultName, edit | WS_TABSTOP, kNameEdit);
    SendMessageW(m_hName, EM_LIMITTEXT, 256, 0);
    m_hExtLabel = make(u"STATIC", m_strExtensionLabel, WS_CHILD | WS_VISIBLE, 0xFFFF);
    m_hExt = make(u"EDIT", m_strExtension, edit | ES_READONLY, kExtEdit);
  }
  m_hFolder = make(u"EDIT", m_strFolder, edit | ES_READONLY, kFolderEdit);
  DWORD listStyle = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                    LVS_AUTOARRANGE | LVS_NOCOLUMNHEADER | LVS_NOSORTHEADER;
  if (m_nMode == TOUCH_FILE_FOLDER) listStyle |= LVS_SORTASCENDING;
  m_hList = make(WC_LISTVIEW, u"", listStyle, kList);
  SendMessageW(m_hList, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(m_hImages));
  LVCOLUMNW column = {};
  column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
  column.fmt = LVCFMT_LEFT;
  column.cx = client.right - ScaleX(36);
  CString columnText(u"List Column");
  column.pszText = const_cast<LPWSTR>(static_cast<LPCWSTR>(columnText));
  SendMessageW(m_hList, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
  Layout();
  Fill();
  SetFocus(m_hName ? m_hName : m_hList);
}

void CTouchFileDialog::Layout() {
  if (!m_hDialog) return;
  RECT client;
  GetClientRect(m_hDialog, &client);
  int top = ScaleY(10);
  if (m_nMode == TOUCH_FILE_SAVE) {
    // The labels are 50 density pixels wide, or as wide as their texts in
    // the dialog's font when those are wider, so that no label is clipped.
    int labelWidth = ScaleX(50);
    HDC dc = GetDC(m_hDialog);
    HGDIOBJ old = SelectObject(dc, m_hFont);
    for (const CString* text : {&m_strFileName, &m_strExtensionLabel}) {
      SIZE size = {};
      GetTextExtentPoint32W(dc, *text, text->GetLength(), &size);
      labelWidth = std::max(labelWidth, static_cast<int>(size.cx) + ScaleX(4));
    }
    SelectObject(dc, old);
    ReleaseDC(m_hDialog, dc);
    for (HWND label : {m_hNameLabel, m_hExtLabel}) {
      HWND field = label == m_hNameLabel ? m_hName : m_hExt;
      MoveWindow(label, ScaleX(10), top + ScaleY(3), labelWidth, ScaleY(20), TRUE);
      const int fieldLeft = ScaleX(10) + labelWidth;
      MoveWindow(field, fieldLeft, top, client.right - ScaleX(10) - fieldLeft, ScaleY(20), TRUE);
      top += ScaleY(24);
    }
  }
  m_nFolderRowTop = top;
  MoveWindow(m_hFolder, ScaleX(10), top, client.right - ScaleX(44), ScaleY(20), TRUE);
  m_rcUp = RECT{client.right - ScaleX(30), top, client.right - ScaleX(30) + ScaleX(20), top + ScaleY(20)};
  const int listTop = top + ScaleY(24);
  MoveWindow(m_hList, ScaleX(10), listTop, client.right - ScaleX(20),
             std::max(0, static_cast<int>(client.bottom) - ScaleY(10) - listTop), TRUE);
  InvalidateRect(m_hDialog, nullptr, TRUE);
}

void CTouchFileDialog::Fill() {
  SetWindowTextW(m_hFolder, m_strFolder);
  SendMessageW(m_hList, LVM_DELETEALLITEMS, 0, 0);
  ImageList_RemoveAll(static_cast<HIMAGELIST>(m_hImages));
  m_entries.clear();
  WIN32_FIND_DATAW found;
  CString pattern = m_strFolder + u"*.*";
  HANDLE find = FindFirstFileW(pattern, &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      CString name(found.cFileName);
      // The folder itself and its parent are never listed.
      if (name == u"." || name == u"..") continue;
      // Nor the platform's own folders and files in the device root.
      if (qk::shell::IsPlatformEntry(m_strFolder.str(), name.str())) continue;
      const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (m_nMode == TOUCH_FILE_FOLDER && !folder) continue;
      if (m_nMode == TOUCH_FILE_LOAD && !folder) {
        CString lower = name;
        lower.MakeLower();
        if (lower.Find(u".opml") < 0) continue;
      }
      if (m_entries.size() >= 0xFFFF) break;
      const int index = static_cast<int>(m_entries.size());
      m_entries.emplace_back(name, folder);
      SHFILEINFOW info = {};
      int image = -1;
      if (SHGetFileInfo(m_strFolder + name, 0, &info, sizeof info, SHGFI_ICON | SHGFI_SMALLICON) && info.hIcon) {
        if (HBITMAP bitmap = qk::shell::IconBitmap(info.hIcon))
          image = ImageList_Add(static_cast<HIMAGELIST>(m_hImages), bitmap, nullptr);
        qk::shell::DestroyShellIcon(info.hIcon);
      }
      LVITEMW item = {};
      item.mask = LVIF_TEXT | LVIF_PARAM | (image >= 0 ? LVIF_IMAGE : 0);
      item.iItem = index;
      item.pszText = const_cast<LPWSTR>(static_cast<LPCWSTR>(m_entries.back().first));
      item.iImage = image;
      item.lParam = index | (folder ? kFolderFlag : 0);
      SendMessageW(m_hList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  SendMessageW(m_hList, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&m_entries),
               reinterpret_cast<LPARAM>(&CompareEntries));
  // The list paints only its rows over a background it paints on erasing:
  // the whole list is erased, so that where the new folder has fewer rows
  // no name of the old one stays.
  InvalidateRect(m_hList, nullptr, TRUE);
}

void CTouchFileDialog::EnterFolder(const CString& name) {
  m_strFolder += name;
  m_strFolder += u"\\";
  Fill();
}

void CTouchFileDialog::GoUp() {
  if (m_strFolder.GetLength() <= 1) return;
  int cut = m_strFolder.Left(m_strFolder.GetLength() - 1).ReverseFind(u'\\');
  if (cut < 0) return;
  m_strFolder = m_strFolder.Left(cut + 1);
  Fill();
}

bool CTouchFileDialog::Accept(const CString& path) {
  // The caller's buffer holds the path and its terminator; a longer path is
  // refused here, while the user can still choose another.
  if (path.GetLength() >= m_nBufferChars) {
    MessageBoxW(m_hDialog, m_strTooLong, m_strNameError, MB_OK);
    return false;
  }
  m_strResult = path;
  EndDialog(m_hDialog, 1);
  return true;
}

void CTouchFileDialog::OnSelect() {
  if (m_nMode == TOUCH_FILE_SAVE) {
    WCHAR text[258] = {};
    GetWindowTextW(m_hName, text, 257);
    CString name(text);
    if (name.IsEmpty()) {
      MessageBoxW(m_hDialog, m_strMissing, m_strNameError, MB_OK);
      return;
    }
    if (name.FindOneOf(u"/:*?\"<>|") >= 0) {
      MessageBoxW(m_hDialog, m_strIllegal, m_strNameError, MB_OK);
      return;
    }
    Accept(m_strFolder + name + u"." + m_strExtension);
  } else if (m_nMode == TOUCH_FILE_LOAD) {
    int selected = static_cast<int>(SendMessageW(m_hList, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (selected < 0) return;
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = selected;
    if (!SendMessageW(m_hList, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return;
    const size_t index = static_cast<size_t>(item.lParam & 0xFFFF);
    if ((item.lParam & kFolderFlag) || index >= m_entries.size()) return;
    Accept(m_strFolder + m_entries[index].first);
  } else {
    Accept(m_strFolder);
  }
}

void CTouchFileDialog::Destroy() {
  for (HWND* w : {&m_hNameLabel, &m_hName, &m_hExtLabel, &m_hExt, &m_hFolder, &m_hList}) {
    if (*w && IsWindow(*w)) DestroyWindow(*w);
    *w = nullptr;
  }
  if (m_hImages) ImageList_Destroy(static_cast<HIMAGELIST>(m_hImages));
  m_hImages = nullptr;
  if (m_hFont) DeleteObject(m_hFont);
  m_hFont = nullptr;
  if (m_hUpBitmap) DeleteObject(m_hUpBitmap);
  m_hUpBitmap = nullptr;
}

INT_PTR CTouchFileDialog::OnMessage(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG:
      OnInitDialog(dialog);
      return FALSE;
    case WM_SIZE:
      Layout();
      return TRUE;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(dialog, &ps);
      RECT client;
      GetClientRect(dialog, &client);
      FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      if (m_hUpBitmap) {
        BITMAP info = {};
        GetObjectW(m_hUpBitmap, sizeof info, &info);
        TransparentImage(dc, m_rcUp.left, m_rcUp.top, m_rcUp.right - m_rcUp.left, m_rcUp.bottom - m_rcUp.top,
                         m_hUpBitmap, 0, 0, info.bmWidth, info.bmHeight < 0 ? -info.bmHeight : info.bmHeight,
                         RGB(0, 255, 0));
      }
      EndPaint(dialog, &ps);
      return TRUE;
    }
    case WM_LBUTTONDOWN: {
      POINT p = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      if (PtInRect(&m_rcUp, p)) GoUp();
      return TRUE;
    }
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header && header->hwndFrom == m_hList && header->code == LVN_ITEMCHANGED) {
        auto* change = reinterpret_cast<NMLISTVIEW*>(lParam);
        if ((change->uNewState & LVIS_SELECTED) && !(change->uOldState & LVIS_SELECTED) && change->iItem >= 0) {
          LVITEMW item = {};
          item.mask = LVIF_PARAM;
          item.iItem = change->iItem;
          if (SendMessageW(m_hList, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) && (item.lParam & kFolderFlag))
            // Entered once the list has finished with its notification.
            PostMessageW(dialog, WM_ENTER_ENTRY, static_cast<WPARAM>(item.lParam & 0xFFFF), 0);
        }
      }
      return FALSE;
    }
    case WM_ENTER_ENTRY:
      if (wParam < m_entries.size() && m_entries[wParam].second) EnterFolder(m_entries[wParam].first);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == 1) OnSelect();
      else if (LOWORD(wParam) == 2) EndDialog(dialog, 0);
      return TRUE;
    case WM_ACTIVATE:
      SHHandleWMActivate(dialog, wParam, lParam, nullptr, 0);
      return FALSE;
    case WM_SETTINGCHANGE:
      SHHandleWMSettingChange(dialog, wParam, lParam, nullptr);
      return FALSE;
    case WM_DESTROY:
      Destroy();
      return TRUE;
  }
  return FALSE;
}
