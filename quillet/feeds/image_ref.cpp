#include "quillet/feeds/image_ref.h"

bool FindImageReference(const CString& content, const CString& lower, int at, ImageReference& found) {
  int img = lower.Find(u"<img", at);
  if (img < 0) return false;
  int src = lower.Find(u"src=", img);
  if (src < 0) return false;
  int from = src + 4;
  int end = lower.Find(u' ', from);
  if (end < 0) end = lower.Find(u'\t', from);
  if (end < 0) end = lower.Find(u'>', from);
  if (end < 0) return false;
  CString ref = content.Mid(from, end - from);
  int gt = ref.Find(u'>');
  if (gt >= 0) ref = ref.Left(gt);
  for (WCHAR quote : {u'"', u'\''}) {
    int q = ref.Find(quote);
    if (q >= 0) {
      ref = ref.Mid(q + 1);
      int q2 = ref.Find(quote);
      if (q2 >= 0) ref = ref.Left(q2);
    }
  }
  found.from = from;
  found.end = end;
  found.ref = ref;
  return true;
}
