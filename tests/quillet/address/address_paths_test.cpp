// Addresses in the add paths of the reader's windows: the OPML import page
// offers only the addresses the downloads can use (and agrees with the URL
// page and the splitter on each), adds a feed a file lists twice, spelt
// otherwise, once, and hides and reports the feeds the list holds under
// another spelling; the sync merge finds such a feed instead of adding it
// again. The message boxes are answered by the test.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/settings.h"
#include "kernel/kernel.h"
#include "kernel/wstring.h"
#include "net/urlfuncs.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/frame/main_frame.h"
#include "quillet/frame/reader_app.h"
#include "quillet/new_channel/new_input_url_dlg.h"
#include "quillet/new_channel/new_wizard_dlg.h"
#include "quillet/new_channel/opml_display_dlg.h"
#include "quillet/new_channel/templates_display_dlg.h"
#include "quillet/refresh/refresh_run.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/res/resources.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"
#include "support/channel_list_file.h"
#include "support/reader_frame_fixture.h"
#include "user/user.h"

namespace {

constexpr const char16_t* kList = u"\\Program Files\\Quillet\\ChannelData\\Channels.opml";
const char kChannels[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head/><body nextID=\"102\">"
    "<outline text=\"News\" type=\"rss\" uniqueID=\"90\">"
    "<outline text=\"Alpha\" type=\"rss\" uniqueID=\"100\" xmlUrl=\"http://127.0.0.1/a\"/>"
    "<outline text=\"Beta\" type=\"rss\" uniqueID=\"101\" xmlUrl=\"HTTP://Feeds.Example:80/b\"/>"
    "</outline></body></opml>\n";

// The channels of the list file read back from disk: "category|title|url".
std::vector<std::string> ChannelsOnDisk() { return qtest::ChannelsOnDisk(kList); }

std::string XmlEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '"') out += "&quot;";
    else out += c;
  }
  return out;
}

class AddressPathsTest : public qtest::ReaderFrameTest {
 protected:
  void SetUp() override {
    ReaderFrameTest::SetUp();
    StartReader(kList, kChannels, false);
  }

  // The import page on a wizard for the file, its first row (choose or add
  // all) clicked; waits until the page has read the file (and, adding all,
  // until the wizard heard of it).
  void Import(const std::string& body, UINT row) {
    WriteDeviceFile(u"\\Import.opml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"2.0\"><head/><body>" +
                                          body + "</body></opml>\n");
    wizard_ = std::make_unique<CNewWizardDlg>(List(), nullptr);
    ASSERT_TRUE(wizard_->Create(IDD_NEW_WIZARD, nullptr));
    page_ = std::make_unique<COpmlDisplayDlg>(u"\\Import.opml", wizard_.get());
    page_->SetChannelDocument(List());
    ASSERT_TRUE(page_->Create(IDD_OPML_DISPLAY, wizard_.get()));
    COpmlDisplayDlg::OnListClick(page_->m_hWnd, 0, row, nullptr);
    if (row == OPML_ROW_ADD_ALL)
      ASSERT_TRUE(qk::PumpMessagesUntil([&] { return wizard_->m_bChannelsAdded != FALSE; }, 10000));
    else
      ASSERT_TRUE(qk::PumpMessagesUntil([&] { return page_->GetMode() == 0 && !page_->GetUrls().empty(); }, 10000));
  }
  void ClosePage() {
    if (page_ && page_->m_hWnd) page_->DestroyWindow();
    if (wizard_ && wizard_->m_hWnd) wizard_->DestroyWindow();
    page_.reset();
    wizard_.reset();
  }
  std::vector<std::string> RowTexts() {
    std::vector<std::string> rows;
    for (int i = 0; page_->GetList() && i < page_->GetList()->GetItemCount(); ++i)
      rows.push_back(qk::ToUtf8(page_->GetList()->GetItem(i)->m_strText.str()));
    return rows;
  }

  std::unique_ptr<CNewWizardDlg> wizard_;
  std::unique_ptr<COpmlDisplayDlg> page_;
};

}  // namespace

// Every address of the table in one file: the page offers exactly those
// the URL page accepts and the splitter splits, in the file's order, and
// counts the others as left out.
TEST_F(AddressPathsTest, TheImportFilterOffersExactlyWhatTheUrlPageAndTheSplitterAccept) {
  const std::vector<std::string> addresses = {
      "http://[]/x",          "http://[::1]0:8/x",       "https://a\\@[/x",        "http://h:80a/",
      "http://h:99999/x",     "http://h:0/x",            "http://h:65535/x",       "http://h:65536/x",
      "http://ho\xC2\x85st/x", "http://host:/x",          "HTTP://Host.Example/x",  "http://[::1]:81/x",
      "http://[fe80::1%25eth0]/x", "http://[fe80::1%eth0]/x", "http://us@er:pw@host/x", "http://%65xample.test/x",
      "http://%zz/x",         "http://host./x",          "https://",               "ftp://host/x",
      "http://host\\feed",    "http://:80/x",            "http://[::1/x",          "file:///C:/feed.xml",
  };
  std::string body;
  for (size_t i = 0; i < addresses.size(); ++i)
    body += "<outline type=\"rss\" text=\"F" + std::to_string(i) + "\" xmlUrl=\"" + XmlEscaped(addresses[i]) + "\"/>";
  std::vector<std::string> expected;
  for (const std::string& a : addresses) {
    const std::u16string text = qk::FromUtf8(a);
    const bool page = CNewInputUrlDlg::UrlProblem(text.c_str()) == nullptr;
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = 1;
    const bool split = InternetCrackUrlW(text.c_str(), 0, 0, &parts) != FALSE;
    const bool web = parts.nScheme == INTERNET_SCHEME_HTTP || parts.nScheme == INTERNET_SCHEME_HTTPS;
    EXPECT_EQ(page, split && web) << a;
    if (page) expected.push_back(a);
  }
  EXPECT_EQ(expected, (std::vector<std::string>{"http://h:65535/x", "http://host:/x", "HTTP://Host.Example/x",
                                                "http://[::1]:81/x", "http://[fe80::1%25eth0]/x",
                                                "http://us@er:pw@host/x", "http://%65xample.test/x", "http://host./x"}));
  Import(body, OPML_ROW_CHOOSE);
  std::vector<std::string> offered;
  for (const CString& url : page_->GetUrls()) offered.push_back(qk::ToUtf8(url.str()));
  EXPECT_EQ(offered, expected);
  EXPECT_EQ(boxes_, "Information: Outlines left out, as their addresses are no http or https web feeds: " +
                        std::to_string(addresses.size() - expected.size()) + "\n");
  ClosePage();
}

// A file naming one feed three times, spelt otherwise, adds it once and
// says nothing of it; a feed the list holds under another spelling is
// neither offered nor added again, and the page names it once.
TEST_F(AddressPathsTest, AFeedSpeltOtherwiseIsAddedOnceAndOneTheListHoldsIsNamed) {
  const std::string body =
      "<outline type=\"rss\" text=\"One\" xmlUrl=\"http://127.0.0.1/feed\"/>"
      "<outline type=\"rss\" text=\"One again\" xmlUrl=\"HTTP://127.0.0.1:80/feed\"/>"
      "<outline type=\"rss\" text=\"One more\" xmlUrl=\"http://127.0.0.1:/feed\"/>"
      "<outline type=\"rss\" text=\"Alpha here\" xmlUrl=\"HTTP://127.0.0.1/a\"/>"
      "<outline type=\"rss\" text=\"Alpha there\" xmlUrl=\"http://127.0.0.1:80/a\"/>"
      "<outline type=\"rss\" text=\"Slash\" xmlUrl=\"http://127.0.0.1/feed/\"/>";
  // Picking: the feed the list holds is not offered.
  Import(body, OPML_ROW_CHOOSE);
  EXPECT_EQ(RowTexts(), (std::vector<std::string>{"One", "One again", "One more", "Slash"}));
  ClosePage();
  boxes_.clear();
  // Adding the whole file.
  Import(body, OPML_ROW_ADD_ALL);
  EXPECT_EQ(ChannelsOnDisk(),
            (std::vector<std::string>{"News|Alpha|http://127.0.0.1/a", "News|Beta|HTTP://Feeds.Example:80/b",
                                      "Others|One|http://127.0.0.1/feed", "Others|Slash|http://127.0.0.1/feed/"}));
  EXPECT_EQ(boxes_, "New Channel Wizard: This channel is already subscribed and was not added again:\nAlpha here\n");
  ClosePage();
}

namespace {

class MergeFields : public CChannelListFields {
 public:
  HWND GetDialogWindow() const override { return nullptr; }
};

}  // namespace

// The sync service names a feed the list holds under another spelling:
// the merge writes its title and label onto that channel, keeps the
// address as stored, and adds no second channel.
TEST_F(AddressPathsTest, TheSyncMergeFindsAFeedSpeltOtherwise) {
  MergeFields fields;
  fields.m_pOpml = List();
  OnSubscriptionLabel(&fields, u"Beta renamed", u"http://feeds.example/b", u"tech");
  OnSubscriptionLabel(&fields, u"Gamma", u"http://feeds.example/c", u"tech");
  EXPECT_EQ(ChannelsOnDisk(),
            (std::vector<std::string>{"News|Alpha|http://127.0.0.1/a", "News|Beta renamed|HTTP://Feeds.Example:80/b",
                                      "Google Reader|Gamma|http://feeds.example/c"}));
  CString label;
  ASSERT_TRUE(List()->GetChannelAttribute(u"HTTP://Feeds.Example:80/b", u"label", label));
  EXPECT_EQ(label, CString(u"tech"));
  fields.m_pOpml = nullptr;
}

// A template naming one feed twice, spelt otherwise, and a feed the list
// holds under another spelling: adding all three adds the new feed once
// and names only the held one.
TEST_F(AddressPathsTest, ATemplateFeedSpeltOtherwiseIsAddedOnceAndOneTheListHoldsIsNamed) {
  WriteDeviceFile(u"\\Templates\\harbour.xml",
                  "<?xml version=\"1.0\"?><template version=\"1.0\" name=\"Harbour\">"
                  "<channel type=\"rss\"><name>Boats</name><url>http://127.0.0.1/boats</url></channel>"
                  "<channel type=\"rss\"><name>Boats again</name><url>HTTP://127.0.0.1:80/boats</url></channel>"
                  "<channel type=\"rss\"><name>Alpha</name><url>http://127.0.0.1:/a</url></channel>"
                  "<parse_article>return 1;</parse_article></template>\n");
  CNewWizardDlg wizard(List(), nullptr);
  ASSERT_TRUE(wizard.Create(IDD_NEW_WIZARD, nullptr));
  CTemplatesDisplayDlg page(u"\\Templates", &wizard);
  page.SetChannelDocument(List());
  ASSERT_TRUE(page.Create(IDD_TEMPLATES_PAGE, &wizard));
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return !page.GetScript(u"http://127.0.0.1/boats").IsEmpty(); }, 10000));
  for (const char16_t* url : {u"http://127.0.0.1/boats", u"HTTP://127.0.0.1:80/boats", u"http://127.0.0.1:/a"})
    wizard.m_chosenChannels.AddTail(url);
  page.OnOK();
  EXPECT_EQ(ChannelsOnDisk(),
            (std::vector<std::string>{"News|Alpha|http://127.0.0.1/a", "News|Beta|HTTP://Feeds.Example:80/b",
                                      "Others|Harbour - Boats|http://127.0.0.1/boats"}));
  EXPECT_EQ(boxes_, "New Channel Wizard: This channel is already subscribed and was not added again:\nHarbour - Alpha\n");
  if (page.m_hWnd) page.DestroyWindow();
  if (wizard.m_hWnd) wizard.DestroyWindow();
}
