// The idle hook of the message wait (see user/idle.h).
#include "user/idle.h"

#include <atomic>

namespace qk {

namespace {
std::atomic<IdleHook> g_hook{nullptr};
}  // namespace

IdleHook SetIdleHook(IdleHook hook) { return g_hook.exchange(hook); }

DWORD RunIdleHook() {
  IdleHook hook = g_hook.load();
  return hook ? hook() : INFINITE;
}

}  // namespace qk
