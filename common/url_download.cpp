// The one-URL downloader and the start of the page-fetch program (see
// common/url_download.h).
#include "common/url_download.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/settings.h"
#include "kernel/localmem.h"

namespace {

enum { kRequestComplete, kHandleClosing, kRequestFailed, kExit, kEventCount };

constexpr DWORD kBlock = 131072;
// How often a fetch program that was asked to stop is asked again.
constexpr DWORD kStopRepeatMs = 100;

std::atomic<LONG> g_abort{0};
std::mutex g_proxyLock;
BOOL g_useProxy = FALSE;
WCHAR g_proxyText[260] = QUILLET_DEFAULT_PROXY;
std::atomic<DWORD> g_openWaitMs{30000};
std::atomic<DWORD> g_readWaitMs{50000};
std::atomic<DWORD> g_wholeWaitMs{URL_DOWNLOAD_MAX_MS};
std::atomic<DWORD> g_fetchWaitMs{60000};
std::atomic<DWORD> g_fetchGraceMs{5000};
// The request error that the failing transfer of this thread handed to
// GetInternetErrorText.
thread_local DWORD t_requestError = 0;

// Something the stop signal must reach: an open transfer or a wait for the
// fetch program. Each has an exit event of its own (manual reset, created
// unsignalled) that the stop sets; the list holds those open now. The list
// lock keeps the stop from setting an event that is being closed.
struct StopTarget {
  HANDLE exit = nullptr;
  bool transfer = false;
};
std::mutex g_targetsLock;
std::vector<StopTarget*> g_targets;

void AddStopTarget(StopTarget* target) {
  std::lock_guard<std::mutex> g(g_targetsLock);
  g_targets.push_back(target);
}

void RemoveStopTarget(StopTarget* target) {
  std::lock_guard<std::mutex> g(g_targetsLock);
  g_targets.erase(std::find(g_targets.begin(), g_targets.end(), target));
}

// The state of one transfer: its events, the request handle the status
// callback announced and the error it recorded. Transfers on several
// threads at once each have their own, so that one's events never wake or
// fail another; only the stop signal reaches all of them. The status
// callback finds it through the request's context. It lives until the
// request is closed, after which no callback for it comes.
struct Transfer : StopTarget {
  HANDLE events[kEventCount] = {nullptr, nullptr, nullptr, nullptr};
  std::atomic<HINTERNET> handle{nullptr};
  std::atomic<DWORD> requestError{0};

  Transfer() {
    for (auto& e : events) e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    exit = events[kExit];
    transfer = true;
    AddStopTarget(this);
  }
  ~Transfer() {
    RemoveStopTarget(this);
    for (auto& e : events)
      if (e) CloseHandle(e);
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  void Set(int which) {
    if (events[which]) SetEvent(events[which]);
  }
  void Reset(int which) {
    if (events[which]) ResetEvent(events[which]);
  }
  // The index of the event that ended the wait, or -1 on time-out.
  int Wait(DWORD ms) {
    DWORD r = WaitForMultipleObjects(kEventCount, events, FALSE, ms);
    if (r < WAIT_OBJECT_0 + kEventCount) return static_cast<int>(r - WAIT_OBJECT_0);
    return -1;
  }
};

void SendProgress(HWND window, WPARAM received, LPARAM done) {
  if (window)
    SendMessageW(window, WM_URL_DOWNLOAD_PROGRESS, received, done);
  else
    PostMessageW(HWND_BROADCAST, WM_URL_DOWNLOAD_PROGRESS, received, done);
}

void LogLine(LPCWSTR format, ...) {
  if (!IsLogEnabled()) return;
  CString text;
  va_list args;
  va_start(args, format);
  text.FormatV(format, args);
  va_end(args);
  WriteLog(text);
}

CString TextOfCode(DWORD code) {
  WCHAR buffer[256] = {0};
  FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 InternetModuleHandle(), code, 0, buffer, 256, nullptr);
  return CString(buffer);
}

// Fails with the error the transfer's request recorded, else the thread's
// last error.
void Fail(Transfer* transfer, DWORD* errorCode, CString& errorText) {
  t_requestError = transfer ? transfer->requestError.exchange(0) : 0;
  DWORD code = 0;
  GetInternetErrorText(errorText, code);
  if (errorCode) *errorCode = code;
}

// Fails with a code of our own (the thread's last error is set to it).
void FailWith(DWORD code, DWORD* errorCode, CString& errorText) {
  SetLastError(code);
  Fail(nullptr, errorCode, errorText);
}

// The first line of the answer ("HTTP/1.1 404 Not Found"), or the bare
// status when the headers cannot be had.
CString StatusLine(HINTERNET request, DWORD status) {
  WCHAR probe[1] = {0};
  DWORD length = sizeof probe;
  CString line;
  HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS_CRLF, probe, &length, nullptr);  // asks for the size
  std::u16string buffer(length / sizeof(WCHAR) + 1, u'\0');
  length = static_cast<DWORD>(buffer.size() * sizeof(WCHAR));
  if (HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &length, nullptr)) {
    line = buffer.c_str();
    int end = line.Find(u'\r');
    if (end < 0) end = line.Find(u'\n');
    if (end >= 0) line.Truncate(end);
  }
  if (line.IsEmpty()) line.Format(u"HTTP status %u", status);
  return line;
}

}  // namespace

void InternetStatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
  auto* ctx = reinterpret_cast<Transfer*>(context);
  if (!ctx) return;
  auto* result = static_cast<INTERNET_ASYNC_RESULT*>(info);
  switch (status) {
    case INTERNET_STATUS_HANDLE_CREATED:
      if (result) ctx->handle = reinterpret_cast<HINTERNET>(result->dwResult);
      break;
    case INTERNET_STATUS_HANDLE_CLOSING:
      ctx->Set(kHandleClosing);
      break;
    case INTERNET_STATUS_REQUEST_COMPLETE:
      if (result && result->dwError == 0) {
        ctx->Set(kRequestComplete);
      } else {
        DWORD error = result ? result->dwError : ERROR_INTERNET_INTERNAL_ERROR;
        ctx->requestError = error;
        ctx->Set(kRequestFailed);
        LogLine(u"INTERNET_STATUS_REQUEST_COMPLETE with error code = 0x%08x.", error);
      }
      break;
    default:
      break;
  }
}

CString& GetInternetErrorText(CString& text, DWORD& code) {
  DWORD recorded = t_requestError;
  t_requestError = 0;
  code = recorded ? static_cast<DWORD>(ERROR_INTERNET_CANNOT_CONNECT) : GetLastError();
  text.Empty();
  if (code == ERROR_INTERNET_EXTENDED_ERROR) {
    WCHAR buffer[256] = {0};
    DWORD error = 0, length = 256;
    if (InternetGetLastResponseInfoW(&error, buffer, &length)) text = buffer;
  } else {
    text = TextOfCode(code);
  }
  return text;
}

BOOL AbortUrlDownload() {
  g_abort = 1;
  BOOL transfers = FALSE;
  std::lock_guard<std::mutex> g(g_targetsLock);
  for (StopTarget* target : g_targets) {
    SetEvent(target->exit);
    if (target->transfer) transfers = TRUE;
  }
  return transfers;
}

void StopUrlDownload() {
  if (!AbortUrlDownload()) PostMessageW(HWND_BROADCAST, WM_URL_DOWNLOAD_END, 0, 0);
}

void ClearUrlDownloadAbort() { g_abort = 0; }
BOOL IsUrlDownloadAborted() { return g_abort != 0; }

void SetUrlDownloadProxy(BOOL useProxy, LPCWSTR proxyText) {
  std::lock_guard<std::mutex> g(g_proxyLock);
  g_useProxy = useProxy;
  if (proxyText) {
    wcsncpy(g_proxyText, proxyText, 259);
    g_proxyText[259] = 0;
  }
}

HRESULT InternetDownloadFile(LPCWSTR url, LPCWSTR file, DWORD* errorCode, CString& errorText, HWND window,
                             LPBYTE* memory, DWORD* size, DWORD maxBytes) {
  // The whole transfer has one deadline, counted on the host's clock (a
  // test may hold the tick count still): every wait below ends by it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(g_wholeWaitMs.load());
  auto timeLeft = [&deadline](DWORD wait) -> DWORD {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return 0;
    return static_cast<DWORD>(std::min<long long>(left, wait));
  };
  errorText.Empty();
  if (memory) *memory = nullptr;
  if (size) *size = 0;
  LogLine(u"%s", url ? url : u"");
  LogLine(u"%s", file ? file : u"");

  BOOL useProxy;
  WCHAR proxy[260];
  {
    std::lock_guard<std::mutex> g(g_proxyLock);
    useProxy = g_useProxy;
    memcpy(proxy, g_proxyText, sizeof proxy);
  }
  HINTERNET session = InternetOpenW(u"Quillet Mobile", useProxy ? INTERNET_OPEN_TYPE_PROXY : INTERNET_OPEN_TYPE_DIRECT,
                                    useProxy ? proxy : nullptr, nullptr, INTERNET_FLAG_ASYNC);
  if (!session) {
    Fail(nullptr, errorCode, errorText);
    LogLine(u"InternetOpen ... Failed");
    SendProgress(window, static_cast<WPARAM>(-1), 1);
    return INET_E_DOWNLOAD_FAILURE;
  }
  DWORD timeout = 30000;
  InternetSetOptionW(session, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
  // The longest wait for a read also bounds a body that comes at a crawl: a
  // server that sends a byte now and then would otherwise complete every
  // read and hold the transfer for ever.
  DWORD receive = g_readWaitMs;
  InternetSetOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
  LogLine(u"InternetOpen ... OK");
  InternetSetStatusCallbackW(session, InternetStatusCallback);
  auto transfer = std::make_unique<Transfer>();

  HINTERNET request = InternetOpenUrlW(session, url, nullptr, 0, INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_NO_CACHE_WRITE,
                                       reinterpret_cast<DWORD_PTR>(transfer.get()));
  bool opened = request != nullptr;
  if (!request && GetLastError() == ERROR_IO_PENDING) {
    int ended = transfer->Wait(timeLeft(g_openWaitMs));
    if (ended == kRequestComplete) {
      request = transfer->handle;
      opened = request != nullptr;
    } else if (ended == -1) {
      SetLastError(ERROR_INTERNET_TIMEOUT);
    } else if (ended == kExit) {
      SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
    }
  }
  if (!opened) {
    Fail(transfer.get(), errorCode, errorText);
    // A request the callback announced is ended before its events go.
    if (HINTERNET pending = transfer->handle.exchange(nullptr)) InternetCloseHandle(pending);
    transfer.reset();
    LogLine(u"InternetOpenUrl ... Failed");
    LogLine(u"%s", static_cast<LPCWSTR>(errorText));
    InternetCloseHandle(session);
    SendProgress(window, static_cast<WPARAM>(-1), 1);
    return INET_E_DOWNLOAD_FAILURE;
  }
  LogLine(u"InternetOpenUrl ... OK");

  auto closeAll = [&] {
    InternetCloseHandle(request);
    InternetCloseHandle(session);
    transfer.reset();
  };
  // An error page is no download: a status of 400 or more fails before the
  // file is touched, so what it held stays as it was.
  DWORD status = 0, statusLength = sizeof status;
  if (HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusLength, nullptr) &&
      status >= 400) {
    CString line = StatusLine(request, status);
    LogLine(u"HTTP status %u: %s", status, static_cast<LPCWSTR>(line));
    closeAll();
    if (errorCode) *errorCode = ERROR_INTERNET_EXTENDED_ERROR;
    errorText = line;
    SendProgress(window, static_cast<WPARAM>(-1), 1);
    return INET_E_DOWNLOAD_FAILURE;
  }
  HANDLE out = INVALID_HANDLE_VALUE;
  if (file) {
    out = CreateFileW(file, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
      // Without its file the download is no use to the caller.
      DWORD error = GetLastError();
      LogLine(u"CreateFile() failed.\n");
      closeAll();
      FailWith(error ? error : static_cast<DWORD>(ERROR_PATH_NOT_FOUND), errorCode, errorText);
      SendProgress(window, static_cast<WPARAM>(-1), 1);
      return INET_E_DOWNLOAD_FAILURE;
    }
  }
  auto* buffer = static_cast<LPBYTE>(LocalAlloc(LPTR, kBlock + 1));
  LPBYTE output = nullptr;
  DWORD capacity = 0;
  if (buffer && memory) {
    output = static_cast<LPBYTE>(LocalAlloc(LPTR, kBlock + 1));
    capacity = kBlock;
  }
  if (!buffer || (memory && !output)) {
    LocalFree(buffer);
    LocalFree(output);
    if (out != INVALID_HANDLE_VALUE) {
      CloseHandle(out);
      DeleteFileW(file);  // an empty file is no download either
    }
    closeAll();
    FailWith(ERROR_NOT_ENOUGH_MEMORY, errorCode, errorText);
    SendProgress(window, static_cast<WPARAM>(-1), 1);
    return INET_E_DOWNLOAD_FAILURE;
  }

  DWORD total = 0;
  DWORD failure = 0;  // the error that ended the transfer, 0 when it ran to its end or was stopped
  bool stopped = false;  // cut by the abort flag or the exit event
  // Lives as long as the request: a read left pending by a stop or a
  // time-out may still be filled until the request is closed.
  INTERNET_BUFFERSA buffers{};
  for (;;) {
    if (timeLeft(1) == 0) {
      LogLine(u"The transfer took longer than %u ms", g_wholeWaitMs.load());
      failure = ERROR_INTERNET_TIMEOUT;
      break;
    }
    transfer->Reset(kRequestComplete);
    buffers = INTERNET_BUFFERSA{};
    buffers.dwStructSize = sizeof buffers;
    buffers.lpvBuffer = buffer;
    buffers.dwBufferLength = kBlock;
    if (!InternetReadFileExA(request, &buffers, IRF_SYNC, reinterpret_cast<DWORD_PTR>(transfer.get()))) {
      DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) {
        failure = error ? error : static_cast<DWORD>(ERROR_INTERNET_CONNECTION_RESET);
        break;
      }
      int ended = transfer->Wait(timeLeft(g_readWaitMs));
      if (ended == kExit) {
        stopped = true;
        break;
      }
      if (ended == -1) {
        failure = ERROR_INTERNET_TIMEOUT;
        break;
      }
      if (ended != kRequestComplete) {
        failure = transfer->requestError.exchange(0);
        if (!failure) failure = ERROR_INTERNET_CONNECTION_ABORTED;
        break;
      }
    }
    DWORD count = buffers.dwBufferLength;
    LogLine(u"InternetReadFile %d bytes ... OK", count);
    if (count == 0) break;
    if (count > maxBytes - total) {
      // Longer than any document the caller takes: a server that sends
      // without end must not fill the disk or the memory.
      LogLine(u"The body passed %u bytes", maxBytes);
      failure = ERROR_FILE_TOO_LARGE;
      break;
    }
    if (output) {
      if (total + count >= capacity) {
        // Grow in 128 KB steps, keeping one zero byte after the data. A block
        // cannot pass 4 GB: a body that would is no document for memory.
        DWORD grown = capacity + kBlock;
        auto* bigger = grown > capacity && grown + 1 > grown
                           ? static_cast<LPBYTE>(LocalReAlloc(output, grown + 1, LMEM_ZEROINIT))
                           : nullptr;
        if (!bigger) {
          failure = ERROR_NOT_ENOUGH_MEMORY;
          break;
        }
        output = bigger;
        capacity = grown;
      }
      memcpy(output + total, buffer, count);
    }
    total += count;
    SendProgress(window, total, 0);
    if (out != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      if (!WriteFile(out, buffer, count, &written, nullptr) || written != count) {
        failure = GetLastError() ? GetLastError() : static_cast<DWORD>(ERROR_WRITE_FAULT);
        break;
      }
    }
    memset(buffer, 0, count);
    if (g_abort) {
      stopped = true;
      break;
    }
  }

  // The request is closed before the read buffer goes, so that a read still
  // pending on it can never write into freed memory.
  closeAll();
  LocalFree(buffer);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  LogLine(u"InternetCloseHandle ... OK");
  if (failure) {
    // A short body is not a download: the caller must not take it for one.
    LocalFree(output);
    if (file) DeleteFileW(file);
    FailWith(failure, errorCode, errorText);
    LogLine(u"%s", static_cast<LPCWSTR>(errorText));
    SendProgress(window, static_cast<WPARAM>(-1), 1);
    return INET_E_DOWNLOAD_FAILURE;
  }
  if (stopped) {
    // A stopped transfer still ends as one that ran (result 0, final
    // progress with the bytes received), but the blocks it got are not the
    // document: no file and no memory block is left to be taken for it.
    LocalFree(output);
    output = nullptr;
    if (file) DeleteFileW(file);
    LogLine(u"Transfer stopped after %d bytes", total);
  }
  if (memory)
    *memory = output;
  else
    LocalFree(output);
  if (size) *size = total;
  SendProgress(window, total, 1);
  return 0;
}

void SetUrlDownloadWaits(DWORD openMs, DWORD readMs, DWORD wholeMs) {
  g_openWaitMs = openMs;
  g_readWaitMs = readMs;
  g_wholeWaitMs = wholeMs;
}

void SetFetchProgramWait(DWORD waitMs, DWORD stopGraceMs) {
  g_fetchWaitMs = waitMs;
  g_fetchGraceMs = stopGraceMs;
}

DWORD RunFetchProgram(LPCWSTR url, LPCWSTR outFile, LPCWSTR script, DWORD* exitCode, CString& errorText,
                      BOOL useProxy, PROCESS_INFORMATION* info) {
  WCHAR folder[MAX_PATH];
  GetProgramFolder(folder);
  CString program;
  program.Format(u"%s\\Ambrel.exe", folder);
  CString line;
  if (useProxy) {
    CString proxy;
    GetRegistryString(proxy, u"NetAgencyIP", u"");
    proxy.Trim();
    if (proxy.IsEmpty()) proxy = u"None";
    line += u"-p ";
    line += proxy;
    line += u" ";
  }
  line += u"\"";
  line += url ? url : u"";
  line += u"\" \"";
  line += outFile ? outFile : u"";
  line += u"\"";
  if (script && *script) {
    line += u" \"";
    line += script;
    line += u"\"";
  }
  errorText.Empty();
  LogLine(u"%s", url ? url : u"");

  // A wait for the program hears the stop signal from the moment before the
  // program starts: the program itself hears the stop broadcast only once
  // its window exists, so a stop that comes sooner must be repeated.
  StopTarget stop;
  if (!info) {
    stop.exit = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stop.exit) AddStopTarget(&stop);
  }
  struct StopTargetEnd {
    StopTarget& target;
    ~StopTargetEnd() {
      if (!target.exit) return;
      RemoveStopTarget(&target);
      CloseHandle(target.exit);
    }
  } stopEnd{stop};

  PROCESS_INFORMATION pi{};
  std::u16string command(static_cast<LPCWSTR>(line));
  BOOL started = CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi);
  if (info) {
    if (!started) {
      memset(info, 0, sizeof *info);
      return 1;
    }
    *info = pi;
    return 0;
  }
  if (!started) {
    errorText = u"Execute Internet downloading error.";
    return static_cast<DWORD>(INET_E_DOWNLOAD_FAILURE);
  }
  CloseHandle(pi.hThread);
  // The abort flag is cleared when the user starts an operation: raised now,
  // it tells of a stop that came before this wait could hear it.
  bool stopping = IsUrlDownloadAborted();
  if (!stopping) {
    HANDLE waits[2] = {pi.hProcess, stop.exit};
    DWORD ended = WaitForMultipleObjects(stop.exit ? 2 : 1, waits, FALSE, g_fetchWaitMs);
    // Only the program is asked to stop, also when it is overdue: this
    // program's own abort flag and transfers stay as they are.
    stopping = ended != WAIT_OBJECT_0;
  }
  if (stopping) {
    // The stop is broadcast again and again until the program ends or its
    // grace has passed: a program that had no window yet when it was first
    // asked hears a later one.
    // (Counted on the host's clock: a test may hold the tick count still.)
    auto start = std::chrono::steady_clock::now();
    DWORD grace = g_fetchGraceMs;
    HANDLE raised = CreateEventW(nullptr, TRUE, FALSE, AMBREL_STOP_EVENT);
    if (raised) SetEvent(raised);
    for (;;) {
      PostMessageW(HWND_BROADCAST, WM_URL_DOWNLOAD_END, 0, 0);
      auto spent = static_cast<DWORD>(
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
      if (spent >= grace) break;
      if (WaitForSingleObject(pi.hProcess, std::min(kStopRepeatMs, grace - spent)) != WAIT_TIMEOUT) break;
    }
    // The next program starts unstopped.
    if (raised) {
      ResetEvent(raised);
      CloseHandle(raised);
    }
  }
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  LogLine(u"Quillet know that Ambrel exits with code = 0x%08x.", code);
  if (exitCode) *exitCode = code;
  errorText = TextOfCode(code);
  LogLine(u"%s", static_cast<LPCWSTR>(errorText));
  return code;
}
