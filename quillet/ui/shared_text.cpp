// Shared text records.
#include "quillet/ui/shared_text.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

struct Header {
  std::atomic<int32_t> refs;
  int32_t length;
};

// The shared empty buffer: a header whose count is never used, and the
// terminator.
struct EmptyBuffer {
  Header header;
  WCHAR text[2];
};
EmptyBuffer g_empty = {{0, 0}, {0, 0}};

Header* HeaderOf(WCHAR* chars) { return reinterpret_cast<Header*>(chars) - 1; }

bool IsEmptyBuffer(const WCHAR* chars) { return chars == nullptr || chars == g_empty.text; }

}  // namespace

LPCWSTR CSharedText::EmptyText() { return g_empty.text; }

int CSharedText::Assign(CSharedText& record, LPCWSTR text, int length) {
  if (text && length < 0) {
    length = 0;
    while (text[length]) ++length;
  }
  if (!text || length <= 0) {
    record.m_pszData = g_empty.text;
    return 0;
  }
  void* block = std::malloc(sizeof(Header) + (static_cast<size_t>(length) + 1) * sizeof(WCHAR));
  if (!block) {
    record.m_pszData = g_empty.text;
    return 0;
  }
  auto* header = new (block) Header{{1}, length};
  WCHAR* chars = reinterpret_cast<WCHAR*>(header + 1);
  std::memcpy(chars, text, static_cast<size_t>(length) * sizeof(WCHAR));
  chars[length] = 0;
  record.m_pszData = chars;
  return length;
}

void CSharedText::Release(CSharedText& record) {
  WCHAR* chars = record.m_pszData;
  record.m_pszData = g_empty.text;
  if (IsEmptyBuffer(chars)) return;
  Header* header = HeaderOf(chars);
  if (header->refs.fetch_sub(1) - 1 < 1) {
    header->~Header();
    std::free(header);
  }
}

CSharedText& CSharedText::Copy(const CSharedText& record, CSharedText& out) {
  out.m_pszData = record.m_pszData ? record.m_pszData : g_empty.text;
  if (!IsEmptyBuffer(out.m_pszData)) HeaderOf(out.m_pszData)->refs.fetch_add(1);
  return out;
}

LPCWSTR CSharedText::GetText() const { return m_pszData ? m_pszData : g_empty.text; }

int CSharedText::GetLength() const { return IsEmptyBuffer(m_pszData) ? 0 : HeaderOf(m_pszData)->length; }

int CSharedText::GetRefCount() const { return IsEmptyBuffer(m_pszData) ? 0 : HeaderOf(m_pszData)->refs.load(); }

void AssignItemText(CSharedText& record, LPCWSTR text) {
  CSharedText::Release(record);
  CSharedText::Assign(record, text, -1);
}
