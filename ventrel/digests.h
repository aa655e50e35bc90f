// Digests and encodings of the HTTP client: MD5 (RFC 1321) for Digest
// authentication, SHA-1 (FIPS 180-1), base64 (RFC 4648 alphabet) for Basic
// authentication.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/afx.h"

struct MD5_CTX {
  uint32_t state[4];
  uint64_t count;  // bytes hashed so far
  uint8_t buffer[64];
};

void Md5Init(MD5_CTX* ctx);
void Md5Update(MD5_CTX* ctx, const void* data, size_t length);
void Md5Final(uint8_t digest[16], MD5_CTX* ctx);
void Md5Transform(uint32_t state[4], const uint8_t block[64]);
// MD5 of 8-bit text.
std::string Md5(const std::string& bytes);

struct SHA1_CTX {
  uint32_t state[5];
  uint64_t count;
  uint8_t buffer[64];
};
void Sha1Init(SHA1_CTX* ctx);
void Sha1Update(SHA1_CTX* ctx, const void* data, size_t length);
void Sha1Final(uint8_t digest[20], SHA1_CTX* ctx);
std::string Sha1(const std::string& bytes);

// 16 digest bytes as 32 lower-case hexadecimal digits.
std::string DigestToHex(const std::string& digest);

// Three bytes to four characters and back (one group).
void Base64EncodeBlock(const uint8_t in[3], int length, char out[4]);
// Returns the number of bytes decoded (1 to 3), or -1 for a group holding a
// character outside the alphabet or misplaced padding.
int Base64DecodeBlock(const char in[4], uint8_t out[3]);
std::string Base64Encode(const std::string& bytes);
// Decodes a whole text; false (and nothing decoded) when a character lies
// outside the alphabet, a group is incomplete or padding is misplaced.
bool Base64Decode(const std::string& text, std::string& bytes);
