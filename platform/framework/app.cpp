#include "framework/app.h"

#include <atomic>
#include <cstring>
#include <vector>

namespace {
std::atomic<CWinApp*> g_app{nullptr};
}

CWinApp* AfxGetApp() { return g_app.load(); }

CWinApp::CWinApp(LPCWSTR appName) {
  m_bAutoDelete = FALSE;
  if (appName) m_strAppName = appName;
  m_pszAppName = m_strAppName.GetString();
  g_app = this;
}

CWinApp::~CWinApp() {
  CWinApp* self = this;
  g_app.compare_exchange_strong(self, nullptr);
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return static_cast<int>(m_msgCur.wParam); }

int AfxWinMain(HINSTANCE instance, LPCWSTR commandLine, int showCommand) {
  CWinApp* app = AfxGetApp();
  if (!app) return -1;
  if (instance) app->m_hInstance = instance;
  if (!app->m_hInstance) app->m_hInstance = GetModuleHandleW(nullptr);
  app->m_lpCmdLine = commandLine ? commandLine : u"";
  app->m_nCmdShow = showCommand;
  if (!app->InitInstance()) {
    if (app->m_pMainWnd && app->m_pMainWnd->m_hWnd) app->m_pMainWnd->DestroyWindow();
    return app->ExitInstance();
  }
  return app->Run();
}

void CWinApp::SetRegistryKey(LPCWSTR company) {
  m_strRegistryKey = company ? company : u"";
  m_pszRegistryKey = m_strRegistryKey.GetString();
}

HKEY CWinApp::GetAppRegistryKey() {
  if (m_strRegistryKey.IsEmpty() || m_strAppName.IsEmpty()) return nullptr;
  CString path = CString(u"Software\\") + m_strRegistryKey + u"\\" + m_strAppName;
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return nullptr;
  return key;
}

HKEY CWinApp::GetSectionKey(LPCWSTR section) {
  HKEY app = GetAppRegistryKey();
  if (!app) return nullptr;
  HKEY key = nullptr;
  LONG r = RegCreateKeyExW(app, section, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  RegCloseKey(app);
  return r == ERROR_SUCCESS ? key : nullptr;
}

namespace {
// Opens an existing section for reading without creating it.
HKEY OpenSection(CWinApp* app, LPCWSTR section) {
  if (app->m_strRegistryKey.IsEmpty() || app->m_strAppName.IsEmpty() || !section) return nullptr;
  CString path = CString(u"Software\\") + app->m_strRegistryKey + u"\\" + app->m_strAppName + u"\\" + section;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
  return key;
}
}  // namespace

UINT CWinApp::GetProfileInt(LPCWSTR section, LPCWSTR entry, int defaultValue) {
  HKEY key = OpenSection(this, section);
  if (!key) return UINT(defaultValue);
  DWORD type = 0, value = 0, size = sizeof value;
  LONG r = RegQueryValueExW(key, entry, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return UINT(defaultValue);
  return value;
}

CString CWinApp::GetProfileString(LPCWSTR section, LPCWSTR entry, LPCWSTR defaultValue) {
  HKEY key = OpenSection(this, section);
  if (!key) return CString(defaultValue);
  DWORD type = 0, size = 0;
  LONG r = RegQueryValueExW(key, entry, nullptr, &type, nullptr, &size);
  CString result(defaultValue);
  if (r == ERROR_SUCCESS && type == REG_SZ) {
    std::vector<BYTE> buf(size + 2, 0);
    DWORD got = size;
    if (RegQueryValueExW(key, entry, nullptr, &type, buf.data(), &got) == ERROR_SUCCESS) {
      result = CString(reinterpret_cast<LPCWSTR>(buf.data()), int(wcsnlen(reinterpret_cast<LPCWSTR>(buf.data()), got / 2)));
    }
  }
  RegCloseKey(key);
  return result;
}

BOOL CWinApp::WriteProfileInt(LPCWSTR section, LPCWSTR entry, int value) {
  HKEY key = GetSectionKey(section);
  if (!key) return FALSE;
  DWORD v = DWORD(value);
  LONG r = RegSetValueExW(key, entry, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}

BOOL CWinApp::WriteProfileString(LPCWSTR section, LPCWSTR entry, LPCWSTR value) {
  if (!entry) {
    HKEY app = GetAppRegistryKey();
    if (!app) return FALSE;
    LONG r = RegDeleteKeyW(app, section);
    RegCloseKey(app);
    return r == ERROR_SUCCESS;
  }
  HKEY key = GetSectionKey(section);
  if (!key) return FALSE;
  LONG r;
  if (!value) {
    r = RegDeleteValueW(key, entry);
  } else {
    r = RegSetValueExW(key, entry, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                       DWORD((wcslen(value) + 1) * sizeof(WCHAR)));
  }
  RegCloseKey(key);
  return r == ERROR_SUCCESS;
}
