// The channel list's commands on one channel or on all of them: read
// states, delete, change of category, export of the channel list, delete
// all data, properties and About. They reach the channel-list window from
// the frame's menu, the channel context menu and the menu pages.
#include <vector>

#include "common/file_finder.h"
#include "common/localize.h"
#include "common/log.h"
#include "common/settings.h"
#include "quillet/feeds/item_store.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/options/about_box.h"
#include "quillet/channel_list/category_edit_dlg.h"
#include "quillet/screens/channel_files.h"
#include "quillet/frame/channel_list_wnd.h"
#include "quillet/channel_properties/channel_properties.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/channel_list_view.h"
#include "shell/filedlg.h"

int CChannelListWnd::DeleteChannelFiles(int channel) { return ::DeleteChannelFiles(channel); }

BOOL CChannelListWnd::RefusedDuringRun() {
  // A command never rewrites the channel list or an item store that the
  // refresh is writing.
  if (!m_bRunActive) return FALSE;
  ::MessageBoxW(m_hWnd, Localized(u"Please wait until the channels have been refreshed."),
                Localized(GetTouchFlag() ? u"Quillet Reach" : u"Quillet"), MB_OK | MB_ICONINFORMATION);
  return TRUE;
}

int CChannelListWnd::CommandRow() {
  CChannelListView* view = m_dialog.GetSafeHwnd() ? m_dialog.m_pChannelList : nullptr;
  if (!view || !m_dialog.m_pOpml) return -1;
  const int row = view->GetFocusedItem();
  if (row < 0 || row >= view->GetItemCount()) return -1;
  return RefusedDuringRun() ? -1 : row;
}

void CChannelListWnd::OnChannelProperties() {
  const int row = CommandRow();
  CChannelListItem item;
  if (row < 0 || !m_dialog.m_pChannelList->GetItem(row, item)) return;
  // The dialog form on every device; a rename in it reloads the list.
  RunChannelProperties(FALSE, item.m_nChannel, item.m_strUrl, item.m_strTitle, this);
}

void CChannelListWnd::OnAbout() {
  const BOOL touch = GetTouchFlag();
  CString caption = Localized(u"About"), leftKey = Localized(u"OK"), support = Localized(u"Support");
  HMENU menu = ::CreateMenu();
  ::AppendMenuW(menu, MF_STRING, IDOK, leftKey);
  AboutInfo info;
  info.hModule = AfxGetInstanceHandle();
  info.hResModule = AfxGetInstanceHandle();
  info.nLogoBitmapId = static_cast<WORD>(ImageIdAt192(IDB_ABOUT_LOGO, IDB_ABOUT_LOGO_192));
  info.hMenu = menu;
  info.pszLeftKey = leftKey;
  info.pszCaption = caption;
  info.pszProduct = touch ? u"Quillet Reach 1.31" : u"Quillet 1.31";
  info.pszBuild = u"1/8/2010";
  info.pszSupportLabel = support;
  info.pszYear = u"2009";
  ShowAboutBox(&info);
  ::DestroyMenu(menu);
}

void CChannelListWnd::SetChannelReadState(BOOL all, BOOL read) {
  CChannelListView* view = m_dialog.GetSafeHwnd() ? m_dialog.m_pChannelList : nullptr;
  COpmlXML* list = m_dialog.m_pOpml;
  if (!view || !list) return;
  const int focused = view->GetFocusedItem();
  if (!all && focused < 0) return;
  if (RefusedDuringRun()) return;
  CWaitCursor wait;
  for (int row = 0, n = view->GetItemCount(); row < n; ++row) {
    if (!all && row != focused) continue;
    CChannelListItem item;
    if (!view->GetItem(row, item)) continue;
    CString count(u"0");
    if (!read && (!list->GetChannelAttribute(item.m_strUrl, u"itemCount", count) || count.IsEmpty())) count = u"0";
    CString path;
    path.Format(u"%s\\Ch%03d.bin", ChannelDataFolder().GetString(), item.m_nChannel);
    int items = item.m_nItemCount;
    if (item.m_nChannel > 0 && FileAccess(path)) {
      CItemStore store(0);
      store.Open(path, 0, 0);
      // Two steps, so that every item reaches the target whichever of the
      // two states of its kind it had.
      SetItemReadFlag(&store, read ? ITEM_READ_READ : ITEM_READ_UNREAD);
      SetItemReadFlag(&store, read ? ITEM_READ_READ_FETCHED : ITEM_READ_UNREAD_FETCHED);
      // The counts are the store's: the list's item count may be older
      // than the store.
      int readCount = 0;
      store.CountItems(items, readCount);
      count.Format(u"%d", items - readCount);
      CString total;
      total.Format(u"%d", items);
      SetChannelAttributeIfChanged(list, item.m_strUrl, u"itemCount", total);
    }
    list->SetChannelAttribute(item.m_strUrl, u"newItemCount", count);
    if (item.m_nChannel <= 0) continue;
    view->SetItemCounts(item.m_nChannel, items, atoi(CStringA(count).GetString()));
  }
  view->Redraw(TRUE);
}

void CChannelListWnd::OnDeleteChannel() {
  const int row = CommandRow();
  if (row < 0) return;
  if (::MessageBoxW(m_hWnd, Localized(u"Are you sure you want to delete this item?"), Localized(u"Confirm Delete"),
                    MB_YESNO | MB_ICONQUESTION) != IDYES)
    return;
  // A refresh may have started while the question showed (a scheduled one).
  if (RefusedDuringRun()) return;
  CChannelListView* view = m_dialog.GetSafeHwnd() ? m_dialog.m_pChannelList : nullptr;
  CChannelListItem item;
  if (!view || !m_dialog.m_pOpml || !view->GetItem(row, item)) return;
  m_dialog.m_pOpml->RemoveChannel(item.m_strUrl);
  if (POSITION at = m_subscribed.Find(item.m_strUrl)) m_subscribed.RemoveAt(at);
  view->RemoveItem(row);
  view->Redraw(TRUE);
  if (item.m_nChannel >= 0) {
    CWaitCursor wait;
    DeleteChannelFiles(item.m_nChannel);
  }
}

void CChannelListWnd::OnChangeCategory() {
  const int row = CommandRow();
  if (row < 0) return;
  CChannelListItem item;
  if (!m_dialog.m_pChannelList->GetItem(row, item)) return;
  CString chosen;
  {
    CCategoryEditDlg editor(CATEGORY_EDIT_MODE_CHANGE, nullptr, nullptr);
    // The categories in the list's own order, the channel's own chosen.
    editor.AddCategoriesInListOrder();
    editor.SetInitialCategory(item.m_strCategory);
    if (editor.DoModal() != IDOK) return;
    chosen = editor.GetChosenCategory();
  }
  // The program may have ended while the editor showed, or a refresh (a
  // scheduled one) started.
  if (!::IsWindow(m_hWnd) || !m_dialog.m_pOpml || chosen.IsEmpty() || RefusedDuringRun()) return;
  // The rows are rebuilt now: the list shows the channel under its new
  // category at once, and a reload left for later would come while the
  // next menu is open and take its row away.
  if (m_dialog.m_pOpml->MoveChannel(item.m_strUrl, chosen)) {
    Reload();
    m_dialog.Refresh();
  }
}

void CChannelListWnd::OnExport() {
  if (RefusedDuringRun()) return;
  WCHAR file[MAX_PATH] = {0};
  static const char16_t filter[] = u"Opml Files\0*.opml\0\0";
  CString title = Localized(u"Name File to Export to");
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = m_hWnd;
  ofn.lpstrFilter = filter;
  ofn.lpstrFile = file;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrTitle = title;
  ofn.lpstrDefExt = u"opml";
  ofn.Flags = OFN_HIDEREADONLY;
  if (!GetSaveFileNameW(&ofn) || !::IsWindow(m_hWnd)) return;
  // A refresh may have started while the file was being named.
  if (RefusedDuringRun()) return;
  // The edits a save batch still holds back belong in the copy.
  const BOOL saved = !m_dialog.GetSafeHwnd() || !m_dialog.m_pOpml || m_dialog.m_pOpml->SavePending();
  CString source = ChannelListFile();
  if (!FileAccess(source)) return;
  const BOOL existed = ::GetFileAttributesW(file) != INVALID_FILE_ATTRIBUTES;
  if (!saved || !::CopyFileW(source, file, FALSE)) {
    // A copy cut short (a full card) is no list: it goes.
    if (saved && !existed) ::DeleteFileW(file);
    CString text = Localized(u"The channel list could not be exported to:");
    text += u"\n";
    text += file;
    ::MessageBoxW(m_hWnd, text, Localized(u"Error"), MB_OK | MB_ICONHAND);
  }
}

void CChannelListWnd::OnDeleteAllData() {
  if (RefusedDuringRun()) return;
  if (::MessageBoxW(m_hWnd, Localized(u"Are you sure you want to delete all data?"), Localized(u"Confirm Delete"),
                    MB_YESNO | MB_ICONQUESTION) != IDYES)
    return;
  // A refresh may have started while the question showed (a scheduled one).
  if (!m_dialog.GetSafeHwnd() || RefusedDuringRun()) return;
  CWaitCursor wait;
  CChannelListView* view = m_dialog.m_pChannelList;
  if (view && m_dialog.m_pOpml) {
    // One save for all the counts.
    COpmlXML::CSaveBatch batch(m_dialog.m_pOpml);
    for (int row = 0, n = view->GetItemCount(); row < n; ++row) {
      CChannelListItem item;
      if (!view->GetItem(row, item)) continue;
      m_dialog.m_pOpml->SetChannelAttribute(item.m_strUrl, u"itemCount", u"0");
      m_dialog.m_pOpml->SetChannelAttribute(item.m_strUrl, u"newItemCount", u"0");
      if (item.m_nChannel > 0) view->SetItemCounts(item.m_nChannel, 0, 0);
    }
  }
  if (view) view->Redraw(TRUE);
  const CString folder = ChannelDataFolder();
  WriteLog(u"Delete All Data");
  WriteLog(folder + u"\\*.*");
  // The channel list, any other OPML file and the channels' extraction
  // templates stay; item stores, feeds, pages, pictures and icons go.
  std::vector<CString> names;
  CFileFinder finder;
  if (finder.FindFile(folder + u"\\*.*")) {
    BOOL more;
    do {
      more = finder.FindNextFile();
      if (!finder.IsDirectory()) names.push_back(finder.GetFileName());
    } while (more);
  }
  for (const CString& name : names) {
    CString lower(name);
    lower.MakeLower();
    if (lower.Find(u".opml") >= 0 || lower.Find(u".tpl") >= 0) continue;
    ::DeleteFileW(folder + u"\\" + name);
  }
}
