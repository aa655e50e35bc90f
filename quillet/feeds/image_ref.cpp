#include "quillet/feeds/image_ref.h"

bool FindImageReference(const CString& content, const CString& lower, int at, ImageReference& found) {
  const std::u16string& l = lower.str();
  size_t img = l.find(u"<img", size_t(at < 0 ? 0 : at));
  if (img == std::u16string::npos) return false;
  size_t src = l.find(u"src=", img);
  if (src == std::u16string::npos) return false;
  size_t from = src + 4;
  size_t end = l.find(u' ', from);
  if (end == std::u16string::npos) end = l.find(u'\t', from);
  if (end == std::u16string::npos) end = l.find(u'>', from);
  if (end == std::u16string::npos) return false;
  size_t rs = from, re = end;
  size_t gt = l.find(u'>', from);
  if (gt < re) re = gt;
  const std::u16string& c = content.str();
  for (char16_t quote : {u'"', u'\''}) {
    size_t q = c.find(quote, rs);
    if (q < re) {
      rs = q + 1;
      size_t q2 = c.find(quote, rs);
      if (q2 < re) re = q2;
    }
  }
  found.from = int(from);
  found.end = int(end);
  found.start = int(rs);
  found.ref = CString(c.substr(rs, re - rs));
  return true;
}

CImageScanner::CImageScanner(const std::u16string& content, const std::u16string& lower)
    : m_content(content), m_lower(lower) {}

size_t CImageScanner::FindFrom(Cache& cache, const std::u16string& text, const char16_t* what, size_t from) {
  // An earlier search from start that found pos answers every search that
  // starts between the two (and "none" every later start).
  if (cache.valid && from >= cache.start && (cache.pos == std::u16string::npos || from <= cache.pos))
    return cache.pos;
  cache.start = from;
  cache.pos = text.find(what, from);
  cache.valid = true;
  return cache.pos;
}

bool CImageScanner::Next(ImageReference& found) {
  const size_t npos = std::u16string::npos;
  size_t img = FindFrom(m_img, m_lower, u"<img", m_at);
  if (img == npos) return false;
  size_t src = FindFrom(m_src, m_lower, u"src=", img);
  if (src == npos) return false;
  size_t from = src + 4;
  size_t end = FindFrom(m_blank, m_lower, u" ", from);
  if (end == npos) end = FindFrom(m_tab, m_lower, u"\t", from);
  if (end == npos) end = FindFrom(m_gt, m_lower, u">", from);
  if (end == npos) return false;
  size_t rs = from, re = end;
  size_t gt = FindFrom(m_gt, m_lower, u">", from);
  if (gt != npos && gt < re) re = gt;
  Cache* caches[2] = {&m_dquote, &m_squote};
  const char16_t* quotes[2] = {u"\"", u"'"};
  for (int k = 0; k < 2; ++k) {
    size_t q = FindFrom(*caches[k], m_content, quotes[k], rs);
    if (q != npos && q < re) {
      rs = q + 1;
      size_t q2 = FindFrom(*caches[k], m_content, quotes[k], rs);
      if (q2 != npos && q2 < re) re = q2;
    }
  }
  found.from = int(from);
  found.end = int(end);
  found.start = int(rs);
  found.ref = CString(m_content.substr(rs, re - rs));
  m_at = from;
  return true;
}

CString WithoutImageReferences(const CString& content) {
  const std::u16string& text = content.str();
  std::u16string lower = text;
  for (char16_t& c : lower) {
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
  }
  CImageScanner scanner(text, lower);
  ImageReference found;
  std::u16string out;
  size_t copied = 0;
  while (scanner.Next(found)) {
    size_t start = size_t(found.start);
    if (start < copied) continue;
    out.append(text, copied, start - copied);
    copied = start + size_t(found.ref.GetLength());
  }
  if (copied == 0) return content;
  out.append(text, copied, std::u16string::npos);
  return CString(std::move(out));
}
