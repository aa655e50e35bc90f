// The one reading of an address: what it accepts and splits out, that the
// splitter of the Internet API agrees with it on every case, and the
// comparison key built on it.
#include <gtest/gtest.h>

#include <string>

#include "kernel/kernel.h"
#include "kernel/wstring.h"
#include "net/urlfuncs.h"

namespace {

struct AddressCase {
  const char16_t* text;
  bool accepted;
  const char16_t* host;  // as split out (without brackets)
  int port;
};

// Addresses as people type them and as files carry them.
const AddressCase kAddresses[] = {
    {u"http://host/feed", true, u"host", 80},
    {u"HTTP://Host/feed", true, u"Host", 80},
    {u"http://host:/x", true, u"host", 80},
    {u"https://host:/x", true, u"host", 443},
    {u"http://host:80/feed", true, u"host", 80},
    {u"http://host:0080/feed", true, u"host", 80},
    {u"http://host:65535/", true, u"host", 65535},
    {u"http://host:1/", true, u"host", 1},
    {u"http://host:0/", false, nullptr, 0},
    {u"http://host:65536/", false, nullptr, 0},
    {u"http://host:99999/x", false, nullptr, 0},
    {u"http://h:80a/", false, nullptr, 0},
    {u"http://h:-1/", false, nullptr, 0},
    {u"http://h:8:8/", false, nullptr, 0},
    {u"http://[]/x", false, nullptr, 0},
    {u"http://[::1]0:8/x", false, nullptr, 0},
    {u"http://[::1]:8080/x", true, u"::1", 8080},
    {u"http://[::1]/x", true, u"::1", 80},
    {u"http://[2001:DB8::7]/", true, u"2001:DB8::7", 80},
    {u"http://[::ffff:127.0.0.1]/", true, u"::ffff:127.0.0.1", 80},
    {u"http://[fe80::1%25eth0]:81/x", true, u"fe80::1%25eth0", 81},
    {u"http://[fe80::1%eth0]/x", false, nullptr, 0},
    {u"http://[fe80::1%25]/x", false, nullptr, 0},
    {u"http://[::1/x", false, nullptr, 0},
    {u"http://[1:2:3]/x", false, nullptr, 0},
    {u"http://[v1.x]/x", false, nullptr, 0},
    {u"http://[host]/x", false, nullptr, 0},
    {u"https://a\\@[/x", false, nullptr, 0},
    {u"https://a@[/x", false, nullptr, 0},
    {u"http://user:pw@host/x", true, u"host", 80},
    {u"http://us@er:p@w@host:81/x", true, u"host", 81},
    {u"http://@host/x", true, u"host", 80},
    {u"http://user@/x", false, nullptr, 0},
    {u"http://%65xample.test/x", true, u"%65xample.test", 80},
    {u"http://%6/x", false, nullptr, 0},
    {u"http://%2Fetc/x", false, nullptr, 0},
    {u"http://host./x", true, u"host.", 80},
    {u"http://ho\u0001st/x", false, nullptr, 0},
    {u"http://ho\tst/x", false, nullptr, 0},
    {u"http://ho st/x", false, nullptr, 0},
    {u"http://ho\u007fst/x", false, nullptr, 0},
    {u"http://ho\u0085st/x", false, nullptr, 0},
    {u"http://host\\feed", false, nullptr, 0},
    {u"http://ho<st/x", false, nullptr, 0},
    {u"http://\u00fc.example/in", true, u"\u00fc.example", 80},
    {u"http://host", true, u"host", 80},
    {u"http://host?q", true, u"host", 80},
    {u"http://host#f", true, u"host", 80},
    {u"http://", false, nullptr, 0},
    {u"http:///x", false, nullptr, 0},
    {u"http://:80/x", false, nullptr, 0},
    {u"http:host/x", false, nullptr, 0},
    {u"http://host/a b\u0001?c d", true, u"host", 80},
};

std::string Show(const char16_t* text) { return qk::ToUtf8(std::u16string(text)); }

TEST(InternetAddress, TableOfAcceptedAndRefusedAddresses) {
  for (const AddressCase& c : kAddresses) {
    InternetAddress parts;
    const bool ok = ParseInternetAddress(c.text, parts);
    EXPECT_EQ(ok, c.accepted) << Show(c.text);
    if (!ok || !c.accepted) continue;
    EXPECT_EQ(parts.host, std::u16string_view(c.host)) << Show(c.text);
    EXPECT_EQ(parts.port, c.port) << Show(c.text);
    // The parts are the text, piece by piece.
    EXPECT_EQ(AssembleInternetAddress(parts), std::u16string(c.text)) << Show(c.text);
  }
}

TEST(InternetAddress, TheSplitterAcceptsAndSplitsExactlyAsTheParse) {
  for (const AddressCase& c : kAddresses) {
    WCHAR host[300], user[64], pass[64], path[300], extra[300];
    URL_COMPONENTSW split = {};
    split.dwStructSize = sizeof split;
    split.lpszHostName = host;
    split.dwHostNameLength = 300;
    split.lpszUserName = user;
    split.dwUserNameLength = 64;
    split.lpszPassword = pass;
    split.dwPasswordLength = 64;
    split.lpszUrlPath = path;
    split.dwUrlPathLength = 300;
    split.lpszExtraInfo = extra;
    split.dwExtraInfoLength = 300;
    const bool cracked = InternetCrackUrlW(c.text, 0, 0, &split) != FALSE;
    InternetAddress parts;
    const bool parsed = ParseInternetAddress(c.text, parts);
    EXPECT_EQ(cracked, parsed) << Show(c.text);
    if (!cracked || !parsed) {
      if (!cracked) {
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_INVALID_URL)) << Show(c.text);
      }
      continue;
    }
    EXPECT_EQ(std::u16string_view(host), parts.host) << Show(c.text);
    EXPECT_EQ(std::u16string_view(user), parts.user) << Show(c.text);
    EXPECT_EQ(std::u16string_view(pass), parts.password) << Show(c.text);
    EXPECT_EQ(std::u16string_view(path), parts.path) << Show(c.text);
    EXPECT_EQ(std::u16string_view(extra), parts.extra) << Show(c.text);
    EXPECT_EQ(split.nPort, parts.port) << Show(c.text);
  }
}

TEST(InternetAddress, KeyComparesSchemeAndHostWithoutCaseAndDropsTheDefaultPort) {
  const std::u16string key = InternetAddressKey(u"http://host/feed");
  EXPECT_EQ(key, u"http://host/feed");
  for (const char16_t* same : {u"HTTP://Host/feed", u"http://host:80/feed", u"http://HOST:/feed",
                               u"Http://hOsT:0080/feed"})
    EXPECT_EQ(InternetAddressKey(same), key) << Show(same);
  // What names another place stays apart: the path (its case and a
  // trailing slash), the query, the user, another port or scheme.
  for (const char16_t* other : {u"http://host/Feed", u"http://host/feed/", u"http://host/feed?a",
                                u"http://me@host/feed", u"http://host:8080/feed", u"https://host/feed",
                                u"http://host:443/feed", u"http://host./feed"})
    EXPECT_NE(InternetAddressKey(other), key) << Show(other);
  EXPECT_EQ(InternetAddressKey(u"https://H:443/x"), u"https://h/x");
  EXPECT_EQ(InternetAddressKey(u"HTTPS://H:80/x"), u"https://h:80/x");
  EXPECT_EQ(InternetAddressKey(u"http://Me:PW@H/P?Q#F"), u"http://Me:PW@h/P?Q#F");
  EXPECT_EQ(InternetAddressKey(u"http://[2001:DB8::7]:80/"), u"http://[2001:db8::7]/");
  // A text that is no address is compared as it stands.
  EXPECT_EQ(InternetAddressKey(u"HTTP://[]/x"), u"HTTP://[]/x");
  for (const AddressCase& c : kAddresses) {
    const std::u16string once = InternetAddressKey(c.text);
    EXPECT_EQ(InternetAddressKey(once), once) << Show(c.text);
  }
}

}  // namespace
