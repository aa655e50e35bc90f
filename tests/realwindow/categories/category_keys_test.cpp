// The category editor in the reader's real SDL window on a virtual X
// server (Xvfb), its in-place edit typed and ended with real X keys through
// xdotool: Return ends the edit and never the editor, also when the name
// typed is refused; the refused name stays in the edit to be corrected.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/wstring.h"
#include "quillet/feeds/opml_xml.h"
#include "support/device_fixture.h"
#include "support/remote_program.h"
#include "support/screen_checks.h"
#include "user/user.h"
#include "xwindow_fixture.h"

namespace {

using qtest::Text;

constexpr const char16_t* kList = u"\\Program Files\\Quillet\\ChannelData\\Channels.opml";

// The categories of "Channels.opml" in their order.
std::vector<std::string> Categories() {
  struct Walk {
    std::vector<std::string> names;
  } walk;
  COpmlXML list(
      [](void* context, LPCWSTR parent, LPCWSTR name, LPCWSTR value) {
        if (parent && *parent) return;
        if (name && qk::ToUtf8(name) == "text") static_cast<Walk*>(context)->names.push_back(qk::ToUtf8(value));
      },
      &walk, 1);
  list.LoadAndWalk(kList);
  return walk.names;
}

// Where things are on the 480 x 800 touch screen: the channel list's bar
// and its left button (the category chooser, whose own left button opens
// the editor), the editor's New button and its first row.
constexpr int kBar = 760, kBarLeft = 48, kEditNew = 82, kEditButtons = 136, kEditRow0 = 188, kEditPitch = 39;

class CategoryKeysTest : public qtest::XWindowTest {
 protected:
  std::string Boxes() const { return qtest::ReadHostFile(boxes_); }
  std::string boxes_;
};

}  // namespace

TEST_F(CategoryKeysTest, ReturnOnARefusedNameKeepsTheEditorAndTheEditOpen) {
  WriteDeviceFile(kList,
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>t</title></head>"
                  "<body nextID=\"200\"><outline text=\"News\" type=\"rss\" uniqueID=\"90\">"
                  "<outline text=\"One\" type=\"rss\" uniqueID=\"100\" xmlUrl=\"http://127.0.0.1:9/feed\"/></outline>"
                  "<outline text=\"Sports\" type=\"rss\" uniqueID=\"91\"/>"
                  "<outline text=\"Others\" type=\"rss\" uniqueID=\"92\"/></body></opml>\n");
  Start("");
  boxes_ = Host(u"\\") + "/boxes.txt";
  ASSERT_TRUE(q_.LogMessageBoxes(boxes_));
  const HWND main = q_.Window();
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() == main; })) << "the channel list does not show";
  // The list loads from a timer of its window.
  ASSERT_TRUE(q_.Advance(200));
  ASSERT_TRUE(q_.Advance(10));
  Click(kBarLeft, kBar);  // the chooser
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != main && q_.ActiveWindow() != nullptr; }));
  const HWND chooser = q_.ActiveWindow();
  Click(kBarLeft, kBar);  // its Add/Delete: the editor
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != chooser && q_.ActiveWindow() != nullptr; }));
  const HWND editor = q_.ActiveWindow();

  // New: the edit opens over the new first row, its text chosen; a name in
  // use in other letters, then Return.
  Click(kEditNew, kEditButtons);
  ASSERT_TRUE(Until([&] { return Text(q_.FocusWindow()) == "New Category"; })) << Text(q_.FocusWindow());
  const HWND edit = q_.FocusWindow();
  Type("sPORTS");
  ASSERT_TRUE(Until([&] { return Text(edit) == "sPORTS"; })) << Text(edit);
  Key("Return");
  ASSERT_TRUE(Until([&] { return Boxes().find("already exists") != std::string::npos || !IsWindow(editor); }))
      << Boxes();
  // (The editor's OK closes it half a second later by its clock.)
  ASSERT_TRUE(q_.Advance(600));
  ASSERT_TRUE(q_.Settle());
  EXPECT_EQ(Boxes(), "Quillet Reach\tA category of this name already exists.\t1\n");
  EXPECT_TRUE(IsWindow(editor)) << "Return ended the editor";
  EXPECT_EQ(q_.ActiveWindow(), editor);
  EXPECT_EQ(q_.FocusWindow(), edit) << "the edit is not open to correct the name";
  EXPECT_EQ(Text(edit), "sPORTS");
  EXPECT_EQ(Categories(), (std::vector<std::string>{"News", "Sports", "Others"}));

  // The name corrected (its last letters typed over) and Return: the
  // category is added, and the editor stays for the next command.
  Key("BackSpace");
  Key("BackSpace");
  Type("rks");
  ASSERT_TRUE(Until([&] { return Text(edit) == "sPORrks"; })) << Text(edit);
  Key("Return");
  ASSERT_TRUE(Until([&] { return Categories().size() == 4; }));
  ASSERT_TRUE(q_.Settle());
  EXPECT_EQ(Categories(), (std::vector<std::string>{"News", "Sports", "Others", "sPORrks"}));
  EXPECT_TRUE(IsWindow(editor)) << "Return ended the editor";
  EXPECT_NE(q_.FocusWindow(), edit) << "the edit stays open after a name taken";
  EXPECT_EQ(Boxes(), "Quillet Reach\tA category of this name already exists.\t1\n");

  // Rename of Sports (its row is the third now) to a name in use, Return:
  // refused, the edit open; Escape then gives it up and Sports stays.
  Click(200, kEditRow0 + 2 * kEditPitch);
  ASSERT_TRUE(q_.Settle());
  PostMessageW(editor, WM_COMMAND, 1013, 0);  // Rename, as its button sends it
  ASSERT_TRUE(Until([&] { return q_.FocusWindow() == edit && Text(edit) == "Sports"; })) << Text(edit);
  Type("NEWS");
  ASSERT_TRUE(Until([&] { return Text(edit) == "NEWS"; })) << Text(edit);
  Key("Return");
  ASSERT_TRUE(Until([&] { return Boxes().size() > 60; })) << Boxes();
  ASSERT_TRUE(q_.Settle());
  EXPECT_TRUE(IsWindow(editor));
  EXPECT_EQ(q_.FocusWindow(), edit);
  EXPECT_EQ(Text(edit), "NEWS");
  Key("Escape");
  ASSERT_TRUE(Until([&] { return q_.FocusWindow() != edit; }));
  ASSERT_TRUE(q_.Settle());
  EXPECT_TRUE(IsWindow(editor)) << "Escape in the edit ended the editor";
  EXPECT_EQ(Categories(), (std::vector<std::string>{"News", "Sports", "Others", "sPORrks"}));
  EXPECT_EQ(Boxes(), "Quillet Reach\tA category of this name already exists.\t1\n"
                     "Quillet Reach\tA category of this name already exists.\t1\n");
}
