// The phone shell's services for screens: the soft-key menu bar at the
// bottom of the screen, the task bar at the top, full screen, dialog
// set-up and the shell's handling of activation and setting changes, the
// input panel (a soft keyboard) and the "SIPPREF" window, tap-and-hold
// recognition, the image-file loader and file icons.
//
// Screen layout (d = the screen's dpi / 96): the task bar "HHTaskBar" is the
// top 26 d pixels, the menu bar the bottom 26 d pixels, and the input panel,
// when raised, the 80 d pixels just above the menu bar. The visible desktop
// (SipGetInfo's rcVisibleDesktop, qk::shell::VisibleDesktop) is the screen
// less the task bar when it shows, less the menu bar and less the raised
// input panel. Raising or lowering the panel sends WM_SETTINGCHANGE with
// SPI_SETSIPINFO to the shell's client windows (those given to
// SHInitDialog, SHHandleWMActivate, SHFullScreen or SHCreateMenuBar) of the
// calling thread; a window that passes it to SHHandleWMSettingChange is
// resized to end where the visible desktop ends.
//
// The shell's windows belong to the thread that first needed them; the
// services are meant for the program's user-interface thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "controls/commctrl.h"  // NMHDR
#include "gdi/gdi.h"
#include "user/menu.h"
#include "user/user.h"

// ---------------------------------------------------------------- menu bar

struct SHMENUBARINFO {
  DWORD cbSize;
  HWND hwndParent;
  DWORD dwFlags;
  UINT nToolBarId;  // the menu-bar resource (RT_RCDATA); with SHCMBF_HMENU a menu resource (RT_MENU)
                    // or the handle of a menu the caller keeps (menu handles fit in 32 bits)
  HINSTANCE hInstRes;
  int nBmpId;
  int cBmpImages;
  HWND hwndMB;  // out: the menu bar
  COLORREF clrBk;
};
typedef SHMENUBARINFO* PSHMENUBARINFO;

#define SHCMBF_EMPTYBAR 0x0001
#define SHCMBF_HIDDEN 0x0002
#define SHCMBF_HIDESIPBUTTON 0x0004
#define SHCMBF_COLORBK 0x0008
#define SHCMBF_HMENU 0x0010

// The menu-bar resource (RT_RCDATA, the id given as nToolBarId), all
// little-endian 16-bit words: the id of a menu resource holding the buttons'
// popups (0 for none), the number of buttons, and for each button: its
// image (I_IMAGENONE), its command, its state byte and style byte in one
// word (state low), its text's string-table id (0 for none; texts are
// usually set at run time) and the index of its popup among the menu's
// top-level items (NOMENU for none). With SHCMBF_HMENU each top-level item
// of the menu is a button (a popup item a button with that popup).
#define I_IMAGENONE (-2)
#define NOMENU 0xFFFF

struct TBBUTTONINFOW {
  UINT cbSize;
  DWORD dwMask;
  int idCommand;
  int iImage;
  BYTE fsState;
  BYTE fsStyle;
  WORD cx;
  DWORD_PTR lParam;
  LPWSTR pszText;
  int cchText;
};
typedef TBBUTTONINFOW TBBUTTONINFO;
typedef TBBUTTONINFOW* LPTBBUTTONINFO;

#define TBIF_IMAGE 0x00000001
#define TBIF_TEXT 0x00000002
#define TBIF_STATE 0x00000004
#define TBIF_STYLE 0x00000008
#define TBIF_LPARAM 0x00000010
#define TBIF_COMMAND 0x00000020
#define TBIF_SIZE 0x00000040
#define TBIF_BYINDEX 0x80000000

#define TBSTATE_CHECKED 0x01
#define TBSTATE_PRESSED 0x02
#define TBSTATE_ENABLED 0x04
#define TBSTATE_HIDDEN 0x08
#define TBSTYLE_BUTTON 0x00
#define TBSTYLE_DROPDOWN 0x08
#define TBSTYLE_AUTOSIZE 0x10
#define BTNS_SHOWTEXT 0x40

// Messages to the menu bar.
#define TB_ENABLEBUTTON (WM_USER + 1)     // wParam command, lParam enable
#define TB_HIDEBUTTON (WM_USER + 4)       // wParam command, lParam hide
#define TB_ISBUTTONENABLED (WM_USER + 9)  // wParam command
#define TB_BUTTONCOUNT (WM_USER + 24)
#define TB_GETBUTTONINFO (WM_USER + 63)   // wParam command (or index), lParam TBBUTTONINFO*; index or -1
#define TB_SETBUTTONINFO (WM_USER + 64)   // wParam command (or index), lParam TBBUTTONINFO*
#define SHCMBM_GETSUBMENU (WM_USER + 401) // lParam command: the button's popup menu
#define SHCMBM_GETMENU (WM_USER + 402)    // the menu holding every button's popup

BOOL SHCreateMenuBar(SHMENUBARINFO* info);
// The menu bar owned by the window, or null.
HWND SHFindMenuBar(HWND window);
// Redraws a menu bar (the bar itself or the window that owns one).
BOOL DrawMenuBar(HWND window);

// ---------------------------------------------------------------- full screen, dialogs

#define SHFS_SHOWTASKBAR 0x0001
#define SHFS_HIDETASKBAR 0x0002
#define SHFS_SHOWSIPBUTTON 0x0004
#define SHFS_HIDESIPBUTTON 0x0008
#define SHFS_SHOWSTARTICON 0x0010
#define SHFS_HIDESTARTICON 0x0020
BOOL SHFullScreen(HWND window, DWORD state);

struct SHINITDLGINFO {
  DWORD dwMask;
  HWND hDlg;
  DWORD dwFlags;
};
typedef SHINITDLGINFO* PSHINITDLGINFO;
#define SHIDIM_FLAGS 0x0001
#define SHIDIF_DONEBUTTON 0x0001
#define SHIDIF_SIZEDLG 0x0002
#define SHIDIF_SIZEDLGFULLSCREEN 0x0004
#define SHIDIF_SIPDOWN 0x0008
#define SHIDIF_FULLSCREENNOMENUBAR 0x0010
#define SHIDIF_EMPTYMENU 0x0020
#define SHIDIF_WANTSCROLLBAR 0x0040
// Sizes the dialog (to the visible desktop; to the screen below the task
// bar and above the menu bar; or to the screen's bottom without a menu
// bar), lowers the input panel and gives the task bar an "ok" button that
// sends the dialog IDOK, as the flags ask.
BOOL SHInitDialog(PSHINITDLGINFO info);

struct SHACTIVATEINFO {
  DWORD cbSize;
  HWND hwndLastFocus;
  UINT fSipUp : 1;
  UINT fSipOnDeactivation : 1;
  UINT fActive : 1;
  UINT fReserved : 29;
};
typedef SHACTIVATEINFO* PSHACTIVATEINFO;
#define SHA_INPUTDIALOG 0x00000001

#ifndef WA_INACTIVE
#define WA_INACTIVE 0
#define WA_ACTIVE 1
#define WA_CLICKACTIVE 2
#endif
#define SPI_SETSIPINFO 224
#define SPI_GETSIPINFO 225

// WM_ACTIVATE: an activated window gets back the input panel state it had
// when it was deactivated; the state is kept in info (may be null).
BOOL SHHandleWMActivate(HWND window, WPARAM wParam, LPARAM lParam, SHACTIVATEINFO* info, DWORD flags);
// WM_SETTINGCHANGE: on SPI_SETSIPINFO a window the shell sized is resized
// to end where the visible desktop ends.
BOOL SHHandleWMSettingChange(HWND window, WPARAM wParam, LPARAM lParam, SHACTIVATEINFO* info);
// The one-time start-up call: registers the shell's window classes.
BOOL SHInitExtraControls();

// ---------------------------------------------------------------- input panel

#define SIPF_OFF 0x00000000
#define SIPF_ON 0x00000001
#define SIPF_DOCKED 0x00000002
#define SIPF_LOCKED 0x00000004

struct SIPINFO {
  DWORD cbSize;
  DWORD fdwFlags;
  RECT rcVisibleDesktop;
  RECT rcSipRect;
  DWORD dwImDataSize;
  void* pvImData;
};
typedef SIPINFO* PSIPINFO;

BOOL SipShowIM(DWORD flags);
BOOL SipGetInfo(SIPINFO* info);

enum SIPSTATE { SIP_UP = 0, SIP_DOWN, SIP_FORCEDOWN, SIP_UNCHANGED, SIP_INPUTDIALOG };
// The input panel for a window taking the focus (SIP_UP) or losing it
// (SIP_DOWN lowers it unless another window raises it again at once;
// SIP_FORCEDOWN lowers it now).
BOOL SHSipPreference(HWND window, SIPSTATE state);

// The window class that makes the input panel follow the focus in its
// dialog: created as an invisible child, it raises the panel while an edit
// that can be typed into has the focus and lowers it otherwise.
#define WC_SIPPREF u"SIPPREF"

// ---------------------------------------------------------------- tap and hold

struct SHRGINFO {
  DWORD cbSize;
  HWND hwndClient;
  POINT ptDown;  // client co-ordinates of hwndClient
  DWORD dwFlags;
};
typedef SHRGINFO* PSHRGINFO;
#define SHRG_RETURNCMD 0x00000001
#define SHRG_NOTIFYPARENT 0x00000002
#define SHRG_LONGDELAY 0x00000008
#define SHRG_NOANIMATION 0x00000010
#define GN_CONTEXTMENU 1000
#define NM_RECOGNIZEGESTURE (-0x7FF0)  // WM_NOTIFY code with SHRG_NOTIFYPARENT

struct NMRGINFO {
  NMHDR hdr;
  POINT ptAction;  // screen co-ordinates
  DWORD dwItemSpec;
};

// Called on a press: waits (handling the thread's messages) while the
// stylus stays down near the point. When it is held for the hold time
// (kHoldMs, twice that with SHRG_LONGDELAY) without moving more than
// kHoldSlop d pixels, the gesture is the context menu: GN_CONTEXTMENU is
// returned (SHRG_RETURNCMD), sent as WM_CONTEXTMENU-like notification to the
// parent (SHRG_NOTIFYPARENT) or sent to the window as WM_CONTEXTMENU.
// A release or a move ends it with 0. The wait follows the tick count, so a
// frozen clock makes it deterministic.
DWORD SHRecognizeGesture(SHRGINFO* info);
#ifndef WM_CONTEXTMENU
#define WM_CONTEXTMENU 0x007B
#endif

// ---------------------------------------------------------------- images and icons

// Loads a picture file (PNG, JPEG, GIF, BMP) of the device as a 32-bit
// bitmap; null when it cannot be read or decoded.
HBITMAP SHLoadImageFile(LPCWSTR path);

struct SHFILEINFOW {
  HICON hIcon;
  int iIcon;
  DWORD dwAttributes;
  WCHAR szDisplayName[MAX_PATH];
  WCHAR szTypeName[80];
};
typedef SHFILEINFOW SHFILEINFO;
#define SHGFI_LARGEICON 0x000000000
#define SHGFI_SMALLICON 0x000000001
#define SHGFI_OPENICON 0x000000002
#define SHGFI_ICON 0x000000100
#define SHGFI_DISPLAYNAME 0x000000200
#define SHGFI_TYPENAME 0x000000400
#define SHGFI_ATTRIBUTES 0x000000800
#define SHGFI_SYSICONIMAGELIST 0x000004000
#define SHGFI_USEFILEATTRIBUTES 0x000000010
// The icon of a device file or folder (a folder, a page, a picture, a
// feed list...). With SHGFI_ICON, hIcon is a new icon (16 x 16 d pixels
// small, 32 x 32 d large) that the caller frees with
// qk::shell::DestroyShellIcon; iIcon is its kind's index in every case
// (0 folder, 1 page, 2 picture, 3 channel list, 4 other file). Returns
// non-zero on success, 0 for a path that does not exist.
DWORD_PTR SHGetFileInfo(LPCWSTR path, DWORD attributes, SHFILEINFOW* info, UINT size, UINT flags);
#define SHGetFileInfoW SHGetFileInfo

// ---------------------------------------------------------------- helpers of this layer

namespace qk::shell {

constexpr int kBarHeight = 26;     // task bar and menu bar, at 96 dpi
constexpr int kSipHeight = 80;     // the input panel, at 96 dpi
constexpr DWORD kHoldMs = 500;     // tap-and-hold
constexpr int kHoldSlop = 8;       // pixels at 96 dpi

// The visible desktop (screen co-ordinates); see above.
RECT VisibleDesktop();
bool TaskBarVisible();
bool SipUp();
// The input panel's window, task bar and the menu bar's SIP button state.
HWND SipWindow();
// True for an entry of the device root that is the platform's own (the
// message bus and shared kernel objects, the registry hives, the device
// profile) rather than the device's: the device's file dialogs never show
// them. folder is the device folder listed, ending in "\".
bool IsPlatformEntry(const std::u16string& folder, const std::u16string& name);
// The screen rectangle of the input panel's key labelled label in the
// layout it shows now; false when the panel is down or shows no such key.
// Tests find the keys to tap through it.
bool SipKeyRect(const std::u16string& label, RECT* screen);
HWND TaskBarWindow();

// An icon of SHGetFileInfo: its pixels as a 32-bit DIB section with
// premultiplied alpha (owned by the icon), so image lists and painters can
// blend it; null for anything else.
HBITMAP IconBitmap(HICON icon);
// A new monochrome mask of the icon (1 where it is transparent), for image
// lists: ImageList_Add(list, IconBitmap(icon), mask). The caller deletes it.
HBITMAP IconMask(HICON icon);
BOOL DestroyShellIcon(HICON icon);

// Presses a soft key of the active window's menu bar (1 left, 2 right) as
// the phone's soft-key buttons do; false when there is no such key.
bool PressSoftKey(int key);

// Popup menus of soft keys: by default the shell shows them itself (a
// list over the menu bar, tapped or left by a tap elsewhere). A handler
// replaces that (tests answer it): it gets the owner and the popup and
// returns the chosen command, 0 for none.
using PopupHandler = std::function<UINT(HWND owner, HMENU popup, const RECT& key)>;
void SetSoftKeyPopupHandler(PopupHandler handler);

// Called at every step of SHRecognizeGesture's wait instead of waiting for
// messages (tests move a frozen clock on); an empty hook restores the wait.
void SetGestureWaitHook(std::function<void()> hook);

// Menu templates (RT_MENU) and menu-bar resources (RT_RCDATA) as their bytes,
// for resources and tests.
struct MenuItem {
  std::u16string text;  // empty with id 0: a separator
  UINT id = 0;
  UINT flags = 0;       // MF_GRAYED, MF_CHECKED
  std::vector<MenuItem> popup;
};
std::vector<BYTE> BuildMenuTemplate(const std::vector<MenuItem>& items);
HMENU LoadMenuTemplate(const void* data, size_t size);
struct MenuBarButton {
  UINT command = 0;
  BYTE state = TBSTATE_ENABLED;
  BYTE style = TBSTYLE_BUTTON | TBSTYLE_AUTOSIZE;
  WORD stringId = 0;
  WORD subMenu = NOMENU;
};
std::vector<BYTE> BuildMenuBarResource(WORD menuId, const std::vector<MenuBarButton>& buttons);

// Forgets every state (tests): destroys the shell's windows of the calling
// thread, lowers the panel, shows the task bar.
void ResetShell();

}  // namespace qk::shell
