#include "quillet/screens/data_move.h"

#include <mutex>
#include <vector>

#include "common/file_finder.h"
#include "common/log.h"
#include "common/settings.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/screens/channel_files.h"

namespace {

constexpr char16_t kListName[] = u"Channels.opml";

// The files (not folders) of a folder, the channel list's file left out.
std::vector<CString> FilesOf(const CString& folder) {
  std::vector<CString> names;
  CFileFinder finder;
  if (!finder.FindFile(folder + u"\\*.*")) return names;
  BOOL more;
  do {
    more = finder.FindNextFile();
    CString name = finder.GetFileName();
    if (name.IsEmpty() || finder.MatchesMask(FILE_ATTRIBUTE_DIRECTORY)) continue;
    if (name.CompareNoCase(kListName) == 0) continue;
    names.push_back(name);
  }
  while (more);
  return names;
}

// TRUE when two device paths name one file (names match without regard
// to case on the device).
BOOL SameFile(const CString& a, const CString& b) { return a.CompareNoCase(b) == 0; }

}  // namespace

BOOL MoveChannelData(LPCWSTR oldRoot, LPCWSTR newRoot, COpmlXML* list, const std::function<void()>& switchSettings) {
  CWaitCursor wait;
  const CString oldData = CString(oldRoot) + u"\\ChannelData";
  const CString newData = CString(newRoot) + u"\\ChannelData";
  const CString newList = newData + u"\\" + kListName;
  ::CreateDirectoryW(newData, nullptr);

  std::unique_lock<std::recursive_mutex> hold;
  if (list) {
    hold = std::unique_lock<std::recursive_mutex>(list->Lock());
    // Edits held back by a save batch belong to the list being moved.
    list->SavePending();
  }
  // The list's file: the open document's, else the one the program reads.
  CString oldList = list ? list->GetPath() : CString();
  if (oldList.IsEmpty()) oldList = ChannelListFile();

  // 1. Copies.
  const std::vector<CString> names = FilesOf(oldData);
  std::vector<CString> copied;
  BOOL ok = TRUE;
  for (const CString& name : names) {
    if (!::CopyFileW(oldData + u"\\" + name, newData + u"\\" + name, FALSE)) {
      WriteLog(CString(u"MoveChannelData: cannot copy ") + name);
      ok = FALSE;
      break;
    }
    copied.push_back(name);
  }
  const BOOL listMoves = FileAccess(oldList) && !SameFile(oldList, newList);
  if (ok && listMoves && !::CopyFileW(oldList, newList, FALSE)) {
    WriteLog(u"MoveChannelData: cannot copy the channel list");
    ok = FALSE;
  }
  if (!ok) {
    // The old place stays the one in use, whole; the copies go.
    for (const CString& name : copied) ::DeleteFileW(newData + u"\\" + name);
    if (listMoves) ::DeleteFileW(newList);
    return FALSE;
  }

  // 2. The switch, 3. the open list follows.
  switchSettings();
  if (list) list->SetPath(newList, 1);
  if (hold.owns_lock()) hold.unlock();

  // 4. The old copies go.
  for (const CString& name : copied) ::DeleteFileW(oldData + u"\\" + name);
  if (listMoves) ::DeleteFileW(oldList);
  return TRUE;
}
