#include "quillet/feeds/template_xml.h"

#include <tinyxml.h>

#include <strings.h>

CTemplateXML::CTemplateXML(TemplateCallback callback, void* context) : m_pCallback(callback), m_pContext(context) {}

CTemplateXML::~CTemplateXML() = default;

void CTemplateXML::VisitElement(TiXmlElement*, TiXmlElement* element) {
  if (!element || !m_pCallback || !NameIs(element, "template")) return;
  for (const TiXmlAttribute* a = element->FirstAttribute(); a; a = a->Next()) {
    if (strcasecmp(a->Name(), "name") == 0) m_pCallback(m_pContext, u"template", NodeText(a->Name()), NodeText(a->Value()));
  }
}

void CTemplateXML::Walk(TiXmlElement* parent, TiXmlElement* element) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!element) return;
  VisitElement(parent, element);
  if (!m_pCallback) return;
  for (TiXmlElement* c = element->FirstChildElement(); c; c = c->NextSiblingElement()) {
    CString name, text;
    if (NameIs(c, "channel")) {
      CString channelName, url;
      for (TiXmlElement* f = c->FirstChildElement(); f; f = f->NextSiblingElement()) {
        if (NameIs(f, "name")) GetElementText(f, name, channelName);
        else if (NameIs(f, "url")) GetElementText(f, name, url);
      }
      m_pCallback(m_pContext, u"channel", channelName, url);
    } else if (NameIs(c, "parse_article")) {
      GetElementText(c, name, text);
      m_pCallback(m_pContext, u"parse_article", name, text);
    }
  }
}
