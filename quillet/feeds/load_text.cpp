#include "quillet/feeds/load_text.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "kernel/kernel.h"

namespace {

int Fail(int* error, int code) {
  if (error) *error = code;
  return 0;
}

// Converts 8-bit text: asks for the length, allocates and converts; a
// second count that differs fails.
int Convert(const char* bytes, int size, UINT codePage, WCHAR** buffer, int* length, int* error) {
  int count = MultiByteToWideChar(codePage, 0, bytes, size, nullptr, 0);
  if (count <= 0) {
    *length = 0;
    return 1;
  }
  auto* out = static_cast<WCHAR*>(malloc(size_t(count) * sizeof(WCHAR)));
  if (!out) return Fail(error, LOAD_TEXT_OUT_OF_MEMORY);
  int converted = MultiByteToWideChar(codePage, 0, bytes, size, out, count);
  if (converted != count) {
    free(out);
    return Fail(error, LOAD_TEXT_LENGTH_MISMATCH);
  }
  *buffer = out;
  *length = count;
  return 1;
}

}  // namespace

int LoadTextFile(LPCWSTR path, WCHAR** buffer, int* length, UINT codePage, int* error) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(error, LOAD_TEXT_CANNOT_OPEN);
  DWORD high = 0;
  DWORD size = GetFileSize(file, &high);
  if (high != 0) {
    CloseHandle(file);
    return Fail(error, LOAD_TEXT_TOO_LARGE);
  }
  std::string bytes;
  try {
    bytes.resize(size);
  } catch (const std::bad_alloc&) {
    CloseHandle(file);
    return Fail(error, LOAD_TEXT_OUT_OF_MEMORY);
  }
  DWORD read = 0;
  BOOL ok = size == 0 || (ReadFile(file, bytes.data(), size, &read, nullptr) && read == size);
  CloseHandle(file);
  if (!ok) return Fail(error, LOAD_TEXT_VIEW_FAILED);

  *length = 0;
  if (size == 0) {
    *buffer = static_cast<WCHAR*>(malloc(sizeof(WCHAR)));
    if (!*buffer) return Fail(error, LOAD_TEXT_OUT_OF_MEMORY);
    return 1;
  }
  auto b = reinterpret_cast<const unsigned char*>(bytes.data());
  if (size > 1 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
    bool bigEndian = b[0] == 0xFE;
    int count = int((size - 2) / 2);
    auto* out = static_cast<WCHAR*>(malloc(size_t(count > 0 ? count : 1) * sizeof(WCHAR)));
    if (!out) return Fail(error, LOAD_TEXT_OUT_OF_MEMORY);
    for (int i = 0; i < count; ++i) {
      unsigned char first = b[2 + 2 * i], second = b[3 + 2 * i];
      out[i] = bigEndian ? WCHAR((first << 8) | second) : WCHAR((second << 8) | first);
    }
    qk::ReplaceLoneSurrogates(out, size_t(count));
    *buffer = out;
    *length = count;
    return 1;
  }
  if (size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
    if (size == 3) {
      *buffer = static_cast<WCHAR*>(malloc(sizeof(WCHAR)));
      if (!*buffer) return Fail(error, LOAD_TEXT_OUT_OF_MEMORY);
      return 1;
    }
    return Convert(bytes.data() + 3, int(size - 3), CP_UTF8, buffer, length, error);
  }
  return Convert(bytes.data(), int(size), codePage, buffer, length, error);
}
