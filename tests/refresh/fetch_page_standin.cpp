// Stands in for the page-fetch program in the refresh tests: fetches the
// page named on its command line ("[-p proxy] "url" "output" ["script"]")
// into the output file, as the real program does before it runs the
// script, and appends "<url>|<script>" to "\standin-runs.txt" in the device
// root when it starts and "end|<url>" when it ends. The URL decides the rest:
//   ...wait...   after the page is written, waits for the named event
//                "standin-go" before it ends
//   ...hang...   after the page is written, runs a window until the stop
//                message WM_URL_DOWNLOAD_END (2226) arrives and ends with -1
#include <cstdio>
#include <string>
#include <vector>

#include "common/url_download.h"
#include "kernel/kernel.h"
#include "kernel/process.h"
#include "support/host_window.h"
#include "user/user.h"

namespace {

void Append(const std::string& line) {
  if (FILE* f = qk::DeviceFopen("standin-runs.txt", "ab")) {
    std::fwrite(line.data(), 1, line.size(), f);
    std::fputc('\n', f);
    std::fclose(f);
  }
}

std::string g_url;

LRESULT StandinProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_URL_DOWNLOAD_END) {
    Append("end|" + g_url);
    ExitProcess(0xFFFFFFFFu);
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

std::vector<std::u16string> Arguments(const std::u16string& line) {
  std::vector<std::u16string> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == u' ') ++i;
    if (i >= line.size()) break;
    std::u16string arg;
    if (line[i] == u'"') {
      size_t close = line.find(u'"', i + 1);
      if (close == std::u16string::npos) close = line.size();
      arg = line.substr(i + 1, close - i - 1);
      i = close + 1;
    } else {
      size_t end = line.find(u' ', i);
      if (end == std::u16string::npos) end = line.size();
      arg = line.substr(i, end - i);
      i = end;
    }
    out.push_back(arg);
  }
  return out;
}

}  // namespace

int main() {
  std::vector<std::u16string> args = Arguments(GetCommandLineW());
  size_t at = 0;
  if (args.size() > 1 && args[0] == u"-p") at = 2;
  if (args.size() < at + 2) ExitProcess(2);
  std::u16string url = args[at], out = args[at + 1];
  std::u16string script = args.size() > at + 2 ? args[at + 2] : std::u16string();
  g_url = qk::ToUtf8(url);
  Append(g_url + "|" + qk::ToUtf8(script));
  DWORD code = 0;
  CString error;
  HRESULT result = InternetDownloadFile(url.c_str(), out.c_str(), &code, error, nullptr, nullptr, nullptr);
  if (g_url.find("hang") != std::string::npos) {
    qtest::CreateHostWindow(u"RefreshStandinFetch", StandinProc, 1, 1);
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, u"standin-ready");
    SetEvent(ready);
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0)) DispatchMessageW(&m);
  }
  if (g_url.find("wait") != std::string::npos) {
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, u"standin-go");
    WaitForSingleObject(go, 20000);
  }
  Append("end|" + g_url);
  ExitProcess(result == 0 ? 0 : 1);
}
