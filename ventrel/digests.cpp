// MD5, SHA-1 and base64.
#include "ventrel/digests.h"

#include <cstring>

namespace {

inline uint32_t Rol(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

const uint32_t kMd5K[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
const int kMd5S[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 5, 9,  14, 20, 5, 9,
                       14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                       4, 11, 16, 23, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Both hashes take the message in 64-byte blocks: bytes that do not fill a
// block wait in the context's buffer until the next update or the end.
template <class Context>
void BlockUpdate(Context* ctx, const void* data, size_t length, void (*transform)(uint32_t*, const uint8_t*)) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  size_t used = ctx->count % 64;
  ctx->count += length;
  if (used) {
    size_t take = 64 - used < length ? 64 - used : length;
    std::memcpy(ctx->buffer + used, p, take);
    p += take;
    length -= take;
    if (used + take < 64) return;
    transform(ctx->state, ctx->buffer);
  }
  while (length >= 64) {
    transform(ctx->state, p);
    p += 64;
    length -= 64;
  }
  if (length) std::memcpy(ctx->buffer, p, length);
}

// The end of a message: 0x80, zeros up to 8 bytes short of a block, then the
// message length in bits (little-endian for MD5, big-endian for SHA-1); the
// state words then give the digest in the same byte order.
template <class Context>
void BlockFinal(Context* ctx, bool bigEndian, void (*update)(Context*, const void*, size_t), uint8_t* digest,
                int words) {
  uint64_t bits = ctx->count * 8;
  static const uint8_t kPad[64] = {0x80};
  size_t used = ctx->count % 64;
  size_t padLen = used < 56 ? 56 - used : 120 - used;
  update(ctx, kPad, padLen);
  uint8_t len[8];
  for (int i = 0; i < 8; ++i) len[i] = uint8_t(bits >> (bigEndian ? 56 - 8 * i : 8 * i));
  update(ctx, len, 8);
  for (int i = 0; i < words; ++i)
    for (int k = 0; k < 4; ++k) digest[i * 4 + k] = uint8_t(ctx->state[i] >> (bigEndian ? 24 - 8 * k : 8 * k));
}

int DecodeChar(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

void Md5Transform(uint32_t state[4], const uint8_t block[64]) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) {
    m[i] = uint32_t(block[i * 4]) | (uint32_t(block[i * 4 + 1]) << 8) | (uint32_t(block[i * 4 + 2]) << 16) |
           (uint32_t(block[i * 4 + 3]) << 24);
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    uint32_t t = d;
    d = c;
    c = b;
    b = b + Rol(a + f + kMd5K[i] + m[g], kMd5S[i]);
    a = t;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

void Md5Init(MD5_CTX* ctx) {
  ctx->state[0] = 0x67452301;
  ctx->state[1] = 0xefcdab89;
  ctx->state[2] = 0x98badcfe;
  ctx->state[3] = 0x10325476;
  ctx->count = 0;
}

void Md5Update(MD5_CTX* ctx, const void* data, size_t length) { BlockUpdate(ctx, data, length, &Md5Transform); }

void Md5Final(uint8_t digest[16], MD5_CTX* ctx) { BlockFinal(ctx, false, &Md5Update, digest, 4); }

std::string Md5(const std::string& bytes) {
  MD5_CTX ctx;
  Md5Init(&ctx);
  Md5Update(&ctx, bytes.data(), bytes.size());
  uint8_t d[16];
  Md5Final(d, &ctx);
  return std::string(reinterpret_cast<char*>(d), 16);
}

namespace {
void Sha1Transform(uint32_t state[5], const uint8_t block[64]) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i) {
    w[i] = (uint32_t(block[i * 4]) << 24) | (uint32_t(block[i * 4 + 1]) << 16) | (uint32_t(block[i * 4 + 2]) << 8) |
           uint32_t(block[i * 4 + 3]);
  }
  for (int i = 16; i < 80; ++i) w[i] = Rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5a827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ed9eba1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8f1bbcdc;
    } else {
      f = b ^ c ^ d;
      k = 0xca62c1d6;
    }
    uint32_t t = Rol(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = Rol(b, 30);
    b = a;
    a = t;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}
}  // namespace

void Sha1Init(SHA1_CTX* ctx) {
  ctx->state[0] = 0x67452301;
  ctx->state[1] = 0xefcdab89;
  ctx->state[2] = 0x98badcfe;
  ctx->state[3] = 0x10325476;
  ctx->state[4] = 0xc3d2e1f0;
  ctx->count = 0;
}

void Sha1Update(SHA1_CTX* ctx, const void* data, size_t length) { BlockUpdate(ctx, data, length, &Sha1Transform); }

void Sha1Final(uint8_t digest[20], SHA1_CTX* ctx) { BlockFinal(ctx, true, &Sha1Update, digest, 5); }

std::string Sha1(const std::string& bytes) {
  SHA1_CTX ctx;
  Sha1Init(&ctx);
  Sha1Update(&ctx, bytes.data(), bytes.size());
  uint8_t d[20];
  Sha1Final(d, &ctx);
  return std::string(reinterpret_cast<char*>(d), 20);
}

std::string DigestToHex(const std::string& digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : digest) {
    out += kHex[c >> 4];
    out += kHex[c & 0xf];
  }
  return out;
}

void Base64EncodeBlock(const uint8_t in[3], int length, char out[4]) {
  uint32_t v = (uint32_t(in[0]) << 16) | (uint32_t(length > 1 ? in[1] : 0) << 8) | uint32_t(length > 2 ? in[2] : 0);
  out[0] = kAlphabet[(v >> 18) & 63];
  out[1] = kAlphabet[(v >> 12) & 63];
  out[2] = length > 1 ? kAlphabet[(v >> 6) & 63] : '=';
  out[3] = length > 2 ? kAlphabet[v & 63] : '=';
}

int Base64DecodeBlock(const char in[4], uint8_t out[3]) {
  int v[4];
  int pad = 0;
  for (int i = 0; i < 4; ++i) {
    if (in[i] == '=') {
      if (i < 2) return -1;
      v[i] = 0;
      ++pad;
    } else {
      if (pad) return -1;  // data after padding
      v[i] = DecodeChar(in[i]);
      if (v[i] < 0) return -1;
    }
  }
  uint32_t w = (uint32_t(v[0]) << 18) | (uint32_t(v[1]) << 12) | (uint32_t(v[2]) << 6) | uint32_t(v[3]);
  out[0] = uint8_t(w >> 16);
  out[1] = uint8_t(w >> 8);
  out[2] = uint8_t(w);
  return 3 - pad;
}

std::string Base64Encode(const std::string& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint8_t in[3] = {0, 0, 0};
    int n = int(bytes.size() - i < 3 ? bytes.size() - i : 3);
    std::memcpy(in, bytes.data() + i, size_t(n));
    char group[4];
    Base64EncodeBlock(in, n, group);
    out.append(group, 4);
  }
  return out;
}

bool Base64Decode(const std::string& text, std::string& bytes) {
  bytes.clear();
  if (text.size() % 4 != 0) return false;
  std::string out;
  for (size_t i = 0; i < text.size(); i += 4) {
    uint8_t group[3];
    int n = Base64DecodeBlock(text.data() + i, group);
    if (n < 0 || (n < 3 && i + 4 != text.size())) return false;
    out.append(reinterpret_cast<char*>(group), size_t(n));
  }
  bytes.swap(out);
  return true;
}
