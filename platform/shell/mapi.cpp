#include "shell/mapi.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "kernel/fs.h"
#include "kernel/wstring.h"

namespace {

template <class Base>
class Counted : public Base {
 public:
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

class StoresTable final : public Counted<IMAPITable> {
 public:
  explicit StoresTable(std::vector<std::u16string> names) : names_(std::move(names)) {}

  HRESULT SetColumns(const SPropTagArray* columns, ULONG) override {
    if (!columns) return MAPI_E_INVALID_PARAMETER;
    columns_.assign(columns->aulPropTag, columns->aulPropTag + columns->cValues);
    return S_OK;
  }

  // Each row is one block: the row set, the property values and the texts,
  // so that FreeProws frees it with one call per row set.
  HRESULT QueryRows(LONG rowCount, ULONG, LPSRowSet* rows) override {
    if (!rows || rowCount < 0) return MAPI_E_INVALID_PARAMETER;
    const size_t count = std::min<size_t>(static_cast<size_t>(rowCount), names_.size() - next_);
    const size_t columns = columns_.size();
    size_t bytes = sizeof(SRowSet) + (count ? count - 1 : 0) * sizeof(SRow) + count * columns * sizeof(SPropValue);
    for (size_t i = 0; i < count; ++i) bytes += (names_[next_ + i].size() + 1) * sizeof(WCHAR) * columns;
    auto* block = static_cast<unsigned char*>(std::calloc(1, bytes));
    if (!block) return E_FAIL;
    auto* set = reinterpret_cast<SRowSet*>(block);
    set->cRows = static_cast<ULONG>(count);
    auto* values = reinterpret_cast<SPropValue*>(block + sizeof(SRowSet) + (count ? count - 1 : 0) * sizeof(SRow));
    auto* text = reinterpret_cast<WCHAR*>(values + count * columns);
    for (size_t i = 0; i < count; ++i) {
      const std::u16string& name = names_[next_ + i];
      SRow& row = set->aRow[i];
      row.cValues = static_cast<ULONG>(columns);
      row.lpProps = values + i * columns;
      for (size_t c = 0; c < columns; ++c) {
        SPropValue& v = row.lpProps[c];
        v.ulPropTag = columns_[c];
        v.Value.lpszW = text;
        if (columns_[c] == PR_DISPLAY_NAME) std::memcpy(text, name.c_str(), name.size() * sizeof(WCHAR));
        text += name.size() + 1;
      }
    }
    next_ += count;
    *rows = set;
    return S_OK;
  }

 private:
  std::vector<std::u16string> names_;
  std::vector<ULONG> columns_{PR_DISPLAY_NAME};
  size_t next_ = 0;
};

class Session final : public Counted<IMAPISession> {
 public:
  explicit Session(std::vector<std::u16string> names) : names_(std::move(names)) {}

  HRESULT GetMsgStoresTable(ULONG, IMAPITable** table) override {
    if (!table) return MAPI_E_INVALID_PARAMETER;
    *table = new (std::nothrow) StoresTable(names_);
    return *table ? S_OK : E_FAIL;
  }
  HRESULT Logoff(ULONG_PTR, ULONG, ULONG) override { return S_OK; }

 private:
  std::vector<std::u16string> names_;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

HRESULT MAPILogonEx(ULONG_PTR, LPWSTR, LPWSTR, ULONG, LPMAPISESSION* session) {
  if (!session) return MAPI_E_INVALID_PARAMETER;
  *session = nullptr;
  FILE* f = qk::DeviceFopen(qk::ToUtf8(std::u16string(MAPI_ACCOUNTS_FILE)).c_str(), "rb");
  if (!f) return MAPI_E_LOGON_FAILED;
  std::string bytes;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
  std::fclose(f);
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
  std::vector<std::u16string> names;
  size_t at = 0;
  while (at < bytes.size()) {
    size_t end = bytes.find('\n', at);
    if (end == std::string::npos) end = bytes.size();
    size_t first = at, last = end;
    while (first < last && IsBlank(bytes[first])) ++first;
    while (last > first && IsBlank(bytes[last - 1])) --last;
    if (last > first) names.push_back(qk::FromUtf8(bytes.substr(first, last - first)));
    at = end + 1;
  }
  *session = new (std::nothrow) Session(std::move(names));
  return *session ? S_OK : E_FAIL;
}

void FreeProws(LPSRowSet rows) { std::free(rows); }
