// HTTP/1.1 wire format.
#include "ventrel/httpconn.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "ventrel/urlhelpers.h"
#include "ventrel/vlog.h"

#ifndef ERROR_INVALID_DATA
#define ERROR_INVALID_DATA 13L
#endif
#ifndef ERROR_OPERATION_ABORTED
#define ERROR_OPERATION_ABORTED 995L
#endif

namespace {

const char16_t* const kMethods[3] = {u"GET", u"POST", u"CONNECT"};

// Header text must not break the message: line breaks and NULs become blanks.
std::string HeaderText(const CString& s) {
  std::string out = WireBytes(s);
  for (char& c : out) {
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  }
  return out;
}

// The request target travels between blanks as ASCII: controls, blanks
// and every byte above 0x7F are percent-encoded from the target's bytes.
std::string TargetText(const CString& s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string raw = WireBytes(s);
  std::string out;
  for (unsigned char c : raw) {
    if (c <= 0x20 || c >= 0x7f) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += char(c);
    }
  }
  return out;
}

// ISO-8859-1 reading of header bytes: each byte one UTF-16 unit.
CString Latin1(const std::string& s) {
  std::u16string w;
  w.reserve(s.size());
  for (unsigned char c : s) w += char16_t(c);
  return CString(std::move(w));
}

std::string TrimBytes(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
  return s.substr(b, e - b);
}

// Reads a decimal Content-Length strictly; false for anything else.
bool ParseLength(const CString& text, uint64_t& value) {
  CString t = text;
  t.Trim();
  if (t.IsEmpty() || t.GetLength() > 18) return false;
  value = 0;
  for (int i = 0; i < t.GetLength(); ++i) {
    if (t[i] < u'0' || t[i] > u'9') return false;
    value = value * 10 + uint64_t(t[i] - u'0');
  }
  return true;
}

bool IsTokenChar(char c) {
  if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != '\0';
}

// Reads a chunk-size line: hexadecimal digits, then optional extensions
// (";" name ["=" token or quoted text], blanks allowed around ";" and "="),
// then the line end. false for a missing, negative or oversized size or a
// malformed extension.
bool ParseChunkSize(const std::string& line, uint64_t& size) {
  size_t end = line.size();
  if (end >= 2 && line[end - 2] == '\r' && line[end - 1] == '\n') end -= 2;
  else if (end >= 1 && line[end - 1] == '\n') end -= 1;
  else return false;
  size_t i = 0;
  size = 0;
  size_t digits = 0;
  for (; i < end; ++i) {
    char c = line[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else break;
    if (++digits > 15) return false;
    size = size * 16 + uint64_t(d);
  }
  if (digits == 0) return false;
  auto skipBlanks = [&] {
    while (i < end && (line[i] == ' ' || line[i] == '\t')) ++i;
  };
  for (;;) {
    size_t before = i;
    skipBlanks();
    if (i == end) return i == before;  // no blanks before the line end
    if (line[i] != ';') return false;
    ++i;
    skipBlanks();
    size_t nameStart = i;
    while (i < end && IsTokenChar(line[i])) ++i;
    if (i == nameStart) return false;
    skipBlanks();
    if (i < end && line[i] == '=') {
      ++i;
      skipBlanks();
      if (i < end && line[i] == '"') {
        ++i;
        while (i < end && line[i] != '"') {
          if (line[i] == '\\') ++i;
          ++i;
        }
        if (i >= end) return false;
        ++i;
      } else {
        size_t valueStart = i;
        while (i < end && IsTokenChar(line[i])) ++i;
        if (i == valueStart) return false;
      }
    }
  }
}

constexpr int kBlockSize = 131072;

// A sink over a buffered file that remembers why a write failed.
class FileSink : public CByteSink {
 public:
  explicit FileSink(CBufferedFile& file) : file_(file) {}
  BOOL Write(const char* data, int length) override {
    if (file_.Write(data, DWORD(length))) return TRUE;
    error_ = GetLastError();
    return FALSE;
  }
  DWORD error_ = 0;

 private:
  CBufferedFile& file_;
};

// Passes a body on until it would pass its bound.
class BoundedSink : public CByteSink {
 public:
  BoundedSink(CByteSink& next, uint64_t maxBytes) : next_(next), max_(maxBytes) {}
  BOOL Write(const char* data, int length) override {
    if (uint64_t(length) > max_ - total_) {
      over_ = true;
      return FALSE;
    }
    total_ += uint64_t(length);
    return next_.Write(data, length);
  }
  bool over_ = false;

 private:
  CByteSink& next_;
  uint64_t max_;
  uint64_t total_ = 0;
};

// The length of an existing file; 0 when it cannot be opened.
uint64_t FileLength(const CString& path) {
  HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  DWORD high = 0;
  DWORD low = GetFileSize(h, &high);
  CloseHandle(h);
  return (uint64_t(high) << 32) | low;
}

// Cuts a file back to length bytes.
void TruncateFile(const CString& path, uint64_t length) {
  HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  LONG high = LONG(length >> 32);
  SetLastError(NO_ERROR);
  if (SetFilePointer(h, LONG(length & 0xffffffffu), &high, FILE_BEGIN) != INVALID_SET_FILE_POINTER ||
      GetLastError() == NO_ERROR)
    SetEndOfFile(h);
  CloseHandle(h);
}

}  // namespace

CString TextOfBytes(const std::string& bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      out += char16_t(c);
      ++i;
      continue;
    }
    // A whole, shortest-form UTF-8 sequence of a scalar value, or one
    // escaped byte.
    int len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
    if (c > 0xF4) len = 0;
    uint32_t cp = len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
    bool ok = len > 0 && i + size_t(len) <= n;
    for (int k = 1; ok && k < len; ++k) {
      unsigned char t = static_cast<unsigned char>(bytes[i + size_t(k)]);
      if ((t & 0xC0) != 0x80) ok = false;
      else cp = (cp << 6) | (t & 0x3F);
    }
    if (ok && ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
               (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))))
      ok = false;
    if (!ok) {
      out += char16_t(0xDC00 + c);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += char16_t(0xD800 + (cp >> 10));
      out += char16_t(0xDC00 + (cp & 0x3FF));
    } else {
      out += char16_t(cp);
    }
    i += size_t(len);
  }
  return CString(std::move(out));
}

std::string WireBytes(const CString& text) {
  std::string out;
  const int n = text.GetLength();
  out.reserve(size_t(n));
  for (int i = 0; i < n; ++i) {
    uint32_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00);
      ++i;
    } else if (u >= 0xDC80 && u <= 0xDCFF) {
      out += char(u - 0xDC00);  // an escaped reply byte
      continue;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      u = 0xFFFD;
    }
    if (u < 0x80) {
      out += char(u);
    } else if (u < 0x800) {
      out += char(0xC0 | (u >> 6));
      out += char(0x80 | (u & 0x3F));
    } else if (u < 0x10000) {
      out += char(0xE0 | (u >> 12));
      out += char(0x80 | ((u >> 6) & 0x3F));
      out += char(0x80 | (u & 0x3F));
    } else {
      out += char(0xF0 | (u >> 18));
      out += char(0x80 | ((u >> 12) & 0x3F));
      out += char(0x80 | ((u >> 6) & 0x3F));
      out += char(0x80 | (u & 0x3F));
    }
  }
  return out;
}

// Requests.

CHttpRequest::CHttpRequest(int method, const CString& path, int port) : m_nMethod(method), m_strPath(path) {
  if (m_nMethod < 0 || m_nMethod > 2) m_nMethod = 0;
  if (port < 0) {
    m_strRequestLine.Format(u"%s %s HTTP/1.1\r\n", kMethods[m_nMethod], path.GetString());
  } else {
    m_strRequestLine.Format(u"%s %s:%d HTTP/1.1\r\n", kMethods[m_nMethod], path.GetString(), port);
  }
  VLog(u"%s", m_strRequestLine.GetString());
}

LPCWSTR CHttpRequest::GetMethodText() const { return kMethods[m_nMethod]; }

CString CHttpRequest::GetWireTarget() const { return TextOfBytes(TargetText(m_strPath)); }

void CHttpRequest::AddHeader(const CString& name, const CString& value) {
  for (auto& h : m_headers) {
    if (h.first == name) {
      h.second = value;
      return;
    }
  }
  m_headers.emplace_back(name, value);
}

void CHttpRequest::AddHeader(const CString& name, int number) {
  CString v;
  v.Format(u"%d", number);
  AddHeader(name, v);
}

void CHttpRequest::AddHeaders(const CHeaderList& list) {
  for (const auto& h : list) m_headers.push_back(h);
}

void CHttpRequest::AddCookies(const std::vector<CString>& cookies) {
  for (const CString& c : cookies) m_headers.emplace_back(CString(u"Cookie"), c);
}

BOOL CHttpRequest::GetHeader(LPCWSTR name, CString& value) const {
  for (const auto& h : m_headers) {
    if (h.first == name) {
      value = h.second;
      return TRUE;
    }
  }
  return FALSE;
}

std::string CHttpRequest::Serialize(const CStringList* rawLines) const {
  std::string out;
  // The request line with its target made safe.
  int sp1 = m_strRequestLine.Find(u' ');
  int sp2 = m_strRequestLine.ReverseFind(u' ');
  if (sp1 > 0 && sp2 > sp1) {
    out += CStringA(m_strRequestLine.Left(sp1)).str();
    out += ' ';
    out += TargetText(m_strRequestLine.Mid(sp1 + 1, sp2 - sp1 - 1));
    out += HeaderText(m_strRequestLine.Mid(sp2).TrimRight(u"\r\n"));
    out += "\r\n";
  } else {
    out += HeaderText(m_strRequestLine.Left(m_strRequestLine.GetLength()).TrimRight(u"\r\n")) + "\r\n";
  }
  for (const auto& h : m_headers) out += HeaderText(h.first) + ": " + HeaderText(h.second) + "\r\n";
  if (rawLines) {
    for (POSITION pos = rawLines->GetHeadPosition(); pos;) out += HeaderText(rawLines->GetNext(pos)) + "\r\n";
  }
  out += "\r\n";
  if (m_nMethod == HTTP_METHOD_POST) out += WireBytes(m_strBody);
  return out;
}

BOOL CHttpRequest::Write(CHttpSocket& socket, const CStringList* rawLines) const {
  std::string bytes = Serialize(rawLines);
  return socket.Send(bytes.data(), int(bytes.size()));
}

// Responses.

void CHttpResponse::ParseStatusLine(const CString& line) {
  m_strStatusLine = line;
  m_nStatusCode = 0;
  const int n = line.GetLength();
  if (n < 8 || line.Left(5) != CString(u"HTTP/") || !iswdigit16(line[5]) || line[6] != u'.' || !iswdigit16(line[7]))
    return;
  int i = 8;
  while (i < n && (line[i] == u' ' || line[i] == u'\t')) ++i;
  int code = 0, digits = 0;
  while (i < n && iswdigit16(line[i]) && digits < 4) {
    code = code * 10 + (line[i] - u'0');
    ++digits;
    ++i;
  }
  if (digits == 3 && (i == n || !iswdigit16(line[i]))) m_nStatusCode = code;
}

void CHttpResponse::AddHeader(const CString& name, const CString& value) { m_headers.emplace_back(name, value); }

BOOL CHttpResponse::GetHeader(LPCWSTR name, CString& value) const {
  for (const auto& h : m_headers) {
    if (h.first.CompareNoCase(name) == 0) {
      value = h.second;
      return TRUE;
    }
  }
  return FALSE;
}

// The response reader.

int ReadHttpLine(CByteSource& source, std::string& line, size_t maxLine) {
  VLog(u"CHttpConnection::ReceiveLine()");
  line.clear();
  char c;
  for (;;) {
    int n = source.Receive(&c, 1);
    if (n <= 0) return READ_FAILED;
    line += c;
    if (c == '\n') return READ_OK;
    if (line.size() >= maxLine) return READ_BAD_SYNTAX;
  }
}

int ReadResponseHead(CByteSource& source, const CResponseLimits& limits, CHttpResponse*& response, CString& why) {
  response = nullptr;
  std::string line;
  int rc;
  // Empty lines before the status line are tolerated (a few of them).
  for (int blank = 0;; ++blank) {
    rc = ReadHttpLine(source, line, limits.maxLine);
    if (rc != READ_OK || blank >= 8 || (line != "\r\n" && line != "\n")) break;
  }
  if (rc != READ_OK) {
    why = rc == READ_BAD_SYNTAX ? u"status line too long" : u"no status line";
    return rc;
  }
  auto resp = std::make_unique<CHttpResponse>();
  resp->ParseStatusLine(Latin1(line));
  size_t total = line.size();
  for (size_t count = 0;; ++count) {
    rc = ReadHttpLine(source, line, limits.maxLine);
    if (rc != READ_OK) {
      why = rc == READ_BAD_SYNTAX ? u"header line too long" : u"headers incomplete";
      return rc;
    }
    total += line.size();
    if (total > limits.maxHeaderBytes || count >= limits.maxHeaders) {
      why = u"headers too large";
      return READ_BAD_SYNTAX;
    }
    std::string t = TrimBytes(line);
    // A NUL or a lone carriage return inside a header would cut or hide
    // part of it wherever the text is compared as a C string: each stands
    // as a blank, so "chunked\0gzip" is no "chunked".
    for (char& c : t) {
      if (c == '\0' || c == '\r') c = ' ';
    }
    // A cookie the server sets may be a session: the log, which anyone on
    // the device may read, names the header without its value.
    const std::string name = t.substr(0, t.find(':'));
    if (name.size() == 10 && strncasecmp(name.c_str(), "set-cookie", 10) == 0 && name.size() < t.size())
      VLog(u"\t\t%s: (value not logged)", Latin1(name).GetString());
    else
      VLog(u"\t\t%s", Latin1(t).GetString());
    if (!t.empty() && (line[0] == ' ' || line[0] == '\t')) {
      // A folded line continues the header before it; one before any
      // header has nothing to continue and is dropped.
      if (!resp->m_headers.empty()) {
        CString& value = resp->m_headers.back().second;
        if (!value.IsEmpty()) value += u' ';
        value += Latin1(t);
      }
      continue;
    }
    if (t.empty()) break;
    size_t colon = t.find(':');
    if (colon == std::string::npos) break;  // what follows counts as body
    resp->AddHeader(Latin1(t.substr(0, colon)), Latin1(TrimBytes(t.substr(colon + 1))));
  }
  response = resp.release();
  return READ_OK;
}

int ReadFinalResponseHead(CByteSource& source, const CResponseLimits& limits, CHttpResponse*& response,
                          CString& why) {
  // A few interim answers at most: a server that sends nothing else is not
  // followed for ever.
  for (int interim = 0;; ++interim) {
    int rc = ReadResponseHead(source, limits, response, why);
    if (rc != READ_OK) return rc;
    int status = response->m_nStatusCode;
    if (status < 100 || status > 199) return READ_OK;
    VLog(u"Interim answer %d skipped", status);
    delete response;
    response = nullptr;
    if (interim >= 32) {
      why = u"too many interim answers";
      return READ_BAD_SYNTAX;
    }
  }
}

BOOL GetBodyFraming(const CHttpResponse& response, CBodyFraming& framing, CString& why) {
  framing = CBodyFraming();
  // A coding may be named over several headers of the same name (they make
  // one list): every one of them counts, not only the first.
  for (const auto& h : response.m_headers) {
    if (h.first.CompareNoCase(u"Content-Encoding") != 0) continue;
    CString coding = h.second;
    coding.Trim();
    if (!coding.IsEmpty() && coding.CompareNoCase(u"identity") != 0) {
      why.Format(u"unsupported Content-Encoding '%s'", coding.GetString());
      return FALSE;
    }
  }
  bool chunked = false;
  for (const auto& h : response.m_headers) {
    if (h.first.CompareNoCase(u"Transfer-Encoding") != 0) continue;
    CString te = h.second;
    te.Trim();
    if (chunked || te.CompareNoCase(u"chunked") != 0) {
      why.Format(u"unsupported Transfer-Encoding '%s'", te.GetString());
      return FALSE;
    }
    chunked = true;
  }
  if (chunked) {
    framing.kind = CBodyFraming::CHUNKED;
    return TRUE;
  }
  bool have = false;
  for (const auto& h : response.m_headers) {
    if (h.first.CompareNoCase(u"Content-Length") != 0) continue;
    uint64_t v;
    if (!ParseLength(h.second, v) || (have && v != framing.length)) {
      why.Format(u"invalid Content-Length '%s'", h.second.GetString());
      return FALSE;
    }
    framing.kind = CBodyFraming::LENGTH;
    framing.length = v;
    have = true;
  }
  return TRUE;
}

int ReadResponseBody(CByteSource& source, const CBodyFraming& framing, CByteSink& sink,
                     const CResponseLimits& limits, CString& why, uint64_t* received) {
  std::vector<char> block(kBlockSize);
  uint64_t total = 0;
  auto done = [&](int rc) {
    if (received) *received = total;
    return rc;
  };
  // Moves exactly want bytes (or until close when want is ~0).
  auto move = [&](uint64_t want, bool untilClose) -> int {
    while (untilClose || want > 0) {
      VLog(u"CHttpConnection::ReceiveBlock()");
      int ask = kBlockSize;
      if (!untilClose && want < uint64_t(ask)) ask = int(want);
      int n = source.Receive(block.data(), ask);
      if (n < 0) {
        why = u"receive failed or timed out";
        return READ_FAILED;
      }
      if (n == 0) {
        if (untilClose) return READ_OK;
        why.Format(u"the server closed the connection after %llu bytes of the body", (unsigned long long)total);
        return READ_FAILED;
      }
      if (!sink.Write(block.data(), n)) {
        why = u"the body cannot be stored";
        return READ_WRITE_FAILED;
      }
      total += uint64_t(n);
      if (!untilClose) want -= uint64_t(n);
    }
    return READ_OK;
  };

  if (framing.kind == CBodyFraming::UNTIL_CLOSE) return done(move(0, true));
  if (framing.kind == CBodyFraming::LENGTH) {
    int rc = move(framing.length, false);
    if (rc != READ_OK) return done(rc);
    // The body is complete. Bytes the server still sends before it closes
    // are kept as a body read until the close keeps them; a server that
    // neither closes nor stops is not followed far.
    const uint64_t kMaxExtra = 1 << 20;
    auto tailStart = std::chrono::steady_clock::now();
    uint64_t extra = 0;
    while (extra < kMaxExtra && std::chrono::steady_clock::now() - tailStart < std::chrono::seconds(1)) {
      int n = source.ReceiveAfterEnd(block.data(), int(std::min<uint64_t>(kBlockSize, kMaxExtra - extra)));
      if (n <= 0) break;
      if (!sink.Write(block.data(), n)) {
        why = u"the body cannot be stored";
        return done(READ_WRITE_FAILED);
      }
      extra += uint64_t(n);
      total += uint64_t(n);
    }
    if (extra > 0)
      VLog(u"%llu bytes after the announced %llu kept", (unsigned long long)extra, (unsigned long long)framing.length);
    return done(READ_OK);
  }
  std::string line;
  for (;;) {
    int rc = ReadHttpLine(source, line, limits.maxLine);
    if (rc != READ_OK) {
      why = rc == READ_BAD_SYNTAX ? u"chunk-size line too long" : u"the body ended without its last chunk";
      return done(rc);
    }
    uint64_t size;
    if (!ParseChunkSize(line, size)) {
      why.Format(u"bad chunk size '%s'", Latin1(TrimBytes(line)).GetString());
      return done(READ_BAD_SYNTAX);
    }
    if (size == 0) break;
    rc = move(size, false);
    if (rc != READ_OK) return done(rc);
    rc = ReadHttpLine(source, line, limits.maxLine);
    if (rc != READ_OK || (line != "\r\n" && line != "\n")) {
      why = u"chunk data not followed by a line end";
      return done(rc == READ_FAILED ? READ_FAILED : READ_BAD_SYNTAX);
    }
  }
  // Trailer lines up to the empty line; a server that closes instead has
  // still sent the whole body.
  size_t trailerBytes = 0;
  for (size_t i = 0; i < limits.maxHeaders; ++i) {
    int rc = ReadHttpLine(source, line, limits.maxLine);
    if (rc == READ_FAILED) return done(READ_OK);
    trailerBytes += line.size();
    if (rc != READ_OK || trailerBytes > limits.maxHeaderBytes) {
      why = u"trailer too large";
      return done(READ_BAD_SYNTAX);
    }
    if (line == "\r\n" || line == "\n") return done(READ_OK);
  }
  why = u"too many trailer lines";
  return done(READ_BAD_SYNTAX);
}

// Buffered file.

CBufferedFile::CBufferedFile(DWORD bufferSize)
    : m_hFile(INVALID_HANDLE_VALUE),
      m_buffer(bufferSize ? bufferSize : 1),
      m_nBufferSize(bufferSize ? bufferSize : 1),
      m_nPosition(0),
      m_nValid(0),
      m_nOffset(0),
      m_nAccess(0) {
  InitializeCriticalSection(&m_cs);
}

CBufferedFile::~CBufferedFile() {
  Close();
  DeleteCriticalSection(&m_cs);
}

BOOL CBufferedFile::Open(LPCWSTR path, DWORD access, DWORD share, DWORD creation, DWORD attributes) {
  Close();
  m_hFile = CreateFileW(path, access, share, nullptr, creation, attributes, nullptr);
  m_nPosition = m_nValid = 0;
  m_nOffset = 0;
  m_nAccess = access;
  return m_hFile != INVALID_HANDLE_VALUE;
}

BOOL CBufferedFile::Flush() {
  if (m_hFile == INVALID_HANDLE_VALUE || !(m_nAccess & GENERIC_WRITE) || m_nPosition == 0) return TRUE;
  DWORD written = 0;
  BOOL ok = WriteFile(m_hFile, m_buffer.data(), m_nPosition, &written, nullptr) && written == m_nPosition;
  if (ok) {
    m_nOffset += m_nPosition;
    m_nPosition = 0;
  }
  return ok;
}

BOOL CBufferedFile::Write(const void* data, DWORD length) {
  if (m_hFile == INVALID_HANDLE_VALUE) return FALSE;
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    if (m_nPosition == 0 && length >= m_nBufferSize) {
      // Whole buffers' worth goes straight to the file.
      DWORD chunk = length - length % m_nBufferSize;
      DWORD written = 0;
      if (!WriteFile(m_hFile, p, chunk, &written, nullptr) || written != chunk) return FALSE;
      m_nOffset += chunk;
      p += chunk;
      length -= chunk;
      continue;
    }
    DWORD room = m_nBufferSize - m_nPosition;
    DWORD take = length < room ? length : room;
    std::memcpy(m_buffer.data() + m_nPosition, p, take);
    m_nPosition += take;
    if (m_nPosition > m_nValid) m_nValid = m_nPosition;
    p += take;
    length -= take;
    if (m_nPosition == m_nBufferSize) {
      if (!Flush()) return FALSE;
      m_nValid = 0;
    }
  }
  return TRUE;
}

BOOL CBufferedFile::Read(void* data, DWORD length, DWORD& read) {
  read = 0;
  if (m_hFile == INVALID_HANDLE_VALUE) return FALSE;
  char* p = static_cast<char*>(data);
  while (length > 0) {
    if (m_nPosition >= m_nValid) {
      m_nOffset += m_nValid;
      m_nPosition = m_nValid = 0;
      DWORD got = 0;
      if (!ReadFile(m_hFile, m_buffer.data(), m_nBufferSize, &got, nullptr) || got == 0) break;
      m_nValid = got;
    }
    DWORD take = m_nValid - m_nPosition < length ? m_nValid - m_nPosition : length;
    std::memcpy(p, m_buffer.data() + m_nPosition, take);
    m_nPosition += take;
    p += take;
    length -= take;
    read += take;
  }
  return read > 0;
}

BOOL CBufferedFile::Seek(LONG offset, int origin) {
  if (m_hFile == INVALID_HANDLE_VALUE) return FALSE;
  if (!Flush()) return FALSE;
  int64_t target;
  if (origin == 0) {
    target = offset;
  } else if (origin == 1) {
    target = int64_t(m_nOffset + m_nPosition) + offset;
  } else {
    DWORD high = 0;
    DWORD low = GetFileSize(m_hFile, &high);
    target = int64_t((uint64_t(high) << 32) | low) - offset;
  }
  if (target < 0) return FALSE;
  if (!(m_nAccess & GENERIC_WRITE) && uint64_t(target) >= m_nOffset && uint64_t(target) < m_nOffset + m_nValid) {
    m_nPosition = DWORD(uint64_t(target) - m_nOffset);
    return TRUE;
  }
  LONG high = LONG(uint64_t(target) >> 32);
  if (SetFilePointer(m_hFile, LONG(uint64_t(target) & 0xffffffffu), &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
      GetLastError() != NO_ERROR)
    return FALSE;
  m_nOffset = uint64_t(target);
  m_nPosition = m_nValid = 0;
  return TRUE;
}

BOOL CBufferedFile::Close() {
  if (m_hFile == INVALID_HANDLE_VALUE) return TRUE;
  BOOL ok = Flush();
  DWORD err = ok ? 0 : GetLastError();
  CloseHandle(m_hFile);
  m_hFile = INVALID_HANDLE_VALUE;
  m_nPosition = m_nValid = 0;
  if (!ok) SetLastError(err);
  return ok;
}

// The connection.

// Reads from the connection's socket. The head of a response is read
// through a buffer; nothing is read ahead of a proxy's CONNECT reply, so the
// TLS handshake that follows finds its bytes on the socket. A deadline bounds
// a whole phase (a server that trickles an endless head); a body without a
// deadline must keep a minimal pace.
class CHttpConnection::SocketSource : public CByteSource {
 public:
  SocketSource(CHttpConnection& conn, bool readAhead) : conn_(conn), readAhead_(readAhead) {}
  void SetDeadline(DWORD ms) {
    deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    hasDeadline_ = true;
  }
  void ClearDeadline() { hasDeadline_ = false; }
  // The end of the whole body: no receive goes past it.
  void SetBodyDeadline(DWORD ms) {
    bodyDeadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    hasBodyDeadline_ = true;
    overdue_ = false;
  }
  void ClearBodyDeadline() { hasBodyDeadline_ = false; }
  // Whether a receive found the body's end passed.
  bool Overdue() const { return overdue_; }
  // The server closes right after a whole body; one that keeps the
  // connection despite "Connection: close" is not waited for long.
  int ReceiveAfterEnd(char* buffer, int size) override {
    SetDeadline(conn_.m_socket.m_nTimeout < 1000 ? conn_.m_socket.m_nTimeout : 1000);
    int n = Receive(buffer, size);
    ClearDeadline();
    return n;
  }
  int Receive(char* buffer, int size) override {
    if (conn_.m_cancel.load()) return -1;
    if (hasBodyDeadline_ && std::chrono::steady_clock::now() >= bodyDeadline_) {
      VLog(u"The body took too long: it is given up");
      overdue_ = true;
      WSASetLastError(WSAETIMEDOUT);
      return -1;
    }
    if (!hasDeadline_ && !BodyKeepsPace()) {
      VLog(u"Fewer than %d bytes in %u ms: the body is given up", kMinBytesPerPeriod, unsigned(conn_.m_socket.m_nTimeout));
      WSASetLastError(WSAETIMEDOUT);
      return -1;
    }
    int n = ReceiveBytes(buffer, size);
    if (n > 0) paceBytes_ += uint64_t(n);
    return n;
  }

 private:
  // A server that keeps a body alive with a byte now and then would hold
  // the transfer for ever although no single receive times out: a body
  // that brings fewer than this many bytes in a period of the receive
  // time-out has timed out. Any real link, however slow, brings more.
  static constexpr int kMinBytesPerPeriod = 256;

  bool BodyKeepsPace() {
    auto now = std::chrono::steady_clock::now();
    if (!paceStarted_) {
      paceStarted_ = true;
      paceStart_ = now;
      paceBytes_ = 0;
      return true;
    }
    if (now - paceStart_ < std::chrono::milliseconds(conn_.m_socket.m_nTimeout)) return true;
    if (paceBytes_ < uint64_t(kMinBytesPerPeriod)) return false;
    paceStart_ = now;
    paceBytes_ = 0;
    return true;
  }

  int ReceiveBytes(char* buffer, int size) {
    if (pos_ < buf_.size()) {
      size_t take = buf_.size() - pos_ < size_t(size) ? buf_.size() - pos_ : size_t(size);
      std::memcpy(buffer, buf_.data() + pos_, take);
      pos_ += take;
      return int(take);
    }
    DWORD saved = conn_.m_socket.m_nTimeout;
    bool waitEndsWithBody = false;  // the wait below ends at the body's end
    if (hasDeadline_ || hasBodyDeadline_) {
      auto end = hasDeadline_ && (!hasBodyDeadline_ || deadline_ < bodyDeadline_) ? deadline_ : bodyDeadline_;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
                      .count();
      if (left <= 0) {
        if (hasBodyDeadline_ && end == bodyDeadline_) overdue_ = true;
        WSASetLastError(WSAETIMEDOUT);
        return -1;
      }
      if (uint64_t(left) < saved) {
        conn_.m_socket.m_nTimeout = DWORD(left);
        waitEndsWithBody = hasBodyDeadline_ && end == bodyDeadline_;
      }
    }
    int n;
    if (readAhead_ && size < 4096) {
      buf_.resize(16384);
      n = conn_.m_socket.Receive(buf_.data(), int(buf_.size()));
      buf_.resize(n > 0 ? size_t(n) : 0);
      pos_ = 0;
      if (n > 0) {
        int take = n < size ? n : size;
        std::memcpy(buffer, buf_.data(), size_t(take));
        pos_ = size_t(take);
        n = take;
      }
    } else {
      n = conn_.m_socket.Receive(buffer, size);
    }
    conn_.m_socket.m_nTimeout = saved;
    if (conn_.m_cancel.load()) return -1;
    if (n < 0 && waitEndsWithBody) overdue_ = true;
    return n;
  }

  CHttpConnection& conn_;
  bool readAhead_;
  std::vector<char> buf_;
  size_t pos_ = 0;
  bool hasDeadline_ = false;
  std::chrono::steady_clock::time_point deadline_;
  bool hasBodyDeadline_ = false;
  bool overdue_ = false;
  std::chrono::steady_clock::time_point bodyDeadline_;
  bool paceStarted_ = false;
  std::chrono::steady_clock::time_point paceStart_;
  uint64_t paceBytes_ = 0;
};

CHttpConnection::CHttpConnection(DWORD timeoutMs) { m_socket.m_nTimeout = timeoutMs; }

CHttpConnection::~CHttpConnection() {
  VLog(u"CHttpConnection::Close()");
  VLog(u"CHttpConnection::ShutdownConnection()");
  if (m_socket.IsOpen()) {
    m_socket.Shutdown(SD_RECEIVE);
    m_socket.Close();
  }
  delete m_pProxy;
  delete m_pSource;
}

void CHttpConnection::Terminate() {
  VLog(u"CHttpConnection::Terminate()");
  m_terminated.store(1);
  m_cancel.store(true);
  // Only wake the owner: it closes the socket itself.
  m_socket.Shutdown(SD_BOTH);
}

BOOL CHttpConnection::GetConnectionState() { return m_terminated.load(); }

void CHttpConnection::SetProxy(const CProxySettings* proxy) {
  delete m_pProxy;
  m_pProxy = proxy ? new CProxySettings(*proxy) : nullptr;
}

BOOL CHttpConnection::Open(int kind, const CString& host, int port) {
  VLog(u"CHttpConnection::Open(%d, '%s', %d)", kind, host.GetString(), port);
  delete m_pSource;
  m_pSource = nullptr;
  if (m_cancel.load()) {
    VLog(u"Transfer cancelled");
    return FALSE;
  }
  if (!m_socket.Create()) return FALSE;
  if (m_cancel.load()) {  // a terminate that raced with the new socket
    m_socket.Close();
    return FALSE;
  }
  std::unique_ptr<CConnectionProvider> provider;
  int proxyKind = m_pProxy ? m_pProxy->m_nKind : -1;
  if (proxyKind == PROXY_SOCKS4) provider = std::make_unique<CSocks4ConnectionProvider>(m_pProxy);
  else if (proxyKind == PROXY_SOCKS5) provider = std::make_unique<CSocks5ConnectionProvider>(m_pProxy);
  else if (proxyKind == PROXY_HTTP) provider = std::make_unique<CHttpProxyConnectionProvider>(m_pProxy);
  else provider = std::make_unique<CConnectionProvider>();
  provider->m_strCaFile = m_strCaFile;
  BOOL ok = provider->Connect(&m_socket, kind, host, port);
  if (ok && proxyKind == PROXY_HTTP) ok = ProxyConnect(kind, host, port);
  if (ok && m_cancel.load()) ok = FALSE;
  if (!ok) {
    m_socket.Close();
    return FALSE;
  }
  m_strHost = host;
  m_nPort = port;
  m_nKind = kind;
  return TRUE;
}

BOOL CHttpConnection::ProxyConnect(int kind, const CString& host, int port) {
  CHttpRequest connect(HTTP_METHOD_CONNECT, host, port);
  // The Host of a CONNECT names the same authority as its request line.
  CString authority;
  authority.Format(u"%s:%d", host.GetString(), port);
  connect.AddHeader(u"Host", authority);
  VLog(u"CHttpConnection::SendRequest()");
  if (!connect.Write(m_socket, nullptr)) return FALSE;
  SocketSource source(*this, false);
  source.SetDeadline(m_socket.m_nTimeout);
  CHttpResponse* reply = nullptr;
  CString why;
  if (ReadFinalResponseHead(source, m_limits, reply, why) != READ_OK) {
    VLog(u"Proxy gave no answer to CONNECT: %s", why.GetString());
    return FALSE;
  }
  std::unique_ptr<CHttpResponse> owned(reply);
  CString agent;
  if (reply->GetHeader(u"Proxy-agent", agent)) m_strUserAgent = agent;
  if (reply->m_nStatusCode < 200 || reply->m_nStatusCode > 299) {
    VLog(u"Proxy refused CONNECT to %s: %s", authority.GetString(), reply->m_strStatusLine.TrimRight(u"\r\n").GetString());
    return FALSE;
  }
  if (kind == 3) return m_socket.PerformHandshake();
  return TRUE;
}

CHttpRequest* CHttpConnection::CreateRequest(const CString& path, int method) {
  VLog(u"CHttpConnection::CreateRequest()");
  auto* request = new CHttpRequest(method, path);
  // The port goes with the host when it is not the scheme's default: a
  // server builds its absolute redirects and picks its site from this header.
  CString hostHeader = m_strHost;
  bool defaultPort = (m_nKind == 3 && m_nPort == 443) || (m_nKind != 3 && m_nPort == 80);
  if (!defaultPort && m_nPort > 0) hostHeader.AppendFormat(u":%d", m_nPort);
  request->AddHeader(u"Host", hostHeader);
  request->AddHeader(u"Connection", u"close");
  if (!m_strUserAgent.IsEmpty()) request->AddHeader(u"User-Agent", m_strUserAgent);
  // Bodies are stored as they arrive: ask for them uncoded.
  request->AddHeader(u"Accept-Encoding", u"identity");
  return request;
}

BOOL CHttpConnection::SendRequest(CHttpRequest* request, const CStringList* rawLines) {
  VLog(u"CHttpConnection::SendRequest()");
  if (!request || m_cancel.load()) return FALSE;
  return request->Write(m_socket, rawLines);
}

CHttpResponse* CHttpConnection::ReceiveResponse() {
  VLog(u"CHttpConnection::ReceiveResponse()");
  delete m_pSource;
  m_pSource = new SocketSource(*this, true);
  m_pSource->SetDeadline(m_socket.m_nTimeout);
  CHttpResponse* response = nullptr;
  CString why;
  int rc = ReadFinalResponseHead(*m_pSource, m_limits, response, why);
  m_pSource->ClearDeadline();
  if (rc != READ_OK) {
    VLog(u"No response: %s", m_cancel.load() ? u"transfer cancelled" : why.GetString());
    m_socket.Shutdown(SD_RECEIVE);
    m_socket.Close();
    return nullptr;
  }
  return response;
}

BOOL CHttpConnection::GetFile(CHttpResponse* response, const CString& path) {
  VLog(u"CHttpConnection::GetFile()");
  m_nSavedError = 0;
  if (!response || !m_pSource) return FALSE;
  CBodyFraming framing;
  CString why;
  if (!GetBodyFraming(*response, framing, why)) {
    VLog(u"Body refused: %s", why.GetString());
    m_nSavedError = ERROR_INVALID_DATA;
    return FALSE;
  }
  if (framing.kind == CBodyFraming::LENGTH && framing.length > m_nMaxBody) {
    // Announced longer than any body taken: nothing of it is stored.
    VLog(u"Body refused: %llu bytes announced", (unsigned long long)framing.length);
    m_nSavedError = ERROR_FILE_TOO_LARGE;
    return FALSE;
  }
  bool partial = response->m_nStatusCode == 206;
  // A partial answer is appended to what the file holds; should it fail,
  // the file goes back to that length.
  const uint64_t keptLength = partial ? FileLength(path) : 0;
  CBufferedFile file(8192);
  if (!file.Open(path, GENERIC_WRITE, FILE_SHARE_READ, partial ? OPEN_EXISTING : CREATE_ALWAYS,
                 FILE_ATTRIBUTE_NORMAL)) {
    m_nSavedError = GetLastError();
    VLog(u"Cannot open '%s': %d", path.GetString(), int(m_nSavedError));
    return FALSE;
  }
  // What came of a body that failed, whatever ended it (a server that
  // closed before the announced length or the last chunk, a bound, a
  // cancel, a full disk), is no document: a caller that finds the file
  // would take the part for the whole. The file goes; one a partial
  // answer was appended to keeps only what it held before.
  auto discard = [&] {
    file.Close();
    if (partial) TruncateFile(path, keptLength);
    else DeleteFileW(path);
  };
  if (partial && !file.Seek(0, 2)) {
    m_nSavedError = GetLastError();
    return FALSE;
  }
  VLog(u"CHttpConnection::ReceiveResponseBodyPlain()");
  FileSink sink(file);
  BoundedSink bounded(sink, m_nMaxBody);
  uint64_t received = 0;
  m_pSource->SetBodyDeadline(m_nMaxBodyMs);
  int rc = ReadResponseBody(*m_pSource, framing, bounded, m_limits, why, &received);
  m_pSource->ClearBodyDeadline();
  BOOL closed = file.Close();
  DWORD closeError = closed ? 0 : GetLastError();
  if (rc != READ_OK && !m_cancel.load() && (bounded.over_ || m_pSource->Overdue())) {
    // A body without end is no document.
    m_nSavedError = bounded.over_ ? ERROR_FILE_TOO_LARGE : ERROR_TIMEOUT;
    VLog(u"Body failed after %llu bytes: %s", (unsigned long long)received,
         bounded.over_ ? u"longer than the bound" : u"it took too long");
    discard();
    return FALSE;
  }
  if (m_cancel.load()) {
    VLog(u"Transfer cancelled after %llu bytes", (unsigned long long)received);
    m_nSavedError = ERROR_OPERATION_ABORTED;
    discard();
    return FALSE;
  }
  if (rc != READ_OK) {
    VLog(u"Body failed after %llu bytes: %s", (unsigned long long)received, why.GetString());
    m_nSavedError = rc == READ_WRITE_FAILED ? sink.error_ : ERROR_INVALID_DATA;
    if (m_nSavedError == 0) m_nSavedError = ERROR_WRITE_FAULT;
    discard();
    return FALSE;
  }
  if (!closed) {
    m_nSavedError = closeError ? closeError : ERROR_WRITE_FAULT;
    VLog(u"Body failed: the file cannot be written (%d)", int(m_nSavedError));
    discard();
    return FALSE;
  }
  return TRUE;
}

void CHttpConnection::Close() {
  VLog(u"CHttpConnection::Close()");
  VLog(u"CHttpConnection::ShutdownConnection()");
  delete m_pSource;
  m_pSource = nullptr;
  if (m_socket.IsOpen()) {
    m_socket.Shutdown(SD_RECEIVE);
    m_socket.Close();
  }
}
