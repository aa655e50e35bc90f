// Sockets and secure sockets against real loopback servers.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kernel/time.h"
#include "net/sslsock.h"
#include "net/winsock.h"
#include "support/net_servers.h"

namespace {

const char* kOkRule =
    R"({"rules": [{"times": 0, "response": "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello"}]})";

class SocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
  }
  void TearDown() override {
    if (s_ != INVALID_SOCKET) closesocket(s_);
    WSACleanup();
  }
  bool ConnectTo(int port) {
    s_ = socket(AF_INET, SOCK_STREAM, 0);
    if (s_ == INVALID_SOCKET) return false;
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(USHORT(port));
    sa.sin_addr.s_addr = inet_addr("127.0.0.1");
    return connect(s_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  }
  std::string ReadAll() {
    std::string out;
    char buf[4096];
    for (;;) {
      int n = recv(s_, buf, sizeof buf, 0);
      if (n <= 0) break;
      out.append(buf, size_t(n));
    }
    return out;
  }
  SOCKET s_ = INVALID_SOCKET;
};

TEST(SocketStartup, CallsFailBeforeWSAStartup) {
  EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

TEST_F(SocketTest, ExchangesBytesWithAServer) {
  qnet::ScriptedServer server;
  ASSERT_TRUE(server.Start(kOkRule));
  ASSERT_TRUE(ConnectTo(server.port()));
  const char req[] = "GET /x HTTP/1.1\r\nHost: a\r\n\r\n";
  EXPECT_EQ(send(s_, req, int(sizeof req - 1), 0), int(sizeof req - 1));
  std::string reply = ReadAll();
  EXPECT_NE(reply.find("hello"), std::string::npos);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0], req);
}

TEST_F(SocketTest, ShutdownFromAnotherThreadWakesABlockedWait) {
  qnet::ScriptedServer server;
  ASSERT_TRUE(server.Start(R"({"rules": [{"silent": true}]})"));
  ASSERT_TRUE(ConnectTo(server.port()));
  const char req[] = "GET / HTTP/1.1\r\n\r\n";
  send(s_, req, int(sizeof req - 1), 0);
  auto start = std::chrono::steady_clock::now();
  SOCKET s = s_;
  std::thread other([s] { shutdown(s, SD_BOTH); });
  WSAPOLLFD p = {s_, POLLRDNORM, 0};
  int ready = WSAPoll(&p, 1, 20000);
  other.join();
  EXPECT_EQ(ready, 1);
  char c;
  EXPECT_EQ(recv(s_, &c, 1, 0), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(SocketTest, PollTimesOutOnASilentServer) {
  qnet::ScriptedServer server;
  ASSERT_TRUE(server.Start(R"({"rules": [{"silent": true}]})"));
  ASSERT_TRUE(ConnectTo(server.port()));
  WSAPOLLFD p = {s_, POLLRDNORM, 0};
  EXPECT_EQ(WSAPoll(&p, 1, 100), 0);
}

TEST_F(SocketTest, LookupAndAddresses) {
  EXPECT_EQ(inet_addr("127.0.0.1"), htonl(INADDR_LOOPBACK));
  EXPECT_EQ(inet_addr("not an address"), INADDR_NONE);
  hostent* he = gethostbyname("localhost");
  ASSERT_NE(he, nullptr);
  ULONG a;
  std::memcpy(&a, he->h_addr_list[0], 4);
  EXPECT_EQ(a, htonl(INADDR_LOOPBACK));
  EXPECT_EQ(gethostbyname("no-such-host.invalid"), nullptr);
  EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
  EXPECT_EQ(htons(0x1234), 0x3412);
}

TEST_F(SocketTest, RefusedConnectionReportsTheError) {
  int port = qnet::FreeLoopbackPort();
  EXPECT_FALSE(ConnectTo(port));
  EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
}

TEST_F(SocketTest, SendToAClosedPeerFailsWithoutASignal) {
  qnet::ScriptedServer server;
  ASSERT_TRUE(server.Start(kOkRule));
  ASSERT_TRUE(ConnectTo(server.port()));
  const char req[] = "GET / HTTP/1.1\r\n\r\n";
  send(s_, req, int(sizeof req - 1), 0);
  ReadAll();  // the server has closed its side
  std::string big(1 << 20, 'x');
  int rc = 0;
  for (int i = 0; i < 20 && rc != SOCKET_ERROR; ++i) rc = send(s_, big.data(), int(big.size()), 0);
  EXPECT_EQ(rc, SOCKET_ERROR);  // and the process is still alive: no SIGPIPE
}

// Secure sockets.

struct HookRecord {
  int calls = 0;
  DWORD flags = 0;
  std::string host;
  std::vector<std::string> chain;
  int answer = SSL_ERR_OKAY;
};

int RecordingHook(DWORD type, LPVOID arg, DWORD chainLen, LPBLOB chain, DWORD flags) {
  HookRecord* r = static_cast<HookRecord*>(arg);
  r->calls++;
  r->flags = flags;
  EXPECT_EQ(type, DWORD(SSL_CERT_X509));
  for (DWORD i = 0; i < chainLen; ++i)
    r->chain.emplace_back(reinterpret_cast<char*>(chain[i].pBlobData), chain[i].cbSize);
  return r->answer;
}

class SecureSocketTest : public SocketTest {
 protected:
  void SetUp() override {
    SocketTest::SetUp();
    QNET_REQUIRE_PEER(qnet::TestCertificates::Get().ok, "openssl");
  }
  // Connects with TLS to a server presenting cert; returns the handshake result.
  bool SecureConnect(const std::string& cert, const std::string& key, const char* peer, bool trustTestCa,
                     HookRecord* hook, bool defer = true) {
    return SecureConnectTo(server_, cert, key, peer, trustTestCa, hook, defer);
  }
  bool SecureConnectTo(qnet::ScriptedServer& server, const std::string& cert, const std::string& key,
                       const char* peer, bool trustTestCa, HookRecord* hook, bool defer = true) {
    EXPECT_TRUE(server.Start(kOkRule, cert, key));
    s_ = socket(AF_INET, SOCK_STREAM, 0);
    DWORD mode = SO_SEC_SSL;
    EXPECT_EQ(setsockopt(s_, SOL_SOCKET, SO_SECURE, reinterpret_cast<char*>(&mode), sizeof mode), 0);
    DWORD ret;
    if (hook) {
      SSLVALIDATECERTHOOK h = {&RecordingHook, hook};
      EXPECT_EQ(WSAIoctl(s_, SO_SSL_SET_VALIDATE_CERT_HOOK, &h, sizeof h, nullptr, 0, &ret, nullptr, nullptr), 0);
    }
    if (peer) WSAIoctl(s_, SO_SSL_SET_PEERNAME, const_cast<char*>(peer), DWORD(strlen(peer) + 1), nullptr, 0, &ret,
                       nullptr, nullptr);
    if (trustTestCa) {
      std::string ca = qnet::TestCertificates::Get().caFile;
      WSAIoctl(s_, SO_SSL_ADD_CA_FILE, ca.data(), DWORD(ca.size() + 1), nullptr, 0, &ret, nullptr, nullptr);
    }
    if (defer) {
      DWORD flags = SSL_FLAG_DEFER_HANDSHAKE;
      EXPECT_EQ(WSAIoctl(s_, SO_SSL_SET_FLAGS, &flags, sizeof flags, nullptr, 0, &ret, nullptr, nullptr), 0);
    }
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(USHORT(server.port()));
    sa.sin_addr.s_addr = inet_addr("127.0.0.1");
    if (connect(s_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return false;
    if (!defer) return true;
    return WSAIoctl(s_, SO_SSL_PERFORM_HANDSHAKE, nullptr, 0, nullptr, 0, &ret, nullptr, nullptr) == 0;
  }
  qnet::ScriptedServer server_;
};

TEST_F(SecureSocketTest, TrustedCertificateForTheNamedHostCarriesARequest) {
  const auto& certs = qnet::TestCertificates::Get();
  HookRecord hook;
  ASSERT_TRUE(SecureConnect(certs.serverCert, certs.serverKey, "localhost", true, &hook));
  EXPECT_EQ(hook.calls, 1);
  EXPECT_EQ(hook.flags, 0u);
  ASSERT_FALSE(hook.chain.empty());
  const char req[] = "GET /tls HTTP/1.1\r\n\r\n";
  send(s_, req, int(sizeof req - 1), 0);
  EXPECT_NE(ReadAll().find("hello"), std::string::npos);
  ASSERT_EQ(server_.RequestsOverTls().size(), 1u);
  EXPECT_TRUE(server_.RequestsOverTls()[0]);

  // The leaf certificate cracks into its subject and dates.
  PX509Certificate cracked = nullptr;
  ASSERT_TRUE(SslCrackCertificate(reinterpret_cast<BYTE*>(hook.chain[0].data()), DWORD(hook.chain[0].size()), 0,
                                  &cracked));
  EXPECT_NE(std::string(cracked->pszSubject).find("cn=localhost"), std::string::npos);
  EXPECT_NE(std::string(cracked->pszIssuer).find("cn=Quillet Test CA"), std::string::npos);
  EXPECT_LT(CompareFileTime(&cracked->ValidFrom, &cracked->ValidUntil), 0);
  SslFreeCertificate(cracked);
}

TEST_F(SecureSocketTest, DecryptedBytesWaitingInTheTlsLayerCountAsReadable) {
  const auto& certs = qnet::TestCertificates::Get();
  HookRecord hook;
  ASSERT_TRUE(server_.Start(R"({"rules": [{"response": "HTTP/1.1 200 OK\r\n\r\nhello", "hold": true}]})",
                            certs.serverCert, certs.serverKey));
  s_ = socket(AF_INET, SOCK_STREAM, 0);
  DWORD mode = SO_SEC_SSL, ret;
  setsockopt(s_, SOL_SOCKET, SO_SECURE, reinterpret_cast<char*>(&mode), sizeof mode);
  WSAIoctl(s_, SO_SSL_SET_PEERNAME, const_cast<char*>("localhost"), 10, nullptr, 0, &ret, nullptr, nullptr);
  std::string ca = certs.caFile;
  WSAIoctl(s_, SO_SSL_ADD_CA_FILE, ca.data(), DWORD(ca.size() + 1), nullptr, 0, &ret, nullptr, nullptr);
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_port = htons(USHORT(server_.port()));
  sa.sin_addr.s_addr = inet_addr("127.0.0.1");
  ASSERT_EQ(connect(s_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  const char req[] = "GET / HTTP/1.1\r\n\r\n";
  send(s_, req, int(sizeof req - 1), 0);
  char c;
  ASSERT_EQ(recv(s_, &c, 1, 0), 1);  // one byte out of the record; the rest stays decrypted
  // The server sends nothing more and keeps the connection: only the TLS
  // layer holds bytes, and the wait must see them.
  auto start = std::chrono::steady_clock::now();
  WSAPOLLFD p = {s_, POLLRDNORM, 0};
  EXPECT_EQ(WSAPoll(&p, 1, 10000), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  char rest[64];
  int n = recv(s_, rest, sizeof rest, 0);
  ASSERT_GT(n, 0);
  std::string got(1, c);
  got.append(rest, size_t(n));
  EXPECT_EQ(got, "HTTP/1.1 200 OK\r\n\r\nhello");
}

TEST_F(SecureSocketTest, AnIpAddressPeerIsCheckedAgainstTheAddress) {
  const auto& certs = qnet::TestCertificates::Get();
  HookRecord hook;
  ASSERT_TRUE(SecureConnect(certs.serverCert, certs.serverKey, "127.0.0.1", true, &hook));
  EXPECT_EQ(hook.flags, 0u);
}

TEST_F(SecureSocketTest, HookSeesEveryProblemAndItsRefusalFailsTheHandshake) {
  const auto& certs = qnet::TestCertificates::Get();
  struct Case {
    std::string cert, key;
    bool trust;
    DWORD flag;
  } cases[] = {
      {certs.selfSignedCert, certs.selfSignedKey, true, SSL_CERT_FLAG_ISSUER_UNKNOWN},
      {certs.serverCert, certs.serverKey, false, SSL_CERT_FLAG_ISSUER_UNKNOWN},
      {certs.expiredCert, certs.expiredKey, true, SSL_CERT_FLAG_NOT_TIME_VALID},
      {certs.otherNameCert, certs.otherNameKey, true, SSL_CERT_FLAG_NAME_MISMATCH},
  };
  for (const Case& c : cases) {
    qnet::ScriptedServer server;
    HookRecord hook;
    hook.answer = SSL_ERR_CERT_UNKNOWN;
    EXPECT_FALSE(SecureConnectTo(server, c.cert, c.key, "localhost", c.trust, &hook));
    EXPECT_EQ(WSAGetLastError(), WSAECONNABORTED);
    EXPECT_EQ(hook.calls, 1);
    EXPECT_TRUE(hook.flags & c.flag) << "flags " << hook.flags;
    EXPECT_FALSE(SslLastHandshakeError().empty());
    closesocket(s_);
    s_ = INVALID_SOCKET;
  }
}

TEST_F(SecureSocketTest, AHookMayAcceptWhatTheCheckRefused) {
  const auto& certs = qnet::TestCertificates::Get();
  HookRecord hook;
  hook.answer = SSL_ERR_OKAY;
  ASSERT_TRUE(SecureConnect(certs.selfSignedCert, certs.selfSignedKey, "localhost", false, &hook));
  EXPECT_TRUE(hook.flags & SSL_CERT_FLAG_ISSUER_UNKNOWN);
}

TEST_F(SecureSocketTest, WithoutAHookOnlyASoundCertificatePasses) {
  const auto& certs = qnet::TestCertificates::Get();
  EXPECT_FALSE(SecureConnect(certs.selfSignedCert, certs.selfSignedKey, "localhost", false, nullptr));
}

TEST_F(SecureSocketTest, WithoutDeferringConnectPerformsTheHandshake) {
  const auto& certs = qnet::TestCertificates::Get();
  HookRecord hook;
  ASSERT_TRUE(SecureConnect(certs.serverCert, certs.serverKey, "localhost", true, &hook, false));
  EXPECT_EQ(hook.calls, 1);
  const char req[] = "GET / HTTP/1.1\r\n\r\n";
  send(s_, req, int(sizeof req - 1), 0);
  EXPECT_NE(ReadAll().find("hello"), std::string::npos);
}

}  // namespace
