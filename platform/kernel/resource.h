// Resources compiled into each program or library: bytes looked up by
// module, type and numeric id (or name). Each program or library registers
// its table once at start-up with qk::RegisterResources; the table's data
// must stay valid for the life of the process.
#pragma once

#include <cstddef>

#include "kernel/types.h"

#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEW
#define IS_INTRESOURCE(p) ((reinterpret_cast<ULONG_PTR>(p) >> 16) == 0)

#define RT_CURSOR MAKEINTRESOURCEW(1)
#define RT_BITMAP MAKEINTRESOURCEW(2)
#define RT_ICON MAKEINTRESOURCEW(3)
#define RT_MENU MAKEINTRESOURCEW(4)
#define RT_DIALOG MAKEINTRESOURCEW(5)
#define RT_STRING MAKEINTRESOURCEW(6)
#define RT_ACCELERATOR MAKEINTRESOURCEW(9)
#define RT_RCDATA MAKEINTRESOURCEW(10)
#define RT_GROUP_ICON MAKEINTRESOURCEW(14)
#define RT_HTML MAKEINTRESOURCEW(23)

// type and name are either numeric (MAKEINTRESOURCE) or strings, matched
// without regard to case ("PNG", "TARGA"). module NULL is the program; a
// library's resources are found under its own module handle, and a lookup
// under any module falls back to the program's table.
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
#define FindResource FindResourceW
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
DWORD SizeofResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL loaded);

namespace qk {

struct ResourceEntry {
  const char16_t* typeName;  // a string type ("PNG"), or null for a numeric one
  WORD typeId;               // numeric type (RT_BITMAP = 2, RT_MENU = 4, RT_DIALOG = 5...)
  WORD id;                   // numeric id, or 0 when the resource has a name
  const char16_t* name;      // the name, or null for a numeric id
  const void* data;
  size_t size;
};

// Adds a table of resources under a module (null = the program). A later
// entry with the same type and id replaces an earlier one.
void RegisterResources(HMODULE module, const ResourceEntry* entries, size_t count);
// Removes every table (tests).
void ClearResources();

}  // namespace qk
