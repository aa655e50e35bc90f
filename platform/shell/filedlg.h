// Open and save file dialogs: the plain dialogs (GetOpenFileNameW,
// GetSaveFileNameW) and the shell's extended open dialog
// (GetOpenFileNameEx) used on devices without touch.
//
// The dialog shows the device's folders and the files matching the chosen
// filter; a tap on a folder enters it, on ".." goes up, on a file chooses
// it (the save dialog also takes a typed name); the soft keys are "OK" and
// "Cancel". Tests answer the dialogs instead (qk::shell::SetFileDialogHook):
// the answer goes through the same checks as a name the user chose: a
// relative name is taken in the dialog's folder, the default extension is
// added to a name without one, a file that must exist but does not, or a
// folder that does not exist, is refused and the dialog asks again, and an
// existing file to be overwritten is confirmed with a message box first.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "user/user.h"

struct OPENFILENAMEW {
  DWORD lStructSize;
  HWND hwndOwner;
  HINSTANCE hInstance;
  LPCWSTR lpstrFilter;  // pairs of description and patterns ("*.opml;*.xml"), each ending in 0, then 0
  LPWSTR lpstrCustomFilter;
  DWORD nMaxCustFilter;
  DWORD nFilterIndex;  // 1-based; 0 is the first
  LPWSTR lpstrFile;    // in: the initial name; out: the chosen path
  DWORD nMaxFile;
  LPWSTR lpstrFileTitle;
  DWORD nMaxFileTitle;
  LPCWSTR lpstrInitialDir;
  LPCWSTR lpstrTitle;
  DWORD Flags;
  WORD nFileOffset;
  WORD nFileExtension;
  LPCWSTR lpstrDefExt;
  LPARAM lCustData;
  void* lpfnHook;
  LPCWSTR lpTemplateName;
};
typedef OPENFILENAMEW* LPOPENFILENAMEW;
typedef OPENFILENAMEW OPENFILENAME;

struct OPENFILENAMEEX {
  DWORD lStructSize;
  HWND hwndOwner;
  HINSTANCE hInstance;
  LPCWSTR lpstrFilter;
  LPWSTR lpstrCustomFilter;
  DWORD nMaxCustFilter;
  DWORD nFilterIndex;
  LPWSTR lpstrFile;
  DWORD nMaxFile;
  LPWSTR lpstrFileTitle;
  DWORD nMaxFileTitle;
  LPCWSTR lpstrInitialDir;
  LPCWSTR lpstrTitle;
  DWORD Flags;
  WORD nFileOffset;
  WORD nFileExtension;
  LPCWSTR lpstrDefExt;
  LPARAM lCustData;
  void* lpfnHook;
  LPCWSTR lpTemplateName;
  DWORD dwSortOrder;
  DWORD ExFlags;
};
typedef OPENFILENAMEEX* LPOPENFILENAMEEX;

#define OFN_READONLY 0x00000001
#define OFN_OVERWRITEPROMPT 0x00000002
#define OFN_HIDEREADONLY 0x00000004
#define OFN_NOCHANGEDIR 0x00000008
#define OFN_PATHMUSTEXIST 0x00000800
#define OFN_FILEMUSTEXIST 0x00001000
#define OFN_CREATEPROMPT 0x00002000
#define OFN_EXPLORER 0x00080000

#define OFN_SORTORDER_AUTO 0
#define OFN_SORTORDER_DATE 1
#define OFN_SORTORDER_NAME 2
#define OFN_SORTORDER_SIZE 3
#define OFN_SORTORDER_ASCENDING 0x00008000
#define OFN_EXFLAG_DETAILSVIEW 0x00000001
#define OFN_EXFLAG_THUMBNAILVIEW 0x00000002
#define OFN_EXFLAG_LOCKDIRECTORY 0x00000100
#define OFN_EXFLAG_NOFILECREATE 0x00000200

#define CDERR_STRUCTSIZE 0x0001
#define CDERR_INITIALIZATION 0x0002
#define FNERR_BUFFERTOOSMALL 0x3003

// TRUE with the path in lpstrFile; FALSE when cancelled or on an error
// (CommDlgExtendedError tells which; 0 for a cancel). A path longer than
// nMaxFile - 1 gives FNERR_BUFFERTOOSMALL with the needed size in the
// buffer's first character.
BOOL GetOpenFileNameW(LPOPENFILENAMEW ofn);
BOOL GetSaveFileNameW(LPOPENFILENAMEW ofn);
BOOL GetOpenFileNameEx(LPOPENFILENAMEEX ofnex);
DWORD CommDlgExtendedError();
#define GetOpenFileName GetOpenFileNameW
#define GetSaveFileName GetSaveFileNameW

namespace qk::shell {

struct FileDialogRequest {
  bool save = false;
  HWND owner = nullptr;
  std::u16string title;
  std::u16string folder;  // the folder the dialog shows, ending in "\"
  std::u16string name;    // the initial name
  std::u16string defaultExtension;
  std::vector<std::pair<std::u16string, std::u16string>> filters;  // description, patterns
  DWORD filterIndex = 1;
  DWORD flags = 0;
  int attempt = 1;  // 2 and more: an earlier answer was refused
};
// Answers a dialog: the chosen name or path, or nothing for Cancel. While
// set, no dialog is shown.
using FileDialogHook = std::function<std::optional<std::u16string>(const FileDialogRequest& request)>;
void SetFileDialogHook(FileDialogHook hook);

}  // namespace qk::shell
