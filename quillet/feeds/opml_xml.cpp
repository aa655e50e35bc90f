#include "quillet/feeds/opml_xml.h"

#include <tinyxml.h>

#include <cstdlib>
#include <cstring>

#include "kernel/kernel.h"
#include "net/urlfuncs.h"

namespace {

const char kEmptyList[] =
    "<?xml version=\"1.0\" ?><opml version=\"1.0\"><head>   <title>Channels</title>   <options />   "
    "<keywordList />   <updated /></head><body></body></opml>";

bool IsOutline(const TiXmlElement* e) { return CEXML::NameIs(e, "outline"); }

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
  ForgetChannelIndex();
  // A channel that could not be written is not added: the list in memory
  // stays what the file holds, and the caller reports the failure.
  if (!Commit()) {
    if (added) parent->RemoveChild(added);
    return 0;
  }
  return number;
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
  if (!newName || !*newName || !oldName) return 0;
  if (!EnsureBody()) return 0;
  TiXmlElement* body = Body();
  TiXmlElement* target = nullptr;
  for (TiXmlElement* e = body->FirstChildElement(); e && !target; e = e->NextSiblingElement()) {
    if (IsOutline(e) && AttributeText(e, "text") == oldName) target = e;
  }
  for (TiXmlElement* e = body->FirstChildElement(); e && !target; e = e->NextSiblingElement()) {
    if (!IsOutline(e)) continue;
    for (TiXmlElement* c = e->FirstChildElement(); c && !target; c = c->NextSiblingElement()) {
      if (IsOutline(c) && AttributeText(c, "text") == oldName) target = c;
    }
  }
  if (!target) return 0;
  target->SetAttribute("text", ToDocumentText(newName).c_str());
  Commit();
  return 1;
}

int COpmlXML::RemoveChannelById(LPCWSTR category, OpmlChannelIdCallback callback) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!category || !*category) return 0;
  TiXmlElement* body = Body();
  if (!body) return 0;
  if (RemoveCategory(category, callback)) return 1;
  for (TiXmlElement* e = body->FirstChildElement(); e; e = e->NextSiblingElement()) {
    if (!IsOutline(e)) continue;
    for (TiXmlElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement()) {
      if (IsOutline(c) && AttributeText(c, "text") == category) {
        // Whatever goes from the list takes its files with it.
        const char* id = c->Attribute("uniqueID");
        if (callback && id) callback(atoi(id));
        ForgetChannelIndex();
        e->RemoveChild(c);
        Commit();
        return 1;
      }
    }
  }
  return 0;
}

int COpmlXML::RemoveCategory(LPCWSTR category, OpmlChannelIdCallback callback) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!category || !*category) return 0;
  TiXmlElement* body = Body();
  if (!body) return 0;
  for (TiXmlElement* e = body->FirstChildElement(); e; e = e->NextSiblingElement()) {
    if (!IsOutline(e) || AttributeText(e, "text") != category) continue;
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

BOOL COpmlXML::HasCategory(LPCWSTR category) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  TiXmlElement* body = Body();
  if (!body || !category || !*category) return FALSE;
  for (TiXmlElement* e = body->FirstChildElement(); e; e = e->NextSiblingElement())
    if (IsOutline(e) && AttributeText(e, "text") == category) return TRUE;
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
