// A refresh whose synchronised channel's feed the sync service cuts short:
// the part that came is never parsed as the feed, so what the channel
// stored stays as it was, its feed file too, and no part is left behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "refresh_fixture.h"
#include "support/net_servers.h"
#include "support/settings_registry.h"
#include "sync_rules.h"
#include "ventrel/ventrel.h"

namespace rtest {
namespace {

class SyncCutShortTest : public RefreshTest {};

TEST_F(SyncCutShortTest, AFeedCutShortKeepsWhatTheChannelStored) {
  const std::string a = "http://sync.example/feed/a";
  const std::string list = "<object><list name=\"subscriptions\"><object><string name=\"id\">feed/" + a +
                           "</string><string name=\"title\">Sync A</string><list name=\"categories\"></list>"
                           "</object></list></object>";
  const std::vector<Item> first = {{"S1", "http://sync.example/a/1", "<p>s1</p>", "tag:google.com,2005:reader/item/1"},
                                   {"S2", "http://sync.example/a/2", "<p>s2</p>", "tag:google.com,2005:reader/item/2"}};
  std::vector<Item> later = first;
  later.insert(later.begin(), {"S3", "http://sync.example/a/3", "<p>s3</p>", "tag:google.com,2005:reader/item/3"});
  // The later feed, whole but for its end: it stops right after the new
  // entry, so what came reads as a feed with that entry.
  const std::string whole = Atom("A", "http://sync.example/", later);
  const std::string part = whole.substr(0, whole.find("</entry>") + 8);
  const std::string announced = "HTTP/1.1 200 OK\r\nContent-Type: application/atom+xml\r\nContent-Length: " +
                                std::to_string(whole.size()) + "\r\n\r\n" + part;
  char size[16];
  snprintf(size, sizeof size, "%zx", part.size());
  const std::string chunked = "HTTP/1.1 200 OK\r\nContent-Type: application/atom+xml\r\nTransfer-Encoding: chunked"
                              "\r\n\r\n" + std::string(size) + "\r\n" + part + "\r\n";
  // The first refresh fetches the feed twice, whole; the next one finds it
  // cut short: before its announced length (the first attempt and its
  // retry), then without its last chunk (the second attempt and its retry).
  const std::string feedPath = "/reader/atom/feed/" + a;
  std::string rules = "{\"rules\": [" + Rule("/accounts/ClientLogin", Ok("SID=sid\n"), ", \"times\": 0") + ", " +
                      Rule("/reader/api/0/subscription/list", Ok(list), ", \"times\": 0") + ", " +
                      Rule(feedPath, Ok(Atom("A", "http://sync.example/", first)), ", \"times\": 2") + ", " +
                      Rule(feedPath, announced, ", \"times\": 2") + ", " + Rule(feedPath, chunked, ", \"times\": 0") +
                      "]}";
  const auto& certs = qnet::TestCertificates::Get();
  ASSERT_TRUE(certs.ok) << "the openssl tool did not make the test certificates";
  qnet::ScriptedServer sync;
  ASSERT_TRUE(sync.Start(rules, certs.serverCert, certs.serverKey));
  SetSyncAccount(sync.port(), u"secret");
  SetVentrel(u"Sync", 1);
  LoadChannels({{2, "Google Reader", "Sync A", a}});
  dialog_->EnsureAgency()->SetCaFile(CString(qk::FromUtf8(certs.caFile)));
  auto feedRequests = [&] {
    int n = 0;
    for (const std::string& r : sync.Requests()) n += r.find("GET " + feedPath) == 0;
    return n;
  };

  ASSERT_TRUE(RefreshAndWait(60000));
  ASSERT_EQ(feedRequests(), 2);
  const std::vector<CItemRecord> stored = Records(2);
  ASSERT_EQ(stored.size(), 2u);
  const std::string storedFeed = DataFile("Ch002.xml");
  ASSERT_NE(storedFeed.find("tag:google.com,2005:reader/item/2"), std::string::npos);
  const std::string storedCount = SavedAttribute(a, "itemCount");

  ASSERT_TRUE(RefreshAndWait(60000));
  EXPECT_EQ(feedRequests(), 6);
  const std::vector<CItemRecord> after = Records(2);
  EXPECT_EQ(after.size(), stored.size());
  EXPECT_EQ(CountLink(after, "http://sync.example/a/1"), 1);
  EXPECT_EQ(CountLink(after, "http://sync.example/a/2"), 1);
  EXPECT_EQ(CountLink(after, "http://sync.example/a/3"), 0);
  // A failed synchronised download records no error item.
  EXPECT_EQ(CountLink(after, "http://127.0.0.1/lasterror"), 0);
  EXPECT_EQ(DataFile("Ch002.xml"), storedFeed);
  EXPECT_FALSE(DataFileExists("Ch002~.xml")) << DataFile("Ch002~.xml");
  EXPECT_EQ(SavedAttribute(a, "itemCount"), storedCount);
}

}  // namespace
}  // namespace rtest
