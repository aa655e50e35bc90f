#include "quillet/screens/channel_files.h"

#include <vector>

#include "common/file_finder.h"
#include "common/settings.h"
#include "quillet/refresh/refresh_state.h"

namespace {

BOOL IsDigit(WCHAR c) { return c >= u'0' && c <= u'9'; }

// Deletes the channel's files, leaving those whose full path contains one
// of the kept markers.
int DeleteFilesOf(int channel, const std::vector<CString>& kept) {
  if (channel < 0) return 0;
  const CString folder = ChannelDataFolder();
  CString pattern;
  pattern.Format(u"%s\\Ch%03d*.*", folder.GetString(), channel);
  // The names are gathered first: the search is not disturbed by deletions.
  std::vector<CString> names;
  CFileFinder finder;
  if (finder.FindFile(pattern)) {
    BOOL more;
    do {
      more = finder.FindNextFile();
      CString name = finder.GetFileName();
      if (!finder.IsDirectory() && IsChannelFileName(name, channel)) names.push_back(name);
    } while (more);
  }
  int deleted = 0;
  for (const CString& name : names) {
    CString path = folder + u"\\" + name;
    bool keep = false;
    for (const CString& marker : kept) keep = keep || path.Find(marker) >= 0;
    if (!keep && ::DeleteFileW(path)) ++deleted;
  }
  return deleted;
}

}  // namespace

BOOL IsChannelFileName(LPCWSTR name, int channel) {
  if (!name || channel < 0) return FALSE;
  CString prefix;
  prefix.Format(u"Ch%03d", channel);
  CString text(name);
  if (text.GetLength() < prefix.GetLength() || text.Left(prefix.GetLength()).CompareNoCase(prefix) != 0) return FALSE;
  return text.GetLength() == prefix.GetLength() || !IsDigit(text[prefix.GetLength()]);
}

int DeleteChannelFiles(int channel) { return DeleteFilesOf(channel, {}); }

int DeleteChannelItemFiles(int channel) {
  return DeleteFilesOf(channel, {CString(u".tpl"), CString(u"-Fav.ico"), CString(u"-Logo.img")});
}

CString ChannelListFile() {
  WCHAR root[MAX_PATH] = {0};
  GetDataRoot(root);
  CString folder(root);
  folder += u"\\ChannelData";
  ::CreateDirectoryW(folder, nullptr);
  CString path = folder + u"\\Channels.opml";
  if (FileAccess(path)) return path;
  WCHAR program[MAX_PATH] = {0};
  GetProgramFolder(program);
  CString programData(program);
  programData += u"\\ChannelData";
  ::CreateDirectoryW(programData, nullptr);
  return programData + u"\\Channels.opml";
}
