// Resource tables registered by each program and library.
#include "kernel/resource.h"

#include <map>
#include <memory>
#include <mutex>
#include <deque>

namespace qk {

namespace {

struct Table {
  std::deque<ResourceEntry> entries;  // push_back keeps earlier entries in place
};

std::mutex g_lock;
std::map<HMODULE, Table>& Tables() {
  static auto* tables = new std::map<HMODULE, Table>();
  return *tables;
}

char16_t Fold(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

bool SameName(const char16_t* a, const char16_t* b) {
  if (!a || !b) return false;
  for (; *a && *b; ++a, ++b)
    if (Fold(*a) != Fold(*b)) return false;
  return *a == *b;
}

bool Matches(const ResourceEntry& e, LPCWSTR name, LPCWSTR type) {
  if (IS_INTRESOURCE(type)) {
    if (e.typeName || e.typeId != static_cast<WORD>(reinterpret_cast<ULONG_PTR>(type))) return false;
  } else if (!SameName(e.typeName, type)) {
    return false;
  }
  if (IS_INTRESOURCE(name)) return !e.name && e.id == static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name));
  return SameName(e.name, name);
}

const ResourceEntry* Find(HMODULE module, LPCWSTR name, LPCWSTR type) {
  auto it = Tables().find(module);
  if (it == Tables().end()) return nullptr;
  const auto& v = it->second.entries;
  for (auto e = v.rbegin(); e != v.rend(); ++e)
    if (Matches(*e, name, type)) return &*e;
  return nullptr;
}

}  // namespace

void RegisterResources(HMODULE module, const ResourceEntry* entries, size_t count) {
  std::lock_guard<std::mutex> lock(g_lock);
  auto& t = Tables()[module];
  for (size_t i = 0; i < count; ++i) t.entries.push_back(entries[i]);
}

void ClearResources() {
  std::lock_guard<std::mutex> lock(g_lock);
  Tables().clear();
}

}  // namespace qk

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  if (!name || !type) return nullptr;
  std::lock_guard<std::mutex> lock(qk::g_lock);
  const qk::ResourceEntry* e = qk::Find(module, name, type);
  if (!e && module) e = qk::Find(nullptr, name, type);
  if (!e) SetLastError(1814);  // ERROR_RESOURCE_NAME_NOT_FOUND
  // Entries are never removed while the program runs (ClearResources is for
  // tests), so the entry itself serves as the handle.
  return reinterpret_cast<HRSRC>(const_cast<qk::ResourceEntry*>(e));
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
  if (!resource) return nullptr;
  return const_cast<void*>(reinterpret_cast<const qk::ResourceEntry*>(resource)->data);
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
  if (!resource) return 0;
  return static_cast<DWORD>(reinterpret_cast<const qk::ResourceEntry*>(resource)->size);
}

LPVOID LockResource(HGLOBAL loaded) { return loaded; }
