// Open and save file dialogs (see filedlg.h).
#include "shell/filedlg.h"

#include <algorithm>
#include <memory>

#include "gdi/surface.h"
#include "kernel/fs.h"
#include "kernel/resource.h"
#include "kernel/wstring.h"
#include "shell/aygshell.h"
#include "user/dialog.h"
#include "user/input.h"

#ifndef VK_BACK
#define VK_BACK 0x08
#endif

namespace {

const char16_t kDialogClass[] = u"ShellFileDialog";
constexpr int kMaxAttempts = 16;
DWORD g_error = 0;

qk::shell::FileDialogHook& Hook() {
  static qk::shell::FileDialogHook hook;
  return hook;
}

int D(int n) { return n * qk::gdi::ScreenDpi() / 96; }

std::u16string Lower(std::u16string s) {
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return s;
}

bool IsFolder(const std::u16string& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}
bool Exists(const std::u16string& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::u16string FolderOf(const std::u16string& path) {
  size_t slash = path.find_last_of(u'\\');
  return slash == std::u16string::npos ? u"\\" : path.substr(0, slash + 1);
}

// The common part of the three dialogs.
struct Dialog {
  qk::shell::FileDialogRequest request;
  LPWSTR file = nullptr;
  DWORD maxFile = 0;
  LPWSTR fileTitle = nullptr;
  DWORD maxFileTitle = 0;
  WORD* fileOffset = nullptr;
  WORD* fileExtension = nullptr;
};

std::vector<std::pair<std::u16string, std::u16string>> ParseFilter(LPCWSTR filter) {
  std::vector<std::pair<std::u16string, std::u16string>> out;
  if (!filter) return out;
  // Bounded: at most 64 pairs of at most 1024 characters each.
  for (int pair = 0; pair < 64 && *filter; ++pair) {
    std::u16string desc(filter, wcsnlen(filter, 1024));
    filter += desc.size() + 1;
    if (!*filter) break;
    std::u16string patterns(filter, wcsnlen(filter, 1024));
    filter += patterns.size() + 1;
    out.push_back({desc, patterns});
  }
  return out;
}

std::vector<std::u16string> Patterns(const qk::shell::FileDialogRequest& r) {
  std::vector<std::u16string> out;
  if (r.filters.empty()) return {u"*.*"};
  size_t i = r.filterIndex >= 1 && r.filterIndex <= r.filters.size() ? r.filterIndex - 1 : 0;
  std::u16string list = r.filters[i].second;
  size_t at = 0;
  while (at <= list.size()) {
    size_t semi = list.find(u';', at);
    if (semi == std::u16string::npos) semi = list.size();
    std::u16string p = list.substr(at, semi - at);
    if (!p.empty()) out.push_back(p);
    at = semi + 1;
  }
  if (out.empty()) out.push_back(u"*.*");
  return out;
}

enum class Check { Accept, Ask, Refuse };

// Turns a chosen name into the dialog's path and checks it as the dialog
// does; the message tells why a name was refused.
Check Resolve(const qk::shell::FileDialogRequest& r, std::u16string name, std::u16string* path,
              std::u16string* message) {
  while (!name.empty() && name.back() == u' ') name.pop_back();
  if (name.empty()) {
    *message = u"Enter a file name.";
    return Check::Refuse;
  }
  if (name.find_first_of(u"/:*?\"<>|") != std::u16string::npos) {
    *message = u"The file name includes characters that cannot be used: / : * ? \" < > |";
    return Check::Refuse;
  }
  std::u16string full = name[0] == u'\\' ? name : r.folder + name;
  size_t slash = full.find_last_of(u'\\');
  std::u16string base = full.substr(slash + 1);
  if (base.empty()) {
    *message = u"Enter a file name.";
    return Check::Refuse;
  }
  if (base.find(u'.') == std::u16string::npos && !r.defaultExtension.empty()) full += u"." + r.defaultExtension;
  if (IsFolder(full)) {
    *message = u"This is a folder: choose a file.";
    return Check::Refuse;
  }
  if ((r.flags & (OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST)) && !IsFolder(FolderOf(full)) && FolderOf(full) != u"\\") {
    *message = u"The folder does not exist.";
    return Check::Refuse;
  }
  if (!r.save && (r.flags & OFN_FILEMUSTEXIST) && !Exists(full)) {
    *message = u"The file does not exist.";
    return Check::Refuse;
  }
  *path = full;
  if (r.save && (r.flags & OFN_OVERWRITEPROMPT) && Exists(full)) return Check::Ask;
  return Check::Accept;
}

bool ConfirmOverwrite(const qk::shell::FileDialogRequest& r, const std::u16string& path) {
  std::u16string text = path.substr(path.find_last_of(u'\\') + 1) + u" already exists.\nDo you want to replace it?";
  return MessageBoxW(r.owner, text.c_str(), r.title.c_str(), MB_YESNO | MB_ICONWARNING) == IDYES;
}

// The dialog's window -------------------------------------------------------

struct Entry {
  std::u16string name;
  bool folder = false;
  bool up = false;
};

struct Ui {
  Dialog* dialog = nullptr;
  std::u16string folder;
  std::u16string name;  // the typed or chosen name
  std::vector<Entry> entries;
  int selected = -1;
  int scroll = 0;  // first row shown
  bool done = false;
  std::optional<std::u16string> result;
  HFONT font = nullptr;
  HFONT bold = nullptr;
};

int RowHeight() { return D(24); }

int ListTop(const Ui& ui) { return D(26) + D(22) + (ui.dialog->request.save ? D(30) : 0); }

void Fill(Ui& ui) {
  ui.entries.clear();
  ui.selected = -1;
  ui.scroll = 0;
  if (ui.folder != u"\\") ui.entries.push_back({u"..", true, true});
  std::vector<Entry> folders, files;
  std::vector<std::u16string> patterns = Patterns(ui.dialog->request);
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW((ui.folder + u"*.*").c_str(), &fd);
  if (find != INVALID_HANDLE_VALUE) {
    int count = 0;
    do {
      Entry e{fd.cFileName, (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, false};
      if (e.name == u"." || e.name == u".." || qk::shell::IsPlatformEntry(ui.folder, e.name)) continue;
      if (e.folder) {
        folders.push_back(e);
      } else {
        for (const auto& p : patterns)
          if (qk::WildcardMatch(p.c_str(), e.name.c_str())) {
            files.push_back(e);
            break;
          }
      }
    } while (++count < 5000 && FindNextFileW(find, &fd));
    FindClose(find);
  }
  auto byName = [](const Entry& a, const Entry& b) { return Lower(a.name) < Lower(b.name); };
  std::sort(folders.begin(), folders.end(), byName);
  std::sort(files.begin(), files.end(), byName);
  ui.entries.insert(ui.entries.end(), folders.begin(), folders.end());
  ui.entries.insert(ui.entries.end(), files.begin(), files.end());
}

void Accept(HWND window, Ui& ui) {
  std::u16string name = ui.name;
  if (!ui.dialog->request.save && (ui.selected < 0 || ui.entries[ui.selected].folder)) return;
  qk::shell::FileDialogRequest r = ui.dialog->request;
  r.folder = ui.folder;
  std::u16string path, message;
  Check c = Resolve(r, name, &path, &message);
  if (c == Check::Refuse) {
    MessageBoxW(window, message.c_str(), r.title.c_str(), MB_OK | MB_ICONWARNING);
    return;
  }
  if (c == Check::Ask && !ConfirmOverwrite(r, path)) return;
  ui.result = path;
  ui.done = true;
}

LRESULT CALLBACK DialogProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* ui = reinterpret_cast<Ui*>(GetWindowLongW(window, GWL_USERDATA));
  switch (msg) {
    case WM_CREATE:
      SetWindowLongW(window, GWL_USERDATA,
                     reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      RECT rc;
      GetClientRect(window, &rc);
      HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
      FillRect(dc, &rc, white);
      DeleteObject(white);
      if (ui) {
        SetBkMode(dc, TRANSPARENT);
        HGDIOBJ old = SelectObject(dc, ui->bold);
        COLORREF hl = qk::gdi::GetScreenConfig().highlight;
        RECT band{0, 0, rc.right, D(26)};
        HBRUSH b = CreateSolidBrush(hl);
        FillRect(dc, &band, b);
        DeleteObject(b);
        SetTextColor(dc, RGB(255, 255, 255));
        RECT t = band;
        t.left += D(6);
        DrawTextW(dc, ui->dialog->request.title.c_str(), -1, &t, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
        SelectObject(dc, ui->font);
        int y = D(26);
        if (ui->dialog->request.save) {
          SetTextColor(dc, RGB(0x20, 0x20, 0x20));
          RECT label{D(6), y + D(4), D(60), y + D(26)};
          DrawTextW(dc, u"Name:", -1, &label, DT_SINGLELINE | DT_VCENTER);
          RECT box{D(60), y + D(4), rc.right - D(6), y + D(26)};
          HBRUSH frame = CreateSolidBrush(RGB(0x80, 0x88, 0x98));
          FillRect(dc, &box, frame);
          DeleteObject(frame);
          RECT inner = box;
          InflateRect(&inner, -1, -1);
          HBRUSH w = CreateSolidBrush(RGB(255, 255, 255));
          FillRect(dc, &inner, w);
          DeleteObject(w);
          inner.left += D(3);
          std::u16string shown = ui->name + u"|";
          DrawTextW(dc, shown.c_str(), -1, &inner, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
          y += D(30);
        }
        SetTextColor(dc, RGB(0x60, 0x60, 0x60));
        RECT path{D(6), y, rc.right - D(6), y + D(22)};
        DrawTextW(dc, ui->folder.c_str(), -1, &path, DT_SINGLELINE | DT_VCENTER | DT_PATH_ELLIPSIS | DT_NOPREFIX);
        y += D(22);
        int rowH = RowHeight();
        for (size_t i = static_cast<size_t>(ui->scroll); i < ui->entries.size() && y < rc.bottom; ++i, y += rowH) {
          const Entry& e = ui->entries[i];
          RECT row{0, y, rc.right, y + rowH};
          if (static_cast<int>(i) == ui->selected) {
            HBRUSH s = CreateSolidBrush(hl);
            FillRect(dc, &row, s);
            DeleteObject(s);
          }
          SHFILEINFOW sfi{};
          std::u16string full = ui->folder + e.name;
          HBITMAP icon = nullptr;
          if (SHGetFileInfo(full.c_str(), e.folder ? FILE_ATTRIBUTE_DIRECTORY : 0, &sfi, sizeof sfi,
                            SHGFI_ICON | SHGFI_SMALLICON | SHGFI_USEFILEATTRIBUTES))
            icon = qk::shell::IconBitmap(sfi.hIcon);
          if (icon) {
            HDC mem = CreateCompatibleDC(dc);
            HGDIOBJ o = SelectObject(mem, icon);
            BLENDFUNCTION bf{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
            AlphaBlend(dc, D(6), y + (rowH - D(16)) / 2, D(16), D(16), mem, 0, 0, D(16), D(16), bf);
            SelectObject(mem, o);
            DeleteDC(mem);
            qk::shell::DestroyShellIcon(sfi.hIcon);
          }
          SetTextColor(dc, static_cast<int>(i) == ui->selected ? RGB(255, 255, 255) : RGB(0x10, 0x10, 0x10));
          RECT text{D(28), y, rc.right - D(6), y + rowH};
          DrawTextW(dc, e.name.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
        }
        SelectObject(dc, old);
      }
      EndPaint(window, &ps);
      return 0;
    }
    case WM_LBUTTONUP: {
      if (!ui) break;
      int y = static_cast<short>(HIWORD(lParam)) - ListTop(*ui);
      if (y < 0) return 0;
      size_t i = static_cast<size_t>(ui->scroll + y / RowHeight());
      if (i >= ui->entries.size()) return 0;
      Entry e = ui->entries[i];
      if (e.up) {
        std::u16string f = ui->folder.substr(0, ui->folder.size() - 1);
        ui->folder = f.substr(0, f.find_last_of(u'\\') + 1);
        Fill(*ui);
      } else if (e.folder) {
        ui->folder += e.name + u"\\";
        Fill(*ui);
      } else if (ui->selected == static_cast<int>(i) && !ui->dialog->request.save) {
        Accept(window, *ui);  // a second tap on the chosen file
      } else {
        ui->selected = static_cast<int>(i);
        ui->name = e.name;
      }
      InvalidateRect(window, nullptr, TRUE);
      return 0;
    }
    case WM_CHAR:
      if (ui && ui->dialog->request.save && wParam >= 0x20 && ui->name.size() < 255) {
        ui->name.push_back(static_cast<char16_t>(wParam));
        InvalidateRect(window, nullptr, TRUE);
      }
      return 0;
    case WM_KEYDOWN:
      if (!ui) break;
      if (wParam == VK_BACK && ui->dialog->request.save && !ui->name.empty()) {
        ui->name.pop_back();
        InvalidateRect(window, nullptr, TRUE);
      } else if (wParam == VK_RETURN) {
        Accept(window, *ui);
      } else if (wParam == VK_ESCAPE) {
        ui->done = true;
      } else if (wParam == 0x28 /* down */ && ui->scroll + 1 < static_cast<int>(ui->entries.size())) {
        ++ui->scroll;
        InvalidateRect(window, nullptr, TRUE);
      } else if (wParam == 0x26 /* up */ && ui->scroll > 0) {
        --ui->scroll;
        InvalidateRect(window, nullptr, TRUE);
      }
      return 0;
    case WM_COMMAND:
      if (!ui) break;
      if (LOWORD(wParam) == IDOK) Accept(window, *ui);
      else if (LOWORD(wParam) == IDCANCEL) ui->done = true;
      return 0;
    case WM_CLOSE:
      if (ui) ui->done = true;
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, msg, wParam, lParam);
}

// The soft keys of the dialog: a menu-bar resource of the shell's own.
HINSTANCE ShellModule() { return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x5E11)); }
constexpr WORD kBarId = 0x7F01;

std::optional<std::u16string> ShowDialog(Dialog& d) {
  static std::vector<BYTE> bar = qk::shell::BuildMenuBarResource(0, {{IDOK}, {IDCANCEL}});
  static const qk::ResourceEntry entry{nullptr, 10, kBarId, nullptr, bar.data(), bar.size()};
  qk::RegisterResources(reinterpret_cast<HMODULE>(ShellModule()), &entry, 1);
  WNDCLASSW wc{};
  if (!GetClassInfoW(nullptr, kDialogClass, &wc)) {
    wc = {};
    wc.lpfnWndProc = DialogProc;
    wc.lpszClassName = kDialogClass;
    RegisterClassW(&wc);
  }
  Ui ui;
  ui.dialog = &d;
  ui.folder = d.request.folder;
  ui.name = d.request.name;
  LOGFONTW lf{};
  lf.lfHeight = -D(12);
  lf.lfQuality = ANTIALIASED_QUALITY;
  std::u16string face = u"Tahoma";
  std::copy(face.begin(), face.end(), lf.lfFaceName);
  ui.font = CreateFontIndirectW(&lf);
  lf.lfWeight = FW_BOLD;
  ui.bold = CreateFontIndirectW(&lf);
  Fill(ui);
  RECT area = qk::shell::VisibleDesktop();
  HWND owner = d.request.owner && IsWindow(d.request.owner) ? d.request.owner : nullptr;
  HWND window = CreateWindowExW(0, kDialogClass, d.request.title.c_str(), WS_POPUP | WS_VISIBLE, area.left, area.top,
                                area.right - area.left, area.bottom - area.top, owner, nullptr, nullptr, &ui);
  if (!window) {
    DeleteObject(ui.font);
    DeleteObject(ui.bold);
    g_error = CDERR_INITIALIZATION;
    return std::nullopt;
  }
  SHMENUBARINFO mbi{sizeof(SHMENUBARINFO), window, SHCMBF_HIDESIPBUTTON, kBarId, ShellModule(), 0, 0, nullptr, 0};
  if (SHCreateMenuBar(&mbi)) {
    std::u16string ok = u"OK", cancel = u"Cancel";
    TBBUTTONINFOW tbi{};
    tbi.cbSize = sizeof tbi;
    tbi.dwMask = TBIF_TEXT;
    tbi.pszText = ok.data();
    SendMessageW(mbi.hwndMB, TB_SETBUTTONINFO, IDOK, reinterpret_cast<LPARAM>(&tbi));
    tbi.pszText = cancel.data();
    SendMessageW(mbi.hwndMB, TB_SETBUTTONINFO, IDCANCEL, reinterpret_cast<LPARAM>(&tbi));
  }
  bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (ownerWasEnabled) EnableWindow(owner, FALSE);
  SetForegroundWindow(window);
  SetFocus(window);
  InvalidateRect(qk::shell::TaskBarWindow(), nullptr, TRUE);  // its title and done button
  UpdateWindow(window);
  qk::RunModalLoop([&] { return ui.done || !IsWindow(window); });
  if (ownerWasEnabled) EnableWindow(owner, TRUE);
  InvalidateRect(qk::shell::TaskBarWindow(), nullptr, TRUE);
  if (IsWindow(window)) {
    SetWindowLongW(window, GWL_USERDATA, 0);
    DestroyWindow(window);
  }
  DeleteObject(ui.font);
  DeleteObject(ui.bold);
  return ui.result;
}

BOOL Run(Dialog& d) {
  g_error = 0;
  std::optional<std::u16string> chosen;
  if (Hook()) {
    for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
      d.request.attempt = attempt;
      std::optional<std::u16string> answer = Hook()(d.request);
      if (!answer) break;
      std::u16string path, message;
      Check c = Resolve(d.request, *answer, &path, &message);
      if (c == Check::Refuse) continue;
      if (c == Check::Ask && !ConfirmOverwrite(d.request, path)) continue;
      chosen = path;
      break;
    }
  } else {
    chosen = ShowDialog(d);
  }
  if (!chosen) return FALSE;
  const std::u16string& path = *chosen;
  if (!d.file || path.size() + 1 > d.maxFile) {
    if (d.file && d.maxFile >= 1) d.file[0] = static_cast<WCHAR>(std::min<size_t>(path.size() + 1, 0xFFFF));
    g_error = FNERR_BUFFERTOOSMALL;
    return FALSE;
  }
  std::copy(path.begin(), path.end(), d.file);
  d.file[path.size()] = 0;
  size_t slash = path.find_last_of(u'\\');
  size_t nameAt = slash == std::u16string::npos ? 0 : slash + 1;
  size_t dot = path.find_last_of(u'.');
  if (d.fileOffset) *d.fileOffset = static_cast<WORD>(nameAt);
  if (d.fileExtension) *d.fileExtension = static_cast<WORD>(dot != std::u16string::npos && dot > nameAt ? dot + 1 : path.size());
  if (d.fileTitle && d.maxFileTitle) {
    std::u16string title = path.substr(nameAt);
    size_t n = std::min<size_t>(title.size(), d.maxFileTitle - 1);
    std::copy(title.begin(), title.begin() + n, d.fileTitle);
    d.fileTitle[n] = 0;
  }
  return TRUE;
}

template <typename T>
Dialog Prepare(T* ofn, bool save) {
  Dialog d;
  qk::shell::FileDialogRequest& r = d.request;
  r.save = save;
  r.owner = ofn->hwndOwner;
  r.title = ofn->lpstrTitle ? ofn->lpstrTitle : (save ? u"Save As" : u"Open");
  r.flags = ofn->Flags;
  r.filters = ParseFilter(ofn->lpstrFilter);
  r.filterIndex = ofn->nFilterIndex ? ofn->nFilterIndex : 1;
  r.defaultExtension = ofn->lpstrDefExt ? ofn->lpstrDefExt : u"";
  std::u16string initial = ofn->lpstrFile && ofn->nMaxFile ? std::u16string(ofn->lpstrFile, wcsnlen(ofn->lpstrFile, ofn->nMaxFile)) : u"";
  std::u16string folder = ofn->lpstrInitialDir && *ofn->lpstrInitialDir ? ofn->lpstrInitialDir : u"\\";
  if (!initial.empty() && initial[0] == u'\\') {
    // An initial full path gives the folder and the name.
    folder = FolderOf(initial);
    initial = initial.substr(initial.find_last_of(u'\\') + 1);
  }
  if (folder.empty() || folder[0] != u'\\') folder = u"\\" + folder;
  if (folder.back() != u'\\') folder += u'\\';
  if (!IsFolder(folder)) folder = u"\\";
  r.folder = folder;
  r.name = initial;
  d.file = ofn->lpstrFile;
  d.maxFile = ofn->nMaxFile;
  d.fileTitle = ofn->lpstrFileTitle;
  d.maxFileTitle = ofn->nMaxFileTitle;
  d.fileOffset = &ofn->nFileOffset;
  d.fileExtension = &ofn->nFileExtension;
  return d;
}

// Refuses a structure too small for its kind, then runs the dialog it describes.
template <typename Ofn>
BOOL RunFileDialog(Ofn* ofn, bool save) {
  if (!ofn || ofn->lStructSize < sizeof(Ofn)) {
    g_error = CDERR_STRUCTSIZE;
    return FALSE;
  }
  Dialog d = Prepare(ofn, save);
  return Run(d);
}

}  // namespace

BOOL GetOpenFileNameW(LPOPENFILENAMEW ofn) { return RunFileDialog(ofn, false); }

BOOL GetSaveFileNameW(LPOPENFILENAMEW ofn) { return RunFileDialog(ofn, true); }

BOOL GetOpenFileNameEx(LPOPENFILENAMEEX ofnex) { return RunFileDialog(ofnex, false); }

DWORD CommDlgExtendedError() { return g_error; }

namespace qk::shell {
void SetFileDialogHook(FileDialogHook hook) { Hook() = std::move(hook); }

bool IsPlatformEntry(const std::u16string& folder, const std::u16string& name) {
  if (!folder.empty() && folder != u"\\") return false;
  static const char16_t* const kOwn[] = {u".bus", u".kernel", u"Registry", u"DeviceProfile.txt"};
  for (const char16_t* own : kOwn)
    if (_wcsicmp(own, name.c_str()) == 0) return true;
  return false;
}
}  // namespace qk::shell
