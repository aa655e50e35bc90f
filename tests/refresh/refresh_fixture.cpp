#include "refresh_fixture.h"

#include <algorithm>
#include <filesystem>

#include "quillet/feeds/opml_xml.h"

#include "common/log.h"
#include "common/settings.h"
#include "common/url_download.h"
#include "gdi/image_codec.h"
#include "kernel/kernel.h"
#include "kernel/process.h"
#include "kernel/wstring.h"
#include "net/connmgr.h"
#include "quillet/refresh/download_manager.h"
#include "quillet/refresh/refresh_state.h"
#include "support/host_window.h"
#include "support/settings_registry.h"

namespace fs = std::filesystem;

namespace rtest {

namespace {

std::vector<std::string>* g_messages = nullptr;

LRESULT RecorderProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  static const char16_t* names[] = {MSG_DOWNLOAD_START, MSG_DOWNLOAD_REFRESH, MSG_DOWNLOAD_HEADLINES_FINISHED,
                                    MSG_DOWNLOAD_FINISHED, MSG_DOWNLOAD_ITEM_FULLTEXT};
  if (g_messages) {
    if (msg == WM_CHANNELS_DOWNLOAD_PROGRESS) g_messages->push_back("progress");
    for (const char16_t* name : names)
      if (msg == RegisterWindowMessageW(name)) g_messages->push_back(qk::ToUtf8(std::u16string(name)));
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

void RefreshTest::SetUp() {
  DeviceTest::SetUp();
  ResetCachedPaths();
  SetDownloadStop(FALSE);
  ClearUrlDownloadAbort();
  qk::connmgr::ScriptStatus(CONNMGR_STATUS_CONNECTED);
  qk::SetProgramHost(u"Ambrel.exe", AMBREL_PATH);
  SetFetchProgramWait(20000, 5000);
  // Long enough for any answer of a busy loopback server; the stalled
  // pages of the tests still fail within a few seconds.
  SetUrlDownloadWaits(10000, 5000);
  docroot_ = qnet::MakeTempFolder("refresh-docroot");
  ASSERT_TRUE(nginx_.Start(docroot_));
  ASSERT_TRUE(scripted_.Start());
  g_messages = new std::vector<std::string>();
  recorder_ = qtest::CreateHostWindow(u"RefreshRecorder", RecorderProc, 1, 1);
  app_ = std::make_unique<CReaderApp>();
  frame_ = std::make_unique<CMainFrame>();
  ASSERT_TRUE(frame_->Create(480, 800));
  dialog_ = &frame_->ChannelListWnd().Dialog();
  fs::create_directories(Host(u"\\Program Files\\Quillet\\ChannelData"));
}

void RefreshTest::TearDown() {
  if (app_) app_->DownloadManager().WaitForWorker(30000);
  frame_.reset();
  app_.reset();
  if (recorder_) DestroyWindow(recorder_);
  delete g_messages;
  g_messages = nullptr;
  nginx_.Stop();
  qnet::RemoveTree(docroot_);
  SetUrlDownloadWaits(30000, 50000);
  SetFetchProgramWait(60000, 5000);
  SetLogEnabled(0);
  SetDownloadStop(FALSE);
  ResetCachedPaths();
  DeviceTest::TearDown();
}

void RefreshTest::Serve(const std::string& path, const std::string& bytes) {
  fs::path host = fs::path(docroot_) / path.substr(1);
  fs::create_directories(host.parent_path());
  qtest::WriteHostFile(host.string(), bytes);
}

CString RefreshTest::W(const std::string& s) { return CString(qk::FromUtf8(s)); }
std::string RefreshTest::U(const CString& s) { return qk::ToUtf8(s.str()); }

CString RefreshTest::OpmlPath() const { return CString(u"\\Program Files\\Quillet\\Channels.opml"); }

void RefreshTest::LoadChannels(const std::vector<Channel>& channels) {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>Channels</title></head>"
                  "<body nextID=\"" + std::to_string(channels.size() + 1) + "\">";
  std::vector<std::string> categories;
  for (const Channel& c : channels)
    if (std::find(categories.begin(), categories.end(), c.category) == categories.end()) categories.push_back(c.category);
  for (const std::string& category : categories) {
    s += "<outline text=\"" + Escape(category) + "\">";
    for (const Channel& c : channels)
      if (c.category == category)
        s += "<outline type=\"rss\" text=\"" + Escape(c.title) + "\" uniqueID=\"" + std::to_string(c.number) +
             "\" xmlUrl=\"" + Escape(c.url) + "\"/>";
    s += "</outline>";
  }
  s += "</body></opml>\n";
  WriteDeviceFile(OpmlPath(), s);
  ASSERT_TRUE(dialog_->LoadChannelList(OpmlPath()));
}

std::string RefreshTest::SavedAttribute(const std::string& url, const std::string& name) {
  COpmlXML saved(nullptr, nullptr, 0);
  if (!saved.Load(OpmlPath())) return "<unreadable>";
  CString value;
  if (!saved.GetChannelAttribute(W(url), W(name), value)) return "<none>";
  return U(value);
}

std::string RefreshTest::ListAttribute(const std::string& url, const std::string& name) {
  CString value;
  if (!dialog_->m_pOpml || !dialog_->m_pOpml->GetChannelAttribute(W(url), W(name), value)) return "<none>";
  return U(value);
}

bool RefreshTest::PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  return qk::PumpMessagesUntil(done, DWORD(timeoutMs));
}

bool RefreshTest::RefreshAndWait(int timeoutMs) {
  int finished = CountMessages("Quillet.Download.Finished");
  SendMessageW(frame_->GetSafeHwnd(), WM_COMMAND, ID_REFRESH_CHANNELS, 0);
  return PumpUntil([&] { return CountMessages("Quillet.Download.Finished") > finished; }, timeoutMs);
}

std::vector<std::string> RefreshTest::Messages() const { return g_messages ? *g_messages : std::vector<std::string>(); }

int RefreshTest::CountMessages(const std::string& name) const {
  int n = 0;
  if (g_messages)
    for (const std::string& m : *g_messages) n += m == name;
  return n;
}

void RefreshTest::ClearMessages() {
  if (g_messages) g_messages->clear();
}

CString RefreshTest::DataPath(const std::string& name) {
  return CString(u"\\Program Files\\Quillet\\ChannelData\\") + W(name);
}

std::vector<CItemRecord> RefreshTest::Records(int channel) {
  char name[32];
  snprintf(name, sizeof name, "Ch%03d.bin", channel);
  CItemStore store(0);
  store.Open(DataPath(name), 0, 1);
  std::vector<CItemRecord> out;
  for (int n = 0; store.ReadRecord(n); ++n) out.push_back(store.Current());
  return out;
}

void RefreshTest::EnableRunLog() {
  ClearRunLog();
  SetLogEnabled(1);
  // A refresh turns the log on or off by its setting.
  ASSERT_TRUE(qtest::SetSettingDword(u"VentrelLog", 1));
}

void RefreshTest::ClearRunLog() { WriteDeviceFile(u"\\Program Files\\Quillet\\Quillet_RunLog.txt", ""); }

std::vector<std::string> RefreshTest::ProgramRuns(const std::vector<std::string>& pages) const {
  static const std::string exit = "Quillet know that Ambrel exits with code = ";
  std::vector<std::string> out;
  std::string log = ReadDeviceFile(u"\\Program Files\\Quillet\\Quillet_RunLog.txt");
  size_t at = 0;
  while (at < log.size()) {
    size_t end = log.find('\n', at);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(at, end - at);
    at = end + 1;
    size_t text = line.find("] ");
    if (text == std::string::npos) continue;
    line = line.substr(text + 2);
    if (line.rfind(exit, 0) == 0)
      out.push_back("exit " + line.substr(exit.size(), 10));
    else if (std::find(pages.begin(), pages.end(), line) != pages.end())
      out.push_back(line);
  }
  return out;
}

void RefreshTest::SetVentrel(const char16_t* name, DWORD value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Ventrel", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

void RefreshTest::SetSyncAccount(int port, const char16_t* password) {
  SetVentrelText(u"Username", u"me@example.com");
  SetVentrelText(u"Password", password);
  SetVentrelText(u"ServiceHost", qk::FromUtf8("localhost:" + std::to_string(port)).c_str());
}

void RefreshTest::SetVentrelText(const char16_t* name, const char16_t* value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Ventrel", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                 DWORD((std::char_traits<char16_t>::length(value) + 1) * 2));
  RegCloseKey(key);
}

}  // namespace rtest
