// The wizard's online feed search and its sync account page through the
// real "Quillet.exe", started on the test's own device root with its clock
// frozen and driven by taps, keys and soft keys. The feed-search service's
// reply is a file nginx serves on loopback; the sync service is the
// scripted server over TLS. Each page leaves pictures in the pictures
// folder, and the tests look at their pixels.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "gdi/image_codec.h"
#include "kernel/kernel.h"
#include "kernel/process.h"
#include "kernel/wstring.h"
#include "quillet/feeds/opml_xml.h"
#include "support/channel_list_file.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "support/http_server.h"
#include "support/net_servers.h"
#include "support/pictures.h"
#include "support/reader_fixture.h"
#include "support/remote_program.h"
#include "support/settings_registry.h"
#include "support/screen_checks.h"
#include "user/user.h"

namespace {


const char16_t* kList = u"\\Program Files\\Quillet\\ChannelData\\Channels.opml";
const char16_t* kValidate = u"\\Program Files\\Quillet\\ChannelData\\Validate~.xml";
const char16_t* kVentrel = u"Software\\Marrowby\\Quillet Reach\\Ventrel";

// The channels of the list file: "category|title|url", in document order.
std::vector<std::string> ChannelsOnDisk() { return qtest::ChannelsOnDisk(kList); }

// A value of the sync account as the program wrote it ("(none)" when absent).
std::string Account(const char16_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kVentrel, 0, KEY_READ, &key) != ERROR_SUCCESS) return "(none)";
  BYTE data[1024] = {0};
  DWORD type = 0, size = sizeof data - 2;
  LONG r = RegQueryValueExW(key, name, nullptr, &type, data, &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS) return "(none)";
  if (type == REG_DWORD) return "dword:" + std::to_string(*reinterpret_cast<DWORD*>(data));
  return qk::ToUtf8(reinterpret_cast<const char16_t*>(data));
}

// A form-encoded text as the program sends it: letters and digits kept,
// a blank as "+", every other byte of the UTF-8 as "%XX".
std::string Form(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (isalnum(c)) out += char(c);
    else if (c == ' ') out += '+';
    else {
      char hex[4];
      snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

// The scripted server's answer to a path, as often as asked.
std::string Json(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') out += '\\', out += char(c);
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += char(c);
  }
  return out + "\"";
}
std::string Answer(const std::string& path, const std::string& body) {
  std::string response = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                         "\r\nConnection: close\r\n\r\n" + body;
  return "{\"path\": " + Json(path) + ", \"response\": " + Json(response) + ", \"times\": 0}";
}

using qtest::Light;
using qtest::Text;

// The typed texts: capitals, punctuation and letters beyond ASCII.
const std::string kKeywords = "Harbour Café \"news\"";
const std::string kUser = "Åsa.O'Brien+news@Example.com";
const std::string kPassword = "Pä$$ wörd\"#1!";

class SearchTest : public qtest::ReaderProgramTest {
 protected:
  SearchTest() : ReaderProgramTest("quillet-search") {}
  void SetUp() override {
    ReaderProgramTest::SetUp();
    ASSERT_TRUE(qtest::SetSettingString(u"FeedSearchHost",
                                        qk::FromUtf8("127.0.0.1:" + std::to_string(nginx_.port())).c_str()));
  }
  void TearDown() override {
    unsetenv("SSL_CERT_FILE");
    ReaderProgramTest::TearDown();
  }
  void Start(const char* profile) {
    ASSERT_TRUE(qtest::StartReader(profile, &process_, &q_));
    ASSERT_TRUE(q_.Advance(200));  // the start-up load finds no list: the welcome page
    ASSERT_TRUE(q_.LeaveWelcomePage());  // then the wizard
  }
  // The search service's reply: quotes escaped inside titles (one beside a
  // comma), a character reference, tags and letters as "\u" escapes, a
  // literal backslash, an address with an escaped ampersand, a result
  // without title (dropped) and one that names a local file.
  void ServeReply() {
    const std::string reply =
        "{\"responseData\": {\"query\":\"Harbour Caf\\u00e9 \\\"news\\\"\",\"entries\":["
        "{\"url\":\"" + site_ + "/a.xml\",\"title\":\"\\\"Harbour, Quay\\\" Gazette &amp; Post\","
        "\"contentSnippet\":\"The \\\"quay\\\", daily\",\"link\":\"" + site_ + "/a\"},"
        "{\"url\":\"" + site_ + "/b.xml\",\"title\":\"\\u003cb\\u003eHarbour\\u003c/b\\u003e Radio \\\\ Café\","
        "\"contentSnippet\":\"\",\"link\":\"\"},"
        "{\"url\":\"" + site_ + "/c.xml?x=1\\u0026y=2\",\"title\":\"Night \\\"Ferry\\\" Notes\",\"link\":\"\"},"
        "{\"url\":\"" + site_ + "/d.xml\",\"title\":\"Unchosen\",\"link\":\"\"},"
        "{\"url\":\"" + site_ + "/e.xml\",\"contentSnippet\":\"no title\",\"link\":\"\"},"
        "{\"url\":\"file:///etc/passwd\",\"title\":\"Local file\",\"link\":\"\"}"
        "]}, \"responseDetails\": null, \"responseStatus\": 200}";
    std::filesystem::create_directories(docroot_ + "/ajax/services/feed");
    qtest::WriteHostFile(docroot_ + "/ajax/services/feed/find", reply);
  }
  // The channels the search is to add, in the order they are checked.
  std::vector<std::string> Expected() const {
    const std::string category = kKeywords;
    return {category + "|\"Harbour, Quay\" Gazette & Post|" + site_ + "/a.xml",
            category + "|Harbour Radio \\ Café|" + site_ + "/b.xml",
            category + "|Night \"Ferry\" Notes|" + site_ + "/c.xml?x=1&y=2"};
  }
  // The sync service with one subscription labelled "News"; the program
  // trusts its certificate and knows where it is, but has no account yet.
  bool StartSyncService() {
    const std::string feed = "http://sync.example/feed/one";
    const std::string subscriptions =
        "<object><list name=\"subscriptions\"><object><string name=\"id\">feed/" + feed +
        "</string><string name=\"title\">Synced One</string><list name=\"categories\"><object><string "
        "name=\"id\">user/1/label/News</string><string name=\"label\">News</string></object></list></object>"
        "</list></object>";
    const std::string entries =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>Synced"
        "</title><entry><title>Synced story</title><link href=\"" + feed + "/story/0\"/><id>tag:google.com,2005:"
        "reader/item/0001</id><updated>2026-12-08T10:00:00Z</updated><content type=\"html\">x</content></entry>"
        "</feed>\n";
    std::string rules = "{\"rules\": [" + Answer("/accounts/ClientLogin", "SID=sid\n") + ", " +
                        Answer("/reader/api/0/subscription/list", subscriptions) + ", " +
                        Answer("/reader/atom/feed/" + feed, entries) + ", " + Answer("/reader/api/0/token", "tok") +
                        ", " + Answer("/reader/api/0/edit-tag", "OK") + "]}";
    const auto& certs = qnet::TestCertificates::Get();
    if (!certs.ok || !sync_.Start(rules, certs.serverCert, certs.serverKey)) return false;
    setenv("SSL_CERT_FILE", certs.caFile.c_str(), 1);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kVentrel, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
      return false;
    std::u16string host = qk::FromUtf8("localhost:" + std::to_string(sync_.port()));
    RegSetValueExW(key, u"ServiceHost", 0, REG_SZ, reinterpret_cast<const BYTE*>(host.c_str()),
                   DWORD((host.size() + 1) * sizeof(char16_t)));
    RegCloseKey(key);
    return true;
  }
  // The login the sync service received last.
  std::string LoginBody() const {
    std::string body;
    for (const std::string& r : sync_.Requests())
      if (r.rfind("POST /accounts/ClientLogin", 0) == 0) body = r.substr(r.find("\r\n\r\n") + 4);
    return body;
  }
  qk::gdi::DecodedImage Seen(const std::string& name) { return ShotAndRead("search-" + name); }
  // Waits until the download box has gone and left the wizard in front.
  testing::AssertionResult BackFromBox(HWND wizard) {
    return q_.WaitFor([&] { return q_.ActiveWindow() == wizard && !DeviceFileExists(kValidate); }, 30000);
  }

  qnet::ScriptedServer sync_;
};

// The 480 x 800 touch screen: the rows' middles, the button bar.
constexpr int kRow1 = 196, kPitch = 82, kBar = 760;
int Row(int n) { return kRow1 + (n - 1) * kPitch; }

// A page shows these rows (their bands hold text) and nothing below them.
void PageShows(const qk::gdi::DecodedImage& p, int rows, const char* where) {
  for (int i = 1; i <= rows; ++i)
    EXPECT_GT(Light(p, 90, Row(i) - 20, 380, Row(i) + 20), 150) << where << ": no row " << i;
  EXPECT_EQ(Light(p, 0, Row(rows + 1) - 30, 480, kBar - 45), 0) << where << ": something below the rows";
}

TEST_F(SearchTest, ByTouchTheKeywordsFindQuotedTitlesAndThreeCheckedResultsAreAdded) {
  ServeReply();
  Start("");
  const HWND wizard = q_.ActiveWindow();
  ASSERT_TRUE(q_.Tap(240, Row(5)));  // "Search online for channels"
  ASSERT_TRUE(q_.Advance(10));
  PageShows(Seen("keywords-empty-480x800"), 2, "the empty search page");
  // The keywords row opens the one-field editor, with its input panel.
  ASSERT_TRUE(q_.Tap(240, Row(1)));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_NE(q_.ActiveWindow(), wizard);
  ASSERT_TRUE(q_.Type(qk::FromUtf8("  " + kKeywords + " ")));
  Seen("keywords-editor-480x800");
  ASSERT_TRUE(q_.SoftKey(2));  // "Save"
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_EQ(q_.ActiveWindow(), wizard);
  ASSERT_TRUE(q_.Tap(240, Row(2)));  // "Search online"
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(BackFromBox(wizard));
  ASSERT_TRUE(q_.Advance(10));
  // The query carries the keywords as typed (trimmed), form-encoded.
  EXPECT_NE(nginx_.WaitForLogLine("/ajax/services/feed/find").find(
                "/ajax/services/feed/find?v=1.0&q=" + Form(kKeywords)),
            std::string::npos)
      << nginx_.AccessLog();
  // "Redefine search" and five results: the one without a title is gone.
  const auto results = Seen("results-480x800");
  PageShows(results, 6, "the results");
  // Results 1 to 3 checked; the fourth twice, so not; the local file's
  // row checked too.
  for (int row : {2, 3, 4, 5, 5, 6}) {
    ASSERT_TRUE(q_.Tap(240, Row(row)));
    ASSERT_TRUE(q_.Advance(10));
  }
  const auto checked = Seen("results-checked-480x800");
  // A checked row shows its mark at its right end.
  for (int row : {2, 3, 4, 6})
    EXPECT_GT(Light(checked, 390, Row(row) - 25, 470, Row(row) + 25), Light(results, 390, Row(row) - 25, 470,
                                                                              Row(row) + 25) + 100)
        << "row " << row << " shows no mark";
  EXPECT_LE(Light(checked, 390, Row(5) - 25, 470, Row(5) + 25), Light(results, 390, Row(5) - 25, 470, Row(5) + 25))
      << "the row checked twice shows a mark";
  // The page's OK adds the checked results to the category of the
  // keywords and closes the wizard; the list is loaded again.
  ASSERT_TRUE(q_.Tap(48, kBar));
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != wizard; }));
  EXPECT_EQ(ChannelsOnDisk(), Expected());
  ASSERT_TRUE(q_.Advance(200));
  const auto channels = Seen("channels-480x800");
  EXPECT_GT(Light(channels, 60, 150, 480, 400), 500) << "the added channels are not listed";
}

TEST_F(SearchTest, ByTouchTheAccountIsWrittenAsEnteredAndTheNextRefreshSyncs) {
  QNET_REQUIRE_PEER(StartSyncService(), "python3");
  Start("");
  const HWND wizard = q_.ActiveWindow();
  ASSERT_TRUE(q_.Tap(240, Row(1)));  // "Configure Google Reader syncing"
  ASSERT_TRUE(q_.Advance(10));
  PageShows(Seen("account-empty-480x800"), 3, "the empty account page");
  auto edit = [&](int row, const std::string& text, const char* picture) {
    ASSERT_TRUE(q_.Tap(240, Row(row)));
    ASSERT_TRUE(q_.Advance(10));
    ASSERT_NE(q_.ActiveWindow(), wizard);
    ASSERT_TRUE(q_.Type(qk::FromUtf8(text)));
    if (picture) Seen(picture);
    ASSERT_TRUE(q_.SoftKey(2));  // "Save"
    ASSERT_TRUE(q_.Advance(10));
    ASSERT_EQ(q_.ActiveWindow(), wizard);
  };
  edit(1, kUser + " ", nullptr);
  EXPECT_EQ(Account(u"Username"), kUser);
  EXPECT_EQ(Account(u"Password"), "(none)");
  // With only the user name the sync row stays away.
  PageShows(Seen("account-user-480x800"), 3, "the page with the user name");
  edit(2, kPassword, "account-password-editor-480x800");
  EXPECT_EQ(Account(u"Password"), kPassword);
  // The file that holds the password is its owner's alone.
  struct stat hive {};
  ASSERT_EQ(stat(Host(u"\\Registry\\HKCU.reg").c_str(), &hive), 0);
  EXPECT_EQ(hive.st_mode & 0777, 0600u);
  edit(3, "News", "account-label-editor-480x800");
  EXPECT_EQ(Account(u"Label"), "News");
  // The sync row: on, off and on again, written each time.
  for (const char* expected : {"dword:1", "dword:0", "dword:1"}) {
    ASSERT_TRUE(q_.Tap(240, Row(4)));
    ASSERT_TRUE(q_.Advance(10));
    EXPECT_EQ(Account(u"Sync"), expected);
  }
  const auto page = Seen("account-480x800");
  PageShows(page, 4, "the account page");
  EXPECT_GT(Light(page, 390, Row(4) - 25, 470, Row(4) + 25), 100) << "the sync row shows no mark";
  // OK closes the wizard; nothing is added, nothing is reloaded.
  ASSERT_TRUE(q_.Tap(48, kBar));
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != wizard; }));
  EXPECT_TRUE(ChannelsOnDisk().empty());
  EXPECT_TRUE(sync_.Requests().empty());
  // The next refresh logs in with the account and takes the subscription
  // of the label, and its story.
  ASSERT_TRUE(q_.Tap(240, kBar));
  ASSERT_TRUE(WaitForRunEnd(1));
  EXPECT_EQ(LoginBody(), "Email=" + Form(kUser) + "&Passwd=" + Form(kPassword));
  EXPECT_EQ(ChannelsOnDisk(), std::vector<std::string>{"Google Reader|Synced One|http://sync.example/feed/one"});
  EXPECT_NE(ReadDeviceFile(kList).find("itemCount=\"1\""), std::string::npos) << ReadDeviceFile(kList);
  Seen("synced-480x800");
}

// The key device's face (240 x 320): rows at 34-pixel pitch under the band.
constexpr int kKeyRow1 = 71, kKeyPitch = 34;

TEST_F(SearchTest, ByKeysTheSearchAddsCheckedResultsAndTheAccountSurvivesCancel) {
  ServeReply();
  Start("keydevice");
  const HWND wizard = q_.ActiveWindow();
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(q_.Key(VK_DOWN));
  ASSERT_TRUE(q_.Key(VK_RETURN));  // "Search online for channels"
  ASSERT_TRUE(q_.Advance(200));
  // The keywords go into the row's own edit; the soft key searches.
  const HWND field = q_.FocusWindow();
  ASSERT_TRUE(q_.Type(qk::FromUtf8(kKeywords)));
  ASSERT_EQ(Text(field), kKeywords);
  Seen("k-keywords-240x320");
  ASSERT_TRUE(q_.SoftKey(1));  // "Search"
  ASSERT_TRUE(BackFromBox(wizard));
  ASSERT_TRUE(q_.Advance(10));
  const auto results = Seen("k-results-240x320");
  for (int i = 0; i < 6; ++i) {
    const int middle = kKeyRow1 + i * kKeyPitch;
    EXPECT_GT(Light(results, 36, middle - 8, 240, middle + 8), 30) << "no row " << i + 1;
  }
  // Down and Enter check the first three results.
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(q_.Key(VK_DOWN));
    ASSERT_TRUE(q_.Key(VK_RETURN));
    ASSERT_TRUE(q_.Advance(10));
  }
  Seen("k-results-checked-240x320");
  ASSERT_TRUE(q_.SoftKey(1));  // "Add Channels"
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != wizard; }));
  EXPECT_EQ(ChannelsOnDisk(), Expected());

  // The account: the wizard again from the New command.
  ASSERT_TRUE(q_.Advance(200));
  PostMessageW(q_.Window(), WM_COMMAND, 32795, 0);
  ASSERT_TRUE(q_.WaitFor([&] { return Text(q_.ActiveWindow()) == "Quillet"; }));
  ASSERT_TRUE(q_.Advance(10));
  const HWND again = q_.ActiveWindow();
  ASSERT_TRUE(q_.Key(VK_RETURN));  // the first row: "Configure Google Reader syncing"
  ASSERT_TRUE(q_.Advance(200));
  ASSERT_TRUE(q_.Type(qk::FromUtf8(kUser)));
  ASSERT_TRUE(q_.Key(VK_DOWN));  // the user name is written
  EXPECT_EQ(Account(u"Username"), kUser);
  const HWND password = q_.FocusWindow();
  ASSERT_TRUE(q_.Type(qk::FromUtf8(kPassword)));
  ASSERT_EQ(Text(password), kPassword);
  Seen("k-account-password-240x320");
  ASSERT_TRUE(q_.Key(VK_DOWN));
  EXPECT_EQ(Account(u"Password"), kPassword);
  ASSERT_TRUE(q_.Type(u"News"));
  ASSERT_TRUE(q_.Key(VK_DOWN));  // the sync row, now shown
  EXPECT_EQ(Account(u"Label"), "News");
  ASSERT_TRUE(q_.Key(VK_RETURN));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_EQ(Account(u"Sync"), "dword:1");
  const auto page = Seen("k-account-240x320");
  for (int i = 0; i < 4; ++i) {
    const int middle = kKeyRow1 + i * kKeyPitch;
    // (The password's row holds only its small stars.)
    EXPECT_GT(Light(page, 36, middle - 8, 240, middle + 8), 8) << "no account row " << i + 1;
  }
  // Cancel goes back to the choices with this page's row selected; Enter
  // opens it again with what was written.
  ASSERT_TRUE(q_.SoftKey(2));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Key(VK_RETURN));
  ASSERT_TRUE(q_.Advance(200));
  EXPECT_EQ(Text(q_.FocusWindow()), kUser);
  Seen("k-account-again-240x320");
  // The left soft key ends the wizard; the values stay.
  ASSERT_TRUE(q_.SoftKey(1));
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != again; }));
  EXPECT_EQ(Account(u"Password"), kPassword);
  EXPECT_EQ(Account(u"Sync"), "dword:1");
  EXPECT_EQ(ChannelsOnDisk(), Expected());
}

}  // namespace
