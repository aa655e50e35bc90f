// Dialogs built from templates, and the standard controls they hold.
//
// Templates are the platform's binary dialog templates (DLGTEMPLATE, or the
// extended DLGTEMPLATEEX), read from a program's RT_DIALOG resources or
// given in memory; qk::DialogTemplateBuilder writes them. Dialog units
// become pixels through the dialog base units (qk::SetDialogBaseUnits; until
// set they follow the screen's density: 12 x 26 pixels, a 9-point font, at
// 192 dots per inch, 6 x 13 at 96).
//
// The standard control classes ("BUTTON", "EDIT", "STATIC", "LISTBOX",
// "COMBOBOX", "SCROLLBAR") are drawn by the controls library
// (controls/commctrl.h), which this layer links: they exist for every
// program, as on the device. The layer registers them the first time a
// class it does not know is looked up (qk::RegisterStandardControls), so no
// program has to call InitCommonControls() for them; the common controls
// (list view, tab, up-down, date-time picker, progress bar) still come with
// InitCommonControls() or InitCommonControlsEx().
#pragma once

#include <string>
#include <vector>

#include "user/user.h"

struct DLGTEMPLATE;
typedef const DLGTEMPLATE* LPCDLGTEMPLATE;

#define DS_SETFONT 0x40L
#define DS_MODALFRAME 0x80L
#define DS_SETFOREGROUND 0x200L
#define DS_CONTROL 0x0400L
#define DS_CENTER 0x0800L

// Dialog window class of templates that name none.
#define WC_DIALOG u"#32770"

// Buttons.
#define BS_PUSHBUTTON 0x0L
#define BS_DEFPUSHBUTTON 0x1L
#define BS_CHECKBOX 0x2L
#define BS_AUTOCHECKBOX 0x3L
#define BS_RADIOBUTTON 0x4L
#define BS_3STATE 0x5L
#define BS_AUTO3STATE 0x6L
#define BS_GROUPBOX 0x7L
#define BS_AUTORADIOBUTTON 0x9L
#define BS_OWNERDRAW 0xBL
#define BS_TYPEMASK 0xFL
#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BM_GETSTATE 0x00F2
#define BM_SETSTATE 0x00F3
#define BM_CLICK 0x00F5
#define BST_UNCHECKED 0x0
#define BST_CHECKED 0x1
#define BST_INDETERMINATE 0x2
#define BST_PUSHED 0x4
#define BN_CLICKED 0

// Edits.
#define ES_MULTILINE 0x0004L
#define ES_READONLY 0x0800L
#define ES_NUMBER 0x2000L
#define EM_GETSEL 0x00B0
#define EM_SETSEL 0x00B1
#define EM_SCROLLCARET 0x00B7
#define EM_GETLINECOUNT 0x00BA
#define EM_REPLACESEL 0x00C2
#define EM_LIMITTEXT 0x00C5
#define EM_SETLIMITTEXT EM_LIMITTEXT
#define EM_SETREADONLY 0x00CF
#define EN_SETFOCUS 0x0100
#define EN_KILLFOCUS 0x0200
#define EN_CHANGE 0x0300
#define EN_UPDATE 0x0400
#define EN_MAXTEXT 0x0501

// Statics.
#define STM_SETIMAGE 0x0172
#define STM_GETIMAGE 0x0173
#define IMAGE_BITMAP 0
#define IMAGE_ICON 1

// List boxes.
#define LBS_NOTIFY 0x0001L
#define LBS_SORT 0x0002L
#define LB_ADDSTRING 0x0180
#define LB_INSERTSTRING 0x0181
#define LB_DELETESTRING 0x0182
#define LB_RESETCONTENT 0x0184
#define LB_SETCURSEL 0x0186
#define LB_GETCURSEL 0x0188
#define LB_GETTEXT 0x0189
#define LB_GETTEXTLEN 0x018A
#define LB_GETCOUNT 0x018B
#define LB_GETITEMDATA 0x0199
#define LB_SETITEMDATA 0x019A
#define LB_FINDSTRINGEXACT 0x01A2
#define LB_ERR (-1)
#define LBN_SELCHANGE 1

// Combo boxes.
#define CBS_DROPDOWNLIST 0x0003L
#define CBS_SORT 0x0100L
#define CB_ADDSTRING 0x0143
#define CB_DELETESTRING 0x0144
#define CB_GETCOUNT 0x0146
#define CB_GETCURSEL 0x0147
#define CB_GETLBTEXT 0x0148
#define CB_GETLBTEXTLEN 0x0149
#define CB_INSERTSTRING 0x014A
#define CB_RESETCONTENT 0x014B
#define CB_SETCURSEL 0x014E
#define CB_GETITEMDATA 0x0150
#define CB_SETITEMDATA 0x0151
#define CB_FINDSTRINGEXACT 0x0158
#define CB_ERR (-1)
#define CBN_SELCHANGE 1

#define WM_SETFONT 0x0030
#define WM_GETFONT 0x0031

HWND CreateDialogParamW(HINSTANCE instance, LPCWSTR templateName, HWND parent, DLGPROC proc, LPARAM param);
HWND CreateDialogIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATE dialogTemplate, HWND parent, DLGPROC proc,
                                LPARAM param);
// Runs the dialog modally: its owner is disabled meanwhile, and the call
// returns the EndDialog result, or -1 when the dialog could not be made. A
// WM_QUIT ends it too (returning 0) and is posted again for the loops
// outside it.
INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND owner, DLGPROC proc, LPARAM param);
INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATE dialogTemplate, HWND owner, DLGPROC proc,
                                LPARAM param);
BOOL EndDialog(HWND dialog, INT_PTR result);
LRESULT DefDlgProcW(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
// The dialog manager: for a message to the dialog or one of its controls,
// Tab and Shift+Tab move the focus over the WS_TABSTOP controls, the arrow
// keys within the focused control's WS_GROUP group, Enter presses the
// focused push button, else the default button, else IDOK, and Escape
// presses IDCANCEL, unless the focused control's WM_GETDLGCODE asks for the
// key. Other messages are translated and dispatched. TRUE when the message
// belonged to the dialog (it has then been handled).
BOOL IsDialogMessageW(HWND dialog, LPMSG msg);
HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous);
HWND GetNextDlgGroupItem(HWND dialog, HWND control, BOOL previous);
BOOL MapDialogRect(HWND dialog, LPRECT rect);
LONG GetDialogBaseUnits();
LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int cch);
BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned);
UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);

#define CreateDialogParam CreateDialogParamW
#define CreateDialogIndirectParam CreateDialogIndirectParamW
#define DialogBoxParam DialogBoxParamW
#define DialogBoxIndirectParam DialogBoxIndirectParamW
#define DefDlgProc DefDlgProcW
#define IsDialogMessage IsDialogMessageW
#define SendDlgItemMessage SendDlgItemMessageW
#define SetDlgItemText SetDlgItemTextW
#define GetDlgItemText GetDlgItemTextW

namespace qk {

void SetDialogBaseUnits(int x, int y);

// Registers the standard control classes once; later calls do nothing.
// Defined by the controls library.
void RegisterStandardControls();

// Writes a dialog template (the classic DLGTEMPLATE layout).
class DialogTemplateBuilder {
 public:
  DialogTemplateBuilder(DWORD style, DWORD exStyle, short x, short y, short cx, short cy,
                        const std::u16string& title = u"", const std::u16string& className = u"");
  // Sets DS_SETFONT with this face and size.
  DialogTemplateBuilder& Font(WORD points, const std::u16string& face);
  // className is a class name, or one of "BUTTON", "EDIT", "STATIC",
  // "LISTBOX", "SCROLLBAR", "COMBOBOX", written as their ordinals.
  DialogTemplateBuilder& Control(const std::u16string& className, const std::u16string& title, WORD id, DWORD style,
                                 short x, short y, short cx, short cy, DWORD exStyle = 0);
  // The template bytes (DWORD-aligned in memory).
  std::vector<DWORD> Build() const;

 private:
  struct Item {
    std::u16string className, title;
    WORD id;
    DWORD style, exStyle;
    short x, y, cx, cy;
  };
  DWORD style_, exStyle_;
  short x_, y_, cx_, cy_;
  std::u16string title_, className_, face_;
  WORD points_ = 0;
  std::vector<Item> items_;
};

}  // namespace qk
