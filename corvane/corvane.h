// Corvane: the home-screen panel plug-in. The Panel Manager loads it and
// calls its five exports; it shows a program of the device as one of the
// Panel Manager's panels. Which program is named by the Panel Manager's
// registry entry for the panel: HKEY_LOCAL_MACHINE
// "Software\HandsetMaker\PanelManager\Panels", one subkey per panel with the
// string values "Name", "Path" (the program file to start), "Class" (its
// main window's class) and "Process" (the device path of its program file).
//
// The Panel Manager knows the exports by their ordinals 240 to 244. A
// shared library of this platform carries no ordinals, so each is exported
// under its name and the Panel Manager maps the ordinals to these names
// (kPanelExports below).
#pragma once

#include "kernel/types.h"
#include "user/user.h"

// The panel-info record the Panel Manager hands to CreatePanel: only these
// fields are read.
#define PANEL_INFO_NAME_OFFSET 0     // the panel's name, wide text, zero-terminated
#define PANEL_INFO_FLAGS_OFFSET 76   // 32 bits, must be non-zero
#define PANEL_INFO_VERSION_OFFSET 86 // 16 bits, must be 78
#define PANEL_INFO_VERSION 78
#define PANEL_INFO_SIZE 88

// The Panel Manager's messages to the panel window.
#define WM_PANEL_SHOW_FULL 6024      // resize to the screen and show the program
#define WM_PANEL_FORWARD_1 6025      // passed on to the hosted program
#define WM_PANEL_SHOW_AGAIN 6026     // as 6024
#define WM_PANEL_FORWARD_2 6027      // passed on to the hosted program
#define WM_PANEL_NOTHING 8030        // answered with 0

// The registry key of the panels, under HKEY_LOCAL_MACHINE.
#define PANEL_REGISTRY_KEY u"Software\\HandsetMaker\\PanelManager\\Panels"
// The mutex that serialises showing and hiding across panels and processes.
#define PANEL_MUTEX_NAME u"13AE63DE-823C-4cef-BDE3-90DB2DADC8E3"
// The text the hosted program receives in WM_COPYDATA when it is embedded.
#define PANEL_MARKER u"Corvane"

typedef HWND (*CreatePanelProc)(const void* panelInfo, HWND parent);
typedef INT_PTR (*PanelDlgProcProc)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
typedef LONG (*DestroyPanelProc)(DWORD flag, DWORD unused);
typedef LONG (*QueryPanelProc)();
typedef LONG (*GetPanelValueProc)(DWORD* value);

struct PanelExport {
  WORD ordinal;
  const char* name;
};
// The exports by ordinal, with the names they carry in the library.
inline constexpr PanelExport kPanelExports[] = {
    {240, "CreatePanel"}, {241, "PanelDlgProc"}, {242, "DestroyPanel"}, {243, "QueryPanel"}, {244, "GetPanelValue"},
};

extern "C" {
// 240: the panel window under parent, or null when the record is refused or
// the panel cannot be made.
HWND CreatePanel(const void* panelInfo, HWND parent);
// 241: a dialog procedure for the Panel Manager's own dialogs.
INT_PTR PanelDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// 242: with a non-zero flag, destroys the panel window (which closes the
// hosted program); returns 0.
LONG DestroyPanel(DWORD flag, DWORD unused);
// 243: E_FAIL.
LONG QueryPanel();
// 244: writes 100 to *value; S_OK.
LONG GetPanelValue(DWORD* value);
}
