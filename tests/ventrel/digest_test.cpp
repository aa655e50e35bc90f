// MD5, SHA-1 and base64 against their published test vectors.
#include <gtest/gtest.h>

#include <string>

#include "ventrel/digests.h"
#include "ventrel/sync.h"

namespace {

TEST(Md5, Rfc1321Vectors) {
  struct {
    const char* in;
    const char* hex;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) EXPECT_EQ(DigestToHex(Md5(c.in)), c.hex) << c.in;
}

// Lengths around the padding boundary: 55 bytes leave just room for the
// padding byte and the length in one block, 56 need a second block; 119
// and 120 are the same edge one block later.
TEST(Digests, LengthsAroundThePaddingBoundary) {
  struct {
    size_t length;
    const char* md5;
    const char* sha1;
  } cases[] = {
      {55, "cfe33c9c2ba09df0b010885925d60fc5", "aaea21e6c6312df9b161a43e305edb5f52e43c74"},
      {56, "0143d0f012a3db3dd0dc9f1d1af1b0df", "3360faa4e36cd755a6c6969aaeb1363c25a5106f"},
      {63, "165f94b82d5b01bd6c8c642161db013b", "3548370e41272d044b7fcc0febe5a892649a2c9d"},
      {64, "634a6228281ab4b75f46b3312da896a4", "4d8fe1e870687ec6b8e14ac1f72bb3e3ef5febe9"},
      {119, "545acade43f7b728051ddfbf65f82152", "212f0762dd33c764be61de9c127f8614ec5a381d"},
      {120, "0fb58358446102650b4e99a0aaf929c6", "0c273740cd9ee7d005bcd1062629ecb369d34e56"},
  };
  for (const auto& c : cases) {
    std::string text;
    for (size_t i = 0; i < c.length; ++i) text += char('a' + (i * 5) % 26);
    EXPECT_EQ(DigestToHex(Md5(text)), c.md5) << c.length;
    EXPECT_EQ(DigestToHex(Sha1(text)), c.sha1) << c.length;
  }
}

TEST(Md5, PiecewiseUpdatesEqualOneUpdate) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += char('a' + i % 26);
  MD5_CTX ctx;
  Md5Init(&ctx);
  for (size_t i = 0; i < text.size();) {
    size_t n = (i % 7) + 1;
    if (i + n > text.size()) n = text.size() - i;
    Md5Update(&ctx, text.data() + i, n);
    i += n;
  }
  uint8_t d[16];
  Md5Final(d, &ctx);
  EXPECT_EQ(DigestToHex(std::string(reinterpret_cast<char*>(d), 16)), DigestToHex(Md5(text)));
}

TEST(Sha1, Fips180Vectors) {
  EXPECT_EQ(DigestToHex(Sha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(DigestToHex(Sha1("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(DigestToHex(Sha1(std::string(1000000, 'a'))), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  EXPECT_EQ(DigestToHex(Sha1("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

TEST(Sha1, PiecewiseUpdatesGiveThePublishedDigest) {
  // The million-"a" vector in pieces of 1 to 97 bytes, so that pieces both
  // fill and straddle the 64-byte blocks.
  std::string text(1000000, 'a');
  SHA1_CTX ctx;
  Sha1Init(&ctx);
  for (size_t i = 0, n = 1; i < text.size(); i += n, n = n % 97 + 1) {
    if (i + n > text.size()) n = text.size() - i;
    Sha1Update(&ctx, text.data() + i, n);
  }
  uint8_t d[20];
  Sha1Final(d, &ctx);
  EXPECT_EQ(DigestToHex(std::string(reinterpret_cast<char*>(d), 20)), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(Sha1, ComputeHashWritesEachByteLowNibbleFirst) {
  CVentrelSync sync(nullptr, CString(), CString(), CString(u"h"));
  // SHA-1 of "abc" starts with the bytes a9 99 3e; written nibble-swapped.
  CString hash = sync.ComputeHash(u"abc");
  EXPECT_EQ(hash.GetLength(), 40);
  EXPECT_EQ(hash.Left(6), CString(u"9a99e3"));
  // Only the low 8 bits of each unit count.
  EXPECT_EQ(sync.ComputeHash(CString(u"\u0161bc")), sync.ComputeHash(u"abc"));
}

TEST(Base64, Rfc4648Vectors) {
  struct {
    const char* in;
    const char* out;
  } cases[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
               {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
  for (const auto& c : cases) {
    EXPECT_EQ(Base64Encode(c.in), c.out);
    std::string back;
    ASSERT_TRUE(Base64Decode(c.out, back));
    EXPECT_EQ(back, c.in);
  }
  std::string all;
  for (int i = 0; i < 256; ++i) all += char(i);
  std::string back;
  ASSERT_TRUE(Base64Decode(Base64Encode(all), back));
  EXPECT_EQ(back, all);
}

TEST(Base64, DecodingRejectsWhatIsNotBase64) {
  std::string out = "untouched";
  for (const char* bad : {"Zm9", "Zm9v!", "Zm 9v", "Z===", "=m9v", "Zg==Zg==", "Zm9v\xff\xff\xff\xff", "Zg=a",
                          "\x80\x80\x80\x80"}) {
    EXPECT_FALSE(Base64Decode(bad, out)) << bad;
    EXPECT_TRUE(out.empty());
  }
  uint8_t block[3];
  EXPECT_EQ(Base64DecodeBlock("*AAA", block), -1);
  EXPECT_EQ(Base64DecodeBlock("Zm8=", block), 2);
}

}  // namespace
