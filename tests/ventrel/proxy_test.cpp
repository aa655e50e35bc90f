// Every proxy kind and TLS, against real servers: tinyproxy (CONNECT),
// dante (SOCKS4, SOCKS5 with and without user name and password) and a
// scripted server that serves http and https on one port with a
// certificate made for the test.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "ventrel/downloader.h"
#include "ventrel_fixture.h"

namespace {

using vtest::Ok;
using vtest::Rule;
using vtest::Script;

struct Peers {
  qnet::TinyProxy tiny;
  qnet::DanteServer dante;
  qnet::DanteServer danteAuth;
  bool tinyOk = false, danteOk = false, danteAuthOk = false;
};

class ProxyTest : public vtest::HttpTest {
 protected:
  static void SetUpTestSuite() {
    peers_ = new Peers();
    peers_->tinyOk = peers_->tiny.Start();
    peers_->danteOk = peers_->dante.Start();
    peers_->danteAuthOk = peers_->danteAuth.Start("quillet", "s0cks pass");
  }
  static void TearDownTestSuite() {
    delete peers_;
    peers_ = nullptr;
  }
  void SetUp() override {
    HttpTest::SetUp();
    const auto& certs = qnet::TestCertificates::Get();
    QNET_REQUIRE_PEER(certs.ok, "openssl");
    ASSERT_TRUE(target_.Start(Script({Rule("/", Ok("through"), ", \"times\": 0")}), certs.serverCert,
                              certs.serverKey));
    dl_.SetCaFile(Wide(certs.caFile));
    dl_.SetTimeout(5000);
  }
  CString Url(const char* scheme, const char* host = "localhost") {
    return Wide(std::string(scheme) + "://" + host + ":" + std::to_string(target_.port()) + "/doc");
  }
  static CProxySettings Proxy(int kind, int port, const char* user = nullptr, const char* password = nullptr) {
    CProxySettings p;
    p.m_nKind = kind;
    p.m_strHost = u"127.0.0.1";
    p.m_nPort = port;
    if (user) {
      p.m_bAuthenticate = 1;
      p.m_strUser = Wide(user);
      p.m_strPassword = Wide(password);
    }
    return p;
  }
  // Fetches over http and https and checks both arrived, the second over TLS.
  void FetchBoth() {
    CString url = Url("http");
    ASSERT_TRUE(dl_.SaveHttpObject(url, u"plain.txt", 0)) << "code " << dl_.GetLastErrorCode();
    EXPECT_EQ(ReadDeviceFile(u"plain.txt"), "through");
    url = Url("https");
    ASSERT_TRUE(dl_.SaveHttpObject(url, u"secure.txt", 0)) << "code " << dl_.GetLastErrorCode();
    EXPECT_EQ(ReadDeviceFile(u"secure.txt"), "through");
    std::vector<bool> tls = target_.RequestsOverTls();
    ASSERT_EQ(tls.size(), 2u);
    EXPECT_FALSE(tls[0]);
    EXPECT_TRUE(tls[1]);
  }

  static Peers* peers_;
  qnet::ScriptedServer target_;
  CDownloader dl_;
};
Peers* ProxyTest::peers_ = nullptr;

TEST_F(ProxyTest, DirectHttpAndHttps) {
  ASSERT_NO_FATAL_FAILURE(FetchBoth());
  std::string first = target_.Requests().at(0);
  EXPECT_EQ(first.substr(0, first.find("\r\n\r\n")),
            "GET /doc HTTP/1.1\r\nHost: localhost:" + std::to_string(target_.port()) +
                "\r\nConnection: close\r\nAccept-Encoding: identity");
}

TEST_F(ProxyTest, HttpProxyTunnelsBothAndLendsItsAgentName) {
  QNET_REQUIRE_PEER(peers_->tinyOk, "tinyproxy");
  dl_.SetProxy(Wide("127.0.0.1:" + std::to_string(peers_->tiny.port())));
  dl_.SetUserAgent(u"Quillet Mobile");
  ASSERT_NO_FATAL_FAILURE(FetchBoth());
  // The CONNECT reply's "Proxy-agent" becomes the agent of the request.
  std::string req = target_.Requests().at(0);
  EXPECT_NE(req.find("\r\nUser-Agent: tinyproxy/"), std::string::npos) << req;
}

TEST_F(ProxyTest, Socks4CarriesBoth) {
  QNET_REQUIRE_PEER(peers_->danteOk, "danted");
  CProxySettings p = Proxy(PROXY_SOCKS4, peers_->dante.port());
  dl_.SetProxySettings(&p);
  ASSERT_NO_FATAL_FAILURE(FetchBoth());
}

TEST_F(ProxyTest, Socks5WithoutAuthenticationCarriesBoth) {
  QNET_REQUIRE_PEER(peers_->danteOk, "danted");
  CProxySettings p = Proxy(PROXY_SOCKS5, peers_->dante.port());
  dl_.SetProxySettings(&p);
  ASSERT_NO_FATAL_FAILURE(FetchBoth());
}

TEST_F(ProxyTest, Socks5WithUserAndPasswordCarriesBoth) {
  QNET_REQUIRE_PEER(peers_->danteAuthOk, "danted");
  CProxySettings p = Proxy(PROXY_SOCKS5, peers_->danteAuth.port(), "quillet", "s0cks pass");
  dl_.SetProxySettings(&p);
  ASSERT_NO_FATAL_FAILURE(FetchBoth());
}

TEST_F(ProxyTest, Socks5RefusalsFailTheConnection) {
  QNET_REQUIRE_PEER(peers_->danteAuthOk, "danted");
  CProxySettings wrong = Proxy(PROXY_SOCKS5, peers_->danteAuth.port(), "quillet", "wrong");
  dl_.SetProxySettings(&wrong);
  CString url = Url("http");
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"x.txt", 0));
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_NO_CONNECTION);
  EXPECT_NE(RunLog().find("SOCKS5 proxy refused the user name and password"), std::string::npos);

  // No method in common: the proxy wants a password, the client offers none.
  CProxySettings none = Proxy(PROXY_SOCKS5, peers_->danteAuth.port());
  dl_.SetProxySettings(&none);
  url = Url("http");
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"x.txt", 0));
  EXPECT_NE(RunLog().find("SOCKS5 proxy offers no acceptable method: 255"), std::string::npos);

  // Lengths travel in one byte: 256 bytes cannot be sent, nothing is wrapped.
  CProxySettings longUser = Proxy(PROXY_SOCKS5, peers_->danteAuth.port(), std::string(256, 'u').c_str(), "p");
  dl_.SetProxySettings(&longUser);
  url = Url("http");
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"x.txt", 0));
  EXPECT_NE(RunLog().find("longer than 255 bytes"), std::string::npos);
  CProxySettings longHost = Proxy(PROXY_SOCKS5, peers_->danteAuth.port(), "quillet", "s0cks pass");
  dl_.SetProxySettings(&longHost);
  url = Wide("http://" + std::string(256, 'h') + "/");
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"x.txt", 0));
  EXPECT_EQ(target_.Requests().size(), 0u);
}

TEST_F(ProxyTest, Socks4RejectionFailsTheConnection) {
  // A SOCKS4 "proxy" that rejects every request (0x5B).
  qnet::ScriptedServer socks;
  ASSERT_TRUE(socks.Start("{\"raw\": true, \"rules\": [" + Rule("", "", ", \"response_b64\": \"AFsAAAAAAAA=\"") + "]}"));
  CProxySettings p = Proxy(PROXY_SOCKS4, socks.port());
  dl_.SetProxySettings(&p);
  CString url = Url("http", "127.0.0.1");
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"x.txt", 0));
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_NO_CONNECTION);
  EXPECT_NE(RunLog().find("SOCKS4 proxy refused the connection: 91"), std::string::npos);
}

// Proxies whose replies arrive in pieces, followed at once by the answer to
// the tunnelled request: reading more or less than a reply would garble the
// HTTP status line that follows.
TEST_F(ProxyTest, FragmentedSocksRepliesAreReadWhole) {
  std::string http = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nwhole";
  auto chunk = [](const std::string& data, int delay) {
    return "{\"data\": " + vtest::JsonText(data) + ", \"delay_ms\": " + std::to_string(delay) + "}";
  };
  struct {
    int kind;
    std::vector<std::string> pieces;
  } cases[] = {
      {PROXY_SOCKS4, {std::string("\x00\x5a\x00", 3), std::string("\x00\x00\x00\x00\x00", 5), http}},
      {PROXY_SOCKS5,
       {std::string("\x05\x00", 2), std::string("\x05\x00\x00\x03", 4), std::string("\x09", 1), "localhost",
        std::string("\x00\x50", 2), http}},
      {PROXY_SOCKS5, {std::string("\x05\x00\x05\x00\x00\x04", 6), std::string(16, '\0') + std::string("\x01\xbb", 2), http}},
  };
  for (const auto& c : cases) {
    std::string chunks;
    for (size_t i = 0; i < c.pieces.size(); ++i) chunks += (i ? ", " : "") + chunk(c.pieces[i], 30);
    qnet::ScriptedServer socks;
    ASSERT_TRUE(socks.Start("{\"raw\": true, \"rules\": [" + Rule("", "", ", \"chunks\": [" + chunks + "]") + "]}"));
    CProxySettings p = Proxy(c.kind, socks.port());
    dl_.SetProxySettings(&p);
    CString url = Url("http", "127.0.0.1");
    ASSERT_TRUE(dl_.SaveHttpObject(url, u"f.txt", 0)) << "kind " << c.kind << " code " << dl_.GetLastErrorCode();
    EXPECT_EQ(ReadDeviceFile(u"f.txt"), "whole");
  }
}

// A proxy reply or a TLS handshake trickled a byte at a time keeps every
// single receive within the time-out; the whole exchange still gets only
// the time-out. The trickle takes ten seconds or more, so the bound on the
// failure can be generous for a loaded machine and still tell a deadline
// from a wait for the whole trickle.
TEST_F(ProxyTest, RepliesAndHandshakesTrickledByteByByteTimeOut) {
  auto drip = [](const std::string& bytes, const std::string& first) {
    std::string chunks = "{\"data\": " + vtest::JsonText(first) + "}";
    for (char c : bytes) chunks += ", {\"data\": " + vtest::JsonText(std::string(1, c)) + ", \"delay_ms\": 900}";
    return "{\"raw\": true, \"rules\": [" + Rule("", "", ", \"chunks\": [" + chunks + "]") + "]}";
  };
  dl_.SetTimeout(2000);
  struct {
    const char* what;
    std::string script;
    int proxyKind;  // -1: none
    const char* scheme;
    const char* log;
  } cases[] = {
      {"SOCKS5 reply", drip(std::string("\x05\x00\x00\x03\x09localhost\x00\x50", 16), std::string("\x05\x00", 2)),
       PROXY_SOCKS5, "http", "SOCKS5 proxy gave no complete reply"},
      {"SOCKS4 reply", drip(std::string("\x5a\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 12), std::string("\x00", 1)),
       PROXY_SOCKS4, "http", "SOCKS4 proxy gave no complete reply"},
      {"TLS handshake", drip(std::string(24, '\x03'), "\x16"), -1, "https", "the TLS handshake timed out"},
  };
  for (const auto& c : cases) {
    qnet::ScriptedServer server;
    ASSERT_TRUE(server.Start(c.script));
    CString url;
    if (c.proxyKind >= 0) {
      CProxySettings p = Proxy(c.proxyKind, server.port());
      dl_.SetProxySettings(&p);
      url = Url(c.scheme);
    } else {
      dl_.SetProxySettings(nullptr);
      url = Wide(std::string(c.scheme) + "://localhost:" + std::to_string(server.port()) + "/doc");
    }
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(dl_.SaveHttpObject(url, u"drip.txt", 0)) << c.what;
    EXPECT_EQ(dl_.GetLastErrorCode(), DL_NO_CONNECTION) << c.what;
    EXPECT_LT(vtest::ElapsedMs(start), 8000) << c.what;  // the whole drip takes 10 s or more
    EXPECT_NE(RunLog().find(c.log), std::string::npos) << c.what;
  }
}

TEST_F(ProxyTest, ARefusedConnectIsAFailedConnection) {
  qnet::ScriptedServer proxy;
  ASSERT_TRUE(proxy.Start(Script({Rule("", "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")})));
  dl_.SetProxy(Wide("127.0.0.1:" + std::to_string(proxy.port())));
  CString url = Url("https");
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"x.txt", 0));
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_NO_CONNECTION);
  EXPECT_NE(RunLog().find("Proxy refused CONNECT to localhost:"), std::string::npos);
  std::string connect = proxy.Requests().at(0);
  EXPECT_EQ(connect, "CONNECT localhost:" + std::to_string(target_.port()) + " HTTP/1.1\r\nHost: localhost:" +
                         std::to_string(target_.port()) + "\r\n\r\n");
}

class TlsTest : public ProxyTest {
 protected:
  // A server presenting the given certificate.
  bool StartWith(const std::string& cert, const std::string& key) {
    return other_.Start(Script({Rule("/", Ok("secret"), ", \"times\": 0")}), cert, key);
  }
  CString OtherUrl(const char* host = "localhost") {
    return Wide(std::string("https://") + host + ":" + std::to_string(other_.port()) + "/login");
  }
  qnet::ScriptedServer other_;
};

TEST_F(TlsTest, UntrustedExpiredAndMisnamedCertificatesAreRefused) {
  const auto& certs = qnet::TestCertificates::Get();
  struct {
    std::string cert, key;
    const char* why;
  } cases[] = {{certs.selfSignedCert, certs.selfSignedKey, "issuer not trusted"},
               {certs.expiredCert, certs.expiredKey, "expired or not yet valid"},
               {certs.otherNameCert, certs.otherNameKey, "not issued for this host"}};
  for (const auto& c : cases) {
    qnet::ScriptedServer server;
    ASSERT_TRUE(server.Start(Script({Rule("/", Ok("secret"), ", \"times\": 0")}), c.cert, c.key));
    CString url = Wide("https://localhost:" + std::to_string(server.port()) + "/login");
    EXPECT_FALSE(dl_.SaveHttpObject(url, u"x.txt", 0)) << c.why;
    EXPECT_EQ(dl_.GetLastErrorCode(), DL_NO_CONNECTION);
    EXPECT_NE(RunLog().find(std::string("Certificate of 'localhost' refused (cn=")), std::string::npos);
    EXPECT_NE(RunLog().find(c.why), std::string::npos) << c.why;
    EXPECT_EQ(server.Requests().size(), 0u) << "a request went out over a refused connection";
  }
}

TEST_F(TlsTest, WithoutTheTestAuthorityTheServerIsNotTrusted) {
  const auto& certs = qnet::TestCertificates::Get();
  ASSERT_TRUE(StartWith(certs.serverCert, certs.serverKey));
  CDownloader fresh;
  CString url = OtherUrl();
  EXPECT_FALSE(fresh.SaveHttpObject(url, u"x.txt", 0));
  EXPECT_EQ(fresh.GetLastErrorCode(), DL_NO_CONNECTION);
  url = OtherUrl();
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"x.txt", 0));
  EXPECT_EQ(ReadDeviceFile(u"x.txt"), "secret");
}

TEST_F(TlsTest, ThroughAProxyTheCertificateMustNameTheTarget) {
  QNET_REQUIRE_PEER(peers_->tinyOk, "tinyproxy");
  QNET_REQUIRE_PEER(peers_->danteOk, "danted");
  const auto& certs = qnet::TestCertificates::Get();
  ASSERT_TRUE(StartWith(certs.otherNameCert, certs.otherNameKey));
  dl_.SetProxy(Wide("127.0.0.1:" + std::to_string(peers_->tiny.port())));
  CString url = OtherUrl();
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"x.txt", 0));
  EXPECT_NE(RunLog().find("Certificate of 'localhost' refused"), std::string::npos);
  CProxySettings p = Proxy(PROXY_SOCKS5, peers_->dante.port());
  dl_.SetProxySettings(&p);
  url = OtherUrl();
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"x.txt", 0));
  EXPECT_EQ(other_.Requests().size(), 0u);
}

TEST_F(TlsTest, ARelativeRedirectOnHttpsKeepsTheSchemeHostAndPort) {
  const auto& certs = qnet::TestCertificates::Get();
  qnet::ScriptedServer s;
  ASSERT_TRUE(s.Start(Script({Rule("/dir/start", "HTTP/1.1 302 Found\r\nLocation: next\r\n\r\n"),
                              Rule("/dir/next", Ok("kept secure"))}),
                      certs.serverCert, certs.serverKey));
  std::string origin = "https://localhost:" + std::to_string(s.port());
  CString url = Wide(origin + "/dir/start");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"rel.txt", 0)) << dl_.GetLastErrorCode();
  EXPECT_EQ(ReadDeviceFile(u"rel.txt"), "kept secure");
  EXPECT_EQ(dl_.GetCurrentUrl(), Wide(origin + "/dir/next"));
  std::vector<std::string> seen = s.Requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].substr(0, seen[1].find("\r\n")), "GET /dir/next HTTP/1.1");
  std::vector<bool> tls = s.RequestsOverTls();
  EXPECT_TRUE(tls.at(0));
  EXPECT_TRUE(tls.at(1));
}

// openssl s_server presents a certificate for other.example unless the
// client names "localhost" in its server name indication: only a client that
// sends the target's name gets the certificate it can accept.
TEST_F(TlsTest, TheTargetIsNamedInTheServerNameIndication) {
  const auto& certs = qnet::TestCertificates::Get();
  std::string dir = qnet::MakeTempFolder("sni");
  qnet::ChildProcess server;
  int port = 0;
  bool listening = false;
  for (int attempt = 0; attempt < 5 && !listening; ++attempt) {
    port = qnet::FreeLoopbackPort();
    ASSERT_TRUE(server.Start({"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(port), "-cert",
                              certs.otherNameCert, "-key", certs.otherNameKey, "-servername", "localhost", "-cert2",
                              certs.serverCert, "-key2", certs.serverKey, "-www", "-quiet"},
                             false, dir + "/s_server.log"));
    listening = qnet::WaitForListener(port, 10000, &server);
    if (!listening) server.Stop();
  }
  ASSERT_TRUE(listening) << "openssl s_server did not start";
  CString url = Wide("https://localhost:" + std::to_string(port) + "/");
  EXPECT_TRUE(dl_.SaveHttpObject(url, u"sni.html", 0)) << "direct: code " << dl_.GetLastErrorCode();
  EXPECT_TRUE(peers_->danteOk || !qnet::PeerInstalled("danted"));
  EXPECT_TRUE(peers_->tinyOk || !qnet::PeerInstalled("tinyproxy"));
  if (peers_->danteOk) {
    CProxySettings p = Proxy(PROXY_SOCKS5, peers_->dante.port());
    dl_.SetProxySettings(&p);
    url = Wide("https://localhost:" + std::to_string(port) + "/");
    EXPECT_TRUE(dl_.SaveHttpObject(url, u"sni.html", 0)) << "socks5: code " << dl_.GetLastErrorCode();
  }
  if (peers_->tinyOk) {
    dl_.SetProxy(Wide("127.0.0.1:" + std::to_string(peers_->tiny.port())));
    url = Wide("https://localhost:" + std::to_string(port) + "/");
    EXPECT_TRUE(dl_.SaveHttpObject(url, u"sni.html", 0)) << "http proxy: code " << dl_.GetLastErrorCode();
  }
  server.Stop();
  qnet::RemoveTree(dir);
}

TEST_F(TlsTest, RedirectFromHttpToHttps) {
  qnet::ScriptedServer s;
  ASSERT_TRUE(s.Start(Script({Rule("/up", "HTTP/1.1 302 Found\r\nLocation: https://localhost:" + std::to_string(target_.port()) + "/doc\r\n\r\n")})));
  CString url = Wide(s.Url("/up"));
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"r.txt", 0)) << dl_.GetLastErrorCode();
  EXPECT_EQ(ReadDeviceFile(u"r.txt"), "through");
  EXPECT_TRUE(target_.RequestsOverTls().at(0));
}

// Counts SIGPIPE signals raised in this process while it lives; the default
// action would end the reader instead.
class SigpipeWatch {
 public:
  SigpipeWatch() {
    count_ = 0;
    struct sigaction sa {};
    sa.sa_handler = [](int) { count_.fetch_add(1); };
    sigemptyset(&sa.sa_mask);
    sigaction(SIGPIPE, &sa, &old_);
  }
  ~SigpipeWatch() { sigaction(SIGPIPE, &old_, nullptr); }
  int count() const { return count_.load(); }

 private:
  static std::atomic<int> count_;
  struct sigaction old_ {};
};
std::atomic<int> SigpipeWatch::count_{0};

// Cancelling an https transfer while it waits for the answer or reads the
// body, directly and through each proxy kind: the transfer fails with the
// code of its phase and the process gets no SIGPIPE.
TEST_F(TlsTest, CancelledHttpsTransfersRaiseNoSigpipe) {
  const auto& certs = qnet::TestCertificates::Get();
  std::string body = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + std::string(65536, 'b');
  ASSERT_TRUE(other_.Start(Script({Rule("/wait", "", ", \"silent\": true, \"times\": 0"),
                                   Rule("/body", body,
                                        ", \"chunks\": [{\"data\": \"late\", \"delay_ms\": 20000}], "
                                        "\"hold\": true, \"times\": 0")}),
                           certs.serverCert, certs.serverKey));
  QNET_REQUIRE_PEER(peers_->tinyOk, "tinyproxy");
  QNET_REQUIRE_PEER(peers_->danteOk, "danted");
  struct Route {
    const char* name;
    int kind;  // -1 direct
    int port;
  } routes[] = {{"direct", -1, 0},
                {"http proxy", PROXY_HTTP, peers_->tiny.port()},
                {"socks4", PROXY_SOCKS4, peers_->dante.port()},
                {"socks5", PROXY_SOCKS5, peers_->dante.port()}};
  SigpipeWatch watch;
  size_t requests = 0;
  for (const Route& r : routes) {
    CProxySettings p = Proxy(r.kind, r.port);
    dl_.SetProxySettings(r.kind < 0 ? nullptr : &p);
    for (bool inBody : {false, true}) {
      dl_.ResetCancel();
      const char16_t* file = inBody ? u"body.txt" : u"wait.txt";
      std::string host = DeviceTest::Host(file);
      unlink(host.c_str());
      ++requests;
      auto start = std::chrono::steady_clock::now();
      std::thread ui([&] {
        if (inBody) WaitForFileSize(host, 8192);
        else WaitForRequests(other_, requests);
        dl_.Terminate();
      });
      CString url = Wide("https://localhost:" + std::to_string(other_.port()) + (inBody ? "/body" : "/wait"));
      EXPECT_FALSE(dl_.SaveHttpObject(url, file, 0)) << r.name;
      ui.join();
      EXPECT_EQ(dl_.GetLastErrorCode(), inBody ? DL_STORE_FAILED : DL_NO_RESPONSE) << r.name << " body " << inBody;
      EXPECT_LT(vtest::ElapsedMs(start), 8000) << r.name;
      EXPECT_EQ(watch.count(), 0) << r.name << (inBody ? ": cancelled in the body" : ": cancelled in the header wait");
    }
  }
  EXPECT_TRUE(other_.RequestsOverTls().at(0));
}

TEST(CertificateNames, TheCommonNameEndsAtTheFirstSeparator) {
  char subject[] = "c=US, o=Example, cn=www.example.com, ou=Web";
  char* cn = GetCertificateCommonName(subject);
  ASSERT_NE(cn, nullptr);
  EXPECT_STREQ(cn, "www.example.com");
  char last[] = "o=Example, cn=reader.example";
  ASSERT_NE(GetCertificateCommonName(last), nullptr);
  EXPECT_STREQ(GetCertificateCommonName(last), "reader.example");
  char blank[] = "cn=two words";
  EXPECT_STREQ(GetCertificateCommonName(blank), "two");
  char none[] = "c=US, o=Example";
  EXPECT_EQ(GetCertificateCommonName(none), nullptr);
  EXPECT_EQ(GetCertificateCommonName(nullptr), nullptr);
}

}  // namespace
