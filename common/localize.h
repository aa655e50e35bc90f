// Localised texts: every user-visible text is written in English in the code
// and looked up, just before it is shown, in the table of the current
// language ("<Root>\Localization\<Language>\Default.txt", UTF-16LE with a
// byte-order mark, lines "key = value").
#pragma once

#include "framework/afx.h"

// The localised text of one key, or the key itself.
CString& LocalizeKey(CString& out, const CString& key);
// Localises a whole text, piece by piece between line feeds, then between tabs.
CString& Localize(CString& out, const CString& text);
// Shorthand returning the localised text.
CString Localized(LPCWSTR text);

// Localises every item of a menu (and its submenus) whose identifier is
// greater than 0, writing it back as a string item; separators stay.
void LocalizeMenu(HMENU menu);
