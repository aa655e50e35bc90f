// The touch-screen command bar along the bottom of the main program's
// screens: five image buttons in equal columns over a gradient background
// drawn once per size into a cached bitmap, with a glow behind a pressed button. It receives no messages:
// the owning screen forwards presses and releases inside the bar to
// HitTestDown / HitTestUp, acts on the command id returned, and calls Draw
// from its paint handler and after every press and release.
#pragma once

#include <functional>

#include "quillet/ui/density.h"
#include "quillet/ui/touch_image.h"

#define IMAGE_BUTTON_BAR_SLOTS 5

class CImageButtonBar {
 public:
  struct Button {
    RECT hitRect = {0, 0, 0, 0};
    UINT commandId = 0;
    CTouchImage image;
    BOOL pressed = FALSE;
  };

  // Reads the screen density when nothing has yet.
  CImageButtonBar();
  ~CImageButtonBar();
  CImageButtonBar(const CImageButtonBar&) = delete;
  CImageButtonBar& operator=(const CImageButtonBar&) = delete;

  // Slots above 4 are ignored; image id -1 empties the slot.
  void SetButton(int slot, HMODULE module, int imageId, UINT commandId);
  void LoadPressedImage(HMODULE module, int imageId);
  // The command id of the button under the point (window client
  // co-ordinates), or -1; the button is marked pressed.
  int HitTestDown(int x, int y);
  // The command id of the button under the point, or -1; every pressed mark
  // is cleared.
  int HitTestUp(int x, int y);
  void Draw(HDC hdc, int x, int y, int width, int height);
  // Draws the bar `height` high along the bottom of the screen, in the
  // client co-ordinates of the window: its top is the screen's height less
  // `height` less the window's top, and it spans the client area's width, or
  // the screen's width when screenWide.
  void DrawAtScreenBottom(HWND hwnd, HDC hdc, int height, BOOL screenWide = FALSE);
  void DrawBackground(HDC hdc, int width, int height);
  void InvalidateBackground(BOOL flag);

  const Button& GetButton(int slot) const { return m_buttons[slot]; }
  RECT GetBarRect() const { return RECT{m_nX, m_nY, m_nX + m_nWidth, m_nY + m_nHeight}; }

 private:
  void BuildBackground(HDC hdc, int width, int height);

  CTouchImage m_pressedImage;
  int m_nX = 0, m_nY = 0, m_nWidth = 0, m_nHeight = 0;
  Button m_buttons[IMAGE_BUTTON_BAR_SLOTS];
  void FreeBackground();

  HDC m_hBackgroundDC = nullptr;
  HBITMAP m_hBackground = nullptr;
  HGDIOBJ m_hOldBackground = nullptr;
  int m_nBackgroundWidth = 0;
  int m_nBackgroundHeight = 0;
};

// A screen's press on its image-button bar: remembers that the finger went
// down in the bar and the command of the button last under it, so that the
// bar is redrawn only when the pressed glow moves and the command is acted
// on at the release.
class CTouchListBase;

class CBarPress {
 public:
  // A press in the bar: marks the button under the point. Redraw after it.
  void Down(CImageButtonBar& bar, int x, int y);
  // A move while pressed: the button under the point is marked (none when
  // onBar is false). TRUE when the marked button changed: redraw then.
  BOOL Move(CImageButtonBar& bar, int x, int y, bool onBar);
  // The release: clears every mark and the press, and returns the command
  // of the button under the point, or -1. Redraw after it.
  int Up(CImageButtonBar& bar, int x, int y);
  // A press (Down) or a move while pressed (Move); other messages do
  // nothing. TRUE when the bar is to be redrawn.
  BOOL Track(UINT message, CImageButtonBar& bar, int x, int y, bool onBar);
  // A pointer message (down, move, up) of a page that shows a touch list
  // above the bar, whose top is barTop: a press above the bar, and every
  // move and release while the bar is not pressed, go to the list; a press
  // on the bar is tracked, with redraw called whenever the bar changed.
  // Returns the command of the bar's button released on, else -1.
  int Route(HWND page, UINT message, WPARAM wParam, LPARAM lParam, CTouchListBase& list, CImageButtonBar& bar,
            int barTop, const std::function<void()>& redraw);
  BOOL IsPressed() const { return m_bPressed; }
  void Clear() {
    m_bPressed = FALSE;
    m_nCommand = -1;
  }

 private:
  BOOL m_bPressed = FALSE;
  int m_nCommand = -1;
};
