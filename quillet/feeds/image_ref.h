// Image references in item content.
//
// The parser and the item store read "<img ... src=..." references the same
// way: the value starts after "src=" and ends at the first blank after it,
// else the first tab, else the first ">"; a ">" inside it cuts it there, and
// a double and then a single quote pair around it are dropped.
#pragma once

#include "framework/afx.h"

struct ImageReference {
  int from = 0;  // where the value starts in the content (after "src=")
  int end = 0;   // where the raw value ends (the blank, tab or ">")
  CString ref;   // the value, cut and unquoted
};

// Finds the next reference at or after at. lower is a lower-cased copy of
// content (same length) in which the markers are searched; the value itself
// is taken from content. False when no complete reference follows.
bool FindImageReference(const CString& content, const CString& lower, int at, ImageReference& found);
