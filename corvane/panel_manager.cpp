// The Panel Manager of this platform: a small host program standing in for
// the phone maker's home screen. It reads the panel list from the registry
// (HKEY_LOCAL_MACHINE "Software\HandsetMaker\PanelManager\Panels", the
// "Name" of each subkey), loads the panel plug-in "Corvane.dll", maps the
// plug-in's export ordinals 240 to 244 to the names it exports, and shows one
// panel: it makes the panel-info record for the panel named on the command
// line (else the first of the list), creates the panel under its own window
// and sends it 6024 (show full screen), as the home screen does when the
// panel comes up. The codes 6024 to 6027 that reach its window from
// outside (another program on the device's message bus) are handed to the
// panel window. WM_CLOSE, SIGTERM or SIGINT destroy the panel
// (DestroyPanel, which closes the hosted program) and end the program.
//
// Program name on the device: "PanelManager.exe"; its main window's class
// is "QuilletPanelManager". Exit codes: 0 after a close, 1 when the device
// root or the window cannot be made, 2 when the plug-in cannot be loaded or
// lacks an export, 3 when the plug-in refuses the panel.
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "corvane/corvane.h"
#include "display/display.h"
#include "gdi/gdi.h"
#include "gdi/surface.h"
#include "kernel/fs.h"
#include "kernel/kernel.h"
#include "kernel/module.h"
#include "kernel/process.h"
#include "kernel/registry.h"
#include "kernel/wstring.h"
#include "user/input.h"
#include "user/user.h"

namespace {

constexpr char16_t kWindowClass[] = u"QuilletPanelManager";

struct Plugin {
  HMODULE module = nullptr;
  CreatePanelProc createPanel = nullptr;
  PanelDlgProcProc dlgProc = nullptr;
  DestroyPanelProc destroyPanel = nullptr;
  QueryPanelProc queryPanel = nullptr;
  GetPanelValueProc getPanelValue = nullptr;
};

Plugin g_plugin;
HWND g_panel = nullptr;
std::u16string g_panelName;

// The export of the plug-in with this ordinal.
FARPROC ExportByOrdinal(HMODULE module, WORD ordinal) {
  for (const PanelExport& e : kPanelExports)
    if (e.ordinal == ordinal) return GetProcAddress(module, e.name);
  return nullptr;
}

bool LoadPlugin(Plugin* plugin) {
  plugin->module = LoadLibraryW(u"Corvane.dll");
  if (!plugin->module) return false;
  plugin->createPanel = reinterpret_cast<CreatePanelProc>(ExportByOrdinal(plugin->module, 240));
  plugin->dlgProc = reinterpret_cast<PanelDlgProcProc>(ExportByOrdinal(plugin->module, 241));
  plugin->destroyPanel = reinterpret_cast<DestroyPanelProc>(ExportByOrdinal(plugin->module, 242));
  plugin->queryPanel = reinterpret_cast<QueryPanelProc>(ExportByOrdinal(plugin->module, 243));
  plugin->getPanelValue = reinterpret_cast<GetPanelValueProc>(ExportByOrdinal(plugin->module, 244));
  return plugin->createPanel && plugin->dlgProc && plugin->destroyPanel && plugin->queryPanel &&
         plugin->getPanelValue;
}

// The names of the panels in the registry, in the key's order.
std::vector<std::u16string> PanelNames() {
  std::vector<std::u16string> names;
  HKEY panels = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, PANEL_REGISTRY_KEY, 0, KEY_READ, &panels) != ERROR_SUCCESS) return names;
  for (DWORD index = 0;; ++index) {
    WCHAR sub[256] = {0};
    DWORD length = 256;
    if (RegEnumKeyExW(panels, index, sub, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY key = nullptr;
    if (RegOpenKeyExW(panels, sub, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    WCHAR name[128] = {0};
    DWORD size = sizeof name - sizeof(WCHAR), type = 0;
    if (RegQueryValueExW(key, u"Name", nullptr, &type, reinterpret_cast<LPBYTE>(name), &size) == ERROR_SUCCESS &&
        type == REG_SZ && name[0])
      names.push_back(name);
    RegCloseKey(key);
  }
  RegCloseKey(panels);
  return names;
}

// The record the plug-in reads: the name, a non-zero word at 76 and 78 at 86.
std::vector<BYTE> PanelRecord(const std::u16string& name) {
  std::vector<BYTE> record(PANEL_INFO_SIZE, 0);
  const size_t chars = std::min<size_t>(name.size(), PANEL_INFO_FLAGS_OFFSET / sizeof(WCHAR) - 1);
  std::memcpy(record.data() + PANEL_INFO_NAME_OFFSET, name.data(), chars * sizeof(WCHAR));
  const DWORD flags = 1;
  const WORD version = PANEL_INFO_VERSION;
  std::memcpy(record.data() + PANEL_INFO_FLAGS_OFFSET, &flags, sizeof flags);
  std::memcpy(record.data() + PANEL_INFO_VERSION_OFFSET, &version, sizeof version);
  return record;
}

void ClosePanel() {
  if (g_plugin.destroyPanel) g_plugin.destroyPanel(1, 0);
  g_panel = nullptr;
}

void Paint(HWND window) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(window, &ps);
  RECT client;
  GetClientRect(window, &client);
  HBRUSH back = CreateSolidBrush(RGB(24, 40, 72));
  FillRect(hdc, &client, back);
  DeleteObject(back);
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, RGB(255, 255, 255));
  RECT band = client;
  std::u16string text = g_panel ? u"Panel: " + g_panelName : u"No panel";
  DrawTextW(hdc, text.c_str(), -1, &band, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  EndPaint(window, &ps);
}

LRESULT CALLBACK ManagerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_PANEL_SHOW_FULL:
    case WM_PANEL_FORWARD_1:
    case WM_PANEL_SHOW_AGAIN:
    case WM_PANEL_FORWARD_2:
      return g_panel && IsWindow(g_panel) ? SendMessageW(g_panel, message, wParam, lParam) : 0;
    case WM_CLOSE:
      ClosePanel();
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int main(int argc, char** argv) {
  qk::gdi::PrepareFonts();
  qk::SetProgramName(u"PanelManager.exe");
  qk::CatchEndSignals();
  if (!std::getenv("QUILLET_COMMAND_LINE")) qk::SetCommandLine(qk::JoinCommandLine(argc, argv));
  std::error_code ec;
  std::string root = qk::DeviceRoot();
  std::filesystem::create_directories(root, ec);
  if (!std::filesystem::is_directory(root, ec)) return 1;

  if (!LoadPlugin(&g_plugin)) {
    std::fputs("PanelManager: the panel plug-in Corvane.dll cannot be loaded\n", stderr);
    return 2;
  }
  DWORD value = 0;
  g_plugin.getPanelValue(&value);

  std::vector<std::u16string> args = qk::SplitCommandLine(GetCommandLineW());
  std::vector<std::u16string> names = PanelNames();
  g_panelName = !args.empty() ? args[0] : names.empty() ? std::u16string() : names.front();

  qk::display::ConnectScreen();
  WNDCLASSW wc{};
  wc.lpfnWndProc = ManagerProc;
  wc.lpszClassName = kWindowClass;
  wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, kWindowClass, u"Panel Manager", WS_VISIBLE, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                                GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr, nullptr, nullptr);
  if (!window) return 1;
  qk::display::OpenWindow("Quillet Panel Manager");

  const std::vector<BYTE> record = PanelRecord(g_panelName);
  g_panel = g_panelName.empty() ? nullptr : g_plugin.createPanel(record.data(), window);
  int code = 0;
  if (!g_panel) {
    std::fputs("PanelManager: the plug-in refused the panel\n", stderr);
    code = 3;
  } else {
    PostMessageW(g_panel, WM_PANEL_SHOW_FULL, 0, 0);
  }
  InvalidateRect(window, nullptr, TRUE);

  MSG msg;
  while (code == 0) {
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    // SIGTERM or SIGINT: the same steps as a close.
    if (qk::TakeProgramEnd() && IsWindow(window)) {
      SendMessageW(window, WM_CLOSE, 0, 0);
      continue;
    }
    break;
  }
  if (IsWindow(window)) {
    ClosePanel();
    DestroyWindow(window);
  }
  qk::display::CloseWindow();
  FreeLibrary(g_plugin.module);
  return code;
}
