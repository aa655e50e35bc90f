// The finger-scrolling engine.
#include "quillet/ui/touch_scroller.h"

#include <cmath>
#include <cstdlib>

#include "kernel/time.h"
#include "user/user.h"

CTouchScroller::CTouchScroller() = default;

CTouchScroller::~CTouchScroller() { Destroy(); }

void CTouchScroller::Init(DWORD_PTR context, HWND window, CTouchScrollClient* client, int x, int y, int width,
                          int height) {
  m_window = window;
  m_x = x;
  m_y = y;
  m_client = client;
  m_context = context;
  m_offset = 0;
  m_drawParam = 0;
  m_highlightShown = false;
  m_tapSwallowed = false;
  m_moving = false;
  CreateBackBuffer(width, height);
}

void CTouchScroller::CreateBackBuffer(int width, int height) {
  m_width = width;
  m_height = height;
  if (m_backBuffer) m_backBuffer->Release();
  m_backBuffer.reset();
  // A buffer like the screen: no DC on the window is needed (nothing is
  // drawn on it here).
  HDC hdc = ::GetDC(nullptr);
  m_backBuffer = std::make_unique<COffscreenDC>(hdc, width, height);
  if (hdc) ::ReleaseDC(nullptr, hdc);
  if (m_client)
    m_contentHeight = m_client->DrawContent(m_window, m_context, m_backBuffer->GetDC(), m_drawParam, m_offset,
                                            m_width, m_height);
}

bool CTouchScroller::SetSize(int width, int height) {
  if (width == m_width && height == m_height) return false;
  m_offset = 0;
  CreateBackBuffer(width, height);
  return true;
}

HDC CTouchScroller::GetBackBufferDC() const { return m_backBuffer ? m_backBuffer->GetDC() : nullptr; }

void CTouchScroller::Redraw(BOOL invalidate) {
  if (m_client && m_backBuffer)
    m_contentHeight = m_client->DrawContent(m_window, m_context, m_backBuffer->GetDC(), m_drawParam, m_offset,
                                            m_width, m_height);
  if (invalidate) Invalidate();
}

void CTouchScroller::Invalidate() {
  if (!m_window) return;
  RECT r = {m_x, m_y, m_x + m_width, m_y + m_height};
  InvalidateRect(m_window, &r, FALSE);
  UpdateWindow(m_window);
}

void CTouchScroller::Paint(HDC hdc) {
  if (!m_backBuffer) return;
  BitBlt(hdc, m_x, m_y, m_width, m_height, m_backBuffer->GetDC(), 0, 0, SRCCOPY);
}

bool CTouchScroller::SetOffset(int offset, BOOL redraw) {
  if (offset == m_offset) return false;
  m_offset = offset;
  if (redraw) Redraw(1);
  return true;
}

void CTouchScroller::Tap(int x, int y) {
  if (!m_client) return;
  m_client->OnPress(m_window, m_context, x, y - m_offset);
  Redraw(1);
  Sleep(50);
}

bool CTouchScroller::OnPointerDown(HWND window, WPARAM, LPARAM point) {
  int x = static_cast<short>(LOWORD(point));
  int y = static_cast<short>(HIWORD(point));
  if (x < m_x || x > m_x + m_width || y < m_y || y > m_y + m_height) {
    m_pressed = false;
    return false;
  }
  m_pressed = true;
  KillTimer(m_window, TOUCH_TIMER_FLICK);
  if (m_releaseCapture) m_releaseCapture = window != nullptr;
  m_pressX = x;
  m_lastY = y - m_y;
  DWORD now = GetTickCount();
  for (auto& s : m_samples) s = {now, m_lastY};
  if (!m_moving) {
    KillTimer(m_window, TOUCH_TIMER_HOLD);
    SetTimer(m_window, TOUCH_TIMER_HOLD, 100, nullptr);
    return true;
  }
  // A press during a flick or drag stops it where it is.
  StartBounce(0);
  m_velocity = 0;
  m_moving = false;
  m_tapSwallowed = true;
  return true;
}

bool CTouchScroller::OnPointerMove(HWND, WPARAM, LPARAM point) {
  if (!m_pressed) return false;
  int y = static_cast<short>(HIWORD(point)) - m_y;
  if (!m_moving) {
    int d = m_lastY - y;
    if (std::abs(d) < ScaleY(12)) return true;
    m_moving = true;
    KillTimer(m_window, TOUCH_TIMER_HOLD);
    if (m_client) m_client->OnDragStart(m_window, m_context);
    m_highlightShown = false;
  }
  m_samples[2] = m_samples[1];
  m_samples[1] = m_samples[0];
  m_offset += y - m_lastY;
  m_samples[0] = {GetTickCount(), y};
  m_lastY = y;
  Redraw(1);
  return true;
}

bool CTouchScroller::OnPointerUp(HWND, WPARAM, LPARAM point) {
  if (m_releaseCapture) ReleaseCapture();
  if (!m_pressed) return false;
  m_pressed = false;
  int y = static_cast<short>(HIWORD(point)) - m_y;
  // Whether the release ends a drag or is a click is decided here, once: a
  // drag never ends in a click, however slow it was.
  if (m_moving) {
    int dy = y - m_samples[2].y;
    if (std::abs(dy) > 6) {
      // The elapsed time is at least 1 ms, so samples with the same tick
      // cannot divide by zero.
      DWORD dt = m_samples[0].tick - m_samples[2].tick;
      if (dt < 1) dt = 1;
      m_velocity = std::trunc(45.0 / static_cast<double>(dt) * dy);
      KillTimer(m_window, TOUCH_TIMER_FLICK);
      SetTimer(m_window, TOUCH_TIMER_FLICK, 70, nullptr);
      m_tapSwallowed = false;
      return true;
    }
    if (!StartBounce(1)) m_moving = false;
  } else if (!m_tapSwallowed) {
    KillTimer(m_window, TOUCH_TIMER_HOLD);
    if (!m_highlightShown && m_client) {
      m_client->OnPress(m_window, m_context, m_pressX, m_lastY - m_offset);
      Redraw(1);
      Sleep(50);
    }
    if (m_client) m_client->OnClick(m_window, m_context, m_pressX, m_lastY - m_offset);
    m_highlightShown = false;
  }
  m_tapSwallowed = false;
  return true;
}

bool CTouchScroller::OnTimer(HWND, UINT_PTR id) {
  switch (id) {
    case TOUCH_TIMER_FLICK:
      InertiaStep();
      return true;
    case TOUCH_TIMER_HOLD: {
      KillTimer(m_window, TOUCH_TIMER_HOLD);
      BOOL changed = m_client ? m_client->OnPress(m_window, m_context, m_pressX, m_lastY - m_offset) : FALSE;
      m_highlightShown = true;
      if (changed) Redraw(1);
      return true;
    }
    case TOUCH_TIMER_BOUNCE:
      BounceStep(m_bounceStep);
      if (m_bounceStep > 0) --m_bounceStep;
      else KillTimer(m_window, TOUCH_TIMER_BOUNCE);
      return true;
  }
  return false;
}

void CTouchScroller::Destroy() {
  if (m_window) {
    KillTimer(m_window, TOUCH_TIMER_HOLD);
    KillTimer(m_window, TOUCH_TIMER_FLICK);
    KillTimer(m_window, TOUCH_TIMER_BOUNCE);
  }
  if (m_backBuffer) m_backBuffer->Release();
  m_backBuffer.reset();
}

double CTouchScroller::DecayVelocity(double velocity) {
  long n = std::labs(static_cast<long>(velocity));
  if (n > 200) return velocity * 0.7;
  if (n > 100) return velocity * 0.8;
  if (n < 41) return velocity * 0.94;
  return velocity * 0.9;
}

void CTouchScroller::InertiaStep() {
  m_velocity = DecayVelocity(m_velocity);
  m_offset += static_cast<int>(std::ceil(m_velocity));
  Redraw(1);
  if (!StartBounce(1) && std::labs(static_cast<long>(m_velocity)) >= 2) return;
  KillTimer(m_window, TOUCH_TIMER_FLICK);
  if (std::labs(static_cast<long>(m_velocity)) < 2) m_moving = false;
  m_velocity = 0;
}

bool CTouchScroller::OverScrolled() const {
  return m_offset > 0 || m_offset + m_contentHeight < m_height;
}

bool CTouchScroller::StartBounce(BOOL animate) {
  if (!OverScrolled()) return false;
  if (animate) {
    m_bounceStep = 3;
    KillTimer(m_window, TOUCH_TIMER_BOUNCE);
    SetTimer(m_window, TOUCH_TIMER_BOUNCE, 50, nullptr);
    return true;
  }
  KillTimer(m_window, TOUCH_TIMER_BOUNCE);
  m_moving = false;
  if (m_contentHeight > m_height && m_offset + m_contentHeight < m_height) {
    m_offset = m_height - m_contentHeight;
  } else if (!(m_offset <= 0 && m_offset + m_contentHeight >= m_height)) {
    m_offset = 0;
  }
  Redraw(1);
  return true;
}

void CTouchScroller::BounceStep(int step) {
  if (step == 0) m_moving = false;
  if (step > 3) return;
  int before = m_offset;
  if (m_contentHeight > m_height && m_offset + m_contentHeight < m_height) {
    int target = m_height - m_contentHeight;
    static const double factors[4] = {0, 0.02, 0.2, 0.5};
    if (step == 0) m_offset = target;
    else m_offset += static_cast<int>((target - m_offset) * factors[step]);
  } else if (!(m_offset <= 0 && m_offset + m_contentHeight >= m_height)) {
    static const double factors[4] = {0, 0.2, 0.4, 0.5};
    m_offset = step == 0 ? 0 : static_cast<int>(m_offset * factors[step]);
  }
  if (m_offset != before) Redraw(1);
}
