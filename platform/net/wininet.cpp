// The one-URL Internet API over libcurl (see net/wininet.h).
//
// Each request runs one libcurl transfer on a transfer thread. The body is
// kept in a buffer of at most 1 MB between the transfer and the reader: the
// transfer waits while the buffer is full, so a slow reader slows the
// transfer instead of filling memory. Closing the request ends the transfer
// and waits until its thread has let go of it before the handle goes.
//
// Transfer threads are kept for later requests: a thread that finished its
// request waits for the next one (the most recently idle thread is taken
// first) and ends after kIdleWorkerMs without work. Each keeps its libcurl
// handle, and with it the connections that the servers left open, so a run
// of downloads from one server reuses one connection instead of opening one
// per URL. A connection the server has closed meanwhile is not reused
// (libcurl checks it before use and repeats a request that a dead reused
// connection swallowed on a new one).
#include "net/wininet.h"

#include <curl/curl.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <thread>
#include <vector>

#include "kernel/handle.h"
#include "kernel/localmem.h"
#include "kernel/wstring.h"
#include "net/urlfuncs.h"

namespace {

constexpr size_t kBufferCap = 1 << 20;
constexpr DWORD kDefaultReceiveTimeoutMs = 60000;
constexpr long kMinBytesPerPeriod = 256;
constexpr int kIdleWorkerMs = 15000;

struct Session : qk::KernelObject {
  std::string agent;
  DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG;
  std::string proxy;
  bool async = false;
  std::mutex lock;
  INTERNET_STATUS_CALLBACK callback = nullptr;
  DWORD connectTimeoutMs = 60000;
  DWORD receiveTimeoutMs = 0;  // none
};

// The sockets of one transfer thread's handle: its connections, in use or
// kept. Closing a running request shuts them down, so that a transfer that
// waits for a slow or silent server ends at once instead of at libcurl's
// next look at the request.
struct Sockets {
  std::mutex lock;
  std::vector<curl_socket_t> open;
};

struct Request : qk::KernelObject {
  std::shared_ptr<Session> session;
  HINTERNET self = nullptr;
  std::string url;
  DWORD_PTR context = 0;
  bool followRedirects = true;

  std::mutex lock;
  std::condition_variable cv;
  std::string data;   // body received and not read yet, from readPos on
  size_t readPos = 0;
  bool opened = false;    // the final answer's headers are in (or the transfer ended)
  bool finished = false;  // the transfer ended
  bool closed = false;
  DWORD error = 0;        // the transfer's error, 0 when it succeeded
  std::string errorText;
  long status = 0;
  std::string headers;    // of the last answer
  bool lastWasRedirect = false;
  bool sawLocation = false;
  std::string contentLength;  // of the current answer, as sent
  bool coded = false;         // the current answer names a content coding
  bool badFraming = false;    // a length or coding the body cannot be read by
  INTERNET_BUFFERSA* pendingRead = nullptr;
  bool started = false;   // handed to a transfer thread
  bool released = false;  // that thread has let go of the request
  std::thread::id runner;  // the transfer thread while it runs the request
  Sockets* sockets = nullptr;  // that thread's sockets while it runs the request
};

thread_local std::u16string t_lastResponse;

void EnsureCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

DWORD MapCurlError(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return 0;
    case CURLE_COULDNT_CONNECT:
      return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_OPERATION_TIMEDOUT:
      return ERROR_INTERNET_TIMEOUT;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_URL_MALFORMAT:
      return ERROR_INTERNET_INVALID_URL;
    case CURLE_PEER_FAILED_VERIFICATION:
      return ERROR_INTERNET_INVALID_CA;
    case CURLE_SSL_CONNECT_ERROR:
      return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_TOO_MANY_REDIRECTS:
      return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_ABORTED_BY_CALLBACK:
    case CURLE_WRITE_ERROR:
      return ERROR_INTERNET_OPERATION_CANCELLED;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
      return ERROR_INTERNET_CONNECTION_RESET;
    case CURLE_GOT_NOTHING:
      return ERROR_INTERNET_CONNECTION_ABORTED;
    default:
      return ERROR_INTERNET_INTERNAL_ERROR;
  }
}

void Notify(const std::shared_ptr<Request>& r, DWORD status, LPVOID info, DWORD length) {
  INTERNET_STATUS_CALLBACK cb;
  {
    std::lock_guard<std::mutex> g(r->session->lock);
    cb = r->session->callback;
  }
  if (cb && cb != INTERNET_INVALID_STATUS_CALLBACK) cb(r->self, r->context, status, info, length);
}

// Fills a pending read from the buffer; call with r->lock held. Returns true
// when the read was completed (successfully or not).
bool FillPending(Request& r, bool* success, DWORD* error) {
  if (!r.pendingRead) return false;
  size_t available = r.data.size() - r.readPos;
  if (available > 0) {
    size_t n = std::min<size_t>(available, r.pendingRead->dwBufferLength);
    std::memcpy(r.pendingRead->lpvBuffer, r.data.data() + r.readPos, n);
    r.readPos += n;
    r.pendingRead->dwBufferLength = static_cast<DWORD>(n);
    *success = true;
    *error = 0;
  } else if (r.finished) {
    r.pendingRead->dwBufferLength = 0;
    *success = r.error == 0;
    *error = r.error;
  } else {
    return false;
  }
  r.pendingRead = nullptr;
  r.cv.notify_all();
  return true;
}

struct Transfer {
  std::shared_ptr<Request> request;
};

// Completes what the arrival of data, headers or the end makes complete.
void Advance(const std::shared_ptr<Request>& r, std::unique_lock<std::mutex>& lock, bool nowOpened) {
  bool readDone = false, readOk = false;
  DWORD readError = 0;
  bool openDone = false;
  if (nowOpened && !r->opened) {
    r->opened = true;
    openDone = true;
  }
  readDone = FillPending(*r, &readOk, &readError);
  DWORD openError = r->opened && r->finished && r->data.empty() ? r->error : 0;
  bool async = r->session->async;
  r->cv.notify_all();
  lock.unlock();
  if (async && openDone) {
    INTERNET_ASYNC_RESULT result{openError ? 0 : reinterpret_cast<DWORD_PTR>(r->self), openError};
    Notify(r, INTERNET_STATUS_REQUEST_COMPLETE, &result, sizeof result);
  }
  if (async && readDone) {
    INTERNET_ASYNC_RESULT result{static_cast<DWORD_PTR>(readOk ? TRUE : FALSE), readError};
    Notify(r, INTERNET_STATUS_REQUEST_COMPLETE, &result, sizeof result);
  }
  lock.lock();
}

// A Content-Length value in one form: decimal digits (at most 18), or a
// list of equal such values; empty when it is anything else (a sign, an
// overflow, values that disagree).
std::string CanonicalLength(const std::string& value) {
  std::string result;
  size_t start = 0;
  for (;;) {
    size_t comma = value.find(',', start);
    std::string item = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    size_t b = item.find_first_not_of(" \t"), e = item.find_last_not_of(" \t");
    item = b == std::string::npos ? std::string() : item.substr(b, e - b + 1);
    if (item.empty() || item.size() > 18 || item.find_first_not_of("0123456789") != std::string::npos) return "";
    size_t nz = item.find_first_not_of('0');
    item = nz == std::string::npos ? "0" : item.substr(nz);
    if (!result.empty() && item != result) return "";
    result = item;
    if (comma == std::string::npos) return result;
    start = comma + 1;
  }
}

size_t OnHeader(char* text, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  auto& r = t->request;
  size_t n = size * count;
  std::string line(text, n);
  std::unique_lock<std::mutex> lock(r->lock);
  if (line.rfind("HTTP/", 0) == 0) {
    r->headers.clear();
    r->sawLocation = false;
    r->contentLength.clear();
    r->coded = false;
    size_t sp = line.find(' ');
    r->status = sp == std::string::npos ? 0 : std::strtol(line.c_str() + sp + 1, nullptr, 10);
  } else if (line.size() > 9 && strncasecmp(line.c_str(), "location:", 9) == 0) {
    r->sawLocation = true;
  } else if (line.size() > 15 && strncasecmp(line.c_str(), "content-length:", 15) == 0) {
    // Two lengths that disagree leave the end of the body unknown: such an
    // answer is refused, not read by whichever length wins.
    size_t b = 15, e = line.size();
    while (b < e && (line[b] == ' ' || line[b] == '\t')) ++b;
    while (e > b && (line[e - 1] == ' ' || line[e - 1] == '\t' || line[e - 1] == '\r' || line[e - 1] == '\n')) --e;
    std::string value = CanonicalLength(line.substr(b, e - b));
    if (value.empty() || (!r->contentLength.empty() && value != r->contentLength)) {
      r->badFraming = true;
      return 0;
    }
    r->contentLength = value;
  } else if (line.size() > 17 && strncasecmp(line.c_str(), "content-encoding:", 17) == 0) {
    // No coding is asked for and none is undone: a coded body would reach
    // the reader as bytes it cannot use, and a decoder that never sees the
    // end of its stream would pass a cut body as whole.
    size_t b = 17, e = line.size();
    while (b < e && (line[b] == ' ' || line[b] == '\t')) ++b;
    while (e > b && (line[e - 1] == ' ' || line[e - 1] == '\t' || line[e - 1] == '\r' || line[e - 1] == '\n')) --e;
    std::string coding = line.substr(b, e - b);
    if (!coding.empty() && strcasecmp(coding.c_str(), "identity") != 0) r->coded = true;
  }
  r->headers += line;
  if (line == "\r\n" || line == "\n") {
    bool redirect = r->followRedirects && r->sawLocation && r->status >= 300 && r->status < 400 &&
                    r->status != 304;
    // Informational answers (100 Continue) and redirects that will be
    // followed are not the final answer.
    if (!redirect && r->status >= 200 && r->coded) {
      r->badFraming = true;
      return 0;
    }
    if (!redirect && r->status >= 200) Advance(r, lock, true);
  }
  return r->closed ? 0 : n;
}

size_t OnBody(char* bytes, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  auto& r = t->request;
  size_t n = size * count;
  std::unique_lock<std::mutex> lock(r->lock);
  r->cv.wait(lock, [&] { return r->closed || r->data.size() - r->readPos < kBufferCap; });
  if (r->closed) return 0;
  if (r->readPos > 0 && r->readPos * 2 >= r->data.size()) {
    r->data.erase(0, r->readPos);
    r->readPos = 0;
  }
  r->data.append(bytes, n);
  Advance(r, lock, true);
  return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* t = static_cast<Transfer*>(user);
  std::lock_guard<std::mutex> g(t->request->lock);
  return t->request->closed ? 1 : 0;
}

// Sockets are not passed on to the programs this one starts: a kept
// connection must close when this program lets it go.
curl_socket_t OpenSocket(void* data, curlsocktype, struct curl_sockaddr* address) {
  auto* sockets = static_cast<Sockets*>(data);
  curl_socket_t fd = socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  if (fd == CURL_SOCKET_BAD) return fd;
  std::lock_guard<std::mutex> g(sockets->lock);
  sockets->open.push_back(fd);
  return fd;
}

int CloseSocket(void* data, curl_socket_t fd) {
  auto* sockets = static_cast<Sockets*>(data);
  std::lock_guard<std::mutex> g(sockets->lock);
  auto it = std::find(sockets->open.begin(), sockets->open.end(), fd);
  if (it != sockets->open.end()) sockets->open.erase(it);
  return close(fd);
}

void RunTransfer(const std::shared_ptr<Request>& r, CURL* curl, Sockets* sockets) {
  Transfer t{r};
  char errorBuffer[CURL_ERROR_SIZE] = {0};
  CURLcode rc = CURLE_FAILED_INIT;
  if (curl) {
    // Every option is set anew for each request; the handle keeps only its
    // connections and name cache from the requests before.
    curl_easy_reset(curl);
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, OpenSocket);
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, sockets);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETFUNCTION, CloseSocket);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETDATA, sockets);
    curl_easy_setopt(curl, CURLOPT_URL, r->url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, r->session->agent.c_str());
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, r->followRedirects ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(r->session->connectTimeoutMs));
    // Fewer than kMinBytesPerPeriod bytes in a period of the receive
    // time-out end the transfer as timed out: a server that keeps it alive
    // a byte at a time does not hold it for ever.
    {
      DWORD ms = r->session->receiveTimeoutMs ? r->session->receiveTimeoutMs : kDefaultReceiveTimeoutMs;
      long seconds = static_cast<long>((ms + 999) / 1000);
      curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, (kMinBytesPerPeriod + seconds - 1) / seconds);
      curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, seconds);
    }
    // Only http and https, also where a redirect leads: an answer must not
    // send the reader to an FTP server or any other protocol.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    if (r->session->accessType == INTERNET_OPEN_TYPE_PROXY && !r->session->proxy.empty())
      curl_easy_setopt(curl, CURLOPT_PROXY, r->session->proxy.c_str());
    else if (r->session->accessType == INTERNET_OPEN_TYPE_DIRECT)
      curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
    // No coded bodies are asked for (no Accept-Encoding), so none needs undoing.
    rc = curl_easy_perform(curl);
    // No option may point into this frame once it is gone.
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, nullptr);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, nullptr);
  }
  std::unique_lock<std::mutex> lock(r->lock);
  r->finished = true;
  r->error = r->badFraming ? static_cast<DWORD>(ERROR_HTTP_INVALID_SERVER_RESPONSE) : MapCurlError(rc);
  if (r->badFraming) std::snprintf(errorBuffer, sizeof errorBuffer, "a Content-Length or Content-Encoding that cannot be read soundly");
  r->errorText = errorBuffer[0] ? errorBuffer : (rc == CURLE_OK ? "" : curl_easy_strerror(rc));
  if (r->closed) return;
  bool openFailed = !r->opened && r->error != 0;
  if (openFailed) {
    r->opened = true;
    bool async = r->session->async;
    DWORD error = r->error;
    r->cv.notify_all();
    lock.unlock();
    if (async) {
      INTERNET_ASYNC_RESULT result{0, error};
      Notify(r, INTERNET_STATUS_REQUEST_COMPLETE, &result, sizeof result);
    }
    lock.lock();
    // A pending read cannot exist before the open completed.
    return;
  }
  Advance(r, lock, true);
}

// The kept transfer threads.
class TransferPool {
 public:
  void Submit(std::shared_ptr<Request> r) {
    std::lock_guard<std::mutex> g(lock_);
    if (!idle_.empty()) {
      Worker* w = idle_.back();
      idle_.pop_back();
      w->job = std::move(r);
      w->wake.notify_one();
      return;
    }
    auto* w = new Worker;
    w->job = std::move(r);
    std::thread(&TransferPool::Run, this, w).detach();
  }

 private:
  struct Worker {
    std::shared_ptr<Request> job;
    std::condition_variable wake;
    Sockets sockets;
  };

  void Run(Worker* w) {
    CURL* curl = nullptr;
    std::unique_lock<std::mutex> g(lock_);
    for (;;) {
      std::shared_ptr<Request> r = std::move(w->job);
      g.unlock();
      if (!curl) curl = curl_easy_init();
      {
        std::lock_guard<std::mutex> rg(r->lock);
        r->runner = std::this_thread::get_id();
        r->sockets = &w->sockets;
      }
      RunTransfer(r, curl, &w->sockets);
      {
        std::lock_guard<std::mutex> rg(r->lock);
        r->runner = std::thread::id();
        r->sockets = nullptr;
        r->released = true;
      }
      r->cv.notify_all();
      r.reset();
      g.lock();
      idle_.push_back(w);
      if (!w->wake.wait_for(g, std::chrono::milliseconds(kIdleWorkerMs), [&] { return w->job != nullptr; })) {
        // Nobody took this thread while it waited: it ends.
        idle_.erase(std::find(idle_.begin(), idle_.end(), w));
        break;
      }
    }
    g.unlock();
    if (curl) curl_easy_cleanup(curl);
    delete w;
  }

  std::mutex lock_;
  std::vector<Worker*> idle_;  // the most recently idle last
};

TransferPool& Pool() {
  // Never destroyed: idle threads may still wait on it while the program ends.
  static TransferPool* pool = new TransferPool;
  return *pool;
}

std::shared_ptr<Session> SessionOf(HINTERNET h) { return qk::LookupHandleAs<Session>(h); }
std::shared_ptr<Request> RequestOf(HINTERNET h) { return qk::LookupHandleAs<Request>(h); }

}  // namespace

// Loads the library and sets it up, as the first session would.
void qk::net::PreloadTransferLibrary() { EnsureCurl(); }

HINTERNET InternetOpenW(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR, DWORD flags) {
  EnsureCurl();
  if (accessType != INTERNET_OPEN_TYPE_PRECONFIG && accessType != INTERNET_OPEN_TYPE_DIRECT &&
      accessType != INTERNET_OPEN_TYPE_PROXY) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (accessType == INTERNET_OPEN_TYPE_PROXY && (!proxy || !*proxy)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto s = std::make_shared<Session>();
  s->agent = agent ? qk::ToUtf8(agent, wcslen(agent)) : "";
  s->accessType = accessType;
  if (proxy && accessType == INTERNET_OPEN_TYPE_PROXY) {
    std::string p = qk::ToUtf8(proxy, wcslen(proxy));
    // "host:port" names an HTTP proxy.
    s->proxy = p.find("://") == std::string::npos ? "http://" + p : p;
  }
  s->async = (flags & INTERNET_FLAG_ASYNC) != 0;
  SetLastError(0);
  return qk::RegisterHandle(s);
}

BOOL InternetSetOptionW(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
  auto s = SessionOf(handle);
  if (!s) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return FALSE;
  }
  if (!buffer || length < sizeof(DWORD)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD value;
  std::memcpy(&value, buffer, sizeof value);
  std::lock_guard<std::mutex> g(s->lock);
  switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT:
      s->connectTimeoutMs = value;
      return TRUE;
    case INTERNET_OPTION_RECEIVE_TIMEOUT:
      s->receiveTimeoutMs = value;
      return TRUE;
    case INTERNET_OPTION_SEND_TIMEOUT:
      return TRUE;
    default:
      SetLastError(ERROR_INTERNET_INVALID_OPTION);
      return FALSE;
  }
}

INTERNET_STATUS_CALLBACK InternetSetStatusCallbackW(HINTERNET handle, INTERNET_STATUS_CALLBACK callback) {
  auto s = SessionOf(handle);
  if (!s) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return INTERNET_INVALID_STATUS_CALLBACK;
  }
  std::lock_guard<std::mutex> g(s->lock);
  INTERNET_STATUS_CALLBACK old = s->callback;
  s->callback = callback;
  return old;
}

namespace {

// The address written so that libcurl reads it as ParseInternetAddress
// does: an "@" inside the user information escaped (the user information
// ends at the last one), the port as its number and an empty one left out
// (the scheme's default), and escaped ASCII characters of a host name
// written as they are.
std::u16string TransferAddress(const InternetAddress& parts) {
  std::u16string user, password, host;
  auto escapeAt = [](std::u16string_view in, std::u16string& out) {
    for (char16_t c : in) {
      if (c == u'@') out += u"%40";
      else out += c;
    }
  };
  escapeAt(parts.user, user);
  escapeAt(parts.password, password);
  auto hex = [](char16_t c) { return c <= u'9' ? c - u'0' : (c | 0x20) - u'a' + 10; };
  for (size_t i = 0; i < parts.host.size(); ++i) {
    char16_t c = parts.host[i];
    if (!parts.ipLiteral && c == u'%' && i + 2 < parts.host.size()) {
      int byte = hex(parts.host[i + 1]) * 16 + hex(parts.host[i + 2]);
      if (byte < 0x80) {
        host += static_cast<char16_t>(byte);
        i += 2;
        continue;
      }
    }
    host += c;
  }
  InternetAddress out = parts;
  out.user = user;
  out.password = password;
  out.host = host;
  std::u16string port;
  for (char c : std::to_string(parts.port)) port += static_cast<char16_t>(c);
  out.hasPort = parts.hasPort && !parts.portText.empty();
  out.portText = port;
  return AssembleInternetAddress(out);
}

}  // namespace

HINTERNET InternetOpenUrlW(HINTERNET session, LPCWSTR url, LPCWSTR, DWORD, DWORD flags, DWORD_PTR context) {
  auto s = SessionOf(session);
  if (!s) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return nullptr;
  }
  if (!url || !*url) {
    SetLastError(ERROR_INTERNET_INVALID_URL);
    return nullptr;
  }
  // The URL is canonicalised first, as the platform does: blanks, controls
  // and non-ASCII characters are percent-encoded (as UTF-8), dot segments
  // removed. The fragment is never part of a request.
  std::u16string canonical(INTERNET_MAX_URL_LENGTH, u'\0');
  DWORD canonicalLength = static_cast<DWORD>(canonical.size());
  if (!InternetCanonicalizeUrlW(url, canonical.data(), &canonicalLength, 0)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return nullptr;  // its error stands
    canonical.assign(canonicalLength, u'\0');
    if (!InternetCanonicalizeUrlW(url, canonical.data(), &canonicalLength, 0)) return nullptr;
  }
  canonical.resize(canonicalLength);
  size_t hash = canonical.find(u'#');
  if (hash != std::u16string::npos) canonical.resize(hash);
  std::string u = qk::ToUtf8(canonical.data(), canonical.size());
  std::string scheme = u.substr(0, u.find(':'));
  for (auto& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (u.find("://") == std::string::npos) {
    SetLastError(ERROR_INTERNET_INVALID_URL);
    return nullptr;
  }
  if (scheme != "http" && scheme != "https") {
    SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    return nullptr;
  }
  // The address is read as the rest of the system reads it: what that
  // refuses is not sent off, and libcurl is given it in a form it reads
  // the same way.
  InternetAddress parts;
  if (!ParseInternetAddress(canonical, parts)) {
    SetLastError(ERROR_INTERNET_INVALID_URL);
    return nullptr;
  }
  u = qk::ToUtf8(TransferAddress(parts));
  auto r = std::make_shared<Request>();
  r->session = s;
  r->url = u;
  r->context = context;
  r->followRedirects = (flags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0;
  r->self = qk::RegisterHandle(r);
  if (s->async) {
    // Announced before the call returns, so the caller always knows the
    // handle it must close, even when it gives up waiting at once.
    INTERNET_ASYNC_RESULT created{reinterpret_cast<DWORD_PTR>(r->self), 0};
    Notify(r, INTERNET_STATUS_HANDLE_CREATED, &created, sizeof created);
  }
  {
    std::lock_guard<std::mutex> g(r->lock);
    r->started = true;
  }
  Pool().Submit(r);
  if (s->async) {
    SetLastError(ERROR_IO_PENDING);
    return nullptr;
  }
  std::unique_lock<std::mutex> lock(r->lock);
  r->cv.wait(lock, [&] { return r->opened; });
  if (r->error && r->data.empty() && r->finished) {
    DWORD error = r->error;
    t_lastResponse = qk::FromUtf8(r->errorText);
    lock.unlock();
    InternetCloseHandle(r->self);
    SetLastError(error);
    return nullptr;
  }
  return r->self;
}

BOOL InternetReadFileExA(HINTERNET request, LPINTERNET_BUFFERSA buffers, DWORD, DWORD_PTR) {
  auto r = RequestOf(request);
  if (!r) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return FALSE;
  }
  if (!buffers || !buffers->lpvBuffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::unique_lock<std::mutex> lock(r->lock);
  if (r->pendingRead) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  r->pendingRead = buffers;
  bool ok = false;
  DWORD error = 0;
  if (FillPending(*r, &ok, &error)) {
    if (!ok) {
      t_lastResponse = qk::FromUtf8(r->errorText);
      SetLastError(error);
      return FALSE;
    }
    return TRUE;
  }
  if (r->session->async) {
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
  }
  r->cv.wait(lock, [&] { return r->pendingRead == nullptr || r->closed; });
  if (r->pendingRead) {
    r->pendingRead = nullptr;
    SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
    return FALSE;
  }
  if (r->finished && r->error && buffers->dwBufferLength == 0) {
    t_lastResponse = qk::FromUtf8(r->errorText);
    SetLastError(r->error);
    return FALSE;
  }
  return TRUE;
}

BOOL InternetReadFile(HINTERNET request, LPVOID buffer, DWORD toRead, LPDWORD read) {
  auto r = RequestOf(request);
  if (!r || !read) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return FALSE;
  }
  *read = 0;
  // Reads block, also on an asynchronous session.
  std::unique_lock<std::mutex> lock(r->lock);
  r->cv.wait(lock, [&] { return r->finished || r->closed || r->data.size() > r->readPos; });
  size_t n = std::min<size_t>(r->data.size() - r->readPos, toRead);
  std::memcpy(buffer, r->data.data() + r->readPos, n);
  r->readPos += n;
  *read = static_cast<DWORD>(n);
  r->cv.notify_all();
  if (n == 0 && r->error) {
    t_lastResponse = qk::FromUtf8(r->errorText);
    SetLastError(r->error);
    return FALSE;
  }
  return TRUE;
}

BOOL HttpQueryInfoW(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD length, LPDWORD) {
  auto r = RequestOf(request);
  if (!r || !buffer || !length) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::u16string text;
  long status;
  {
    std::lock_guard<std::mutex> g(r->lock);
    status = r->status;
    text = qk::FromUtf8(r->headers);
  }
  DWORD level = infoLevel & 0xFFFF;
  if (level == HTTP_QUERY_STATUS_CODE && (infoLevel & HTTP_QUERY_FLAG_NUMBER)) {
    if (*length < sizeof(DWORD)) {
      *length = sizeof(DWORD);
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    *static_cast<DWORD*>(buffer) = static_cast<DWORD>(status);
    *length = sizeof(DWORD);
    return TRUE;
  }
  if (level == HTTP_QUERY_STATUS_CODE) text = qk::FromUtf8(std::to_string(status));
  else if (level != HTTP_QUERY_RAW_HEADERS_CRLF) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  DWORD need = static_cast<DWORD>((text.size() + 1) * sizeof(char16_t));
  if (*length < need) {
    *length = need;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, text.c_str(), need);
  *length = need - sizeof(char16_t);
  return TRUE;
}

BOOL InternetCloseHandle(HINTERNET handle) {
  if (auto r = RequestOf(handle)) {
    {
      std::lock_guard<std::mutex> g(r->lock);
      r->closed = true;
      r->pendingRead = nullptr;
      if (r->sockets && r->runner != std::this_thread::get_id() && !r->finished) {
        std::lock_guard<std::mutex> sg(r->sockets->lock);
        for (curl_socket_t fd : r->sockets->open) shutdown(fd, SHUT_RDWR);
      }
    }
    r->cv.notify_all();
    {
      // The transfer ends soon after it sees the request closed; a callback
      // that closes its own request on the transfer thread does not wait.
      std::unique_lock<std::mutex> g(r->lock);
      if (r->runner != std::this_thread::get_id())
        r->cv.wait(g, [&] { return !r->started || r->released; });
    }
    HINTERNET self = handle;
    Notify(r, INTERNET_STATUS_HANDLE_CLOSING, &self, sizeof self);
    qk::ReleaseHandle(handle);
    return TRUE;
  }
  if (SessionOf(handle)) {
    qk::ReleaseHandle(handle);
    return TRUE;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

BOOL InternetGetLastResponseInfoW(LPDWORD error, LPWSTR buffer, LPDWORD length) {
  if (!length) return FALSE;
  if (error) *error = 0;
  DWORD need = static_cast<DWORD>(t_lastResponse.size());
  if (!buffer || *length <= need) {
    *length = need + 1;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, t_lastResponse.c_str(), (need + 1) * sizeof(char16_t));
  *length = need;
  return TRUE;
}

namespace {

const std::map<DWORD, const char16_t*>& InternetTexts() {
  static const std::map<DWORD, const char16_t*> texts = {
      {ERROR_INTERNET_OUT_OF_HANDLES, u"No more Internet handles can be allocated"},
      {ERROR_INTERNET_TIMEOUT, u"The operation timed out"},
      {ERROR_INTERNET_EXTENDED_ERROR, u"The server returned extended information"},
      {ERROR_INTERNET_INTERNAL_ERROR, u"An internal error occurred in the Microsoft Internet extensions"},
      {ERROR_INTERNET_INVALID_URL, u"The URL is invalid"},
      {ERROR_INTERNET_UNRECOGNIZED_SCHEME, u"The URL does not use a recognized protocol"},
      {ERROR_INTERNET_NAME_NOT_RESOLVED, u"The server name or address could not be resolved"},
      {ERROR_INTERNET_INVALID_OPTION, u"The option is invalid"},
      {ERROR_INTERNET_OPERATION_CANCELLED, u"The operation was canceled"},
      {ERROR_INTERNET_INCORRECT_HANDLE_TYPE, u"The type of handle supplied is incorrect for this operation"},
      {ERROR_INTERNET_CANNOT_CONNECT, u"A connection with the server could not be established"},
      {ERROR_INTERNET_CONNECTION_ABORTED, u"The connection with the server was terminated abnormally"},
      {ERROR_INTERNET_CONNECTION_RESET, u"The connection with the server was reset"},
      {ERROR_INTERNET_SEC_CERT_CN_INVALID, u"The host name in the certificate is invalid or does not match"},
      {ERROR_INTERNET_INVALID_CA, u"The certificate authority is invalid or incorrect"},
      {ERROR_HTTP_REDIRECT_FAILED, u"The redirection failed"},
      {ERROR_HTTP_INVALID_SERVER_RESPONSE, u"The server response could not be parsed"},
      {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, u"An error occurred in the secure channel support"},
      {ERROR_INTERNET_DISCONNECTED, u"The Internet connection has been lost"},
  };
  return texts;
}

const std::map<DWORD, const char16_t*>& SystemTexts() {
  static const std::map<DWORD, const char16_t*> texts = {
      {ERROR_SUCCESS, u"The operation completed successfully."},
      {ERROR_FILE_NOT_FOUND, u"The system cannot find the file specified."},
      {ERROR_PATH_NOT_FOUND, u"The system cannot find the path specified."},
      {ERROR_ACCESS_DENIED, u"Access is denied."},
      {ERROR_INVALID_HANDLE, u"The handle is invalid."},
      {ERROR_NOT_ENOUGH_MEMORY, u"Not enough storage is available to process this command."},
      {ERROR_INVALID_PARAMETER, u"The parameter is incorrect."},
      {ERROR_DISK_FULL, u"There is not enough space on the disk."},
      {ERROR_FILE_TOO_LARGE, u"The file size exceeds the limit allowed and cannot be saved."},
      {ERROR_TIMEOUT, u"This operation returned because the timeout period expired."},
  };
  return texts;
}

}  // namespace

HMODULE InternetModuleHandle() {
  static int anchor;
  return reinterpret_cast<HMODULE>(&anchor);
}

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD, LPWSTR buffer, DWORD size, va_list*) {
  const char16_t* text = nullptr;
  if ((flags & FORMAT_MESSAGE_FROM_HMODULE) && source == InternetModuleHandle()) {
    auto it = InternetTexts().find(messageId);
    if (it != InternetTexts().end()) text = it->second;
  }
  if (!text && (flags & FORMAT_MESSAGE_FROM_SYSTEM)) {
    auto it = SystemTexts().find(messageId);
    if (it != SystemTexts().end()) text = it->second;
  }
  if (!text) {
    SetLastError(317);  // ERROR_MR_MID_NOT_FOUND
    return 0;
  }
  std::u16string out = std::u16string(text) + u"\r\n";
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    auto* block = static_cast<char16_t*>(LocalAlloc(LMEM_FIXED, (out.size() + 1) * sizeof(char16_t)));
    if (!block) return 0;
    std::memcpy(block, out.c_str(), (out.size() + 1) * sizeof(char16_t));
    *reinterpret_cast<LPWSTR*>(buffer) = block;
    return static_cast<DWORD>(out.size());
  }
  if (!buffer || size <= out.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(buffer, out.c_str(), (out.size() + 1) * sizeof(char16_t));
  return static_cast<DWORD>(out.size());
}
