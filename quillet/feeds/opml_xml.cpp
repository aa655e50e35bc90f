#include "quillet/feeds/opml_xml.h"

#include <tinyxml.h>

#include <cstdlib>
#include <cstring>
#include <unordered_set>

#include "kernel/kernel.h"
#include "net/urlfuncs.h"

namespace {

const char kEmptyList[] =
    "<?xml version=\"1.0\" ?><opml version=\"1.0\"><head>   <title>Channels</title>   <options />   "
    "<keywordList />   <updated /></head><body></body></opml>";

bool IsOutline(const TiXmlElement* e) { return CEXML::NameIs(e, "outline"); }

// A category is an outline directly under the body that is no channel (it
// has no feed address).
bool IsCategoryOutline(const TiXmlElement* e) { return IsOutline(e) && !e->Attribute("xmlUrl"); }

// The channel number that a nextID value gives: its leading decimal digits
// (0 for a text that is no number), held to a range that keeps "Ch%03d"
// names short and the arithmetic in range.
int ParseNextId(const char* text) {
  if (!text) return 100;
  long long v = 0;
  const char* p = text;
  while (*p == ' ' || *p == '\t') ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  while (*p >= '0' && *p <= '9') {
    v = v * 10 + (*p - '0');
    if (v > 99999999) break;
    ++p;
  }
  if (negative || v > 99999999) return 0;
  return int(v);
}

}  // namespace

COpmlXML::COpmlXML(OpmlOutlineCallback callback, void* context, int typeFilter)
    : m_pCallback(callback), m_pContext(context), m_bTypeFilter(typeFilter) {}

COpmlXML::~COpmlXML() {
  // An edit still held back by a batch is not dropped with the list.
  if (m_bSavePending) SaveDocument();
}

bool COpmlXML::Commit(bool attributeOnly) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (attributeOnly && m_nBatchDepth > 0 && m_batchOwner == std::this_thread::get_id()) {
    if (!m_bSavePending) m_nPendingSince = qk::TickCount64();
    m_bSavePending = true;
    return true;
  }
  // A save writes the whole tree: what a batch held back goes with it.
  bool saved = SaveDocument() != FALSE;
  m_bSavePending = false;
  return saved;
}

bool COpmlXML::BeginBatch() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (m_nBatchDepth > 0 && m_batchOwner != std::this_thread::get_id()) return false;
  m_batchOwner = std::this_thread::get_id();
  ++m_nBatchDepth;
  return true;
}

void COpmlXML::EndBatch(DWORD holdMs) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (m_nBatchDepth == 0 || --m_nBatchDepth > 0) return;
  m_batchOwner = std::thread::id();
  if (m_bSavePending && (holdMs == 0 || qk::TickCount64() - m_nPendingSince >= holdMs)) SavePending();
}

BOOL COpmlXML::HasPendingSave() const {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return m_bSavePending;
}

BOOL COpmlXML::SavePending() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!m_bSavePending) return TRUE;
  m_bSavePending = false;
  return SaveDocument();
}

COpmlXML::CSaveBatch::CSaveBatch(COpmlXML* list, DWORD holdMs)
    : m_pList(list), m_bActive(list && list->BeginBatch()), m_nHoldMs(holdMs) {}

COpmlXML::CSaveBatch::~CSaveBatch() {
  if (m_bActive) m_pList->EndBatch(m_nHoldMs);
}

const char* COpmlXML::EmptyListText() { return kEmptyList; }

TiXmlElement* COpmlXML::Body() const {
  TiXmlElement* root = GetRoot();
  return root ? root->FirstChildElement("body") : nullptr;
}

CString COpmlXML::AttributeText(const TiXmlElement* element, const char* name) const {
  const char* v = element ? element->Attribute(name) : nullptr;
  return v ? NodeText(v) : CString();
}

BOOL COpmlXML::IsAcceptedDocument() const { return NameIs(GetRoot(), "opml") && Body() != nullptr; }

int COpmlXML::CreateEmpty() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!m_pDoc) m_pDoc = new TiXmlDocument();
  ForgetChannelIndex();
  m_pDoc->Clear();
  m_pDoc->ClearError();
  m_pDoc->Parse(kEmptyList, nullptr, TIXML_ENCODING_UTF8);
  m_nEncodingMode = EXML_MODE_UTF8;
  m_nCodePage = CP_UTF8;
  return 1;
}

bool COpmlXML::EnsureBody() {
  if (!m_pDoc) CreateEmpty();
  if (!GetRoot() || !Body()) CreateEmpty();
  return Body() != nullptr;
}

int COpmlXML::AddChannel(LPCWSTR category, LPCWSTR title, LPCWSTR url) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!EnsureBody()) return 0;
  TiXmlElement* body = Body();
  int number = ParseNextId(body->Attribute("nextID"));
  body->SetAttribute("nextID", number + 1);

  CString categoryName(category);
  TiXmlElement* parent = body;
  if (!categoryName.IsEmpty()) {
    TiXmlElement* found = nullptr;
    for (TiXmlElement* e = body->FirstChildElement(); e && !found; e = e->NextSiblingElement()) {
      if (IsOutline(e) && AttributeText(e, "text").CompareNoCase(categoryName) == 0) found = e;
    }
    if (!found) {
      TiXmlElement outline("outline");
      outline.SetAttribute("type", "rss");
      outline.SetAttribute("text", ToDocumentText(categoryName).c_str());
      outline.SetAttribute("uniqueID", number);
      found = body->InsertEndChild(outline)->ToElement();
    }
    parent = found;
  }
  if (!title || !*title || !url || !*url) {
    Commit();
    return 0;
  }
  for (TiXmlElement* e = parent->FirstChildElement(); e; e = e->NextSiblingElement()) {
    if (IsOutline(e) && AttributeText(e, "text").CompareNoCase(title) == 0) {
      Commit();
      return 0;
    }
  }
  TiXmlElement outline("outline");
  outline.SetAttribute("type", "rss");
  outline.SetAttribute("text", ToDocumentText(title).c_str());
  outline.SetAttribute("uniqueID", number);
  outline.SetAttribute("xmlUrl", ToDocumentText(url).c_str());
  TiXmlNode* added = parent->InsertEndChild(outline);
  NoteAddedChannel(url, added ? added->ToElement() : nullptr);
  // A channel that could not be written is not added: the list in memory
  // stays what the file holds, and the caller reports the failure.
  if (!Commit()) {
    if (added) parent->RemoveChild(added);
    ForgetChannelIndex();
    return 0;
  }
  return number;
}

void COpmlXML::NoteAddedChannel(LPCWSTR url, TiXmlElement* element) {
  // An address already indexed, spelt so or otherwise, may change which
  // outline a look-up finds first: then the index is made anew.
  if (!element || !m_bIndexed || m_nIndexedGeneration != m_nDocumentGeneration ||
      !m_channelIndex.emplace(std::u16string(url), element).second ||
      !m_channelKeyIndex.emplace(InternetAddressKey(url), element).second)
    ForgetChannelIndex();
}

namespace {

std::u16string Folded(const CString& text) { return CString(text).MakeLower().str(); }

}  // namespace

BOOL COpmlXML::AddChannels(const std::vector<NewChannel>& channels, std::vector<int>* numbers) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (numbers) numbers->assign(channels.size(), 0);
  if (channels.empty()) return TRUE;
  if (!EnsureBody()) return FALSE;
  TiXmlElement* body = Body();
  const char* next = body->Attribute("nextID");
  const bool hadNext = next != nullptr;
  const std::string nextBefore = next ? next : "";
  // What AddChannel searches the list for, each channel again, kept here
  // as it grows: the outlines directly under the body by their names (the
  // first of each name in any letter case), and the names of each parent's
  // outlines, made when first needed.
  std::unordered_map<std::u16string, TiXmlElement*> byName;
  for (TiXmlElement* e = body->FirstChildElement(); e; e = e->NextSiblingElement())
    if (IsOutline(e)) byName.emplace(Folded(AttributeText(e, "text")), e);
  std::unordered_map<TiXmlElement*, std::unordered_set<std::u16string>> names;
  auto namesOf = [&](TiXmlElement* parent) -> std::unordered_set<std::u16string>& {
    auto [at, fresh] = names.try_emplace(parent);
    if (fresh)
      for (TiXmlElement* e = parent->FirstChildElement(); e; e = e->NextSiblingElement())
        if (IsOutline(e)) at->second.insert(Folded(AttributeText(e, "text")));
    return at->second;
  };
  // The outlines made, in order, to take out again when the save fails.
  std::vector<TiXmlNode*> made;
  std::vector<int> given(channels.size(), 0);
  for (size_t i = 0; i < channels.size(); ++i) {
    const NewChannel& channel = channels[i];
    const int number = ParseNextId(body->Attribute("nextID"));
    body->SetAttribute("nextID", number + 1);
    TiXmlElement* parent = body;
    if (!channel.category.IsEmpty()) {
      const std::u16string key = Folded(channel.category);
      auto found = byName.find(key);
      if (found == byName.end()) {
        TiXmlElement outline("outline");
        outline.SetAttribute("type", "rss");
        outline.SetAttribute("text", ToDocumentText(channel.category).c_str());
        outline.SetAttribute("uniqueID", number);
        TiXmlElement* element = body->InsertEndChild(outline)->ToElement();
        made.push_back(element);
        found = byName.emplace(key, element).first;
        if (names.count(body)) names[body].insert(key);
      }
      parent = found->second;
    }
    if (channel.title.IsEmpty() || channel.url.IsEmpty()) continue;
    const std::u16string title = Folded(channel.title);
    if (!namesOf(parent).insert(title).second) continue;
    TiXmlElement outline("outline");
    outline.SetAttribute("type", "rss");
    outline.SetAttribute("text", ToDocumentText(channel.title).c_str());
    outline.SetAttribute("uniqueID", number);
    outline.SetAttribute("xmlUrl", ToDocumentText(channel.url).c_str());
    TiXmlElement* element = parent->InsertEndChild(outline)->ToElement();
    made.push_back(element);
    // A channel directly under the body is found by its name as AddChannel
    // finds a category.
    if (parent == body) byName.emplace(title, element);
    NoteAddedChannel(channel.url, element);
    given[i] = number;
  }
  // One save for them all. Channels that could not be written are not
  // added: the list in memory stays what the file holds.
  if (!Commit()) {
    for (auto at = made.rbegin(); at != made.rend(); ++at) (*at)->Parent()->RemoveChild(*at);
    if (hadNext) body->SetAttribute("nextID", nextBefore.c_str());
    else body->RemoveAttribute("nextID");
    ForgetChannelIndex();
    return FALSE;
  }
  if (numbers) *numbers = given;
  return TRUE;
}

int COpmlXML::AddCategory(LPCWSTR category) {
  if (category && *category) AddChannel(category, nullptr, nullptr);
  return 0;
}

void COpmlXML::IndexChannels() const {
  if (m_bIndexed && m_nIndexedGeneration == m_nDocumentGeneration) return;
  m_channelIndex.clear();
  m_channelKeyIndex.clear();
  m_bIndexed = true;
  m_nIndexedGeneration = m_nDocumentGeneration;
  TiXmlElement* body = Body();
  if (!body) return;
  auto add = [&](TiXmlElement* e) {
    if (!IsOutline(e)) return;
    if (const char* v = e->Attribute("xmlUrl")) {
      const std::u16string url = NodeText(v).str();
      m_channelIndex.emplace(url, e);
      m_channelKeyIndex.emplace(InternetAddressKey(url), e);
    }
  };
  for (TiXmlElement* e = body->FirstChildElement(); e; e = e->NextSiblingElement()) add(e);
  for (TiXmlElement* e = body->FirstChildElement(); e; e = e->NextSiblingElement())
    if (IsOutline(e))
      for (TiXmlElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement()) add(c);
}

TiXmlElement* COpmlXML::FindChannelElement(LPCWSTR url) const {
  if (!Body() || !url) return nullptr;
  IndexChannels();
  auto it = m_channelIndex.find(std::u16string(url));
  if (it != m_channelIndex.end()) return it->second;
  // The same feed spelt otherwise.
  it = m_channelKeyIndex.find(InternetAddressKey(url));
  return it == m_channelKeyIndex.end() ? nullptr : it->second;
}

int COpmlXML::FindChannel(LPCWSTR url, int remove) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  TiXmlElement* e = FindChannelElement(url);
  if (!e) return 0;
  if (remove) {
    ForgetChannelIndex();
    e->Parent()->RemoveChild(e);
    Commit();
  }
  return 1;
}

int COpmlXML::SetChannelAttribute(LPCWSTR url, LPCWSTR name, LPCWSTR value) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!m_pDoc) return 0;
  if (!Body()) return 1;
  if (!name || !*name) return 0;
  TiXmlElement* e = FindChannelElement(url);
  if (!e) return 0;
  if (CString(name).CompareNoCase(u"xmlUrl") == 0) ForgetChannelIndex();
  e->SetAttribute(ToDocumentText(name).c_str(), ToDocumentText(value ? value : u"").c_str());
  Commit(true);
  return 1;
}

int COpmlXML::GetChannelAttribute(LPCWSTR url, LPCWSTR name, CString& value) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  value.Empty();
  TiXmlElement* e = FindChannelElement(url);
  if (!e) return 0;
  if (name && *name) value = AttributeText(e, ToDocumentText(name).c_str());
  return 1;
}

int COpmlXML::RenameCategory(LPCWSTR oldName, LPCWSTR newName) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!newName || !*newName || !oldName || !*oldName) return 0;
  TiXmlElement* body = Body();
  if (!body) return 0;
  // Only a category outline (directly under the body, its name exact) is
  // renamed, never a channel of that title; and only to a name that no
  // other category has in any letter case, as two categories of one name
  // could no longer be told apart.
  TiXmlElement* target = nullptr;
  for (TiXmlElement* e = body->FirstChildElement(); e && !target; e = e->NextSiblingElement())
    if (IsCategoryOutline(e) && AttributeText(e, "text") == oldName) target = e;
  if (!target) return 0;
  for (TiXmlElement* e = body->FirstChildElement(); e; e = e->NextSiblingElement())
    if (e != target && IsCategoryOutline(e) && AttributeText(e, "text").CompareNoCase(newName) == 0) return 0;
  const std::string before = target->Attribute("text") ? target->Attribute("text") : "";
  target->SetAttribute("text", ToDocumentText(newName).c_str());
  // A name that could not be written is not taken: the list in memory stays
  // what the file holds.
  if (!Commit()) {
    target->SetAttribute("text", before.c_str());
    return 0;
  }
  return 1;
}

int COpmlXML::RemoveChannelById(LPCWSTR category, OpmlChannelIdCallback callback) {
  // A category only, with its channels; a channel of that title stays.
  return RemoveCategory(category, callback);
}

int COpmlXML::RemoveCategory(LPCWSTR category, OpmlChannelIdCallback callback) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!category || !*category) return 0;
  TiXmlElement* body = Body();
  if (!body) return 0;
  for (TiXmlElement* e = body->FirstChildElement(); e; e = e->NextSiblingElement()) {
    if (!IsCategoryOutline(e) || AttributeText(e, "text") != category) continue;
    if (callback) {
      for (TiXmlElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement()) {
        const char* id = c->Attribute("uniqueID");
        if (id) callback(atoi(id));
      }
    }
    ForgetChannelIndex();
    body->RemoveChild(e);
    Commit();
    return 1;
  }
  return 0;
}

BOOL COpmlXML::HasCategory(LPCWSTR category, BOOL anyCase) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  TiXmlElement* body = Body();
  if (!body || !category || !*category) return FALSE;
  for (TiXmlElement* e = body->FirstChildElement(); e; e = e->NextSiblingElement())
    if (IsCategoryOutline(e) &&
        (anyCase ? AttributeText(e, "text").CompareNoCase(category) == 0 : AttributeText(e, "text") == category))
      return TRUE;
  return FALSE;
}

int COpmlXML::MoveChannel(LPCWSTR url, LPCWSTR category) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  TiXmlElement* body = Body();
  if (!body || !url || !category) return 0;
  TiXmlElement* target = nullptr;
  TiXmlElement* channel = nullptr;
  for (TiXmlElement* e = body->FirstChildElement(); e && !(target && channel); e = e->NextSiblingElement()) {
    if (!IsOutline(e)) continue;
    if (!target && AttributeText(e, "text") == category) target = e;
    if (!channel) {
      const char* v = e->Attribute("xmlUrl");
      if (v && NodeText(v) == url) {
        channel = e;
        continue;
      }
      for (TiXmlElement* c = e->FirstChildElement(); c && !channel; c = c->NextSiblingElement()) {
        const char* cv = IsOutline(c) ? c->Attribute("xmlUrl") : nullptr;
        if (cv && NodeText(cv) == url) channel = c;
      }
    }
  }
  if (!target || !channel || channel == target) return 0;
  TiXmlElement copy(*channel);
  ForgetChannelIndex();
  channel->Parent()->RemoveChild(channel);
  target->InsertEndChild(copy);
  Commit();
  return 1;
}

void COpmlXML::VisitElement(TiXmlElement* parent, TiXmlElement* element) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!IsOutline(element)) return;
  CString parentText;
  if (IsOutline(parent)) {
    for (const TiXmlAttribute* a = parent->FirstAttribute(); a; a = a->Next()) {
      CString name = NodeText(a->Name());
      CString value = NodeText(a->Value());
      if (m_bTypeFilter && name.CompareNoCase(u"type") == 0 && value.CompareNoCase(u"rss") != 0) return;
      if (name.CompareNoCase(u"text") == 0 || name.CompareNoCase(u"title") == 0) parentText = value;
    }
  }
  // Attributes are handed over as they stand in the file: a ":" in a name or
  // a "|" in a value is part of the text, not a separator.
  int reported = 0;
  for (const TiXmlAttribute* a = element->FirstAttribute(); a; a = a->Next()) {
    CString name = NodeText(a->Name());
    CString value = NodeText(a->Value());
    if (m_bTypeFilter && name.CompareNoCase(u"type") == 0 && value.CompareNoCase(u"rss") != 0) return;
    if (m_pCallback) m_pCallback(m_pContext, parentText, name, value);
    ++reported;
  }
  if (reported && m_pCallback) m_pCallback(m_pContext, parentText, u"", u"");
}
