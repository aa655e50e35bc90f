// libcurl, loaded on the first transfer rather than at start.
//
// The one-URL Internet API (wininet.cpp) calls libcurl's easy interface by
// its own names; this file defines those names and hands each call on to
// the library, which it opens the first time one is made. A program that
// never downloads (the first paint of the reader, a headless picture run)
// thus maps neither libcurl nor the two dozen libraries it brings along
// (Kerberos, LDAP, GnuTLS, SSH...). Without the library, no handle can be
// made and every transfer fails as one that could not start.
#include <curl/curl.h>
#include <dlfcn.h>

#include <cstdarg>
#include <cstdint>
#include <initializer_list>

#include "kernel/module.h"

namespace {

struct CurlCalls {
  CURLcode (*global_init)(long flags) = nullptr;
  CURL* (*easy_init)() = nullptr;
  void (*easy_cleanup)(CURL*) = nullptr;
  void (*easy_reset)(CURL*) = nullptr;
  CURLcode (*easy_perform)(CURL*) = nullptr;
  CURLcode (*easy_setopt)(CURL*, CURLoption, ...) = nullptr;
  const char* (*easy_strerror)(CURLcode) = nullptr;
};

// The library's calls; null when it cannot be loaded.
const CurlCalls* Curl() {
  static const CurlCalls* calls = []() -> const CurlCalls* {
    void* lib = qk::OpenSystemLibrary({"libcurl.so.4", "libcurl-gnutls.so.4", "libcurl.so"});
    if (!lib) return nullptr;
    static CurlCalls c;
    auto get = [lib](auto& slot, const char* name) { return qk::ResolveCall(lib, name, &slot); };
    // Every call is looked up, whether or not one before it was found.
    const bool found[] = {get(c.global_init, "curl_global_init"),     get(c.easy_init, "curl_easy_init"),
                          get(c.easy_cleanup, "curl_easy_cleanup"),   get(c.easy_reset, "curl_easy_reset"),
                          get(c.easy_perform, "curl_easy_perform"),   get(c.easy_setopt, "curl_easy_setopt"),
                          get(c.easy_strerror, "curl_easy_strerror")};
    bool all = true;
    for (bool one : found) all = all && one;
    if (!all) {
      dlclose(lib);
      return nullptr;
    }
    return &c;
  }();
  return calls;
}

}  // namespace

// The names are in parentheses: curl.h may define some of them as macros.
extern "C" {

CURLcode(curl_global_init)(long flags) {
  const CurlCalls* c = Curl();
  return c ? c->global_init(flags) : CURLE_FAILED_INIT;
}

CURL*(curl_easy_init)(void) {
  const CurlCalls* c = Curl();
  return c ? c->easy_init() : nullptr;
}

void(curl_easy_cleanup)(CURL* handle) {
  if (const CurlCalls* c = Curl(); c && handle) c->easy_cleanup(handle);
}

void(curl_easy_reset)(CURL* handle) {
  if (const CurlCalls* c = Curl(); c && handle) c->easy_reset(handle);
}

CURLcode(curl_easy_perform)(CURL* handle) {
  const CurlCalls* c = Curl();
  return c ? c->easy_perform(handle) : CURLE_FAILED_INIT;
}

// Every option takes one argument that is a long, a pointer (data or a
// function) or a curl_off_t; on the 64-bit targets the program is built
// for, each is one 64-bit integer-class argument, passed on as it came.
CURLcode(curl_easy_setopt)(CURL* handle, CURLoption option, ...) {
  const CurlCalls* c = Curl();
  if (!c) return CURLE_FAILED_INIT;
  static_assert(sizeof(void*) == 8 && sizeof(long) == 8 && sizeof(curl_off_t) == 8,
                "the options are passed on as 64-bit values");
  va_list args;
  // The option is an enumeration of int size, the type the library's own
  // declaration gives it: its promotion changes nothing of where the
  // arguments after it lie.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wvarargs"
#endif
  va_start(args, option);
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
  std::intptr_t value = va_arg(args, std::intptr_t);
  va_end(args);
  return c->easy_setopt(handle, option, value);
}

const char*(curl_easy_strerror)(CURLcode code) {
  const CurlCalls* c = Curl();
  return c ? c->easy_strerror(code) : "libcurl could not be loaded";
}

}  // extern "C"
