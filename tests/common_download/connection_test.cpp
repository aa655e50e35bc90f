// The connection wrapper against scripted connection-manager statuses: the
// quick probe, the question to the user, the connection thread's broadcasts
// for every status, and its end.
#include <gtest/gtest.h>

#include <vector>

#include "common/connection.h"
#include "common/log.h"
#include "framework/afx.h"
#include "kernel/kernel.h"
#include "net/connmgr.h"
#include "shell/shellexec.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "support/settings_registry.h"

namespace {

std::vector<WPARAM> g_statuses;

LRESULT StatusProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CONNECTION_STATUS) {
    g_statuses.push_back(wParam);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

class ConnectionTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    qtest::DeviceTest::SetUp();
    g_statuses.clear();
    qk::connmgr::UseHostNetwork();
    qk::shell::ClearExecutedCommands();
    window_ = qtest::CreateHostWindow(u"StatusWatcher", StatusProc, 1, 1);
    SetLogEnabled(1);
  }
  void TearDown() override {
    theConnection.StopThread();
    qk::PumpMessages();
    qk::SetMessageBoxHook(nullptr);
    qk::connmgr::UseHostNetwork();
    SetLogEnabled(0);
    DestroyWindow(window_);
    qtest::DeviceTest::TearDown();
  }
  // Pumps until the statuses seen so far are exactly these.
  bool SeenStatuses(std::vector<WPARAM> expected) {
    return qk::PumpMessagesUntil([&] { return g_statuses == expected; }, 5000);
  }
  std::string RunLog() { return ReadDeviceFile(u"\\Program Files\\Quillet\\Quillet_RunLog.txt"); }
  HWND window_ = nullptr;
};

TEST_F(ConnectionTest, QuickProbeCountsConnectedAndDisabledAsConnected) {
  for (DWORD status : {CONNMGR_STATUS_CONNECTED, CONNMGR_STATUS_CONNECTIONDISABLED}) {
    qk::connmgr::UseHostNetwork();
    qk::connmgr::ScriptStatus(status);
    EXPECT_TRUE(CanConnectQuickly(FALSE));
    auto requests = qk::connmgr::Requests();
    ASSERT_EQ(requests.size(), 1u);
    // The probe only asks; it is released at once without caching.
    EXPECT_TRUE(requests[0].info.bDisabled);
    EXPECT_FALSE(requests[0].sync);
    EXPECT_EQ(requests[0].info.dwPriority, static_cast<DWORD>(CONNMGR_PRIORITY_USERINTERACTIVE));
    EXPECT_EQ(requests[0].info.ulMaxConnLatency, 4000u);
    EXPECT_TRUE(requests[0].info.guidDestNet == IID_DestNetInternet);
    EXPECT_EQ(qk::connmgr::Releases(), std::vector<LONG>{0});
  }
  qk::PumpMessages();
  EXPECT_TRUE(g_statuses.empty());
  EXPECT_NE(RunLog().find("We can quickly connect to that path."), std::string::npos);
}

TEST_F(ConnectionTest, NoFastPathAndFailedProbeAreBroadcast) {
  qk::connmgr::ScriptStatus(CONNMGR_STATUS_WAITINGCONNECTION);
  EXPECT_FALSE(CanConnectQuickly(TRUE));
  EXPECT_EQ(qk::connmgr::Requests()[0].info.dwFlags, static_cast<DWORD>(CONNMGR_FLAG_PROXY_HTTP));
  EXPECT_TRUE(SeenStatuses({36}));
  qk::connmgr::ScriptProbeTimeout(true);
  EXPECT_FALSE(CanConnectQuickly(FALSE));
  EXPECT_TRUE(SeenStatuses({36, 41}));
  EXPECT_EQ(qk::connmgr::Releases().size(), 2u);  // also the probe that never answered
  std::string log = RunLog();
  EXPECT_NE(log.find("No fast connection to that path."), std::string::npos);
  EXPECT_NE(log.find("Unable using current network configuration."), std::string::npos);
}

TEST_F(ConnectionTest, UserIsAskedAndNoMeansNoConnection) {
  qk::connmgr::ScriptStatus(CONNMGR_STATUS_NOPATHTODESTINATION);
  std::u16string text, caption;
  UINT type = 0;
  qk::SetMessageBoxHook([&](HWND owner, const std::u16string& t, const std::u16string& c, UINT ty) {
    EXPECT_EQ(owner, window_);
    text = t;
    caption = c;
    type = ty;
    return IDNO;
  });
  EXPECT_FALSE(ConnectForUrl(window_, FALSE));
  EXPECT_EQ(text, u"No data connection available.  Are you sure you want to connect anyway?");
  EXPECT_EQ(caption, u"Confirm Connect");
  EXPECT_EQ(type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND));
  EXPECT_FALSE(theConnection.HasThread());
  EXPECT_TRUE(SeenStatuses({36}));
}

TEST_F(ConnectionTest, YesHoldsTheConnectionAndReportsEveryStatus) {
  qk::connmgr::ScriptStatus(CONNMGR_STATUS_NOPATHTODESTINATION);
  qk::connmgr::ScriptSyncResult(S_OK, CONNMGR_STATUS_CONNECTED);
  qk::connmgr::ScriptProxy(u"proxy.operator:8080");
  qk::SetMessageBoxHook([](HWND, const std::u16string&, const std::u16string&, UINT) { return IDYES; });
  EXPECT_TRUE(ConnectForUrl(window_, TRUE));
  EXPECT_TRUE(SeenStatuses({36, 16}));
  auto requests = qk::connmgr::Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_TRUE(requests[1].sync);
  EXPECT_FALSE(requests[1].info.bDisabled);
  EXPECT_EQ(requests[1].info.dwFlags, 0xFu);  // every proxy kind

  // Every change reaches the thread in order, however fast they come.
  qk::connmgr::ChangeStatus(CONNMGR_STATUS_WAITINGCONNECTION);
  qk::connmgr::ChangeStatus(CONNMGR_STATUS_CONNECTED);
  qk::connmgr::ChangeStatus(CONNMGR_STATUS_SUSPENDED);  // no handler: ignored
  qk::connmgr::ChangeStatus(CONNMGR_STATUS_DISCONNECTED);
  EXPECT_TRUE(SeenStatuses({36, 16, 32}));
  theConnection.StopThread();
  std::string log = RunLog();
  size_t establishing = log.find("Establishing the connection http://www.google.com/, using proxy");
  size_t waiting = log.find("We are waiting for the connection");
  size_t connected = log.find("Connected to network via proxy: proxy.operator:8080");
  size_t disconnected = log.find("We are disconnected");
  size_t released = log.find("Released connection");
  ASSERT_NE(establishing, std::string::npos) << log;
  ASSERT_NE(waiting, std::string::npos) << log;
  ASSERT_NE(connected, std::string::npos) << log;
  ASSERT_NE(disconnected, std::string::npos) << log;
  ASSERT_NE(released, std::string::npos) << log;
  EXPECT_LT(establishing, waiting);
  EXPECT_LT(waiting, connected);
  EXPECT_LT(connected, disconnected);
  EXPECT_LT(disconnected, released);
  // Neither waiting nor connected ends the hold, and neither reports an error.
  EXPECT_TRUE(qk::shell::ExecutedCommands().empty());
  PROXY_CONFIG config = theConnection.ProxyConfig();
  EXPECT_TRUE(theConnection.ProxyFound());
  EXPECT_EQ(std::u16string(config.szProxyServer), u"proxy.operator:8080");
  // A plain disconnect lets the connection manager cache the connection.
  EXPECT_EQ(qk::connmgr::Releases().back(), 1);
  EXPECT_EQ(theConnection.LastStatus(), static_cast<DWORD>(CONNMGR_STATUS_DISCONNECTED));
}

TEST_F(ConnectionTest, FreeConnectionsOffConnectsWithoutAskingAndFailuresReport) {
  ASSERT_TRUE(qtest::SetSettingDword(u"UseFreeConnections", 0));
  qk::connmgr::ScriptStatus(CONNMGR_STATUS_NOPATHTODESTINATION);
  qk::connmgr::ScriptSyncResult(E_FAIL, CONNMGR_STATUS_CONNECTIONFAILED);
  qk::SetMessageBoxHook([](HWND, const std::u16string&, const std::u16string&, UINT) {
    ADD_FAILURE() << "asked although UseFreeConnections is 0";
    return IDNO;
  });
  EXPECT_TRUE(ConnectForUrl(window_, FALSE));
  // No connection: the error report and the release, but no 16.
  EXPECT_TRUE(SeenStatuses({36, 32}));
  theConnection.StopThread();
  auto shell = qk::shell::ExecutedCommands();
  ASSERT_EQ(shell.size(), 1u);
  EXPECT_EQ(shell[0].file, u":MSREMNET");
  EXPECT_EQ(shell[0].parameters, u"-CMERROR 0x21 -report");
  EXPECT_NE(RunLog().find("Encountered state : 33"), std::string::npos);
  EXPECT_EQ(qk::connmgr::Releases().back(), 0);
}

TEST_F(ConnectionTest, ARequestThatFailsWithoutAStatusLogsItsErrorCode) {
  ASSERT_TRUE(qtest::SetSettingDword(u"UseFreeConnections", 0));
  qk::connmgr::ScriptStatus(CONNMGR_STATUS_NOPATHTODESTINATION);
  qk::connmgr::ScriptSyncResult(E_FAIL, CONNMGR_STATUS_UNKNOWN);
  EXPECT_TRUE(ConnectForUrl(window_, FALSE));
  EXPECT_TRUE(SeenStatuses({36, 32}));
  theConnection.StopThread();
  EXPECT_NE(RunLog().find("Encountered Error 0x80004005"), std::string::npos) << RunLog();
  auto shell = qk::shell::ExecutedCommands();
  ASSERT_EQ(shell.size(), 1u);
  EXPECT_EQ(shell[0].parameters, u"-CMERROR 0x80004005 -report");
  EXPECT_EQ(theConnection.LastStatus(), static_cast<DWORD>(E_FAIL));
}

TEST_F(ConnectionTest, AHeldDirectConnectionEndsOnTheWakeEvent) {
  ASSERT_TRUE(qtest::SetSettingDword(u"UseFreeConnections", 0));
  qk::connmgr::ScriptStatus(CONNMGR_STATUS_NOPATHTODESTINATION);
  qk::connmgr::ScriptSyncResult(S_OK, CONNMGR_STATUS_CONNECTED);
  EXPECT_TRUE(ConnectForUrl(window_, FALSE));
  EXPECT_TRUE(SeenStatuses({36, 16}));
  EXPECT_EQ(qk::connmgr::HeldConnections(), 1);
  // A plain stop (as at exit) ends the hold through the wake event.
  theConnection.StopThread();
  EXPECT_TRUE(SeenStatuses({36, 16, 32}));
  std::string log = RunLog();
  EXPECT_NE(log.find("Establishing the connection http://www.google.com/, without proxy"), std::string::npos) << log;
  EXPECT_EQ(qk::connmgr::Requests().back().info.dwFlags, 0u);
  EXPECT_EQ(qk::connmgr::HeldConnections(), 0);
  EXPECT_EQ(qk::connmgr::Releases().back(), 0);
}

TEST_F(ConnectionTest, FailureStateWhileHeldEndsTheThreadAndAReconnectReplacesIt) {
  ASSERT_TRUE(qtest::SetSettingDword(u"UseFreeConnections", 0));
  qk::connmgr::ScriptStatus(CONNMGR_STATUS_NOPATHTODESTINATION);
  qk::connmgr::ScriptSyncResult(S_OK, CONNMGR_STATUS_CONNECTED);
  EXPECT_TRUE(ConnectForUrl(window_, FALSE));
  EXPECT_TRUE(SeenStatuses({36, 16}));
  // A second connect ends the held connection first.
  EXPECT_TRUE(ConnectForUrl(window_, FALSE));
  EXPECT_TRUE(SeenStatuses({36, 16, 36, 32, 16}));
  qk::connmgr::ChangeStatus(CONNMGR_STATUS_CONNECTIONLINKFAILED);
  EXPECT_TRUE(SeenStatuses({36, 16, 36, 32, 16, 32}));
  theConnection.StopThread();
  EXPECT_EQ(qk::shell::ExecutedCommands().back().parameters, u"-CMERROR 0x2a -report");
  EXPECT_EQ(qk::connmgr::Releases().back(), 0);
}

TEST_F(ConnectionTest, DestroyingAConnectionWaitsForItsThread) {
  qk::connmgr::ScriptStatus(CONNMGR_STATUS_CONNECTED);
  {
    CLoggedConnection local;
    EXPECT_EQ(local.Connect(u"http://feeds.example/rss", FALSE), 0);
    EXPECT_TRUE(SeenStatuses({16}));
    EXPECT_TRUE(local.QueryProxy(nullptr) == FALSE);
    // The operator's proxy, without its credentials.
    qk::connmgr::ScriptProxy(u"proxy.operator:8080");
    EXPECT_TRUE(local.QueryProxy(nullptr));
    PROXY_CONFIG config = local.ProxyConfig();
    EXPECT_EQ(std::u16string(config.szProxyServer), u"proxy.operator:8080");
    EXPECT_EQ(config.szUsername[0], 0);
    EXPECT_EQ(config.szPassword[0], 0);
  }
  // The thread ended inside the destructor, with its release broadcast.
  EXPECT_TRUE(SeenStatuses({16, 32}));
  EXPECT_EQ(qk::connmgr::HeldConnections(), 0);
}

}  // namespace
