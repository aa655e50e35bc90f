// Window classes and private messages of the main window and the screens;
// the command numbers and resource ids they share with their resources are
// in quillet/res/screen_ids.h.
#pragma once

#include "quillet/refresh/refresh_state.h"
#include "quillet/res/screen_ids.h"

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

// The wizard's messages, sent by its pages.
#define WM_WIZARD_CHOICE 0x84D
#define WM_WIZARD_OPML_BACK 0x84E
#define WM_WIZARD_TEMPLATES_BACK 0x84F
#define WM_WIZARD_INPUT_BACK 0x850
#define WM_WIZARD_CHANNELS_ADDED 0x851
