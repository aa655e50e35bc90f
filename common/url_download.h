// The one-URL downloader and the start of the page-fetch program.
//
// Transfers may run on several threads at once: each has its own events
// and its own recorded request error, so one never wakes, stalls or fails
// another. The abort flag and the stop signal are process-wide: they stop
// every transfer that is open, and may come from any thread.
#pragma once

#include "framework/afx.h"
#include "kernel/kernel.h"
#include "kernel/process.h"
#include "net/wininet.h"
#include "user/user.h"

// wParam: bytes received so far (-1 after a failure); lParam: 0 during the
// transfer, 1 at its end. Sent to the caller's window, else broadcast.
#define WM_URL_DOWNLOAD_PROGRESS 2225
// Broadcast by the stop signal when no transfer of this program is open; a
// running fetch program stops on it.
#define WM_URL_DOWNLOAD_END 2226
// Set (manual reset) by a caller that stops the fetch program, and kept set
// while it waits for the program's end: a program that could not hear the
// stop broadcast yet finds it there once it can.
#define AMBREL_STOP_EVENT u"Ambrel.Stop"

// The longest body a download takes: no feed, page, catalog or service
// reply comes near it. Pictures (item pictures, logos, site icons) have a
// lower bound of their own.
#define URL_DOWNLOAD_MAX_BYTES (32u << 20)
#define URL_DOWNLOAD_MAX_PICTURE_BYTES (16u << 20)
// The longest a whole transfer may take, from its request to its last byte.
#define URL_DOWNLOAD_MAX_MS 300000u

// Downloads one URL into a file (created or truncated) and/or a LocalAlloc
// memory block that ends with at least one zero byte (the caller frees it
// with LocalFree). Returns 0 when the transfer ran to its end or was stopped,
// else INET_E_DOWNLOAD_FAILURE with errorCode and errorText filled; then
// nothing is handed out in memory and a file left half-written is removed.
// - An answer with an HTTP status of 400 or more fails
//   (ERROR_INTERNET_EXTENDED_ERROR, the text is the status line) before the
//   file is opened, so the file keeps what it held.
// - A transfer stopped by the abort flag (checked after every block) or the
//   stop signal returns 0 with the bytes received in size and the final
//   progress, but leaves no file (it is removed) and no memory block: a
//   part of a document is never left in place of the whole one.
// - The URL is canonicalised as the platform does (a blank in it becomes
//   "%20") before the request.
// - A body longer than maxBytes fails (ERROR_FILE_TOO_LARGE) as soon as it
//   passes the bound, and a transfer that has not ended when the whole
//   transfer bound has passed (see SetUrlDownloadWaits) fails
//   (ERROR_INTERNET_TIMEOUT): a server that sends without end, or drips a
//   few bytes now and then for ever, never holds the caller or fills the
//   disk. Either failure leaves no file and no memory block.
HRESULT InternetDownloadFile(LPCWSTR url, LPCWSTR file, DWORD* errorCode, CString& errorText, HWND window,
                             LPBYTE* memory, DWORD* size, DWORD maxBytes = URL_DOWNLOAD_MAX_BYTES);

// The status callback of the downloader's sessions.
void InternetStatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD infoLength);

// The text of the last error: a request error recorded for a transfer that
// failed on this thread becomes ERROR_INTERNET_CANNOT_CONNECT (and is
// cleared), else the thread's last error is taken; code receives it.
CString& GetInternetErrorText(CString& text, DWORD& code);

// The stop signal: raises the transfer abort flag and sets the exit event
// of every open transfer (and wakes a RunFetchProgram that waits), or, when
// no transfer is open, broadcasts WM_URL_DOWNLOAD_END so that a running
// fetch program stops.
void StopUrlDownload();
// Raises the transfer abort flag and sets the exit event of every open
// transfer and of a RunFetchProgram that waits; TRUE when a transfer was
// open. Nothing is broadcast here (the fetch program calls it when it hears
// the stop broadcast itself).
BOOL AbortUrlDownload();
// The transfer abort flag. The downloader never clears it, and once raised
// every later transfer stops after its first block: so each operation the
// user starts (a refresh, a title fetch, a template download) calls
// ClearUrlDownloadAbort when it starts, before its first transfer.
void ClearUrlDownloadAbort();
BOOL IsUrlDownloadAborted();
// How long a transfer waits for the answer to its request (30 seconds), for
// each block of the body (50 seconds) and for its whole (five minutes)
// before it fails with ERROR_INTERNET_TIMEOUT.
void SetUrlDownloadWaits(DWORD openMs, DWORD readMs, DWORD wholeMs = URL_DOWNLOAD_MAX_MS);
// The proxy of the next transfers ("host:port").
void SetUrlDownloadProxy(BOOL useProxy, LPCWSTR proxyText);

// Starts "<program folder>\Ambrel.exe" for one page. With info, returns at
// once: 0 with the process information (the caller owns the handles), or 1
// with the record zeroed when the start failed. Without info, waits for the
// program (60 seconds, see SetFetchProgramWait) and returns its exit code,
// or INET_E_DOWNLOAD_FAILURE when it could not be started. A stop signal
// raised while it waits (or the abort flag found raised when the program
// starts), like the end of the wait, asks the program to stop: the
// WM_URL_DOWNLOAD_END broadcast is repeated until the program ends or the
// grace has passed, so a program that could not hear it yet hears it later.
DWORD RunFetchProgram(LPCWSTR url, LPCWSTR outFile, LPCWSTR script, DWORD* exitCode, CString& errorText,
                      BOOL useProxy, PROCESS_INFORMATION* info);
// How long RunFetchProgram waits for the program, and then, after asking an
// overdue program to stop, for its end.
void SetFetchProgramWait(DWORD waitMs, DWORD stopGraceMs);
