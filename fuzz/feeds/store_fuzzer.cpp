// Feeds arbitrary bytes to the item store as a "Ch%03d.bin" file: every
// reader walks it, then a property change, an append and a compaction run
// on it. Nothing may crash, and a following append must stay readable.
#include <cstdint>
#include <cstdlib>

#include "fuzz_device.h"
#include "kernel/kernel.h"
#include "quillet/feeds/item_store.h"

namespace {
const char16_t kStore[] = u"\\ChannelData\\Ch001.bin";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzdev::MakeDeviceRoot("store");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!fuzzdev::WriteInput(kStore, data, size)) return 0;

  CItemStore reader(0);
  reader.SetKeptCount(2);
  reader.Open(kStore, 1, 1);
  int live = 0;
  reader.ResetRecord();
  while (reader.MoveNext()) ++live;
  reader.ReadRecord(live / 2);
  reader.FindRecord(u"a", u"");
  reader.LoadKeyLists();
  reader.IsKnownItem(u"a", u"b", u"");
  SetItemReadState(&reader, u"", 2);
  SetItemType(&reader, u"", 1);
  reader.DeleteItem(u"");

  CItemStore writer(0);
  writer.Open(kStore, 0, 0);
  writer.AddPendingItem(u"t", u"fuzz-link", u"", u"2005-06-01T00:00:00Z", 0, 0, u"<img src=Ch001-1-1.jpg >", u"Ch001-1-1.htm");
  if (!writer.Commit()) abort();
  CItemStore check(0);
  check.Open(kStore, 1, 1);
  if (!check.FindRecord(u"fuzz-link", u"")) abort();  // an append is always readable
  check.TrimItems(0);
  check.Rewrite();
  return 0;
}
