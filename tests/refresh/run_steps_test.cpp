// Steps of one channel's refresh seen from outside: a synchronised feed's
// read mark through the merge, trim and compaction of the one held store;
// the site icon asked for again after a failed connection but not after an
// HTTP error; a channel taken off the list while its pictures come.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/url_download.h"
#include "kernel/kernel.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/screens/channel_files.h"
#include "quillet/ui/channel_list_view.h"
#include "refresh_fixture.h"
#include "support/net_servers.h"
#include "support/settings_registry.h"
#include "ventrel/ventrel.h"

namespace rtest {
namespace {

// A JSON string of bytes that the scripted server sends as they are (it
// sends its texts as latin-1).
std::string JsonBytes(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

std::string Ok(const std::string& body, const std::string& type = "text/plain") {
  return "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

std::string Rule(const std::string& path, const std::string& response, const std::string& extra = "") {
  return "{\"path\": " + JsonBytes(path) + ", \"times\": 0, \"response\": " + JsonBytes(response) + extra + "}";
}

// A site on a loopback port of its own that answers every request with one
// answer and counts the requests for its icon. Until Listen it is bound but
// not listening: a connection to it is refused, as to a site that is down.
class IconSite {
 public:
  IconSite() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size) != 0)
      return;
    port_ = ntohs(a.sin_port);
  }
  ~IconSite() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
  }
  int port() const { return port_; }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  int IconRequests() const { return icons_.load(); }
  bool Listen(const std::string& answer) {
    answer_ = answer;
    if (listen(fd_, 8) != 0) return false;
    thread_ = std::thread([this] { Serve(); });
    return true;
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      // The wait is bounded only so that the end of the site is seen.
      if (poll(&p, 1, 50) <= 0) continue;
      int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      std::string request;
      char buf[2048];
      while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd q{c, POLLIN, 0};
        if (poll(&q, 1, 10000) <= 0) break;
        ssize_t n = recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, size_t(n));
      }
      if (request.rfind("GET /favicon.ico ", 0) == 0) ++icons_;
      (void)!send(c, answer_.data(), answer_.size(), MSG_NOSIGNAL);
      shutdown(c, SHUT_WR);
      close(c);
    }
  }
  int fd_ = -1;
  int port_ = 0;
  std::string answer_;
  std::atomic<bool> stop_{false};
  std::atomic<int> icons_{0};
  std::thread thread_;
};

// The records of a store file as they lie in it, deleted ones included:
// their types, in file order.
std::vector<uint32_t> RecordTypes(const std::string& d) {
  std::vector<uint32_t> types;
  size_t pos = 0;
  auto u32 = [&](size_t at) {
    return uint32_t(uint8_t(d[at])) | uint32_t(uint8_t(d[at + 1])) << 8 | uint32_t(uint8_t(d[at + 2])) << 16 |
           uint32_t(uint8_t(d[at + 3])) << 24;
  };
  while (d.size() - pos >= 8) {
    types.push_back(u32(pos + 4));
    pos += 4 + size_t(u32(pos));
    if (pos > d.size()) break;
  }
  return types;
}

using RunStepsTest = RefreshTest;

// A synchronised channel whose feed comes with an item the device stored
// unread, now read on the service, beside two new ones; the store keeps
// three items, so the run trims the two oldest and compacts the file, all
// while the one store of the refresh holds it. The mark is in the file
// after the compaction, and the counts the run reports include it.
TEST_F(RunStepsTest, ASyncedReadMarkSurvivesTheTrimAndCompactionOfTheHeldStoreAndIsCounted) {
  ASSERT_TRUE(qtest::SetSettingDword(u"ArticlesNumber", 3));
  const std::string feedUrl = "http://sync.example/feed/a";
  const std::string x = "http://sync.example/a/x", y = "http://sync.example/a/y", z = "http://sync.example/a/z";
  const std::string xId = "tag:google.com,2005:reader/item/00x";
  std::string subscriptions = "<object><list name=\"subscriptions\"><object><string name=\"id\">feed/" + feedUrl +
                              "</string><string name=\"title\">Sync A</string><list name=\"categories\"/></object>"
                              "</list></object>";
  std::vector<Item> items = {{"X", x, "<p>x</p>", xId, true},
                             {"Y", y, "<p>y</p>", "tag:google.com,2005:reader/item/00y", false},
                             {"Z", z, "<p>z</p>", "tag:google.com,2005:reader/item/00z", false}};
  std::string rules = "{\"rules\": [" + Rule("/accounts/ClientLogin", Ok("SID=sid\n")) + ", " +
                      Rule("/reader/api/0/subscription/list", Ok(subscriptions)) + ", " +
                      Rule("/reader/atom/feed/" + feedUrl, Ok(Atom("A", "http://sync.example/", items))) + ", " +
                      Rule("/reader/api/0/token", Ok("tok")) + ", " + Rule("/reader/api/0/edit-tag", Ok("OK")) + "]}";
  const auto& certs = qnet::TestCertificates::Get();
  qnet::ScriptedServer sync;
  ASSERT_TRUE(sync.Start(rules, certs.serverCert, certs.serverKey));
  SetVentrel(u"Sync", 1);
  SetSyncAccount(sync.port(), u"secret");
  // What the device had: two old items and X, all unread.
  {
    CItemStore store(0);
    store.Open(DataPath("Ch001.bin"), 0, 0);
    store.AddPendingItem(u"Old 1", u"http://sync.example/a/o1", u"tag:google.com,2005:reader/item/0o1",
                         u"2026-11-01 10:00:00", ITEM_READ_UNREAD, 0, u"<p>o1</p>", u"Ch001-1-1.htm");
    store.AddPendingItem(u"Old 2", u"http://sync.example/a/o2", u"tag:google.com,2005:reader/item/0o2",
                         u"2026-11-02 10:00:00", ITEM_READ_UNREAD, 0, u"<p>o2</p>", u"Ch001-1-2.htm");
    store.AddPendingItem(u"X", W(x), W(xId), u"2026-12-07 10:00:00", ITEM_READ_UNREAD, 0, u"<p>x</p>",
                         u"Ch001-1-3.htm");
    ASSERT_TRUE(store.Commit());
  }
  LoadChannels({{1, "Google Reader", "Sync A", feedUrl}});
  dialog_->EnsureAgency()->SetCaFile(CString(qk::FromUtf8(certs.caFile)));

  ASSERT_TRUE(RefreshAndWait(60000));
  EXPECT_EQ(CountMessages("Quillet.Download.Refresh"), 1);
  // The file holds the three newest items and nothing deleted.
  std::string bytes = DataFile("Ch001.bin");
  std::vector<uint32_t> types = RecordTypes(bytes);
  EXPECT_EQ(types, (std::vector<uint32_t>{0, 0, 0}));
  std::vector<CItemRecord> records = Records(1);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(U(records[0].link), x);
  EXPECT_EQ(records[0].readFlag, DWORD(ITEM_READ_READ));
  EXPECT_EQ(U(records[1].link), y);
  EXPECT_EQ(records[1].readFlag, DWORD(ITEM_READ_UNREAD));
  EXPECT_EQ(U(records[2].link), z);
  EXPECT_EQ(records[2].readFlag, DWORD(ITEM_READ_UNREAD));
  // The counts: three items, two of them new, in the list and its file.
  EXPECT_EQ(ListAttribute(feedUrl, "itemCount"), "3");
  EXPECT_EQ(ListAttribute(feedUrl, "newItemCount"), "2");
  EXPECT_EQ(SavedAttribute(feedUrl, "itemCount"), "3");
  EXPECT_EQ(SavedAttribute(feedUrl, "newItemCount"), "2");
  CChannelListItem row;
  ASSERT_TRUE(dialog_->m_view.GetItem(dialog_->m_view.FindItemByUrl(W(feedUrl)), row));
  EXPECT_EQ(row.m_nItemCount, 3);
  EXPECT_EQ(row.m_nNewCount, 2);
  // The item read on the service is not marked read there again.
  for (const std::string& r : sync.Requests()) EXPECT_NE(r.find("POST /reader/api/0/edit-tag"), 0u) << r;
}

// A site icon that could not be fetched because the site could not be
// reached is asked for again by the next refresh of the same program run,
// and comes once the site is up; one that the site answered with an HTTP
// error is not asked for again.
TEST_F(RunStepsTest, AnIconOfASiteThatWasDownIsAskedForAgainAndOneThatAnsweredWithAnErrorIsNot) {
  IconSite down, missing;
  ASSERT_GT(down.port(), 0);
  ASSERT_GT(missing.port(), 0);
  ASSERT_TRUE(missing.Listen("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot here\n"));
  Serve("/feeds/c1.xml", Rss2("One", down.Url("/site/"), "", {{"One", down.Url("/site/1"), "<p>1</p>", ""}}));
  Serve("/feeds/c2.xml", Rss2("Two", missing.Url("/site/"), "", {{"Two", missing.Url("/site/1"), "<p>2</p>", ""}}));
  LoadChannels({{1, "News", "One", Url("/feeds/c1.xml")}, {2, "News", "Two", Url("/feeds/c2.xml")}});

  ASSERT_TRUE(RefreshAndWait(60000));
  EXPECT_EQ(Records(1).size(), 1u);
  EXPECT_EQ(missing.IconRequests(), 1);
  EXPECT_FALSE(DataFileExists("Ch001-Fav.ico"));
  EXPECT_FALSE(DataFileExists("Ch002-Fav.ico"));

  // The first site comes up.
  const std::string icon = std::string("\0\0\1\0", 4) + "icon of one";
  ASSERT_TRUE(down.Listen(Ok(icon, "image/x-icon")));
  ASSERT_TRUE(RefreshAndWait(60000));
  EXPECT_EQ(down.IconRequests(), 1);
  EXPECT_EQ(DataFile("Ch001-Fav.ico"), icon);
  EXPECT_EQ(missing.IconRequests(), 1);
  EXPECT_FALSE(DataFileExists("Ch002-Fav.ico"));
}

// A channel taken off the list (its category deleted, its files with it)
// after its feed was merged, while the first of its pictures comes: the
// run writes nothing of it after that: no picture or thumbnail, no feed
// file, no logo and no icon; it asks for none of them.
TEST_F(RunStepsTest, AChannelTakenOffTheListWhileItsPicturesComeGetsNoFileAfterwards) {
  SetUrlDownloadWaits(60000, 60000);
  const std::string first = Png(100, 80, 7);
  qnet::ScriptedServer pictures;
  ASSERT_TRUE(pictures.Start("{\"rules\": [" + Rule("/gated/one.png", Ok(first, "image/png"), ", \"until\": \"/open/go\"") +
                             ", " + Rule("/open/", "HTTP/1.1 204 No Content\r\nContent-Length: 0\r\nConnection: close\r\n\r\n") +
                             "]}"));
  Serve("/img/two.png", Png(100, 80, 9));
  Serve("/logo.png", Png(120, 60, 3));
  Serve("/favicon.ico", std::string("\0\0\1\0", 4) + "icon");
  Serve("/feeds/c1.xml",
        Rss2("Pictures", Url("/site/"), Url("/logo.png"),
             {{"One", Url("/site/1"), "<p><img src=\"" + pictures.Url("/gated/one.png") + "\"></p>", ""},
              {"Two", Url("/site/2"), "<p><img src=\"" + Url("/img/two.png") + "\"></p>", ""}}));
  // A channel that stays listed (a feed without a site link: no icon).
  Serve("/feeds/c2.xml", Rss2("Kept", "", "", {{"Kept", Url("/kept/1"), "<p>k</p>", ""}}));
  LoadChannels({{1, "Tech", "Pictures", Url("/feeds/c1.xml")}, {2, "News", "Kept", Url("/feeds/c2.xml")}});

  SendMessageW(frame_->GetSafeHwnd(), WM_COMMAND, ID_REFRESH_CHANNELS, 0);
  ASSERT_TRUE(PumpUntil([&] {
    for (const std::string& r : pictures.Requests())
      if (r.rfind("GET /gated/one.png ", 0) == 0) return true;
    return false;
  }));
  // The feed was merged: the store is there.
  ASSERT_TRUE(DataFileExists("Ch001.bin"));
  ASSERT_TRUE(dialog_->m_pOpml->RemoveCategory(u"Tech", DeleteChannelFiles));
  ASSERT_EQ(qnet::RawHttpGet(pictures.port(), "/open/go").rfind("HTTP/1.1 204", 0), 0u);
  ASSERT_TRUE(PumpUntil([&] { return CountMessages("Quillet.Download.Finished") == 1; }));

  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(Host(u"\\Program Files\\Quillet\\ChannelData"))) {
    std::string name = e.path().filename().string();
    if (IsChannelFileName(W(name), 1)) left.push_back(name);
  }
  std::string names;
  for (const std::string& name : left) names += name + " ";
  EXPECT_TRUE(left.empty()) << names;
  const std::string log = nginx_.AccessLog();
  for (const char* path : {"/img/two.png", "/logo.png", "/favicon.ico"})
    EXPECT_EQ(log.find(path), std::string::npos) << path;
  // Only the channel still listed was reported and kept its files.
  EXPECT_EQ(CountMessages("Quillet.Download.Refresh"), 1);
  EXPECT_TRUE(DataFileExists("Ch002.xml"));
  EXPECT_EQ(Records(2).size(), 1u);
}

}  // namespace
}  // namespace rtest
