// The feed document: one downloaded RSS 0.9x, RSS 1.0 (RDF), RSS 2.0 or Atom
// file ("Ch%03d~.xml"), turned into records of the channel's item store
// ("Ch%03d.bin" beside it).
//
// Each item gets a page name "Ch007-<seconds>-<n>.htm" and each image that
// its content references a local name "Ch007-<seconds>-<n>.<ext>"; both
// take <n> from one process-wide counter, so a page and an image never share
// a base name. The images to fetch are listed in m_imageJobs as
// "key|page|reference|local name"; a "|" inside a key or a reference is
// written "%7C", so the four fields always split apart.
//
// Titles are plain text: the XML text with its HTML character references
// decoded once, or, where the element states its type (Atom "type", Atom
// 0.3 "mode"), plain text as it stands and the text of HTML or XHTML
// markup. Content and descriptions are HTML as the XML holds them (escaped
// markup, character data, or markup written as child elements, which keeps
// the namespace declarations its prefixes need) and are not decoded again;
// content that states it is plain text is escaped, and base64 is decoded. Item links that are relative resolve against
// xml:base and then against the feed's own address (SetFeedUrl).
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>

#include "framework/afx.h"
#include "quillet/feeds/exml.h"
#include "quillet/feeds/item_store.h"

// Reports a channel element ("channel", name, text) or an item child
// (element name, child name, text) during Walk.
typedef void (*RssElementCallback)(void* context, LPCWSTR kind, LPCWSTR name, LPCWSTR value);
// Returns non-zero to stop the parse.
typedef int (*RssCancelCallback)(void* context);

#define RSS_VERSION_20 0
#define RSS_VERSION_RDF 1
#define RSS_VERSION_091 2
#define RSS_VERSION_OTHER 3

// Image references whose address contains this host are not fetched.
#define RSS_AD_DOMAIN u"doubleclick.net"

class CRssXML : public CEXML {
 public:
  CRssXML(RssElementCallback elementCallback, RssCancelCallback cancelCallback, void* context, int readKeptCount);
  ~CRssXML() override;

  void VisitElement(TiXmlElement* parent, TiXmlElement* element) override;
  void Walk(TiXmlElement* parent, TiXmlElement* element) override;

  int GetTitle(CString& out);
  int GetLink(CString& out);
  int GetImageUrl(CString& out);
  CString& GetBinPath(CString& out);
  // Parses every item into the store; 0 when the document holds no feed or
  // its items could not be written (the error item then stays). Given a
  // store (made with the kept count read), the parse works in it and leaves
  // it open and holding the file, whose bytes it knows, so that a caller
  // that goes on with the store does not read the file again.
  int SaveItems(CItemStore* store = nullptr);
  int ParseItem(TiXmlElement* item, CItemStore* store);
  int CountItems(int& itemCount, int& readCount);
  int AddErrorItem(LPCWSTR errorText);
  int RemoveErrorItem();
  CString& GetChannelInfoHtml(CString& out);

  // The address the feed was fetched from: relative item links resolve
  // against it.
  void SetFeedUrl(LPCWSTR url) { m_strFeedUrl = url ? url : u""; }
  CString GetFeedUrl() const { return m_strFeedUrl; }

  int GetVersion() const { return m_nVersion; }
  int GetKeptCount() const { return m_nKeptCount; }

  CStringList m_linksAdded;
  CStringList m_imageJobs;
  CStringList m_spare;
  CStringList m_readIds;

 private:
  TiXmlElement* TopElement() const;
  bool Cancelled() const { return m_pCancel && m_pCancel(m_pContext) != 0; }
  bool DownloadImages();
  CString NewPageName();
  CString NewImageName(const CString& extension);
  // Rewrites the image references of content to local names in one pass;
  // false when cancelled. Entries are "page|reference|local" until the key
  // is final; itemRefs maps the item's new references to their local names.
  // Relative image addresses resolve as the element's links do.
  bool LocaliseImages(const TiXmlElement* element, CString& content, const CString& pageName,
                      CStringList& itemImages, std::unordered_map<std::u16string, std::u16string>& itemRefs);
  // The element's text; markup written as child elements is kept as markup
  // (its text escaped), and so is all of it when markupOnly is set.
  CString ElementContent(const TiXmlElement* element, bool markupOnly = false) const;
  // The text of a title, summary or content as it stands in the element,
  // base64 decoded; markup as for ElementContent.
  CString ConstructValue(const TiXmlElement* element, bool markup, bool base64) const;
  // A summary or content as HTML: plain text escaped; empty for base64 of
  // something that is no text.
  CString ContentHtml(const TiXmlElement* element) const;
  // A title as one line of plain text: the markup of an HTML or XHTML title
  // reduced to its text, plain text as it stands, and a title of no stated
  // type with its references decoded once.
  CString TitleText(const TiXmlElement* element) const;
  // A link resolved against the xml:base of its element and its ancestors
  // and then against the feed's address.
  CString ResolveLink(const TiXmlElement* element, const CString& link) const;

  // References given a local name by items stored in the current parse.
  std::unordered_map<std::u16string, std::u16string> m_refToLocal;
  std::unordered_set<std::u16string> m_localNames;  // local image names given by the current parse
  // "id:" of every item and "title:"/"content:" of keyless items stored by this parse
  std::unordered_set<std::u16string> m_keylessAdded;
  std::unordered_set<std::u16string> m_linksAddedSet;  // m_linksAdded, for lookups
  CString m_strPageNamePath, m_strPageNameBase;        // the path the page names' base was taken from
  CString m_strFeedUrl;
  int m_nVersion;
  RssElementCallback m_pElement;
  RssCancelCallback m_pCancel;
  void* m_pContext;
  int m_nKeptCount;
  int m_nDownloadImage = -1;  // the "DownloadImage" setting as last read
  uint64_t m_nDownloadImageTick = 0;
};

// The counter that numbers page and image names (process-wide; tests set it).
void SetItemNameCounter(int value);
int NextItemNameNumber();
