// The channel list view.
#include "quillet/ui/channel_list_view.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/display_date.h"
#include "common/settings.h"
#include "gdi/image_codec.h"
#include "kernel/fs.h"
#include "quillet/res/resources.h"
#include "quillet/ui/dib.h"
#include "user/user.h"

namespace {

uint32_t Le32(const BYTE* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t Le16(const BYTE* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

// ---------------------------------------------------------------- construction

CChannelListView::CChannelListView() : CPaintedList(36, u"No channels available.") {
  WCHAR root[MAX_PATH] = {};
  GetDataRoot(root);
  m_strDataFolder = root;
  m_strDataFolder += u"\\ChannelData\\";
}

BOOL CChannelListView::Create(HINSTANCE instance, HWND parent, int x, int y, int width, int height, DWORD_PTR context,
                              OpenCallback callback) {
  // Decoded with the window rather than with the object, which the main
  // frame makes before its window exists.
  if (!m_defaultIcon.HasImageHandle()) {
    RegisterQuilletResources();
    const bool hiDpi = m_nDpiY == 192;
    m_defaultIcon.LoadFromResource(nullptr, hiDpi ? IDR_PNG_CHANNEL_DEFAULT_192 : IDR_PNG_CHANNEL_DEFAULT);
    m_refreshImage.LoadFromResource(nullptr, hiDpi ? IDR_PNG_REFRESH_PENDING_192 : IDR_PNG_REFRESH_PENDING);
  }
  return CPaintedList::Create(instance, parent, x, y, width, height, context, callback);
}

CChannelListView::~CChannelListView() = default;

// ---------------------------------------------------------------- rows

int CChannelListView::AddItem(int channel, LPCWSTR title, LPCWSTR updateTime, LPCWSTR url, LPCWSTR category,
                              int itemCount, int newCount) {
  Guard guard(m_lock);
  if (!HasRoomForRow()) return -1;
  CString key(title);
  key.Trim();
  // The first row whose title is not less than the new one.
  int lo = 0, hi = m_nCount;
  while (lo < hi) {
    int mid = (lo + hi) / 2;
    if (_wcsicmp(key, m_pItems[mid]->m_strTitle) <= 0) hi = mid;
    else lo = mid + 1;
  }
  auto* row = new CChannelListItem();
  row->m_nChannel = channel;
  row->m_strTitle = key;
  row->m_strUpdateTime = updateTime;
  row->m_strUrl = url;
  row->m_strCategory = category;
  row->m_nItemCount = itemCount;
  row->m_nNewCount = newCount;
  InsertRow(lo, row);
  return lo;
}

void CChannelListView::RemoveAllItems() {
  Guard guard(m_lock);
  m_scroller.SetOffset(0, FALSE);
  DestroyAllRows();
  m_bFullPaint = TRUE;
}

void CChannelListView::IndexRows() {
  if (m_nIndexedVersion == m_nRowsVersion) return;
  m_rowOfUrl.clear();
  m_rowOfChannel.clear();
  m_rowOfUrl.reserve(static_cast<size_t>(m_nCount));
  m_rowOfChannel.reserve(static_cast<size_t>(m_nCount));
  // emplace keeps the first row of a URL or number that occurs twice.
  for (int i = 0; i < m_nCount; ++i) {
    const CString& url = m_pItems[i]->m_strUrl;
    m_rowOfUrl.emplace(std::u16string(url.GetString(), static_cast<size_t>(url.GetLength())), i);
    m_rowOfChannel.emplace(m_pItems[i]->m_nChannel, i);
  }
  m_nIndexedVersion = m_nRowsVersion;
}

int CChannelListView::FindItemById(int channel) {
  Guard guard(m_lock);
  IndexRows();
  auto it = m_rowOfChannel.find(channel);
  return it == m_rowOfChannel.end() ? -1 : it->second;
}

int CChannelListView::FindItemByUrl(const CString& url) {
  Guard guard(m_lock);
  IndexRows();
  auto it = m_rowOfUrl.find(std::u16string(url.GetString(), static_cast<size_t>(url.GetLength())));
  return it == m_rowOfUrl.end() ? -1 : it->second;
}

int CChannelListView::SetItemCounts(int channel, int itemCount, int newCount) {
  int index;
  {
    Guard guard(m_lock);
    index = FindItemById(channel);
    if (index >= 0) {
      m_pItems[index]->m_nItemCount = itemCount;
      m_pItems[index]->m_nNewCount = newCount;
      DropRendering(index);
    }
  }
  RepaintBusy();
  return index;
}

BOOL CChannelListView::SetItemState(int row, int state) {
  return ChangeRow(row, [&](CChannelListItem& item) { item.m_nState = state; });
}

BOOL CChannelListView::SetItemUpdateTime(int row, LPCWSTR text) {
  return ChangeRow(row, [&](CChannelListItem& item) { item.m_strUpdateTime = text; });
}

void CChannelListView::RepaintBusy() { Redraw(TRUE); }

void CChannelListView::SetBusy(BOOL busy) {
  Guard guard(m_lock);
  m_bBusy = busy;
}

void CChannelListView::ClearFocus() {
  Guard guard(m_lock);
  DropFocus();
}

void CChannelListView::OpenFocusedItem() {
  {
    Guard guard(m_lock);
    if (!m_pCallback || m_nFocus < 0 || m_nFocus >= m_nCount) return;
    const CChannelListItem* row = m_pItems[m_nFocus];
    m_open.pending = true;
    m_open.title = row->m_strTitle;
    m_open.url = row->m_strUrl;
    m_open.channel = row->m_nChannel;
    m_open.x = -1;
  }
  FirePendingOpen();
}

BOOL CChannelListView::GetListItemTitle(int row, CString& out) {
  return CopyRowText(row, &CChannelListItem::m_strUrl, out);
}

// ---------------------------------------------------------------- scroller client

void CChannelListView::OnClick(HWND, DWORD_PTR, int x, int y) {
  Guard guard(m_lock);
  if (!m_pCallback) return;
  const int i = RowAt(y);
  if (i < 0) return;
  // The press has focused this row; the open is made once the lock is
  // released (FirePendingOpen).
  int f = (m_nFocus >= 0 && m_nFocus < m_nCount) ? m_nFocus : i;
  const CChannelListItem* row = m_pItems[f];
  m_open.pending = true;
  m_open.title = row->m_strTitle;
  m_open.url = row->m_strUrl;
  m_open.channel = row->m_nChannel;
  m_open.x = x;
}

// ---------------------------------------------------------------- painting

void CChannelListView::PaintRow(CChannelListItem* row, int index, HDC dc, int width, BOOL selected) {
  const int X = m_nDpiX, Y = m_nDpiY;
  auto sx = [&](int v) { return v * X / 96; };
  auto sy = [&](int v) { return v * Y / 96; };
  // 1. Font.
  HGDIOBJ savedFont = SelectObject(dc, row->m_nNewCount != 0 ? m_hBoldFont : m_hFont);
  // 2. Shade: rows get lighter down the list.
  const int w = PaintRowShade(dc, index, width, selected);
  // 3. Favicon, else the default icon.
  CString icon;
  icon.Format(u"%sCh%03d-Fav.ico", static_cast<LPCWSTR>(m_strDataFolder), row->m_nChannel);
  BOOL drawn;
  if (m_touch) {
    int left = X * 32 / 192 - X * 16 / 192 + sx(4);
    int size = X * 32 / 192;
    drawn = DrawIconFile(dc, icon, left, sy(6), left + size, sy(6) + size);
  } else {
    drawn = DrawIconFile(dc, icon, 10, 6, 26, 22);
  }
  if (!drawn && m_defaultIcon.HasImageHandle()) {
    if (m_touch)
      m_defaultIcon.Draw(dc, X * 32 / 192 + sx(4) - m_defaultIcon.GetWidth() / 2, sx(6));
    else
      m_defaultIcon.Draw(dc, 18 - m_defaultIcon.GetWidth() / 2, 6);
  }
  // 4. Title.
  SetBkMode(dc, TRANSPARENT);
  COLORREF oldText = SetTextColor(dc, RGB(255, 255, 255));
  const int textLeft = m_touch ? sx(32) + 2 * sx(4) : 36;
  RECT title = {textLeft, sx(2), width - sx(4), m_nBase / 2};
  DrawTextEllipsis(dc, row->m_strTitle, title, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_WORD_ELLIPSIS, 0);
  // 5. Date line.
  SIZE counts = {0, 0};
  GetTextExtentPoint32W(dc, u"100/100", 7, &counts);
  SetTextColor(dc, RGB(192, 192, 192));
  HGDIOBJ beforeDate = SelectObject(dc, m_touch ? m_hFont : m_hSmallFont);
  CString date;
  FormatDisplayDate(date, row->m_strUpdateTime);
  RECT dateBox = {textLeft, m_nBase / 2, width - 2 * sx(4) - counts.cx, m_nBase - sx(2)};
  DrawTextEllipsis(dc, date, dateBox, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX, 0);
  // 6. Counts.
  if (row->m_nItemCount > 0) {
    CString text;
    text.Format(u"%d/%d", row->m_nNewCount, row->m_nItemCount);
    RECT box = {width - sx(4) - sx(64), m_nBase / 2, width - sx(4), m_nBase - sx(2)};
    DrawTextEllipsis(dc, text, box, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_RIGHT, 0);
  }
  if (beforeDate) SelectObject(dc, beforeDate);
  // 7. Refresh pending.
  if (row->m_nState == 2 && m_refreshImage.HasImageHandle())
    m_refreshImage.Draw(dc, width - sx(4) - sx(12), m_touch ? sy(6) : 6);
  // 8. Separator.
  SetTextColor(dc, oldText);
  FillSolid(dc, 0, m_nBase, width, m_nBase + sy(1), Dark(w + 20));
  if (savedFont) SelectObject(dc, savedFont);
}

// ---------------------------------------------------------------- favicons

BOOL CChannelListView::DrawIconFile(HDC hdc, LPCWSTR path, int left, int top, int right, int bottom) {
  if (right <= left || bottom <= top) return FALSE;
  // The whole file is read at once; every later read is checked against it.
  std::ifstream in(qk::HostPath(path), std::ios::binary);
  if (!in) return FALSE;
  in.seekg(0, std::ios::end);
  std::streamoff fileSize = in.tellg();
  if (fileSize < 6 || fileSize > (1 << 20)) return FALSE;
  in.seekg(0);
  std::vector<BYTE> file(static_cast<size_t>(fileSize));
  if (!in.read(reinterpret_cast<char*>(file.data()), fileSize)) return FALSE;
  const size_t size = file.size();
  if (Le16(&file[0]) != 0 || Le16(&file[2]) != 1) return FALSE;
  const int count = Le16(&file[4]);
  if (count == 0) return FALSE;
  // The entry with the smallest width; among equal widths the deeper one.
  int chosen = -1, bestWidth = 255, bestBits = -1;
  for (int i = 0; i < count; ++i) {
    size_t at = 6 + static_cast<size_t>(i) * 16;
    if (at + 16 > size) break;
    int width = file[at];
    int bits = Le16(&file[at + 6]);
    if (chosen < 0 || width < bestWidth || (width == bestWidth && bits > bestBits)) {
      chosen = i;
      bestWidth = width;
      bestBits = bits;
    }
  }
  if (chosen < 0) return FALSE;
  const BYTE* entry = &file[6 + static_cast<size_t>(chosen) * 16];
  const uint32_t bytes = Le32(entry + 8), offset = Le32(entry + 12);
  if (bytes < 1 || bytes > 32000 || offset > size || bytes > size - offset) return FALSE;
  const BYTE* image = &file[offset];

  // PNG-compressed entries.
  if (bytes >= 8 && std::memcmp(image, "\x89PNG\r\n\x1a\n", 8) == 0) {
    qk::gdi::DecodedImage png;
    if (!qk::gdi::DecodePng(image, bytes, &png)) return FALSE;
    const int w = right - left, h = bottom - top;
    BYTE* d = nullptr;
    HBITMAP section = CreateTopDownSection(hdc, w, h, 32, &d);
    if (!section) return FALSE;
    for (int yy = 0; yy < h; ++yy)
      for (int xx = 0; xx < w; ++xx) {
        const BYTE* s = &png.bgra[(static_cast<size_t>(yy * png.height / h) * png.width + xx * png.width / w) * 4];
        BYTE* p = d + (static_cast<size_t>(yy) * w + xx) * 4;
        unsigned a = s[3];
        for (int k = 0; k < 3; ++k) p[k] = static_cast<BYTE>((s[k] * a + 127) / 255);  // premultiplied
        p[3] = static_cast<BYTE>(a);
      }
    HDC mem = CreateCompatibleDC(hdc);
    HGDIOBJ old = SelectObject(mem, section);
    BLENDFUNCTION bf = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    BOOL ok = AlphaBlend(hdc, left, top, w, h, mem, 0, 0, w, h, bf);
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(section);
    return ok;
  }

  // A bitmap entry: the 40-byte header is required.
  if (bytes < 40 || Le32(image) != 40) return FALSE;
  int bits = Le16(&entry[6]);
  if (bits == 0) bits = Le16(image + 14);
  // Width and height come from the directory entry (a width byte of 0 is
  // 256); the palette is what the image's bytes hold besides the header,
  // the colour rows and the mask rows.
  const int width = entry[0] ? entry[0] : 256;
  const int height = entry[1] ? entry[1] : 256;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return FALSE;
  const size_t colourStride = ((static_cast<size_t>(bits) * width + 31) / 32) * 4;
  const size_t maskStride = ((static_cast<size_t>(width) + 31) / 32) * 4;
  const size_t rowBytes = (colourStride + maskStride) * height;
  if (rowBytes + 40 > bytes) return FALSE;
  const size_t paletteEntries = (bytes - rowBytes - 40) / 4;
  if (paletteEntries > 256) return FALSE;
  const size_t paletteAt = 40, colourAt = paletteAt + 4 * paletteEntries;
  const size_t maskAt = colourAt + colourStride * height;

  BYTE* out = nullptr;
  HBITMAP section = CreateTopDownSection(hdc, width, height, 32, &out);
  if (!section) return FALSE;
  int k = 0;
  bool opaqueSeen = false;
  // Rows are stored bottom-up at every depth (1-bit icons too, which would
  // otherwise come out upside down); the mask rows are walked from the
  // bottom up.
  for (int fileRow = 0; fileRow < height; ++fileRow) {
    const int yy = height - 1 - fileRow;
    const BYTE* src = image + colourAt + colourStride * fileRow;
    const BYTE* mask = image + maskAt + maskStride * fileRow;
    bool rowOpaque = false;
    for (int xx = 0; xx < width; ++xx) {
      BYTE b = 0, g = 0, r = 0, a = 255;
      if (bits <= 8) {
        int index;
        if (bits == 8) index = src[xx];
        else if (bits == 4) index = (src[xx / 2] >> ((xx & 1) ? 0 : 4)) & 15;
        else index = (src[xx / 8] >> (7 - (xx & 7))) & 1;
        if (static_cast<size_t>(index) < paletteEntries) {
          const BYTE* q = image + paletteAt + 4 * index;
          b = q[0];
          g = q[1];
          r = q[2];
        }
      } else if (bits == 16) {
        // Five bits each of red, green and blue (the top bit unused),
        // widened to eight by repeating their high bits.
        const unsigned v = src[xx * 2] | (src[xx * 2 + 1] << 8);
        auto widen = [](unsigned c5) { return static_cast<BYTE>((c5 << 3) | (c5 >> 2)); };
        r = widen((v >> 10) & 31);
        g = widen((v >> 5) & 31);
        b = widen(v & 31);
      } else {
        const BYTE* q = src + xx * (bits / 8);
        b = q[0];
        g = q[1];
        r = q[2];
        if (bits == 32) a = q[3];
      }
      const bool transparent = ((mask[xx / 8] >> (7 - (xx & 7))) & 1) || (bits == 32 && a == 0);
      BYTE* p = out + (static_cast<size_t>(yy) * width + xx) * 4;
      if (transparent) {
        p[0] = 255;
        p[1] = 0;
        p[2] = 255;
      } else {
        // A picture pixel that happens to be magenta is nudged so that it
        // is not taken for the transparent colour.
        if (r == 255 && g == 0 && b == 255) g = 1;
        p[0] = b;
        p[1] = g;
        p[2] = r;
        rowOpaque = true;
      }
      p[3] = 0;
    }
    if (!opaqueSeen) {
      if (rowOpaque) opaqueSeen = true;
      else ++k;
    }
  }
  HDC mem = CreateCompatibleDC(hdc);
  HGDIOBJ old = SelectObject(mem, section);
  const int Y = m_nDpiY;
  BOOL ok = StretchBltTransparent(hdc, left, top + Y / 96 - (k * Y) / 96, right - left, bottom - top, mem, 0, 0,
                                  width, height, RGB(255, 0, 255));
  SelectObject(mem, old);
  DeleteDC(mem);
  DeleteObject(section);
  return ok;
}
