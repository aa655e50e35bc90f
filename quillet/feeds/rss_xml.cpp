#include "quillet/feeds/rss_xml.h"

#include <tinyxml.h>

#include <atomic>
#include <cstring>

#include "common/encoding.h"
#include "common/localize.h"
#include "common/log.h"
#include "kernel/kernel.h"
#include "quillet/feeds/feed_date.h"
#include "quillet/feeds/image_ref.h"

namespace {

std::atomic<int> g_nameCounter{0};

struct ChannelLabel {
  const char* name;
  const char16_t* label;
};
const ChannelLabel kChannelElements[] = {
    {"title", u"Title"},
    {"link", u"Link"},
    {"description", u"Description"},
    {"language", u"Language"},
    {"copyright", u"Copyright"},
    {"managingEditor", u"ManagingEditor"},
    {"webMaster", u"WebMaster"},
    {"pubDate", u"Published Date"},
    {"lastBuildDate", u"Last Build Date"},
    {"category", u"Category"},
    {"generator", u"Generator"},
    {"docs", u"Docs"},
    {"cloud", u"Cloud"},
    {"ttl", u"TTL"},
    {"image", u"Image"},
    {"textInput", u"TextInput"},
    {"skipHours", u"SkipHours"},
    {"skipDays", u"SkipDays"},
};
const char* kItemElements[] = {"title",    "link", "description", "author",  "category", "comments",
                               "enclosure", "guid", "pubDate",     "dc:date", "source"};

bool Is(const TiXmlElement* e, const char* name) { return CEXML::NameIs(e, name); }

const ChannelLabel* ChannelEntry(const char* name) {
  for (const ChannelLabel& c : kChannelElements) {
    if (strcasecmp(c.name, name) == 0) return &c;
  }
  return nullptr;
}

bool IsItemElement(const char* name) {
  for (const char* n : kItemElements) {
    if (strcasecmp(n, name) == 0) return true;
  }
  return false;
}

// Replaces the reference where it stands as an src value (bare or quoted),
// and nowhere else: a short reference such as "a" must not rewrite the text.
// A copy for finding the ASCII markers "<img" and "src=" without regard to
// case; other characters are kept, so positions match the original.
CString AsciiLower(const CString& text) {
  CString lower(text);
  for (char16_t& c : lower.str()) {
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
  }
  return lower;
}

// The lower-cased copy is kept in step, so it is made only once per content.
void ReplaceSourceValue(CString& content, CString& lower, const CString& ref, const CString& local) {
  std::u16string& s = content.str();
  std::u16string& l = lower.str();
  const std::u16string& r = ref.str();
  CString localLower = AsciiLower(local);
  size_t at = 0;
  while (at < s.size()) {
    size_t p = s.find(r, at);
    if (p == std::u16string::npos) break;
    size_t q = p;
    if (q > 0 && (l[q - 1] == u'"' || l[q - 1] == u'\'')) --q;
    bool isSource = q >= 4 && l.compare(q - 4, 4, u"src=") == 0;
    if (isSource) {
      s.replace(p, r.size(), local.str());
      l.replace(p, r.size(), localLower.str());
      at = p + local.GetLength();
    } else {
      at = p + 1;
    }
  }
}

}  // namespace

void SetItemNameCounter(int value) { g_nameCounter = value; }

int NextItemNameNumber() { return ++g_nameCounter; }

CRssXML::CRssXML(RssElementCallback elementCallback, RssCancelCallback cancelCallback, void* context,
                 int readKeptCount)
    : m_nVersion(RSS_VERSION_OTHER),
      m_pElement(elementCallback),
      m_pCancel(cancelCallback),
      m_pContext(context),
      m_nKeptCount(readKeptCount ? GetArticlesNumberSetting() : 0) {}

CRssXML::~CRssXML() {
  m_linksAdded.RemoveAll();
  m_imageJobs.RemoveAll();
  m_spare.RemoveAll();
  m_readIds.RemoveAll();
}

void CRssXML::VisitElement(TiXmlElement*, TiXmlElement* element) {
  if (!element) return;
  if (Is(element, "rdf:RDF")) {
    m_nVersion = RSS_VERSION_RDF;
  } else if (Is(element, "rss")) {
    const char* v = element->Attribute("version");
    if (v && strcasecmp(v, "2.0") == 0) m_nVersion = RSS_VERSION_20;
    else if (v && strcasecmp(v, "0.91") == 0) m_nVersion = RSS_VERSION_091;
  }
}

TiXmlElement* CRssXML::TopElement() const {
  if (!m_pDoc) return nullptr;
  TiXmlElement* top = m_pDoc->FirstChildElement("rss");
  if (!top) top = m_pDoc->FirstChildElement("rdf:RDF");
  if (!top) top = m_pDoc->FirstChildElement("feed");
  return top;
}

CString& CRssXML::GetBinPath(CString& out) {
  out = GetPath();
  CString lower(out);
  lower.MakeLower();
  int tilde = lower.Find(u"~.xml");
  int plain = lower.Find(u".xml");
  if (tilde >= 0) out = out.Left(tilde) + u".bin" + out.Mid(tilde + 5);
  else if (plain >= 0) out = out.Left(plain) + u".bin" + out.Mid(plain + 4);
  else out += u".bin";  // never the feed file itself
  return out;
}

bool CRssXML::DownloadImages() {
  // The setting is read again before each image, but from the registry at
  // most every half second: switching it off still stops a running parse.
  uint64_t now = qk::TickCount64();
  if (m_nDownloadImage < 0 || now - m_nDownloadImageTick >= 500) {
    m_nDownloadImage = GetDownloadImageSetting() ? 1 : 0;
    m_nDownloadImageTick = now;
  }
  return m_nDownloadImage != 0;
}

CString CRssXML::NewPageName() {
  CString bin;
  GetBinPath(bin);
  CString name = bin.Mid(bin.ReverseFind(u'\\') + 1);
  int dot = name.Find(u'.');
  if (dot >= 0) name = name.Left(dot);
  CString page;
  page.Format(u"%s-%08lld-%03d.htm", name.GetString(), (long long)GetCurrentSeconds(), NextItemNameNumber());
  return page;
}

CString CRssXML::NewImageName(const CString& extension) {
  CString bin;
  GetBinPath(bin);
  int dot = bin.ReverseFind(u'.');
  int slash = bin.ReverseFind(u'\\');
  CString base = dot > slash ? bin.Left(dot) : bin;
  CString local;
  local.Format(u"%s-%08lld-%03d%s", base.GetString(), (long long)GetCurrentSeconds(), NextItemNameNumber(),
               extension.GetString());
  return local.Mid(local.ReverseFind(u'\\') + 1);
}

bool CRssXML::LocaliseImages(CString& content, const CString& pageName, CStringList& itemImages) {
  CString lower = AsciiLower(content);
  int at = 0;
  for (;;) {
    if (!DownloadImages()) return true;
    if (Cancelled()) return false;
    ImageReference found;
    if (!FindImageReference(content, lower, at, found)) return true;
    at = found.from;
    const CString& ref = found.ref;
    if (ref.IsEmpty()) continue;
    CString ext(u".img");
    int dot = ref.ReverseFind(u'.');
    if (dot >= 0) {
      ext = ref.Mid(dot);
      for (WCHAR stop : {u'%', u'&', u'?'}) {
        int s = ext.Find(stop);
        if (s >= 0) ext = ext.Left(s);
      }
    }
    if (ext.GetLength() > 4) return true;
    CString local;
    bool known = false, localised = false;
    // Jobs end in "|reference|local"; a reference that already is a local
    // name of this parse (an image repeated in the content) stays as it is.
    auto lookup = [&](const CStringList& jobs) {
      for (POSITION pos = jobs.GetHeadPosition(); pos && !known && !localised;) {
        const CString& job = jobs.GetNext(pos);
        int c = job.ReverseFind(u'|');
        int b = c > 0 ? CString(job.Left(c)).ReverseFind(u'|') : -1;
        if (c < 0) continue;
        if (job.Mid(c + 1) == ref) localised = true;
        else if (b >= 0 && job.Mid(b + 1, c - b - 1) == ref) {
          local = job.Mid(c + 1);
          known = true;
        }
      }
    };
    lookup(m_imageJobs);
    lookup(itemImages);
    for (POSITION pos = m_localNames.GetHeadPosition(); pos && !localised;) localised = m_localNames.GetNext(pos) == ref;
    if (localised) continue;
    if (!known) {
      local = NewImageName(ext);
      m_localNames.AddTail(local);
    }
    ReplaceSourceValue(content, lower, ref, local);
    CString lowerRef(ref);
    lowerRef.MakeLower();
    if (!known && lowerRef.Find(RSS_AD_DOMAIN) < 0) itemImages.AddTail(pageName + u"|" + ref + u"|" + local);
  }
}

int CRssXML::ParseItem(TiXmlElement* item, CItemStore* store) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  CString key, page, title, id, date, content;
  DWORD readFlag = 0;
  bool fullContent = false;
  CString name, text;
  // Key and page name: the item's link, else its guid.
  for (TiXmlElement* c = item->FirstChildElement(); c; c = c->NextSiblingElement()) {
    if (Is(c, "link")) {
      GetElementText(c, name, text);
      key = text;
      page = NewPageName();
    } else if (Is(c, "content:encoded") || Is(c, "content")) {
      fullContent = true;
    }
  }
  if (key.IsEmpty()) {
    for (TiXmlElement* c = item->FirstChildElement(); c; c = c->NextSiblingElement()) {
      if (Is(c, "guid")) {
        GetElementText(c, name, text);
        key = text;
        page = NewPageName();
      }
    }
  }
  CStringList itemImages;
  for (TiXmlElement* c = item->FirstChildElement(); c; c = c->NextSiblingElement()) {
    if (Cancelled()) return 0;
    GetElementText(c, name, text);
    if (Is(c, "title")) {
      title = text;
      ReplaceHTMLEntities(title);
      WriteLog(title);
    } else if (Is(c, "enclosure")) {
    } else if (Is(c, "id")) {
      id = text;
    } else if (Is(c, "published") || Is(c, "pubDate") || Is(c, "dc:date")) {
      date = text;
    } else if (Is(c, "updated")) {
      if (date.IsEmpty()) date = text;
    } else if (Is(c, "category")) {
      for (const TiXmlAttribute* a = c->FirstAttribute(); a; a = a->Next()) {
        if (strcasecmp(a->Name(), "label") == 0 && strcasecmp(a->Value(), "read") == 0) readFlag = ITEM_READ_READ;
      }
    } else if (Is(c, "link")) {
      if (key.IsEmpty()) {
        // An Atom link without rel is the alternate link.
        const char* rel = c->Attribute("rel");
        const char* href = c->Attribute("href");
        if (href && (!rel || strcasecmp(rel, "alternate") == 0)) key = NodeText(href);
      }
    } else if (Is(c, "description") || Is(c, "summary") || Is(c, "content:encoded") || Is(c, "content")) {
      bool isFull = Is(c, "content:encoded") || Is(c, "content");
      if (isFull != fullContent) continue;
      content = text;
      ReplaceHTMLEntities(content);
      if (!LocaliseImages(content, page, itemImages)) return 0;
    }
  }
  bool known = store->IsKnownItem(key, title, id) || m_linksAdded.Find(key) != nullptr;
  if (known) {
    // A later item of the same feed with this link is a duplicate too; without
    // this, every refresh of a feed that repeats a link under another title
    // would store that item again.
    if (!m_linksAdded.Find(key)) m_linksAdded.AddTail(key);
  } else {
    if (date.IsEmpty()) {
      WCHAR now[32];
      CurrentLocalTimeText(now);
      date = now;
    }
    if (store->IsKnownItem(key, u"", u"")) {
      CString suffix;
      suffix.Format(u"-%d", int(GetTickCount()));
      key += suffix;
    }
    store->AddPendingItem(title, key, id, date, readFlag, 0, content, page);
    m_linksAdded.AddTail(key);
    // The jobs name the item by its final key.
    for (POSITION pos = itemImages.GetHeadPosition(); pos;) m_imageJobs.AddTail(key + u"|" + itemImages.GetNext(pos));
  }
  if (readFlag == ITEM_READ_READ) {
    // An item without a key is stored read already; an empty key given to
    // the store would mark every item of the channel read.
    if (!key.IsEmpty()) store->SetItemProperty(key, u"ReadFlag", ITEM_READ_READ);
    m_readIds.AddTail(id);
  }
  return 1;
}

int CRssXML::SaveItems() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!m_pDoc) return 0;
  m_imageJobs.RemoveAll();
  m_spare.RemoveAll();
  m_readIds.RemoveAll();
  m_localNames.RemoveAll();
  CString bin;
  GetBinPath(bin);
  TiXmlElement* top = m_pDoc->FirstChildElement("rss");
  if (!top) top = m_pDoc->FirstChildElement("rdf:RDF");
  const char* itemName = "item";
  TiXmlElement* container = nullptr;
  if (top) {
    container = top->FirstChildElement("channel");
    if (TiXmlElement* rdf = m_pDoc->FirstChildElement("rdf:RDF")) container = rdf;
  } else {
    container = m_pDoc->FirstChildElement("feed");
    itemName = "entry";
  }
  m_linksAdded.RemoveAll();
  if (!container) return 0;
  CItemStore store(1);
  store.Open(bin, 0, 0);
  int limit = GetArticlesNumberSetting();
  int examined = 0;
  for (TiXmlElement* e = container->FirstChildElement(itemName); e && examined < limit;
       e = e->NextSiblingElement(itemName)) {
    if (Cancelled()) break;
    if (ParseItem(e, &store)) ++examined;
  }
  if (!store.Commit()) m_imageJobs.RemoveAll();
  store.Open(bin, 1, 1);
  store.TrimItems(0);
  store.DeleteItem(ERROR_ITEM_LINK);
  return 1;
}

int CRssXML::CountItems(int& itemCount, int& readCount) {
  itemCount = readCount = 0;
  CString bin;
  GetBinPath(bin);
  CItemStore store(0);
  store.Open(bin, 0, 1);
  while (store.MoveNext()) {
    const CItemRecord& r = store.Current();
    if (r.type < ITEM_TYPE_ERROR) {
      ++itemCount;
      if (r.readFlag == ITEM_READ_READ || r.readFlag == ITEM_READ_READ_FETCHED) ++readCount;
    }
  }
  return 1;
}

int CRssXML::AddErrorItem(LPCWSTR errorText) {
  RemoveErrorItem();
  CString bin;
  GetBinPath(bin);
  CItemStore store(1);
  store.Open(bin, 0, 0);
  WCHAR now[32];
  CurrentLocalTimeText(now);
  CString content = Localized(u"An error occured while attempting to download the channel data:");
  content += errorText;
  content += u".";
  return store.WriteErrorRecord(Localized(u"Error occured on last update"), ERROR_ITEM_LINK, u"", now, 0,
                                ITEM_TYPE_ERROR, content, u"");
}

int CRssXML::RemoveErrorItem() {
  CString bin;
  GetBinPath(bin);
  CItemStore store(1);
  store.Open(bin, 0, 0);
  store.DeleteItem(ERROR_ITEM_LINK);
  return 1;
}

int CRssXML::GetTitle(CString& out) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  out.Empty();
  TiXmlElement* top = TopElement();
  if (!top) return 0;
  TiXmlElement* parent = Is(top, "feed") ? top : top->FirstChildElement("channel");
  TiXmlElement* title = parent ? parent->FirstChildElement("title") : nullptr;
  if (!title) return 0;
  CString name;
  GetElementText(title, name, out);
  return 1;
}

int CRssXML::GetLink(CString& out) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  out.Empty();
  TiXmlElement* top = TopElement();
  if (!top) return 0;
  if (Is(top, "feed")) {
    for (TiXmlElement* l = top->FirstChildElement("link"); l; l = l->NextSiblingElement("link")) {
      const char* rel = l->Attribute("rel");
      const char* href = l->Attribute("href");
      if (href && (!rel || strcasecmp(rel, "alternate") == 0)) {
        out = NodeText(href);
        return 1;
      }
    }
    return 0;
  }
  TiXmlElement* channel = top->FirstChildElement("channel");
  TiXmlElement* link = channel ? channel->FirstChildElement("link") : nullptr;
  if (!link) return 0;
  CString name;
  GetElementText(link, name, out);
  return 1;
}

int CRssXML::GetImageUrl(CString& out) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  out.Empty();
  TiXmlElement* top = TopElement();
  TiXmlElement* channel = top ? top->FirstChildElement("channel") : nullptr;
  TiXmlElement* image = channel ? channel->FirstChildElement("image") : nullptr;
  TiXmlElement* url = image ? image->FirstChildElement("url") : nullptr;
  if (!url) return 0;
  CString name;
  GetElementText(url, name, out);
  return 1;
}

CString& CRssXML::GetChannelInfoHtml(CString& out) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  out = u"<HTML><BODY>";
  TiXmlElement* top = TopElement();
  TiXmlElement* channel = top ? top->FirstChildElement("channel") : nullptr;
  if (top) VisitElement(nullptr, top);
  if (m_nVersion == RSS_VERSION_20) {
    out += u"<B>";
    out += Localized(u"RSS Version");
    out += u": </B>2.0<BR>";
  } else {
    out += Localized(u"No details Available");
    out += u".<BR>";
  }
  for (TiXmlElement* c = channel ? channel->FirstChildElement() : nullptr; c; c = c->NextSiblingElement()) {
    const ChannelLabel* entry = ChannelEntry(c->Value());
    if (!entry) continue;
    CString name, text;
    GetElementText(c, name, text);
    if (text.IsEmpty()) continue;
    out.AppendFormat(u"<B>%s: </B>%s<BR>\n", entry->label, text.GetString());
  }
  out += u"</BODY></HTML>";
  return out;
}

void CRssXML::Walk(TiXmlElement*, TiXmlElement* element) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!element) return;
  VisitElement(nullptr, element);
  if (m_nVersion > RSS_VERSION_091 || !m_pElement) return;
  auto dated = [](const CString& childName, CString& text, bool underItem) {
    bool convert = childName.Find(u"date") >= 0 || (underItem && childName.Find(u"Date") >= 0);
    WCHAR out[32];
    if (convert && FormatFeedDate(text, out)) text = out;
  };
  for (TiXmlElement* channel = element->FirstChildElement(); channel; channel = channel->NextSiblingElement()) {
    if (!Is(channel, "channel")) continue;
    for (TiXmlElement* c = channel->FirstChildElement(); c; c = c->NextSiblingElement()) {
      if (Cancelled()) return;
      CString name, text;
      GetElementText(c, name, text);
      if (Is(c, "item") || Is(c, "lastError")) {
        bool isItem = Is(c, "item");
        if (const char* status = c->Attribute("status")) m_pElement(m_pContext, name, u"#status", NodeText(status));
        for (TiXmlElement* ic = c->FirstChildElement(); ic; ic = ic->NextSiblingElement()) {
          if (!IsItemElement(ic->Value())) continue;
          CString childName, childText;
          GetElementText(ic, childName, childText);
          dated(childName, childText, isItem);
          m_pElement(m_pContext, name, childName, childText);
        }
      } else if (ChannelEntry(c->Value())) {
        if (name.Find(u"Date") >= 0 || name.Find(u"date") >= 0) dated(u"date", text, false);
        m_pElement(m_pContext, u"channel", name, text);
      }
    }
  }
}
