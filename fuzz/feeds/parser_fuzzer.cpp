// Feeds arbitrary bytes to the feed parser and to the channel-list reader,
// as a downloaded feed file and as "Channels.opml".
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_device.h"
#include "kernel/kernel.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/feeds/rss_xml.h"

namespace {
const char16_t kFeed[] = u"\\ChannelData\\Ch001~.xml";
const char16_t kStore[] = u"\\ChannelData\\Ch001.bin";
const char16_t kList[] = u"\\ChannelData\\Channels.opml";

void Outline(void*, LPCWSTR, LPCWSTR, LPCWSTR) {}
void Element(void*, LPCWSTR, LPCWSTR, LPCWSTR) {}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzdev::MakeDeviceRoot("feed");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::remove(qk::HostPath(kStore).c_str());
  fuzzdev::WriteInput(kFeed, data, size);
  {
    CRssXML feed(&Element, nullptr, nullptr, 1);
    feed.SetFeedUrl(u"http://fuzz.example/dir/feed.xml?q=1");
    if (feed.LoadAndWalk(kFeed)) {
      CString text;
      feed.GetTitle(text);
      feed.GetLink(text);
      feed.GetImageUrl(text);
      feed.GetChannelInfoHtml(text);
      feed.SaveItems();
      int items = 0, read = 0;
      feed.CountItems(items, read);
    }
  }
  fuzzdev::WriteInput(kList, data, size);
  {
    COpmlXML list(&Outline, nullptr, 1);
    if (list.LoadAndWalk(kList)) {
      list.SetChannelAttribute(u"http://a", u"itemCount", u"1");
      list.AddChannel(u"c", u"t", u"http://a");
      list.MoveChannel(u"http://a", u"c");
    }
  }
  return 0;
}
