// The option page "Data Storage" (template 165): whether the channel data
// lives on a storage card and on which one, with the chosen card's total and
// free space. When OK changes the place of the data, the channel files and
// the channel list move there (see data_move.h), and the open channel list
// follows them.
#pragma once

#include <functional>

#include "quillet/options/option_page.h"

class COpmlXML;

#define IDD_OPTION_STORAGE 165
#define IDC_STORAGE_CARD_LIST 1015
#define IDC_STORAGE_USE_CARD 1016
#define IDC_STORAGE_TOTAL 1017
#define IDC_STORAGE_FREE 1018
#define IDC_STORAGE_TOTAL_LABEL 1046
#define IDC_STORAGE_FREE_LABEL 1047

class COptionStorageDlg : public COptionPage {
 public:
  // list: the open channel list, which moves with the data (may be null).
  explicit COptionStorageDlg(CWnd* parent, COpmlXML* list = nullptr);

  // Asked at OK: TRUE while a refresh writes the channel files, which are
  // then not moved (the user is told to wait).
  std::function<BOOL()> m_isRefreshRunning;

  BOOL OnInitDialog() override;
  void OnOK() override;
  // Shows the chosen card's total and free space.
  void OnCardChange();

  // A card is offered when it is at least this big (63 MB).
  static constexpr unsigned long long kSmallestCard = 0x3F00000ULL;

 private:
  COpmlXML* m_pList;

  DECLARE_MESSAGE_MAP()
};
