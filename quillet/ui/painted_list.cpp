// What the painted lists share that is not bound to a row type: text fitted
// into a box.
#include "quillet/ui/painted_list.h"

#include <vector>

namespace {

// Widths of every leading part of the text (ext[i] = width of i + 1 units).
std::vector<int> Extents(HDC hdc, const CString& text, SIZE* size) {
  std::vector<int> ext(static_cast<size_t>(text.GetLength()) + 1, 0);
  int fit = 0;
  GetTextExtentExPointW(hdc, text, text.GetLength(), 0, &fit, ext.data(), size);
  return ext;
}

int TextWidth(HDC hdc, const CString& text) {
  SIZE sz = {0, 0};
  GetTextExtentPoint32W(hdc, text, text.GetLength(), &sz);
  return sz.cx;
}

// The longest leading part of text that, followed by "..." when dots is
// set, is narrower than width.
int FitLength(HDC hdc, const CString& text, int width, bool dots) {
  SIZE sz;
  std::vector<int> ext = Extents(hdc, text, &sz);
  int dotWidth = dots ? TextWidth(hdc, u"...") : 0;
  for (int n = text.GetLength(); n > 0; --n)
    if (ext[static_cast<size_t>(n) - 1] + dotWidth < width) return n;
  return 0;
}

}  // namespace

// ---------------------------------------------------------------- text fitting

int DrawTextEllipsis(HDC hdc, const CString& text, const RECT& box, UINT format, int secondLineWidth) {
  format |= DT_NOPREFIX;
  const int boxWidth = box.right - box.left;
  RECT r = box;
  if (TextWidth(hdc, text) <= boxWidth) return DrawTextW(hdc, text, text.GetLength(), &r, format);
  const bool single = (format & DT_SINGLELINE) != 0;
  int n = FitLength(hdc, text, boxWidth, single);
  CString candidate = text.Left(n);
  if (single) {
    candidate += u"...";
    DrawTextW(hdc, candidate, candidate.GetLength(), &r, format | DT_VCENTER);
    return box.bottom - box.top;
  }
  // Two lines: the first ends at its last blank.
  int cut = n;
  for (int i = n - 1; i > 0; --i)
    if (candidate[i] == u' ') {
      cut = i;
      break;
    }
  CString first = text.Left(cut);
  first.Trim();
  RECT upper = {box.left, box.top, box.right, box.bottom - (box.bottom - box.top) / 2};
  DrawTextW(hdc, first, first.GetLength(), &upper, format | DT_VCENTER);
  CString rest = text.Mid(cut);
  if (TextWidth(hdc, rest) > secondLineWidth) {
    int m = FitLength(hdc, rest, secondLineWidth, true);
    rest = rest.Left(m) + u"...";
  }
  rest.Trim();
  RECT lower = {box.left, box.top + (box.bottom - box.top) / 2, box.left + secondLineWidth, box.bottom};
  DrawTextW(hdc, rest, rest.GetLength(), &lower, format | DT_VCENTER);
  return box.bottom - box.top;
}
