#include "quillet/feeds/subscriptions_xml.h"

#include <tinyxml.h>

#include <strings.h>

namespace {

bool NameAttributeIs(const TiXmlElement* e, const char* value) {
  const char* v = e->Attribute("name");
  return v && strcasecmp(v, value) == 0;
}

}  // namespace

CSubscriptionsXML::CSubscriptionsXML(void* context, SubscriptionCallback callback)
    : m_pContext(context), m_pCallback(callback) {}

CSubscriptionsXML::~CSubscriptionsXML() = default;

int CSubscriptionsXML::ReadSubscriptions() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  TiXmlElement* root = GetRoot();
  if (!root) return 0;
  for (TiXmlElement* list = root->FirstChildElement(); list; list = list->NextSiblingElement()) {
    if (!NameAttributeIs(list, "subscriptions")) continue;
    for (TiXmlElement* o = list->FirstChildElement(); o; o = o->NextSiblingElement()) {
      if (NameIs(o, "object")) ReadSubscription(o);
    }
  }
  return 0;
}

int CSubscriptionsXML::ReadSubscription(TiXmlElement* object) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!object) return 0;
  CString url, title, labels, name, text;
  for (TiXmlElement* c = object->FirstChildElement(); c; c = c->NextSiblingElement()) {
    if (NameIs(c, "string") && NameAttributeIs(c, "id")) {
      GetElementText(c, name, text);
      url = text.GetLength() >= 5 && text.Left(5).CompareNoCase(u"feed/") == 0 ? text.Mid(5) : text;
    } else if (NameIs(c, "string") && NameAttributeIs(c, "title")) {
      GetElementText(c, name, title);
    } else if (NameIs(c, "list")) {
      for (TiXmlElement* entry = c->FirstChildElement(); entry; entry = entry->NextSiblingElement()) {
        for (TiXmlElement* s = entry->FirstChildElement(); s; s = s->NextSiblingElement()) {
          if (!NameIs(s, "string") || !NameAttributeIs(s, "label")) continue;
          GetElementText(s, name, text);
          if (!labels.IsEmpty()) labels += u";";
          labels += text;
        }
      }
    }
  }
  if (url.IsEmpty() || title.IsEmpty() || !m_pCallback) return 0;
  m_pCallback(m_pContext, title, url, labels);
  return 1;
}
