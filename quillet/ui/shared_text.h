// CSharedText: the reference-counted text record that the toolkit's rows
// and the pages' label arrays hold. The record is two words; the second
// points at the characters of a buffer laid out as a 32-bit reference
// count, a 32-bit length in characters, the characters and a terminating
// zero. An empty text points at one process-wide empty buffer that is never
// freed.
#pragma once

#include <cstdint>

#include "kernel/types.h"

struct CSharedText {
  void* m_pReserved = nullptr;
  WCHAR* m_pszData = nullptr;

  // Points the record at a new buffer holding length characters of text
  // (-1: up to the terminator) with reference count 1; a null text or a
  // length of 0 points it at the shared empty buffer. The text the record
  // held before is not released (callers release it first). Returns the
  // length stored.
  static int Assign(CSharedText& record, LPCWSTR text, int length);
  // Drops one reference of the record's text: the buffer is freed when its
  // count falls below 1 (never the shared empty one). The record is left
  // pointing at the shared empty buffer.
  static void Release(CSharedText& record);
  // A second reference to the record's text (the count raised, nothing
  // copied) stored in out, which must not hold a text of its own.
  static CSharedText& Copy(const CSharedText& record, CSharedText& out);

  LPCWSTR GetText() const;
  int GetLength() const;
  int GetRefCount() const;
  static LPCWSTR EmptyText();
};

// Releases the record's current text and assigns text up to its terminator.
void AssignItemText(CSharedText& record, LPCWSTR text);
