// Reads a text file of any of the usual encodings into wide text.
#pragma once

#include "framework/afx.h"

#define LOAD_TEXT_CANNOT_OPEN 1
#define LOAD_TEXT_MAP_FAILED 2
#define LOAD_TEXT_VIEW_FAILED 3
#define LOAD_TEXT_TOO_LARGE 4
#define LOAD_TEXT_LENGTH_MISMATCH 5
#define LOAD_TEXT_OUT_OF_MEMORY 6

// Reads the file by its byte-order mark: FF FE (UTF-16 little-endian), FE FF
// (UTF-16 big-endian), EF BB BF (UTF-8), else the given code page. Returns 1
// with *buffer (not terminated, from malloc, the caller frees it) and
// *length in characters (well-formed UTF-16: a surrogate without its
// partner reads as U+FFFD); content that converts to no character gives 1, a
// length of 0 and no buffer, so callers set *buffer to null first. Returns
// 0 on failure with *error (when given) set to one of the codes above.
int LoadTextFile(LPCWSTR path, WCHAR** buffer, int* length, UINT codePage, int* error = nullptr);
