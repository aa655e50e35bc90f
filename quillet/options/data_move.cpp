#include "quillet/options/data_move.h"

#include <mutex>
#include <vector>

#include "common/file_finder.h"
#include "common/log.h"
#include "common/settings.h"
#include "kernel/fs.h"
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

// Whether anything is at the device path (a file or a folder).
bool Exists(const CString& path) { return ::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

BOOL MoveChannelData(LPCWSTR oldRoot, LPCWSTR newRoot, COpmlXML* list, const std::function<void()>& switchSettings) {
  CWaitCursor wait;
  const CString oldData = CString(oldRoot) + u"\\ChannelData";
  const CString newData = CString(newRoot) + u"\\ChannelData";
  const CString newList = newData + u"\\" + kListName;
  const BOOL madeFolder = !Exists(newData) && ::CreateDirectoryW(newData, nullptr);

  std::unique_lock<std::recursive_mutex> hold;
  if (list) {
    hold = std::unique_lock<std::recursive_mutex>(list->Lock());
    // Edits held back by a save batch belong to the list being moved: they
    // are written before the list is copied, or nothing moves.
    if (!list->SavePending()) {
      WriteLog(u"MoveChannelData: cannot save the channel list");
      if (madeFolder) ::RemoveDirectoryW(newData);
      return FALSE;
    }
  }
  // The list's file: the open document's, else the one the program reads.
  CString oldList = list ? list->GetPath() : CString();
  if (oldList.IsEmpty()) oldList = ChannelListFile();

  // A folder reached under two names (through a link) is one place: its
  // files are there already, and a copy onto itself would only destroy them.
  const bool oneFolder = qk::SameHostFile(oldData, newData);

  // 1. Copies. A file already at its target under another name (a link to
  // it) stays as it is; a file the target holds already is replaced.
  // Only the files this move made are removed when it fails.
  const std::vector<CString> names = oneFolder ? std::vector<CString>() : FilesOf(oldData);
  std::vector<CString> copied, made;
  BOOL ok = TRUE;
  auto copy = [&](const CString& from, const CString& to) {
    const bool existed = Exists(to);
    if (::CopyFileW(from, to, FALSE)) {
      if (!existed) made.push_back(to);
      return true;
    }
    // A copy cut short (a full card) leaves part of a file behind.
    if (!existed) ::DeleteFileW(to);
    return false;
  };
  for (const CString& name : names) {
    const CString from = oldData + u"\\" + name, to = newData + u"\\" + name;
    if (qk::SameHostFile(from, to)) continue;
    if (!copy(from, to)) {
      WriteLog(CString(u"MoveChannelData: cannot copy ") + name);
      ok = FALSE;
      break;
    }
    copied.push_back(name);
  }
  const BOOL listMoves = ok && FileAccess(oldList) && !qk::SameHostFile(oldList, newList);
  if (listMoves && !copy(oldList, newList)) {
    WriteLog(u"MoveChannelData: cannot copy the channel list");
    ok = FALSE;
  }
  if (!ok) {
    // The old place stays the one in use, whole; what the move made goes.
    for (const CString& path : made) ::DeleteFileW(path);
    if (madeFolder) ::RemoveDirectoryW(newData);
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
