// Touch menu and popup lists.
#include "quillet/ui/touch_list.h"

#include <algorithm>

#include "common/localize.h"
#include "shell/aygshell.h"
#include "user/dialog.h"
#include "user/input.h"
#include "user/user.h"

namespace {

COLORREF Blend(int weight) { return BlendColors(RGB(0, 0, 0), GetSysColor(COLOR_HIGHLIGHT), weight); }

void FillSolid(HDC hdc, int left, int top, int right, int bottom, COLORREF colour) {
  if (right <= left || bottom <= top) return;
  HBRUSH brush = CreateSolidBrush(colour);
  RECT r = {left, top, right, bottom};
  FillRect(hdc, &r, brush);
  DeleteObject(brush);
}

void Gradient(HDC hdc, int left, int top, int right, int bottom, COLORREF from, COLORREF to, ULONG mode) {
  if (right <= left || bottom <= top) return;
  TRIVERTEX v[2];
  SetTriVertex(&v[0], left, top, from);
  SetTriVertex(&v[1], right, bottom, to);
  GRADIENT_RECT r = {0, 1};
  GradientFill(hdc, v, 2, &r, 1, mode);
}

void ReleaseOffscreen(COffscreenDC*& dc) {
  if (!dc) return;
  dc->Release();
  delete dc;
  dc = nullptr;
}

}  // namespace

// ---------------------------------------------------------------- rows

CTouchListItem::CTouchListItem(LPCWSTR text, UINT commandId, CTouchListBase* owner)
    : m_strText(text), m_nCommandId(commandId), m_pOwner(owner) {}

CTouchListItem::~CTouchListItem() { ReleaseOffscreen(m_pRendering); }

CTouchImageItem::CTouchImageItem(LPCWSTR text, HMODULE module, int imageId, int secondImageId, UINT commandId,
                                 CTouchListBase* owner)
    : CTouchListItem(text, commandId, owner) {
  if (imageId != -1) m_image.LoadFromResource(module, static_cast<UINT>(imageId));
  if (secondImageId != -1) m_secondImage.LoadFromResource(module, static_cast<UINT>(secondImageId));
}

CTouchBackItem::CTouchBackItem(CTouchListBase* owner, CTouchLevelItem* level)
    : CTouchListItem(Localized(u"Back"), 0, owner), m_pLevel(level) {}

CTouchLevelItem::CTouchLevelItem(LPCWSTR text, HMODULE module, int imageId, CTouchListBase* owner)
    : CTouchImageItem(text, module, imageId, -1, 0, owner) {
  m_children.push_back(new CTouchBackItem(owner, this));
}

CTouchLevelItem::~CTouchLevelItem() {
  for (CTouchListItem* child : m_children) delete child;
}

CTouchListItem* CTouchLevelItem::AddItem(LPCWSTR text, HMODULE module, int imageId, int secondImageId,
                                         UINT commandId) {
  auto* item = new CTouchImageItem(text, module, imageId, secondImageId, commandId, m_pOwner);
  m_children.push_back(item);
  return item;
}

// ---------------------------------------------------------------- base

CTouchListBase::CTouchListBase(BOOL bold) : m_bBold(bold) {
  InitScreenDpi(0);
  HDC screen = GetDC(nullptr);
  m_nDpiX = GetDeviceCaps(screen, LOGPIXELSX);
  m_nDpiY = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
}

CTouchListBase::~CTouchListBase() {
  RemoveAllItems();
  m_scroller.Destroy();
}

void CTouchListBase::CreateScroller(DWORD_PTR context, HWND window, int x, int y, int width, int height) {
  m_scroller.Init(context, window, this, x, y, width, height);
}

CTouchListItem* CTouchListBase::AddItem(LPCWSTR text, HMODULE module, int imageId, int secondImageId,
                                        UINT commandId) {
  auto* item = new CTouchImageItem(text, module, imageId, secondImageId, commandId, this);
  m_items.push_back(item);
  PlaceItems();
  return item;
}

CTouchLevelItem* CTouchListBase::AddLevel(LPCWSTR text, HMODULE module, int imageId) {
  auto* item = new CTouchLevelItem(text, module, imageId, this);
  m_items.push_back(item);
  PlaceItems();
  return item;
}

void CTouchListBase::RemoveAllItems() {
  // Nothing may point at a row once it is gone.
  ForgetItems();
  m_pItems = &m_items;
  for (CTouchListItem* item : m_items) delete item;
  m_items.clear();
}

void CTouchListBase::PlaceItems() {
  const int pitch = GetRowPitch();
  for (size_t i = 0; i < m_pItems->size(); ++i) {
    (*m_pItems)[i]->m_nTop = static_cast<int>(i) * pitch;
    (*m_pItems)[i]->m_nBottom = (*m_pItems)[i]->m_nTop + pitch;
  }
}

void CTouchListBase::DropRendering(CTouchListItem* item) {
  if (!item) return;
  // The extent stays: it follows from the row's index, not from drawing.
  ReleaseOffscreen(item->m_pRendering);
}

void CTouchListBase::SetItemSelected(CTouchListItem* item, BOOL selected) {
  if (!item) return;
  BYTE flag = selected ? 1 : 0;
  if (item->m_bSelected == flag) return;
  item->m_bSelected = flag;
  DropRendering(item);
}

void CTouchListBase::DrawRow(CTouchListItem* item, HDC hdc, int x, int y, int width, int height, int index) {
  if (!item->m_pRendering) {
    item->m_pRendering = new COffscreenDC(hdc, width, height);
    DrawItem(item, item->m_pRendering->GetDC(), width, height, index);
  }
  BitBlt(hdc, x, y, width, height, item->m_pRendering->GetDC(), 0, 0, SRCCOPY);
}

bool CTouchListBase::OnPointerDown(HWND window, WPARAM wParam, LPARAM lParam) {
  return m_scroller.OnPointerDown(window, wParam, lParam);
}
bool CTouchListBase::OnPointerMove(HWND window, WPARAM wParam, LPARAM lParam) {
  return m_scroller.OnPointerMove(window, wParam, lParam);
}
bool CTouchListBase::OnPointerUp(HWND window, WPARAM wParam, LPARAM lParam) {
  return m_scroller.OnPointerUp(window, wParam, lParam);
}
bool CTouchListBase::OnTimer(HWND window, UINT_PTR id) { return m_scroller.OnTimer(window, id); }

CTouchListItem* CTouchListBase::GetItem(int index) const {
  if (index < 0 || index >= GetItemCount()) return nullptr;
  return (*m_pItems)[static_cast<size_t>(index)];
}

int CTouchListBase::IndexOf(const CTouchListItem* item) const {
  for (size_t i = 0; i < m_pItems->size(); ++i)
    if ((*m_pItems)[i] == item) return static_cast<int>(i);
  return -1;
}

CTouchListItem* CTouchListBase::ItemAt(int y) const {
  for (CTouchListItem* item : *m_pItems)
    if (item->m_nTop <= y && y < item->m_nBottom) return item;
  return nullptr;
}

// ---------------------------------------------------------------- menu list

CTouchMenuList::CTouchMenuList(BOOL bold, BOOL autoSelect) : CTouchListBase(bold), m_bAutoSelect(autoSelect) {
  m_hFont = CreateListFont(bold);
}

CTouchMenuList::~CTouchMenuList() {
  RemoveAllItems();
  DeleteObject(m_hFont);
}

int CTouchMenuList::GetRowPitch() const { return GetTouchFlag() ? m_nDpiY * 41 / 96 : 34; }

void CTouchMenuList::Create(DWORD_PTR context, HWND window, int x, int y, int width, int height,
                            TouchMenuClickCallback callback) {
  m_pSelected = nullptr;
  m_pCallback = callback;
  m_context = context;
  m_hWindow = window;
  CreateScroller(context, window, x, y, width, height);
}

void CTouchMenuList::Select(CTouchListItem* item) {
  if (m_pSelected && m_pSelected != item) SetItemSelected(m_pSelected, FALSE);
  m_pSelected = item;
  if (item) SetItemSelected(item, TRUE);
}

void CTouchMenuList::RefreshItems(BOOL redraw) {
  PlaceItems();
  if (!GetTouchFlag() && m_bAutoSelect && !m_pSelected && !m_items.empty()) {
    Select(m_items.front());
    EnsureSelectedVisible();
  }
  for (CTouchListItem* item : m_items) DropRendering(item);
  m_scroller.Redraw(redraw);
}

void CTouchMenuList::SetItemCheck(UINT commandId, DWORD value) {
  for (CTouchListItem* item : m_items)
    if (item->m_nCommandId == commandId) {
      item->m_nCheckValue = value;
      DropRendering(item);
      break;
    }
  m_scroller.Redraw(1);
}

void CTouchMenuList::SelectNext() {
  if (m_items.empty()) return;
  int i = IndexOf(m_pSelected);
  Select(m_items[(i < 0 || i + 1 >= static_cast<int>(m_items.size())) ? 0 : static_cast<size_t>(i + 1)]);
  EnsureSelectedVisible();
}

void CTouchMenuList::SelectPrevious() {
  if (m_items.empty()) return;
  int i = IndexOf(m_pSelected);
  Select(m_items[(i <= 0) ? m_items.size() - 1 : static_cast<size_t>(i - 1)]);
  EnsureSelectedVisible();
}

void CTouchMenuList::SelectItemById(UINT commandId, BOOL scroll) {
  for (CTouchListItem* item : m_items)
    if (item->m_nCommandId == commandId) {
      Select(item);
      if (scroll) EnsureSelectedVisible();
      return;
    }
}

void CTouchMenuList::EnsureSelectedVisible() {
  if (!m_pSelected) return;
  const int offset = m_scroller.GetOffset(), height = m_scroller.GetHeight();
  bool moved = false;
  if (offset + m_pSelected->m_nTop < 0) moved = m_scroller.SetOffset(-m_pSelected->m_nTop, TRUE);
  else if (m_pSelected->m_nBottom > height - offset) moved = m_scroller.SetOffset(height - m_pSelected->m_nBottom, TRUE);
  if (!moved) m_scroller.Redraw(1);
}

BOOL CTouchMenuList::HandleKey(WPARAM key) {
  switch (key) {
    case VK_RETURN:
      ClickSelected();
      return TRUE;
    case VK_UP:
      SelectPrevious();
      return TRUE;
    case VK_DOWN:
      SelectNext();
      return TRUE;
    default:
      return FALSE;
  }
}

void CTouchMenuList::ClickSelected() {
  if (m_pCallback && m_pSelected) m_pCallback(m_hWindow, m_context, m_pSelected->m_nCommandId, m_pSelected);
}

void CTouchMenuList::Resize(int width, int height) {
  if (width == m_scroller.GetWidth() && height == m_scroller.GetHeight()) return;
  for (CTouchListItem* item : m_items) DropRendering(item);
  m_scroller.SetSize(width, height);
}

BOOL CTouchMenuList::OnPress(HWND, DWORD_PTR, int, int y) {
  Select(nullptr);
  Select(ItemAt(y));
  return 1;
}

BOOL CTouchMenuList::OnDragStart(HWND, DWORD_PTR) {
  Select(nullptr);
  return 0;
}

void CTouchMenuList::OnClick(HWND window, DWORD_PTR context, int, int y) {
  CTouchListItem* item = ItemAt(y);
  if (m_pCallback && item) m_pCallback(window, context, item->m_nCommandId, item);
}

int CTouchMenuList::DrawContent(HWND, DWORD_PTR, HDC hdc, DWORD_PTR, int offset, int width, int height) {
  const int h = GetRowPitch();
  const int line = m_nDpiY / 96;
  if (offset > 0) {
    FillSolid(hdc, 0, 0, width, offset, Blend(160));
    FillSolid(hdc, 0, offset - line, width, offset, Blend(180));
  }
  int y = offset;
  for (size_t i = 0; i < m_items.size(); ++i) {
    CTouchListItem* item = m_items[i];
    if (y + 3 * h < 0 || y - 2 * h > height) DropRendering(item);
    else DrawRow(item, hdc, 0, y, width, h, static_cast<int>(i));
    item->m_nTop = y - offset;
    item->m_nBottom = item->m_nTop + h;
    y += h;
  }
  if (y < height) FillSolid(hdc, 0, y, width, height, Blend(70));
  return y - offset;
}

void CTouchMenuList::DrawItem(CTouchListItem* item, HDC hdc, int width, int height, int index) {
  const int n = static_cast<int>(m_items.size());
  const int step = 90 / std::max(n, 1);
  const int X = m_nDpiX, Y = m_nDpiY;
  const int line = Y / 96;
  SetTextColor(hdc, RGB(255, 255, 255));
  SetBkMode(hdc, TRANSPARENT);
  HGDIOBJ oldFont = SelectObject(hdc, m_hFont);
  const COLORREF top = Blend(157 - step * (index + 1)), bottom = Blend(159 - step * index);
  Gradient(hdc, 0, 0, width, height, top, bottom, GRADIENT_FILL_RECT_V);
  if (item->m_bSelected) {
    if (!GetTouchFlag()) {
      RECT box = {-4, -4, width + 4, height - line + 4};
      DrawSoftBox(hdc, box, BlendColors(RGB(255, 255, 255), bottom, 80), top, FALSE);
    }
    FillAlpha(hdc, 0, 0, width, height - line, RGB(255, 255, 255), 40);
  }
  auto* images = item->GetKind() != 2 ? static_cast<CTouchImageItem*>(item) : nullptr;
  auto centred = [&](CTouchImage& image, int x) {
    if (image.HasImageHandle()) image.Draw(hdc, x, (GetRowPitch() - image.GetHeight()) / 2);
  };
  RECT text = {0, 0, width, GetRowPitch()};
  if (GetTouchFlag()) {
    if (images) centred(images->m_image, X * 10 / 96);
    if (images && item->m_nCheckValue) centred(images->m_secondImage, width - X * 50 / 96);
    text.left = X * 52 / 96;
    text.right = width - (item->m_nCheckValue ? X * 60 / 96 : 0);
  } else if (m_nCheckMode) {
    if (images) centred(images->m_image, X * 2 / 96);
    if (images && item->m_nCheckValue) centred(images->m_secondImage, width - X * 25 / 96);
    text.left = X * 8 / 96 + 24;
    text.right = width - (item->m_nCheckValue ? X * 30 / 96 : 0);
  } else {
    if (images) centred(item->m_nCheckValue ? images->m_secondImage : images->m_image, X * 2 / 96);
    text.left = X * 8 / 96 + 24;
  }
  DrawTextW(hdc, item->m_strText, item->m_strText.GetLength(), &text,
            DT_SINGLELINE | DT_VCENTER | DT_WORD_ELLIPSIS | DT_NOPREFIX);
  FillSolid(hdc, 0, height - line, width, height, Blend(180 - step * index));
  if (oldFont) SelectObject(hdc, oldFont);
}

// ---------------------------------------------------------------- popup list

CTouchPopupList::CTouchPopupList() : CTouchListBase(TRUE) {
  InitImagingFactory();
  m_hFont = CreateListFont(TRUE);
  m_scroller.SetReleaseCapture(FALSE);
}

CTouchPopupList::~CTouchPopupList() {
  RemoveAllItems();
  DropFullRendering();
  ReleaseOffscreen(m_pFrame);
  ReleaseOffscreen(m_pSaved);
  DeleteObject(m_hFont);
}

RECT CTouchPopupList::PopupRect(int W, int H) {
  InitScreenDpi(0);
  if (ScaleY(42) <= 0) return RECT{0, 0, 0, 0};
  const int rows = (H - ScaleY(70)) / ScaleY(42);
  const int L = std::min(rows * ScaleY(43) - ScaleY(1), 5 * ScaleY(42));
  const int half = (W - 2 * ScaleX(32)) / 2;
  RECT r;
  r.left = W / 2 - half;
  r.right = r.left + 2 * half;
  r.top = (H - L) / 2;
  r.bottom = r.top + L;
  return r;
}

int CTouchPopupList::DoModal(HINSTANCE instance, DWORD_PTR context, HWND parent) {
  m_context = context;
  m_nScreenWidth = GetSystemMetrics(SM_CXSCREEN);
  m_nScreenHeight = GetSystemMetrics(SM_CYSCREEN);
  m_rcPopup = PopupRect(m_nScreenWidth, m_nScreenHeight);
  m_bPressedOutside = false;
  m_pPressed = nullptr;
  // The template's size is the screen's, in dialog units.
  LONG units = GetDialogBaseUnits();
  const int bx = std::max(1, static_cast<int>(LOWORD(units))), by = std::max(1, static_cast<int>(HIWORD(units)));
  qk::DialogTemplateBuilder builder(WS_POPUP | WS_VISIBLE, 0, 0, 0, static_cast<short>(m_nScreenWidth * 4 / bx),
                                    static_cast<short>(m_nScreenHeight * 8 / by));
  std::vector<DWORD> bytes = builder.Build();
  INT_PTR result = DialogBoxIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()), parent,
                                           &CTouchPopupList::DialogProc, reinterpret_cast<LPARAM>(this));
  m_hDialog = nullptr;
  return static_cast<int>(result);
}

INT_PTR CTouchPopupList::DialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) SetWindowLongW(dialog, GWL_USERDATA, lParam);
  auto* self = reinterpret_cast<CTouchPopupList*>(GetWindowLongW(dialog, GWL_USERDATA));
  if (!self) return FALSE;
  return self->OnMessage(dialog, msg, wParam, lParam);
}

void CTouchPopupList::OnInitDialog(HWND dialog) {
  m_hDialog = dialog;
  m_nScreenWidth = GetSystemMetrics(SM_CXSCREEN);
  m_nScreenHeight = GetSystemMetrics(SM_CYSCREEN);
  HWND taskBar = FindWindowW(u"HHTaskBar", nullptr);
  // Full screen below the task bar, down to the bottom: the popup has no
  // menu bar, and the whole page under it is dimmed.
  SHINITDLGINFO init = {SHIDIM_FLAGS, dialog, SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_FULLSCREENNOMENUBAR};
  SHInitDialog(&init);
  m_hScreenDC = GetDC(nullptr);
  BuildBackgrounds();
  m_nTaskBarHeight = 0;
  if (taskBar && IsWindowVisible(taskBar)) {
    RECT r;
    GetClientRect(taskBar, &r);
    m_nTaskBarHeight = r.bottom;
  }
  POINT origin = {0, 0};
  ClientToScreen(dialog, &origin);
  CreateScroller(m_context, dialog, m_rcPopup.left - origin.x, m_rcPopup.top - origin.y,
                 m_rcPopup.right - m_rcPopup.left, m_rcPopup.bottom - m_rcPopup.top);
}

void CTouchPopupList::BuildBackgrounds() {
  const int W = m_nScreenWidth, H = m_nScreenHeight;
  ReleaseOffscreen(m_pSaved);
  ReleaseOffscreen(m_pFrame);
  m_pSaved = new COffscreenDC(m_hScreenDC, W, H);
  BitBlt(m_pSaved->GetDC(), 0, 0, W, H, m_hScreenDC, 0, 0, SRCCOPY);
  m_pFrame = new COffscreenDC(m_hScreenDC, W, H);
  HDC frame = m_pFrame->GetDC();
  // The screen dimmed: blended onto black with alpha 160.
  BitBlt(frame, 0, 0, W, H, m_pSaved->GetDC(), 0, 0, SRCCOPY);
  FillAlpha(frame, 0, 0, W, H, RGB(0, 0, 0), 255 - 160);
  RECT box = {m_rcPopup.left - ScaleX(8), m_rcPopup.top - ScaleY(5), m_rcPopup.right + ScaleX(8),
              m_rcPopup.bottom + ScaleY(5)};
  DrawSoftBox(frame, box, RGB(54, 54, 54), RGB(0, 0, 0), FALSE);
}

void CTouchPopupList::Close(int result) {
  const bool rotated = GetSystemMetrics(SM_CXSCREEN) != m_nScreenWidth &&
                       GetSystemMetrics(SM_CYSCREEN) != m_nScreenHeight;
  if (!rotated && m_pSaved && m_hScreenDC)
    BitBlt(m_hScreenDC, 0, 0, m_nScreenWidth, m_nScreenHeight, m_pSaved->GetDC(), 0, 0, SRCCOPY);
  EndDialog(m_hDialog, result);
}

INT_PTR CTouchPopupList::OnMessage(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG:
      OnInitDialog(dialog);
      return TRUE;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC hdc = BeginPaint(dialog, &ps);
      if (m_pFrame) {
        HDC frame = m_pFrame->GetDC();
        const int w = m_rcPopup.right - m_rcPopup.left, h = m_rcPopup.bottom - m_rcPopup.top;
        if (HDC list = m_scroller.GetBackBufferDC())
          BitBlt(frame, m_rcPopup.left, m_rcPopup.top, w, h, list, 0, 0, SRCCOPY);
        else
          FillSolid(frame, m_rcPopup.left, m_rcPopup.top, m_rcPopup.right, m_rcPopup.bottom, RGB(0, 0, 0));
        POINT origin = {0, 0};
        ClientToScreen(dialog, &origin);
        BitBlt(hdc, 0, 0, m_nScreenWidth, m_nScreenHeight - origin.y, frame, origin.x, origin.y, SRCCOPY);
      }
      EndPaint(dialog, &ps);
      return TRUE;
    }
    case WM_ERASEBKGND:
      if (m_pSaved)
        BitBlt(reinterpret_cast<HDC>(wParam), 0, 0, m_nScreenWidth, m_nScreenHeight, m_pSaved->GetDC(), 0,
               m_nTaskBarHeight, SRCCOPY);
      return TRUE;
    case WM_LBUTTONDOWN:
      OnPointerDown(dialog, wParam, lParam);
      return TRUE;
    case WM_MOUSEMOVE:
      OnPointerMove(dialog, wParam, lParam);
      return TRUE;
    case WM_LBUTTONUP:
      OnPointerUp(dialog, wParam, lParam);
      return TRUE;
    case WM_TIMER:
      return OnTimer(dialog, wParam) ? TRUE : FALSE;
    case WM_ACTIVATE: {
      SHHandleWMActivate(dialog, wParam, lParam, &m_activate, 0);
      return TRUE;
    }
    case WM_SETTINGCHANGE:
      SHHandleWMSettingChange(dialog, wParam, lParam, &m_activate);
      return TRUE;
    case WM_SIZE: {
      const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
      if (m_nScreenWidth && w != m_nScreenWidth && h != m_nScreenHeight) {
        // A rotation: the saved screen no longer fits.
        EndDialog(dialog, -1);
      }
      m_nScreenWidth = w;
      m_nScreenHeight = h;
      return TRUE;
    }
    case WM_DESTROY:
      m_scroller.Destroy();
      if (m_hScreenDC) ReleaseDC(nullptr, m_hScreenDC);
      m_hScreenDC = nullptr;
      ReleaseOffscreen(m_pFrame);
      ReleaseOffscreen(m_pSaved);
      DropFullRendering();
      return TRUE;
  }
  return FALSE;
}

bool CTouchPopupList::InsidePopup(LPARAM lParam, HWND window, LPARAM* scrollerPoint) const {
  POINT p = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  *scrollerPoint = lParam;
  ClientToScreen(window, &p);
  return p.x > m_rcPopup.left && p.x < m_rcPopup.right && p.y > m_rcPopup.top && p.y < m_rcPopup.bottom;
}

bool CTouchPopupList::OnPointerDown(HWND window, WPARAM wParam, LPARAM lParam) {
  LPARAM point;
  if (!InsidePopup(lParam, window, &point)) {
    m_bPressedOutside = true;
    return false;
  }
  m_bPressedOutside = false;
  return m_scroller.OnPointerDown(window, wParam, point);
}

bool CTouchPopupList::OnPointerMove(HWND window, WPARAM wParam, LPARAM lParam) {
  LPARAM point;
  if (!InsidePopup(lParam, window, &point)) return false;
  return m_scroller.OnPointerMove(window, wParam, point);
}

bool CTouchPopupList::OnPointerUp(HWND window, WPARAM wParam, LPARAM lParam) {
  LPARAM point;
  if (InsidePopup(lParam, window, &point)) {
    m_bPressedOutside = false;
    return m_scroller.OnPointerUp(window, wParam, point);
  }
  if (m_bPressedOutside) {
    m_bPressedOutside = false;
    Close(-1);
    return true;
  }
  return m_scroller.OnPointerUp(window, wParam, point);
}

BOOL CTouchPopupList::OnPress(HWND, DWORD_PTR, int, int y) {
  m_pPressed = ItemAt(y);
  return 1;
}

BOOL CTouchPopupList::OnDragStart(HWND, DWORD_PTR) {
  m_pPressed = nullptr;
  return 1;
}

void CTouchPopupList::OnClick(HWND, DWORD_PTR, int, int y) {
  CTouchListItem* item = ItemAt(y);
  if (!item) return;
  m_pPressed = nullptr;
  switch (item->GetKind()) {
    case 0:
      Close(static_cast<int>(item->m_nCommandId));
      return;
    case 1: {
      auto* level = static_cast<CTouchLevelItem*>(item);
      level->m_pParentItems = m_pItems;
      level->m_nParentOffset = m_scroller.GetOffset();
      m_pItems = &level->m_children;
      PlaceItems();
      DropFullRendering();
      if (!m_scroller.SetOffset(0, TRUE)) m_scroller.Redraw(1);
      return;
    }
    case 2: {
      CTouchLevelItem* level = static_cast<CTouchBackItem*>(item)->m_pLevel;
      m_pItems = level->m_pParentItems ? level->m_pParentItems : &m_items;
      PlaceItems();
      DropFullRendering();
      if (!m_scroller.SetOffset(level->m_nParentOffset, TRUE)) m_scroller.Redraw(1);
      return;
    }
  }
}

void CTouchPopupList::DropFullRendering() {
  ReleaseOffscreen(m_pAllRows);
  m_nAllRowsContent = 0;
}

int CTouchPopupList::DrawContent(HWND, DWORD_PTR, HDC hdc, DWORD_PTR, int offset, int width, int height) {
  const int pitch = GetRowPitch();
  const int rows = GetItemCount();
  if (!m_pAllRows) {
    // All rows once, into one tall buffer: a view height of black above
    // them and room below for the list pulled past its end.
    m_nAllRowsContent = std::max(rows * pitch, height);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    m_pAllRows = new COffscreenDC(hdc, width, screenHeight + m_nAllRowsContent + height);
    HDC all = m_pAllRows->GetDC();
    // Black above and below the rows; the rows paint their own.
    FillSolid(all, 0, 0, width, height, RGB(0, 0, 0));
    FillSolid(all, 0, height + rows * pitch, width, screenHeight + m_nAllRowsContent + height, RGB(0, 0, 0));
    CTouchListItem* pressed = m_pPressed;
    m_pPressed = nullptr;
    for (int i = 0; i < rows; ++i) {
      CTouchListItem* item = (*m_pItems)[static_cast<size_t>(i)];
      DropRendering(item);
      DrawRow(item, all, 0, height + i * pitch, width, pitch, i);
      DropRendering(item);
      item->m_nTop = i * pitch;
      item->m_nBottom = item->m_nTop + pitch;
    }
    m_pPressed = pressed;
  }
  const int bufferHeight = GetSystemMetrics(SM_CYSCREEN) + m_nAllRowsContent + height;
  int source = height - offset;
  int dst = 0, h = height;
  if (source < 0) {
    dst = -source;
    h -= dst;
    source = 0;
  }
  if (source + h > bufferHeight) h = bufferHeight - source;
  // What the buffer does not reach stays black.
  if (dst > 0) FillSolid(hdc, 0, 0, width, dst, RGB(0, 0, 0));
  if (h < 0) h = 0;
  if (dst + h < height) FillSolid(hdc, 0, dst + h, width, height, RGB(0, 0, 0));
  if (h > 0) BitBlt(hdc, 0, dst, width, h, m_pAllRows->GetDC(), 0, source, SRCCOPY);
  if (m_pPressed) {
    const int y = offset + m_pPressed->m_nTop;
    if (y + pitch > 0 && y < height) {
      COffscreenDC pressed(hdc, width, pitch);
      DrawItem(m_pPressed, pressed.GetDC(), width, pitch, IndexOf(m_pPressed));
      BitBlt(hdc, 0, y, width, pitch, pressed.GetDC(), 0, 0, SRCCOPY);
    }
  }
  return m_nAllRowsContent;
}

void CTouchPopupList::DrawItem(CTouchListItem* item, HDC hdc, int width, int height, int index) {
  const int rowHeight = ScaleY(42);
  FillSolid(hdc, 0, 0, width, height, RGB(0, 0, 0));
  if (item == m_pPressed) FillAlpha(hdc, 0, 0, width, rowHeight - ScaleY(1, TRUE), RGB(255, 255, 255), 40);
  const int kind = item->GetKind();
  const int middle = rowHeight / 2;
  int textRight = width - ScaleX(6);
  if (kind == 0 || kind == 1) {
    auto* images = static_cast<CTouchImageItem*>(item);
    if (images->m_image.HasImageHandle())
      images->m_image.Draw(hdc, ScaleX(6), (rowHeight - images->m_image.GetHeight()) / 2);
    if (kind == 0 && images->m_secondImage.HasImageHandle()) {
      const int x = width - ScaleX(6) - images->m_secondImage.GetWidth();
      images->m_secondImage.Draw(hdc, x, (rowHeight - images->m_secondImage.GetHeight()) / 2);
      textRight = x - ScaleX(6);
    }
  }
  if (kind == 1 || kind == 2) {
    POINT p[3];
    if (kind == 1) {
      p[0] = {width - ScaleX(10), middle - ScaleY(3)};
      p[1] = {width - ScaleX(10), middle + ScaleY(3)};
      p[2] = {width - ScaleX(7), middle};
      textRight = width - ScaleX(12);
    } else {
      p[0] = {ScaleX(10), middle - ScaleY(3)};
      p[1] = {ScaleX(10), middle + ScaleY(3)};
      p[2] = {ScaleX(7), middle};
    }
    HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
    HGDIOBJ oldBrush = SelectObject(hdc, white);
    HGDIOBJ oldPen = SelectObject(hdc, GetStockObject(NULL_PEN));
    Polygon(hdc, p, 3);
    SelectObject(hdc, oldPen);
    SelectObject(hdc, oldBrush);
    DeleteObject(white);
  }
  SetTextColor(hdc, RGB(255, 255, 255));
  SetBkMode(hdc, TRANSPARENT);
  HGDIOBJ oldFont = SelectObject(hdc, m_hFont);
  RECT text = {ScaleX(44), 0, textRight, rowHeight};
  DrawTextW(hdc, item->m_strText, item->m_strText.GetLength(), &text,
            DT_SINGLELINE | DT_VCENTER | DT_WORD_ELLIPSIS | DT_NOPREFIX);
  if (oldFont) SelectObject(hdc, oldFont);
  if (index < GetItemCount() - 1) {
    // The separator fades in from black over ScaleX(42) at each end.
    const int left = ScaleX(8), right = width - ScaleX(8), fade = ScaleX(42);
    const int top = rowHeight, bottom = rowHeight + ScaleY(1);
    Gradient(hdc, left, top, left + fade, bottom, RGB(0, 0, 0), RGB(255, 255, 255), GRADIENT_FILL_RECT_H);
    FillSolid(hdc, left + fade, top, right - fade, bottom, RGB(255, 255, 255));
    Gradient(hdc, right - fade, top, right, bottom, RGB(255, 255, 255), RGB(0, 0, 0), GRADIENT_FILL_RECT_H);
  }
}
