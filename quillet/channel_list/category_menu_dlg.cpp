#include "quillet/channel_list/category_menu_dlg.h"

#include "common/localize.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/channel_list/category_edit_dlg.h"
#include "quillet/screens/screen_frame.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"

namespace {

CChannelListHost* ChannelListWindow() { return ChannelListHost(); }

}  // namespace

CCategoryMenuDlg::CCategoryMenuDlg(CWnd* parent) : CMenuScreen(IDD_MENU_SCREEN, parent) { m_bSideKeysMove = TRUE; }

BOOL CCategoryMenuDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetWindowText(GetTouchFlag() ? u"Quillet Reach" : u"Quillet");
  if (!GetTouchFlag()) {
    HWND bar = CreateMenuBar(m_hWnd, IDR_WIZARD_MENU);
    if (!bar) {
      EndDialog(-1);
      return FALSE;
    }
    SetSoftKeyText(bar, IDOK, u"Add/Delete");
    SetSoftKeyText(bar, IDCANCEL, u"Cancel");
    ::DrawMenuBar(bar);
  }
  PlaceOnScreen(!GetTouchFlag());
  AddPage(OnCategoryChosen, TRUE);
  SetBarButton(0, 4, IDR_PNG_CANCEL, IDR_PNG_CANCEL_192, 1);
  SetBarButton(0, 0, 262, 283, 3);
  FillCategories();
  ShowPage(0);
  return TRUE;
}

void CCategoryMenuDlg::FillCategories() {
  CTouchMenuList* list = RebuildList(0, OnCategoryChosen);
  CChannelListHost* window = ChannelListWindow();
  CString current = window ? window->GetCurrentCategory() : CString(u"N/A");
  const CString all = Localized(u"All Categories");
  if (current == u"N/A") current = all;
  const int check = static_cast<int>(GetTouchFlag() ? ImageIdAt192(IDR_PNG_OK, IDR_PNG_OK_192) : 378);
  list->AddItem(all, nullptr, current == all ? check : -1, -1, CATEGORY_MENU_ALL);
  m_entries.clear();
  std::vector<CString> labels;
  if (CChannelListFields* fields = window ? window->ShownChannelList() : nullptr) {
    CChannelListFields& dialog = *fields;
    CSingleLock hold(&dialog.m_runLock, TRUE);
    for (POSITION at = dialog.m_reloadCategories.GetHeadPosition(); at;)
      m_entries.push_back(dialog.m_reloadCategories.GetNext(at));
    for (POSITION at = dialog.m_reloadTitles.GetHeadPosition(); at;) labels.push_back(dialog.m_reloadTitles.GetNext(at));
  }
  const CString others = Localized(u"Others");
  const CString labelPrefix = CString(SYNC_CATEGORY) + u" - ";
  auto idOf = [this](const CString& name) {
    for (size_t i = 0; i < m_entries.size(); ++i)
      if (m_entries[i] == name) return static_cast<int>(CATEGORY_MENU_FIRST_ENTRY + i);
    return -1;
  };
  int othersId = -1;
  for (size_t i = 0; i < m_entries.size(); ++i) {
    const CString& name = m_entries[i];
    const UINT id = static_cast<UINT>(CATEGORY_MENU_FIRST_ENTRY + i);
    if (name == others) {
      othersId = static_cast<int>(id);
    } else if (name.Left(labelPrefix.GetLength()) == labelPrefix) {
      continue;
    } else {
      list->AddItem(name, nullptr, name == current ? check : -1, -1, id);
      if (name != SYNC_CATEGORY) continue;
      // The labels of the synchronised channels, indented under it.
      for (const CString& label : labels) {
        const int labelId = idOf(labelPrefix + label);
        if (labelId < 0) continue;
        list->AddItem(u"-  " + label, nullptr, labelPrefix + label == current ? check : -1, -1,
                      static_cast<UINT>(labelId));
      }
    }
  }
  if (othersId >= 0) list->AddItem(others, nullptr, others == current ? check : -1, -1, static_cast<UINT>(othersId));
  list->RefreshItems(FALSE);
  if (m_hWnd) ShowPage(0);
}

void CCategoryMenuDlg::OnCategoryChosen(HWND window, DWORD_PTR, UINT id, CTouchListItem*) {
  auto* self = FromWindow<CCategoryMenuDlg>(window);
  if (!self) return;
  CString chosen;
  if (id == CATEGORY_MENU_ALL) chosen = u"N/A";
  else if (id >= CATEGORY_MENU_FIRST_ENTRY && id - CATEGORY_MENU_FIRST_ENTRY < self->m_entries.size())
    chosen = self->m_entries[id - CATEGORY_MENU_FIRST_ENTRY];
  else return;
  self->SendMessage(WM_CLOSE);
  if (CChannelListHost* list = ChannelListWindow()) list->SetDefaultCategory(chosen);
}

void CCategoryMenuDlg::RunCategoryEditor() {
  CChannelListHost* window = ChannelListWindow();
  {
    CCategoryEditDlg editor(CATEGORY_EDIT_MODE_ADD_DELETE, window && window->ShownChannelList() ? window->ShownChannelList()->m_pOpml : nullptr, nullptr);
    editor.AddCategoriesOfChannelList();
    editor.DoModal();
  }
  m_bCategoriesEdited = TRUE;
  if (::IsWindow(m_hWnd)) FillCategories();
}

void CCategoryMenuDlg::OnOK() {
  if (GetTouchFlag()) EndDialog(IDOK);
  else RunCategoryEditor();
}

void CCategoryMenuDlg::OnBarCommand(int command) {
  if (command == 1) EndDialog(IDOK);
  else if (command == 3) RunCategoryEditor();
}
