// Feeds arbitrary bytes to the wizard's OPML import and to the channel list
// as the screens keep it. The bytes are a picked OPML file: the import
// page's own reader (COpmlOutlineReader with COpmlDisplayDlg::ReadOutline)
// reads it, and every feed it offers goes into the channel list under the
// category the page gives it (COpmlDisplayDlg::CategoryOf), as the page's
// "add entire OPML channels" does. The same bytes are then the channel list
// "Channels.opml" itself, which the category screens edit: categories
// renamed and removed (with their channels' files), channels moved.
//
// Checks: no crash and no hang; every feed address offered is non-empty;
// every channel added is in the list and the list reads back from its file
// with them; nothing is written beside the device root, and a removed
// category deletes only files of its channels.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "../feeds/fuzz_device.h"
#include "kernel/kernel.h"
#include "common/settings.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/screens/channel_files.h"
#include "quillet/new_channel/opml_display_dlg.h"

namespace fs = std::filesystem;

namespace {

const char16_t kPicked[] = u"\\My Documents\\Picked.opml";

std::string g_root, g_outside;
CString g_list;

// The channel list before the import: two categories, three channels.
const char kList[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>Channels</title></head>"
    "<body nextID=\"103\"><outline text=\"Tech\" type=\"rss\" uniqueID=\"90\">"
    "<outline text=\"Subscribed One\" type=\"rss\" uniqueID=\"100\" xmlUrl=\"http://127.0.0.1/feed/1\"/></outline>"
    "<outline text=\"Others\" type=\"rss\" uniqueID=\"91\">"
    "<outline text=\"Old Favourite\" type=\"rss\" uniqueID=\"101\" xmlUrl=\"http://127.0.0.1/feed/2\"/></outline>"
    "<outline text=\"Loose\" type=\"rss\" uniqueID=\"102\" xmlUrl=\"http://127.0.0.1/feed/3\"/>"
    "</body></opml>\n";

// The files beside the root and the root's own: what a run may not touch.
std::set<std::string> Listing(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    std::string path = it->path().string();
    if (path.compare(0, g_root.size(), g_root) == 0) {
      it.disable_recursion_pending();
      continue;
    }
    names.insert(path);
  }
  return names;
}
std::set<std::string> g_before;

void CheckOutside() {
  if (Listing(g_outside) != g_before) {
    fprintf(stderr, "a file was written or removed beside the device root\n");
    abort();
  }
}

// The channel URLs a list file holds, read afresh.
std::vector<CString> g_read;
void CollectUrl(void*, LPCWSTR, LPCWSTR name, LPCWSTR value) {
  if (name && CString(name) == u"xmlUrl") g_read.push_back(value);
}
std::vector<CString> ReadBack() {
  g_read.clear();
  COpmlXML again(&CollectUrl, nullptr, 0);
  if (!again.LoadAndWalk(g_list)) {
    fprintf(stderr, "the channel list no longer reads\n");
    abort();
  }
  return g_read;
}

std::set<int> g_removed;
int RemoveFiles(int channel) {
  g_removed.insert(channel);
  DeleteChannelFiles(channel);
  return 0;
}

CString ChannelFile(int channel) {
  CString list = ChannelListFile();
  CString path;
  path.Format(u"%s\\Ch%03d.bin", list.Left(list.ReverseFind(u'\\')).GetString(), channel);
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_root = fuzzdev::MakeDeviceRoot("opml");
  g_outside = fs::path(g_root).parent_path().string();
  // A file beside the root that must stay as it is.
  FILE* f = fopen((g_outside + "/beside.txt").c_str(), "wb");
  if (f) fclose(f);
  fs::create_directories(g_root + "/My Documents");
  fs::create_directories(g_root + "/Program Files/Quillet/ChannelData");
  g_list = ChannelListFile();
  g_before = Listing(g_outside);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The import: the picked file read by the page's reader, every feed added.
  fuzzdev::WriteInput(g_list, reinterpret_cast<const uint8_t*>(kList), sizeof kList - 1);
  fuzzdev::WriteInput(kPicked, data, size);
  {
    COpmlXML list(nullptr, nullptr, 0);
    if (!list.LoadAndWalk(g_list)) abort();
    COpmlDisplayDlg page(kPicked, nullptr);
    page.SetChannelDocument(&list);
    COpmlOutlineReader reader(&page);
    if (reader.LoadAndWalk(kPicked)) {
      std::vector<CString> added;
      for (const CString& url : page.GetUrls()) {
        if (url.IsEmpty()) abort();
        CString category = page.CategoryOf(url);
        if (category.IsEmpty()) abort();
        if (list.AddChannel(category, url, url) > 0) added.push_back(url);
      }
      for (const CString& url : added)
        if (!list.HasChannel(url)) abort();
      std::vector<CString> onDisk = ReadBack();
      for (const CString& url : added)
        if (std::find(onDisk.begin(), onDisk.end(), url) == onDisk.end()) abort();
    }
  }
  CheckOutside();

  // The same bytes as the channel list the screens edit.
  fuzzdev::WriteInput(g_list, data, size);
  // A file of each channel the list may hold, and of one it may not: a
  // removed category deletes its channels' files and no other.
  for (int channel : {100, 101, 102, 999}) fuzzdev::WriteInput(ChannelFile(channel), data, size > 4 ? 4 : size);
  {
    COpmlXML list(nullptr, nullptr, 0);
    if (list.LoadAndWalk(g_list)) {
      list.RenameCategory(u"Tech", u"Technology");
      list.MoveChannel(u"http://127.0.0.1/feed/1", u"Others");
      list.SetChannelAttribute(u"http://127.0.0.1/feed/2", u"itemCount", u"7");
      g_removed.clear();
      list.RemoveChannelById(u"Others", &RemoveFiles);
      if (!g_removed.count(999) && !FileAccess(ChannelFile(999))) {
        fprintf(stderr, "a category's removal deleted the files of a channel it did not hold\n");
        abort();
      }
      int number = list.AddChannel(u"Fuzz", u"Fuzz Feed", u"http://fuzz.example/feed.xml");
      if (number > 0) {
        std::vector<CString> onDisk = ReadBack();
        if (std::find(onDisk.begin(), onDisk.end(), CString(u"http://fuzz.example/feed.xml")) == onDisk.end()) abort();
      }
    }
  }
  CheckOutside();
  return 0;
}
