// The main program's compiled-in resources: images of type "PNG" by numeric
// id. Images come in pairs: the low-density one and the one for 192 dpi.
#pragma once

#define IDR_PNG_CHANNEL_DEFAULT 248
#define IDR_PNG_CHANNEL_DEFAULT_192 298
#define IDR_PNG_REFRESH_PENDING 255
#define IDR_PNG_REFRESH_PENDING_192 280

// Headline rows: the default picture and the read-state images.
#define IDR_PNG_NEWS_DEFAULT 250
#define IDR_PNG_NEWS_DEFAULT_192 272
#define IDR_PNG_NEWS_UNREAD 252
#define IDR_PNG_NEWS_UNREAD_192 271
#define IDR_PNG_NEWS_UNREAD_FULL 251
#define IDR_PNG_NEWS_UNREAD_FULL_192 269
#define IDR_PNG_NEWS_READ 326
#define IDR_PNG_NEWS_READ_192 327
#define IDR_PNG_NEWS_READ_FULL 324
#define IDR_PNG_NEWS_READ_FULL_192 325

// The glow behind a pressed button of the image button bar.
#define IDR_PNG_BUTTON_PRESSED 349
#define IDR_PNG_BUTTON_PRESSED_192 350

// Dialog templates.
#define IDD_HTML_VIEW 348
// The main frame's menu and menu bar (key devices).
#define IDR_MAIN_MENU 128

// Registers the program's resources with the resource lookup (module NULL).
// Safe to call more than once.
void RegisterQuilletResources();
