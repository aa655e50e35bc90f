// The script host of the fetch program: the automation object "Code" that
// extraction scripts call (download the page, walk its tags, build the node
// tree, write the article file) and the host that runs one script over it.
//
// A channel's extraction script is the body of the function ScriptEntry,
// wrapped between a fixed prefix and suffix (ScriptPrefix, ScriptSuffix)
// that give it the objects Article, Node and Document; the suffix writes
// article.body with SetArticleBody. Script errors are logged and never end
// the program.
#pragma once

#include <memory>

#include "ambrel/html_node_tree.h"
#include "framework/afx.h"
#include "script/script.h"

// The code page of a charset name of a page ("windows-1251", "utf-8", ...),
// a decimal code page number, or the system's ANSI code page.
UINT CodePageOfEncoding(const CString& encoding);
// Whether the fetch program may write at a device path: the place it
// finally names, every link on the way followed (the last part's too, also
// one that leads nowhere yet), lies inside the device root, and it has no
// "..". TRUE then, with that place as a device path in resolved (when
// given), so that a write there meets no link. An empty path is left to the
// download, which fails on it (TRUE, resolved empty).
BOOL ResolveOutputPath(LPCWSTR path, CString* resolved);

class CCodeObject {
 public:
  // The methods, by their script names.
  CString URLDownload(const CString& url, const CString& encoding);
  CString GetNodeName(int pos);
  int GetNodeStartPos(int pos);
  CString GetNodeTree(const CString& name, int pos);
  CString GetNodeOuterHTML(int start, int end);
  CString GetNodeAttr(int start, int end);
  CString Outer2InnerHTML(const CString& html);
  void LogPrint(const CString& text);
  void SetArticleBody(const CString& body);
  CString GetArticleUrl(const CString& ignored);
  CString GetHTML(const CString& token);
  CString GetNodeElementsByAttr(const CString& tag, const CString& attr, const CString& value);
  CString GetNodeElement(int id, int kind);

  void SetOutputPath(const CString& path) { m_strOutputPath = path; }
  void SetArticleUrl(const CString& url) { m_tree.SetArticleUrl(url); }
  const CString& GetPageText() const { return m_tree.GetPageText(); }
  CHtmlNodeTree& Tree() { return m_tree; }
  // The memory the object keeps for the script between calls.
  size_t HeldMemory() const { return m_tree.HeldMemory() + m_strOutputPath.str().capacity() * sizeof(WCHAR); }

  // The methods as the script engine sees them.
  std::vector<qk::script::Method> Methods();

 private:
  CHtmlNodeTree m_tree;
  CString m_strOutputPath;
};

class CScriptHost {
 public:
  CScriptHost();
  ~CScriptHost();
  // Creates the automation object and the engine, and adds "Code" with its
  // methods also as globals. TRUE when the engine could be had.
  BOOL CreateEngine(const qk::script::Limits& limits = qk::script::Limits());
  CCodeObject* GetCodeObject() { return m_pCode.get(); }
  // Parses and runs the script's top level; FALSE (logged) on an error.
  BOOL ParseScript(const CString& text);
  // Calls ScriptEntry when the script defines it.
  void RunScriptEntry();
  void Close();
  // Errors the engine reported during this run.
  std::vector<CString> Errors() const;

 private:
  std::unique_ptr<CCodeObject> m_pCode;
  std::unique_ptr<qk::script::Engine> m_pEngine;
};

// The fixed text around a channel's script (8-bit text).
extern const char* const kScriptPrefix;
extern const char* const kScriptSuffix;
// Prefix, the script's text and suffix.
CString ComposeScript(const CString& scriptText);
