// The row ids of the wizard's pages, which the wizard and the pages share:
// the choice page's rows and the choices the wizard carries out, and the
// rows of the URL page (with its search results and sync account).
#pragma once

// The choice page's rows.
#define CHOICE_ROW_CATALOG 3
#define CHOICE_ROW_URL 4
#define CHOICE_ROW_TEMPLATES 5
#define CHOICE_ROW_ONLINE 6
#define CHOICE_ROW_SYNC 7
#define CHOICE_ROW_OPML_FILE 8
#define CHOICE_ROW_SEARCH 10

// The choices the wizard carries out (6: nothing chosen).
#define CHOICE_OPML 0
#define CHOICE_URL 1
#define CHOICE_TEMPLATES 2
#define CHOICE_ONLINE 3
#define CHOICE_SYNC 4
#define CHOICE_SEARCH 5
#define CHOICE_NONE 6

// The URL page's rows.
#define INPUT_ROW_FIRST 4
#define INPUT_ROW_SECOND 5
#define INPUT_ROW_SAVE 6
#define INPUT_ROW_THIRD 7
#define INPUT_ROW_REDEFINE 8
// Search results: one id per entry of the result list, from this one on.
#define INPUT_ROW_RESULT 100
