// The program's own full-screen file chooser for finger use: a dialog built
// from plain windows in memory, with the soft keys "Select" and "Cancel".
// Three modes: save a file (a name field, a read-only extension field and a
// folder browser), load a file (folders and ".opml" files) and select a
// folder. It returns one full path (device path, backslashes).
#pragma once

#include <utility>
#include <vector>

#include "framework/afx.h"

#define TOUCH_FILE_SAVE 0
#define TOUCH_FILE_LOAD 1
#define TOUCH_FILE_FOLDER 2

class CTouchFileDialog {
 public:
  // title null: "Save File", "Load File" or "Select Folder" by mode;
  // startFolder null: the root "\"; upBitmapId: the up-folder bitmap resource
  // (20 x 20 density pixels, green 0x00FF00 transparent).
  CTouchFileDialog(HWND owner, int mode, LPCWSTR title, LPCWSTR startFolder, UINT upBitmapId);
  ~CTouchFileDialog();
  CTouchFileDialog(const CTouchFileDialog&) = delete;
  CTouchFileDialog& operator=(const CTouchFileDialog&) = delete;

  void SetFileType(LPCWSTR extension, LPCWSTR description, LPCWSTR defaultName);
  // Runs the dialog; with Select, copies the result path into buffer (of
  // bufferChars characters with the terminator) and returns TRUE. A path
  // that would not fit is refused with a message while the dialog stays.
  BOOL DoModal(LPWSTR buffer, int bufferChars = MAX_PATH);

  const CString& GetResultPath() const { return m_strResult; }
  const CString& GetTitle() const { return m_strTitle; }
  // While the dialog runs: its window, the list and the current folder.
  HWND GetWindow() const { return m_hDialog; }
  HWND GetList() const { return m_hList; }
  const CString& GetCurrentFolder() const { return m_strFolder; }
  // The up-folder bitmap's rectangle in the dialog's client area.
  RECT GetUpRect() const { return m_rcUp; }

 private:
  static INT_PTR DialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
  void OnInitDialog(HWND dialog);
  void Layout();
  void Fill();
  void EnterFolder(const CString& name);
  void GoUp();
  void OnSelect();
  bool Accept(const CString& path);
  void Destroy();

  HWND m_hOwner;
  int m_nMode;
  CString m_strTitle;
  CString m_strExtension, m_strDescription, m_strDefaultName;
  CString m_strStartFolder;
  UINT m_nUpBitmapId;
  CString m_strResult;
  // Localised texts.
  CString m_strFileName, m_strExtensionLabel, m_strMissing, m_strIllegal, m_strNameError, m_strSelect, m_strCancel,
      m_strTooLong;

  int m_nBufferChars = MAX_PATH;
  HWND m_hDialog = nullptr;
  CString m_strFolder;
  HWND m_hNameLabel = nullptr, m_hName = nullptr, m_hExtLabel = nullptr, m_hExt = nullptr;
  HWND m_hFolder = nullptr, m_hList = nullptr, m_hMenuBar = nullptr;
  void* m_hImages = nullptr;
  HFONT m_hFont = nullptr;
  HBITMAP m_hUpBitmap = nullptr;
  RECT m_rcUp = {0, 0, 0, 0};
  int m_nFolderRowTop = 0;
  std::vector<std::pair<CString, bool>> m_entries;
};
