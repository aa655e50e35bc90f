// The wizard's page for a typed feed URL (mode 1), the online search
// (mode 5) and the sync account (mode 4).
#pragma once

#include "framework/afx.h"
#include "framework/dialog.h"

class COpmlXML;

class CNewInputUrlDlg : public CDialog {
 public:
  CNewInputUrlDlg(COpmlXML* list, int mode, CWnd* parent);
  ~CNewInputUrlDlg() override;

  int GetMode() const { return m_nMode; }
  // The wizard may end on a key device only while this is set.
  BOOL IsFinishAllowed() const { return m_bFinishAllowed; }

 protected:
  COpmlXML* m_pList = nullptr;
  int m_nMode = 1;
  BOOL m_bFinishAllowed = FALSE;
};
