#include "quillet/feeds/item_store.h"

#include <cstdio>
#include <bit>
#include <cstring>
#include <filesystem>
#include <algorithm>
#include <map>
#include <unordered_map>

#include "common/file_finder.h"
#include "common/settings.h"
#include "kernel/kernel.h"
#include "quillet/feeds/feed_date.h"
#include "quillet/feeds/image_ref.h"

namespace {

const size_t kFixedBytes = 104;  // L of a record whose texts are all empty (no terminators)

uint32_t U32(const std::string& d, size_t p) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(d.data()) + p;
  return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

uint16_t U16(const std::string& d, size_t p) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(d.data()) + p;
  return uint16_t(b[0] | (b[1] << 8));
}

// Reads an open file from its position to its end (a file that shrinks
// meanwhile gives what there was); a failed read throws CFileException.
void ReadWholeFile(CFile& f, std::string& out) {
  out.resize(size_t(f.GetLength()));
  size_t got = 0;
  while (got < out.size()) {
    UINT n = f.Read(out.data() + got, UINT(out.size() - got));
    if (n == 0) break;
    got += n;
  }
  out.resize(got);
}

void PutU32(std::string& out, uint32_t v) {
  char b[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char((v >> 24) & 0xFF)};
  out.append(b, 4);
}

void PutU16(std::string& out, uint16_t v) {
  char b[2] = {char(v & 0xFF), char((v >> 8) & 0xFF)};
  out.append(b, 2);
}

void PutUnits(std::string& out, const std::u16string& s) {
  if constexpr (std::endian::native == std::endian::little) {
    out.append(reinterpret_cast<const char*>(s.data()), s.size() * 2);
    return;
  }
  size_t at = out.size();
  out.resize(at + s.size() * 2);
  char* p = out.data() + at;
  for (char16_t c : s) {
    *p++ = char(c & 0xFF);
    *p++ = char(c >> 8);
  }
}

// A text field: the units up to the first 0 unit.
CString TextAt(const std::string& d, size_t p, size_t bytes) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(d.data()) + p;
  size_t units = bytes / 2, n = 0;
  // Four units at a time up to the block that holds a 0 unit.
  for (; n + 4 <= units; n += 4) {
    uint64_t block;
    memcpy(&block, b + 2 * n, sizeof block);
    if ((block - 0x0001000100010001ULL) & ~block & 0x8000800080008000ULL) break;
  }
  while (n < units && (b[2 * n] | b[2 * n + 1])) ++n;
  std::u16string s(n, u'\0');
  if constexpr (std::endian::native == std::endian::little) {
    if (n) memcpy(s.data(), b, 2 * n);
  } else {
    for (size_t i = 0; i < n; ++i) s[i] = char16_t(b[2 * i] | (b[2 * i + 1] << 8));
  }
  return CString(std::move(s));
}

bool IsDeletedType(uint32_t type) { return (type >> 16) == 0x8000; }

// Decodes the record at pos. Every count and text must lie inside both the
// data and the record's own length. flagOffset receives the position of
// the read flag.
bool DecodeRecord(const std::string& d, size_t pos, CItemRecord* rec, size_t* flagOffset, bool full = true) {
  if (d.size() < pos || d.size() - pos < 8) return false;
  uint64_t limit = pos + 4 + uint64_t(U32(d, pos));
  if (limit > d.size()) limit = d.size();
  size_t p = pos + 4;
  auto need = [&](uint64_t n) { return uint64_t(p) + n <= limit; };
  uint32_t type = U32(d, p);
  p += 4;
  if (!need(4)) return false;
  uint32_t t = U32(d, p);
  p += 4;
  if (!need(t)) return false;
  CString title = TextAt(d, p, t);
  p += t;
  if (!need(4)) return false;
  uint16_t k = U16(d, p), i = U16(d, p + 2);
  p += 4;
  if (!need(uint64_t(k) + i)) return false;
  CString link = TextAt(d, p, k);
  p += k;
  CString id = i ? TextAt(d, p, i) : CString();
  p += i;
  if (!need(4)) return false;
  uint32_t dl = U32(d, p);
  p += 4;
  if (!need(dl)) return false;
  CString date = TextAt(d, p, dl);
  p += dl;
  if (!need(8)) return false;
  size_t flagAt = p;
  uint32_t flag = U32(d, p);
  uint32_t c = U32(d, p + 4);
  p += 8;
  if (!need(uint64_t(c) + 80)) return false;
  if (rec) {
    rec->type = type;
    rec->title = std::move(title);
    rec->link = std::move(link);
    rec->id = std::move(id);
    rec->date = std::move(date);
    rec->readFlag = flag;
    if (full) {
      rec->content = TextAt(d, p, c);
      rec->pageName = TextAt(d, p + c, 80);
    } else {
      rec->content.Empty();
      rec->pageName.Empty();
    }
  }
  if (flagOffset) *flagOffset = flagAt;
  return true;
}

// The end of the last whole record: what follows it is a torn tail. Live
// records that are whole but whose fields do not fit (they end every walk)
// are listed in corrupt when asked.
size_t WholeEnd(const std::string& d, std::vector<size_t>* corrupt = nullptr);

size_t WholeEnd(const std::string& d, std::vector<size_t>* corrupt) {
  size_t pos = 0;
  while (d.size() - pos >= 8) {
    uint64_t l = U32(d, pos);
    if (l < 4 || 4 + l > d.size() - pos) break;
    if (corrupt && !IsDeletedType(U32(d, pos + 4)) && !DecodeRecord(d, pos, nullptr, nullptr, false))
      corrupt->push_back(pos);
    pos += size_t(4 + l);
  }
  return pos;
}

// Calls f(pos, type) for every record start that has 8 bytes; f returns
// false to stop. Stops also where a record's length runs past the data.
template <class F>
void ForEachRecord(const std::string& d, size_t pos, F f) {
  while (d.size() >= pos && d.size() - pos >= 8) {
    uint32_t type = U32(d, pos + 4);
    if (!f(pos, type)) return;
    uint64_t next = pos + 4 + uint64_t(U32(d, pos));
    if (next > d.size()) return;
    pos = size_t(next);
  }
}

std::u16string Cut(LPCWSTR text, size_t maxChars) {
  std::u16string s(text ? text : u"");
  if (s.size() > maxChars) s.resize(maxChars);
  return s;
}

int ProfileSetting(LPCWSTR entry, int defaultValue) {
  CWinApp* app = AfxGetApp();
  if (app && !app->m_strRegistryKey.IsEmpty()) return int(app->GetProfileInt(u"Settings", entry, defaultValue));
  return int(GetRegistryDword(entry, DWORD(defaultValue), u""));
}

}  // namespace

int GetArticlesNumberSetting() {
  unsigned v = unsigned(ProfileSetting(u"ArticlesNumber", 50));
  return v > 500 ? 500 : int(v);
}

int GetDownloadImageSetting() { return ProfileSetting(u"DownloadImage", 1); }

std::recursive_mutex& CItemStore::PathLock(const CString& path) {
  static std::mutex mapLock;
  static std::map<std::u16string, std::unique_ptr<std::recursive_mutex>> locks;
  CString key(path);
  key.MakeLower();
  key.Replace(u'/', u'\\');
  std::lock_guard<std::mutex> hold(mapLock);
  auto& slot = locks[key.str()];
  if (!slot) slot = std::make_unique<std::recursive_mutex>();
  return *slot;
}

CItemStore::CItemStore(int readKeptCount) { m_nKeptCount = readKeptCount ? GetArticlesNumberSetting() : 0; }

CItemStore::~CItemStore() {
  ReleaseFile();
  m_pending.clear();
  ClearKeyLists();
}

int CItemStore::GetIndexCapacity() const { return m_nKeptCount + 1 > 499 ? m_nKeptCount + 1 : 499; }

void CItemStore::HoldFile() {
  if (Holding() || m_strPath.IsEmpty()) return;
  ReleaseFile();
  m_fileHold = std::unique_lock<std::recursive_mutex>(PathLock(m_strPath));
  m_strHeldPath = m_strPath;
}

void CItemStore::ReleaseFile() {
  if (m_fileHold.owns_lock()) m_fileHold.unlock();
  m_fileHold = std::unique_lock<std::recursive_mutex>();
  m_strHeldPath.Empty();
  m_heldBytes.clear();
  m_heldBytes.shrink_to_fit();
  m_bHeldBytesKnown = false;
}

void CItemStore::PatchHeldBytes(size_t offset, const std::string& bytes) {
  if (!Holding() || !m_bHeldBytesKnown) return;
  if (offset + bytes.size() > m_heldBytes.size()) {
    m_bHeldBytesKnown = false;
    return;
  }
  m_heldBytes.replace(offset, bytes.size(), bytes);
}

const std::string* CItemStore::FileBytes(std::string& scratch) const {
  if (Holding()) {
    // The held bytes stand for the file: they are lent, not copied, and
    // read into their place when not known yet.
    if (!m_bHeldBytesKnown) {
      if (!ReadFileBytes(scratch)) return nullptr;
      m_heldBytes.swap(scratch);
      m_bHeldBytesKnown = true;
    }
    return &m_heldBytes;
  }
  return ReadFileBytes(scratch) ? &scratch : nullptr;
}

bool CItemStore::ReadFileBytes(std::string& out) const {
  out.clear();
  if (m_strPath.IsEmpty()) return false;
  if (Holding() && m_bHeldBytesKnown) {
    out = m_heldBytes;
    return true;
  }
  CFile f;
  if (!f.Open(m_strPath, CFile::modeRead | CFile::typeBinary | CFile::shareDenyNone)) return false;
  try {
    ReadWholeFile(f, out);
  } catch (CFileException* e) {
    e->Delete();
    out.clear();
    return false;
  }
  if (Holding()) {
    m_heldBytes = out;
    m_bHeldBytesKnown = true;
  }
  return true;
}

void CItemStore::LoadFile() {
  std::lock_guard<std::recursive_mutex> hold(PathLock(m_strPath));
  m_nCursorNumber = -1;
  m_bHasBuffer = ReadFileBytes(m_buffer);
  if (!m_bHasBuffer) m_buffer.clear();
}

void CItemStore::ReloadBufferIfHeld() {
  if (m_bHasBuffer) LoadFile();
}

void CItemStore::Open(LPCWSTR path, int buildIndex, int loadWholeFile) {
  m_strPath = path ? path : u"";
  if (m_fileHold.owns_lock() && m_strHeldPath != m_strPath) ReleaseFile();
  // The stored keys are read again from the file as it is now.
  ClearKeyLists();
  m_buffer.clear();
  m_bHasBuffer = false;
  m_nCursorNumber = -1;
  if (loadWholeFile) LoadFile();
  if (m_strPath.IsEmpty() || !buildIndex) return;
  std::lock_guard<std::recursive_mutex> hold(PathLock(m_strPath));
  m_index.clear();
  ResetRecord();
  std::string temp;
  const std::string* file = m_bHasBuffer ? &m_buffer : FileBytes(temp);
  const std::string& d = file ? *file : temp;
  int count = 0;
  size_t lastPos = 0;
  CItemRecord rec;
  ForEachRecord(d, 0, [&](size_t pos, uint32_t type) {
    if (IsDeletedType(type)) return true;
    if (!DecodeRecord(d, pos, &rec, nullptr, false)) return false;
    if (rec.link != ERROR_ITEM_LINK) InsertKey(rec.date, rec.link);
    lastPos = pos;
    ++count;
    return true;
  });
  m_bIndexBuilt = true;
  if (count > 0 && DecodeRecord(d, lastPos, &m_current, nullptr)) {
    m_nCurrent = count - 1;
    if (m_bHasBuffer) {
      m_nCursorNumber = m_nCurrent;
      m_nCursorOffset = lastPos;
    }
  }
}

int CItemStore::ReadRecord(int n) {
  std::lock_guard<std::recursive_mutex> hold(PathLock(m_strPath));
  std::string temp;
  const std::string* file = m_bHasBuffer ? &m_buffer : FileBytes(temp);
  const std::string& d = file ? *file : temp;
  if (n >= 0) {
    // Walk on from where the last read stood when that lies before n.
    bool fromCursor = m_bHasBuffer && m_nCursorNumber >= 0 && n >= m_nCursorNumber;
    int number = fromCursor ? m_nCursorNumber : 0;
    size_t start = fromCursor ? m_nCursorOffset : 0;
    bool found = false;
    ForEachRecord(d, start, [&](size_t pos, uint32_t type) {
      if (IsDeletedType(type)) return true;
      if (number == n) {
        found = DecodeRecord(d, pos, &m_current, nullptr);
        if (found && m_bHasBuffer) {
          m_nCursorNumber = n;
          m_nCursorOffset = pos;
        }
        return false;
      }
      ++number;
      return true;
    });
    if (found) return 1;
  }
  m_current.Clear();
  return 0;
}

void CItemStore::CountItems(int& itemCount, int& readCount) {
  std::lock_guard<std::recursive_mutex> hold(PathLock(m_strPath));
  itemCount = readCount = 0;
  std::string temp;
  const std::string* file = m_bHasBuffer ? &m_buffer : FileBytes(temp);
  const std::string& d = file ? *file : temp;
  // The walk MoveNext makes, without reading the texts: it ends at the
  // first live record that cannot be read.
  ForEachRecord(d, 0, [&](size_t pos, uint32_t type) {
    if (IsDeletedType(type)) return true;
    size_t flagAt = 0;
    if (!DecodeRecord(d, pos, nullptr, &flagAt)) return false;
    if (type < ITEM_TYPE_ERROR) {
      ++itemCount;
      uint32_t flag = U32(d, flagAt);
      if (flag == ITEM_READ_READ || flag == ITEM_READ_READ_FETCHED) ++readCount;
    }
    return true;
  });
}

int CItemStore::MoveNext() {
  if (ReadRecord(m_nCurrent + 1)) {
    ++m_nCurrent;
    return 1;
  }
  if (m_nCurrent >= 0) ReadRecord(m_nCurrent);
  return 0;
}

void CItemStore::ResetRecord() {
  m_current.Clear();
  m_nCurrent = -1;
}

int CItemStore::FindRecord(LPCWSTR link, LPCWSTR title) {
  std::lock_guard<std::recursive_mutex> hold(PathLock(m_strPath));
  CString wantLink(link), wantTitle(title);
  std::string temp;
  const std::string* file = m_bHasBuffer ? &m_buffer : FileBytes(temp);
  const std::string& d = file ? *file : temp;
  int number = 0;
  bool found = false;
  CItemRecord rec;
  ForEachRecord(d, 0, [&](size_t pos, uint32_t type) {
    if (IsDeletedType(type)) return true;
    if (!DecodeRecord(d, pos, &rec, nullptr, false)) return false;
    if (rec.link == wantLink && (wantTitle.IsEmpty() || rec.title == wantTitle)) {
      DecodeRecord(d, pos, &m_current, nullptr);
      m_nCurrent = number;
      if (m_bHasBuffer) {
        m_nCursorNumber = number;
        m_nCursorOffset = pos;
      }
      found = true;
      return false;
    }
    ++number;
    return true;
  });
  if (found) return 1;
  if (m_nCurrent >= 0) ReadRecord(m_nCurrent);
  else m_current.Clear();
  return 0;
}

int CItemStore::InsertKey(LPCWSTR date, LPCWSTR link) {
  if (!date || !*date || !link || !*link) return 0;
  std::u16string d(date), l(link);
  // After every entry whose date is less than or equal to the new one.
  auto at = std::upper_bound(m_index.begin(), m_index.end(), d,
                             [](const std::u16string& v, const std::pair<std::u16string, std::u16string>& e) {
                               return v < e.first;
                             });
  size_t point = size_t(at - m_index.begin());
  if (d.size() >= 31 || l.size() >= 260) return 0;
  if (int(m_index.size()) >= GetIndexCapacity()) {
    if (point == 0) return 0;
    m_index.erase(m_index.begin());
    m_index.insert(m_index.begin() + long(point - 1), {std::move(d), std::move(l)});
    return 1;
  }
  m_index.insert(m_index.begin() + long(point), {std::move(d), std::move(l)});
  return 1;
}

void CItemStore::AddPendingItem(LPCWSTR title, LPCWSTR link, LPCWSTR id, LPCWSTR date, DWORD readFlag, DWORD type,
                                LPCWSTR content, LPCWSTR pageName) {
  AddPendingItem(title, link, id, date, readFlag, type, CString(content), pageName);
}

void CItemStore::AddPendingItem(LPCWSTR title, LPCWSTR link, LPCWSTR id, LPCWSTR date, DWORD readFlag, DWORD type,
                                CString&& content, LPCWSTR pageName) {
  auto p = std::make_unique<Pending>();
  p->title = title;
  p->link = link;
  p->id = id;
  p->date = date;
  p->readFlag = readFlag;
  p->type = type;
  std::u16string& text = content.str();
  // The first NUL, looked for four characters at a time.
  size_t nul = 0;
  const size_t n = text.size();
  for (; nul + 4 <= n; nul += 4) {
    uint64_t block;
    memcpy(&block, text.data() + nul, sizeof block);
    if ((block - 0x0001000100010001ULL) & ~block & 0x8000800080008000ULL) break;
  }
  while (nul < n && text[nul] != 0) ++nul;
  if (nul < n) text.resize(nul);
  p->content.str().swap(text);
  p->pageName = pageName;
  m_pending.push_back(std::move(p));
}

std::string CItemStore::BuildRecord(const Pending& item) const {
  std::u16string title = item.title.str();
  std::u16string link = Cut(item.link, ITEM_MAX_KEY_CHARS);
  std::u16string id = Cut(item.id, ITEM_MAX_KEY_CHARS);
  WCHAR converted[32];
  std::u16string date = FormatFeedDate(item.date, converted) ? std::u16string(converted)
                                                              : Cut(item.date, ITEM_MAX_RAW_DATE_CHARS);
  const std::u16string& content = item.content.str();
  uint32_t t = uint32_t((title.size() + 1) * 2);
  uint32_t k = uint32_t((link.size() + 1) * 2);
  uint32_t i = id.empty() ? 0 : uint32_t((id.size() + 1) * 2);
  uint32_t dl = uint32_t((date.size() + 1) * 2);
  uint32_t c = uint32_t((content.size() + 1) * 2);
  uint32_t l = uint32_t(kFixedBytes) + t + k + i + dl + c;
  std::string r;
  r.reserve(4 + l);
  PutU32(r, l);
  PutU32(r, item.type);
  PutU32(r, t);
  PutUnits(r, title);
  PutU16(r, 0);
  PutU16(r, uint16_t(k));
  PutU16(r, uint16_t(i));
  PutUnits(r, link);
  PutU16(r, 0);
  if (i) {
    PutUnits(r, id);
    PutU16(r, 0);
  }
  PutU32(r, dl);
  PutUnits(r, date);
  PutU16(r, 0);
  PutU32(r, item.readFlag);
  PutU32(r, c);
  PutUnits(r, content);
  PutU16(r, 0);
  std::u16string page = Cut(item.pageName, ITEM_PAGE_NAME_CHARS);
  std::string field(80, '\0');
  for (size_t n = 0; n < page.size(); ++n) {
    field[2 * n] = char(page[n] & 0xFF);
    field[2 * n + 1] = char(page[n] >> 8);
  }
  r += field;
  return r;
}

int CItemStore::AppendRecords(const std::vector<const Pending*>& items) {
  std::lock_guard<std::recursive_mutex> hold(PathLock(m_strPath));
  if (m_strPath.IsEmpty()) return 0;
  CFile f;
  if (!f.Open(m_strPath, CFile::modeReadWrite | CFile::modeCreate | CFile::modeNoTruncate | CFile::typeBinary))
    return 0;
  std::string existing;
  ULONGLONG keep = 0;
  std::vector<size_t> corrupt;
  const bool holding = Holding();
  try {
    ULONGLONG len = f.GetLength();
    // The held bytes are taken over: they are no longer known once the
    // records go in, and the bytes after the append replace them.
    if (holding && m_bHeldBytesKnown && len == m_heldBytes.size()) existing.swap(m_heldBytes);
    else ReadWholeFile(f, existing);
    m_bHeldBytesKnown = false;
    // A crash or a full disk during an earlier append may have left half a
    // record; appending after it would hide every later record from readers.
    keep = WholeEnd(existing, &corrupt);
    if (keep < len) f.SetLength(keep);
    f.Seek(LONGLONG(keep), CFile::begin);
  } catch (CFileException* e) {
    e->Delete();
    f.Abort();
    return 0;
  }
  // What lay beyond the whole records, put back if the append fails.
  const std::string tail(existing, size_t(keep));
  // What the file holds once the records are written, for a held file.
  std::string after;
  if (holding) {
    after = std::move(existing);
    after.resize(size_t(keep));
  }
  try {
    std::vector<std::string> records;
    records.reserve(items.size());
    size_t total = 0;
    for (const Pending* item : items) {
      records.push_back(BuildRecord(*item));
      total += records.back().size();
    }
    if (holding) after.reserve(after.size() + total);
    std::string gathered;
    gathered.reserve(total < size_t(ITEM_GATHER_BYTES) ? total : size_t(ITEM_GATHER_BYTES));
    for (const std::string& record : records) {
      if (holding) after += record;
      if (gathered.size() + record.size() >= ITEM_GATHER_BYTES && !gathered.empty()) {
        f.Write(gathered.data(), UINT(gathered.size()));
        gathered.clear();
      }
      if (record.size() < ITEM_GATHER_BYTES) gathered += record;
      else f.Write(record.data(), UINT(record.size()));
    }
    if (!gathered.empty()) f.Write(gathered.data(), UINT(gathered.size()));
  } catch (CFileException* e) {
    e->Delete();
    // Leave the file as it was before this append, torn tail included.
    try {
      f.SetLength(keep);
      if (!tail.empty()) {
        f.Seek(LONGLONG(keep), CFile::begin);
        f.Write(tail.data(), UINT(tail.size()));
      }
    } catch (CFileException* e2) {
      e2->Delete();
    }
    f.Abort();
    return 0;
  }
  // A whole record whose fields do not fit would hide everything after it
  // from readers, the new records too: mark it deleted so that walks skip it
  // by its length (a compaction then drops it).
  try {
    for (size_t pos : corrupt) {
      std::string mark;
      PutU32(mark, ITEM_TYPE_DELETED);
      f.Seek(LONGLONG(pos + 4), CFile::begin);
      f.Write(mark.data(), 4);
      if (holding) after.replace(pos + 4, 4, mark);
    }
    f.Close();
    if (holding) {
      m_heldBytes.swap(after);
      m_bHeldBytesKnown = true;
    }
  } catch (CFileException* e) {
    e->Delete();
    f.Abort();
  }
  return 1;
}

int CItemStore::Commit() {
  std::lock_guard<std::recursive_mutex> hold(PathLock(m_strPath));
  std::vector<const Pending*> items;
  for (auto& p : m_pending) items.push_back(p.get());
  if (!AppendRecords(items)) return 0;
  m_pending.clear();
  ReloadBufferIfHeld();
  return 1;
}

int CItemStore::WriteErrorRecord(LPCWSTR title, LPCWSTR link, LPCWSTR id, LPCWSTR date, DWORD readFlag,
                                 DWORD type, LPCWSTR content, LPCWSTR pageName) {
  std::lock_guard<std::recursive_mutex> hold(PathLock(m_strPath));
  Pending item;
  item.title = title;
  item.link = link;
  item.id = id;
  item.date = date;
  item.readFlag = readFlag;
  item.type = type;
  item.content = content;
  item.pageName = pageName;
  if (!AppendRecords({&item})) return 0;
  if (m_bIndexBuilt) {
    if (int(m_index.size()) > m_nKeptCount && !m_index.empty()) DeleteItem(CString(m_index[0].second));
    InsertKey(date, link);
  }
  ReloadBufferIfHeld();
  return 1;
}

void CItemStore::Rewrite() {
  if (!m_bHasBuffer) return;
  std::lock_guard<std::recursive_mutex> hold(PathLock(m_strPath));
  // Compact what the file holds now, not what was read earlier: another
  // thread may have changed read states or appended since.
  std::string scratch;
  const std::string* file = FileBytes(scratch);
  if (!file) return;
  const std::string& d = *file;
  std::string out;
  out.reserve(d.size());
  size_t end = WholeEnd(d);
  ForEachRecord(d, 0, [&](size_t pos, uint32_t type) {
    if (pos >= end) return false;
    size_t total = size_t(4 + uint64_t(U32(d, pos)));
    if (type != ITEM_TYPE_DELETED) out.append(d, pos, total);
    return true;
  });
  if (out.size() != d.size()) {
    std::string target = qk::HostPath(m_strPath);
    std::string temp = target + ".tmp~";
    FILE* f = fopen(temp.c_str(), "wb");
    if (!f) return;
    bool ok = fwrite(out.data(), 1, out.size(), f) == out.size();
    ok = fflush(f) == 0 && ok;
    ok = fclose(f) == 0 && ok;
    if (!ok || std::rename(temp.c_str(), target.c_str()) != 0) {
      std::remove(temp.c_str());
      m_bHeldBytesKnown = false;
      return;
    }
    if (Holding()) {
      m_heldBytes = out;
      m_bHeldBytesKnown = true;
    }
  }
  m_buffer.swap(out);
  m_nCursorNumber = -1;
}

void CItemStore::ClearKeyLists() {
  m_knownLinks.RemoveAll();
  m_knownTitles.RemoveAll();
  m_knownIds.RemoveAll();
  m_linkSet.clear();
  m_titleSet.clear();
  m_idSet.clear();
  m_keylessTitleSet.clear();
  m_keylessContentSet.clear();
  m_bKeysLoaded = false;
}

void CItemStore::LoadKeyLists() {
  std::lock_guard<std::recursive_mutex> hold(PathLock(m_strPath));
  ClearKeyLists();
  std::string temp;
  const std::string* file = m_bHasBuffer ? &m_buffer : FileBytes(temp);
  const std::string& d = file ? *file : temp;
  CItemRecord rec;
  ForEachRecord(d, 0, [&](size_t pos, uint32_t type) {
    if (IsDeletedType(type)) return true;
    if (!DecodeRecord(d, pos, &rec, nullptr, false)) return false;
    m_knownLinks.AddTail(rec.link);
    m_knownTitles.AddTail(rec.title);
    m_knownIds.AddTail(rec.id);
    m_linkSet.insert(rec.link.str());
    m_titleSet.insert(rec.title.str());
    m_idSet.insert(rec.id.str());
    if (rec.link.IsEmpty()) m_keylessTitleSet.insert(rec.title.str());
    if (rec.link.IsEmpty() && rec.title.IsEmpty() && rec.id.IsEmpty()) {
      CItemRecord whole;
      if (DecodeRecord(d, pos, &whole, nullptr)) m_keylessContentSet.insert(WithoutImageReferences(whole.content).str());
    }
    return true;
  });
  m_bKeysLoaded = true;
}

int CItemStore::IsKnownItem(LPCWSTR link, LPCWSTR title, LPCWSTR id) {
  if (!m_bKeysLoaded) LoadKeyLists();
  std::u16string l(link ? link : u""), t(title ? title : u""), i(id ? id : u"");
  if (!i.empty()) return m_idSet.count(i) ? 1 : 0;
  if (!m_linkSet.count(l)) return 0;
  return t.empty() || m_titleSet.count(t) ? 1 : 0;
}

int CItemStore::IsKnownKeylessItem(LPCWSTR title) {
  if (!m_bKeysLoaded) LoadKeyLists();
  return m_keylessTitleSet.count(std::u16string(title ? title : u"")) ? 1 : 0;
}

int CItemStore::IsKnownKeylessContent(LPCWSTR content) {
  if (!m_bKeysLoaded) LoadKeyLists();
  return m_keylessContentSet.count(WithoutImageReferences(CString(content ? content : u"")).str()) ? 1 : 0;
}

int CItemStore::SetItemProperty(LPCWSTR link, LPCWSTR name, DWORD value) {
  std::lock_guard<std::recursive_mutex> hold(PathLock(m_strPath));
  CString wantLink(link), property(name);
  bool isType = property.CompareNoCase(u"Type") == 0;
  bool isFlag = property.CompareNoCase(u"ReadFlag") == 0;
  std::string d;
  std::vector<std::pair<size_t, uint32_t>> writes;
  if ((isType || isFlag) && ReadFileBytes(d)) {
    CItemRecord rec;
    ForEachRecord(d, 0, [&](size_t pos, uint32_t type) {
      if (IsDeletedType(type)) return true;
      size_t flagAt = 0;
      if (!DecodeRecord(d, pos, &rec, &flagAt, false)) return false;
      if (!wantLink.IsEmpty() && rec.link != wantLink) return true;
      if (isType) {
        if (type != value) writes.push_back({pos + 4, value});
        // Without a link only the record found is meant: every item
        // without a link would otherwise change with it.
        return !wantLink.IsEmpty();
      }
      uint32_t from = rec.readFlag, to = value;
      if (from == to) return true;
      if (from == ITEM_READ_UNREAD && to == ITEM_READ_MARK_FETCHED) to = ITEM_READ_UNREAD_FETCHED;
      bool allowed = (from == 0 && to == 2) || (from == 2 && to == 0) || (from == 1 && to == 3) ||
                     (from == 3 && to == 1) || (from == 0 && to == 1 && value == ITEM_READ_MARK_FETCHED);
      if (allowed) writes.push_back({flagAt, to});
      return true;
    });
  }
  int changed = 0;
  if (!writes.empty()) {
    CFile f;
    if (f.Open(m_strPath, CFile::modeReadWrite | CFile::modeNoTruncate | CFile::typeBinary)) {
      try {
        for (auto& w : writes) {
          std::string bytes;
          PutU32(bytes, w.second);
          f.Seek(LONGLONG(w.first), CFile::begin);
          f.Write(bytes.data(), 4);
          PatchHeldBytes(w.first, bytes);
          changed = 1;
        }
        f.Close();
      } catch (CFileException* e) {
        e->Delete();
        f.Abort();
        m_bHeldBytesKnown = false;
      }
    } else {
      m_bHeldBytesKnown = false;
    }
  }
  ReloadBufferIfHeld();
  ResetRecord();
  return changed;
}

namespace {

// The image names that a record's content references, each as often as it
// is referenced.
template <class F>
void ForEachImageName(const CString& content, F f) {
  const std::u16string lower = [&] {
    std::u16string l = content.str();
    for (char16_t& c : l) {
      if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
    }
    return l;
  }();
  CImageScanner scanner(content.str(), lower);
  ImageReference found;
  while (scanner.Next(found)) {
    if (!found.ref.IsEmpty()) f(found.ref);
  }
}

CString BaseName(const CString& name) {
  int dot = name.ReverseFind(u'.');
  return dot >= 0 ? name.Left(dot) : name;
}

}  // namespace

int CItemStore::DeleteRecordsAt(const std::string& d, const std::vector<size_t>& doomed) {
  if (doomed.empty()) return 0;
  int slash = m_strPath.ReverseFind(u'\\');
  CString folder = slash >= 0 ? m_strPath.Left(slash) : CString();
  CString storeName = m_strPath.Mid(slash + 1);
  int dot = storeName.Find(u'.');
  CString prefix = (dot >= 0 ? storeName.Left(dot) : storeName) + u"-";
  std::unordered_set<size_t> doomedSet(doomed.begin(), doomed.end());
  // What the records that stay hold: the images their content names and
  // their pages. A name written by a feed may be any of these; it is never
  // deleted for another record.
  std::unordered_map<std::u16string, int> referenced;
  std::unordered_set<std::u16string> keptPages;
  std::vector<CItemRecord> going;
  CItemRecord rec;
  ForEachRecord(d, 0, [&](size_t pos, uint32_t type) {
    if (IsDeletedType(type)) return true;
    if (!DecodeRecord(d, pos, &rec, nullptr)) return false;
    if (doomedSet.count(pos)) {
      going.push_back(rec);
      return true;
    }
    if (!rec.pageName.IsEmpty()) keptPages.insert(BaseName(rec.pageName).str());
    ForEachImageName(rec.content, [&](const CString& ref) { ++referenced[ref.str()]; });
    return true;
  });
  std::unordered_set<std::u16string> deleted;
  for (const CItemRecord& r : going) {
    if (r.link == ERROR_ITEM_LINK) continue;
    // The item's page and thumbnail: the page name's base followed by an
    // extension, nothing else that merely starts with the same characters.
    const CString& page = r.pageName;
    CString base = BaseName(page);
    if (!page.IsEmpty() && !base.IsEmpty() && !keptPages.count(base.str())) {
      std::vector<CString> names;
      CFileFinder finder;
      if (finder.FindFile(folder + u"\\" + base + u".*")) {
        BOOL more;
        do {
          more = finder.FindNextFile();
          CString name = finder.GetFileName();
          if (name.GetLength() > base.GetLength() && wcsncmp(name, base, size_t(base.GetLength())) == 0 &&
              name[base.GetLength()] == u'.' && !finder.IsDirectory())
            names.push_back(name);
        } while (more);
      }
      for (const CString& name : names) DeleteFileW(folder + u"\\" + name);
    }
    // Images the parser saved for the item: only bare file names of this
    // channel ("Ch007-<digits>..."), that no record that stays references
    // and that are no such record's page or thumbnail.
    ForEachImageName(r.content, [&](const CString& ref) {
      bool bare = ref.FindOneOf(u"\\/:*?\"<>|") < 0 && ref.Find(u"..") < 0;
      bool ours = ref.GetLength() > prefix.GetLength() && _wcsnicmp(ref, prefix, size_t(prefix.GetLength())) == 0 &&
                  ref[prefix.GetLength()] >= u'0' && ref[prefix.GetLength()] <= u'9';
      if (!bare || !ours || referenced.count(ref.str()) || keptPages.count(BaseName(ref).str())) return;
      if (!deleted.insert(ref.str()).second) return;
      CString path = folder + u"\\" + ref;
      if (path.GetLength() < MAX_PATH) DeleteFileW(path);
    });
  }
  int changed = 0;
  CFile f;
  if (f.Open(m_strPath, CFile::modeReadWrite | CFile::modeNoTruncate | CFile::typeBinary)) {
    try {
      for (size_t pos : doomed) {
        if (d.size() < pos + 8 || U32(d, pos + 4) == ITEM_TYPE_DELETED) continue;
        std::string mark;
        PutU32(mark, ITEM_TYPE_DELETED);
        f.Seek(LONGLONG(pos + 4), CFile::begin);
        f.Write(mark.data(), 4);
        PatchHeldBytes(pos + 4, mark);
        changed = 1;
      }
      f.Close();
    } catch (CFileException* e) {
      e->Delete();
      f.Abort();
      m_bHeldBytesKnown = false;
    }
  } else {
    m_bHeldBytesKnown = false;
  }
  ReloadBufferIfHeld();
  ResetRecord();
  return changed;
}

int CItemStore::DeleteItem(LPCWSTR link) {
  std::lock_guard<std::recursive_mutex> hold(PathLock(m_strPath));
  CString wantLink(link);
  std::string scratch;
  const std::string* file = FileBytes(scratch);
  if (!file) return 0;
  const std::string& d = *file;
  // Every live record with the link; without a link only the first record
  // that has none.
  std::vector<size_t> doomed;
  CItemRecord rec;
  ForEachRecord(d, 0, [&](size_t pos, uint32_t type) {
    if (IsDeletedType(type)) return true;
    if (!DecodeRecord(d, pos, &rec, nullptr, false)) return false;
    if (rec.link != wantLink) return true;
    doomed.push_back(pos);
    return !wantLink.IsEmpty();
  });
  if (doomed.empty()) {
    ResetRecord();
    return 0;
  }
  // The deletion writes into the held bytes: it works on its own copy.
  const std::string bytes(d);
  return DeleteRecordsAt(bytes, doomed);
}

int CItemStore::TrimItems(int oldestOnly) {
  std::lock_guard<std::recursive_mutex> hold(PathLock(m_strPath));
  if (oldestOnly) {
    int count = int(m_index.size());
    if (count <= m_nKeptCount) return 0;
    return DeleteItem(CString(m_index[0].second));
  }
  // The file as it is now, every live item of it: an index of bounded size
  // or refused dates must never let items escape trimming.
  std::string scratch;
  const std::string* file = FileBytes(scratch);
  if (!file) return 0;
  const std::string& d = *file;
  struct Entry {
    std::u16string date;
    size_t pos;
  };
  std::vector<Entry> items;
  std::u16string newest;
  CItemRecord rec;
  ForEachRecord(d, 0, [&](size_t pos, uint32_t type) {
    if (IsDeletedType(type)) return true;
    if (!DecodeRecord(d, pos, &rec, nullptr, false)) return false;
    if (type >= ITEM_TYPE_ERROR || rec.link == ERROR_ITEM_LINK) return true;
    const std::u16string& date = rec.date.str();
    // A converted date: "yyyy-mm-dd hh:mm:ss".
    bool converted = date.size() == 19;
    for (size_t i = 0; i < date.size() && converted; ++i) {
      char16_t c = date[i];
      if (i == 4 || i == 7) converted = c == u'-';
      else if (i == 10) converted = c == u' ';
      else if (i == 13 || i == 16) converted = c == u':';
      else converted = c >= u'0' && c <= u'9';
    }
    if (converted && date > newest) newest = date;
    items.push_back({converted ? date : newest, pos});
    return true;
  });
  if (int(items.size()) <= m_nKeptCount) return 0;
  std::stable_sort(items.begin(), items.end(), [](const Entry& a, const Entry& b) { return a.date < b.date; });
  std::vector<size_t> doomed;
  for (size_t i = 0; i < items.size() - size_t(m_nKeptCount < 0 ? 0 : m_nKeptCount); ++i) doomed.push_back(items[i].pos);
  std::sort(doomed.begin(), doomed.end());
  const std::string bytes(d);
  DeleteRecordsAt(bytes, doomed);
  return 1;
}

int SetItemType(CItemStore* store, LPCWSTR link, DWORD value) {
  return store ? store->SetItemProperty(link, u"Type", value) : 0;
}

int SetItemReadState(CItemStore* store, LPCWSTR link, DWORD value) {
  return store ? store->SetItemProperty(link, u"ReadFlag", value) : 0;
}

void SetItemReadFlag(CItemStore* store, DWORD value) {
  if (store) store->SetItemProperty(u"", u"ReadFlag", value);
}

CString& PopStringListHead(CStringList& list, CString& out) {
  if (list.IsEmpty()) out.Empty();
  else out = list.RemoveHead();
  return out;
}
