// Small controls of the screens: CCaptionStatic, a static control that
// paints a title bar (plain or gradient background, text in a "Tahoma" font
// sized by the screen density and the system language); CColorEdit, an
// edit with its own text and background colours and no visible caret; and
// CSipEdit, an edit that raises the input panel while it has the focus.
//
// Each is attached to its dialog's control with SubclassControl, which runs
// PreSubclassWindow before the window's messages come through the map.
#pragma once

#include "framework/afx.h"
#include "framework/controls.h"
#include "framework/wnd.h"

class CCaptionStatic : public CStatic {
 public:
  CCaptionStatic();
  // 1 bold, 2 italic, 3 underline, 4 strike-out, 5 font quality; any other
  // value clears the five switches and both alignments.
  void SetOption(int n);
  void SetFontHeight(int height) { m_nFontHeight = height; }
  void SetCentred(BOOL centred) { m_bCentred = centred ? 1 : 0; }
  void SetRightAligned(BOOL right) { m_bRight = right ? 1 : 0; }
  void SetGradient(BOOL gradient) { m_bGradient = gradient ? 1 : 0; }
  void SetCustomBackground(BOOL custom) { m_bCustomBackground = custom ? 1 : 0; }
  void SetColors(COLORREF text, COLORREF background) {
    m_crText = text;
    m_crBackground = background;
  }
  void PreSubclassWindow() override;
  BOOL SubclassControl(HWND control);

  int GetFontHeight() const { return m_nFontHeight; }
  BYTE GetSwitch(int n) const { return n >= 1 && n <= 5 ? m_switches[n - 1] : 0; }
  BYTE IsCentred() const { return m_bCentred; }
  BYTE IsRightAligned() const { return m_bRight; }

 protected:
  void OnPaint();
  DECLARE_MESSAGE_MAP()

 private:
  BYTE m_switches[5] = {1, 0, 0, 0, 0};
  BYTE m_bCustomBackground = 1;
  BYTE m_bGradient = 0;
  BYTE m_bCentred = 0;
  BYTE m_bRight = 0;
  CString m_strFace;
  COLORREF m_crText;
  COLORREF m_crBackground;
  int m_nFontHeight;
};

class CColorEdit : public CEdit {
 public:
  CColorEdit() = default;
  ~CColorEdit() override;
  void SetTextColor(COLORREF colour);
  void SetBkColor(COLORREF colour);
  BOOL SubclassControl(HWND control) { return SubclassWindow(control); }
  HBRUSH GetBrush() const { return m_hBrush; }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  HBRUSH CtlColor(CDC* dc, UINT ctlColor);
  DECLARE_MESSAGE_MAP()

 private:
  COLORREF m_crText = 0;
  COLORREF m_crBackground = 0;
  BOOL m_bBackgroundSet = FALSE;
  HBRUSH m_hBrush = nullptr;
};

class CSipEdit : public CEdit {
 public:
  BOOL SubclassControl(HWND control) { return SubclassWindow(control); }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};
