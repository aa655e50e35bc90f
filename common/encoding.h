// Text conversions used by every program: code pages into caller buffers,
// UTF-8 of one character, form encoding, HTML character references, HTML to
// plain text, and a small growable wide-text buffer.
#pragma once

#include "framework/afx.h"

// Converts 8-bit text of a code page into dst (dstSize characters, the
// terminator included); returns dst, or null when a pointer is null or the
// conversion fails (dst is then empty when given).
LPWSTR ConvertToWide(LPWSTR dst, LPCSTR src, int dstSize, UINT codePage);
// The same in the other direction; dstSize is in bytes.
LPSTR ConvertToMultiByte(LPSTR dst, LPCWSTR src, int dstSize, UINT codePage);
// Writes the UTF-8 form of code into buf (room for 6 bytes); returns the
// byte count, or -1 for code 0 (nothing written).
int EncodeUtf8Char(BYTE* buf, UINT code);
// Form-encodes a text for a query or form body ("+" for white space,
// "%XX" for every byte but letters and digits).
CString& FormUrlEncode(CString& out, const CString& in);
// Replaces the HTML character references of the text in place.
void ReplaceHTMLEntities(CString& text);
CString& DecodeHtmlEntities(CString& out, const CString& in);
// The character of an HTML 4.01 entity name ("nbsp", "eacute"; compared with
// case), or 0 when the name is not one of them.
UINT HtmlEntityCode(const CString& name);
// Removes tags, decodes "\uXXXX" escapes and character references in place.
void HtmlToPlainText(CString& text);

// A growable wide-text buffer; the text is always terminated.
class CWideBuffer {
 public:
  CWideBuffer();
  ~CWideBuffer();
  CWideBuffer(const CWideBuffer&) = delete;
  CWideBuffer& operator=(const CWideBuffer&) = delete;
  void Assign(LPCWSTR text);
  void Append(LPCWSTR text);
  LPCWSTR GetText() const { return m_pText; }
  size_t GetLength() const { return m_nLength; }
  size_t GetCapacity() const { return m_nCapacity; }

 private:
  WCHAR* m_pText;
  size_t m_nCapacity;  // characters
  size_t m_nLength;    // characters
};

// The two process-wide buffers that the touch file dialog fills.
CWideBuffer& FileDialogPathBuffer();
CWideBuffer& FileDialogNameBuffer();
