// A small, forgiving HTML scanner: it works on the page text as one wide
// string and on character positions (0-based indexes), finds the next tag
// from a position, cuts spans of the page, and builds a flat list of element
// records from one element, which extraction scripts walk by id. It never
// builds a document object model.
//
// A node crosses to the script as the entry "id,parentId,NAME,start,end";
// lists of nodes are entries joined by "|".
#pragma once

#include <string>
#include <vector>

#include "framework/afx.h"

struct CHtmlNode {
  int id = 0;
  CString name;        // upper case, at most 17 characters
  int startPos = -1;   // the start tag's "<"
  int endPos = -1;     // the ">" of the matching end tag; -1 until closed
  int parentId = -1;   // -1 for none
};

class CHtmlNodeTree {
 public:
  // The next start tag's name in upper case at or after position, which is
  // set to its "<"; "" and -1 when there is none. Comments, end tags and
  // META tags are passed over.
  static CString FindNextTag(const CString& text, int& position);
  // From the "<" of the next tag at or after position through end
  // inclusive (to the end of the text when end is negative; cut at the end
  // of the text); "" when there is no tag or end lies before it.
  static CString GetOuterHtml(const CString& text, int position, int end);
  // The next tag's characters from its "<" up to its first ">", not beyond
  // end, without the "<" and ">" characters.
  static CString GetTagText(const CString& text, int position, int end);

  // Page text for every "{field,start,end}" group of the token.
  CString ResolveHtmlToken(const CString& token) const;
  // Entries of the nodes named tag whose attribute has the value (both
  // compared without regard to case).
  CString GetElementsByAttr(const CString& tag, const CString& attribute, const CString& value) const;
  // kind 0 the node, 1 its first child, 2 its last child, 3 its previous
  // sibling, 4 its next sibling; "" when there is none.
  CString GetRelatedNode(int id, int kind) const;
  // Builds the node map from the element name whose tag is the next at or
  // after position; "" (and the map unchanged) when the next tag's name is
  // not name.
  CString GetNodeTree(const CString& text, const CString& name, int position);

  const CString& GetArticleUrl() const { return m_strArticleUrl; }
  void SetArticleUrl(const CString& url) { m_strArticleUrl = url; }
  const CString& GetPageText() const { return m_strPage; }
  void SetPageText(CString text) { m_strPage = std::move(text); }
  // The node map of the last build, ordered by id.
  const std::vector<CHtmlNode>& Nodes() const { return m_nodes; }

  static CString Entry(const CHtmlNode& node);
  // The memory the tree keeps: the page, the URL and the node map.
  size_t HeldMemory() const;

 private:
  std::vector<CHtmlNode> m_nodes;
  // Work lists of a build: the open-element stack and the completed
  // records, emptied at its start and freed at its end.
  std::vector<CHtmlNode> m_stack;
  std::vector<CHtmlNode> m_completed;
  CString m_strPage;
  CString m_strArticleUrl;
};
