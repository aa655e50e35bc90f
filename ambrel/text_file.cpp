// Text of any of the usual encodings into wide text (see ambrel/text_file.h).
#include "ambrel/text_file.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "kernel/wstring.h"

namespace {

BOOL Fail(int code, int* error) {
  if (error) *error = code;
  return FALSE;
}

BOOL Convert(const BYTE* bytes, size_t size, UINT codePage, WCHAR** text, int* length, int* error) {
  if (size > 0x7FFFFFFF) return Fail(TEXT_FILE_TOO_LARGE, error);
  auto* src = reinterpret_cast<LPCSTR>(bytes);
  if (codePage == CP_ACP || codePage == CP_UTF8) {
    // The system's code page is UTF-8: one pass instead of count and convert.
    std::u16string wide = qk::FromUtf8(src, size);
    qk::ReplaceLoneSurrogates(wide.data(), wide.size());
    if (wide.empty()) {
      *text = nullptr;
      *length = 0;
      return TRUE;
    }
    auto* out = static_cast<WCHAR*>(std::malloc(wide.size() * sizeof(WCHAR)));
    if (!out) return Fail(TEXT_FILE_OUT_OF_MEMORY, error);
    std::memcpy(out, wide.data(), wide.size() * sizeof(WCHAR));
    *text = out;
    *length = static_cast<int>(wide.size());
    return TRUE;
  }
  int count = MultiByteToWideChar(codePage, 0, src, static_cast<int>(size), nullptr, 0);
  if (count <= 0) {
    // Nothing converts: an empty text.
    *text = nullptr;
    *length = 0;
    return TRUE;
  }
  auto* out = static_cast<WCHAR*>(std::malloc(static_cast<size_t>(count) * sizeof(WCHAR)));
  if (!out) return Fail(TEXT_FILE_OUT_OF_MEMORY, error);
  int second = MultiByteToWideChar(codePage, 0, src, static_cast<int>(size), out, count);
  if (second != count) {
    std::free(out);
    return Fail(TEXT_FILE_COUNT_CHANGED, error);
  }
  *text = out;
  *length = count;
  return TRUE;
}

}  // namespace

BOOL DecodeTextBytes(const BYTE* bytes, size_t size, WCHAR** text, int* length, UINT codePage, int* error) {
  *text = nullptr;
  *length = 0;
  if (size == 0 || !bytes) return TRUE;
  if (size > 1 && (bytes[0] == 0xFF && bytes[1] == 0xFE)) {
    size_t count = (size - 2) / 2;
    auto* out = static_cast<WCHAR*>(std::malloc(count ? count * sizeof(WCHAR) : sizeof(WCHAR)));
    if (!out) return Fail(TEXT_FILE_OUT_OF_MEMORY, error);
    for (size_t i = 0; i < count; ++i)
      out[i] = static_cast<WCHAR>(bytes[2 + 2 * i] | (bytes[3 + 2 * i] << 8));
    qk::ReplaceLoneSurrogates(out, count);
    *text = out;
    *length = static_cast<int>(count);
    return TRUE;
  }
  if (size > 1 && (bytes[0] == 0xFE && bytes[1] == 0xFF)) {
    size_t count = (size - 2) / 2;
    auto* out = static_cast<WCHAR*>(std::malloc(count ? count * sizeof(WCHAR) : sizeof(WCHAR)));
    if (!out) return Fail(TEXT_FILE_OUT_OF_MEMORY, error);
    // Each character is the unsigned byte pair, high byte first.
    for (size_t i = 0; i < count; ++i)
      out[i] = static_cast<WCHAR>((bytes[2 + 2 * i] << 8) | bytes[3 + 2 * i]);
    qk::ReplaceLoneSurrogates(out, count);
    *text = out;
    *length = static_cast<int>(count);
    return TRUE;
  }
  if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    if (size == 3) return TRUE;
    return Convert(bytes + 3, size - 3, CP_UTF8, text, length, error);
  }
  return Convert(bytes, size, codePage, text, length, error);
}

BOOL LoadTextFile(LPCWSTR path, WCHAR** text, int* length, UINT codePage, int* error) {
  *text = nullptr;
  *length = 0;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(TEXT_FILE_CANNOT_OPEN, error);
  DWORD high = 0;
  DWORD size = GetFileSize(file, &high);
  if (high != 0) {
    CloseHandle(file);
    return Fail(TEXT_FILE_TOO_LARGE, error);
  }
  std::vector<BYTE> bytes;
  try {
    bytes.resize(size);
  } catch (const std::bad_alloc&) {
    CloseHandle(file);
    return Fail(TEXT_FILE_OUT_OF_MEMORY, error);
  }
  DWORD read = 0;
  BOOL ok = size == 0 || ReadFile(file, bytes.data(), size, &read, nullptr);
  CloseHandle(file);
  if (!ok || read != size) return Fail(TEXT_FILE_NO_VIEW, error);
  return DecodeTextBytes(bytes.data(), bytes.size(), text, length, codePage, error);
}
