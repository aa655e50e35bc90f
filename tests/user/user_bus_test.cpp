// Messages between two real programs on one device root: finding a window
// by class, posts, sends, WM_COPYDATA both ways, HWND_BROADCAST to several
// programs, registered message numbers shared by name, and sends to a hung
// or gone peer that give up instead of hanging; a window found only when
// its living owner answers for it, and text marshalled while other
// pointer-carrying system messages are refused.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "kernel/kernel.h"
#include "kernel/process.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "user/bus.h"
#include "user/user.h"

namespace {

struct ControllerState {
  std::map<DWORD, bool> ready;
  std::vector<std::pair<WPARAM, LPARAM>> echoes;
  std::vector<std::string> copies;
  std::vector<ULONG_PTR> copyTags;
  std::map<DWORD, UINT> pongs;  // peer pid -> its number for the shared name
  int broadcastsSeen = 0;
} g_state;

UINT g_ping = 0, g_pong = 0;

LRESULT ControllerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == g_pong) {
    g_state.pongs[static_cast<DWORD>(wParam)] = static_cast<UINT>(lParam);
    return 0;
  }
  if (msg == g_ping) {
    ++g_state.broadcastsSeen;
    return 0;
  }
  switch (msg) {
    case WM_USER + 3:
      g_state.echoes.emplace_back(wParam, lParam);
      return 0;
    case WM_USER + 4:
      g_state.ready[static_cast<DWORD>(wParam)] = true;
      return 0;
    case WM_COPYDATA: {
      auto* cds = reinterpret_cast<COPYDATASTRUCT*>(lParam);
      g_state.copies.emplace_back(static_cast<const char*>(cds->lpData), cds->cbData);
      g_state.copyTags.push_back(cds->dwData);
      return 1000 + static_cast<LRESULT>(cds->cbData);
    }
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

class BusTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    qtest::DeviceTest::SetUp();
    g_state = ControllerState();
    qk::SetProgramHost(u"Peer.exe", PEER_PATH);
    g_ping = RegisterWindowMessageW(u"Quillet.Test.Ping");
    g_pong = RegisterWindowMessageW(u"Quillet.Test.Pong");
    controller_ = qtest::CreateHostWindow(u"PeerController", ControllerProc, 10, 10, u"Controller");
    ASSERT_NE(controller_, nullptr);
  }
  void TearDown() override {
    for (auto& pi : peers_) {
      if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 1);
      WaitForSingleObject(pi.hProcess, 5000);
      CloseHandle(pi.hProcess);
      CloseHandle(pi.hThread);
    }
    DestroyWindow(controller_);
    qtest::DeviceTest::TearDown();
  }
  PROCESS_INFORMATION StartPeer(const std::u16string& cls, const std::u16string& title) {
    std::u16string line = u"window " + cls + u" \"" + title + u"\"";
    PROCESS_INFORMATION pi{};
    EXPECT_TRUE(CreateProcessW(u"\\Program Files\\Quillet\\Peer.exe", line.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, nullptr, &pi));
    peers_.push_back(pi);
    DWORD pid = pi.dwProcessId;
    EXPECT_TRUE(qk::PumpMessagesUntil([&] { return g_state.ready.count(pid) > 0; }, 10000));
    return pi;
  }
  HWND controller_ = nullptr;
  std::vector<PROCESS_INFORMATION> peers_;
};

TEST_F(BusTest, FindPostAndSendToAnotherProgram) {
  PROCESS_INFORMATION pi = StartPeer(u"PeerTarget", u"Peer One");
  HWND peer = FindWindowW(u"peertarget", nullptr);
  ASSERT_NE(peer, nullptr);
  EXPECT_EQ(FindWindowW(nullptr, u"Peer One"), peer);
  EXPECT_TRUE(IsWindow(peer));
  DWORD pid = 0;
  GetWindowThreadProcessId(peer, &pid);
  EXPECT_EQ(pid, pi.dwProcessId);

  EXPECT_EQ(SendMessageW(peer, WM_USER + 1, 20, 2), 42);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(PostMessageW(peer, WM_USER + 2, i, -i));
  ASSERT_TRUE(qk::PumpMessagesUntil([] { return g_state.echoes.size() == 3; }, 10000));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(g_state.echoes[i].first, static_cast<WPARAM>(i));
    EXPECT_EQ(g_state.echoes[i].second, static_cast<LPARAM>(-i));
  }
}

TEST_F(BusTest, CopyDataTravelsBothWaysWhileTheSenderWaits) {
  StartPeer(u"PeerTarget", u"Peer One");
  HWND peer = FindWindowW(u"PeerTarget", nullptr);
  std::string payload = "hello, \0world";
  payload.push_back('\0');
  COPYDATASTRUCT cds{77, static_cast<DWORD>(payload.size()), payload.data()};
  // The peer sends its echo back to us before it answers: we handle it while
  // we wait for that answer.
  EXPECT_EQ(SendMessageW(peer, WM_COPYDATA, reinterpret_cast<WPARAM>(controller_), reinterpret_cast<LPARAM>(&cds)),
            static_cast<LRESULT>(payload.size()));
  ASSERT_EQ(g_state.copies.size(), 1u);
  EXPECT_EQ(g_state.copies[0], "echo:" + payload);
  EXPECT_EQ(g_state.copyTags[0], 78u);
}

TEST_F(BusTest, BroadcastReachesEveryProgramAndRegisteredNumbersAgree) {
  PROCESS_INFORMATION a = StartPeer(u"PeerTarget", u"Peer A");
  PROCESS_INFORMATION b = StartPeer(u"PeerOther", u"Peer B");
  EXPECT_EQ(qk::MessageBusPeers().size(), 2u);
  EXPECT_TRUE(PostMessageW(HWND_BROADCAST, g_ping, 0, 0));
  ASSERT_TRUE(qk::PumpMessagesUntil([] { return g_state.pongs.size() == 2 && g_state.broadcastsSeen == 1; }, 10000));
  UINT shared = RegisterWindowMessageW(u"Quillet.Test.Shared");
  EXPECT_EQ(g_state.pongs[a.dwProcessId], shared);
  EXPECT_EQ(g_state.pongs[b.dwProcessId], shared);
  // A sent broadcast returns once every program has handled it.
  g_state.pongs.clear();
  SendMessageW(HWND_BROADCAST, g_ping, 0, 0);
  EXPECT_EQ(g_state.broadcastsSeen, 2);
  ASSERT_TRUE(qk::PumpMessagesUntil([] { return g_state.pongs.size() == 2; }, 10000));
}

// Programs join and leave between broadcasts, right after one another: each
// broadcast reaches exactly the programs on the bus at that moment.
TEST_F(BusTest, EachBroadcastReachesTheProgramsOnTheBusThen) {
  PROCESS_INFORMATION a = StartPeer(u"PeerTarget", u"Peer A");
  for (int round = 0; round < 2; ++round) {
    EXPECT_TRUE(PostMessageW(HWND_BROADCAST, g_ping, 0, 0));
    ASSERT_TRUE(qk::PumpMessagesUntil([] { return g_state.pongs.size() == 1; }, 10000));
    g_state.pongs.clear();
  }
  PROCESS_INFORMATION b = StartPeer(u"PeerOther", u"Peer B");
  EXPECT_TRUE(PostMessageW(HWND_BROADCAST, g_ping, 0, 0));
  ASSERT_TRUE(qk::PumpMessagesUntil([] { return g_state.pongs.size() == 2; }, 10000));
  EXPECT_EQ(g_state.pongs.count(b.dwProcessId), 1u);
  g_state.pongs.clear();

  HWND peerA = FindWindowW(u"PeerTarget", nullptr);
  ASSERT_NE(peerA, nullptr);
  PostMessageW(peerA, WM_CLOSE, 0, 0);
  ASSERT_EQ(qtest::WaitForExitCode(a.hProcess), 5u);
  EXPECT_EQ(qk::MessageBusPeers(), std::vector<DWORD>{b.dwProcessId});
  SendMessageW(HWND_BROADCAST, g_ping, 0, 0);
  ASSERT_TRUE(qk::PumpMessagesUntil([] { return g_state.pongs.size() == 1; }, 10000));
  EXPECT_EQ(g_state.pongs.count(b.dwProcessId), 1u);
}

TEST_F(BusTest, SendsToAHungOrGonePeerGiveUp) {
  PROCESS_INFORMATION pi = StartPeer(u"PeerTarget", u"Peer One");
  HWND peer = FindWindowW(u"PeerTarget", nullptr);
  DWORD_PTR result = 9;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SendMessageTimeoutW(peer, WM_USER + 9, 400, 0, SMTO_NORMAL, 100, &result), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));

  PostMessageW(peer, WM_CLOSE, 0, 0);
  ASSERT_EQ(qtest::WaitForExitCode(pi.hProcess), 5u);
  EXPECT_FALSE(IsWindow(peer));
  EXPECT_EQ(FindWindowW(u"PeerTarget", nullptr), nullptr);
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(SendMessageW(peer, WM_USER + 1, 1, 1), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_FALSE(PostMessageW(peer, WM_USER + 2, 0, 0));

  // A peer that dies while it owes the answer fails the send at once, not
  // at the end of a long time-out.
  PROCESS_INFORMATION doomed = StartPeer(u"PeerTarget", u"Peer Two");
  peer = FindWindowW(u"PeerTarget", nullptr);
  ASSERT_NE(peer, nullptr);
  HANDLE busy = CreateEventW(nullptr, TRUE, FALSE, u"peer-busy");
  ResetEvent(busy);
  std::thread killer([&] {
    // Once the peer has taken the message and hangs in it.
    EXPECT_EQ(WaitForSingleObject(busy, 10000), WAIT_OBJECT_0);
    TerminateProcess(doomed.hProcess, 9);
  });
  start = std::chrono::steady_clock::now();
  SetLastError(0);
  EXPECT_EQ(SendMessageTimeoutW(peer, WM_USER + 9, 20000, 0, SMTO_NORMAL, 20000, &result), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
  killer.join();
  CloseHandle(busy);
}

}  // namespace

namespace {

// The list of windows a program keeps on the bus, by process id.
std::string ListPath(const std::string& root, DWORD pid) { return root + "/.bus/" + std::to_string(pid) + ".windows"; }

HWND HandleOf(DWORD pid, uintptr_t low) {
  return reinterpret_cast<HWND>((static_cast<uintptr_t>(pid) << 32) | (low & 0xFFFFFFFFu));
}

}  // namespace

TEST_F(BusTest, AWindowIsFoundOnlyWhenItsLivingOwnerAnswersForIt) {
  PROCESS_INFORMATION a = StartPeer(u"PeerTarget", u"Peer A");
  PROCESS_INFORMATION b = StartPeer(u"PeerOther", u"Peer B");
  HWND winA = FindWindowW(u"PeerTarget", nullptr);
  HWND winB = FindWindowW(u"PeerOther", nullptr);
  ASSERT_NE(winA, nullptr);
  ASSERT_NE(winB, nullptr);
  std::string listA = qtest::ReadHostFile(ListPath(root_, a.dwProcessId));
  ASSERT_NE(listA.find("PeerTarget"), std::string::npos);

  // A is killed and leaves its list behind; its process id then comes back
  // as a program that never joined the bus. Where the kernel lets the next
  // process id be chosen, a waiting process really gets A's id; elsewhere
  // one stands in for it, with A's list put under its id.
  ASSERT_TRUE(TerminateProcess(a.hProcess, 9));
  ASSERT_EQ(WaitForSingleObject(a.hProcess, 5000), WAIT_OBJECT_0);
  ASSERT_TRUE(std::filesystem::exists(ListPath(root_, a.dwProcessId)));
  PROCESS_INFORMATION other{};
  bool reusedForReal = false;
  for (int attempt = 0; attempt < 20 && !reusedForReal; ++attempt) {
    std::ofstream last("/proc/sys/kernel/ns_last_pid");
    if (!(last << (a.dwProcessId - 1) << std::flush)) break;
    last.close();
    ASSERT_TRUE(CreateProcessW(u"\\Program Files\\Quillet\\Peer.exe", std::u16string(u"wait").data(), nullptr,
                               nullptr, FALSE, 0, nullptr, nullptr, nullptr, &other));
    peers_.push_back(other);
    reusedForReal = other.dwProcessId == a.dwProcessId;
    if (!reusedForReal) TerminateProcess(other.hProcess, 1);
  }
  if (!reusedForReal) {
    ASSERT_TRUE(CreateProcessW(u"\\Program Files\\Quillet\\Peer.exe", std::u16string(u"wait").data(), nullptr,
                               nullptr, FALSE, 0, nullptr, nullptr, nullptr, &other));
    peers_.push_back(other);
  }
  RecordProperty("pid_reused", reusedForReal ? "real" : "simulated");
  HWND reused = HandleOf(other.dwProcessId, reinterpret_cast<uintptr_t>(winA));
  char hex[32];
  if (!reusedForReal) {
    std::snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(reused)));
    qtest::WriteHostFile(ListPath(root_, other.dwProcessId), std::string(hex) + "\tPeerTarget\tPeer A\n");
  } else {
    EXPECT_EQ(reused, winA);
  }
  EXPECT_EQ(FindWindowW(u"PeerTarget", nullptr), nullptr);
  EXPECT_EQ(FindWindowW(nullptr, u"Peer A"), nullptr);
  EXPECT_FALSE(IsWindow(reused));
  EXPECT_FALSE(IsWindow(winA));
  EXPECT_FALSE(std::filesystem::exists(ListPath(root_, other.dwProcessId))) << "the stale list is cleared";
  EXPECT_EQ(qk::MessageBusPeers(), std::vector<DWORD>{b.dwProcessId});
  EXPECT_FALSE(PostMessageW(reused, WM_USER + 2, 1, 2));

  // A living program on the bus answers only for its own windows: a line
  // it did not write is not believed.
  std::snprintf(hex, sizeof hex, "%llx",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(HandleOf(b.dwProcessId, 0x7777))));
  std::string listB = qtest::ReadHostFile(ListPath(root_, b.dwProcessId));
  qtest::WriteHostFile(ListPath(root_, b.dwProcessId), std::string(hex) + "\tGhost\tGhost\n" + listB);
  EXPECT_EQ(FindWindowW(u"Ghost", nullptr), nullptr);
  EXPECT_FALSE(IsWindow(HandleOf(b.dwProcessId, 0x7777)));
  EXPECT_EQ(FindWindowW(u"PeerOther", nullptr), winB);
  EXPECT_TRUE(IsWindow(winB));

  // A program that closes cleanly (its last step ExitProcess) takes its
  // list off the bus itself, before anyone lists the peers and clears away
  // the lists of programs gone...
  PostMessageW(winB, WM_CLOSE, 0, 0);
  ASSERT_EQ(qtest::WaitForExitCode(b.hProcess), 5u);
  EXPECT_FALSE(std::filesystem::exists(ListPath(root_, b.dwProcessId)));
  // ... and its window with it.
  EXPECT_FALSE(IsWindow(winB));
  EXPECT_EQ(FindWindowW(u"PeerOther", nullptr), nullptr);
}

TEST_F(BusTest, TextTravelsAsTextAndOtherPointersAreRefused) {
  StartPeer(u"PeerTarget", u"Peer One");
  HWND peer = FindWindowW(u"PeerTarget", nullptr);
  ASSERT_NE(peer, nullptr);
  // Setting and reading another program's window text: the characters
  // travel, not the address of the caller's string.
  std::u16string title = u"Nachrichten \u65B0\u95FB \u05D7\u05D3\u05E9\u05D5\u05EA";
  EXPECT_TRUE(SendMessageW(peer, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title.c_str())));
  EXPECT_EQ(FindWindowW(nullptr, title.c_str()), peer);
  EXPECT_EQ(GetWindowTextLengthW(peer), static_cast<int>(title.size()));
  WCHAR buffer[64] = {};
  EXPECT_EQ(SendMessageW(peer, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(buffer)), static_cast<LRESULT>(title.size()));
  EXPECT_EQ(std::u16string(buffer), title);
  WCHAR small[6];
  std::fill(std::begin(small), std::end(small), u'#');
  EXPECT_EQ(SendMessageW(peer, WM_GETTEXT, 6, reinterpret_cast<LPARAM>(small)), 5);
  EXPECT_EQ(std::u16string(small), title.substr(0, 5));
  EXPECT_TRUE(SendMessageW(peer, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u"")));
  EXPECT_EQ(SendMessageW(peer, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(buffer)), 0);
  EXPECT_EQ(buffer[0], 0);

  // A setting change names its section as a string, or none; one that
  // names none may also be posted.
  SendMessageW(peer, WM_SETTINGCHANGE, 3, reinterpret_cast<LPARAM>(u"intl"));
  SendMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 4, 0);
  EXPECT_TRUE(PostMessageW(peer, WM_SETTINGCHANGE, 5, 0));
  ASSERT_TRUE(qk::PumpMessagesUntil([] { return g_state.copies.size() == 3; }, 10000));
  EXPECT_EQ(g_state.copies[0], "setting:intl");
  EXPECT_EQ(g_state.copyTags[0], 3u);
  EXPECT_EQ(g_state.copies[1], "setting:(none)");
  EXPECT_EQ(g_state.copies[2], "setting:(none)");
  EXPECT_EQ(g_state.copyTags[2], 5u);
  EXPECT_FALSE(PostMessageW(peer, WM_SETTINGCHANGE, 6, reinterpret_cast<LPARAM>(u"intl")));

  // System messages whose pointers cannot travel are refused at once, and
  // copied data is only ever sent, never posted.
  struct { HWND from; UINT_PTR id; UINT code; } header{};
  SetLastError(0);
  EXPECT_EQ(SendMessageW(peer, WM_NOTIFY, 1, reinterpret_cast<LPARAM>(&header)), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(PostMessageW(peer, WM_NOTIFY, 1, reinterpret_cast<LPARAM>(&header)));
  EXPECT_FALSE(PostMessageW(peer, WM_CTLCOLORSTATIC, 1, 2));
  EXPECT_FALSE(PostMessageW(peer, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u"posted")));
  std::string payload = "posted";
  COPYDATASTRUCT cds{1, static_cast<DWORD>(payload.size()), payload.data()};
  EXPECT_FALSE(PostMessageW(peer, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)));
  // Values still travel; the echo comes after anything the refused calls
  // might have let through.
  EXPECT_TRUE(PostMessageW(peer, WM_USER + 2, 7, 8));
  ASSERT_TRUE(qk::PumpMessagesUntil([] { return !g_state.echoes.empty(); }, 10000));
  ASSERT_EQ(g_state.echoes.size(), 1u);
  EXPECT_EQ(g_state.echoes[0], std::make_pair(WPARAM{7}, LPARAM{8}));
  EXPECT_EQ(g_state.copies.size(), 3u);
  EXPECT_EQ(GetWindowTextLengthW(peer), 0);
}

// A window's text set to what it was leaves its program's list as it was;
// a list taken off the bus (as a program does that finds the owner silent)
// is written again at the next change, even one that changes nothing.
TEST_F(BusTest, ATextSetToWhatItWasLeavesTheListAloneAndAListTakenAwayIsWrittenAgain) {
  PROCESS_INFORMATION pi = StartPeer(u"PeerTarget", u"Peer One");
  HWND peer = FindWindowW(u"PeerTarget", nullptr);
  ASSERT_NE(peer, nullptr);
  const std::string list = ListPath(root_, pi.dwProcessId);
  // A second name for the list's file keeps its inode from being reused by
  // a rewrite's new file.
  const std::string held = list + ".held";
  std::filesystem::create_hard_link(list, held);
  struct stat before {}, after {};
  ASSERT_EQ(::stat(held.c_str(), &before), 0);
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(SendMessageW(peer, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u"Peer One")));
  ASSERT_EQ(::stat(list.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "the list was written again for nothing";
  EXPECT_TRUE(SendMessageW(peer, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u"Peer Two")));
  EXPECT_EQ(FindWindowW(nullptr, u"Peer Two"), peer);
  EXPECT_EQ(FindWindowW(nullptr, u"Peer One"), nullptr);
  std::filesystem::remove(held);

  ASSERT_TRUE(std::filesystem::remove(list));
  EXPECT_EQ(FindWindowW(nullptr, u"Peer Two"), nullptr);
  EXPECT_TRUE(SendMessageW(peer, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u"Peer Two")));
  EXPECT_EQ(FindWindowW(nullptr, u"Peer Two"), peer);
}

// A program whose process id a dead program had joins with a fresh list,
// even before it has a window of its own (a single-instance check looks
// for windows first).
TEST_F(BusTest, AProgramJoiningUnderAReusedIdStartsAFreshList) {
  std::string other = root_ + "/Other Device";
  std::filesystem::create_directories(other + "/.bus");
  std::string list = ListPath(other, GetCurrentProcessId());
  char line[96];
  std::snprintf(line, sizeof line, "%llx\tStale\tLeft behind\n",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(HandleOf(GetCurrentProcessId(), 0x4242))));
  qtest::WriteHostFile(list, line);
  qk::SetDeviceRoot(other);
  qk::MessageBusPeers();  // joins the bus of that device
  std::string joined = qtest::ReadHostFile(list);
  qk::SetDeviceRoot(root_);
  EXPECT_TRUE(std::filesystem::exists(list));
  EXPECT_EQ(joined.find("Stale"), std::string::npos) << joined;
}
