// Each control driven by synthetic pointer and key input through the window
// layer, with the notifications its parent receives.
#include <gtest/gtest.h>

#include <algorithm>

#include "controls_support.h"

namespace {

using ctest::ControlsTest;
using ctest::Note;

TEST_F(ControlsTest, SingleLineEditTypesSelectsCopiesAndUndoes) {
  HWND edit = Make(WC_EDIT, u"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, S(10), S(10), S(200), S(24), 100);
  EXPECT_EQ(SendMessageW(edit, WM_GETDLGCODE, 0, 0) & DLGC_WANTALLKEYS, 0);
  Tap(edit, S(20), S(12));
  ASSERT_EQ(GetFocus(), edit);
  EXPECT_EQ(host_.Count(WM_COMMAND, EN_SETFOCUS), 1);

  Type(u"hello world");
  EXPECT_EQ(TextOf(edit), u"hello world");
  EXPECT_EQ(host_.Count(WM_COMMAND, EN_CHANGE), 11);
  EXPECT_EQ(Sel(edit), std::make_pair(11, 11));
  EXPECT_EQ(SendMessageW(edit, EM_GETMODIFY, 0, 0), TRUE);

  // Ctrl+Left jumps a word; Shift+End selects to the end; Ctrl+C copies it.
  Hold(VK_CONTROL, true);
  Key(VK_LEFT);
  Hold(VK_CONTROL, false);
  EXPECT_EQ(Sel(edit), std::make_pair(6, 6));
  Hold(VK_SHIFT, true);
  Key(VK_END);
  Hold(VK_SHIFT, false);
  EXPECT_EQ(Sel(edit), std::make_pair(6, 11));
  Type(u"\x03");
  EXPECT_EQ(qk::GetClipboardText(), u"world");

  // Typing replaces the selection; Backspace and Delete remove one each.
  Type(u"there");
  EXPECT_EQ(TextOf(edit), u"hello there");
  Key(VK_HOME);
  Key(VK_DELETE);
  EXPECT_EQ(TextOf(edit), u"ello there");
  Key(VK_END);
  Type(u"\b\b");
  EXPECT_EQ(TextOf(edit), u"ello the");
  // Undo brings back the text before the last change.
  Type(u"\x1A");
  EXPECT_EQ(TextOf(edit), u"ello ther");
  // Ctrl+A, Ctrl+X, then paste twice.
  Type(u"\x01\x18");
  EXPECT_EQ(TextOf(edit), u"");
  EXPECT_EQ(qk::GetClipboardText(), u"ello ther");
  Type(u"\x16\x16");
  EXPECT_EQ(TextOf(edit), u"ello therello ther");

  // A tap places the caret at the character under the pointer.
  SetWindowTextW(edit, u"abcdefgh");
  LRESULT pos = SendMessageW(edit, EM_POSFROMCHAR, 5, 0);
  int x5 = static_cast<short>(LOWORD(pos)), y5 = static_cast<short>(HIWORD(pos));
  Tap(edit, x5 + 1, y5 + S(4));
  EXPECT_EQ(Sel(edit), std::make_pair(5, 5));
  EXPECT_EQ(static_cast<int>(LOWORD(SendMessageW(edit, EM_CHARFROMPOS, 0, MAKELPARAM(x5 + 1, y5 + S(4))))), 5);
  // Dragging selects.
  LRESULT p2 = SendMessageW(edit, EM_POSFROMCHAR, 2, 0);
  Down(edit, static_cast<short>(LOWORD(p2)) + 1, y5 + S(4));
  Move(edit, x5 + 1, y5 + S(4));
  Up(edit, x5 + 1, y5 + S(4));
  EXPECT_EQ(Sel(edit), std::make_pair(2, 5));

  // A long text scrolls so that the caret stays inside the field.
  std::u16string longText(120, u'm');
  SetWindowTextW(edit, longText.c_str());
  Key(VK_END);
  LRESULT end = SendMessageW(edit, EM_POSFROMCHAR, 119, 0);
  RECT rc;
  GetClientRect(edit, &rc);
  EXPECT_GT(static_cast<short>(LOWORD(end)), 0);
  EXPECT_LT(static_cast<short>(LOWORD(end)), rc.right);
  EXPECT_GT(SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0), 0);  // the first visible character

  // Losing the focus reports EN_KILLFOCUS.
  SetFocus(window_);
  EXPECT_EQ(host_.Count(WM_COMMAND, EN_KILLFOCUS), 1);
}

TEST_F(ControlsTest, EditRulesNumbersLimitReadOnlyAndPassword) {
  HWND number = Make(WC_EDIT, u"", WS_BORDER | ES_NUMBER, S(10), S(10), S(100), S(24), 101);
  SetFocus(number);
  Type(u"4a2");
  EXPECT_EQ(TextOf(number), u"42");

  HWND limited = Make(WC_EDIT, u"", WS_BORDER, S(10), S(40), S(100), S(24), 102);
  SendMessageW(limited, EM_LIMITTEXT, 3, 0);
  SetFocus(limited);
  host_.notes.clear();
  Type(u"abcd");
  EXPECT_EQ(TextOf(limited), u"abc");
  EXPECT_EQ(host_.Count(WM_COMMAND, EN_CHANGE), 3);
  EXPECT_EQ(host_.Count(WM_COMMAND, EN_MAXTEXT), 1);

  HWND fixed = Make(WC_EDIT, u"fixed", WS_BORDER | ES_READONLY, S(10), S(70), S(100), S(24), 103);
  SetFocus(fixed);
  host_.notes.clear();
  Type(u"x\b");
  Key(VK_DELETE);
  EXPECT_EQ(TextOf(fixed), u"fixed");
  EXPECT_EQ(host_.Count(WM_COMMAND, EN_CHANGE), 0);
  SendMessageW(fixed, EM_SETREADONLY, FALSE, 0);
  Key(VK_END);
  Type(u"!");
  EXPECT_EQ(TextOf(fixed), u"fixed!");

  HWND secret = Make(WC_EDIT, u"", WS_BORDER | ES_PASSWORD, S(10), S(100), S(100), S(24), 104);
  EXPECT_EQ(SendMessageW(secret, EM_GETPASSWORDCHAR, 0, 0), u'*');
  SetFocus(secret);
  qk::SetClipboardText(u"before");
  Type(u"pw\x01\x03");
  EXPECT_EQ(TextOf(secret), u"pw");
  EXPECT_EQ(qk::GetClipboardText(), u"before");  // a password is never copied
  // The caret stands where the stars end: both characters are as wide as a star.
  LRESULT at2 = SendMessageW(secret, EM_POSFROMCHAR, 2, 0), at0 = SendMessageW(secret, EM_POSFROMCHAR, 0, 0);
  SendMessageW(secret, EM_SETPASSWORDCHAR, 0, 0);
  LRESULT plain2 = SendMessageW(secret, EM_POSFROMCHAR, 2, 0);
  EXPECT_NE(static_cast<short>(LOWORD(at2)) - static_cast<short>(LOWORD(at0)),
            static_cast<short>(LOWORD(plain2)) - static_cast<short>(LOWORD(at0)));
}

TEST_F(ControlsTest, TextSetByTheProgramEndsTheUndoAndOnlyASingleLineEditTellsOfIt) {
  HWND single = Make(WC_EDIT, u"", WS_BORDER | ES_AUTOHSCROLL, S(10), S(10), S(200), S(24), 140);
  HWND multi = Make(WC_EDIT, u"", WS_BORDER | ES_MULTILINE, S(10), S(40), S(200), S(60), 141);
  for (HWND edit : {single, multi}) {
    SetFocus(edit);
    Type(u"typed");
    ASSERT_TRUE(SendMessageW(edit, EM_CANUNDO, 0, 0));
    host_.notes.clear();
    SetWindowTextW(edit, u"set");
    // The old text is gone for good: nothing to undo, Ctrl+Z changes nothing.
    EXPECT_FALSE(SendMessageW(edit, EM_CANUNDO, 0, 0));
    EXPECT_FALSE(SendMessageW(edit, EM_UNDO, 0, 0));
    Type(u"\x1A");
    EXPECT_EQ(TextOf(edit), u"set");
    EXPECT_FALSE(SendMessageW(edit, EM_GETMODIFY, 0, 0));
    int changes = edit == single ? 1 : 0;
    EXPECT_EQ(host_.Count(WM_COMMAND, EN_CHANGE), changes);
    EXPECT_EQ(host_.Count(WM_COMMAND, EN_UPDATE), changes);
    // What the user types is reported by both.
    Type(u"!");
    EXPECT_EQ(host_.Count(WM_COMMAND, EN_CHANGE), changes + 1);
  }
}

TEST_F(ControlsTest, ParentChoosesTheColoursOfEditsAndStatics) {
  HWND plain = Make(WC_EDIT, u"WWWW", 0, S(10), S(10), S(100), S(24), 120);
  HWND fixed = Make(WC_EDIT, u"WWWW", ES_READONLY, S(10), S(40), S(100), S(24), 121);
  HWND label = Make(WC_STATIC, u"WWWW", SS_LEFT, S(10), S(70), S(100), S(24), 122);
  HBRUSH yellow = CreateSolidBrush(RGB(255, 255, 0));
  // Edits ask with WM_CTLCOLOREDIT, read-only ones and statics with
  // WM_CTLCOLORSTATIC; a parent that answers no brush still sets the text.
  host_.colours = [&](UINT, HDC dc, HWND control) -> HBRUSH {
    SetTextColor(dc, RGB(255, 0, 0));
    return control == plain ? nullptr : yellow;
  };
  qk::PumpMessages();
  auto screen = qk::gdi::ScreenSurface();
  auto count = [&](HWND w, COLORREF c) {
    RECT r;
    GetWindowRect(w, &r);
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) n += screen->Get(x, y) == c;
    return n;
  };
  EXPECT_EQ(count(plain, RGB(255, 255, 0)), 0);
  EXPECT_GT(count(plain, RGB(255, 0, 0)), 0);  // its own background, the parent's text colour
  EXPECT_GT(count(fixed, RGB(255, 255, 0)), 0);
  EXPECT_GT(count(fixed, RGB(255, 0, 0)), 0);
  EXPECT_GT(count(label, RGB(255, 255, 0)), 0);
  EXPECT_GT(count(label, RGB(255, 0, 0)), 0);
  EXPECT_NE(std::find(host_.colourAsks.begin(), host_.colourAsks.end(), static_cast<UINT>(WM_CTLCOLOREDIT)),
            host_.colourAsks.end());
  host_.colours = nullptr;
  DeleteObject(yellow);
}

TEST_F(ControlsTest, ParentCorrectsTheTextWhileItIsTyped) {
  // A page that keeps a number within 1..500 as it is typed: it writes the
  // corrected value back from its EN_CHANGE handler and selects it.
  HWND edit = Make(WC_EDIT, u"50", WS_BORDER | ES_NUMBER, S(10), S(10), S(100), S(24), 130);
  int corrections = 0;
  host_.command = [&](int id, UINT code, HWND from) {
    if (id != 130 || code != EN_CHANGE) return;
    WCHAR text[16];
    GetWindowTextW(from, text, 16);
    int value = 0;
    for (const WCHAR* c = text; *c >= u'0' && *c <= u'9'; ++c) value = value * 10 + (*c - u'0');
    int fixed = std::clamp(value, 1, 500);
    if (fixed == value && *text) return;
    ++corrections;
    std::u16string digits;
    for (int v = fixed; v > 0; v /= 10) digits.insert(digits.begin(), static_cast<char16_t>(u'0' + v % 10));
    SetWindowTextW(from, digits.c_str());
    SendMessageW(from, EM_SETSEL, 0, -1);
    SendMessageW(from, EM_SCROLLCARET, 0, 0);
  };
  SetFocus(edit);
  SendMessageW(edit, EM_SETSEL, 0, -1);
  Type(u"600");
  EXPECT_EQ(TextOf(edit), u"500");
  EXPECT_EQ(Sel(edit), std::make_pair(0, 3));
  EXPECT_EQ(corrections, 1);
  Type(u"\b");  // emptied: back to 1
  EXPECT_EQ(TextOf(edit), u"1");
  EXPECT_EQ(Sel(edit), std::make_pair(0, 1));
  host_.command = nullptr;
}

TEST_F(ControlsTest, MultiLineEditWrapsKeepsEnterAndScrolls) {
  HWND edit = Make(WC_EDIT, u"", WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_WANTRETURN, S(10), S(10), S(160),
                   S(50), 110);
  LRESULT code = SendMessageW(edit, WM_GETDLGCODE, 0, 0);
  EXPECT_TRUE(code & DLGC_WANTALLKEYS);  // Enter goes to the edit, not to the default button
  MSG escape{edit, WM_KEYDOWN, VK_ESCAPE, 0, 0, {0, 0}};
  EXPECT_FALSE(SendMessageW(edit, WM_GETDLGCODE, VK_ESCAPE, reinterpret_cast<LPARAM>(&escape)) & DLGC_WANTALLKEYS);

  SetWindowTextW(edit, u"The quick brown fox jumps over the lazy dog and keeps running far away");
  int lines = static_cast<int>(SendMessageW(edit, EM_GETLINECOUNT, 0, 0));
  EXPECT_GT(lines, 2);
  RECT rc;
  GetClientRect(edit, &rc);
  for (int i = 0; i < lines; ++i) {
    int start = static_cast<int>(SendMessageW(edit, EM_LINEINDEX, i, 0));
    int length = static_cast<int>(SendMessageW(edit, EM_LINELENGTH, start, 0));
    ASSERT_GT(length, 0);
    // Lines break at word ends: a line starts with a letter after a blank.
    if (i > 0) {
      WCHAR text[256];
      GetWindowTextW(edit, text, 256);
      EXPECT_EQ(text[start - 1], u' ');
      EXPECT_NE(text[start], u' ');
    }
  }

  SetFocus(edit);
  SendMessageW(edit, EM_SETSEL, 0, 0);
  Key(VK_DOWN);
  EXPECT_EQ(SendMessageW(edit, EM_LINEFROMCHAR, static_cast<WPARAM>(-1), 0), 1);
  Hold(VK_CONTROL, true);
  Key(VK_END);
  Hold(VK_CONTROL, false);
  Type(u"\r");
  Type(u"x");
  WCHAR text[512];
  GetWindowTextW(edit, text, 512);
  std::u16string all = text;
  EXPECT_EQ(all.substr(all.size() - 3), u"\r\nx");
  EXPECT_EQ(SendMessageW(edit, EM_GETLINECOUNT, 0, 0), lines + 1);
  WCHAR line[16] = {};
  *reinterpret_cast<WORD*>(line) = 15;
  EXPECT_EQ(SendMessageW(edit, EM_GETLINE, lines, reinterpret_cast<LPARAM>(line)), 1);
  EXPECT_EQ(line[0], u'x');
  // The last line is in view: the view scrolled down.
  EXPECT_GT(SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
  LRESULT caret = SendMessageW(edit, EM_POSFROMCHAR, all.size(), 0);
  EXPECT_LT(static_cast<short>(HIWORD(caret)), rc.bottom);
  // Backspace takes the whole line break.
  Type(u"\b\b");
  EXPECT_EQ(SendMessageW(edit, EM_GETLINECOUNT, 0, 0), lines);
  // A tap on the scroll bar's upper arrow scrolls one line back.
  int first = static_cast<int>(SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0));
  SendMessageW(edit, EM_LINESCROLL, 0, 5);
  int after = static_cast<int>(SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0));
  EXPECT_GE(after, first);
  Tap(edit, rc.right - qk::ControlScrollBarWidth() / 2 - 1, S(3));
  if (after > 0) {
    EXPECT_EQ(SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0), after - 1);
  }
}

TEST_F(ControlsTest, ButtonsClickCheckAndKeepRadioGroupsApart) {
  HWND push = Make(WC_BUTTON, u"Rename", BS_PUSHBUTTON | WS_TABSTOP, S(10), S(10), S(100), S(28), 200);
  Tap(push, S(10), S(10));
  EXPECT_EQ(host_.Count(WM_COMMAND, BN_CLICKED), 1);
  EXPECT_EQ(GetFocus(), push);
  // Pressed, then moved off before the release: no click.
  Down(push, S(10), S(10));
  EXPECT_TRUE(SendMessageW(push, BM_GETSTATE, 0, 0) & BST_PUSHED);
  Move(push, S(300), S(10));
  EXPECT_FALSE(SendMessageW(push, BM_GETSTATE, 0, 0) & BST_PUSHED);
  Up(push, S(300), S(10));
  EXPECT_EQ(host_.Count(WM_COMMAND, BN_CLICKED), 1);
  // The space bar clicks the focused button.
  Key(VK_SPACE);
  EXPECT_EQ(host_.Count(WM_COMMAND, BN_CLICKED), 2);
  EXPECT_EQ(SendMessageW(push, WM_GETDLGCODE, 0, 0), DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON);
  SendMessageW(push, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
  EXPECT_EQ(SendMessageW(push, WM_GETDLGCODE, 0, 0), DLGC_BUTTON | DLGC_DEFPUSHBUTTON);

  HWND check = Make(WC_BUTTON, u"Images", BS_AUTOCHECKBOX, S(10), S(50), S(150), S(24), 201);
  Tap(check, S(5), S(12));
  EXPECT_EQ(SendMessageW(check, BM_GETCHECK, 0, 0), BST_CHECKED);
  Tap(check, S(5), S(12));
  EXPECT_EQ(SendMessageW(check, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  HWND tri = Make(WC_BUTTON, u"Three", BS_AUTO3STATE, S(10), S(80), S(150), S(24), 202);
  for (UINT want : {BST_CHECKED, BST_INDETERMINATE, BST_UNCHECKED}) {
    Tap(tri, S(5), S(12));
    EXPECT_EQ(SendMessageW(tri, BM_GETCHECK, 0, 0), want);
  }
  // A plain check box only reports the click.
  HWND manual = Make(WC_BUTTON, u"Manual", BS_CHECKBOX, S(10), S(110), S(150), S(24), 203);
  Tap(manual, S(5), S(12));
  EXPECT_EQ(SendMessageW(manual, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_TRUE(host_.Last(WM_COMMAND, BN_CLICKED) && host_.Last(WM_COMMAND, BN_CLICKED)->id == 203);

  // Two groups of automatic radio buttons, and a check box between them.
  HWND a1 = Make(WC_BUTTON, u"Minutes", BS_AUTORADIOBUTTON | WS_GROUP, S(10), S(140), S(100), S(24), 210);
  HWND a2 = Make(WC_BUTTON, u"Hours", BS_AUTORADIOBUTTON, S(120), S(140), S(100), S(24), 211);
  HWND b1 = Make(WC_BUTTON, u"Card", BS_AUTORADIOBUTTON | WS_GROUP, S(10), S(170), S(100), S(24), 212);
  HWND b2 = Make(WC_BUTTON, u"Device", BS_AUTORADIOBUTTON, S(120), S(170), S(100), S(24), 213);
  Make(WC_BUTTON, u"Other", BS_AUTOCHECKBOX | WS_GROUP, S(10), S(200), S(100), S(24), 214);
  Tap(a1, S(5), S(12));
  Tap(b2, S(5), S(12));
  EXPECT_EQ(SendMessageW(a1, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageW(b2, BM_GETCHECK, 0, 0), BST_CHECKED);
  Tap(a2, S(5), S(12));
  EXPECT_EQ(SendMessageW(a1, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(SendMessageW(a2, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageW(b2, BM_GETCHECK, 0, 0), BST_CHECKED);  // the other group is left alone
  Tap(b1, S(5), S(12));
  EXPECT_EQ(SendMessageW(b2, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(SendMessageW(a2, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageW(a2, WM_GETDLGCODE, 0, 0), DLGC_BUTTON | DLGC_RADIOBUTTON);

  // A disabled button takes no tap.
  EnableWindow(check, FALSE);
  int clicks = host_.Count(WM_COMMAND, BN_CLICKED);
  Tap(check, S(5), S(12));
  SendMessageW(check, BM_CLICK, 0, 0);
  EXPECT_EQ(host_.Count(WM_COMMAND, BN_CLICKED), clicks);
  EXPECT_EQ(SendMessageW(check, BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

INT_PTR QuietDialog(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG ? TRUE : FALSE; }

TEST_F(ControlsTest, DialogTemplatesMakeEveryClassByName) {
  auto bytes = qk::DialogTemplateBuilder(WS_POPUP | WS_VISIBLE, 0, 0, 0, 160, 150, u"Options")
                   .Font(9, u"Tahoma")
                   .Control(u"EDIT", u"50", 1040, WS_BORDER | WS_TABSTOP | ES_NUMBER, 4, 4, 60, 12)
                   .Control(UPDOWN_CLASS, u"", 1041, UDS_ARROWKEYS | UDS_ALIGNLEFT, 66, 4, 10, 12)
                   .Control(DATETIMEPICK_CLASS, u"", 1057, DTS_TIMEFORMAT | DTS_UPDOWN, 4, 20, 80, 12)
                   .Control(WC_LISTVIEW, u"", 1010, LVS_REPORT | LVS_NOCOLUMNHEADER, 4, 36, 150, 50)
                   .Control(WC_TABCONTROL, u"", 1050, 0, 4, 90, 150, 30)
                   .Control(PROGRESS_CLASS, u"", 1051, 0, 4, 124, 150, 8)
                   .Control(u"COMBOBOX", u"", 1012, CBS_DROPDOWNLIST | WS_VSCROLL, 90, 20, 60, 60)
                   .Control(u"BUTTON", u"OK", IDOK, BS_DEFPUSHBUTTON, 110, 134, 40, 14)
                   .Control(WC_TREEVIEW, u"", 1002, 0, 0, 0, 10, 10)  // kept hidden by its screen
                   .Build();
  HWND dlg = CreateDialogIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()), window_, QuietDialog, 0);
  ASSERT_NE(dlg, nullptr);
  for (int id : {1040, 1041, 1057, 1010, 1050, 1051, 1012, IDOK, 1002}) EXPECT_NE(GetDlgItem(dlg, id), nullptr) << id;
  EXPECT_TRUE(SendDlgItemMessageW(dlg, 1040, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL);
  SYSTEMTIME st{};
  EXPECT_EQ(SendDlgItemMessageW(dlg, 1057, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&st)), GDT_VALID);
  // A combo box from a template keeps only its field's height.
  RECT combo;
  GetWindowRect(GetDlgItem(dlg, 1012), &combo);
  RECT edit;
  GetWindowRect(GetDlgItem(dlg, 1040), &edit);
  EXPECT_LT(combo.bottom - combo.top, 3 * (edit.bottom - edit.top));
  DestroyWindow(dlg);
}

TEST_F(ControlsTest, StaticReportsTapsOnlyWhenAsked) {
  HWND quiet = Make(WC_STATIC, u"Title:", SS_LEFT, S(10), S(10), S(100), S(20), 300);
  HWND notify = Make(WC_STATIC, u"Link", SS_NOTIFY, S(10), S(40), S(100), S(20), 301);
  Tap(quiet, S(5), S(5));
  Tap(notify, S(5), S(5));
  auto clicks = host_.All(WM_COMMAND, STN_CLICKED);
  ASSERT_EQ(clicks.size(), 1u);
  EXPECT_EQ(clicks[0].id, 301);
  EXPECT_EQ(SendMessageW(quiet, WM_GETDLGCODE, 0, 0), DLGC_STATIC);
}

TEST_F(ControlsTest, ComboDropListOpensChoosesAndCancels) {
  HWND combo = Make(WC_COMBOBOX, u"", CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL, S(10), S(10), S(160), S(120), 400);
  for (auto s : {u"Minutes", u"Days", u"Hours"}) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
  SendMessageW(combo, CB_SETCURSEL, 0, 0);
  EXPECT_EQ(TextOf(combo), u"Days");  // sorted
  EXPECT_EQ(host_.Count(WM_COMMAND, CBN_SELCHANGE), 0);  // set by the program: no notification

  Tap(combo, S(20), S(10));
  ASSERT_TRUE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
  EXPECT_EQ(host_.Count(WM_COMMAND, CBN_DROPDOWN), 1);
  RECT drop;
  SendMessageW(combo, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&drop));
  RECT field;
  GetWindowRect(combo, &field);
  EXPECT_GE(drop.top, field.top);  // the list opens below the field
  int row = static_cast<int>(SendMessageW(combo, CB_GETITEMHEIGHT, 0, 0));
  // Tap the third entry (screen co-ordinates: the list is a pop-up).
  int y = drop.top + std::max(1, S(1)) + 2 * row + row / 2;
  qk::InjectPointer(WM_LBUTTONDOWN, drop.left + S(20), y);
  qk::PumpMessages();
  qk::InjectPointer(WM_LBUTTONUP, drop.left + S(20), y);
  qk::PumpMessages();
  EXPECT_FALSE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(TextOf(combo), u"Minutes");
  EXPECT_EQ(host_.Count(WM_COMMAND, CBN_SELCHANGE), 1);
  EXPECT_EQ(host_.Count(WM_COMMAND, CBN_SELENDOK), 1);
  EXPECT_EQ(host_.Count(WM_COMMAND, CBN_CLOSEUP), 1);

  // Opened again and a tap outside: nothing changes.
  Tap(combo, S(20), S(10));
  ASSERT_TRUE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
  qk::InjectPointer(WM_LBUTTONDOWN, S(400), S(700));
  qk::PumpMessages();
  qk::InjectPointer(WM_LBUTTONUP, S(400), S(700));
  qk::PumpMessages();
  EXPECT_FALSE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(host_.Count(WM_COMMAND, CBN_SELENDCANCEL), 1);
  EXPECT_EQ(host_.Count(WM_COMMAND, CBN_SELCHANGE), 1);

  // Keys: Up chooses the entry above at once; F4 opens, Escape closes.
  SetFocus(combo);
  Key(VK_UP);
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(host_.Count(WM_COMMAND, CBN_SELCHANGE), 2);
  Key(VK_F4);
  EXPECT_TRUE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
  EXPECT_TRUE(SendMessageW(combo, WM_GETDLGCODE, 0, 0) & DLGC_WANTALLKEYS);
  Key(VK_DOWN);  // moves the open list's mark only
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 1);
  Key(VK_ESCAPE);
  EXPECT_FALSE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 1);
  Key(VK_F4);
  Key(VK_DOWN);
  Key(VK_RETURN);  // takes the marked entry
  EXPECT_FALSE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(host_.Count(WM_COMMAND, CBN_SELCHANGE), 3);
  Key(VK_UP);
  Type(u"d");
  EXPECT_EQ(TextOf(combo), u"Days");
  // Removing the chosen entry leaves none chosen.
  SendMessageW(combo, CB_DELETESTRING, 0, 0);
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(TextOf(combo), u"");
}

TEST_F(ControlsTest, ListBoxChoosesByTapAndKeysAndScrolls) {
  HWND list = Make(WC_LISTBOX, u"", LBS_NOTIFY | WS_BORDER | WS_VSCROLL, S(10), S(10), S(150), S(100), 500);
  for (int i = 0; i < 20; ++i) {
    std::u16string s = u"Entry " + std::u16string(1, static_cast<char16_t>(u'A' + i));
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str()));
  }
  int row = static_cast<int>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
  Tap(list, S(20), S(1) + row * 2 + row / 2);
  EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(host_.Count(WM_COMMAND, LBN_SELCHANGE), 1);
  Key(VK_DOWN);
  EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 3);
  Key(VK_END);
  EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 19);
  int top = static_cast<int>(SendMessageW(list, LB_GETTOPINDEX, 0, 0));
  EXPECT_GT(top, 0);
  RECT r;
  SendMessageW(list, LB_GETITEMRECT, 19, reinterpret_cast<LPARAM>(&r));
  RECT client;
  GetClientRect(list, &client);
  EXPECT_LE(r.bottom, client.bottom);  // the chosen entry is in view
  EXPECT_EQ(host_.Count(WM_COMMAND, LBN_SELCHANGE), 3);
  // The scroll bar's upper arrow moves the view one entry back.
  Tap(list, client.right - qk::ControlScrollBarWidth() / 2 - 1, S(3));
  EXPECT_EQ(SendMessageW(list, LB_GETTOPINDEX, 0, 0), top - 1);
  Type(u"e");  // the next entry starting with "e" wraps to the first
  EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 0);

  // Without LBS_NOTIFY a list box chooses just the same, and tells nobody.
  HWND quiet = Make(WC_LISTBOX, u"", WS_BORDER, S(200), S(10), S(150), S(100), 501);
  for (auto s : {u"One", u"Two", u"Three"}) SendMessageW(quiet, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
  host_.notes.clear();
  Tap(quiet, S(20), S(1) + row + row / 2);
  EXPECT_EQ(SendMessageW(quiet, LB_GETCURSEL, 0, 0), 1);
  Key(VK_DOWN);
  EXPECT_EQ(SendMessageW(quiet, LB_GETCURSEL, 0, 0), 2);
  Pointer(WM_LBUTTONDBLCLK, quiet, S(20), S(1) + row / 2);
  Up(quiet, S(20), S(1) + row / 2);
  EXPECT_EQ(SendMessageW(quiet, LB_GETCURSEL, 0, 0), 0);
  for (const Note& n : host_.notes)
    EXPECT_FALSE(n.message == WM_COMMAND && n.id == 501) << n.code;
  EXPECT_EQ(host_.Count(WM_COMMAND, LBN_KILLFOCUS), 1);  // from the first list, which asked to be told
}

// Item data of the rows, compared backwards.
int CALLBACK Backwards(LPARAM a, LPARAM b, LPARAM) { return static_cast<int>(b - a); }

TEST_F(ControlsTest, ListViewSelectsSortsAndEditsLabels) {
  HWND lv = Make(WC_LISTVIEW, u"", LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_EDITLABELS |
                                       LVS_SORTASCENDING | WS_BORDER,
                 S(10), S(10), S(220), S(200), 600);
  LVCOLUMNW col{LVCF_TEXT | LVCF_WIDTH | LVCF_FMT, LVCFMT_LEFT, S(140), const_cast<LPWSTR>(u"Name"), 0, 0};
  EXPECT_EQ(SendMessageW(lv, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&col)), 0);
  col.pszText = const_cast<LPWSTR>(u"Count");
  col.cx = S(60);
  EXPECT_EQ(SendMessageW(lv, LVM_INSERTCOLUMNW, 1, reinterpret_cast<LPARAM>(&col)), 1);
  const char16_t* names[] = {u"Sports", u"news", u"Blogs", u"Tech"};
  for (int i = 0; i < 4; ++i) {
    LVITEMW it{};
    it.mask = LVIF_TEXT | LVIF_PARAM;
    it.iItem = 0;
    it.pszText = const_cast<LPWSTR>(names[i]);
    it.lParam = 10 + i;
    SendMessageW(lv, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it));
  }
  EXPECT_EQ(host_.Count(WM_NOTIFY, LVN_INSERTITEM), 4);
  WCHAR buffer[64];
  LVITEMW get{};
  get.pszText = buffer;
  get.cchTextMax = 64;
  SendMessageW(lv, LVM_GETITEMTEXTW, 0, reinterpret_cast<LPARAM>(&get));
  EXPECT_EQ(std::u16string(buffer), u"Blogs");  // sorted without regard to case
  SendMessageW(lv, LVM_GETITEMTEXTW, 2, reinterpret_cast<LPARAM>(&get));
  EXPECT_EQ(std::u16string(buffer), u"Sports");
  HWND header = reinterpret_cast<HWND>(SendMessageW(lv, LVM_GETHEADER, 0, 0));
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 2);
  LVITEMW sub{};
  sub.iSubItem = 1;
  sub.pszText = const_cast<LPWSTR>(u"42");
  SendMessageW(lv, LVM_SETITEMTEXTW, 1, reinterpret_cast<LPARAM>(&sub));
  sub.pszText = buffer;
  sub.cchTextMax = 64;
  SendMessageW(lv, LVM_GETITEMTEXTW, 1, reinterpret_cast<LPARAM>(&sub));
  EXPECT_EQ(std::u16string(buffer), u"42");

  // A tap on the second row selects and focuses it.
  RECT row1{};
  row1.left = LVIR_BOUNDS;
  SendMessageW(lv, LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&row1));
  Tap(lv, row1.left + S(30), (row1.top + row1.bottom) / 2);
  EXPECT_EQ(GetFocus(), lv);
  const Note* changed = host_.Last(WM_NOTIFY, LVN_ITEMCHANGED);
  ASSERT_NE(changed, nullptr);
  EXPECT_EQ(changed->list.iItem, 1);
  EXPECT_EQ(changed->list.uNewState & (LVIS_SELECTED | LVIS_FOCUSED), static_cast<UINT>(LVIS_SELECTED | LVIS_FOCUSED));
  EXPECT_EQ(changed->list.lParam, 11);  // "news"
  const Note* click = host_.Last(WM_NOTIFY, NM_CLICK);
  ASSERT_NE(click, nullptr);
  EXPECT_EQ(click->activate.iItem, 1);
  EXPECT_EQ(SendMessageW(lv, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 1);

  // Down moves the selection; the old row reports losing it.
  host_.notes.clear();
  Key(VK_DOWN);
  EXPECT_EQ(SendMessageW(lv, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 2);
  auto changes = host_.All(WM_NOTIFY, LVN_ITEMCHANGED);
  ASSERT_GE(changes.size(), 2u);
  EXPECT_EQ(changes.front().list.iItem, 1);
  EXPECT_EQ(changes.front().list.uNewState & LVIS_SELECTED, 0u);
  EXPECT_EQ(SendMessageW(lv, LVM_GETSELECTEDCOUNT, 0, 0), 1);
  EXPECT_EQ(host_.Count(WM_NOTIFY, LVN_KEYDOWN), 1);

  // A parent that refuses the change keeps the selection where it is.
  host_.answer = [](const NMHDR* h) -> LRESULT { return h->code == LVN_ITEMCHANGING ? 1 : 0; };
  Key(VK_UP);
  EXPECT_EQ(SendMessageW(lv, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 2);
  host_.answer = nullptr;

  // Sorting by the caller's comparison keeps each row's state with it.
  SendMessageW(lv, LVM_SORTITEMS, 0, reinterpret_cast<LPARAM>(Backwards));
  SendMessageW(lv, LVM_GETITEMTEXTW, 0, reinterpret_cast<LPARAM>(&get));
  EXPECT_EQ(std::u16string(buffer), u"Tech");  // lParam 13 first
  int selected = static_cast<int>(SendMessageW(lv, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  SendMessageW(lv, LVM_GETITEMTEXTW, selected, reinterpret_cast<LPARAM>(&get));
  EXPECT_EQ(std::u16string(buffer), u"Sports");
  LVFINDINFOW find{LVFI_PARAM, nullptr, 11, {0, 0}, 0};
  EXPECT_EQ(SendMessageW(lv, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)), 2);

  // A second tap on the chosen row's label edits it in place.
  host_.notes.clear();
  RECT label{};
  label.left = LVIR_LABEL;
  SendMessageW(lv, LVM_GETITEMRECT, selected, reinterpret_cast<LPARAM>(&label));
  host_.answer = [](const NMHDR* h) -> LRESULT { return h->code == LVN_ENDLABELEDITW ? TRUE : 0; };
  Tap(lv, label.left + S(20), (label.top + label.bottom) / 2);
  ASSERT_EQ(host_.Count(WM_NOTIFY, LVN_BEGINLABELEDITW), 1);
  EXPECT_EQ(host_.Last(WM_NOTIFY, LVN_BEGINLABELEDITW)->text, u"Sports");
  HWND edit = reinterpret_cast<HWND>(SendMessageW(lv, LVM_GETEDITCONTROL, 0, 0));
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(GetFocus(), edit);
  EXPECT_EQ(Sel(edit), std::make_pair(0, 6));
  Type(u"Games");
  Key(VK_RETURN);
  const Note* end = host_.Last(WM_NOTIFY, LVN_ENDLABELEDITW);
  ASSERT_NE(end, nullptr);
  EXPECT_FALSE(end->textNull);
  EXPECT_EQ(end->text, u"Games");
  EXPECT_FALSE(IsWindow(edit));
  EXPECT_EQ(GetFocus(), lv);
  SendMessageW(lv, LVM_GETITEMTEXTW, selected, reinterpret_cast<LPARAM>(&get));
  EXPECT_EQ(std::u16string(buffer), u"Games");

  // Escape ends an edit without a text; a parent answering 0 keeps the old one.
  host_.answer = nullptr;
  edit = reinterpret_cast<HWND>(SendMessageW(lv, LVM_EDITLABELW, 0, 0));
  ASSERT_NE(edit, nullptr);
  Type(u"Lost");
  Key(VK_ESCAPE);
  EXPECT_TRUE(host_.Last(WM_NOTIFY, LVN_ENDLABELEDITW)->textNull);
  SendMessageW(lv, LVM_GETITEMTEXTW, 0, reinterpret_cast<LPARAM>(&get));
  EXPECT_EQ(std::u16string(buffer), u"Tech");
  edit = reinterpret_cast<HWND>(SendMessageW(lv, LVM_EDITLABELW, 0, 0));
  Type(u"Kept?");
  SetFocus(window_);  // the focus leaves: the edit ends as accepted
  EXPECT_EQ(host_.Last(WM_NOTIFY, LVN_ENDLABELEDITW)->text, u"Kept?");
  SendMessageW(lv, LVM_GETITEMTEXTW, 0, reinterpret_cast<LPARAM>(&get));
  EXPECT_EQ(std::u16string(buffer), u"Tech");
  // A parent refusing the start gets no edit control.
  host_.answer = [](const NMHDR* h) -> LRESULT { return h->code == LVN_BEGINLABELEDITW ? 1 : 0; };
  EXPECT_EQ(SendMessageW(lv, LVM_EDITLABELW, 0, 0), 0);
  host_.answer = nullptr;

  SendMessageW(lv, LVM_DELETEITEM, 0, 0);
  EXPECT_EQ(SendMessageW(lv, LVM_GETITEMCOUNT, 0, 0), 3);
  EXPECT_EQ(host_.Count(WM_NOTIFY, LVN_DELETEITEM), 1);
  SendMessageW(lv, LVM_DELETEALLITEMS, 0, 0);
  EXPECT_EQ(SendMessageW(lv, LVM_GETITEMCOUNT, 0, 0), 0);
}

TEST_F(ControlsTest, ListViewEmptiedTellsOfEachRowUnlessTheParentDeclines) {
  HWND lv = Make(WC_LISTVIEW, u"", LVS_REPORT | LVS_NOCOLUMNHEADER, S(10), S(10), S(200), S(150), 630);
  LVCOLUMNW col{LVCF_WIDTH, 0, S(180), nullptr, 0, 0};
  SendMessageW(lv, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&col));
  auto fill = [lv](LPARAM base) {
    for (int i = 0; i < 3; ++i) {
      LVITEMW it{};
      it.mask = LVIF_TEXT | LVIF_PARAM;
      it.iItem = i;
      it.pszText = const_cast<LPWSTR>(u"Row");
      it.lParam = base + i;
      SendMessageW(lv, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it));
    }
  };
  fill(0x100);
  host_.notes.clear();
  EXPECT_TRUE(SendMessageW(lv, LVM_DELETEALLITEMS, 0, 0));
  EXPECT_EQ(SendMessageW(lv, LVM_GETITEMCOUNT, 0, 0), 0);
  ASSERT_EQ(host_.Count(WM_NOTIFY, LVN_DELETEALLITEMS), 1);
  EXPECT_EQ(host_.Last(WM_NOTIFY, LVN_DELETEALLITEMS)->list.iItem, -1);
  // Every row's data comes back to the parent, which may own what it points to.
  std::vector<LPARAM> params;
  for (const Note& n : host_.All(WM_NOTIFY, LVN_DELETEITEM)) params.push_back(n.list.lParam);
  std::sort(params.begin(), params.end());
  EXPECT_EQ(params, (std::vector<LPARAM>{0x100, 0x101, 0x102}));
  // The first notification comes first.
  EXPECT_EQ(host_.notes.front().code, static_cast<UINT>(LVN_DELETEALLITEMS));

  // A parent that answers TRUE hears of no single row.
  fill(0x200);
  host_.notes.clear();
  host_.answer = [](const NMHDR* h) -> LRESULT { return h->code == LVN_DELETEALLITEMS ? TRUE : 0; };
  SendMessageW(lv, LVM_DELETEALLITEMS, 0, 0);
  host_.answer = nullptr;
  EXPECT_EQ(SendMessageW(lv, LVM_GETITEMCOUNT, 0, 0), 0);
  EXPECT_EQ(host_.Count(WM_NOTIFY, LVN_DELETEALLITEMS), 1);
  EXPECT_EQ(host_.Count(WM_NOTIFY, LVN_DELETEITEM), 0);
}

TEST_F(ControlsTest, ListViewFilledAgainWhileItTellsOfAChoice) {
  // A file chooser enters the chosen folder at once: the parent empties
  // and fills the list inside LVN_ITEMCHANGED.
  HWND lv = Make(WC_LISTVIEW, u"", LVS_REPORT | LVS_SINGLESEL | LVS_NOCOLUMNHEADER, S(10), S(10), S(200), S(150), 620);
  LVCOLUMNW col{LVCF_WIDTH, 0, S(180), nullptr, 0, 0};
  SendMessageW(lv, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&col));
  auto fill = [lv](int rows, const char16_t* text) {
    SendMessageW(lv, LVM_DELETEALLITEMS, 0, 0);
    for (int i = 0; i < rows; ++i) {
      LVITEMW it{};
      it.mask = LVIF_TEXT | LVIF_PARAM;
      it.iItem = i;
      it.pszText = const_cast<LPWSTR>(text);
      it.lParam = 0x10000 | i;
      SendMessageW(lv, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it));
    }
  };
  fill(6, u"Folder");
  int entered = 0;
  host_.answer = [&](const NMHDR* h) -> LRESULT {
    if (h->code == LVN_ITEMCHANGED) {
      auto* nm = reinterpret_cast<const NMLISTVIEW*>(h);
      if ((nm->uNewState & LVIS_SELECTED) && !(nm->uOldState & LVIS_SELECTED) && (nm->lParam & 0x10000)) {
        ++entered;
        fill(2, u"File");
      }
    }
    return 0;
  };
  RECT row{};
  row.left = LVIR_BOUNDS;
  SendMessageW(lv, LVM_GETITEMRECT, 4, reinterpret_cast<LPARAM>(&row));
  Tap(lv, S(40), (row.top + row.bottom) / 2);
  EXPECT_EQ(entered, 1);
  EXPECT_EQ(SendMessageW(lv, LVM_GETITEMCOUNT, 0, 0), 2);
  EXPECT_EQ(SendMessageW(lv, LVM_GETSELECTEDCOUNT, 0, 0), 0);
  const Note* click = host_.Last(WM_NOTIFY, NM_CLICK);
  ASSERT_NE(click, nullptr);
  host_.answer = nullptr;
}

TEST_F(ControlsTest, OwnerDrawnListViewMeasuresDrawsAndScrollsByFinger) {
  host_.measuredHeight = static_cast<UINT>(S(30));
  HWND lv = Make(WC_LISTVIEW, u"", LVS_REPORT | LVS_SINGLESEL | LVS_OWNERDRAWFIXED | LVS_NOCOLUMNHEADER, S(10),
                 S(10), S(200), S(150), 610);
  LVCOLUMNW col{LVCF_TEXT | LVCF_WIDTH, 0, S(180), const_cast<LPWSTR>(u"Column"), 0, 0};
  SendMessageW(lv, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&col));
  SendMessageW(lv, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  for (int i = 0; i < 12; ++i) {
    LVITEMW it{};
    it.mask = LVIF_TEXT | LVIF_PARAM;
    it.iItem = i;
    it.pszText = const_cast<LPWSTR>(u"Row");
    it.lParam = 100 + i;
    SendMessageW(lv, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it));
  }
  LVITEMW state{};
  state.state = state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(lv, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&state));
  SetFocus(lv);  // the selection shows while the list has the focus
  qk::PumpMessages();
  host_.notes.clear();
  InvalidateRect(lv, nullptr, TRUE);
  UpdateWindow(lv);
  EXPECT_GE(host_.measureCount, 1);
  RECT r{};
  r.left = LVIR_BOUNDS;
  SendMessageW(lv, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&r));
  EXPECT_EQ(r.bottom - r.top, S(30));
  auto draws = host_.All(WM_DRAWITEM, 0);
  auto all = host_.notes;
  int drawn = 0;
  bool selectedDrawn = false;
  for (const Note& n : all)
    if (n.message == WM_DRAWITEM) {
      ++drawn;
      EXPECT_EQ(n.draw.CtlType, static_cast<UINT>(ODT_LISTVIEW));
      EXPECT_EQ(n.draw.itemData, static_cast<ULONG_PTR>(100 + n.draw.itemID));
      if (n.draw.itemID == 1) selectedDrawn = (n.draw.itemState & ODS_SELECTED) != 0;
    }
  EXPECT_EQ(drawn, (S(150) + S(30) - 1) / S(30));  // the rows in view, the last one cut
  EXPECT_TRUE(selectedDrawn);
  // A finger drag upwards scrolls the rows and taps nothing.
  host_.notes.clear();
  Down(lv, S(50), S(120));
  Move(lv, S(50), S(60));
  Move(lv, S(50), S(20));
  Up(lv, S(50), S(20));
  EXPECT_GT(SendMessageW(lv, LVM_GETTOPINDEX, 0, 0), 0);
  EXPECT_EQ(host_.Count(WM_NOTIFY, NM_CLICK), 0);
  // A font change makes the list measure its rows again.
  int measured = host_.measureCount;
  SendMessageW(lv, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
  qk::PumpMessages();
  EXPECT_GT(host_.measureCount, measured);
}

TEST_F(ControlsTest, ImageListsKeepMaskedPixelsTransparent) {
  HIMAGELIST list = ImageList_Create(4, 4, ILC_COLOR32 | ILC_MASK, 2, 2);
  ASSERT_NE(list, nullptr);
  // A strip of two 4 x 4 images: red with a white corner, blue.
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP strip = CreateCompatibleBitmap(screen, 8, 4);
  HGDIOBJ old = SelectObject(mem, strip);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) SetPixel(mem, x, y, x < 4 ? RGB(255, 0, 0) : RGB(0, 0, 255));
  SetPixel(mem, 0, 0, RGB(255, 255, 255));
  SelectObject(mem, old);
  EXPECT_EQ(ImageList_AddMasked(list, strip, RGB(255, 255, 255)), 0);
  EXPECT_EQ(ImageList_GetImageCount(list), 2);
  HBITMAP target = CreateCompatibleBitmap(screen, 8, 8);
  old = SelectObject(mem, target);
  RECT all{0, 0, 8, 8};
  HBRUSH green = CreateSolidBrush(RGB(0, 128, 0));
  FillRect(mem, &all, green);
  EXPECT_TRUE(ImageList_Draw(list, 0, mem, 0, 0, ILD_TRANSPARENT));
  EXPECT_TRUE(ImageList_Draw(list, 1, mem, 4, 4, ILD_NORMAL));
  EXPECT_EQ(GetPixel(mem, 0, 0), RGB(0, 128, 0));  // the masked corner shows what was below
  EXPECT_EQ(GetPixel(mem, 1, 1), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(mem, 5, 5), RGB(0, 0, 255));
  // Selected images are blended with the highlight colour.
  EXPECT_TRUE(ImageList_Draw(list, 1, mem, 4, 0, ILD_TRANSPARENT | ILD_SELECTED));
  EXPECT_NE(GetPixel(mem, 5, 1), RGB(0, 0, 255));
  EXPECT_FALSE(ImageList_Draw(list, 5, mem, 0, 0, ILD_NORMAL));
  EXPECT_TRUE(ImageList_Remove(list, -1));
  EXPECT_EQ(ImageList_GetImageCount(list), 0);
  SelectObject(mem, old);
  DeleteObject(green);
  DeleteObject(target);
  DeleteObject(strip);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  EXPECT_TRUE(ImageList_Destroy(list));
  EXPECT_FALSE(ImageList_Destroy(list));
}

// A 32-bit picture with its own transparency (premultiplied, as an icon's
// pixels are) keeps it in a 32-bit list with or without a mask: clear
// pixels show what lies below, opaque ones their colour, soft edges blend;
// drawn over the list's background colour it fills the clear pixels. A
// 32-bit bitmap without alpha stays opaque, and a list of fewer colours
// ignores the alpha.
TEST_F(ControlsTest, ImageListsDrawAPicturesOwnTransparency) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = 4;
  bi.bmiHeader.biHeight = -4;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP icon = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(icon, nullptr);
  auto* px = static_cast<uint32_t*>(bits);
  // Clear all round; an opaque red middle; one half-covered blue pixel.
  for (int i = 0; i < 16; ++i) px[i] = 0;
  px[5] = px[6] = px[9] = 0xFFFF0000u;
  px[10] = 0x80000080u;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP target = CreateCompatibleBitmap(screen, 4, 4);
  HGDIOBJ old = SelectObject(mem, target);
  auto paint = [&](COLORREF colour) {
    RECT all{0, 0, 4, 4};
    HBRUSH b = CreateSolidBrush(colour);
    FillRect(mem, &all, b);
    DeleteObject(b);
  };
  for (UINT flags : {UINT(ILC_COLOR32 | ILC_MASK), UINT(ILC_COLOR32)}) {
    HIMAGELIST list = ImageList_Create(4, 4, flags, 1, 1);
    ASSERT_EQ(ImageList_Add(list, icon, nullptr), 0);
    paint(RGB(255, 255, 255));
    EXPECT_TRUE(ImageList_Draw(list, 0, mem, 0, 0, ILD_TRANSPARENT));
    for (int i : {0, 3, 12, 15, 1, 4, 7, 14}) EXPECT_EQ(GetPixel(mem, i % 4, i / 4), RGB(255, 255, 255)) << i;
    EXPECT_EQ(GetPixel(mem, 1, 1), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(mem, 1, 2), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(mem, 2, 2), RGB(127, 127, 255)) << "half blue over white";
    // Over the list's own background colour, drawn normally.
    ImageList_SetBkColor(list, RGB(0, 0, 0));
    paint(RGB(0, 200, 0));
    EXPECT_TRUE(ImageList_Draw(list, 0, mem, 0, 0, ILD_NORMAL));
    EXPECT_EQ(GetPixel(mem, 0, 0), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(mem, 2, 2), RGB(0, 0, 128));
    EXPECT_EQ(GetPixel(mem, 2, 1), RGB(255, 0, 0));
    ImageList_Destroy(list);
  }
  // With a mask too: the mask clears what it covers, the rest keeps alpha.
  const uint8_t maskBits[8] = {0x00, 0, 0x40, 0, 0x00, 0, 0x00, 0};  // (1, 1) masked
  HBITMAP mask = CreateBitmap(4, 4, 1, 1, maskBits);
  HIMAGELIST masked = ImageList_Create(4, 4, ILC_COLOR32 | ILC_MASK, 1, 1);
  ASSERT_EQ(ImageList_Add(masked, icon, mask), 0);
  paint(RGB(255, 255, 255));
  EXPECT_TRUE(ImageList_Draw(masked, 0, mem, 0, 0, ILD_TRANSPARENT));
  EXPECT_EQ(GetPixel(mem, 1, 1), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(mem, 0, 0), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(mem, 2, 1), RGB(255, 0, 0));
  ImageList_Destroy(masked);
  DeleteObject(mask);
  // A list of 16-bit colours takes the picture as it stands.
  HIMAGELIST plain = ImageList_Create(4, 4, ILC_COLOR16, 1, 1);
  ASSERT_EQ(ImageList_Add(plain, icon, nullptr), 0);
  paint(RGB(255, 255, 255));
  EXPECT_TRUE(ImageList_Draw(plain, 0, mem, 0, 0, ILD_TRANSPARENT));
  EXPECT_EQ(GetPixel(mem, 0, 0), RGB(0, 0, 0));
  ImageList_Destroy(plain);
  // A 32-bit bitmap drawn by GDI (no alpha) is opaque in a 32-bit list.
  SelectObject(mem, icon);
  paint(RGB(0, 0, 255));
  SelectObject(mem, target);
  HIMAGELIST opaque = ImageList_Create(4, 4, ILC_COLOR32 | ILC_MASK, 1, 1);
  ASSERT_EQ(ImageList_Add(opaque, icon, nullptr), 0);
  paint(RGB(255, 255, 255));
  EXPECT_TRUE(ImageList_Draw(opaque, 0, mem, 0, 0, ILD_TRANSPARENT));
  EXPECT_EQ(GetPixel(mem, 0, 0), RGB(0, 0, 255));
  EXPECT_EQ(GetPixel(mem, 3, 3), RGB(0, 0, 255));
  ImageList_Destroy(opaque);
  SelectObject(mem, old);
  DeleteObject(target);
  DeleteObject(icon);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
}

TEST_F(ControlsTest, UpDownAsksBeforeEachStepOverAReversedRange) {
  HWND buddy = Make(WC_EDIT, u"", WS_BORDER, S(10), S(10), S(80), S(24), 700);
  HWND ud = Make(UPDOWN_CLASS, u"", UDS_ARROWKEYS | UDS_SETBUDDYINT, S(100), S(10), S(20), S(24), 701);
  SendMessageW(ud, UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy), 0);
  // Range 499 down to 0: position 450 stands for the value 50.
  SendMessageW(ud, UDM_SETRANGE, 0, MAKELPARAM(0, 499));
  SendMessageW(ud, UDM_SETPOS, 0, MAKELPARAM(450, 0));
  EXPECT_EQ(LOWORD(SendMessageW(ud, UDM_GETPOS, 0, 0)), 450);
  EXPECT_EQ(TextOf(buddy), u"450");
  Tap(ud, S(10), S(4));  // the upper arrow
  const Note* delta = host_.Last(WM_NOTIFY, UDN_DELTAPOS);
  ASSERT_NE(delta, nullptr);
  EXPECT_EQ(delta->updown.iPos, 450);
  EXPECT_EQ(delta->updown.iDelta, -1);
  EXPECT_EQ(LOWORD(SendMessageW(ud, UDM_GETPOS, 0, 0)), 449);
  EXPECT_EQ(TextOf(buddy), u"449");
  const Note* scroll = host_.Last(WM_VSCROLL, SB_THUMBPOSITION);
  ASSERT_NE(scroll, nullptr);
  EXPECT_EQ(HIWORD(scroll->wParam), 449);
  Tap(ud, S(10), S(20));  // the lower arrow
  EXPECT_EQ(host_.Last(WM_NOTIFY, UDN_DELTAPOS)->updown.iDelta, 1);
  EXPECT_EQ(LOWORD(SendMessageW(ud, UDM_GETPOS, 0, 0)), 450);
  // A parent that answers non-zero keeps the position.
  host_.answer = [](const NMHDR* h) -> LRESULT { return h->code == UDN_DELTAPOS ? 1 : 0; };
  Tap(ud, S(10), S(4));
  EXPECT_EQ(LOWORD(SendMessageW(ud, UDM_GETPOS, 0, 0)), 450);
  host_.answer = nullptr;
  // An arrow held down repeats: after a pause, then steadily, until released.
  Down(ud, S(10), S(20));
  EXPECT_EQ(LOWORD(SendMessageW(ud, UDM_GETPOS, 0, 0)), 451);
  qk::AdvanceClock(399);
  qk::PumpMessages();
  EXPECT_EQ(LOWORD(SendMessageW(ud, UDM_GETPOS, 0, 0)), 451);
  qk::AdvanceClock(1);
  qk::PumpMessages();
  EXPECT_EQ(LOWORD(SendMessageW(ud, UDM_GETPOS, 0, 0)), 452);
  for (int i = 0; i < 3; ++i) {
    qk::AdvanceClock(60);
    qk::PumpMessages();
  }
  EXPECT_EQ(LOWORD(SendMessageW(ud, UDM_GETPOS, 0, 0)), 455);
  Up(ud, S(10), S(20));
  qk::AdvanceClock(1000);
  qk::PumpMessages();
  EXPECT_EQ(LOWORD(SendMessageW(ud, UDM_GETPOS, 0, 0)), 455);
  // The ends hold: at 0 the up arrow asks but does not move.
  SendMessageW(ud, UDM_SETPOS32, 0, 0);
  SetFocus(ud);
  Key(VK_UP);
  EXPECT_EQ(SendMessageW(ud, UDM_GETPOS32, 0, 0), 0);
  Key(VK_DOWN);
  EXPECT_EQ(SendMessageW(ud, UDM_GETPOS32, 0, 0), 1);
  int lower = 0, upper = 0;
  SendMessageW(ud, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lower), reinterpret_cast<LPARAM>(&upper));
  EXPECT_EQ(lower, 499);
  EXPECT_EQ(upper, 0);
}

TEST_F(ControlsTest, TimePickerChangesFieldsByArrowsKeysAndDigits) {
  HWND dt = Make(DATETIMEPICK_CLASS, u"", DTS_TIMEFORMAT | DTS_UPDOWN | DTS_RIGHTALIGN, S(10), S(10), S(160), S(26),
                 800);
  SYSTEMTIME st{2026, 12, 2, 8, 12, 0, 0, 0};
  EXPECT_TRUE(SendMessageW(dt, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st)));
  SYSTEMTIME got{};
  EXPECT_EQ(SendMessageW(dt, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&got)), GDT_VALID);
  EXPECT_EQ(got.wHour, 12);
  EXPECT_EQ(host_.Count(WM_NOTIFY, DTN_DATETIMECHANGE), 0);
  // The up arrow raises the hours (the first field).
  Tap(dt, S(160) - S(4), S(4));
  const Note* change = host_.Last(WM_NOTIFY, DTN_DATETIMECHANGE);
  ASSERT_NE(change, nullptr);
  EXPECT_EQ(change->time.wHour, 13);
  EXPECT_EQ(change->time.wMinute, 0);
  // Right moves to the minutes; Down wraps them to 59; digits type a value.
  SetFocus(dt);
  Key(VK_RIGHT);
  Key(VK_DOWN);
  SendMessageW(dt, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&got));
  EXPECT_EQ(got.wMinute, 59);
  EXPECT_EQ(got.wHour, 13);
  Type(u"45");
  SendMessageW(dt, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&got));
  EXPECT_EQ(got.wMinute, 45);
  // A bad time is refused and changes nothing.
  SYSTEMTIME bad{2026, 13, 0, 40, 25, 0, 0, 0};
  EXPECT_FALSE(SendMessageW(dt, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&bad)));
  SendMessageW(dt, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&got));
  EXPECT_EQ(got.wMinute, 45);
  EXPECT_EQ(host_.Count(WM_NOTIFY, DTN_DATETIMECHANGE), 4);

  // A date picker keeps the day within the month.
  HWND date = Make(DATETIMEPICK_CLASS, u"", DTS_SHORTDATEFORMAT | DTS_UPDOWN, S(10), S(50), S(200), S(26), 801);
  SYSTEMTIME jan31{2026, 1, 0, 31, 9, 0, 0, 0};
  SendMessageW(date, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&jan31));
  SetFocus(date);
  Key(VK_RIGHT);  // the month
  Key(VK_UP);
  SendMessageW(date, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&got));
  EXPECT_EQ(got.wMonth, 2);
  EXPECT_EQ(got.wDay, 28);
  EXPECT_EQ(got.wDayOfWeek, 6);  // 28 February 2026 is a Saturday
}

TEST_F(ControlsTest, TabControlAsksBeforeChanging) {
  HWND tab = Make(WC_TABCONTROL, u"", TCS_BOTTOM, 0, 0, S(240), S(200), 900);
  TCITEMW item{TCIF_TEXT, 0, 0, const_cast<LPWSTR>(u"Page"), 0, -1, 0};
  for (int i = 0; i < 3; ++i) SendMessageW(tab, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
  TCITEMW text{TCIF_TEXT, 0, 0, const_cast<LPWSTR>(u"Title"), 0, -1, 0};
  EXPECT_TRUE(SendMessageW(tab, TCM_SETITEMW, 0, reinterpret_cast<LPARAM>(&text)));
  text.pszText = const_cast<LPWSTR>(u"Details");
  SendMessageW(tab, TCM_SETITEMW, 1, reinterpret_cast<LPARAM>(&text));
  WCHAR buffer[32];
  TCITEMW read{TCIF_TEXT, 0, 0, buffer, 32, -1, 0};
  SendMessageW(tab, TCM_GETITEMW, 1, reinterpret_cast<LPARAM>(&read));
  EXPECT_EQ(std::u16string(buffer), u"Details");
  EXPECT_EQ(SendMessageW(tab, TCM_GETCURSEL, 0, 0), 0);

  RECT second;
  SendMessageW(tab, TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&second));
  EXPECT_GT(second.top, S(100));  // the tabs lie along the bottom
  Tap(tab, (second.left + second.right) / 2, (second.top + second.bottom) / 2);
  EXPECT_EQ(SendMessageW(tab, TCM_GETCURSEL, 0, 0), 1);
  ASSERT_EQ(host_.Count(WM_NOTIFY, TCN_SELCHANGING), 1);
  ASSERT_EQ(host_.Count(WM_NOTIFY, TCN_SELCHANGE), 1);
  // Asked first, told after.
  size_t asked = 0, told = 0;
  for (size_t i = 0; i < host_.notes.size(); ++i) {
    if (host_.notes[i].code == TCN_SELCHANGING) asked = i;
    if (host_.notes[i].code == TCN_SELCHANGE) told = i;
  }
  EXPECT_LT(asked, told);
  host_.answer = [](const NMHDR* h) -> LRESULT { return h->code == TCN_SELCHANGING ? 1 : 0; };
  SetFocus(tab);
  Key(VK_RIGHT);
  EXPECT_EQ(SendMessageW(tab, TCM_GETCURSEL, 0, 0), 1);
  host_.answer = nullptr;
  Key(VK_RIGHT);
  EXPECT_EQ(SendMessageW(tab, TCM_GETCURSEL, 0, 0), 2);
  // The display area and the window rectangle convert both ways.
  RECT r{0, 0, S(240), S(200)};
  SendMessageW(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
  EXPECT_LT(r.bottom, second.top + 1);
  SendMessageW(tab, TCM_ADJUSTRECT, TRUE, reinterpret_cast<LPARAM>(&r));
  EXPECT_EQ(r.bottom, S(200));
  EXPECT_EQ(r.left, 0);
}

TEST_F(ControlsTest, ProgressBarFillsItsShareAndScrollBarReportsScrolling) {
  HWND bar = Make(PROGRESS_CLASS, u"", 0, S(10), S(10), S(200), S(20), 1000);
  SendMessageW(bar, PBM_SETRANGE32, 0, 200);
  SendMessageW(bar, PBM_SETPOS, 50, 0);
  EXPECT_EQ(SendMessageW(bar, PBM_DELTAPOS, 500, 0), 50);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 200);  // clamped to the range
  SendMessageW(bar, PBM_SETPOS, 50, 0);
  SendMessageW(bar, PBM_SETSTEP, 100, 0);
  SendMessageW(bar, PBM_STEPIT, 0, 0);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 150);
  SendMessageW(bar, PBM_SETPOS, 100, 0);
  qk::PumpMessages();
  // Half the inside is filled with the highlight colour.
  auto screen = qk::gdi::ScreenSurface();
  RECT w;
  GetWindowRect(bar, &w);
  int y = (w.top + w.bottom) / 2;
  int filled = 0;
  for (int x = w.left; x < w.right; ++x) filled += screen->Get(x, y) == GetSysColor(COLOR_HIGHLIGHT);
  int inside = (w.right - w.left) - 4 * std::max(1, S(1));
  EXPECT_NEAR(filled, inside / 2, 1);

  HWND sb = Make(WC_SCROLLBAR, u"", SBS_VERT, S(220), S(10), S(16), S(200), 1001);
  SCROLLINFO si{sizeof si, SIF_RANGE | SIF_PAGE | SIF_POS, 0, 99, 10, 95, 0};
  EXPECT_EQ(SendMessageW(sb, SBM_SETSCROLLINFO, TRUE, reinterpret_cast<LPARAM>(&si)), 90);  // at most max - page + 1
  SendMessageW(sb, SBM_SETPOS, 0, TRUE);
  Tap(sb, S(8), S(200) - S(4));  // the lower arrow
  EXPECT_EQ(host_.Count(WM_VSCROLL, SB_LINEDOWN), 1);
  EXPECT_EQ(host_.Count(WM_VSCROLL, SB_ENDSCROLL), 1);
  EXPECT_EQ(SendMessageW(sb, SBM_GETPOS, 0, 0), 0);  // the parent moves it
  // Held, the arrow reports again after a pause.
  Down(sb, S(8), S(200) - S(4));
  qk::AdvanceClock(400);
  qk::PumpMessages();
  qk::AdvanceClock(60);
  qk::PumpMessages();
  Up(sb, S(8), S(200) - S(4));
  EXPECT_EQ(host_.Count(WM_VSCROLL, SB_LINEDOWN), 4);
  EXPECT_EQ(host_.Count(WM_VSCROLL, SB_ENDSCROLL), 2);
  // Dragging the thumb reports its track and the final position.
  Down(sb, S(8), S(20) + S(2));
  Move(sb, S(8), S(100));
  Up(sb, S(8), S(100));
  const Note* track = host_.Last(WM_VSCROLL, SB_THUMBTRACK);
  const Note* done = host_.Last(WM_VSCROLL, SB_THUMBPOSITION);
  ASSERT_NE(track, nullptr);
  ASSERT_NE(done, nullptr);
  EXPECT_GT(HIWORD(done->wParam), 30);
  EXPECT_LT(HIWORD(done->wParam), 60);
  EXPECT_EQ(HIWORD(done->wParam), HIWORD(track->wParam));
}

}  // namespace
