// The reader's session in its real window on a virtual X server: the wait
// cursor as the desktop shows it over the window (read back from the
// server through the XFIXES extension) and as the busy sign on the device
// screen, and the end of the session when the X server goes away while a
// refresh runs.
#include <gtest/gtest.h>
#include <signal.h>
#include <tinyxml.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <functional>
#include <cstdlib>
#include <string>
#include <vector>

#include "gdi/image_codec.h"
#include "kernel/kernel.h"
#include "kernel/process.h"
#include "kernel/wstring.h"
#include "quillet/feeds/item_store.h"
#include "support/device_fixture.h"
#include "support/http_server.h"
#include "support/net_servers.h"
#include "support/pictures.h"
#include "support/remote_program.h"
#include "user/user.h"
#include "cursor_probe.h"
#include "cursor_session_fixture.h"

namespace {

constexpr UINT kAllRead = 32806;      // the channel list's "Mark All as Read"
constexpr UINT kRefresh = 32793;      // "Refresh"
constexpr UINT kExit = 32852;         // "Exit"
constexpr uint32_t kBusySign = 0x202020;  // the busy sign's ground

using qtest::CursorImage;
using qtest::CursorProbe;

class SessionTest : public qtest::CursorSessionTest {
 protected:
  SessionTest() : CursorSessionTest("quillet-session") {}

  // A channel list of the given channels (number, feed address), in one
  // category.
  void WriteChannels(const std::vector<std::pair<int, std::string>>& channels) {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>t</title>"
                    "</head><body nextID=\"900\"><outline text=\"News\" type=\"rss\" uniqueID=\"800\">";
    for (const auto& [number, url] : channels)
      s += "<outline text=\"Channel " + std::to_string(number) + "\" type=\"rss\" uniqueID=\"" +
           std::to_string(number) + "\" xmlUrl=\"" + url + "\"/>";
    s += "</outline></body></opml>\n";
    WriteDeviceFile(kList, s);
  }
  void ServeFeed(const std::string& name, int items) {
    std::string s = "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>" + name + "</title><link>" +
                    nginx_.Url("/") + "</link><description>d</description>";
    for (int i = 0; i < items; ++i)
      s += "<item><title>Story " + std::to_string(i) + "</title><link>" + nginx_.Url("/" + name + "/") +
           std::to_string(i) + "</link><description>text " + std::to_string(i) + "</description></item>";
    s += "</channel></rss>\n";
    qtest::WriteHostFile(docroot_ + "/" + name + ".xml", s);
  }
  // The centre of the device screen's picture (480 x 800): the busy sign's
  // ground at its middle and near its corner.
  bool BusySignShown(const std::string& name) {
    const std::string path = qtest::PicturesDir() + "/session-" + name + ".png";
    EXPECT_TRUE(q_.Shot(path));
    const std::string bytes = qtest::ReadHostFile(path);
    qk::gdi::DecodedImage image;
    if (!qk::gdi::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &image)) {
      ADD_FAILURE() << "no picture";
      return false;
    }
    auto at = [&](int x, int y) {
      const uint8_t* p = &image.bgra[(size_t(y) * image.width + x) * 4];
      return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    };
    return at(image.width / 2, image.height / 2) == kBusySign && at(image.width / 2 - 30, image.height / 2 - 30) == kBusySign;
  }
  // Whether the reader holds a connection open to the loopback port.
  bool ConnectedTo(int port) const {
    std::set<std::string> sockets;
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/fd", ec)) {
      std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
      if (target.rfind("socket:[", 0) == 0) sockets.insert(target.substr(8, target.size() - 9));
    }
    char remote[16];
    std::snprintf(remote, sizeof remote, ":%04X", port);
    std::ifstream table("/proc/net/tcp");
    std::string line;
    while (std::getline(table, line)) {
      std::istringstream fields(line);
      std::string slot, local, peer, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> slot >> local >> peer >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
      // 01: established.
      if (state == "01" && peer.size() > 5 && peer.substr(peer.size() - 5) == remote && sockets.count(inode))
        return true;
    }
    return false;
  }
  void EndReader() {
    PostMessageW(q_.Window(), WM_COMMAND, kExit, 0);
    EXPECT_EQ(qtest::WaitForExitCode(process_, 30000), 0u);
    CloseHandle(process_);
    process_ = nullptr;
  }
};

// The wait cursor from the reader's start until its channel list has been
// loaded, over the window and on the screen, and gone after; gone too when
// the list cannot be read. Marking every channel read shows it and takes
// it away again.
TEST_F(SessionTest, TheWaitCursorShowsWhileTheWorkRunsAndGoesAfterItAlsoWhenItFails) {
  const CursorImage watch = probe_.Watch();
  ASSERT_GT(watch.width, 0);
  ServeFeed("c0", 2);
  WriteChannels({{100, nginx_.Url("/c0.xml")}});
  Start("");
  probe_.PointInto(window_, 240, 400);
  // The clock stands still: the list's load has not come yet.
  ASSERT_TRUE(q_.Settle());
  const CursorImage loading = probe_.Shown();
  EXPECT_TRUE(loading.SameLook(watch)) << "the desktop's wait cursor does not show while the list loads";
  EXPECT_TRUE(BusySignShown("loading"));
  ASSERT_TRUE(Until([&] { return !probe_.Shown().SameLook(watch); }));
  EXPECT_FALSE(BusySignShown("loaded"));
  EXPECT_NE(qtest::ReadHostFile(qk::HostPath(kList)).find("Channel 100"), std::string::npos);

  // A step of its own from start to end: the wait cursor comes, then goes.
  (void)probe_.Changes([](const std::vector<unsigned long>&) { return true; }, 0);
  PostMessageW(q_.Window(), WM_COMMAND, kAllRead, 0);
  ASSERT_TRUE(q_.Settle());
  auto cameAndWent = [&](const std::vector<unsigned long>& serials) {
    for (size_t i = 0; i + 1 < serials.size(); ++i)
      if (serials[i] == loading.serial && serials.back() != loading.serial) return true;
    return false;
  };
  const std::vector<unsigned long> changes = probe_.Changes(cameAndWent, 10000);
  EXPECT_TRUE(cameAndWent(changes)) << changes.size() << " changes of the cursor";
  EXPECT_FALSE(probe_.Shown().SameLook(watch));
  EXPECT_FALSE(BusySignShown("marked"));
  EndReader();

  // A list that does not read: the load fails, and the wait cursor goes.
  WriteDeviceFile(kList, "<?xml version=\"1.0\"?>\n<opml version=\"1.0\"><body><outline text=\"News\" xmlUrl=");
  Start("");
  probe_.PointInto(window_, 240, 400);
  ASSERT_TRUE(q_.Settle());
  EXPECT_TRUE(probe_.Shown().SameLook(watch));
  EXPECT_TRUE(BusySignShown("loading-broken"));
  ASSERT_TRUE(Until([&] { return !probe_.Shown().SameLook(watch); }));
  EXPECT_FALSE(BusySignShown("broken-loaded"));
  EndReader();
}

// The X server killed while a refresh waits on a feed that answers
// nothing: the reader stops the refresh as Exit does, says on stderr that
// the display was lost and ends with its own status, never an abort, its
// channel list and item stores whole.
TEST_F(SessionTest, ALostDisplayEndsTheSessionAsExitDoesWithARefreshRunning) {
  // The second channel's feed comes at 16 KB/s, for two minutes.
  ServeFeed("c0", 3);
  std::filesystem::create_directories(docroot_ + "/slow");
  qtest::WriteHostFile(docroot_ + "/slow/big.xml", "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>Big"
                       "</title><description>" + std::string(2 << 20, 'x') + "</description></channel></rss>\n");
  WriteChannels({{100, nginx_.Url("/c0.xml")}, {101, nginx_.Url("/slow/big.xml")}});
  const std::string errors = Host(u"\\") + "/reader-stderr.txt";
  Start("", errors);
  ASSERT_TRUE(q_.Advance(200));
  PostMessageW(q_.Window(), WM_COMMAND, kRefresh, 0);
  const char16_t* store = u"\\Program Files\\Quillet\\ChannelData\\Ch100.bin";
  ASSERT_TRUE(Until([&] { return DeviceFileExists(store) && ConnectedTo(nginx_.port()); }));
  // The refresh is running: it takes in the slow feed.
  ASSERT_EQ(WaitForSingleObject(process_, 0), WAIT_TIMEOUT);
  probe_.Close();
  // The server itself, under the watchdog that started it.
  std::ifstream children("/proc/" + std::to_string(xvfb_.pid()) + "/task/" + std::to_string(xvfb_.pid()) +
                         "/children");
  pid_t server = 0;
  ASSERT_TRUE(children >> server);
  ASSERT_EQ(kill(server, SIGKILL), 0);
  DWORD code = qtest::WaitForExitCode(process_, 30000);
  EXPECT_EQ(code, 3u) << "exit code " << code << "; stderr: " << qtest::ReadHostFile(errors);
  const std::string said = qtest::ReadHostFile(errors);
  EXPECT_NE(said.find("The display " + display_ + " was lost: the program ends."), std::string::npos) << said;
  EXPECT_EQ(said.find("terminate called"), std::string::npos) << said;
  // The channel list parses and holds both channels.
  TiXmlDocument list;
  ASSERT_TRUE(list.LoadFile(qk::HostPath(kList).c_str())) << ReadDeviceFile(kList);
  int channels = 0;
  TiXmlElement* body = list.RootElement() ? list.RootElement()->FirstChildElement("body") : nullptr;
  ASSERT_NE(body, nullptr);
  for (TiXmlElement* category = body->FirstChildElement("outline"); category;
       category = category->NextSiblingElement("outline"))
    for (TiXmlElement* c = category->FirstChildElement("outline"); c; c = c->NextSiblingElement("outline"))
      channels += c->Attribute("xmlUrl") != nullptr;
  EXPECT_EQ(channels, 2);
  // The refreshed channel's store reads whole: its three stories.
  CItemStore items(0);
  items.Open(store, 0, 1);
  std::vector<std::string> titles;
  for (int n = 0; items.ReadRecord(n); ++n) {
    if (items.Current().type & ITEM_TYPE_ERROR) continue;
    titles.push_back(qk::ToUtf8(items.Current().title.str()));
  }
  std::sort(titles.begin(), titles.end());
  EXPECT_EQ(titles, (std::vector<std::string>{"Story 0", "Story 1", "Story 2"}));
  CloseHandle(process_);
  process_ = nullptr;
}

}  // namespace
