#include "quillet/channel_list/category_edit_dlg.h"

#include "common/localize.h"
#include "controls/commctrl.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/screens/channel_files.h"
#include "quillet/screens/screen_frame.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/bitmap_resource.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"

BEGIN_MESSAGE_MAP(CCategoryEditDlg, CDialog)
ON_WM_SIZE()
ON_WM_TIMER()
ON_COMMAND(IDC_CATEGORY_NEW, OnNewCategory)
ON_COMMAND(ID_CATEGORY_NEW, OnNewCategory)
ON_COMMAND(IDC_CATEGORY_RENAME, OnRenameCategory)
ON_COMMAND(ID_CATEGORY_RENAME, OnRenameCategory)
ON_COMMAND(IDC_CATEGORY_DELETE, OnDeleteCategory)
ON_COMMAND(ID_CATEGORY_DELETE, OnDeleteCategory)
ON_UPDATE_COMMAND_UI(ID_CATEGORY_RENAME, OnUpdateRowCommand)
ON_UPDATE_COMMAND_UI(ID_CATEGORY_DELETE, OnUpdateRowCommand)
END_MESSAGE_MAP()

namespace {

CChannelListHost* ChannelListWindow() { return ChannelListHost(); }

// The channel list dialog whose category entries the editor keeps in step.
CChannelListFields* ChannelListDialog() {
  CChannelListHost* window = ChannelListWindow();
  return window ? window->ShownChannelList() : nullptr;
}

}  // namespace

CCategoryEditDlg::CCategoryEditDlg(int mode, COpmlXML* document, CWnd* parent)
    : CDialog(IDD_CATEGORY_EDIT, parent), m_nMode(mode), m_pDocument(document) {}

CCategoryEditDlg::~CCategoryEditDlg() {
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
  if (m_hImages) ImageList_Destroy(m_hImages);
}

void CCategoryEditDlg::AddCategory(LPCWSTR name) {
  m_categories[static_cast<int>(m_categories.size())] = name ? name : u"";
}

void CCategoryEditDlg::AddCategoriesOfChannelList() {
  CChannelListFields* dialog = ChannelListDialog();
  if (!dialog) return;
  const CString others = Localized(u"Others");
  const CString labelPrefix = CString(SYNC_CATEGORY) + u" - ";
  BOOL sawOthers = FALSE;
  CSingleLock hold(&dialog->m_runLock, TRUE);
  for (POSITION at = dialog->m_reloadCategories.GetHeadPosition(); at;) {
    const CString& name = dialog->m_reloadCategories.GetNext(at);
    if (name == others) sawOthers = TRUE;
    else if (name.Left(labelPrefix.GetLength()) != labelPrefix) AddCategory(name);
  }
  if (sawOthers) AddCategory(others);
}

void CCategoryEditDlg::AddCategoriesInListOrder() {
  CChannelListFields* dialog = ChannelListDialog();
  if (!dialog) return;
  const CString labelPrefix = CString(SYNC_CATEGORY) + u" - ";
  CSingleLock hold(&dialog->m_runLock, TRUE);
  for (POSITION at = dialog->m_reloadCategories.GetHeadPosition(); at;) {
    const CString& name = dialog->m_reloadCategories.GetNext(at);
    if (name.Left(labelPrefix.GetLength()) != labelPrefix) AddCategory(name);
  }
}

BOOL CCategoryEditDlg::RefusedDuringRun() {
  CChannelListHost* window = ChannelListWindow();
  if (!window || !window->IsRunActive()) return FALSE;
  Refuse(u"Please wait until the channels have been refreshed.");
  return TRUE;
}

void CCategoryEditDlg::Refuse(LPCWSTR text) {
  ::MessageBoxW(m_hWnd, Localized(text), Localized(GetTouchFlag() ? u"Quillet Reach" : u"Quillet"),
                MB_OK | MB_ICONINFORMATION);
}

BOOL CCategoryEditDlg::NameInUse(const CString& name, int row) const {
  auto& list = const_cast<CCategoryListCtrl&>(m_list);
  for (int i = 0, n = list.GetItemCount(); i < n; ++i) {
    if (i == row) continue;
    CString other = list.GetItemText(i, 0);
    other.Trim();
    if (other.CompareNoCase(name) == 0) return TRUE;
  }
  if (!m_pDocument) return FALSE;
  // So is a category of the list that no row shows; the category being
  // renamed may take its own name in other letters.
  if (m_pDocument->HasCategory(name, TRUE) && !(m_bRenaming && name.CompareNoCase(m_strOldName) == 0)) return TRUE;
  // A category the rows do not show (a label's, say) is in use all the
  // same; the name being renamed is not.
  if (CChannelListFields* dialog = ChannelListDialog()) {
    CSingleLock hold(&dialog->m_runLock, TRUE);
    for (POSITION at = dialog->m_reloadCategories.GetHeadPosition(); at;) {
      const CString& other = dialog->m_reloadCategories.GetNext(at);
      if (m_bRenaming && other == m_strOldName) continue;
      if (other.CompareNoCase(name) == 0) return TRUE;
    }
  }
  return FALSE;
}

void CCategoryEditDlg::SelectRow(int row) {
  if (row < 0 || row >= m_list.GetItemCount()) return;
  m_list.SetItemState(row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  m_list.SendMessage(LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

void CCategoryEditDlg::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, IDC_CATEGORY_TITLE, m_title);
  DDX_Control(dx, IDC_CATEGORY_NEW, m_new);
  DDX_Control(dx, IDC_CATEGORY_RENAME, m_rename);
  DDX_Control(dx, IDC_CATEGORY_DELETE, m_delete);
  DDX_Control(dx, IDOK, m_ok);
  DDX_Control(dx, IDCANCEL, m_cancel);
  DDX_Control(dx, IDC_CATEGORY_PROMPT, m_prompt);
}

BOOL CCategoryEditDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetWindowText(GetTouchFlag() ? u"Quillet Reach" : u"Quillet");
  InitScreenDpi(0);
  const BOOL addDelete = m_nMode == CATEGORY_EDIT_MODE_ADD_DELETE;
  // The screen's dialog set-up: full screen below the task bar (down to the
  // menu bar on a key device), the task bar's done button being the
  // dialog's OK.
  SHINITDLGINFO init = {SHIDIM_FLAGS, m_hWnd,
                        static_cast<DWORD>((GetTouchFlag() ? SHIDIF_FULLSCREENNOMENUBAR : SHIDIF_SIZEDLGFULLSCREEN) |
                                           SHIDIF_DONEBUTTON)};
  SHInitDialog(&init);
  if (!GetTouchFlag()) {
    HWND bar = CreateMenuBar(m_hWnd, addDelete ? IDR_CATEGORY_EDIT_MENU : IDR_WIZARD_MENU);
    if (!bar) {
      EndDialog(-1);
      return FALSE;
    }
    if (addDelete) SetSoftKeyText(bar, ID_MENU_KEY, u"Menu");
    else SetSoftKeyText(bar, IDOK, u"OK");
    SetSoftKeyText(bar, IDCANCEL, u"Cancel");
    ::DrawMenuBar(bar);
  }
  const struct {
    CWnd* control;
    const char16_t* text;
  } texts[] = {{&m_ok, u"OK"},
               {&m_cancel, u"Cancel"},
               {&m_new, u"New"},
               {&m_rename, u"Rename"},
               {&m_delete, u"Delete"},
               {&m_title, u"Add/Delete Categories"},
               {&m_prompt, u"Choose the new category for this channel:"}};
  for (const auto& t : texts) t.control->SetWindowText(Localized(t.text));
  const BOOL touch = GetTouchFlag();
  m_ok.ShowWindow(touch && !addDelete ? SW_SHOW : SW_HIDE);
  m_cancel.ShowWindow(touch && !addDelete ? SW_SHOW : SW_HIDE);
  for (CButton* button : {&m_new, &m_rename, &m_delete}) button->ShowWindow(touch && addDelete ? SW_SHOW : SW_HIDE);
  m_list.SubclassControl(::GetDlgItem(m_hWnd, IDC_CATEGORY_LIST));
  // The chosen row shows also while a question about it has the focus.
  ::SetWindowLongW(m_list.m_hWnd, GWL_STYLE, ::GetWindowLongW(m_list.m_hWnd, GWL_STYLE) | LVS_SHOWSELALWAYS);
  const BOOL high = GetScreenDpiY() == 192;
  const int side = high ? 32 : 16;
  m_hImages = ImageList_Create(side, side, ILC_COLOR | ILC_MASK, 1, 1);
  if (HBITMAP folder = LoadBitmapResource(nullptr, high ? 182 : 163)) {
    ImageList_AddMasked(m_hImages, folder, RGB(255, 255, 255));
    ::DeleteObject(folder);
  }
  m_list.SendMessage(LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(m_hImages));
  for (const auto& [index, name] : m_categories) InsertRow(m_list.GetItemCount(), name);
  m_list.SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  int initial = 0;
  for (int i = 0, n = m_list.GetItemCount(); i < n && !m_strInitial.IsEmpty(); ++i)
    if (m_list.GetItemText(i, 0) == m_strInitial) {
      initial = i;
      break;
    }
  SelectRow(initial);
  m_prompt.ShowWindow(!addDelete && touch ? SW_SHOW : SW_HIDE);
  ChooseSelected();
  Layout();
  m_list.SetFocus();
  return FALSE;
}

void CCategoryEditDlg::InsertRow(int index, LPCWSTR text) {
  LVITEMW item = {};
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
  item.iItem = index;
  item.pszText = const_cast<LPWSTR>(text);
  item.iImage = 0;
  item.lParam = index;
  m_list.SendMessage(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

int CCategoryEditDlg::SelectedRow() const {
  return static_cast<int>(::SendMessageW(m_list.m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

int CCategoryEditDlg::FocusedRow() const {
  return static_cast<int>(::SendMessageW(m_list.m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
}

BOOL CCategoryEditDlg::IsEditing() const {
  return m_list.m_hWnd && const_cast<CCategoryListCtrl&>(m_list).Editor().GetSafeHwnd() &&
         ::IsWindowVisible(const_cast<CCategoryListCtrl&>(m_list).Editor().GetSafeHwnd());
}

void CCategoryEditDlg::ChooseSelected() {
  const int row = SelectedRow();
  if (row >= 0) m_strChosen = m_list.GetItemText(row, 0);
}

void CCategoryEditDlg::OnUpdateRowCommand(CCmdUI* cmdUI) { cmdUI->Enable(SelectedRow() >= 0); }

void CCategoryEditDlg::OnNewCategory() {
  if (m_nMode == CATEGORY_EDIT_MODE_ADD_DELETE && RefusedDuringRun()) return;
  // The row chosen before, one down once the new row is in.
  const int before = SelectedRow();
  m_nRowBeforeNew = before >= 0 ? before + 1 : -1;
  InsertRow(0, Localized(u"New Category"));
  for (int i = 1, n = m_list.GetItemCount(); i < n; ++i) m_list.SetItemState(i, 0, LVIS_SELECTED | LVIS_FOCUSED);
  m_list.SetItemState(0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  OnRenameCategory();
  // The end of this edit adds a category.
  m_bRenaming = FALSE;
}

void CCategoryEditDlg::OnRenameCategory() {
  const int row = SelectedRow();
  if (row < 0) return;
  if (m_nMode == CATEGORY_EDIT_MODE_ADD_DELETE && RefusedDuringRun()) return;
  m_list.SetFocus();
  SipShowIM(SIPF_ON);
  m_list.EditItem(row);
  m_bRenaming = TRUE;
  m_strOldName = m_list.GetItemText(row, 0);
  m_nEditRow = row;
  m_bEndedByReturn = FALSE;
  m_bRetrying = FALSE;
}

void CCategoryEditDlg::PutBack(int row) {
  if (row < 0 || row >= m_list.GetItemCount()) return;
  if (m_bRenaming) {
    m_list.SetItemText(row, 0, m_strOldName);
    return;
  }
  m_list.SendMessage(LVM_DELETEITEM, static_cast<WPARAM>(row));
  const int count = m_list.GetItemCount();
  const int back = m_nRowBeforeNew > row ? m_nRowBeforeNew - 1 : m_nRowBeforeNew;
  SelectRow(back >= 0 && back < count ? back : row < count ? row : count - 1);
}

void CCategoryEditDlg::OnCellEditEnd() {
  // The row that was edited, not the row chosen now.
  const int row = m_nEditRow;
  const BOOL byReturn = m_bEndedByReturn;
  m_nEditRow = -1;
  m_bEndedByReturn = FALSE;
  SipShowIM(SIPF_OFF);
  if (row >= 0 && row < m_list.GetItemCount()) {
    const CString typed = m_list.GetItemText(row, 0);
    CString name = typed;
    name.Trim();
    // A name refused on Return and left as it was, the edit then ended
    // otherwise (a tap elsewhere): given up, without a second word.
    const BOOL givenUp = !byReturn && m_bRetrying && typed == m_strRefused;
    m_bRetrying = FALSE;
    if (givenUp) {
      PutBack(row);
      m_bRenaming = FALSE;
      m_strOldName.Empty();
      return;
    }
    const BOOL duringRun = m_nMode == CATEGORY_EDIT_MODE_ADD_DELETE && m_pDocument && RefusedDuringRun();
    BOOL refused = duringRun;
    if (!refused && name.IsEmpty()) {
      if (m_bRenaming) {
        Refuse(u"Please enter a name for the category.");
        refused = TRUE;
      } else {
        name = Localized(u"New Category");
      }
    }
    const BOOL unchanged = m_bRenaming && name == m_strOldName;
    if (!refused && !unchanged && NameInUse(name, row)) {
      Refuse(u"A category of this name already exists.");
      refused = TRUE;
    }
    if (refused && byReturn && !duringRun && ::IsWindow(m_hWnd)) {
      // Return ends only the edit: the row shows what it showed before, and
      // the edit opens again over it with the text to correct, once the
      // focus changes of this end have come through.
      if (m_bRenaming) m_list.SetItemText(row, 0, m_strOldName);
      else m_list.SetItemText(row, 0, Localized(u"New Category"));
      m_strRetry = typed;
      m_strRefused = typed;
      m_list.SetFocus();
      PostMessage(WM_CATEGORY_EDIT_AGAIN, static_cast<WPARAM>(row), 0);
      return;
    }
    if (refused) {
      PutBack(row);
    } else {
      m_list.SetItemText(row, 0, name);
      CChannelListFields* dialog = ChannelListDialog();
      if (m_pDocument && !unchanged) {
        if (m_bRenaming) {
          // The list may refuse the name as well (a category the rows do
          // not show, or a list that could not be saved): the row then
          // shows its old name again.
          if (!m_pDocument->RenameCategory(m_strOldName, name)) {
            PutBack(row);
          } else {
            if (dialog) {
              CSingleLock hold(&dialog->m_runLock, TRUE);
              if (POSITION at = dialog->m_reloadCategories.Find(m_strOldName))
                dialog->m_reloadCategories.SetAt(at, name);
            }
            // The list that shows the renamed category goes on showing it.
            CChannelListHost* window = ChannelListWindow();
            if (window && window->GetCurrentCategory() == m_strOldName) {
              window->SetDefaultCategory(name);
              window->RefreshList();
            }
          }
        } else {
          m_pDocument->AddCategory(name);
          if (!m_pDocument->HasCategory(name)) {
            PutBack(row);
          } else if (dialog) {
            CSingleLock hold(&dialog->m_runLock, TRUE);
            if (!dialog->m_reloadCategories.Find(name)) dialog->m_reloadCategories.AddTail(name);
          }
        }
      }
    }
  }
  m_bRenaming = FALSE;
  m_strOldName.Empty();
  // Tab moved the edit on to the next row: that row is being renamed now.
  if (IsEditing()) {
    m_nEditRow = static_cast<int>(m_list.GetEditedCell() >> 16);
    m_bRenaming = TRUE;
    m_strOldName = m_list.GetItemText(m_nEditRow, 0);
  }
}

void CCategoryEditDlg::OnCellEditCancel() {
  const int row = m_nEditRow;
  m_nEditRow = -1;
  m_bEndedByReturn = FALSE;
  m_bRetrying = FALSE;
  SipShowIM(SIPF_OFF);
  // A new row that was never named goes; a renamed row keeps its name.
  PutBack(row);
  m_bRenaming = FALSE;
  m_strOldName.Empty();
}

void CCategoryEditDlg::ReopenEdit(int row, const CString& text) {
  if (row < 0 || row >= m_list.GetItemCount() || m_nEditRow >= 0) return;
  for (int i = 0, n = m_list.GetItemCount(); i < n; ++i)
    if (i != row) m_list.SetItemState(i, 0, LVIS_SELECTED | LVIS_FOCUSED);
  SelectRow(row);
  m_list.SetFocus();
  SipShowIM(SIPF_ON);
  m_list.EditItem(row);
  if (!IsEditing()) {
    PutBack(row);
    m_bRenaming = FALSE;
    m_strOldName.Empty();
    return;
  }
  // The caret after the refused text, to correct it.
  m_list.Editor().SetWindowText(text);
  m_list.Editor().SetSel(text.GetLength(), text.GetLength());
  m_nEditRow = row;
  m_bEndedByReturn = FALSE;
  m_bRetrying = TRUE;
}

BOOL CCategoryEditDlg::PreTranslateMessage(MSG* msg) {
  // Return and Escape in the in-place edit are the edit's: the edit has
  // ended itself (or given up) by now, and the dialog's own Return (OK) and
  // Escape (Cancel) must not end the whole editor with it.
  const HWND edit = m_list.m_hWnd ? m_list.Editor().GetSafeHwnd() : nullptr;
  if (edit && msg->hwnd == edit && m_nEditRow >= 0 &&
      (msg->message == WM_KEYDOWN || msg->message == WM_CHAR || msg->message == WM_KEYUP) &&
      (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE)) {
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) m_bEndedByReturn = TRUE;
    ::TranslateMessage(msg);
    ::DispatchMessageW(msg);
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) OnCellEditCancel();
    return TRUE;
  }
  return CDialog::PreTranslateMessage(msg);
}

void CCategoryEditDlg::OnDeleteCategory() {
  // The row shown as chosen; without one, the focused row. Without either
  // there is nothing to delete: the name would be empty, and no category
  // may be looked up by it.
  int row = SelectedRow();
  if (row < 0) row = FocusedRow();
  if (row < 0) return;
  if (m_nMode == CATEGORY_EDIT_MODE_ADD_DELETE && RefusedDuringRun()) return;
  // The question is about the row the user sees chosen.
  SelectRow(row);
  CString name = m_list.GetItemText(row, 0);
  const CString shown = name;
  if (::MessageBoxW(m_hWnd, Localized(u"Are you sure you want to delete this category?"), Localized(u"Confirm Delete"),
                    MB_YESNO | MB_ICONQUESTION) != IDYES)
    return;
  if (!::IsWindow(m_hWnd)) return;
  // A refresh may have started while the question showed (a scheduled one).
  if (m_nMode == CATEGORY_EDIT_MODE_ADD_DELETE && RefusedDuringRun()) return;
  m_list.SendMessage(LVM_DELETEITEM, static_cast<WPARAM>(row));
  // Its neighbour is chosen next: the row that moved up into its place, or
  // the row above when it was the last.
  const int count = m_list.GetItemCount();
  SelectRow(row < count ? row : count - 1);
  ChooseSelected();
  name.Trim();
  if (name.IsEmpty()) return;
  // Only a category goes, never a channel that happens to bear the name;
  // "Others" is listed by its localised name.
  CString stored = m_pDocument && m_pDocument->HasCategory(shown) ? shown : name;
  if (m_pDocument && !m_pDocument->HasCategory(stored) && stored == Localized(u"Others")) stored = u"Others";
  {
    CWaitCursor wait;
    if (m_pDocument) m_pDocument->RemoveCategory(stored, DeleteChannelFiles);
    if (CChannelListFields* dialog = ChannelListDialog()) {
      CSingleLock hold(&dialog->m_runLock, TRUE);
      if (POSITION at = dialog->m_reloadCategories.Find(stored)) dialog->m_reloadCategories.RemoveAt(at);
      else if (POSITION at2 = dialog->m_reloadCategories.Find(name)) dialog->m_reloadCategories.RemoveAt(at2);
    }
  }
  // A list that showed the deleted category shows every category.
  CChannelListHost* window = ChannelListWindow();
  if (window && (window->GetCurrentCategory() == name || window->GetCurrentCategory() == stored ||
                 window->GetCurrentCategory() == shown)) {
    window->SetDefaultCategory(u"N/A");
    window->RefreshList();
  }
}

void CCategoryEditDlg::OnOK() {
  // An open edit ends first (and is stored); the dialog closes a moment
  // later with the selected row as the choice.
  m_list.SendMessage(WM_CELL_EDIT_END, 1, 0);
  SetTimer(CATEGORY_EDIT_TIMER_OK, 500, nullptr);
}

void CCategoryEditDlg::OnTimer(UINT_PTR id) {
  if (id != CATEGORY_EDIT_TIMER_OK) {
    Default();
    return;
  }
  KillTimer(CATEGORY_EDIT_TIMER_OK);
  ChooseSelected();
  EndDialog(IDOK);
}

LRESULT CCategoryEditDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CELL_EDIT_END) {
    OnCellEditEnd();
    return CDialog::WindowProc(message, wParam, lParam);
  }
  if (message == WM_CATEGORY_EDIT_AGAIN) {
    const CString text = m_strRetry;
    m_strRetry.Empty();
    ReopenEdit(static_cast<int>(wParam), text);
    return 0;
  }
  if (message == WM_DESTROY) {
    // The task bar drops the dialog's done button when it paints next.
    if (HWND taskBar = qk::shell::TaskBarWindow()) ::InvalidateRect(taskBar, nullptr, TRUE);
  }
  if (message == WM_ERASEBKGND && wParam) {
    CRect client;
    GetClientRect(&client);
    ::FillRect(reinterpret_cast<HDC>(wParam), &client, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    return TRUE;
  }
  if (message == WM_NOTIFY && lParam) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header->idFrom == IDC_CATEGORY_LIST && header->code == static_cast<UINT>(NM_CLICK)) ChooseSelected();
  }
  return CDialog::WindowProc(message, wParam, lParam);
}

void CCategoryEditDlg::OnSize(UINT, int, int) {
  Default();
  Layout();
}

void CCategoryEditDlg::Layout() {
  if (!m_list.m_hWnd || !m_title.m_hWnd) return;
  SetWindowText(GetTouchFlag() ? u"Quillet Reach" : u"Quillet");
  const BOOL addDelete = m_nMode == CATEGORY_EDIT_MODE_ADD_DELETE;
  const BOOL touch = GetTouchFlag();
  CRect client;
  GetClientRect(&client);
  const int w = client.Width(), h = client.Height();
  m_title.SetWindowText(Localized(addDelete ? u"Add/Delete Categories" : u"Change Category"));
  m_title.MoveWindow(-2, -2, w + 4, ScaleY(28));
  if (!addDelete) {
    CRect prompt;
    m_prompt.GetWindowRect(&prompt);
    const int promptHeight = prompt.Height() > 0 ? prompt.Height() : ScaleY(16);
    m_prompt.MoveWindow(ScaleX(4), ScaleY(32), w - ScaleX(8), promptHeight);
    if (touch) {
      const int top = ScaleY(32) + promptHeight;
      m_list.MoveWindow(ScaleX(4), top, w - ScaleX(8), h - ScaleY(36) - 4 - top);
      const int bw = (w - ScaleX(16)) / 3, by = h - ScaleY(28);
      m_ok.MoveWindow(w / 2 - ScaleX(12) - bw, by, bw, ScaleY(24));
      m_cancel.MoveWindow(w / 2 + ScaleX(12), by, bw, ScaleY(24));
    } else {
      m_prompt.ShowWindow(SW_HIDE);
      m_list.MoveWindow(-2, ScaleY(24), w + 4, h + 2 - ScaleY(24));
    }
  } else {
    const int bw = (w - ScaleX(16)) / 3;
    int x = ScaleX(4);
    for (CButton* button : {&m_new, &m_rename, &m_delete}) {
      button->MoveWindow(x, ScaleY(30), bw, ScaleY(24));
      x += bw + ScaleX(4);
    }
    if (touch) m_list.MoveWindow(-2, ScaleY(58), w + 4, h + 4 - ScaleY(58));
    else m_list.MoveWindow(-2, ScaleY(24), w + 4, h + 2 - ScaleY(24));
  }
  CRect list;
  m_list.GetClientRect(&list);
  m_list.SendMessage(LVM_SETCOLUMNWIDTH, 0, list.Width() - ::GetSystemMetrics(SM_CXVSCROLL) - 2);
}
