// The refresh tests' device: the program's own application object, main
// frame, channel-list window and dialog; nginx on loopback serving a
// folder of feeds, pages and images; the scripted server for pages that
// stall or come when the test says so; the fetch program Ambrel itself,
// running an extraction script written for the tests; a top-level window
// that records the refresh's broadcasts.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/afx.h"
#include "quillet/feeds/item_store.h"
#include "quillet/frame/main_frame.h"
#include "quillet/frame/reader_app.h"
#include "refresh/feed_texts.h"
#include "support/device_fixture.h"
#include "support/http_server.h"

namespace rtest {

struct Channel {
  int number;
  std::string category, title, url;
};

class RefreshTest : public qtest::DeviceTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A file of the served folder.
  void Serve(const std::string& path, const std::string& bytes);
  std::string Url(const std::string& path) const { return nginx_.Url(path); }
  static CString W(const std::string& s);
  static std::string U(const CString& s);

  // Writes "Channels.opml" with these channels and loads it into the dialog.
  void LoadChannels(const std::vector<Channel>& channels);
  CString OpmlPath() const;
  // An attribute of a channel in the channel list as saved on disk.
  std::string SavedAttribute(const std::string& url, const std::string& name);
  // An attribute of a channel in the dialog's channel list (saved or not).
  std::string ListAttribute(const std::string& url, const std::string& name);

  // The Refresh command, then pumps until the refresh has ended
  // ("Quillet.Download.Finished"). False after timeoutMs.
  bool RefreshAndWait(int timeoutMs = 60000);
  bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 60000);
  // Broadcasts seen by the recorder since the last ClearMessages: the
  // registered names, "progress" for the progress message.
  std::vector<std::string> Messages() const;
  int CountMessages(const std::string& name) const;
  void ClearMessages();

  // "\Program Files\Quillet\ChannelData\<name>" and its host bytes.
  static CString DataPath(const std::string& name);
  std::string DataFile(const std::string& name) const { return ReadDeviceFile(DataPath(name)); }
  bool DataFileExists(const std::string& name) const { return DeviceFileExists(DataPath(name)); }
  // The live records of a channel's store, in file order.
  std::vector<CItemRecord> Records(int channel);

  // The fetch program's runs as the run log records them (logging is on
  // from EnableRunLog, also for the refreshes that follow): the page of
  // each start of the program (one of pages) and "exit 0x<code>" for each
  // end of it, in order.
  void EnableRunLog();
  void ClearRunLog();
  std::vector<std::string> ProgramRuns(const std::vector<std::string>& pages) const;

  static void SetVentrel(const char16_t* name, DWORD value);
  static void SetVentrelText(const char16_t* name, const char16_t* value);
  // The sync account me@example.com with the password, its service on the
  // loopback port given.
  static void SetSyncAccount(int port, const char16_t* password);

  std::unique_ptr<CReaderApp> app_;
  std::unique_ptr<CMainFrame> frame_;
  CChannelListDlg* dialog_ = nullptr;
  qtest::NginxServer nginx_;
  qtest::ScriptedHttpServer scripted_;
  std::string docroot_;
  HWND recorder_ = nullptr;
};

}  // namespace rtest
