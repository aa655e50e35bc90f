// Window classes and the private messages of the main window and the
// channel-list screens.
#pragma once

#include "quillet/refresh/refresh_state.h"

#define QUILLET_MAIN_WINDOW_CLASS u"QuilletMainWnd"
#define QUILLET_CHANNEL_LIST_WINDOW_CLASS u"QuilletChannelListWnd"
#define QUILLET_CHANNEL_LIST_DIALOG_CLASS u"QuilletChannelListDlg"
