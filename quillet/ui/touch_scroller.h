// The finger-scrolling engine behind every painted list: a back buffer the
// size of the visible area, a vertical scroll offset, and the press / drag /
// flick / bounce state machine driven by the owner window's pointer and
// timer messages. The owner draws through CTouchScrollClient.
#pragma once

#include <memory>

#include "gdi/gdi.h"
#include "quillet/ui/density.h"

class CTouchScrollClient {
 public:
  // Renders the content with row 0 at y = offset into the back buffer and
  // returns the full content height.
  virtual int DrawContent(HWND window, DWORD_PTR context, HDC hdc, DWORD_PTR drawParam, int offset, int width,
                          int height) = 0;
  // Shows the press highlight under the finger; non-zero when a redraw is
  // needed. y is in content coordinates.
  virtual BOOL OnPress(HWND window, DWORD_PTR context, int x, int y) = 0;
  // A drag began: remove any press highlight.
  virtual BOOL OnDragStart(HWND window, DWORD_PTR context) = 0;
  // The finger was lifted without a drag.
  virtual void OnClick(HWND window, DWORD_PTR context, int x, int y) = 0;

 protected:
  ~CTouchScrollClient() = default;
};

// Timer ids the engine sets on its window; a window that hosts a scrolled
// list uses them for nothing else.
#define TOUCH_TIMER_FLICK 1030
#define TOUCH_TIMER_HOLD 1031
#define TOUCH_TIMER_BOUNCE 1032

class CTouchScroller {
 public:
  CTouchScroller();
  ~CTouchScroller();
  CTouchScroller(const CTouchScroller&) = delete;
  CTouchScroller& operator=(const CTouchScroller&) = delete;

  void Init(DWORD_PTR context, HWND window, CTouchScrollClient* client, int x, int y, int width, int height);
  void CreateBackBuffer(int width, int height);
  bool SetSize(int width, int height);
  void Redraw(BOOL invalidate);
  // Invalidates the scrolled rectangle of the window and updates it.
  void Invalidate();
  void Paint(HDC hdc);
  bool SetOffset(int offset, BOOL redraw);
  void Tap(int x, int y);
  void SetReleaseCapture(BOOL flag) { m_releaseCapture = flag != FALSE; }
  bool OnPointerDown(HWND window, WPARAM flags, LPARAM point);
  bool OnPointerMove(HWND window, WPARAM flags, LPARAM point);
  bool OnPointerUp(HWND window, WPARAM flags, LPARAM point);
  bool OnTimer(HWND window, UINT_PTR id);
  void Destroy();

  int GetOffset() const { return m_offset; }
  int GetContentHeight() const { return m_contentHeight; }
  int GetWidth() const { return m_width; }
  int GetHeight() const { return m_height; }
  double GetVelocity() const { return m_velocity; }
  bool IsMoving() const { return m_moving; }
  bool IsPressed() const { return m_pressed; }
  HWND GetWindow() const { return m_window; }
  RECT GetRect() const { return RECT{m_x, m_y, m_x + m_width, m_y + m_height}; }
  // The back buffer's DC (null before Init), for pictures of the list.
  HDC GetBackBufferDC() const;

  // Flick speed after one step of decay.
  static double DecayVelocity(double velocity);

 private:
  bool OverScrolled() const;
  bool StartBounce(BOOL animate);
  void BounceStep(int step);
  void InertiaStep();

  HWND m_window = nullptr;
  int m_x = 0, m_y = 0, m_width = 0, m_height = 0;
  std::unique_ptr<COffscreenDC> m_backBuffer;
  bool m_highlightShown = false;
  bool m_tapSwallowed = false;
  bool m_releaseCapture = true;
  int m_lastY = 0;
  int m_pressX = 0;
  int m_offset = 0;
  DWORD_PTR m_drawParam = 0;
  int m_contentHeight = 0;
  double m_velocity = 0;
  bool m_moving = false;
  bool m_pressed = false;
  int m_bounceStep = 0;
  struct Sample {
    DWORD tick;
    int y;
  } m_samples[3] = {};  // newest, middle, oldest
  CTouchScrollClient* m_client = nullptr;
  DWORD_PTR m_context = 0;
};
