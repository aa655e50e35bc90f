// The category editor in the reader's own windows, in this process, run as
// the channel list runs it (modal, over the loaded list): names refused as
// the edit ends by Return, by a tap on another row and by OK, Escape, and
// deletes. After every step the rows are compared with the categories that
// "Channels.opml" holds on disk and in memory. Message boxes are answered
// by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/settings.h"
#include "kernel/kernel.h"
#include "kernel/wstring.h"
#include "quillet/channel_list/category_edit_dlg.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/frame/main_frame.h"
#include "quillet/frame/reader_app.h"
#include "quillet/res/resources.h"
#include "shell/aygshell.h"
#include "support/reader_frame_fixture.h"
#include "user/user.h"

namespace {

constexpr const char16_t* kList = u"\\Program Files\\Quillet\\ChannelData\\Channels.opml";
constexpr const char16_t* kData = u"\\Program Files\\Quillet\\ChannelData\\";

// Blogs, Foreign, Trouble (two channels), Misc and Others, each channel
// with an item store.
const char kChannels[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head/><body nextID=\"200\">"
    "<outline text=\"Blogs\" type=\"rss\" uniqueID=\"90\">"
    "<outline text=\"B\" type=\"rss\" uniqueID=\"100\" xmlUrl=\"http://127.0.0.1/b\"/></outline>"
    "<outline text=\"Foreign\" type=\"rss\" uniqueID=\"91\">"
    "<outline text=\"F\" type=\"rss\" uniqueID=\"101\" xmlUrl=\"http://127.0.0.1/f\"/></outline>"
    "<outline text=\"Trouble\" type=\"rss\" uniqueID=\"92\">"
    "<outline text=\"T1\" type=\"rss\" uniqueID=\"102\" xmlUrl=\"http://127.0.0.1/t1\"/>"
    "<outline text=\"T2\" type=\"rss\" uniqueID=\"103\" xmlUrl=\"http://127.0.0.1/t2\"/></outline>"
    "<outline text=\"Misc\" type=\"rss\" uniqueID=\"93\">"
    "<outline text=\"M\" type=\"rss\" uniqueID=\"104\" xmlUrl=\"http://127.0.0.1/m\"/></outline>"
    "<outline text=\"Others\" type=\"rss\" uniqueID=\"94\">"
    "<outline text=\"O\" type=\"rss\" uniqueID=\"105\" xmlUrl=\"http://127.0.0.1/o\"/></outline>"
    "</body></opml>\n";

// The categories of a channel list file, in its order.
std::vector<std::string> CategoriesOf(const char16_t* path) {
  struct Walk {
    std::vector<std::string> names;
  } walk;
  COpmlXML read(
      [](void* context, LPCWSTR parent, LPCWSTR name, LPCWSTR value) {
        if (parent && *parent) return;
        if (name && qk::ToUtf8(name) == "text") static_cast<Walk*>(context)->names.push_back(qk::ToUtf8(value));
      },
      &walk, 1);
  read.LoadAndWalk(path);
  return walk.names;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// Drains the queue: every message posted, sent and due is handled.
void Settle() {
  while (qk::PumpMessages() > 0) {
  }
}

class CategoryEditorTest : public qtest::ReaderFrameTest {
 protected:
  void SetUp() override {
    ReaderFrameTest::SetUp();
    for (int id = 100; id <= 105; ++id) WriteDeviceFile(Data(id).c_str(), "x");
    StartReader(kList, kChannels);
  }
  // The texts of the boxes, in order; a delete is answered deleteAnswer_.
  int Answer(const std::u16string& text, const std::u16string&) override {
    texts_.push_back(qk::ToUtf8(text));
    if (text.rfind(u"Are you sure", 0) == 0) return deleteAnswer_;
    return IDOK;
  }
  static std::u16string Data(int id) { return std::u16string(kData) + u"Ch" + qk::FromUtf8(std::to_string(id)) + u".bin"; }

  // Runs the editor as the chooser runs it; steps run inside its modal
  // loop, and Cancel ends it after them (unless it ended by then). The
  // editor's result.
  INT_PTR RunEditor(const std::function<void(CCategoryEditDlg&)>& steps) {
    CCategoryEditDlg editor(CATEGORY_EDIT_MODE_ADD_DELETE, List(), nullptr);
    editor.AddCategoriesOfChannelList();
    static std::function<void()> run;
    run = [&] {
      steps(editor);
      if (::IsWindow(editor.m_hWnd)) ::SendMessageW(editor.m_hWnd, WM_COMMAND, IDCANCEL, 0);
    };
    ::SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR timer, DWORD) {
      ::KillTimer(nullptr, timer);
      run();
    });
    return editor.DoModal();
  }

  static std::vector<std::string> Rows(CCategoryEditDlg& editor) {
    std::vector<std::string> rows;
    for (int i = 0; i < editor.List().GetItemCount(); ++i) rows.push_back(qk::ToUtf8(editor.List().GetItemText(i, 0).GetString()));
    return rows;
  }
  static int Chosen(CCategoryEditDlg& editor) {
    return static_cast<int>(::SendMessageW(editor.List().m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  }
  static HWND Edit(CCategoryEditDlg& editor) { return editor.List().Editor().GetSafeHwnd(); }
  // A tap on a row of the list.
  static void Tap(CCategoryEditDlg& editor, int row) {
    RECT r{};
    ASSERT_TRUE(editor.List().GetItemRect(row, &r, LVIR_BOUNDS));
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    ::PostMessageW(editor.List().m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::PostMessageW(editor.List().m_hWnd, WM_LBUTTONUP, 0, at);
    Settle();
  }
  static void Command(CCategoryEditDlg& editor, UINT id) {
    ::PostMessageW(editor.m_hWnd, WM_COMMAND, id, 0);
    Settle();
  }
  // A key as the keyboard gives it to the focus window.
  static void Key(BYTE vk) {
    HWND focus = ::GetFocus();
    ::PostMessageW(focus, WM_KEYDOWN, vk, 1);
    ::PostMessageW(focus, WM_KEYUP, vk, 0xC0000001);
    Settle();
  }
  // Typed into the open edit, over what it holds.
  static void Type(CCategoryEditDlg& editor, const std::string& text) {
    ASSERT_TRUE(editor.IsEditing());
    ::SetWindowTextW(Edit(editor), qk::FromUtf8(text).c_str());
  }
  static std::string EditText(CCategoryEditDlg& editor) {
    WCHAR text[256] = {0};
    ::GetWindowTextW(Edit(editor), text, 256);
    return qk::ToUtf8(text);
  }
  // The rows show what the channel list holds, on disk and in memory.
  void RowsAreTheList(CCategoryEditDlg& editor, const std::string& where) {
    const std::vector<std::string> saved = CategoriesOf(kList);
    EXPECT_EQ(Sorted(Rows(editor)), Sorted(saved)) << where;
    for (const std::string& name : saved)
      EXPECT_TRUE(List()->HasCategory(qk::FromUtf8(name).c_str())) << where << ": " << name;
  }

  std::vector<std::string> texts_;
  int deleteAnswer_ = IDYES;
};

}  // namespace

// Foreign renamed to Trouble (a name in use) and the edit ended by a tap on
// another row: refused, and the edited row shows Foreign again, not the
// row tapped. A delete of that row then takes Foreign with its channel and
// its files, and Trouble keeps its two channels.
TEST_F(CategoryEditorTest, ARenameRefusedOnATapPutsBackTheEditedRowAndADeleteTakesWhatTheRowShows) {
  RunEditor([&](CCategoryEditDlg& editor) {
    const std::vector<std::string> before = {"Blogs", "Foreign", "Trouble", "Misc", "Others"};
    ASSERT_EQ(Rows(editor), before);
    Tap(editor, 1);
    Command(editor, IDC_CATEGORY_RENAME);
    ASSERT_TRUE(editor.IsEditing());
    Type(editor, "Trouble");
    Tap(editor, 4);
    EXPECT_EQ(texts_, std::vector<std::string>{"A category of this name already exists."});
    EXPECT_FALSE(editor.IsEditing());
    EXPECT_EQ(Rows(editor), before);
    EXPECT_EQ(Chosen(editor), 4) << "the row tapped is chosen";
    RowsAreTheList(editor, "after the refusal");
    // The row that showed Foreign, deleted.
    Tap(editor, 1);
    Command(editor, IDC_CATEGORY_DELETE);
    EXPECT_EQ(Rows(editor), (std::vector<std::string>{"Blogs", "Trouble", "Misc", "Others"}));
    RowsAreTheList(editor, "after the delete");
  });
  EXPECT_EQ(CategoriesOf(kList), (std::vector<std::string>{"Blogs", "Trouble", "Misc", "Others"}));
  EXPECT_FALSE(List()->HasChannel(u"http://127.0.0.1/f"));
  EXPECT_TRUE(List()->HasChannel(u"http://127.0.0.1/t1"));
  EXPECT_TRUE(List()->HasChannel(u"http://127.0.0.1/t2"));
  EXPECT_FALSE(DeviceFileExists(Data(101).c_str()));
  EXPECT_TRUE(DeviceFileExists(Data(102).c_str()));
  EXPECT_TRUE(DeviceFileExists(Data(103).c_str()));
}

// Return ends the in-place edit only: a name refused on Return stays in the
// edit, open over its row, to be corrected; corrected, Return stores it and
// the editor stays for the next command. Escape gives a new row up.
TEST_F(CategoryEditorTest, ReturnOnARefusedNameKeepsTheEditOpenToCorrect) {
  const INT_PTR result = RunEditor([&](CCategoryEditDlg& editor) {
    Command(editor, IDC_CATEGORY_NEW);
    ASSERT_TRUE(editor.IsEditing());
    Type(editor, "misc");
    Key(VK_RETURN);
    EXPECT_EQ(texts_, std::vector<std::string>{"A category of this name already exists."});
    ASSERT_TRUE(::IsWindow(editor.m_hWnd)) << "Return ended the editor";
    EXPECT_TRUE(editor.IsEditing()) << "the refused name is not open to correct";
    EXPECT_EQ(::GetFocus(), Edit(editor));
    EXPECT_EQ(EditText(editor), "misc");
    EXPECT_EQ(Chosen(editor), 0);
    EXPECT_EQ(CategoriesOf(kList), (std::vector<std::string>{"Blogs", "Foreign", "Trouble", "Misc", "Others"}));
    // Corrected by keys: the caret stands after the refused name.
    ::PostMessageW(Edit(editor), WM_CHAR, u'2', 1);
    Settle();
    EXPECT_EQ(EditText(editor), "misc2");
    Key(VK_RETURN);
    EXPECT_FALSE(editor.IsEditing());
    EXPECT_EQ(texts_.size(), 1u);
    EXPECT_EQ(Rows(editor), (std::vector<std::string>{"misc2", "Blogs", "Foreign", "Trouble", "Misc", "Others"}));
    RowsAreTheList(editor, "after the correction");
    // A rename refused on Return, then given up with Escape: the row keeps
    // its name, the editor stays.
    Tap(editor, 2);
    Command(editor, IDC_CATEGORY_RENAME);
    Type(editor, "BLOGS");
    Key(VK_RETURN);
    EXPECT_EQ(texts_.size(), 2u);
    EXPECT_TRUE(editor.IsEditing());
    Key(VK_ESCAPE);
    ASSERT_TRUE(::IsWindow(editor.m_hWnd)) << "Escape in the edit ended the editor";
    EXPECT_FALSE(editor.IsEditing());
    EXPECT_EQ(Rows(editor)[2], "Foreign");
    // Refused on Return, then left as it stands for a tap on another row:
    // given up without a second word.
    Tap(editor, 3);
    Command(editor, IDC_CATEGORY_RENAME);
    Type(editor, "Others");
    Key(VK_RETURN);
    EXPECT_EQ(texts_.size(), 3u);
    ASSERT_TRUE(editor.IsEditing());
    Tap(editor, 1);
    EXPECT_FALSE(editor.IsEditing());
    EXPECT_EQ(texts_.size(), 3u) << "a second word for the name given up";
    EXPECT_EQ(Rows(editor)[3], "Trouble");
    EXPECT_EQ(Chosen(editor), 1);
    // A new row given up with Escape goes.
    Command(editor, IDC_CATEGORY_NEW);
    Key(VK_ESCAPE);
    ASSERT_TRUE(::IsWindow(editor.m_hWnd));
    EXPECT_EQ(Rows(editor), (std::vector<std::string>{"misc2", "Blogs", "Foreign", "Trouble", "Misc", "Others"}));
    RowsAreTheList(editor, "after Escape");
  });
  EXPECT_EQ(result, IDCANCEL) << "the editor ended by itself";
}

// A category deleted from the middle: the row that took its place is
// chosen, and the next Delete takes that one.
TEST_F(CategoryEditorTest, ADeleteInTheMiddleChoosesTheRowThatTookItsPlace) {
  RunEditor([&](CCategoryEditDlg& editor) {
    Tap(editor, 2);
    Command(editor, IDC_CATEGORY_DELETE);
    EXPECT_EQ(Rows(editor), (std::vector<std::string>{"Blogs", "Foreign", "Misc", "Others"}));
    EXPECT_EQ(Chosen(editor), 2) << "not the row that took the deleted row's place";
    Command(editor, IDC_CATEGORY_DELETE);
    EXPECT_EQ(Rows(editor), (std::vector<std::string>{"Blogs", "Foreign", "Others"}));
    EXPECT_EQ(Chosen(editor), 2);
    RowsAreTheList(editor, "after two deletes");
  });
  EXPECT_TRUE(List()->HasChannel(u"http://127.0.0.1/o"));
  EXPECT_FALSE(List()->HasChannel(u"http://127.0.0.1/m"));
  EXPECT_FALSE(List()->HasChannel(u"http://127.0.0.1/t1"));
}

// Renames and new names (in use, in other letters, blank, with blanks
// round them, fresh) ended by Return, by a tap on another row or by
// Escape, refused names corrected or given up, rows tapped and deleted
// (Yes and No), in an order drawn from a fixed seed: after every step the
// rows are the categories of the list.
TEST_F(CategoryEditorTest, AfterAnySequenceOfEditsTheRowsAreTheListsCategories) {
  const std::vector<std::string> names = {"Trouble", "trouble", "Foreign", "Garden", "GARDEN", "  Garden ", "",
                                          "Misc",    "Zed",     "Blogs",   "Others", "New Category", "zed "};
  std::mt19937 random(20261210);
  auto pick = [&](size_t n) { return static_cast<int>(random() % n); };
  RunEditor([&](CCategoryEditDlg& editor) {
    for (int step = 0; step < 150 && ::IsWindow(editor.m_hWnd); ++step) {
      const int rows = editor.List().GetItemCount();
      std::string what = "step " + std::to_string(step);
      const int op = rows == 0 ? 0 : pick(4);
      if (op <= 1) {
        if (op == 0) {
          Command(editor, IDC_CATEGORY_NEW);
          what += " new";
        } else {
          Tap(editor, pick(rows));
          Command(editor, IDC_CATEGORY_RENAME);
          what += " rename";
        }
        if (!editor.IsEditing()) continue;
        const std::string name = names[pick(names.size())];
        what += " '" + name + "'";
        Type(editor, name);
        // Ended by Return (a refused name then stays open: given up by
        // Escape or a tap, or corrected), by a tap or by Escape.
        const int end = pick(3);
        if (end == 0) {
          Key(VK_RETURN);
          if (editor.IsEditing()) {
            const int then = pick(3);
            if (then == 0) Key(VK_ESCAPE);
            else if (then == 1) Tap(editor, pick(editor.List().GetItemCount()));
            else {
              Type(editor, "Fixed " + std::to_string(step));
              Key(VK_RETURN);
            }
          }
        } else if (end == 1) {
          Tap(editor, pick(editor.List().GetItemCount()));
        } else {
          Key(VK_ESCAPE);
        }
      } else if (op == 2) {
        Tap(editor, pick(rows));
        what += " tap";
      } else {
        deleteAnswer_ = pick(4) ? IDYES : IDNO;
        const int chosen = Chosen(editor);
        const std::string shown = chosen >= 0 ? Rows(editor)[chosen] : "";
        const std::vector<std::string> before = CategoriesOf(kList);
        Command(editor, IDC_CATEGORY_DELETE);
        what += " delete '" + shown + "'";
        // What went is the category the row showed, and nothing else.
        std::vector<std::string> expected = before;
        if (deleteAnswer_ == IDYES && chosen >= 0)
          expected.erase(std::find(expected.begin(), expected.end(), shown));
        EXPECT_EQ(CategoriesOf(kList), expected) << what;
      }
      ASSERT_FALSE(editor.IsEditing()) << what;
      ASSERT_TRUE(::IsWindow(editor.m_hWnd)) << what << ": the editor ended";
      RowsAreTheList(editor, what);
      if (HasFailure()) return;
    }
  });
  // The sequence met refusals of both kinds and deletes.
  auto count = [&](const std::string& text) { return std::count(texts_.begin(), texts_.end(), text); };
  EXPECT_GE(count("A category of this name already exists."), 10);
  EXPECT_GE(count("Please enter a name for the category."), 2);
  EXPECT_GE(count("Are you sure you want to delete this category?"), 10);
}
