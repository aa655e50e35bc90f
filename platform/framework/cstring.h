// The framework's string class: UTF-16 text with value semantics.
//
// Format follows the platform's wide printf: "%s" is a wide string and "%S"
// a narrow (UTF-8) one. A CString passed to Format must be passed as
// LPCWSTR (str.GetString() or (LPCWSTR)str).
#pragma once

#include "user/user.h"

#include <cstdarg>
#include <functional>
#include <string>

#include "kernel/types.h"
#include "kernel/wstring.h"

class CString {
 public:
  CString() = default;
  CString(const CString&) = default;
  CString(CString&&) noexcept = default;
  CString(LPCWSTR s) : s_(s ? s : u"") {}
  CString(LPCWSTR s, int length) : s_(s ? std::u16string(s, size_t(length < 0 ? 0 : length)) : std::u16string()) {}
  CString(WCHAR c, int repeat = 1) : s_(size_t(repeat < 0 ? 0 : repeat), c) {}
  // 8-bit text in the default code page (UTF-8).
  CString(const char* s);
  CString(const char* s, int length);
  explicit CString(const std::u16string& s) : s_(s) {}
  explicit CString(std::u16string&& s) : s_(std::move(s)) {}

  CString& operator=(const CString&) = default;
  CString& operator=(CString&&) noexcept = default;
  CString& operator=(LPCWSTR s) {
    // Through a temporary: s may point into this string's own text.
    s_ = std::u16string(s ? s : u"");
    return *this;
  }
  CString& operator=(WCHAR c) {
    s_.assign(1, c);
    return *this;
  }
  CString& operator=(const char* s) { return *this = CString(s); }

  int GetLength() const { return int(s_.size()); }
  bool IsEmpty() const { return s_.empty(); }
  void Empty() { s_.clear(); }
  LPCWSTR GetString() const { return s_.c_str(); }
  operator LPCWSTR() const { return s_.c_str(); }
  const std::u16string& str() const { return s_; }
  std::u16string& str() { return s_; }

  WCHAR GetAt(int i) const { return s_[size_t(i)]; }
  void SetAt(int i, WCHAR c) { s_[size_t(i)] = c; }
  WCHAR operator[](int i) const { return s_[size_t(i)]; }

  CString& operator+=(const CString& s) {
    s_ += s.s_;
    return *this;
  }
  CString& operator+=(LPCWSTR s) {
    if (s) s_ += s;
    return *this;
  }
  CString& operator+=(WCHAR c) {
    s_.push_back(c);
    return *this;
  }
  CString& operator+=(const char* s) { return *this += CString(s); }
  void Append(LPCWSTR s) { *this += s; }
  void Append(LPCWSTR s, int n) {
    if (s && n > 0) s_.append(s, size_t(n));
  }
  void AppendChar(WCHAR c) { s_.push_back(c); }

  int Compare(LPCWSTR s) const { return wcscmp(s_.c_str(), s ? s : u""); }
  int CompareNoCase(LPCWSTR s) const { return _wcsicmp(s_.c_str(), s ? s : u""); }
  int Collate(LPCWSTR s) const { return Compare(s); }
  int CollateNoCase(LPCWSTR s) const { return CompareNoCase(s); }

  CString Mid(int first) const;
  CString Mid(int first, int count) const;
  CString Left(int count) const;
  CString Right(int count) const;
  CString SpanIncluding(LPCWSTR set) const;
  CString SpanExcluding(LPCWSTR set) const;

  int Find(WCHAR c, int start = 0) const;
  int Find(LPCWSTR sub, int start = 0) const;
  int ReverseFind(WCHAR c) const;
  int FindOneOf(LPCWSTR set) const;

  CString& MakeUpper();
  CString& MakeLower();
  CString& MakeReverse();
  CString& Trim();
  CString& Trim(WCHAR c);
  CString& Trim(LPCWSTR set);
  CString& TrimLeft();
  CString& TrimLeft(WCHAR c);
  CString& TrimLeft(LPCWSTR set);
  CString& TrimRight();
  CString& TrimRight(WCHAR c);
  CString& TrimRight(LPCWSTR set);

  int Replace(WCHAR from, WCHAR to);
  int Replace(LPCWSTR from, LPCWSTR to);
  int Remove(WCHAR c);
  int Insert(int index, WCHAR c);
  int Insert(int index, LPCWSTR s);
  int Delete(int index, int count = 1);
  void Truncate(int length);
  CString Tokenize(LPCWSTR delims, int& start) const;

  void Format(LPCWSTR fmt, ...);
  void AppendFormat(LPCWSTR fmt, ...);
  void FormatV(LPCWSTR fmt, va_list args);
  void AppendFormatV(LPCWSTR fmt, va_list args);

  // Direct access to the characters: GetBuffer(n) gives room for at least n
  // characters and a terminator; ReleaseBuffer(-1) takes the length up to the
  // first zero, ReleaseBuffer(n) sets it to n.
  LPWSTR GetBuffer(int minLength = 0);
  LPWSTR GetBufferSetLength(int length);
  void ReleaseBuffer(int newLength = -1);
  void Preallocate(int length) { s_.reserve(size_t(length < 0 ? 0 : length)); }
  void SetString(LPCWSTR s, int length) { *this = CString(s, length); }

 private:
  std::u16string s_;
  size_t bufferSize_ = 0;  // characters given out by GetBuffer
};

CString operator+(const CString& a, const CString& b);
CString operator+(const CString& a, LPCWSTR b);
CString operator+(LPCWSTR a, const CString& b);
CString operator+(const CString& a, WCHAR b);
CString operator+(WCHAR a, const CString& b);
inline bool operator==(const CString& a, const CString& b) { return a.str() == b.str(); }
inline bool operator==(const CString& a, LPCWSTR b) { return a.Compare(b) == 0; }
inline bool operator==(LPCWSTR a, const CString& b) { return b.Compare(a) == 0; }
inline bool operator!=(const CString& a, const CString& b) { return !(a == b); }
inline bool operator!=(const CString& a, LPCWSTR b) { return !(a == b); }
inline bool operator!=(LPCWSTR a, const CString& b) { return !(b == a); }
inline bool operator<(const CString& a, const CString& b) { return a.str() < b.str(); }
inline bool operator>(const CString& a, const CString& b) { return b.str() < a.str(); }
inline bool operator<=(const CString& a, const CString& b) { return !(b < a); }
inline bool operator>=(const CString& a, const CString& b) { return !(a < b); }

template <>
struct std::hash<CString> {
  size_t operator()(const CString& s) const noexcept { return std::hash<std::u16string>()(s.str()); }
};

// 8-bit text (UTF-8 in the default code page) as the framework's narrow string.
class CStringA {
 public:
  CStringA() = default;
  CStringA(const char* s) : s_(s ? s : "") {}
  CStringA(const char* s, int n) : s_(s ? std::string(s, size_t(n < 0 ? 0 : n)) : std::string()) {}
  explicit CStringA(LPCWSTR s);
  explicit CStringA(const CString& s) : CStringA(s.GetString()) {}
  int GetLength() const { return int(s_.size()); }
  bool IsEmpty() const { return s_.empty(); }
  operator const char*() const { return s_.c_str(); }
  const char* GetString() const { return s_.c_str(); }
  const std::string& str() const { return s_; }
  CStringA& operator+=(const char* s) {
    if (s) s_ += s;
    return *this;
  }
  bool operator==(const CStringA& o) const { return s_ == o.s_; }

 private:
  std::string s_;
};
