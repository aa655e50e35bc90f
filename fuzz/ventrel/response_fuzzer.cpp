// Feeds arbitrary bytes to the HTTP response reader as a server would send
// them, in pieces whose size the first input byte chooses, and stores the
// body in memory (bounded).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "ventrel/httpconn.h"

namespace {

class Source : public CByteSource {
 public:
  Source(const uint8_t* data, size_t size, size_t piece) : data_(data), size_(size), piece_(piece) {}
  int Receive(char* buffer, int size) override {
    size_t n = size_ - pos_;
    if (n > size_t(size)) n = size_t(size);
    if (n > piece_) n = piece_;
    std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return int(n);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t piece_;
  size_t pos_ = 0;
};

class Sink : public CByteSink {
 public:
  BOOL Write(const char* data, int length) override {
    if (length < 0) __builtin_trap();
    total_ += size_t(length);
    if (kept_.size() < 4096) kept_.append(data, size_t(length) < 4096 ? size_t(length) : 4096);
    return total_ < (1u << 24);
  }

 private:
  size_t total_ = 0;
  std::string kept_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t piece = size_t(data[0] % 16) + 1;
  if (data[0] >= 0xf0) piece = 1 << 20;
  Source source(data + 1, size - 1, piece);
  CResponseLimits limits;
  limits.maxLine = 4096;
  limits.maxHeaderBytes = 16384;
  limits.maxHeaders = 64;
  CHttpResponse* raw = nullptr;
  CString why;
  if (ReadFinalResponseHead(source, limits, raw, why) != READ_OK) return 0;
  std::unique_ptr<CHttpResponse> response(raw);
  CString value;
  response->GetHeader(u"Content-Type", value);
  CBodyFraming framing;
  if (!GetBodyFraming(*response, framing, why)) return 0;
  Sink sink;
  uint64_t received = 0;
  int rc = ReadResponseBody(source, framing, sink, limits, why, &received);
  // A sized body is whole with its length; what follows it is kept, but
  // never more than a megabyte.
  if (framing.kind == CBodyFraming::LENGTH && received > framing.length + (1u << 20)) __builtin_trap();
  if (framing.kind == CBodyFraming::LENGTH && rc == READ_OK && received < framing.length) __builtin_trap();
  return 0;
}
