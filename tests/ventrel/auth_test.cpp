// Basic and Digest authentication against apache2 (mod_auth_basic and
// mod_auth_digest) and, for the variants apache does not serve (md5-sess,
// auth-int, qop lists), a scripted server that checks the answer itself.
#include <gtest/gtest.h>

#include "ventrel/digests.h"
#include "ventrel/downloader.h"
#include "ventrel_fixture.h"

namespace {

using vtest::Ok;
using vtest::Rule;
using vtest::Script;

class ApacheAuthTest : public vtest::HttpTest {
 protected:
  static void SetUpTestSuite() {
    apache_ = new qnet::ApacheServer();
    if (!apache_->Start("reader", "pa:ss word")) {
      delete apache_;
      apache_ = nullptr;
    }
  }
  static void TearDownTestSuite() {
    delete apache_;
    apache_ = nullptr;
  }
  void SetUp() override {
    HttpTest::SetUp();
    QNET_REQUIRE_PEER(apache_ != nullptr, "apache2");
  }
  CString Url(const std::string& path) {
    return Wide("http://127.0.0.1:" + std::to_string(apache_->port()) + path);
  }
  static qnet::ApacheServer* apache_;
  CDownloader dl_;
};
qnet::ApacheServer* ApacheAuthTest::apache_ = nullptr;

TEST_F(ApacheAuthTest, BasicWithTheRightPasswordGetsTheDocument) {
  dl_.SetCredentials(u"reader", u"pa:ss word");
  CString url = Url("/basic/index.txt");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"b.txt", 0)) << dl_.GetLastErrorCode();
  EXPECT_EQ(ReadDeviceFile(u"b.txt"), qnet::ApacheServer::kBody);
}

TEST_F(ApacheAuthTest, DigestWithQopAuth) {
  dl_.SetCredentials(u"reader", u"pa:ss word");
  for (const char* path : {"/digest/index.txt"}) {
    CString url = Url(path);
    ASSERT_TRUE(dl_.SaveHttpObject(url, u"d.txt", 0)) << path << " code " << dl_.GetLastErrorCode();
    EXPECT_EQ(ReadDeviceFile(u"d.txt"), qnet::ApacheServer::kBody);
  }
}

TEST_F(ApacheAuthTest, WrongPasswordMissingCredentialsAndNoChallenge) {
  dl_.SetCredentials(u"reader", u"wrong");
  for (const char* path : {"/basic/index.txt", "/digest/index.txt"}) {
    CString url = Url(path);
    EXPECT_FALSE(dl_.SaveHttpObject(url, u"x.txt", 0));
    EXPECT_EQ(dl_.GetLastErrorCode(), DL_AUTH_REFUSED) << path;
    EXPECT_EQ(dl_.GetLastStatus(), 401);
  }
  dl_.ClearCredentials();
  CString url = Url("/basic/index.txt");
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"x.txt", 0));
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_NO_CREDENTIALS);
  EXPECT_FALSE(DeviceFileExists(u"x.txt"));
}

class ScriptedAuthTest : public vtest::HttpTest {
 protected:
  std::string Digest(const std::string& qop, const std::string& algorithm) {
    std::string d = "{\"realm\": \"test realm\", \"nonce\": \"n0nce\", \"opaque\": \"0paque\", \"user\": \"u\", "
                    "\"password\": \"p\"";
    if (!qop.empty()) d += ", \"qop\": \"" + qop + "\"";
    if (!algorithm.empty()) d += ", \"algorithm\": \"" + algorithm + "\"";
    return ", \"digest\": " + d + "}";
  }
  qnet::ScriptedServer server_;
  CDownloader dl_;
};

TEST_F(ScriptedAuthTest, DigestVariantsAreAnsweredCorrectly) {
  ASSERT_TRUE(server_.Start(Script({
      Rule("/sess", Ok("md5-sess ok"), Digest("auth", "MD5-sess")),
      Rule("/int", Ok("auth-int ok"), Digest("auth-int", "")),
      Rule("/list", Ok("list ok"), Digest("auth-int,auth", "")),
      Rule("/upper", Ok("upper ok"), Digest("AUTH", "")),
      Rule("/none", Ok("none ok"), Digest("", "MD5")),
      Rule("/caf", Ok("encoded ok"), Digest("auth", "")),
  })));
  dl_.SetCredentials(u"u", u"p");
  for (const char* path : {"/sess", "/list", "/upper", "/none"}) {
    CString url = Wide(server_.Url(path));
    ASSERT_TRUE(dl_.SaveHttpObject(url, u"a.txt", 0)) << path << " code " << dl_.GetLastErrorCode();
  }
  CString url = Wide(server_.Url("/int"));
  CString reply;
  ASSERT_TRUE(dl_.Post(url, u"form=body", reply, 0)) << dl_.GetLastErrorCode();
  EXPECT_EQ(reply, CString(u"auth-int ok"));

  std::vector<std::string> seen = server_.Requests();
  ASSERT_EQ(seen.size(), 10u);
  // The second request of each pair answers the challenge; without a qop it
  // carries neither qop, cnonce nor nc.
  EXPECT_NE(seen[1].find("qop=auth, cnonce=\"7b3e90c4\", nc=00000001"), std::string::npos);
  EXPECT_NE(seen[3].find("qop=auth-int,"), std::string::npos);
  EXPECT_NE(seen[5].find("qop=AUTH,"), std::string::npos);  // a single qop is answered as offered
  EXPECT_EQ(seen[7].find("qop="), std::string::npos);
  EXPECT_EQ(seen[7].find("cnonce="), std::string::npos);
  EXPECT_NE(seen[7].find("opaque=\"0paque\""), std::string::npos);
  EXPECT_NE(seen[9].find("qop=auth-int,"), std::string::npos);
  EXPECT_NE(seen[9].find("\r\n\r\nform=body"), std::string::npos);

  // A non-ASCII target is answered as the request line carries it.
  url = Wide(server_.Url("/caf\xc3\xa9?q=\xc3\xa9"));
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"e.txt", 0)) << dl_.GetLastErrorCode();
  EXPECT_EQ(ReadDeviceFile(u"e.txt"), "encoded ok");
  seen = server_.Requests();
  ASSERT_EQ(seen.size(), 12u);
  EXPECT_NE(seen[11].find("uri=\"/caf%C3%A9?q=%C3%A9\""), std::string::npos) << seen[11];
}

TEST_F(ScriptedAuthTest, BasicHeaderAndBrokenChallenges) {
  ASSERT_TRUE(server_.Start(Script({
      Rule("/basic", "HTTP/1.1 401 No\r\nWWW-Authenticate: Basic realm=\"a, quoted realm\"\r\n\r\n"),
      Rule("/basic", Ok("in")),
      Rule("/ntlm", "HTTP/1.1 401 No\r\nWWW-Authenticate: NTLM realm=x\r\n\r\n"),
      Rule("/noheader", "HTTP/1.1 401 No\r\n\r\n"),
      Rule("/noblank", "HTTP/1.1 401 No\r\nWWW-Authenticate: Basic\r\n\r\n"),
      Rule("/unclosed", "HTTP/1.1 401 No\r\nWWW-Authenticate: Digest realm=\"open, nonce=1\r\n\r\n"),
      Rule("/noequals", "HTTP/1.1 401 No\r\nWWW-Authenticate: Digest realm\r\n\r\n"),
      Rule("/again", "HTTP/1.1 401 No\r\nWWW-Authenticate: Basic realm=r\r\n\r\n", ", \"times\": 2"),
  })));
  dl_.SetCredentials(u"user", u"pass");
  CString url = Wide(server_.Url("/basic"));
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"b.txt", 0));
  std::vector<std::string> seen = server_.Requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[1].find("\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"), std::string::npos);
  struct {
    const char* path;
    int code;
  } cases[] = {{"/ntlm", DL_UNKNOWN_SCHEME}, {"/noheader", DL_BAD_CHALLENGE}, {"/noblank", DL_BAD_CHALLENGE},
               {"/unclosed", DL_BAD_CHALLENGE}, {"/noequals", DL_BAD_CHALLENGE}, {"/again", DL_AUTH_REFUSED}};
  for (const auto& c : cases) {
    url = Wide(server_.Url(c.path));
    EXPECT_FALSE(dl_.SaveHttpObject(url, u"x.txt", 0)) << c.path;
    EXPECT_EQ(dl_.GetLastErrorCode(), c.code) << c.path;
  }
}

TEST_F(ScriptedAuthTest, AQuotedRealmKeepsItsCommaInTheDigest) {
  // The server checks the answer with its own realm: a realm cut at the
  // comma would give a wrong response and a second refusal.
  ASSERT_TRUE(server_.Start(Script({Rule("/comma", Ok("comma ok"),
                                         ", \"digest\": {\"realm\": \"north, south\", \"nonce\": \"n1\", "
                                         "\"qop\": \"auth\", \"user\": \"u\", \"password\": \"p\"}")})));
  dl_.SetCredentials(u"u", u"p");
  CString url = Wide(server_.Url("/comma"));
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"c.txt", 0)) << dl_.GetLastErrorCode();
  EXPECT_EQ(ReadDeviceFile(u"c.txt"), "comma ok");
  std::vector<std::string> seen = server_.Requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[1].find("realm=\"north, south\""), std::string::npos) << seen[1];
}

TEST_F(ScriptedAuthTest, WithoutCredentialsAChallengeEndsTheTransferAfterOneRequest) {
  ASSERT_TRUE(server_.Start(Script({Rule("/locked", "HTTP/1.1 401 No\r\nWWW-Authenticate: Basic realm=\"r\"\r\n\r\n",
                                         ", \"times\": 0")})));
  WriteDeviceFile(u"kept.txt", "before");
  CString url = Wide(server_.Url("/locked"));
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"kept.txt", 0));
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_NO_CREDENTIALS);
  EXPECT_EQ(server_.Requests().size(), 1u);  // no second request
  EXPECT_EQ(ReadDeviceFile(u"kept.txt"), "before");
}

TEST(DigestPieces, Rfc2617Example) {
  // The worked example of RFC 2617, section 3.5.
  std::string ha1 = CDownloader::DigestCalcHA1("", "Mufasa", "testrealm@host.com", "Circle Of Life",
                                               "dcd98b7102dd2f0e8b11d0f600bfb0c093", "0a4f113b");
  std::string response = CDownloader::DigestCalcResponse(ha1, "dcd98b7102dd2f0e8b11d0f600bfb0c093", "00000001",
                                                         "0a4f113b", "auth", "GET", "/dir/index.html", "");
  EXPECT_EQ(response, "6629fae49393a05397450978507c4ef1");
}

TEST(DigestPieces, QopChoice) {
  EXPECT_EQ(CDownloader::ChooseQop(u""), CString(u""));
  EXPECT_EQ(CDownloader::ChooseQop(u"auth"), CString(u"auth"));
  EXPECT_EQ(CDownloader::ChooseQop(u"auth-int,auth"), CString(u"auth-int"));
  EXPECT_EQ(CDownloader::ChooseQop(u"auth, auth-int"), CString(u"auth"));
  EXPECT_EQ(CDownloader::ChooseQop(u"x, AUTH"), CString(u"auth"));
  EXPECT_EQ(CDownloader::ChooseQop(u"x,y"), CString(u"y"));
}

}  // namespace
