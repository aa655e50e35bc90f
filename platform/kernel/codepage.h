// Code-page conversion. CP_ACP (the 8-bit default code page) is UTF-8 on
// Linux, so nothing is lost in a round trip of well-formed text; other code
// pages go through iconv. Counts are in units of the respective side; -1
// means "up to and including the terminator". A destination size of 0 asks
// for the size needed. Wide text that comes out is well-formed UTF-16, and
// UTF-8 that comes out is well-formed: what does not convert, a surrogate
// without its partner included, becomes U+FFFD (into 8-bit pages other than
// UTF-8, the default character).
#pragma once

#include "kernel/types.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_MACCP 2
#define CP_THREAD_ACP 3
#define CP_SYMBOL 42
#define CP_UTF7 65000
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400
#define WC_COMPOSITECHECK 0x00000200
#define WC_DEFAULTCHAR 0x00000040

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst, int dstLen);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst, int dstLen,
                        LPCSTR defaultChar, LPBOOL usedDefault);
UINT GetACP();
BOOL IsValidCodePage(UINT codePage);

namespace qk {
// The iconv name of a platform code page number ("CP1251", "ISO-8859-1"...),
// or nullptr when the number is unknown.
const char* CodePageName(UINT codePage);
// The code page number of a charset name as feeds declare it ("windows-1251",
// "iso-8859-1", "koi8-r", "utf-8"...), compared without regard to case; 0 when unknown.
UINT CodePageFromCharset(const char* name);
}  // namespace qk
