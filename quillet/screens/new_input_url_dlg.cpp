#include "quillet/screens/new_input_url_dlg.h"

#include "quillet/screens/screen_messages.h"

CNewInputUrlDlg::CNewInputUrlDlg(COpmlXML* list, int mode, CWnd* parent)
    : CDialog(IDD_INPUT_URL, parent), m_pList(list), m_nMode(mode) {}

CNewInputUrlDlg::~CNewInputUrlDlg() = default;
