// Command numbers and resource ids that the screens and their resource
// templates (the *_resources.cpp files here) share: the menus' and soft
// keys' commands, the dialog templates and menu bars, and the screens'
// images.
#pragma once

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

// The headline list, the reading view and the new-channel wizard.
#define ID_REFRESH 32793
#define ID_BACK_TO_CHANNELS 32810
#define ID_DELETE_ITEM 32861
#define ID_DELETE_ALL_ITEMS 32864
#define ID_HEADLINES 32814
#define ID_PREVIOUS_ARTICLE 32875
#define ID_NEXT_ARTICLE 32877
#define ID_EMAIL_ARTICLE 32904
// The reading font sizes, largest first.
#define ID_FONT_LARGEST 32854
#define ID_FONT_LARGER 32855
#define ID_FONT_MEDIUM 32856
#define ID_FONT_SMALLER 32857
#define ID_FONT_SMALLEST 32859
#define ID_WIZARD_FINISH 32893
#define ID_WIZARD_BACK 32905
#define ID_CHOICE_NEXT 32846
#define ID_CHOICE_CANCEL 32845
#define ID_EDITOR_BACK 32799
#define ID_EDITOR_FINISH 32800

// Dialog templates and menu bars of these screens.
#define IDD_NEWS_LIST 140
// The full-screen menus of the headline list and the category chooser.
#define IDD_MENU_SCREEN 197
#define IDD_NEWS_READ 141
#define IDD_NEWS_READ_MENU 226
#define IDR_NEWS_LIST_MENU 153
#define IDR_NEWS_READ_MENU 1038
#define IDD_NEW_CHANNEL 170
#define IDD_NEW_WIZARD 171
#define IDR_NEW_CHANNEL_MENU 172
#define IDR_EDITOR_MENU 173
#define IDD_DOWNLOAD 194
#define IDD_INPUT_URL 239
#define IDD_EDITOR 243
#define IDR_WIZARD_MENU 347

// Images of these screens (low density / 192 dpi; a third id where key
// devices have their own).
#define IDR_PNG_NEWS_TITLE_ICON 245
#define IDR_PNG_NEWS_TITLE_ICON_192 299
#define IDR_PNG_BAR_BACK 234
#define IDR_PNG_BAR_BACK_192 273
#define IDR_PNG_BAR_PREVIOUS 267
#define IDR_PNG_BAR_PREVIOUS_192 287
#define IDR_PNG_BAR_NEXT 263
#define IDR_PNG_BAR_NEXT_192 285
#define IDR_PNG_BAR_EMAIL 341
#define IDR_PNG_BAR_EMAIL_192 340
#define IDR_PNG_CANCEL 261
#define IDR_PNG_CANCEL_192 282
#define IDR_PNG_OK 265
#define IDR_PNG_OK_192 301
#define IDR_PNG_MARK_READ 332
#define IDR_PNG_MARK_READ_192 338
#define IDR_PNG_MARK_UNREAD 333
#define IDR_PNG_MARK_UNREAD_192 339
#define IDR_PNG_DELETE_ARTICLE 330
#define IDR_PNG_DELETE_ARTICLE_192 336
// The reading menu's mark of the size chosen on key devices, and the corner
// tab of full-screen reading.
#define IDR_PNG_FONT_SELECTED_KEY 378
#define IDR_PNG_READING_CORNER 343
#define IDR_PNG_READING_CORNER_192 344
// The choice page's rows (touch low / touch 192 / key device).
#define IDR_PNG_CHOICE_SYNC 310
#define IDR_PNG_CHOICE_SYNC_192 309
#define IDR_PNG_CHOICE_SYNC_KEY 357
#define IDR_PNG_CHOICE_CATALOG 235
#define IDR_PNG_CHOICE_CATALOG_192 292
#define IDR_PNG_CHOICE_CATALOG_KEY 358
#define IDR_PNG_CHOICE_URL 236
#define IDR_PNG_CHOICE_URL_192 290
#define IDR_PNG_CHOICE_URL_KEY 359
#define IDR_PNG_CHOICE_OPML 316
#define IDR_PNG_CHOICE_OPML_192 317
#define IDR_PNG_CHOICE_OPML_KEY 360
#define IDR_PNG_CHOICE_SEARCH 303
#define IDR_PNG_CHOICE_SEARCH_192 304
#define IDR_PNG_CHOICE_SEARCH_KEY 356
#define IDR_PNG_CHOICE_TEMPLATES 237
#define IDR_PNG_CHOICE_TEMPLATES_192 293
#define IDR_PNG_CHOICE_TEMPLATES_KEY 361
#define IDR_PNG_CHOICE_ONLINE 238
#define IDR_PNG_CHOICE_ONLINE_192 294
#define IDR_PNG_CHOICE_ONLINE_KEY 362
// The file chooser's up-folder bitmap for the OPML pick.
#define IDB_FILE_UP 306
#define IDB_FILE_UP_192 307
// The URL page's rows (touch low / touch 192 / key device).
#define IDR_PNG_INPUT_URL 396
#define IDR_PNG_INPUT_URL_192 394
#define IDR_PNG_INPUT_URL_KEY 395
#define IDR_PNG_INPUT_TITLE 393
#define IDR_PNG_INPUT_TITLE_192 391
#define IDR_PNG_INPUT_TITLE_KEY 392
#define IDR_PNG_INPUT_FETCH 390
#define IDR_PNG_INPUT_FETCH_192 388
#define IDR_PNG_INPUT_FETCH_KEY 389
#define IDR_PNG_INPUT_SAVE 244
#define IDR_PNG_INPUT_SAVE_192 300
#define IDR_PNG_INPUT_SAVE_KEY 367
#define IDR_PNG_INPUT_SELECTED_KEY 371
// Bitmaps of the article page: read and unread marks, the error mark and
// the 1 x 1 filler that stands in for a picture that is not shown.
#define IDB_NEWS_READ 157
#define IDB_NEWS_UNREAD 158
#define IDB_NEWS_ERROR 160
#define IDB_NEWS_FILLER 174
