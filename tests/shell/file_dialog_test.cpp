// The open and save file dialogs: answered by a script as the screens'
// tests answer them (with every check a chosen name goes through), and the
// dialog itself driven by synthetic taps and typed characters.
#include <gtest/gtest.h>

#include "display/display.h"
#include "gdi/surface.h"
#include "shell/aygshell.h"
#include "shell/filedlg.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "user/input.h"

namespace {

std::vector<std::function<void()>>& Steps() {
  static std::vector<std::function<void()>> steps;
  return steps;
}
constexpr UINT kRunStep = WM_APP + 3;

// Runs the next scripted step from inside the dialog's loop.
LRESULT ScriptProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kRunStep && !Steps().empty()) {
    auto step = Steps().front();
    Steps().erase(Steps().begin());
    step();
    if (!Steps().empty()) PostMessageW(hwnd, kRunStep, 0, 0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

class FileDialogTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    qtest::DeviceTest::SetUp();
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    qk::display::ConnectScreen();
    qk::shell::ResetShell();
    WriteDeviceFile(u"\\Docs\\a.opml", "<opml/>");
    WriteDeviceFile(u"\\Docs\\b.txt", "text");
    WriteDeviceFile(u"\\Docs\\Sub\\c.opml", "<opml/>");
    owner_ = qtest::CreateHostWindow(u"FileDialogOwner", ScriptProc, 480, 696, u"Owner", WS_VISIBLE);
    MoveWindow(owner_, 0, 52, 480, 696, TRUE);
  }
  void TearDown() override {
    qk::shell::SetFileDialogHook(nullptr);
    qk::SetMessageBoxHook(nullptr);
    Steps().clear();
    DestroyWindow(owner_);
    qk::shell::ResetShell();
    qk::PumpMessages();
    qtest::DeviceTest::TearDown();
  }
  OPENFILENAMEW Ofn(WCHAR* buffer, DWORD size) {
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner_;
    ofn.lpstrFilter = u"Opml Files\0*.opml;*.xml;\0All Files\0*.*\0";
    ofn.lpstrFile = buffer;
    ofn.nMaxFile = size;
    ofn.lpstrInitialDir = u"\\Docs";
    ofn.lpstrTitle = u"Import OPML file";
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_EXPLORER;
    return ofn;
  }
  static void Tap(int x, int y) {
    qk::InjectPointer(WM_LBUTTONDOWN, x, y);
    qk::InjectPointer(WM_LBUTTONUP, x, y);
  }
  HWND owner_ = nullptr;
};

TEST_F(FileDialogTest, ScriptedOpenAnswersAreCheckedAsTheDialogChecksThem) {
  std::vector<qk::shell::FileDialogRequest> asked;
  std::vector<std::optional<std::u16string>> answers = {u"missing.opml", u"a.opml"};
  qk::shell::SetFileDialogHook([&](const qk::shell::FileDialogRequest& r) {
    asked.push_back(r);
    return answers[asked.size() - 1];
  });
  WCHAR path[MAX_PATH] = {};
  WCHAR title[32] = {};
  OPENFILENAMEW ofn = Ofn(path, MAX_PATH);
  ofn.lpstrFileTitle = title;
  ofn.nMaxFileTitle = 32;
  ASSERT_TRUE(GetOpenFileNameW(&ofn));
  // The missing file was refused and the dialog asked again.
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[1].attempt, 2);
  EXPECT_FALSE(asked[0].save);
  EXPECT_EQ(asked[0].owner, owner_);
  EXPECT_EQ(asked[0].title, u"Import OPML file");
  EXPECT_EQ(asked[0].folder, u"\\Docs\\");
  ASSERT_EQ(asked[0].filters.size(), 2u);
  EXPECT_EQ(asked[0].filters[0].first, u"Opml Files");
  EXPECT_EQ(asked[0].filters[0].second, u"*.opml;*.xml;");
  EXPECT_EQ(std::u16string(path), u"\\Docs\\a.opml");
  EXPECT_EQ(std::u16string(title), u"a.opml");
  EXPECT_EQ(ofn.nFileOffset, 6);
  EXPECT_EQ(ofn.nFileExtension, 8);

  // The extended open dialog of key devices answers the same way.
  answers = {u"\\Docs\\Sub\\c.opml"};
  asked.clear();
  path[0] = 0;
  OPENFILENAMEEX ofnex{};
  ofnex.lStructSize = sizeof ofnex;
  ofnex.hwndOwner = owner_;
  ofnex.lpstrFilter = u"Opml Files\0*.opml;*.xml;\0";
  ofnex.lpstrFile = path;
  ofnex.nMaxFile = MAX_PATH;
  ofnex.lpstrInitialDir = u"\\";
  ofnex.Flags = OFN_FILEMUSTEXIST | OFN_EXPLORER;
  ofnex.dwSortOrder = OFN_SORTORDER_NAME | OFN_SORTORDER_ASCENDING;
  ofnex.ExFlags = OFN_EXFLAG_THUMBNAILVIEW;
  ASSERT_TRUE(GetOpenFileNameEx(&ofnex));
  EXPECT_EQ(std::u16string(path), u"\\Docs\\Sub\\c.opml");
  EXPECT_EQ(asked[0].folder, u"\\");

  // Cancel; a path that does not fit the buffer; a wrong structure size.
  answers = {std::nullopt};
  asked.clear();
  EXPECT_FALSE(GetOpenFileNameW(&ofn));
  EXPECT_EQ(CommDlgExtendedError(), 0u);
  answers = {u"a.opml"};
  asked.clear();
  WCHAR small[8] = {};
  OPENFILENAMEW tight = Ofn(small, 8);
  EXPECT_FALSE(GetOpenFileNameW(&tight));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(FNERR_BUFFERTOOSMALL));
  EXPECT_EQ(small[0], 13);
  tight.lStructSize = 12;
  EXPECT_FALSE(GetOpenFileNameW(&tight));
  EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_STRUCTSIZE));
}

TEST_F(FileDialogTest, ScriptedSaveAddsTheExtensionAndConfirmsOverwriting) {
  std::vector<std::u16string> answers = {u"bad|name", u"a", u"export"};
  size_t next = 0;
  qk::shell::SetFileDialogHook([&](const qk::shell::FileDialogRequest& r) -> std::optional<std::u16string> {
    EXPECT_TRUE(r.save);
    EXPECT_EQ(r.name, u"Channels.opml");
    return next < answers.size() ? std::optional<std::u16string>(answers[next++]) : std::nullopt;
  });
  std::vector<std::u16string> questions;
  qk::SetMessageBoxHook([&](HWND, const std::u16string& text, const std::u16string&, UINT type) {
    questions.push_back(text);
    EXPECT_EQ(type & MB_TYPEMASK, static_cast<UINT>(MB_YESNO));
    return IDNO;
  });
  WCHAR path[MAX_PATH] = u"Channels.opml";
  OPENFILENAMEW ofn = Ofn(path, MAX_PATH);
  ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
  ofn.lpstrDefExt = u"opml";
  ASSERT_TRUE(GetSaveFileNameW(&ofn));
  // "bad|name" refused; "a" became a.opml, which exists: the user said No.
  EXPECT_EQ(next, 3u);
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_NE(questions[0].find(u"a.opml already exists"), std::u16string::npos);
  EXPECT_EQ(std::u16string(path), u"\\Docs\\export.opml");
  // Yes replaces it.
  qk::SetMessageBoxHook([](HWND, const std::u16string&, const std::u16string&, UINT) { return IDYES; });
  answers = {u"a"};
  next = 0;
  wcscpy(path, u"Channels.opml");
  ASSERT_TRUE(GetSaveFileNameW(&ofn));
  EXPECT_EQ(std::u16string(path), u"\\Docs\\a.opml");
}

TEST_F(FileDialogTest, OpenDialogIsDrivenByTapsThroughFoldersToAFile) {
  // The list starts 96 pixels below the dialog's top (52): rows of 48.
  auto row = [](int i) { return 52 + 96 + i * 48 + 24; };
  HWND seenDialog = nullptr;
  Steps() = {[&] {
               seenDialog = GetForegroundWindow();
               Tap(200, row(1));  // "Sub" (after "..")
             },
             [&] {
               Tap(200, row(1));  // "c.opml" (after "..")
               Tap(200, row(1));  // again: chosen
             }};
  PostMessageW(owner_, kRunStep, 0, 0);
  WCHAR path[MAX_PATH] = {};
  OPENFILENAMEW ofn = Ofn(path, MAX_PATH);
  ASSERT_TRUE(GetOpenFileNameW(&ofn));
  EXPECT_EQ(std::u16string(path), u"\\Docs\\Sub\\c.opml");
  EXPECT_NE(seenDialog, owner_);
  EXPECT_FALSE(IsWindow(seenDialog));
  EXPECT_TRUE(IsWindowEnabled(owner_));

  // Cancel by its soft key.
  Steps() = {[] { Tap(420, 775); }};
  PostMessageW(owner_, kRunStep, 0, 0);
  EXPECT_FALSE(GetOpenFileNameW(&ofn));
}

TEST_F(FileDialogTest, ThePlatformsOwnEntriesOfTheDeviceRootAreNotListed) {
  // The platform's message bus, shared objects, registry and profile lie in
  // the device root beside the device's folders; sorted by name, ".bus" and
  // ".kernel" would come first and "Registry" before "Sub".
  for (const char16_t* f : {u"\\.bus\\1.windows", u"\\.kernel\\.lock", u"\\Registry\\HKCU.reg",
                            u"\\DeviceProfile.txt", u"\\Registry\\x.opml", u"\\Docs\\Registry\\r.opml"})
    WriteDeviceFile(f, "<opml/>");
  auto row = [](int i) { return 52 + 96 + i * 48 + 24; };
  Steps() = {[&] { Tap(200, row(0)); },   // at the root: "Docs", the only folder
             [&] { Tap(200, row(2)); },   // "..", "Registry" (the user's own), "Sub"
             [&] {
               Tap(200, row(1));  // "c.opml" (after "..")
               Tap(200, row(1));
             },
             [&] { Tap(420, 775); }};  // Cancel, had the taps missed
  PostMessageW(owner_, kRunStep, 0, 0);
  WCHAR path[MAX_PATH] = {};
  OPENFILENAMEW ofn = Ofn(path, MAX_PATH);
  ofn.lpstrInitialDir = u"\\";
  ASSERT_TRUE(GetOpenFileNameW(&ofn));
  EXPECT_EQ(std::u16string(path), u"\\Docs\\Sub\\c.opml");
}

TEST_F(FileDialogTest, SaveDialogTakesATypedNameAndItsOkKey) {
  Steps() = {[] {
    HWND dialog = GetFocus();
    for (char16_t c : std::u16string(u"feedsX")) PostMessageW(dialog, WM_CHAR, c, 0);
    PostMessageW(dialog, WM_KEYDOWN, 0x08, 0);  // backspace
    Tap(60, 775);                               // OK
  }};
  PostMessageW(owner_, kRunStep, 0, 0);
  WCHAR path[MAX_PATH] = {};
  OPENFILENAMEW ofn = Ofn(path, MAX_PATH);
  ofn.Flags = OFN_OVERWRITEPROMPT;
  ofn.lpstrDefExt = u"opml";
  ASSERT_TRUE(GetSaveFileNameW(&ofn));
  EXPECT_EQ(std::u16string(path), u"\\Docs\\feeds.opml");
}

}  // namespace
