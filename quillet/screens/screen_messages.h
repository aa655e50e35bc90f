// Window classes, private messages and command numbers of the main window
// and the channel-list screens.
#pragma once

#include "quillet/refresh/refresh_state.h"

#define QUILLET_MAIN_WINDOW_CLASS u"QuilletMainWnd"
// The name under which other programs (Monitor, a second start) find the
// main window.
#define QUILLET_MAIN_WINDOW_FIND_CLASS u"WCE_QuilletMainWnd"
#define QUILLET_DIALOG_CLASS u"QuilletDialog"
#define QUILLET_CHANNEL_LIST_WINDOW_CLASS u"QuilletChannelListWnd"
#define QUILLET_CHANNEL_LIST_DIALOG_CLASS u"QuilletChannelListDlg"
#define QUILLET_INSTANCE_MUTEX u"Quillet Mobile"

// Start a refresh (Monitor, a second start with "/update").
#define WM_CHANNELS_DOWNLOAD_START 0x7E9
// An article text to write next to a page: wParam the text, lParam the path
// of the ".sft" file (in-process callers). Other programs send the same as
// WM_COPYDATA with dwData WM_ARTICLE_TEXT and the two texts, each ended by
// a zero, one after the other.
#define WM_ARTICLE_TEXT 0x81A
// Hand-over of a channel: wParam the channel number.
#define WM_CHANNEL_HANDOVER 0x81B
// Another start of the program wants this one to the front.
#define WM_ACTIVATE_INSTANCE 0x87F
// The end of an edit in a list (passed on to the parent).
#define WM_CELL_EDIT_END 0x2340

// Menu and soft-key commands.
#define ID_MENU_KEY 32797
#define ID_NEW_CHANNEL 32795
#define ID_OPTIONS_AUTO_UPDATE 32821
#define ID_OPTIONS_STORAGE 32822
#define ID_OPTIONS_GENERAL 32853
#define ID_OPTIONS_NETWORK 32848
#define ID_REFRESH_CHANNEL 32879
#define ID_CHOOSE_CATEGORY 32891
#define ID_LANGUAGE 32888
#define ID_CHANNEL_PROPERTIES 32827
#define ID_MARK_READ 32802
#define ID_MARK_UNREAD 32804
#define ID_ALL_READ 32806
#define ID_ALL_UNREAD 32808
#define ID_DELETE_CHANNEL 32831
#define ID_CHANGE_CATEGORY 32832
#define ID_EXPORT 32826
#define ID_DELETE_ALL_DATA 32887
#define ID_APP_ABOUT_COMMAND 57664
#define ID_RENAME 32829
#define ID_ADD_DELETE 16641
#define ID_ALL_CATEGORIES 16640

// Resources: the frame's icon and menu bar, the channel-list dialog.
#define IDR_MAINFRAME 128
#define IDD_CHANNEL_LIST 137

// Images (low density / 192 dpi).
#define IDR_PNG_HEADER_ICON 229
#define IDR_PNG_HEADER_ICON_192 275
#define IDR_PNG_DOWNLOAD 231
#define IDR_PNG_DOWNLOAD_192 274
#define IDR_PNG_BAR_CATEGORIES 249
#define IDR_PNG_BAR_CATEGORIES_192 284
#define IDR_PNG_BAR_REFRESH 246
#define IDR_PNG_BAR_REFRESH_192 288
#define IDR_PNG_BAR_CANCEL 247
#define IDR_PNG_BAR_CANCEL_192 289
#define IDR_PNG_BAR_MENU 266
#define IDR_PNG_BAR_MENU_192 286
#define IDR_PNG_BAR_PRESSED 349
#define IDR_PNG_BAR_PRESSED_192 350
