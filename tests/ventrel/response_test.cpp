// The response reader: status lines, headers, framing and bodies, over
// in-memory bytes (delivered in pieces of every size), and the shared corpus
// of raw responses.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstring>

#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/device_fixture.h"
#include "ventrel/httpconn.h"

namespace {

class MemorySource : public CByteSource {
 public:
  MemorySource(std::string data, size_t piece) : data_(std::move(data)), piece_(piece) {}
  int Receive(char* buffer, int size) override {
    size_t n = std::min({size_t(size), piece_, data_.size() - pos_});
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    return int(n);
  }

 private:
  std::string data_;
  size_t piece_;
  size_t pos_ = 0;
};

class StringSink : public CByteSink {
 public:
  BOOL Write(const char* data, int length) override {
    out.append(data, size_t(length));
    return TRUE;
  }
  std::string out;
};

struct Outcome {
  int headRc = -1;
  int status = 0;
  bool framed = false;
  int bodyRc = -1;
  std::string body;
  std::unique_ptr<CHttpResponse> response;
};

Outcome Read(const std::string& raw, size_t piece = 1 << 20) {
  Outcome o;
  MemorySource src(raw, piece);
  CResponseLimits limits;
  CHttpResponse* r = nullptr;
  CString why;
  o.headRc = ReadResponseHead(src, limits, r, why);
  if (o.headRc != READ_OK) return o;
  o.response.reset(r);
  o.status = r->m_nStatusCode;
  CBodyFraming framing;
  o.framed = GetBodyFraming(*r, framing, why);
  if (!o.framed) return o;
  StringSink sink;
  o.bodyRc = ReadResponseBody(src, framing, sink, limits, why);
  o.body = sink.out;
  return o;
}

TEST(ResponseHead, StatusLines) {
  struct {
    const char* line;
    int status;
  } cases[] = {{"HTTP/1.1 200 OK\r\n", 200},       {"HTTP/1.0 404 Not Found\r\n", 404},
               {"HTTP/1.1 304\r\n", 304},          {"ICY 200 OK\r\n", 0},
               {"HTTP/1.1 2000 Big\r\n", 0},       {"HTTP/1.1 -200 Neg\r\n", 0},
               {"HTTP/x.1 200 OK\r\n", 0},         {"HTTP/1.1  301 Moved\r\n", 301},
               {"HTTP/2.0 99999999999999\r\n", 0}, {"http/1.1 200 OK\r\n", 0}};
  for (const auto& c : cases) {
    Outcome o = Read(std::string(c.line) + "\r\n");
    ASSERT_EQ(o.headRc, READ_OK) << c.line;
    EXPECT_EQ(o.status, c.status) << c.line;
  }
}

TEST(ResponseHead, HeadersAreTrimmedAndLookedUpWithoutCase) {
  Outcome o = Read("HTTP/1.1 200 OK\r\ncontent-type :  text/plain  \r\nX-A: 1\r\nx-a: 2\r\n\r\n");
  ASSERT_EQ(o.headRc, READ_OK);
  CString v;
  EXPECT_FALSE(o.response->GetHeader(u"Content-Type", v));  // the blank before the colon is part of the name
  ASSERT_TRUE(o.response->GetHeader(u"CONTENT-TYPE ", v));
  EXPECT_EQ(v, CString(u"text/plain"));
  ASSERT_TRUE(o.response->GetHeader(u"x-A", v));
  EXPECT_EQ(v, CString(u"1"));
  // Header bytes are read as ISO-8859-1.
  Outcome l = Read("HTTP/1.1 200 OK\r\nX-Name: caf\xe9\r\n\r\n");
  ASSERT_TRUE(l.response->GetHeader(u"X-Name", v));
  EXPECT_EQ(v, CString(u"caf\u00e9"));
}

TEST(ResponseHead, ALineWithoutColonEndsTheHeaders) {
  Outcome o = Read("HTTP/1.1 200 OK\r\nA: 1\r\nnot a header\r\nB: 2\r\n");
  ASSERT_EQ(o.headRc, READ_OK);
  CString v;
  EXPECT_TRUE(o.response->GetHeader(u"A", v));
  EXPECT_FALSE(o.response->GetHeader(u"B", v));
  EXPECT_EQ(o.body, "B: 2\r\n");
}

TEST(ResponseHead, HostileHeadsFailWithinLimits) {
  EXPECT_EQ(Read("").headRc, READ_FAILED);
  EXPECT_EQ(Read("HTTP/1.1 200 OK\r\nA: 1\r\n").headRc, READ_FAILED);  // closed inside the head
  EXPECT_EQ(Read("HTTP/1.1 200 OK\r\nX: " + std::string(1 << 20, 'a') + "\r\n\r\n").headRc, READ_BAD_SYNTAX);
  std::string endless = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 10000; ++i) endless += "X-" + std::to_string(i) + ": v\r\n";
  EXPECT_EQ(Read(endless + "\r\n").headRc, READ_BAD_SYNTAX);
  EXPECT_EQ(Read(std::string(1 << 20, 'G')).headRc, READ_BAD_SYNTAX);
}

TEST(ResponseBody, FramingKinds) {
  for (size_t piece : {size_t(1), size_t(3), size_t(7), size_t(1) << 20}) {
    Outcome plain = Read("HTTP/1.1 200 OK\r\n\r\nuntil the end", piece);
    EXPECT_EQ(plain.bodyRc, READ_OK);
    EXPECT_EQ(plain.body, "until the end");
    Outcome sized = Read("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", piece);
    EXPECT_EQ(sized.bodyRc, READ_OK);
    EXPECT_EQ(sized.body, "hello");
    Outcome chunked = Read("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", piece);
    EXPECT_EQ(chunked.bodyRc, READ_OK);
    EXPECT_EQ(chunked.body, "hello");
    Outcome multi = Read(
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n3 ; ext=1 ;q=\"a;b\"\r\nabc\r\nA\r\n0123456789\r\n0\r\n"
        "Trailer: x\r\n\r\n",
        piece);
    EXPECT_EQ(multi.bodyRc, READ_OK);
    EXPECT_EQ(multi.body, "abc0123456789");
  }
  Outcome empty = Read("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(empty.bodyRc, READ_OK);
  EXPECT_EQ(empty.body, "");
  Outcome closedAfterHead = Read("HTTP/1.1 200 OK\r\n\r\n");
  EXPECT_EQ(closedAfterHead.bodyRc, READ_OK);
  // A last chunk whose final line never comes still ends the body.
  Outcome noFinalLine = Read("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n0\r\n");
  EXPECT_EQ(noFinalLine.bodyRc, READ_OK);
  EXPECT_EQ(noFinalLine.body, "ab");
}

// A sized body is complete with its bytes; what the server sends after them
// before it closes is kept, as a body read until the close keeps it.
TEST(ResponseBody, BytesAfterTheAnnouncedLengthAreKept) {
  for (size_t piece : {size_t(1), size_t(1) << 20}) {
    Outcome o = Read("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\ntoo long", piece);
    EXPECT_EQ(o.bodyRc, READ_OK);
    EXPECT_EQ(o.body, "too long");
  }
  // Still a short body fails.
  EXPECT_EQ(Read("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nshort").bodyRc, READ_FAILED);
}

TEST(ResponseHead, FoldedLinesContinueTheirHeaderAndInterimAnswersAreSkipped) {
  std::string raw =
      "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\n"
      "HTTP/1.1 200 OK\r\nX-Long: first\r\n\tsecond\r\n   third  \r\nContent-Length: 4\r\n\r\nbody";
  for (size_t piece : {size_t(1), size_t(5), size_t(1) << 20}) {
    MemorySource src(raw, piece);
    CResponseLimits limits;
    CHttpResponse* r = nullptr;
    CString why;
    ASSERT_EQ(ReadFinalResponseHead(src, limits, r, why), READ_OK);
    std::unique_ptr<CHttpResponse> owned(r);
    EXPECT_EQ(r->m_nStatusCode, 200);
    CString v;
    ASSERT_TRUE(r->GetHeader(u"X-Long", v));
    EXPECT_EQ(v, CString(u"first second third"));
    EXPECT_FALSE(r->GetHeader(u"Link", v));  // the interim answer's header is gone with it
    CBodyFraming framing;
    ASSERT_TRUE(GetBodyFraming(*r, framing, why));  // the folded lines did not end the head
    StringSink sink;
    EXPECT_EQ(ReadResponseBody(src, framing, sink, limits, why), READ_OK);
    EXPECT_EQ(sink.out, "body");
  }
  // Only interim answers, then the close: no answer.
  MemorySource interimOnly("HTTP/1.1 100 Continue\r\n\r\n", 1 << 20);
  CHttpResponse* r = nullptr;
  CString why;
  EXPECT_EQ(ReadFinalResponseHead(interimOnly, CResponseLimits(), r, why), READ_FAILED);
  EXPECT_EQ(r, nullptr);
  // An endless run of them ends within a bound.
  std::string endless;
  for (int i = 0; i < 100; ++i) endless += "HTTP/1.1 102 Processing\r\n\r\n";
  MemorySource many(endless, 1 << 20);
  EXPECT_EQ(ReadFinalResponseHead(many, CResponseLimits(), r, why), READ_BAD_SYNTAX);
  // A folded line before any header continues nothing and is dropped.
  Outcome early = Read("HTTP/1.1 200 OK\r\n  stray\r\nA: 1\r\n\r\nrest");
  CString v;
  ASSERT_TRUE(early.response->GetHeader(u"A", v));
  EXPECT_EQ(early.body, "rest");
}

// Reply bytes become text that goes back to the wire unchanged, valid UTF-8
// or not.
TEST(WireText, ReplyBytesRoundTripByteForByte) {
  std::string bytes = "SID=ab\xe9\xc3\xa9\xff\xed\xa0\x80\xf0\x9f\x98\x80\xc3";
  CString text = TextOfBytes(bytes);
  EXPECT_EQ(WireBytes(text), bytes);
  EXPECT_EQ(text.Mid(7, 1), CString(u"\u00e9"));  // valid UTF-8 reads as its character
  EXPECT_EQ(WireBytes(CString(u"caf\u00e9 \U0001F600")), "caf\xc3\xa9 \xf0\x9f\x98\x80");
  std::string all;
  for (int b = 0; b < 256; ++b) all += char(b);
  EXPECT_EQ(WireBytes(TextOfBytes(all)), all);
}

TEST(ResponseBody, BrokenBodiesFail) {
  const char* te = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  EXPECT_EQ(Read(std::string(te) + "-5\r\nhello\r\n0\r\n\r\n").bodyRc, READ_BAD_SYNTAX);
  EXPECT_EQ(Read(std::string(te) + "ffffffffffffffffff\r\nx").bodyRc, READ_BAD_SYNTAX);
  EXPECT_EQ(Read(std::string(te) + "zz\r\n").bodyRc, READ_BAD_SYNTAX);
  EXPECT_EQ(Read(std::string(te) + "\r\n").bodyRc, READ_BAD_SYNTAX);
  EXPECT_EQ(Read(std::string(te) + "5 \r\nhello\r\n0\r\n\r\n").bodyRc, READ_BAD_SYNTAX);
  EXPECT_EQ(Read(std::string(te) + "5;\r\nhello\r\n0\r\n\r\n").bodyRc, READ_BAD_SYNTAX);
  EXPECT_EQ(Read(std::string(te) + "7fffffffffff\r\nshort").bodyRc, READ_FAILED);  // huge, then closed
  EXPECT_EQ(Read(std::string(te) + "5\r\nhelloXX0\r\n\r\n").bodyRc, READ_BAD_SYNTAX);
  EXPECT_EQ(Read(std::string(te) + "5\r\nhel").bodyRc, READ_FAILED);
  EXPECT_EQ(Read(std::string(te) + "5\r\nhello\r\n").bodyRc, READ_FAILED);  // no last chunk
  EXPECT_EQ(Read("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nshort").bodyRc, READ_FAILED);
  EXPECT_FALSE(Read("HTTP/1.1 200 OK\r\nContent-Length: -3\r\n\r\nabc").framed);
  EXPECT_FALSE(Read("HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabc").framed);
  EXPECT_FALSE(Read("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n").framed);
  EXPECT_FALSE(Read("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n").framed);
  EXPECT_FALSE(Read("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n\x1f\x8b").framed);
  EXPECT_TRUE(Read("HTTP/1.1 200 OK\r\nContent-Encoding: identity\r\n\r\nok").framed);
  // A coding named in a second header of the same name, or hidden behind a
  // NUL or a lone carriage return, is still a coding this reader cannot
  // undo.
  EXPECT_FALSE(Read("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: gzip\r\n\r\n3\r\nabc\r\n0\r\n\r\n")
                   .framed);
  EXPECT_FALSE(
      Read("HTTP/1.1 200 OK\r\nContent-Encoding: identity\r\nContent-Encoding: gzip\r\nContent-Length: 2\r\n\r\n\x1f\x8b").framed);
  EXPECT_FALSE(Read(std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\0gzip\r\n\r\n3\r\nabc\r\n0\r\n\r\n", 65)).framed);
  EXPECT_FALSE(Read("HTTP/1.1 200 OK\r\nContent-Encoding: identity\rgzip\r\nContent-Length: 2\r\n\r\n\x1f\x8b").framed);
}

// The corpus: Markdown files holding raw responses and the events a strict
// reader reports for them.
struct CorpusCase {
  std::string file, title, meta, raw, log;
};

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      char n = s[i + 1];
      if (n == 'r') out += '\r', ++i;
      else if (n == 'n') out += '\n', ++i;
      else if (n == 't') out += '\t', ++i;
      else if (n == '\\') out += '\\', ++i;
      else if (n == '"') out += '"', ++i;
      else if (n == 'x' && i + 3 < s.size()) {
        out += char(std::stoi(s.substr(i + 2, 2), nullptr, 16));
        i += 3;
      } else out += s[i];
    } else {
      out += s[i];
    }
  }
  return out;
}

// Lines of the http block are joined by CRLF; a line ending in "\" joins
// the next without one.
std::string RawFromBlock(const std::vector<std::string>& lines) {
  std::string raw;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i];
    bool join = !line.empty() && line.back() == '\\';
    if (join) line.pop_back();
    raw += Unescape(line);
    if (!join && i + 1 < lines.size()) raw += "\r\n";
  }
  return raw;
}

std::vector<CorpusCase> LoadCorpus() {
  std::vector<CorpusCase> cases;
  std::string dir = qtest::CorporaDir();
  if (dir.empty()) return cases;
  dir += "/llhttp-response/test/response";
  DIR* d = opendir(dir.c_str());
  if (!d) return cases;
  std::vector<std::string> files;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n.size() > 3 && n.substr(n.size() - 3) == ".md") files.push_back(n);
  }
  closedir(d);
  std::sort(files.begin(), files.end());
  for (const std::string& f : files) {
    std::ifstream in(dir + "/" + f);
    std::string line, title, meta;
    std::vector<std::string> block;
    enum { NONE, HTTP, LOG } mode = NONE;
    CorpusCase cur;
    while (std::getline(in, line)) {
      if (mode == NONE) {
        if (line.rfind("## ", 0) == 0) title = line.substr(3);
        else if (line.rfind("<!-- meta=", 0) == 0) meta = line;
        else if (line == "```http") {
          mode = HTTP;
          block.clear();
        } else if (line == "```log") {
          mode = LOG;
          cur.log.clear();
        }
      } else if (line == "```") {
        if (mode == HTTP) {
          cur = CorpusCase{f, title, meta, RawFromBlock(block), ""};
        } else {
          cases.push_back(cur);
        }
        mode = NONE;
      } else if (mode == HTTP) {
        block.push_back(line);
      } else {
        cur.log += line + "\n";
      }
    }
  }
  return cases;
}

// The body spans and outcome a strict reader reports.
struct Expected {
  int status = -1;
  bool complete = false;
  bool error = false;
  size_t completeOffset = 0;
  std::string body;
};

Expected ParseLog(const std::string& log) {
  Expected e;
  std::istringstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    size_t st = line.find("headers complete status=");
    if (st != std::string::npos && e.status < 0) e.status = std::stoi(line.substr(st + 24));
    if (line.find(" message complete") != std::string::npos && !e.complete) {
      e.complete = true;
      e.completeOffset = std::stoul(line.substr(4));
    }
    if (line.find(" error code=") != std::string::npos && line.find("Pause") == std::string::npos) e.error = true;
    size_t span = line.find("span[body]=");
    if (span != std::string::npos) {
      std::string v = line.substr(span + 11);
      if (v == "lf") {
        e.body += '\n';
      } else if (v == "cr") {
        e.body += '\r';
      } else {
        if (!v.empty() && v.front() == '"') v.erase(0, 1);
        if (!v.empty() && v.back() == '"') v.pop_back();
        e.body += Unescape(v);
      }
    }
  }
  return e;
}

TEST(ResponseCorpus, ReaderAgreesWithTheCorpusWhereTheSemanticsMeet) {
  std::vector<CorpusCase> cases = LoadCorpus();
  if (cases.empty()) GTEST_SKIP() << "corpus not found";
  int compared = 0;
  for (const CorpusCase& c : cases) {
    if (c.meta.find("\"response") == std::string::npos) continue;
    Expected e = ParseLog(c.log);
    for (size_t piece : {size_t(1), size_t(1) << 20}) {
      Outcome o = Read(c.raw, piece);  // must never crash or hang
      if (e.status > 0 && o.headRc == READ_OK && o.status != 0) {
        EXPECT_EQ(o.status, e.status) << c.file << ": " << c.title;
        if (o.status != e.status) std::cerr << "raw: [" << c.raw << "]\n";
      }
      bool lenient = c.meta.find("lenient") != std::string::npos;
      bool bodyless = e.status / 100 == 1 || e.status == 204 || e.status == 304 ||
                      c.meta.find("skipBody") != std::string::npos;
      if (e.complete && !e.error && !bodyless && e.completeOffset == c.raw.size() && o.framed) {
        // A whole message that ends with the bytes: the reader takes the same body.
        EXPECT_EQ(o.bodyRc, READ_OK) << c.file << ": " << c.title;
        EXPECT_EQ(o.body, e.body) << c.file << ": " << c.title;
        if (piece == 1) ++compared;
      }
      CString te;
      bool chunked = o.response && o.response->GetHeader(u"Transfer-Encoding", te);
      if (e.error && !lenient && e.status > 0 && chunked && o.framed) {
        // A chunked body that a strict reader refuses is never a success here.
        EXPECT_NE(o.bodyRc, READ_OK) << c.file << ": " << c.title;
      }
    }
  }
  EXPECT_GT(compared, 10);
}

}  // namespace
