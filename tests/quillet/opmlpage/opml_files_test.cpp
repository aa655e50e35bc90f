// The channel list's OPML files in the reader's own windows, in this
// process: Export with edits still held back by a save batch and onto a
// card too full for the list, and the import page's OK given twice. The
// file chooser and the message boxes are answered by the test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "common/settings.h"
#include "kernel/kernel.h"
#include "kernel/wstring.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/res/resources.h"
#include "quillet/frame/main_frame.h"
#include "quillet/new_channel/new_wizard_dlg.h"
#include "quillet/new_channel/opml_display_dlg.h"
#include "quillet/frame/reader_app.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"
#include "shell/filedlg.h"
#include "support/reader_frame_fixture.h"
#include "user/user.h"

namespace fs = std::filesystem;

namespace {

constexpr const char16_t* kList = u"\\Program Files\\Quillet\\ChannelData\\Channels.opml";
const char kChannels[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head/><body nextID=\"102\">"
    "<outline text=\"News\" type=\"rss\" uniqueID=\"90\">"
    "<outline text=\"Alpha\" type=\"rss\" uniqueID=\"100\" xmlUrl=\"http://127.0.0.1/a\" newItemCount=\"4\"/>"
    "<outline text=\"Beta\" type=\"rss\" uniqueID=\"101\" xmlUrl=\"http://127.0.0.1/b\" newItemCount=\"2\"/>"
    "</outline></body></opml>\n";

class OpmlFilesTest : public qtest::ReaderFrameTest {
 protected:
  void SetUp() override {
    ReaderFrameTest::SetUp();
    qk::shell::SetFileDialogHook([this](const qk::shell::FileDialogRequest&) -> std::optional<std::u16string> {
      return answer_;
    });
    StartReader(kList, kChannels, false);
  }
  void TearDown() override {
    qk::shell::SetFileDialogHook(nullptr);
    ReaderFrameTest::TearDown();
  }
  // The Export command, its file chosen as the given name.
  void Export(const std::u16string& name) {
    answer_ = name;
    ::SendMessageW(frame_->ChannelListWnd().GetSafeHwnd(), WM_COMMAND, ID_EXPORT, 0);
  }
  // An attribute of a channel in an OPML file ("(none)" without one).
  static std::string AttributeIn(const char16_t* path, const char16_t* url, const char16_t* name) {
    COpmlXML read(nullptr, nullptr, 1);
    CString value;
    if (!read.LoadAndWalk(path) || !read.GetChannelAttribute(url, name, value)) return "(none)";
    return qk::ToUtf8(static_cast<LPCWSTR>(value));
  }

  std::optional<std::u16string> answer_;
};

}  // namespace

// Export writes what a save batch still holds back into the exported
// list; onto a card too full for it the export fails, says so, and leaves
// no file cut short; to a place with room it is done without a word.
TEST_F(OpmlFilesTest, ExportHoldsTheEditsHeldBackAndSaysWhenItFails) {
  {
    COpmlXML::CSaveBatch batch(List(), 3600000);
    ASSERT_TRUE(List()->SetChannelAttribute(u"http://127.0.0.1/a", u"newItemCount", u"0"));
  }
  ASSERT_TRUE(List()->HasPendingSave());
  Export(u"\\Exported.opml");
  EXPECT_EQ(boxes_, "");
  EXPECT_EQ(AttributeIn(u"\\Exported.opml", u"http://127.0.0.1/a", u"newItemCount"), "0")
      << "the export missed the edit held back";
  EXPECT_EQ(AttributeIn(u"\\Exported.opml", u"http://127.0.0.1/b", u"newItemCount"), "2");

  // A 64 MB card with 100 bytes left.
  WriteDeviceFile(u"\\DeviceProfile.txt", "card=Small Card,64\n");
  fs::create_directories(Host(u"\\Small Card"));
  { std::ofstream photo(Host(u"\\Small Card") + "/Photo.raw", std::ios::binary); }
  fs::resize_file(Host(u"\\Small Card") + "/Photo.raw", 64ull * 1024 * 1024 - 100);
  Export(u"\\Small Card\\Exported.opml");
  EXPECT_EQ(boxes_, "Error: The channel list could not be exported to:\n\\Small Card\\Exported.opml\n");
  EXPECT_FALSE(DeviceFileExists(u"\\Small Card\\Exported.opml")) << "a file cut short stayed on the card";

  // With room made the same export is done, silently.
  boxes_.clear();
  fs::resize_file(Host(u"\\Small Card") + "/Photo.raw", 60ull * 1024 * 1024);
  Export(u"\\Small Card\\Exported.opml");
  EXPECT_EQ(boxes_, "");
  EXPECT_EQ(ReadDeviceFile(u"\\Small Card\\Exported.opml"), ReadDeviceFile(kList));
}

// The import page's OK given a second time (a double tap) adds nothing
// more: the channel list stays as the first OK left it.
TEST_F(OpmlFilesTest, ASecondOkOfTheImportPageAddsNothingMore) {
  WriteDeviceFile(u"\\Import.opml",
                  "<?xml version=\"1.0\"?>\n<opml version=\"2.0\"><head/><body>"
                  "<outline text=\"Tech\"><outline type=\"rss\" text=\"Gamma\" xmlUrl=\"http://127.0.0.1/c\"/></outline>"
                  "<outline type=\"rss\" text=\"Delta\" xmlUrl=\"http://127.0.0.1/d\"/></body></opml>\n");
  CNewWizardDlg wizard(List(), nullptr);
  ASSERT_TRUE(wizard.Create(IDD_NEW_WIZARD, nullptr));
  COpmlDisplayDlg page(u"\\Import.opml", &wizard);
  page.SetChannelDocument(List());
  ASSERT_TRUE(page.Create(IDD_OPML_DISPLAY, &wizard));
  // "Choose specific channels from OPML", then Delta at the top level.
  COpmlDisplayDlg::OnListClick(page.m_hWnd, 0, OPML_ROW_CHOOSE, nullptr);
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return page.GetMode() == 0 && page.GetUrls().size() == 2; }, 10000));
  UINT delta = 0;
  for (int i = 0; page.GetList() && i < page.GetList()->GetItemCount(); ++i)
    if (page.GetList()->GetItem(i)->m_strText == u"Delta") delta = page.GetList()->GetItem(i)->m_nCommandId;
  ASSERT_NE(delta, 0u);
  COpmlDisplayDlg::OnListClick(page.m_hWnd, 0, delta, nullptr);
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return wizard.m_chosenChannels.GetCount() == 1; }, 10000));

  page.OnOK();
  const std::string first = ReadDeviceFile(kList);
  EXPECT_EQ(AttributeIn(kList, u"http://127.0.0.1/d", u"text"), "Delta");
  page.OnOK();
  EXPECT_EQ(ReadDeviceFile(kList), first) << "the second OK changed the channel list";
  EXPECT_TRUE(wizard.m_bChannelsAdded);
  EXPECT_EQ(boxes_, "");
  page.DestroyWindow();
  wizard.DestroyWindow();
}
