#include "framework/cstring.h"

#include <algorithm>
#include <cstring>

#include "kernel/codepage.h"

CString::CString(const char* s) {
  if (s) s_ = qk::FromUtf8(s, strlen(s));
}

CString::CString(const char* s, int length) {
  if (s && length > 0) s_ = qk::FromUtf8(s, size_t(length));
}

CStringA::CStringA(LPCWSTR s) {
  if (s) s_ = qk::ToUtf8(s, wcslen(s));
}

CString CString::Mid(int first) const { return Mid(first, GetLength() - (first < 0 ? 0 : first)); }

CString CString::Mid(int first, int count) const {
  if (first < 0) first = 0;
  if (count < 0) count = 0;
  int len = GetLength();
  if (first >= len) return CString();
  if (count > len - first) count = len - first;
  return CString(s_.substr(size_t(first), size_t(count)));
}

CString CString::Left(int count) const {
  if (count <= 0) return CString();
  return CString(s_.substr(0, size_t(std::min(count, GetLength()))));
}

CString CString::Right(int count) const {
  if (count <= 0) return CString();
  int len = GetLength();
  if (count > len) count = len;
  return CString(s_.substr(size_t(len - count)));
}

CString CString::SpanIncluding(LPCWSTR set) const {
  return Left(int(wcsspn(s_.c_str(), set ? set : u"")));
}

CString CString::SpanExcluding(LPCWSTR set) const {
  return Left(int(wcscspn(s_.c_str(), set ? set : u"")));
}

int CString::Find(WCHAR c, int start) const {
  if (start < 0 || start > GetLength()) return -1;
  size_t p = s_.find(c, size_t(start));
  return p == std::u16string::npos ? -1 : int(p);
}

int CString::Find(LPCWSTR sub, int start) const {
  if (!sub || start < 0 || start > GetLength()) return -1;
  size_t p = s_.find(sub, size_t(start));
  return p == std::u16string::npos ? -1 : int(p);
}

int CString::ReverseFind(WCHAR c) const {
  size_t p = s_.rfind(c);
  return p == std::u16string::npos ? -1 : int(p);
}

int CString::FindOneOf(LPCWSTR set) const {
  if (!set || !*set) return -1;
  size_t p = s_.find_first_of(set);
  return p == std::u16string::npos ? -1 : int(p);
}

CString& CString::MakeUpper() {
  for (auto& c : s_) c = towupper16(c);
  return *this;
}

CString& CString::MakeLower() {
  for (auto& c : s_) c = towlower16(c);
  return *this;
}

CString& CString::MakeReverse() {
  std::reverse(s_.begin(), s_.end());
  return *this;
}

CString& CString::TrimLeft() {
  size_t i = 0;
  while (i < s_.size() && iswspace16(s_[i])) ++i;
  s_.erase(0, i);
  return *this;
}

CString& CString::TrimRight() {
  size_t n = s_.size();
  while (n > 0 && iswspace16(s_[n - 1])) --n;
  s_.resize(n);
  return *this;
}

CString& CString::Trim() { return TrimRight().TrimLeft(); }

CString& CString::TrimLeft(WCHAR c) {
  size_t i = 0;
  while (i < s_.size() && s_[i] == c) ++i;
  s_.erase(0, i);
  return *this;
}

CString& CString::TrimRight(WCHAR c) {
  size_t n = s_.size();
  while (n > 0 && s_[n - 1] == c) --n;
  s_.resize(n);
  return *this;
}

CString& CString::Trim(WCHAR c) { return TrimRight(c).TrimLeft(c); }

CString& CString::TrimLeft(LPCWSTR set) {
  if (!set) return *this;
  size_t i = 0;
  while (i < s_.size() && wcschr(set, s_[i]) && s_[i]) ++i;
  s_.erase(0, i);
  return *this;
}

CString& CString::TrimRight(LPCWSTR set) {
  if (!set) return *this;
  size_t n = s_.size();
  while (n > 0 && s_[n - 1] && wcschr(set, s_[n - 1])) --n;
  s_.resize(n);
  return *this;
}

CString& CString::Trim(LPCWSTR set) { return TrimRight(set).TrimLeft(set); }

int CString::Replace(WCHAR from, WCHAR to) {
  int n = 0;
  for (auto& c : s_) {
    if (c == from) {
      c = to;
      ++n;
    }
  }
  return n;
}

int CString::Replace(LPCWSTR from, LPCWSTR to) {
  if (!from || !*from) return 0;
  std::u16string f(from), t(to ? to : u"");
  std::u16string out;
  int n = 0;
  size_t pos = 0;
  for (;;) {
    size_t hit = s_.find(f, pos);
    if (hit == std::u16string::npos) break;
    out.append(s_, pos, hit - pos);
    out += t;
    pos = hit + f.size();
    ++n;
  }
  if (n) {
    out.append(s_, pos, std::u16string::npos);
    s_ = std::move(out);
  }
  return n;
}

int CString::Remove(WCHAR c) {
  size_t before = s_.size();
  s_.erase(std::remove(s_.begin(), s_.end(), c), s_.end());
  return int(before - s_.size());
}

int CString::Insert(int index, WCHAR c) {
  if (index < 0) index = 0;
  if (index > GetLength()) index = GetLength();
  s_.insert(s_.begin() + index, c);
  return GetLength();
}

int CString::Insert(int index, LPCWSTR s) {
  if (index < 0) index = 0;
  if (index > GetLength()) index = GetLength();
  if (s) s_.insert(size_t(index), s);
  return GetLength();
}

int CString::Delete(int index, int count) {
  if (index < 0) index = 0;
  if (count > 0 && index < GetLength()) s_.erase(size_t(index), size_t(count));
  return GetLength();
}

void CString::Truncate(int length) {
  if (length >= 0 && length < GetLength()) s_.resize(size_t(length));
}

CString CString::Tokenize(LPCWSTR delims, int& start) const {
  if (start < 0 || start >= GetLength() || !delims) {
    start = -1;
    return CString();
  }
  size_t b = s_.find_first_not_of(delims, size_t(start));
  if (b == std::u16string::npos) {
    start = -1;
    return CString();
  }
  size_t e = s_.find_first_of(delims, b);
  if (e == std::u16string::npos) e = s_.size();
  start = int(e + 1);
  return CString(s_.substr(b, e - b));
}

void CString::FormatV(LPCWSTR fmt, va_list args) {
  std::u16string out;
  qk::FormatAppendV(out, fmt ? fmt : u"", args);
  s_ = std::move(out);
}

void CString::AppendFormatV(LPCWSTR fmt, va_list args) { qk::FormatAppendV(s_, fmt ? fmt : u"", args); }

void CString::Format(LPCWSTR fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  FormatV(fmt, ap);
  va_end(ap);
}

void CString::AppendFormat(LPCWSTR fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  AppendFormatV(fmt, ap);
  va_end(ap);
}

LPWSTR CString::GetBuffer(int minLength) {
  size_t want = std::max(size_t(minLength < 0 ? 0 : minLength), s_.size());
  bufferSize_ = want;
  // One spare unit so that a caller may write the terminator at [minLength].
  s_.resize(want + 1, u'\0');
  return s_.data();
}

LPWSTR CString::GetBufferSetLength(int length) {
  size_t n = size_t(length < 0 ? 0 : length);
  s_.resize(n);
  bufferSize_ = n;
  return s_.data();
}

void CString::ReleaseBuffer(int newLength) {
  if (newLength < 0) {
    newLength = int(wcsnlen(s_.c_str(), s_.size()));
  }
  if (size_t(newLength) > s_.size()) newLength = int(s_.size());
  s_.resize(size_t(newLength));
  bufferSize_ = 0;
}

namespace {
template <class A, class B>
CString Concat(const A& a, const B& b) {
  CString r(a);
  r += b;
  return r;
}
}  // namespace

CString operator+(const CString& a, const CString& b) { return Concat(a, b); }
CString operator+(const CString& a, LPCWSTR b) { return Concat(a, b); }
CString operator+(LPCWSTR a, const CString& b) { return Concat(a, b); }
CString operator+(const CString& a, WCHAR b) { return Concat(a, b); }
CString operator+(WCHAR a, const CString& b) { return Concat(a, b); }
