#include "quillet/screens/channel_list_dlg.h"

#include <vector>

#include "gdi/image_codec.h"
#include "user/dialog.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/ui/channel_list_view.h"
#include "quillet/ui/density.h"
#include "quillet/ui/dib.h"

CChannelListDlg::CChannelListDlg() = default;

CChannelListDlg::~CChannelListDlg() {
  m_pChannelList = nullptr;
  delete m_pOpml;
  m_pOpml = nullptr;
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
}

BOOL CChannelListDlg::Create(CWnd* parent) {
  CRect area;
  if (parent) parent->GetClientRect(&area);
  m_template = qk::DialogTemplateBuilder(WS_CHILD | WS_VISIBLE | DS_CONTROL, 0, 0, 0, 10, 10).Build();
  if (!CreateIndirect(reinterpret_cast<LPCDLGTEMPLATE>(m_template.data()), parent)) return FALSE;
  MoveWindow(0, 0, area.Width(), area.Height(), FALSE);
  m_pChannelList = &m_view;
  return m_view.Create(AfxGetInstanceHandle(), m_hWnd, 0, 0, area.Width(), area.Height(),
                       reinterpret_cast<DWORD_PTR>(this), nullptr);
}

BOOL CChannelListDlg::LoadChannelList(LPCWSTR path) {
  if (!m_pOpml) m_pOpml = new COpmlXML(OnOutline, this, 1);
  if (m_pChannelList) m_pChannelList->RemoveAllItems();
  {
    CSingleLock hold(&m_runLock, TRUE);
    m_reloadTitles.RemoveAll();
    m_reloadCategories.RemoveAll();
    m_reloadUrls.RemoveAll();
  }
  m_outline = Outline();
  std::lock_guard<std::recursive_mutex> hold(m_pOpml->Lock());
  if (m_pOpml->LoadAndWalk(path)) return TRUE;
  m_pOpml->SetPath(path, 0);
  m_pOpml->CreateEmpty();
  return FALSE;
}

void CChannelListDlg::OnOutline(void* context, LPCWSTR parentText, LPCWSTR name, LPCWSTR value) {
  auto* self = static_cast<CChannelListDlg*>(context);
  Outline& o = self->m_outline;
  CString key(name);
  if (key.IsEmpty()) {
    if (!o.url.IsEmpty() && o.channel >= 0 && self->m_pChannelList) {
      self->m_pChannelList->AddItem(o.channel, o.title, o.updateTime, o.url, parentText, o.itemCount, o.newCount);
      CSingleLock hold(&self->m_runLock, TRUE);
      self->m_reloadTitles.AddTail(o.title);
      self->m_reloadCategories.AddTail(CString(parentText));
      self->m_reloadUrls.AddTail(o.url);
    }
    o = Outline();
    return;
  }
  if (key.CompareNoCase(u"text") == 0) o.title = value;
  else if (key.CompareNoCase(u"xmlUrl") == 0) o.url = value;
  else if (key.CompareNoCase(u"uniqueID") == 0) o.channel = int(wcstol(value, nullptr, 10));
  else if (key.CompareNoCase(u"lastUpdateTime") == 0) o.updateTime = value;
  else if (key.CompareNoCase(u"itemCount") == 0) o.itemCount = int(wcstol(value, nullptr, 10));
  else if (key.CompareNoCase(u"newItemCount") == 0) o.newCount = int(wcstol(value, nullptr, 10));
}

LRESULT CChannelListDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_MAKE_CHANNEL_ICON)
    return MakeChannelIcon(reinterpret_cast<LPCWSTR>(wParam), reinterpret_cast<LPCWSTR>(lParam)) ? 1 : 0;
  return CDialog::WindowProc(message, wParam, lParam);
}

BOOL CChannelListDlg::MakeChannelIcon(LPCWSTR thumbnailPath, LPCWSTR imagePath) {
  if (!thumbnailPath || !imagePath) return FALSE;
  qk::gdi::DecodedImage image;
  if (!qk::gdi::DecodeImageFile(imagePath, &image)) return FALSE;
  const int size = GetTouchFlag() ? ScaleX(32) : 32;
  const int side = image.width < image.height ? image.width : image.height;
  if (size <= 0 || side < size) return FALSE;
  const int left = (image.width - side) / 2, top = (image.height - side) / 2;
  const int stride = (size * 3 + 3) & ~3;
  std::vector<BYTE> pixels(size_t(stride) * size_t(size), 0);
  // Each thumbnail pixel is the mean of its block of the square, composed
  // over white.
  for (int y = 0; y < size; ++y) {
    int y0 = top + y * side / size, y1 = top + (y + 1) * side / size;
    for (int x = 0; x < size; ++x) {
      int x0 = left + x * side / size, x1 = left + (x + 1) * side / size;
      unsigned long sum[3] = {0, 0, 0}, count = 0;
      for (int sy = y0; sy < y1; ++sy)
        for (int sx = x0; sx < x1; ++sx) {
          const uint8_t* p = &image.bgra[(size_t(sy) * size_t(image.width) + size_t(sx)) * 4];
          unsigned alpha = p[3];
          for (int c = 0; c < 3; ++c) sum[c] += (p[c] * alpha + 255u * (255u - alpha)) / 255u;
          ++count;
        }
      // Rows bottom first, as a ".bmp" file keeps them.
      BYTE* out = &pixels[size_t(size - 1 - y) * size_t(stride) + size_t(x) * 3];
      for (int c = 0; c < 3; ++c) out[c] = BYTE(count ? sum[c] / count : 255);
    }
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = size;
  info.bmiHeader.biHeight = size;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biSizeImage = DWORD(pixels.size());
  CDib dib;
  if (!dib.CreateFromInfo(&info, pixels.data())) return FALSE;
  return dib.Save(thumbnailPath) ? TRUE : FALSE;
}
