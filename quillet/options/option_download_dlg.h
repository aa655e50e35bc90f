// The General option page (template 186): how many articles a channel
// keeps, how many items the sync service is asked for per feed, and the
// image, full-text and full-screen switches. The values are read from the
// section "Settings" at start and written back only on OK.
//
// The two numbers each have an edit and an up-down without a buddy; the
// page keeps them in step. An up-down's range runs from 499 down to 0 and
// its position stands for the value 500 - position, so that its up arrow
// raises the value.
#pragma once

#include "quillet/options/option_page.h"

#define IDD_OPTION_GENERAL 186
#define IDC_OPTION_IMAGES 1036
#define IDC_OPTION_FULLTEXT 1037
#define IDC_OPTION_FULLSCREEN 1038
#define IDC_OPTION_LIMIT_SET 1039
#define IDC_OPTION_ARTICLES 1040
#define IDC_OPTION_ARTICLES_SPIN 1041
#define IDC_OPTION_SYNC_COUNT 1042
#define IDC_OPTION_SYNC_COUNT_SPIN 1043
#define IDC_OPTION_ARTICLES_LABEL 1053
#define IDC_OPTION_SYNC_COUNT_LABEL 1054

// The largest number of articles a channel keeps.
#define OPTION_ARTICLES_MAX 500

class COptionDownloadDlg : public COptionPage {
 public:
  explicit COptionDownloadDlg(CWnd* parent = nullptr);

  BOOL OnInitDialog() override;
  void OnOK() override;

 protected:
  void OnArticlesChange();
  void OnSyncCountChange();
  void OnArticlesDeltaPos(NMHDR* header, LRESULT* result);
  void OnSyncCountDeltaPos(NMHDR* header, LRESULT* result);
  void OnNothing() {}

 private:
  // The number an edit holds: its leading decimal digits, 0 without any.
  int ReadNumber(UINT id) const;
  // Writes a corrected value into an edit, selects all of it and brings
  // the caret into view.
  void CorrectNumber(UINT id, int value);
  void SetSpinValue(UINT id, int value);

  DECLARE_MESSAGE_MAP()
};
