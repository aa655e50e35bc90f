// A channel template ("\Templates\*.xml"): its name, the channels it offers
// and the extraction script, reported in document order to a callback.
//
//   <template version="1.0" name="..."><channel type="rss"><name/><url/></channel>
//   <parse_article>script</parse_article></template>
#pragma once

#include "quillet/feeds/exml.h"

// kind is "template" (attribute name, template name), "channel" (channel
// name, feed URL) or "parse_article" (element name, script text).
typedef void (*TemplateCallback)(void* context, LPCWSTR kind, LPCWSTR first, LPCWSTR second);

class CTemplateXML : public CEXML {
 public:
  CTemplateXML(TemplateCallback callback, void* context);
  ~CTemplateXML() override;

  void VisitElement(TiXmlElement* parent, TiXmlElement* element) override;
  // Visits the element, then reports its direct channel and script children.
  void Walk(TiXmlElement* parent, TiXmlElement* element) override;

 private:
  TemplateCallback m_pCallback;
  void* m_pContext;
};
