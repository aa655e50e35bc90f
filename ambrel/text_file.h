// Reading text of any of the usual encodings into wide text: by its
// byte-order mark (FF FE little-endian UTF-16, FE FF big-endian UTF-16,
// EF BB BF UTF-8), else converted from the given code page. The text is
// well-formed UTF-16: a surrogate without its partner reads as U+FFFD.
#pragma once

#include "framework/afx.h"

// Error codes of the two readers.
enum {
  TEXT_FILE_CANNOT_OPEN = 1,
  TEXT_FILE_NO_MAPPING = 2,
  TEXT_FILE_NO_VIEW = 3,
  TEXT_FILE_TOO_LARGE = 4,
  TEXT_FILE_COUNT_CHANGED = 5,
  TEXT_FILE_OUT_OF_MEMORY = 6,
};

// Reads a file whole. TRUE with the text (not terminated; allocated with
// malloc, freed by the caller with free) and its length in characters;
// content that converts to no character gives TRUE, length 0 and no buffer.
// FALSE with *error set (when given) on failure.
BOOL LoadTextFile(LPCWSTR path, WCHAR** text, int* length, UINT codePage, int* error = nullptr);
// The same decoding applied to bytes in memory; zero bytes give an empty
// text.
BOOL DecodeTextBytes(const BYTE* bytes, size_t size, WCHAR** text, int* length, UINT codePage, int* error = nullptr);
