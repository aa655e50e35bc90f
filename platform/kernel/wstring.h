// C-runtime style functions on UTF-16 text (char16_t), with the platform's
// names, and the formatting engine shared by swprintf and CString::Format.
//
// Formatting follows the platform's wide printf: in a wide format "%s" takes
// a wide string and "%S" a narrow (UTF-8) one; "%c" a wide character and "%C"
// a narrow one; "%hs"/"%ls" force narrow/wide. Integer sizes: h, l, ll, I64,
// I32, z. Flags, width, precision and '*' behave as in C.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "kernel/types.h"

size_t wcslen(const char16_t* s);
size_t wcsnlen(const char16_t* s, size_t max);
char16_t* wcscpy(char16_t* d, const char16_t* s);
char16_t* wcsncpy(char16_t* d, const char16_t* s, size_t n);
char16_t* wcscat(char16_t* d, const char16_t* s);
char16_t* wcsncat(char16_t* d, const char16_t* s, size_t n);
int wcscmp(const char16_t* a, const char16_t* b);
int wcsncmp(const char16_t* a, const char16_t* b, size_t n);
// Case-blind comparisons fold ASCII and the Latin-1/Latin Extended/Greek/Cyrillic
// letters that the platform's simple case mapping knows.
int _wcsicmp(const char16_t* a, const char16_t* b);
int _wcsnicmp(const char16_t* a, const char16_t* b, size_t n);
const char16_t* wcschr(const char16_t* s, char16_t c);
char16_t* wcschr(char16_t* s, char16_t c);
const char16_t* wcsrchr(const char16_t* s, char16_t c);
char16_t* wcsrchr(char16_t* s, char16_t c);
const char16_t* wcsstr(const char16_t* s, const char16_t* sub);
char16_t* wcsstr(char16_t* s, const char16_t* sub);
const char16_t* wcspbrk(const char16_t* s, const char16_t* set);
char16_t* wcspbrk(char16_t* s, const char16_t* set);
size_t wcsspn(const char16_t* s, const char16_t* set);
size_t wcscspn(const char16_t* s, const char16_t* set);
char16_t* _wcslwr(char16_t* s);
char16_t* _wcsupr(char16_t* s);
char16_t* _wcsdup(const char16_t* s);  // free() the result
int _wtoi(const char16_t* s);
long _wtol(const char16_t* s);
long long _wtoi64(const char16_t* s);
double _wtof(const char16_t* s);
long wcstol(const char16_t* s, char16_t** end, int base);
unsigned long wcstoul(const char16_t* s, char16_t** end, int base);
double wcstod(const char16_t* s, char16_t** end);

// Character classes and simple case mapping of one UTF-16 unit.
WCHAR towlower16(WCHAR c);
WCHAR towupper16(WCHAR c);
bool iswspace16(WCHAR c);   // the C runtime's white space: space, \t \n \v \f \r
bool iswdigit16(WCHAR c);
bool iswalpha16(WCHAR c);
bool iswalnum16(WCHAR c);
bool iswxdigit16(WCHAR c);

// swprintf writes at most count units including the terminator; it returns
// the number of units written (without the terminator) or -1 when the text
// was cut (the buffer still holds the terminated beginning).
int swprintf(char16_t* buf, size_t count, const char16_t* fmt, ...);
int _snwprintf(char16_t* buf, size_t count, const char16_t* fmt, ...);
int vswprintf(char16_t* buf, size_t count, const char16_t* fmt, va_list args);
// wsprintfW assumes a buffer of 1024 units, as the platform does.
int wsprintfW(char16_t* buf, const char16_t* fmt, ...);
// Numeric directives only (%d %i %u %x %X %o %ld %lu %lx %f %lf %n, widths,
// and literal text); strings are not supported.
int swscanf(const char16_t* s, const char16_t* fmt, ...);

namespace qk {
// The formatting engine: appends the formatted text to out.
void FormatAppendV(std::u16string& out, const char16_t* fmt, va_list args);
std::u16string Format(const char16_t* fmt, ...);

// The text with every unit mapped by towlower16.
std::u16string LowerCase(std::u16string s);
// The non-empty pieces of a path between any of the separator units.
std::vector<std::u16string> SplitPath(const std::u16string& path, const char16_t* separators);

// UTF-8 <-> UTF-16 without loss (surrogate pairs become 4-byte sequences;
// a surrogate without its partner becomes a 3-byte sequence of its own and
// reads back as itself, so names made of any units survive the trip).
// Bytes that are no UTF-8 read as U+FFFD: each byte that starts no
// sequence, each sequence cut short, each overlong form and each code
// beyond U+10FFFF; the bytes after such a place are read afresh, so no
// character that follows is lost.
std::string ToUtf8(const char16_t* s, size_t n);
std::string ToUtf8(const std::u16string& s);
std::u16string FromUtf8(const char* s, size_t n);
std::u16string FromUtf8(const std::string& s);
// Replaces each surrogate that is not half of a pair with U+FFFD, leaving
// well-formed UTF-16; returns how many were replaced.
size_t ReplaceLoneSurrogates(char16_t* s, size_t n);
}  // namespace qk
