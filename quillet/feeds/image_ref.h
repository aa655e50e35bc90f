// Image references in item content.
//
// The parser and the item store read "<img ... src=..." references the same
// way: the value starts after "src=" and ends at the first blank after it,
// else the first tab, else the first ">"; a ">" inside it cuts it there, and
// a double and then a single quote pair around it are dropped.
#pragma once

#include <string>

#include "framework/afx.h"

struct ImageReference {
  int from = 0;   // where the value starts in the content (after "src=")
  int end = 0;    // where the raw value ends (the blank, tab or ">")
  int start = 0;  // where ref itself stands in the content (after any quote)
  CString ref;    // the value, cut and unquoted
};

// Finds the next reference at or after at. lower is a lower-cased copy of
// content (same length) in which the markers are searched; the value itself
// is taken from content. False when no complete reference follows.
bool FindImageReference(const CString& content, const CString& lower, int at, ImageReference& found);

// Walks every reference of one content in order, each search going on from
// the start of the previous value. The positions of the next marker, blank,
// tab, ">" and quote are kept between searches, so a whole walk reads the
// content a bounded number of times however many references it holds.
class CImageScanner {
 public:
  // Both texts must outlive the scanner; lower as for FindImageReference.
  CImageScanner(const std::u16string& content, const std::u16string& lower);
  bool Next(ImageReference& found);

 private:
  struct Cache {
    size_t start = 0;
    size_t pos = 0;
    bool valid = false;
  };
  size_t FindFrom(Cache& cache, const std::u16string& text, const char16_t* what, size_t from);

  const std::u16string& m_content;
  const std::u16string& m_lower;
  size_t m_at = 0;
  Cache m_img, m_src, m_blank, m_tab, m_gt, m_dquote, m_squote;
};

// The content with the value of every image reference taken out: two
// contents that differ only in the names their images were given compare
// equal.
CString WithoutImageReferences(const CString& content);
