#include "quillet/headlines/news_list_menu_dlg.h"

#include "common/localize.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"

namespace {

struct Entry {
  const char16_t* text;
  UINT low, high, id;
};
const Entry kActions[] = {{u"Mark All As Read", 332, 338, 6},   {u"Mark All As Unread", 333, 339, 7},
                          {u"Delete All Items", 330, 336, 2},   {u"Delete this Channel", 331, 337, 3},
                          {u"Change Category", 328, 334, 4},    {u"Properties", 329, 335, 5},
                          {u"Exit Quillet", 253, 297, 9}};
const Entry kSettings[] = {{u"General", 258, 277, 101},
                           {u"Auto Update", 257, 276, 102},
                           {u"Data Storage", 259, 278, 103},
                           {u"Network", 260, 279, 104},
                           {u"About", 256, 268, 100}};

// The commands the actions send to the headline list.
UINT ActionCommand(UINT id) {
  switch (id) {
    case 2: return ID_DELETE_ALL_ITEMS;
    case 3: return ID_DELETE_CHANNEL;
    case 4: return ID_CHANGE_CATEGORY;
    case 5: return ID_CHANNEL_PROPERTIES;
    case 6: return ID_ALL_READ;
    case 7: return ID_ALL_UNREAD;
    default: return 0;
  }
}

}  // namespace

CNewsListMenuDlg::CNewsListMenuDlg(CWnd* parent) : CMenuScreen(IDD_MENU_SCREEN, parent) {
  // The keys work the page shown, the side keys as Up and Down.
  m_bSideKeysMove = TRUE;
}

BOOL CNewsListMenuDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetWindowText(GetTouchFlag() ? u"Quillet Reach" : u"Quillet");
  // Full screen without a menu bar, on both faces.
  PlaceOnScreen(FALSE);
  for (int page = 0; page < 2; ++page) {
    const Entry* entries = page == 0 ? kActions : kSettings;
    const size_t count = page == 0 ? std::size(kActions) : std::size(kSettings);
    CTouchMenuList* list = AddPage(page == 0 ? OnActionChosen : OnEntryChosen, TRUE);
    for (size_t i = 0; i < count; ++i)
      list->AddItem(Localized(entries[i].text), nullptr, static_cast<int>(ImageIdAt192(entries[i].low, entries[i].high)),
                    -1, entries[i].id);
    list->RefreshItems(FALSE);
  }
  SetBarButton(0, 0, 264, 296, 8);
  SetBarButton(0, 4, IDR_PNG_CANCEL, IDR_PNG_CANCEL_192, 1);
  SetBarButton(1, 0, IDR_PNG_OK, IDR_PNG_OK_192, 10);
  SetBarButton(1, 4, IDR_PNG_CANCEL, IDR_PNG_CANCEL_192, 1);
  ShowPage(0);
  return TRUE;
}

void CNewsListMenuDlg::OnActionChosen(HWND window, DWORD_PTR, UINT id, CTouchListItem*) {
  auto* self = FromWindow<CNewsListMenuDlg>(window);
  if (!self) return;
  if (const UINT command = ActionCommand(id)) {
    self->ShowWindow(SW_HIDE);
    if (CWnd* parent = self->GetParent()) parent->SendMessage(WM_COMMAND, command, 0);
    if (::IsWindow(self->m_hWnd)) self->SendMessage(WM_CLOSE);
  } else if (id == 9) {
    self->SendMessage(WM_CLOSE);
    if (CWnd* main = AfxGetMainWnd()) main->SendMessage(WM_COMMAND, ID_APP_EXIT_COMMAND, 0);
  } else if (id == 1) {
    self->SendMessage(WM_CLOSE);
  }
}

void CNewsListMenuDlg::OnEntryChosen(HWND window, DWORD_PTR, UINT id, CTouchListItem*) {
  auto* self = FromWindow<CNewsListMenuDlg>(window);
  if (!self) return;
  if (!SendOptionEntry(id, 100)) return;
  if (::IsWindow(self->m_hWnd)) self->ShowPage(self->GetPage());
}

void CNewsListMenuDlg::OnBarCommand(int command) {
  if (command == 1 || command == 10) OnOK();
  else if (command == 8) ShowPage(1);
}
