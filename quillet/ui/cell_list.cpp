// The cell-editing list and the category list.
#include "quillet/ui/cell_list.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <vector>

#include "controls/commctrl.h"
#include "kernel/fs.h"
#include "kernel/resource.h"
#include "quillet/ui/density.h"
#include "quillet/ui/touch_image.h"
#include "shell/aygshell.h"
#include "user/input.h"
#include "user/menu.h"

// ---------------------------------------------------------------- editor

BOOL CCellEdit::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN && msg->hwnd == m_hWnd) {
    if (msg->wParam == VK_RETURN) {
      m_bAccepted = TRUE;
      ::PostMessageW(::GetParent(m_hWnd), WM_CELL_EDIT_END, 1, 0);
    } else if (msg->wParam == VK_ESCAPE) {
      m_bAccepted = FALSE;
      ::PostMessageW(::GetParent(m_hWnd), WM_CELL_EDIT_END, 0, 0);
    }
  }
  return CEdit::PreTranslateMessage(msg);
}

LRESULT CCellEdit::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETFOCUS: {
      LRESULT result = CEdit::WindowProc(message, wParam, lParam);
      m_bAccepted = TRUE;
      return result;
    }
    case WM_KILLFOCUS: {
      LRESULT result = CEdit::WindowProc(message, wParam, lParam);
      ::PostMessageW(::GetParent(m_hWnd), WM_CELL_EDIT_END, m_bAccepted ? 1 : 0, 0);
      return result;
    }
    case WM_GETDLGCODE:
      // Enter, Escape and Tab end or move the edit, not the dialog.
      return CEdit::WindowProc(message, wParam, lParam) | DLGC_WANTALLKEYS;
  }
  return CEdit::WindowProc(message, wParam, lParam);
}

// ---------------------------------------------------------------- cell list

int CCellListCtrl::GetItemCount() const { return static_cast<int>(::SendMessageW(m_hWnd, LVM_GETITEMCOUNT, 0, 0)); }

int CCellListCtrl::GetColumnCount() const {
  int n = 0;
  LVCOLUMNW column = {};
  column.mask = LVCF_WIDTH;
  while (n < 256 && ::SendMessageW(m_hWnd, LVM_GETCOLUMNW, static_cast<WPARAM>(n), reinterpret_cast<LPARAM>(&column)))
    ++n;
  return n;
}

CString CCellListCtrl::GetItemText(int row, int column) const {
  std::vector<WCHAR> text(1024, 0);
  LVITEMW item = {};
  item.iSubItem = column;
  item.pszText = text.data();
  item.cchTextMax = static_cast<int>(text.size());
  ::SendMessageW(m_hWnd, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return CString(text.data());
}

BOOL CCellListCtrl::SetItemText(int row, int column, LPCWSTR text) {
  LVITEMW item = {};
  item.iSubItem = column;
  item.pszText = const_cast<LPWSTR>(text);
  return static_cast<BOOL>(
      ::SendMessageW(m_hWnd, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
}

BOOL CCellListCtrl::GetItemRect(int row, RECT* rect, int code) const {
  rect->left = code;
  return static_cast<BOOL>(::SendMessageW(m_hWnd, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(rect)));
}

BOOL CCellListCtrl::GetSubItemRect(int row, int column, int code, RECT* rect) const {
  if (column == 0) return GetItemRect(row, rect, LVIR_LABEL);
  rect->top = column;
  rect->left = code;
  return static_cast<BOOL>(
      ::SendMessageW(m_hWnd, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(rect)));
}

UINT CCellListCtrl::GetItemState(int row, UINT mask) const {
  return static_cast<UINT>(::SendMessageW(m_hWnd, LVM_GETITEMSTATE, static_cast<WPARAM>(row), mask));
}

BOOL CCellListCtrl::SetItemState(int row, UINT state, UINT mask) {
  LVITEMW item = {};
  item.state = state;
  item.stateMask = mask;
  return static_cast<BOOL>(
      ::SendMessageW(m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
}

void CCellListCtrl::EditItem(int row) {
  RECT r;
  if (!GetItemRect(row, &r, LVIR_LABEL)) return;
  EditCell(1, row, 0, r);
}

void CCellListCtrl::EditCell(int show, int row, int column, const RECT& rect) {
  if (!m_edit.m_hWnd) {
    if (!m_edit.Create(WS_CHILD | WS_BORDER | ES_WANTRETURN | ES_AUTOHSCROLL, rect, this, 1)) return;
    m_edit.ShowWindow(SW_HIDE);
  }
  if (show != 1) {
    m_edit.ShowWindow(SW_HIDE);
    return;
  }
  m_nCell = (static_cast<DWORD>(row) << 16) | (static_cast<DWORD>(column) & 0xFFFF);
  m_edit.MoveWindow(&rect);
  m_edit.ShowWindow(SW_SHOW);
  m_edit.SetWindowText(GetItemText(row, column));
  m_edit.SetFocus();
  m_edit.SetSel(0, 65535);
}

LRESULT CCellListCtrl::OnCellEditEnd(WPARAM accepted, LPARAM keep) {
  if (accepted == 1 && m_edit.m_hWnd && m_edit.IsWindowVisible()) {
    CString text;
    m_edit.GetWindowText(text);
    SetItemText(static_cast<int>(m_nCell >> 16), static_cast<int>(m_nCell & 0xFFFF), text);
    if (HWND parent = ::GetParent(m_hWnd)) ::PostMessageW(parent, WM_CELL_EDIT_END, 0, 0);
  }
  if (keep == 0 && m_edit.m_hWnd) m_edit.ShowWindow(SW_HIDE);
  return 0;
}

BOOL CCellListCtrl::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN && msg->wParam == VK_TAB && m_edit.m_hWnd && m_edit.IsWindowVisible()) {
    OnCellEditEnd(1, 1);
    const int rows = GetItemCount(), columns = std::max(1, GetColumnCount());
    int row = static_cast<int>(m_nCell >> 16), column = static_cast<int>(m_nCell & 0xFFFF);
    if (GetKeyState(VK_CONTROL) < 0) {
      row = row + 1 >= rows ? 0 : row + 1;
    } else if (GetKeyState(VK_SHIFT) < 0) {
      if (--column < 0) {
        column = columns - 1;
        if (--row < 0) row = rows - 1;
      }
    } else if (++column >= columns) {
      column = 0;
      if (++row >= rows) row = 0;
    }
    RECT r;
    GetSubItemRect(row, column, LVIR_LABEL, &r);
    for (int i = 0; i < rows; ++i)
      if (GetItemState(i, LVIS_SELECTED)) SetItemState(i, 0, LVIS_SELECTED);
    SetItemState(row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    EditCell(1, row, column, r);
    return TRUE;
  }
  return CWnd::PreTranslateMessage(msg);
}

LRESULT CCellListCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CELL_EDIT_END) return OnCellEditEnd(wParam, lParam);
  if (message == WM_LBUTTONDBLCLK) return 0;
  return CWnd::WindowProc(message, wParam, lParam);
}

// ---------------------------------------------------------------- favicons

namespace {

uint32_t Le32(const BYTE* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t Le16(const BYTE* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Reads an ".ico" (bitmap entries) into 32-bit pixels with alpha 0 where the
// mask is set. The file is read whole, at most 1 MiB, and every read is
// checked against it.
bool ReadIcon(LPCWSTR path, int* width, int* height, std::vector<uint32_t>* argb) {
  std::ifstream in(qk::HostPath(path), std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  if (size < 6 || size > (1 << 20)) return false;
  in.seekg(0);
  std::vector<BYTE> file(static_cast<size_t>(size));
  if (!in.read(reinterpret_cast<char*>(file.data()), size)) return false;
  if (Le16(&file[0]) != 0 || Le16(&file[2]) != 1 || Le16(&file[4]) == 0) return false;
  const int count = Le16(&file[4]);
  // The smallest width wins (a width byte of 0 is 256), the deeper one
  // among equal widths.
  int chosen = -1, bestWidth = 0, bestBits = -1;
  for (int i = 0; i < count; ++i) {
    const size_t at = 6 + static_cast<size_t>(i) * 16;
    if (at + 16 > file.size()) break;
    const int w = file[at] ? file[at] : 256;
    const int bits = Le16(&file[at + 6]);
    if (chosen < 0 || w < bestWidth || (w == bestWidth && bits > bestBits)) {
      chosen = i;
      bestWidth = w;
      bestBits = bits;
    }
  }
  if (chosen < 0) return false;
  const BYTE* entry = &file[6 + static_cast<size_t>(chosen) * 16];
  const uint32_t bytes = Le32(entry + 8), offset = Le32(entry + 12);
  if (bytes < 40 || bytes > 32000 || offset > file.size() || bytes > file.size() - offset) return false;
  const BYTE* image = &file[offset];
  if (Le32(image) != 40) return false;
  const int w = entry[0] ? entry[0] : 256, h = entry[1] ? entry[1] : 256;
  int bits = Le16(image + 14);
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  const size_t colourStride = ((static_cast<size_t>(bits) * w + 31) / 32) * 4;
  const size_t maskStride = ((static_cast<size_t>(w) + 31) / 32) * 4;
  const size_t palette = bits <= 8 ? (1u << bits) : 0;
  const size_t colourAt = 40 + 4 * palette, maskAt = colourAt + colourStride * h;
  if (maskAt + maskStride * h > bytes) return false;
  argb->assign(static_cast<size_t>(w) * h, 0);
  for (int row = 0; row < h; ++row) {
    const BYTE* src = image + colourAt + colourStride * row;
    const BYTE* mask = image + maskAt + maskStride * row;
    const int y = h - 1 - row;
    for (int x = 0; x < w; ++x) {
      uint32_t r = 0, g = 0, b = 0, a = 255;
      if (bits <= 8) {
        int index = bits == 8 ? src[x] : bits == 4 ? (src[x / 2] >> ((x & 1) ? 0 : 4)) & 15 : (src[x / 8] >> (7 - (x & 7))) & 1;
        const BYTE* q = image + 40 + 4 * index;
        b = q[0];
        g = q[1];
        r = q[2];
      } else if (bits == 16) {
        const unsigned v = src[x * 2] | (src[x * 2 + 1] << 8);
        r = ((v >> 10) & 31) << 3;
        g = ((v >> 5) & 31) << 3;
        b = (v & 31) << 3;
      } else {
        const BYTE* q = src + x * (bits / 8);
        b = q[0];
        g = q[1];
        r = q[2];
        if (bits == 32) a = q[3];
      }
      if ((mask[x / 8] >> (7 - (x & 7))) & 1) a = 0;
      (*argb)[static_cast<size_t>(y) * w + x] = (a << 24) | (r << 16) | (g << 8) | b;
    }
  }
  *width = w;
  *height = h;
  return true;
}

}  // namespace

BOOL CCategoryListCtrl::DrawFavicon(HDC hdc, LPCWSTR path, const RECT& rect) {
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (w <= 0 || h <= 0 || !path || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return FALSE;
  if (HBITMAP picture = SHLoadImageFile(path)) {
    BITMAP info = {};
    GetObjectW(picture, sizeof info, &info);
    HDC mem = CreateCompatibleDC(hdc);
    HGDIOBJ old = SelectObject(mem, picture);
    SetStretchBltMode(hdc, COLORONCOLOR);
    StretchBlt(hdc, rect.left, rect.top, w, h, mem, 0, 0, info.bmWidth, std::abs(info.bmHeight), SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(picture);
    return TRUE;
  }
  int iw = 0, ih = 0;
  std::vector<uint32_t> argb;
  if (!ReadIcon(path, &iw, &ih, &argb)) return FALSE;
  // Scaled by nearest pixels; transparent pixels keep the row's background.
  CDibBuffer buffer;
  if (!buffer.Capture(hdc, rect)) return FALSE;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t c = argb[static_cast<size_t>(y * ih / h) * iw + x * iw / w];
      const int a = static_cast<int>(c >> 24);
      if (!a) continue;
      BYTE* p = buffer.Pixel(x, y);
      const COLORREF blended = BlendColors(RGB((c >> 16) & 255, (c >> 8) & 255, c & 255), RGB(p[2], p[1], p[0]), a);
      p[0] = GetBValue(blended);
      p[1] = GetGValue(blended);
      p[2] = GetRValue(blended);
    }
  buffer.BlitTo(hdc, rect.left, rect.top);
  return TRUE;
}

// ---------------------------------------------------------------- category list

CCategoryListCtrl::CCategoryListCtrl() { InitScreenDpi(0); }

CCategoryListCtrl::~CCategoryListCtrl() = default;

void CCategoryListCtrl::PreSubclassWindow() {
  if (!m_hWnd) return;
  DWORD style = static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE));
  style &= ~static_cast<DWORD>(LVS_TYPEMASK | LVS_SHOWSELALWAYS);
  style |= LVS_REPORT | LVS_SINGLESEL | LVS_EDITLABELS | LVS_OWNERDRAWFIXED | LVS_NOCOLUMNHEADER;
  ::SetWindowLongW(m_hWnd, GWL_STYLE, static_cast<LONG_PTR>(style));
  ::SetWindowLongW(m_hWnd, GWL_EXSTYLE, ::GetWindowLongW(m_hWnd, GWL_EXSTYLE) | 0x20000000);
  LVCOLUMNW column = {};
  column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH;
  column.fmt = LVCFMT_LEFT;
  CString text(u"Column");
  column.pszText = const_cast<LPWSTR>(static_cast<LPCWSTR>(text));
  ::SendMessageW(m_hWnd, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
  SetColumnWidth();
}

BOOL CCategoryListCtrl::SubclassControl(HWND control) {
  if (!SubclassWindow(control)) return FALSE;
  PreSubclassWindow();
  return TRUE;
}

void CCategoryListCtrl::SetColumnWidth() {
  RECT r;
  ::GetClientRect(m_hWnd, &r);
  ::SendMessageW(m_hWnd, LVM_SETCOLUMNWIDTH, 0, r.right - GetSystemMetrics(2 /* SM_CXVSCROLL */) - ScaleX(2));
}

void CCategoryListCtrl::OnTapAndHold(POINT point) {
  // The row under the point: the first whose top is above it by less than
  // the row height.
  const int rows = GetItemCount();
  int found = -1;
  for (int i = 0; i < rows; ++i) {
    RECT r;
    if (GetItemRect(i, &r, LVIR_BOUNDS) && r.top <= point.y && point.y - r.top < std::max(1, static_cast<int>(r.bottom - r.top))) {
      found = i;
      break;
    }
  }
  if (found >= 0) SetItemState(found, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  if (!m_nMenuId) return;
  if (::SendMessageW(m_hWnd, LVM_GETSELECTEDCOUNT, 0, 0) < 1) return;
  HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(m_nMenuId), RT_MENU);
  if (!res) return;
  HMENU menu = qk::shell::LoadMenuTemplate(LockResource(LoadResource(nullptr, res)), SizeofResource(nullptr, res));
  if (!menu) return;
  if (HMENU popup = GetSubMenu(menu, 0)) {
    POINT screen = point;
    ::ClientToScreen(m_hWnd, &screen);
    ::TrackPopupMenuEx(popup, TPM_LEFTALIGN | TPM_TOPALIGN, screen.x, screen.y, ::GetParent(m_hWnd), nullptr);
  }
  DestroyMenu(menu);
}

BOOL CCategoryListCtrl::EraseBackground(HDC hdc) {
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  int top = client.top;
  const int rows = GetItemCount();
  RECT last;
  if (rows > 0 && GetItemRect(rows - 1, &last, LVIR_BOUNDS)) top = last.bottom;
  if (top < client.bottom) {
    TRIVERTEX v[2];
    SetTriVertex(&v[0], client.left, top, GetSysColor(COLOR_WINDOW));
    SetTriVertex(&v[1], client.right, client.bottom, GetSysColor(COLOR_HIGHLIGHT));
    GRADIENT_RECT r = {0, 1};
    GradientFill(hdc, v, 2, &r, 1, GRADIENT_FILL_RECT_V);
  }
  return 1;
}

void CCategoryListCtrl::DrawGridLines() {
  const int rows = GetItemCount();
  RECT first;
  if (rows < 1 || !GetItemRect(0, &first, LVIR_BOUNDS)) return;
  const int pitch = first.bottom - first.top;
  if (pitch <= 0) return;
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  const int perPage = static_cast<int>(::SendMessageW(m_hWnd, LVM_GETCOUNTPERPAGE, 0, 0));
  HDC dc = ::GetDC(m_hWnd);
  HPEN pen = CreatePen(PS_SOLID, 1, RGB(0xC0, 0xC0, 0xC0));
  HGDIOBJ old = SelectObject(dc, pen);
  for (int k = 1; k <= perPage; ++k) {
    const int y = first.top + k * pitch;
    MoveToEx(dc, client.left, y, nullptr);
    LineTo(dc, client.right, y);
  }
  SelectObject(dc, old);
  DeleteObject(pen);
  ::ReleaseDC(m_hWnd, dc);
}

void CCategoryListCtrl::DrawItem(LPDRAWITEMSTRUCT draw) {
  const RECT row = draw->rcItem;
  const int w = row.right - row.left, h = row.bottom - row.top;
  if (w <= 0 || h <= 0) return;
  COffscreenDC off(draw->hDC, w, h);
  HDC dc = off.GetDC();
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  if (m_bGradient) {
    // The window-wide gradient, as seen through the row.
    TRIVERTEX v[2];
    SetTriVertex(&v[0], 0, client.top - row.top, GetSysColor(COLOR_WINDOW));
    SetTriVertex(&v[1], w, client.bottom - row.top, GetSysColor(COLOR_HIGHLIGHT));
    GRADIENT_RECT r = {0, 1};
    GradientFill(dc, v, 2, &r, 1, GRADIENT_FILL_RECT_V);
  } else {
    RECT all = {0, 0, w, h};
    FillRect(dc, &all, GetSysColorBrush(COLOR_WINDOW));
  }
  const int item = static_cast<int>(draw->itemID);
  const bool selected = (draw->itemState & ODS_SELECTED) != 0;
  const bool hiDpi = GetScreenDpiY() == 192;
  const int icon = hiDpi ? 32 : 16;
  const int iconTop = m_bLargeRows ? 2 : h / 2 - icon / 2 + 1;
  RECT iconRect = {ScaleX(2), iconTop, ScaleX(2) + icon, iconTop + icon};
  CString favicon = GetItemText(item, 4);
  if (favicon.IsEmpty() || !DrawFavicon(dc, favicon, iconRect)) {
    auto images = reinterpret_cast<HIMAGELIST>(::SendMessageW(m_hWnd, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    LVITEMW info = {};
    info.mask = LVIF_IMAGE | LVIF_STATE;
    info.iItem = item;
    info.stateMask = 0xFFFF;
    ::SendMessageW(m_hWnd, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&info));
    if (images && info.iImage >= 0)
      ImageList_Draw(images, info.iImage, dc, iconRect.left, iconRect.top,
                     ILD_TRANSPARENT | (info.state & ILD_OVERLAYMASK) | (selected ? ILD_SELECTED : 0));
    const int state = static_cast<int>((info.state & LVIS_STATEIMAGEMASK) >> 12);
    auto stateImages = reinterpret_cast<HIMAGELIST>(::SendMessageW(m_hWnd, LVM_GETIMAGELIST, LVSIL_STATE, 0));
    if (state && stateImages) ImageList_Draw(stateImages, state - 1, dc, iconRect.right, iconRect.top, ILD_TRANSPARENT);
  }
  // The text starts where the list puts its label, so that the cell editor
  // opens right over it, and never over the icon.
  RECT labelRect = {};
  int labelLeft = iconRect.right + ScaleX(4);
  if (GetItemRect(item, &labelRect, LVIR_LABEL)) labelLeft = std::max(labelLeft, static_cast<int>(labelRect.left - row.left));
  RECT label = {labelLeft, 0, w, h};
  if (selected) {
    RECT fill = label;
    FillRect(dc, &fill, GetSysColorBrush(COLOR_HIGHLIGHT));
    SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
  } else {
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  }
  SetBkMode(dc, TRANSPARENT);
  HFONT font = reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
  HGDIOBJ oldFont = font ? SelectObject(dc, font) : nullptr;
  CString text = GetItemText(item, 0);
  RECT textBox = {label.left + ScaleX(2), 0, w - ScaleX(2), h};
  // Characters are dropped from the end until the text and "..." fit.
  SIZE size = {};
  GetTextExtentPoint32W(dc, text, text.GetLength(), &size);
  const int room = textBox.right - textBox.left;
  if (size.cx > room) {
    CString cut = text;
    while (!cut.IsEmpty()) {
      cut = cut.Left(cut.GetLength() - 1);
      CString candidate = cut + u"...";
      GetTextExtentPoint32W(dc, candidate, candidate.GetLength(), &size);
      if (size.cx <= room) break;
    }
    text = cut + u"...";
  }
  DrawTextW(dc, text, text.GetLength(), &textBox, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  if (oldFont) SelectObject(dc, oldFont);
  BitBlt(draw->hDC, row.left, row.top, w, h, dc, 0, 0, SRCCOPY);
}

BOOL CCategoryListCtrl::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case WM_DRAWITEM:
      DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(lParam));
      if (result) *result = TRUE;
      return TRUE;
    case WM_MEASUREITEM: {
      auto* measure = reinterpret_cast<LPMEASUREITEMSTRUCT>(lParam);
      LOGFONTW lf = {};
      HFONT font = reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
      if (!font || !GetObjectW(font, sizeof lf, &lf)) lf.lfHeight = -ScaleY(12);
      const int fontHeight = std::abs(static_cast<int>(lf.lfHeight));
      m_nRowHeight = m_bLargeRows ? fontHeight * 10 / 4 + 3 : fontHeight * 6 / 4 + 3;
      measure->itemHeight = static_cast<UINT>(m_nRowHeight);
      if (result) *result = TRUE;
      return TRUE;
    }
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->code == LVN_BEGINLABELEDITW || header->code == LVN_ENDLABELEDITW) {
        if (result) *result = 0;
        return TRUE;
      }
      if (static_cast<int>(header->code) == -50) {
        if (result) *result = 1;
        return TRUE;
      }
      break;
    }
  }
  return CCellListCtrl::OnChildNotify(message, wParam, lParam, result);
}

LRESULT CCategoryListCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS: {
      LRESULT result = CCellListCtrl::WindowProc(message, wParam, lParam);
      HWND other = reinterpret_cast<HWND>(wParam);
      if (!(other && ::IsChild(m_hWnd, other))) {
        const int focused = static_cast<int>(::SendMessageW(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
        const int selected = static_cast<int>(::SendMessageW(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
        for (int row : {focused, selected})
          if (row >= 0) ::SendMessageW(m_hWnd, LVM_REDRAWITEMS, static_cast<WPARAM>(row), row);
      }
      return result;
    }
    case WM_LBUTTONDOWN: {
      SHRGINFO info = {sizeof info, m_hWnd, {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))},
                       SHRG_RETURNCMD};
      if (SHRecognizeGesture(&info) != GN_CONTEXTMENU) return CCellListCtrl::WindowProc(message, wParam, lParam);
      OnTapAndHold(info.ptDown);
      return 0;
    }
    case WM_SETFONT: {
      LRESULT result = CCellListCtrl::WindowProc(message, wParam, lParam);
      RECT r;
      ::GetWindowRect(m_hWnd, &r);
      // The rows are measured again: the window is told its own size.
      ::SetWindowPos(m_hWnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      return result;
    }
    case WM_PAINT: {
      LRESULT result = CCellListCtrl::WindowProc(message, wParam, lParam);
      if (m_bLargeRows) DrawGridLines();
      return result;
    }
    case WM_SIZE: {
      LRESULT result = CCellListCtrl::WindowProc(message, wParam, lParam);
      SetColumnWidth();
      return result;
    }
    case WM_ERASEBKGND:
      if (m_bGradient) return EraseBackground(reinterpret_cast<HDC>(wParam));
      break;
  }
  return CCellListCtrl::WindowProc(message, wParam, lParam);
}
