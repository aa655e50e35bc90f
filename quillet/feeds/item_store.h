// A channel's item store "Ch%03d.bin": a plain sequence of length-prefixed
// records, no header, little-endian integers, UTF-16LE texts stored with
// their terminator (their byte counts include it):
//
//   +0   4  L, the bytes that follow this field (the next record is at 4 + L)
//   +4   4  type: bit 0 thumbnail, bit 1 page file, 0x10000 error item,
//           0x80000000 deleted (a high half of 0x8000 reads as deleted)
//   +8   4  T, title bytes, then the title
//        2  K, link bytes; 2  I, id bytes (0: no id) -- 16-bit counts
//        K  link (the item's key); I  id
//        4  D, date bytes, then the date text
//        4  read flag: 0/1 unread, 2/3 read (1 and 3 once the full text ran)
//        4  C, content bytes, then the content (HTML)
//        80 page name: at most 39 characters, zero-filled
//
// L = 104 + T + K + I + D + C. Links and ids hold at most 32,766 characters.
//
// Three threads (refresh, full-text manager, user interface) use stores of
// the same file: every operation holds a process-wide lock of the store's
// path, so a compaction never writes back a stale buffer and a property
// write never lands in a record that moved. An append first cuts a torn last
// record left by a crash, and a failed append leaves the file as it was.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "framework/afx.h"

#define ITEM_TYPE_THUMBNAIL 0x00000001u
#define ITEM_TYPE_PAGE 0x00000002u
#define ITEM_TYPE_ERROR 0x00010000u
#define ITEM_TYPE_DELETED 0x80000000u

#define ITEM_READ_UNREAD 0
#define ITEM_READ_UNREAD_FETCHED 1
#define ITEM_READ_READ 2
#define ITEM_READ_READ_FETCHED 3
// The read-flag value that marks an unread item as fetched (0 becomes 1).
#define ITEM_READ_MARK_FETCHED 9999

// The link of a channel's error item.
#define ERROR_ITEM_LINK u"http://127.0.0.1/lasterror"

// Longest link or id a record holds, in characters.
#define ITEM_MAX_KEY_CHARS 32766
// Longest date text kept when the feed's date cannot be converted.
#define ITEM_MAX_RAW_DATE_CHARS 127
// Characters of the page name a record holds.
#define ITEM_PAGE_NAME_CHARS 39
// Records are gathered in a buffer of this size before they are written.
#define ITEM_GATHER_BYTES 32768

// One record as read.
struct CItemRecord {
  CString title;
  CString link;
  CString date;
  CString content;
  DWORD readFlag = 0;
  DWORD type = 0;
  CString pageName;
  CString id;
  void Clear() { *this = CItemRecord(); }
};

class CItemStore {
 public:
  // With readKeptCount the kept count is "Settings" ArticlesNumber (default
  // 50, at most 500); without it 0.
  explicit CItemStore(int readKeptCount);
  virtual ~CItemStore();
  CItemStore(const CItemStore&) = delete;
  CItemStore& operator=(const CItemStore&) = delete;

  void Open(LPCWSTR path, int buildIndex, int loadWholeFile);
  CString GetPath() const { return m_strPath; }
  void LoadFile();

  // Reads the n-th live record (from 0) into the current record.
  int ReadRecord(int n);
  int MoveNext();
  void ResetRecord();
  int FindRecord(LPCWSTR link, LPCWSTR title);

  int InsertKey(LPCWSTR date, LPCWSTR link);
  void AddPendingItem(LPCWSTR title, LPCWSTR link, LPCWSTR id, LPCWSTR date, DWORD readFlag, DWORD type,
                      LPCWSTR content, LPCWSTR pageName);
  // The same with the content handed over rather than copied (it is the
  // longest text of an item); it ends at its first NUL as a text given as
  // a pointer does.
  void AddPendingItem(LPCWSTR title, LPCWSTR link, LPCWSTR id, LPCWSTR date, DWORD readFlag, DWORD type,
                      CString&& content, LPCWSTR pageName);
  int Commit();
  int WriteErrorRecord(LPCWSTR title, LPCWSTR link, LPCWSTR id, LPCWSTR date, DWORD readFlag, DWORD type,
                       LPCWSTR content, LPCWSTR pageName);
  // Compacts the file: drops records marked deleted and a torn last record.
  void Rewrite();
  void LoadKeyLists();
  int IsKnownItem(LPCWSTR link, LPCWSTR title, LPCWSTR id);
  // 1 when a stored item without a link has that title.
  int IsKnownKeylessItem(LPCWSTR title);
  // 1 when a stored item without a link, title or id has that content
  // (image references aside, as WithoutImageReferences compares).
  int IsKnownKeylessContent(LPCWSTR content);
  // name is "Type" or "ReadFlag". An empty link sets the read flag of every
  // record, but the type only of the first record without a link.
  int SetItemProperty(LPCWSTR link, LPCWSTR name, DWORD value);
  // Marks the records with that link deleted (an empty link: the first
  // record without one) and deletes the files they own: the page, its
  // thumbnail and the images their content names that no other live record
  // names and that are no other record's page.
  int DeleteItem(LPCWSTR link);
  // Deletes the oldest live items beyond the kept count. Items are ordered
  // by date; an item whose date could not be converted counts as dated like
  // the newest item stored before it.
  int TrimItems(int oldestOnly);

  // The current record and its number among the live records (-1: none).
  const CItemRecord& Current() const { return m_current; }
  int GetCurrentNumber() const { return m_nCurrent; }
  int GetKeptCount() const { return m_nKeptCount; }
  void SetKeptCount(int count) { m_nKeptCount = count; }
  int GetIndexCount() const { return int(m_index.size()); }
  CString GetIndexDate(int i) const { return CString(m_index[size_t(i)].first); }
  CString GetIndexLink(int i) const { return CString(m_index[size_t(i)].second); }
  // Entries the index holds at most: 499, or the kept count plus one.
  int GetIndexCapacity() const;
  BOOL HasBuffer() const { return m_bHasBuffer; }
  const std::string& GetBuffer() const { return m_buffer; }
  const CStringList& GetKnownLinks() const { return m_knownLinks; }

  // The process-wide lock of a store path (case-blind, as the file system).
  static std::recursive_mutex& PathLock(const CString& path);

  // Holds the store's file (its path lock) for the calling thread until
  // ReleaseFile, an Open of another path or the store's end. No other
  // thread's store operation runs on the file meanwhile, so the bytes this
  // store read or wrote last stand for the file and are not read again: a
  // sequence of operations on one file (a refresh's append, trim and
  // compaction) reads it once.
  void HoldFile();
  void ReleaseFile();
  // Counts the live records that a walk with MoveNext reaches: the items
  // (type below ITEM_TYPE_ERROR) and, of them, those read.
  void CountItems(int& itemCount, int& readCount);

 private:
  struct Pending {
    CString title, link, id, date, content, pageName;
    DWORD readFlag, type;
  };
  std::string BuildRecord(const Pending& item) const;
  int AppendRecords(const std::vector<const Pending*>& items);
  bool ReadFileBytes(std::string& out) const;
  // The file's bytes: the held ones, lent, while the file is held, else
  // read into scratch; null when the file cannot be read.
  const std::string* FileBytes(std::string& scratch) const;
  void ReloadBufferIfHeld();
  void ClearKeyLists();
  // Deletes the records that start at those offsets of d, the file's
  // current bytes, with their files; 1 when one was marked.
  int DeleteRecordsAt(const std::string& d, const std::vector<size_t>& doomed);

  std::vector<std::unique_ptr<Pending>> m_pending;
  CStringList m_knownLinks, m_knownTitles, m_knownIds;
  std::unordered_set<std::u16string> m_linkSet, m_titleSet, m_idSet, m_keylessTitleSet, m_keylessContentSet;
  bool m_bKeysLoaded = false;
  std::string m_buffer;
  bool m_bHasBuffer = false;
  std::vector<std::pair<std::u16string, std::u16string>> m_index;  // date, link; sorted by date
  bool m_bIndexBuilt = false;
  CString m_strPath;
  int m_nCurrent = -1;
  int m_nKeptCount = 0;
  CItemRecord m_current;
  // Where the walk of the buffer last stood, so that MoveNext is linear.
  int m_nCursorNumber = -1;
  size_t m_nCursorOffset = 0;
  // The file held by HoldFile and, when known, its bytes.
  bool Holding() const { return m_fileHold.owns_lock() && m_strHeldPath == m_strPath; }
  // Records what was written at offset into the held bytes.
  void PatchHeldBytes(size_t offset, const std::string& bytes);
  std::unique_lock<std::recursive_mutex> m_fileHold;
  CString m_strHeldPath;
  mutable std::string m_heldBytes;
  mutable bool m_bHeldBytesKnown = false;
};

// The type of the records with that link (0x80000000 deletes); 1 when one changed.
int SetItemType(CItemStore* store, LPCWSTR link, DWORD value);
// The read flag of the records with that link; 1 when one changed.
int SetItemReadState(CItemStore* store, LPCWSTR link, DWORD value);
// The read flag of every record of the store (the read-state commands set
// 2 then 3 to mark all read, 0 then 1 to mark all unread).
void SetItemReadFlag(CItemStore* store, DWORD value);
// Removes the first text of the list into out and returns it (empty for an
// empty list).
CString& PopStringListHead(CStringList& list, CString& out);

// The settings the store and the parser read: "Settings" ArticlesNumber
// (default 50, at most 500) and DownloadImage (default 1).
int GetArticlesNumberSetting();
int GetDownloadImageSetting();
