// The subscription list that the sync service sends
// ("VentrelSubscriptions.xml"): read only, one callback per subscription.
#pragma once

#include "quillet/feeds/exml.h"

// Receives one subscription: its title, feed URL and labels joined by ";".
typedef void (*SubscriptionCallback)(void* context, LPCWSTR title, LPCWSTR url, LPCWSTR labels);

class CSubscriptionsXML : public CEXML {
 public:
  CSubscriptionsXML(void* context, SubscriptionCallback callback);
  ~CSubscriptionsXML() override;

  void VisitElement(TiXmlElement*, TiXmlElement*) override {}
  // Reports every subscription of every list named "subscriptions"; returns 0.
  int ReadSubscriptions();
  // 1 when the object had a URL and a title and was reported.
  int ReadSubscription(TiXmlElement* object);

 private:
  void* m_pContext;
  SubscriptionCallback m_pCallback;
};
