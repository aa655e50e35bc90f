// The automation object and the script host (see ambrel/script_host.h).
#include "ambrel/script_host.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <system_error>

#include "ambrel/text_file.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/url_download.h"
#include "kernel/localmem.h"

namespace {

struct Charset {
  const char16_t* name;  // at most 31 characters
  UINT codePage;
};

const Charset kCharsets[] = {
    {u"ASMO-708", 708},      {u"DOS-720", 720},        {u"iso-8859-6", 28596}, {u"windows-1256", 1256},
    {u"windows-1257", 1257}, {u"ibm852", 852},         {u"iso-8859-2", 28592}, {u"windows-1250", 1250},
    {u"gb2312", 936},        {u"big5", 950},           {u"DOS-862", 862},      {u"cp866", 866},
    {u"windows-874", 874},   {u"shift_jis", 932},      {u"ks_c_5601-1987", 949}, {u"windows-1251", 1251},
    {u"iso-8859-1", 1252},   {u"windows-1253", 1253},  {u"iso-8859-9", 1254},  {u"windows-1255", 1255},
    {u"windows-1258", 1258}, {u"koi8-r", 20866},       {u"koi8-ru", 21866},    {u"iso-8859-5", 28595},
    {u"iso-8859-7", 28597},  {u"iso-8859-8", 28598},   {u"iso-8859-8-i", 38598}, {u"euc-jp", 51932},
    {u"hz-gb-2312", 52936},  {u"utf-8", 65001},
};

CString TakeText(WCHAR* text, int length) {
  CString out = text && length > 0 ? CString(text, length) : CString();
  std::free(text);
  return out;
}

// The host path that an absolute host path finally names: every link on
// the way followed, the last part's too, also a link whose target does not
// exist (yet). Empty when the links run in a loop or cannot be read.
std::string FinalHostPath(const std::string& path) {
  std::vector<std::string> todo;  // the parts still to walk, the next one last
  auto pushParts = [&todo](const std::string& p) {
    std::vector<std::string> parts;
    size_t from = 0;
    while (from < p.size()) {
      size_t slash = p.find('/', from);
      if (slash == std::string::npos) slash = p.size();
      if (slash > from) parts.push_back(p.substr(from, slash - from));
      from = slash + 1;
    }
    todo.insert(todo.end(), parts.rbegin(), parts.rend());
  };
  pushParts(path);
  std::string done;  // "" stands for "/"
  int links = 0;
  while (!todo.empty()) {
    std::string part = std::move(todo.back());
    todo.pop_back();
    if (part == ".") continue;
    if (part == "..") {
      size_t slash = done.rfind('/');
      done.erase(slash == std::string::npos ? 0 : slash);
      continue;
    }
    std::string next = done + "/" + part;
    struct stat st;
    if (::lstat(next.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      char target[PATH_MAX];
      ssize_t length = ::readlink(next.c_str(), target, sizeof target);
      if (++links > 40 || length <= 0 || static_cast<size_t>(length) >= sizeof target) return std::string();
      if (target[0] == '/') done.clear();
      pushParts(std::string(target, static_cast<size_t>(length)));
      continue;
    }
    done = std::move(next);
  }
  return done.empty() ? std::string("/") : done;
}

// Creates or truncates a device file and writes the bytes; a link in the
// file's place is not followed.
bool WriteFileNoFollow(const CString& devicePath, const std::string& bytes) {
  int fd = ::open(qk::HostPath(devicePath).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  return done == bytes.size();
}

// The text as the article file carries it: UTF-8, with U+FFFD for a
// surrogate that has no partner (no valid UTF-8 can carry it).
std::string ArticleBytes(const std::u16string& text) {
  std::u16string whole;
  const std::u16string* source = &text;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;
      continue;
    }
    if (!high && !low) continue;
    if (source == &text) {
      whole = text;
      source = &whole;
    }
    whole[i] = u'\xFFFD';
  }
  return qk::ToUtf8(*source);
}

using qk::script::Method;
using qk::script::Param;
using qk::script::Value;

Value Text(CString s) { return Value::Text(std::move(s.str())); }
CString Arg(const std::vector<Value>& args, size_t i) { return CString(args[i].text); }

}  // namespace

UINT CodePageOfEncoding(const CString& encoding) {
  if (encoding.IsEmpty()) return CP_ACP;
  for (const auto& c : kCharsets)
    if (encoding.CompareNoCase(c.name) == 0) return c.codePage;
  int number = _wtoi(encoding);
  if (number >= 1) return static_cast<UINT>(number);
  // A charset the table lacks but the code-page layer knows ("windows-1252",
  // "euc-kr"...) is read in its own code page: the system's code page is
  // UTF-8 here, not the Western page that such pages used to fall back on.
  std::string narrow = qk::ToUtf8(encoding.str());
  if (UINT known = qk::CodePageFromCharset(narrow.c_str())) return known;
  return CP_ACP;
}

BOOL ResolveOutputPath(LPCWSTR path, CString* resolved) {
  if (resolved) resolved->Empty();
  // No path names no place: the download itself reports it.
  if (!path || !*path) return TRUE;
  CString device(path);
  device.Replace(u'/', u'\\');
  // ".." never leaves the device root on its own, but a path that tries is
  // refused rather than bent back into it.
  int from = 0;
  for (;;) {
    CString part = device.Tokenize(u"\\", from);
    if (from < 0) break;
    if (part == u"..") return FALSE;
  }
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path root = fs::absolute(qk::DeviceRoot(), ec);
  if (ec) return FALSE;
  fs::path target = fs::absolute(qk::HostPath(path), ec);
  if (ec) return FALSE;
  std::string r = FinalHostPath(root.string()), t = FinalHostPath(target.string());
  if (r.empty() || t.empty()) return FALSE;
  if (r == "/") r.clear();
  if (!(t.size() > r.size() && t.compare(0, r.size(), r) == 0 && t[r.size()] == '/')) return FALSE;
  if (resolved) {
    std::u16string inside = qk::FromUtf8(t.substr(r.size()));
    for (auto& c : inside)
      if (c == u'/') c = u'\\';
    *resolved = CString(std::move(inside));
  }
  return TRUE;
}

CString CCodeObject::URLDownload(const CString& url, const CString& encoding) {
  DWORD code = 0, size = 0;
  CString errorText;
  LPBYTE memory = nullptr;
  HRESULT hr = InternetDownloadFile(url, nullptr, &code, errorText, nullptr, &memory, &size);
  std::unique_ptr<BYTE, HLOCAL (*)(HLOCAL)> block(memory, LocalFree);
  if (hr != 0) return CString();
  UINT codePage = CodePageOfEncoding(encoding);
  WCHAR* text = nullptr;
  int length = 0;
  if (memory) {
    // The page's text, and the decoder's copy on the way to it.
    qk::script::ChargeMemory(2 * static_cast<size_t>(size) * sizeof(WCHAR));
    DecodeTextBytes(memory, size, &text, &length, codePage);
    block.reset();
  } else {
    LoadTextFile(m_strOutputPath, &text, &length, codePage);
  }
  std::unique_ptr<WCHAR, void (*)(void*)> decoded(text, std::free);
  if (!memory) qk::script::ChargeMemory(2 * static_cast<size_t>(length) * sizeof(WCHAR));
  // The tree keeps the one copy of the page that the object reads.
  m_tree.SetPageText(TakeText(decoded.release(), length));
  return m_tree.GetPageText();
}

CString CCodeObject::GetNodeName(int pos) {
  if (m_tree.GetPageText().IsEmpty()) return CString(u"<END>");
  CString name = CHtmlNodeTree::FindNextTag(m_tree.GetPageText(), pos);
  return name.IsEmpty() ? CString(u"<END>") : name;
}

int CCodeObject::GetNodeStartPos(int pos) {
  CHtmlNodeTree::FindNextTag(m_tree.GetPageText(), pos);
  return pos;
}

CString CCodeObject::GetNodeTree(const CString& name, int pos) { return m_tree.GetNodeTree(m_tree.GetPageText(), name, pos); }

CString CCodeObject::GetNodeOuterHTML(int start, int end) { return CHtmlNodeTree::GetOuterHtml(m_tree.GetPageText(), start, end); }

CString CCodeObject::GetNodeAttr(int start, int end) { return CHtmlNodeTree::GetTagText(m_tree.GetPageText(), start, end); }

CString CCodeObject::Outer2InnerHTML(const CString& html) {
  const std::u16string& s = html.str();
  size_t firstGt = s.find(u'>');
  if (firstGt == std::u16string::npos) return CString();
  size_t start = s.find(u'<', firstGt + 1);
  if (start == std::u16string::npos) return CString();
  size_t lastLt = s.rfind(u'<');
  if (lastLt == std::u16string::npos || lastLt == 0) return CString();
  size_t end = s.rfind(u'>', lastLt - 1);
  if (end == std::u16string::npos) return CString();
  if (start > 0 && end > 0 && end >= start) return CString(s.substr(start, end - start + 1));
  return CString();
}

void CCodeObject::LogPrint(const CString& text) { WriteLog(text); }

void CCodeObject::SetArticleBody(const CString& body) {
  CString name = m_strOutputPath;
  name.Replace(u".sft", u".htm");
  // The article goes where its name finally leads, inside the device root.
  CString article;
  if (!ResolveOutputPath(m_strOutputPath, nullptr) || !ResolveOutputPath(name, &article)) {
    WriteLog(u"SetArticleBody: the article path is refused.");
    return;
  }
  if (FileAccess(m_strOutputPath)) DeleteFileW(m_strOutputPath);
  if (body.IsEmpty() || article.IsEmpty()) return;
  WriteFileNoFollow(article, ArticleBytes(body.str()));
}

CString CCodeObject::GetArticleUrl(const CString&) { return m_tree.GetArticleUrl(); }

CString CCodeObject::GetHTML(const CString& token) { return m_tree.ResolveHtmlToken(token); }

CString CCodeObject::GetNodeElementsByAttr(const CString& tag, const CString& attr, const CString& value) {
  return m_tree.GetElementsByAttr(tag, attr, value);
}

CString CCodeObject::GetNodeElement(int id, int kind) { return m_tree.GetRelatedNode(id, kind); }

std::vector<Method> CCodeObject::Methods() {
  using P = Param;
  return {
      {u"URLDownload", {P::kText, P::kText}, [this](auto& a) { return Text(URLDownload(Arg(a, 0), Arg(a, 1))); }},
      {u"GetNodeName", {P::kNumber}, [this](auto& a) { return Text(GetNodeName(a[0].number)); }},
      {u"GetNodeStartPos", {P::kNumber}, [this](auto& a) { return Value::Number(GetNodeStartPos(a[0].number)); }},
      {u"GetNodeTree", {P::kText, P::kNumber}, [this](auto& a) { return Text(GetNodeTree(Arg(a, 0), a[1].number)); }},
      {u"GetNodeOuterHTML", {P::kNumber, P::kNumber},
       [this](auto& a) { return Text(GetNodeOuterHTML(a[0].number, a[1].number)); }},
      {u"GetNodeAttr", {P::kNumber, P::kNumber}, [this](auto& a) { return Text(GetNodeAttr(a[0].number, a[1].number)); }},
      {u"Outer2InnerHTML", {P::kText}, [this](auto& a) { return Text(Outer2InnerHTML(Arg(a, 0))); }},
      {u"LogPrint", {P::kText},
       [this](auto& a) {
         LogPrint(Arg(a, 0));
         return Value::None();
       }},
      {u"SetArticleBody", {P::kText},
       [this](auto& a) {
         SetArticleBody(Arg(a, 0));
         return Value::None();
       }},
      {u"GetArticleUrl", {P::kText}, [this](auto& a) { return Text(GetArticleUrl(Arg(a, 0))); }},
      {u"GetHTML", {P::kText}, [this](auto& a) { return Text(GetHTML(Arg(a, 0))); }},
      {u"GetNodeElementsByAttr", {P::kText, P::kText, P::kText},
       [this](auto& a) { return Text(GetNodeElementsByAttr(Arg(a, 0), Arg(a, 1), Arg(a, 2))); }},
      {u"GetNodeElement", {P::kNumber, P::kNumber},
       [this](auto& a) { return Text(GetNodeElement(a[0].number, a[1].number)); }},
  };
}

// The prefix is written in the older dialect the scripts use: no array or
// string methods beyond those it had.
const char* const kScriptPrefix =
    "function Article() {\n"
    "  this.url = undefined;\n"
    "  this.body = undefined;\n"
    "}\n"
    "function Node() {\n"
    "  this.id = -1;\n"
    "  this.parentId = -1;\n"
    "  this.startPos = -1;\n"
    "  this.endPos = -1;\n"
    "  this.body = undefined;\n"
    "  this.nodeName = \"\";\n"
    "  this.outerHTML = \"\";\n"
    "  this.all = undefined;\n"
    "}\n"
    "function NodeOfEntry(entry) {\n"
    "  var fields = String(entry).split(\",\");\n"
    "  if (fields.length != 5) return undefined;\n"
    "  var node = new Node();\n"
    "  node.id = fields[0];\n"
    "  node.parentId = fields[1];\n"
    "  node.nodeName = fields[2];\n"
    "  node.startPos = fields[3];\n"
    "  node.endPos = fields[4];\n"
    "  node.outerHTML = \"{outerHTML,\" + node.startPos + \",\" + node.endPos + \"}\";\n"
    "  return node;\n"
    "}\n"
    "Node.prototype.GetOuterHTML = function() { return GetHTML(this.outerHTML); };\n"
    "Node.prototype.GetParentNode = function() { return NodeOfEntry(GetNodeElement(this.parentId, 0)); };\n"
    "Node.prototype.GetFirstChild = function() { return NodeOfEntry(GetNodeElement(this.id, 1)); };\n"
    "Node.prototype.GetLastChild = function() { return NodeOfEntry(GetNodeElement(this.id, 2)); };\n"
    "Node.prototype.GetPreviousSibling = function() { return NodeOfEntry(GetNodeElement(this.id, 3)); };\n"
    "Node.prototype.GetNextSibling = function() { return NodeOfEntry(GetNodeElement(this.id, 4)); };\n"
    "Node.prototype.getElementsByAttr = function(tagname, attrname, attrvalue) {\n"
    "  var entries = String(GetNodeElementsByAttr(tagname, attrname, attrvalue)).split(\"|\");\n"
    "  var nodes = new Array();\n"
    "  for (var i = 0; i < entries.length; i++) {\n"
    "    var node = NodeOfEntry(entries[i]);\n"
    "    if (node != undefined) nodes[nodes.length] = node;\n"
    "  }\n"
    "  return nodes;\n"
    "};\n"
    "function Document(url, encoding) {\n"
    "  this.url = url;\n"
    "  this.encoding = encoding;\n"
    "  this.body = URLDownload(url, encoding);\n"
    "  var pos = 0;\n"
    "  for (;;) {\n"
    "    var name = GetNodeName(pos);\n"
    "    if (name == \"<END>\" || name == \"\") break;\n"
    "    if (name == \"HTML\") {\n"
    "      GetNodeTree(name, pos);\n"
    "      break;\n"
    "    }\n"
    "    pos = GetNodeStartPos(pos) + name.length + 1;\n"
    "  }\n"
    "  var root = new Node();\n"
    "  root.startPos = 0;\n"
    "  root.endPos = -1;\n"
    "  root.outerHTML = \"{outerHTML,0,-1}\";\n"
    "  return root;\n"
    "}\n"
    "function ScriptEntry() {\n"
    "var article = new Article();\n"
    "article.url = GetArticleUrl(\"ECMAScript\");\n";

const char* const kScriptSuffix =
    "\n"
    "SetArticleBody(article.body);\n"
    "}\n";

CString ComposeScript(const CString& scriptText) {
  WCHAR* prefix = nullptr;
  int prefixLength = 0;
  DecodeTextBytes(reinterpret_cast<const BYTE*>(kScriptPrefix), strlen(kScriptPrefix), &prefix, &prefixLength, CP_ACP);
  CString text = TakeText(prefix, prefixLength);
  text += scriptText;
  text += CString(kScriptSuffix);
  return text;
}

CScriptHost::CScriptHost() = default;
CScriptHost::~CScriptHost() { Close(); }

BOOL CScriptHost::CreateEngine(const qk::script::Limits& limits) {
  m_pCode = std::make_unique<CCodeObject>();
  m_pEngine = std::make_unique<qk::script::Engine>(limits);
  if (!m_pEngine->Create()) return FALSE;
  // The page and the node tree count against the script's memory.
  m_pEngine->SetHeldMemory([code = m_pCode.get()] { return code->HeldMemory(); });
  m_pEngine->SetErrorHandler([](const std::u16string& text) {
    CString line(u"Script error: ");
    line += CString(text);
    WriteLog(line);
  });
  return m_pEngine->AddNamedItem(u"Code", m_pCode->Methods(), true) ? TRUE : FALSE;
}

BOOL CScriptHost::ParseScript(const CString& text) {
  if (!m_pEngine) return FALSE;
  return m_pEngine->ParseScriptText(text.str()) ? TRUE : FALSE;
}

void CScriptHost::RunScriptEntry() {
  if (!m_pEngine || !m_pEngine->HasFunction(u"ScriptEntry")) return;
  m_pEngine->CallFunction(u"ScriptEntry");
}

void CScriptHost::Close() {
  if (m_pEngine) m_pEngine->Close();
  m_pEngine.reset();
  m_pCode.reset();
}

std::vector<CString> CScriptHost::Errors() const {
  std::vector<CString> out;
  if (m_pEngine)
    for (const auto& e : m_pEngine->Errors()) out.emplace_back(e);
  return out;
}
