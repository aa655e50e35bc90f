// The script engine host over Duktape (see script/script.h).
//
// Every call into the engine runs inside duk_safe_call, so an error thrown
// anywhere (also an allocation failure while a text is pushed) comes back
// as a result instead of reaching the engine's fatal handler. The engine is
// compiled as C++: an error thrown from a native method unwinds its C++
// frames like any exception.
#include "script/script.h"

#include <duktape.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace qk::script {

using Clock = std::chrono::steady_clock;

struct Engine::State {
  Limits limits;
  duk_context* ctx = nullptr;
  ErrorHandler onError;
  std::vector<std::u16string> errors;
  // Methods live here; their functions find them by index.
  std::vector<std::unique_ptr<Method>> methods;
  Clock::time_point deadline{};
  bool timed = false;
  size_t used = 0;  // the engine's own blocks
  size_t peak = 0;
  // Native memory: what the host's objects keep between calls, and what
  // the method being called charged so far.
  std::function<size_t()> heldGauge;
  size_t held = 0;
  size_t charged = 0;

  size_t Total() const { return used + held + charged; }
  // Whether bytes more fit under the memory limit.
  bool Fits(size_t bytes) const {
    if (!limits.memoryBytes) return true;
    size_t total = Total();
    return total <= limits.memoryBytes && bytes <= limits.memoryBytes - total;
  }
  void NotePeak() {
    if (Total() > peak) peak = Total();
  }
  bool TimeIsUp() const { return timed && Clock::now() > deadline; }

  void Report(const std::u16string& text) {
    errors.push_back(text);
    if (onError) onError(text);
  }
};

namespace {

// Each block carries its size in front, so the engine's memory can be
// counted and capped.
constexpr size_t kHeader = 16;

// The run whose native method is being called on this thread.
thread_local Engine::State* t_calling = nullptr;

void* Alloc(void* udata, duk_size_t size) {
  auto* s = static_cast<Engine::State*>(udata);
  if (size == 0) return nullptr;
  if (!s->Fits(size)) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (!block) return nullptr;
  std::memcpy(block, &size, sizeof size);
  s->used += size;
  s->NotePeak();
  return block + kHeader;
}

void Free(void* udata, void* ptr) {
  if (!ptr) return;
  auto* s = static_cast<Engine::State*>(udata);
  auto* block = static_cast<unsigned char*>(ptr) - kHeader;
  size_t size = 0;
  std::memcpy(&size, block, sizeof size);
  s->used -= size;
  std::free(block);
}

void* Realloc(void* udata, void* ptr, duk_size_t size) {
  auto* s = static_cast<Engine::State*>(udata);
  if (!ptr) return Alloc(udata, size);
  if (size == 0) {
    Free(udata, ptr);
    return nullptr;
  }
  auto* block = static_cast<unsigned char*>(ptr) - kHeader;
  size_t old = 0;
  std::memcpy(&old, block, sizeof old);
  if (size > old && !s->Fits(size - old)) return nullptr;
  auto* grown = static_cast<unsigned char*>(std::realloc(block, size + kHeader));
  if (!grown) return nullptr;
  std::memcpy(grown, &size, sizeof size);
  s->used = s->used - old + size;
  s->NotePeak();
  return grown + kHeader;
}

// Reached only by an error outside every protected call, which this host
// never makes; the engine cannot go on after it.
void Fatal(void*, const char* message) {
  std::fprintf(stderr, "script engine: fatal error: %s\n", message ? message : "");
  std::abort();
}

Engine::State* StateOf(duk_context* ctx) {
  duk_memory_functions funcs;
  duk_get_memory_functions(ctx, &funcs);
  return static_cast<Engine::State*>(funcs.udata);
}

double ReadNumber(duk_context* ctx, duk_idx_t i) {
  switch (duk_get_type(ctx, i)) {
    case DUK_TYPE_NUMBER:
      return duk_get_number(ctx, i);
    case DUK_TYPE_BOOLEAN:
      return duk_get_boolean(ctx, i) ? -1.0 : 0.0;
    case DUK_TYPE_STRING: {
      duk_dup(ctx, i);
      double d = duk_to_number(ctx, -1);
      duk_pop(ctx);
      return d;
    }
    default:
      return 0.0;
  }
}

int32_t ToInt32Clamped(double d) {
  if (std::isnan(d)) return 0;
  d = std::nearbyint(d);  // halves to even in the default rounding mode
  if (d >= 2147483647.0) return 2147483647;
  if (d <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(d);
}

std::u16string ReadText(duk_context* ctx, duk_idx_t i) {
  switch (duk_get_type(ctx, i)) {
    case DUK_TYPE_NONE:
    case DUK_TYPE_UNDEFINED:
    case DUK_TYPE_NULL:
      return std::u16string();
    case DUK_TYPE_STRING: {
      duk_size_t n = 0;
      const char* p = duk_get_lstring(ctx, i, &n);
      return FromEngineText(p, n);
    }
    default: {
      duk_dup(ctx, i);
      duk_size_t n = 0;
      const char* p = duk_safe_to_lstring(ctx, -1, &n);
      std::u16string text = FromEngineText(p, n);
      duk_pop(ctx);
      return text;
    }
  }
}

// The bytes of a text as the engine keeps it.
size_t EngineTextSize(const std::u16string& text) {
  // Without branches, so that the loop runs several characters a step.
  size_t n = 0;
  for (char16_t c : text) n += 1 + (c >= 0x80) + (c >= 0x800);
  return n;
}

void PushText(duk_context* ctx, const std::u16string& text) {
  std::string bytes = ToEngineText(text);
  duk_push_lstring(ctx, bytes.data(), bytes.size());
}

// One native method call: what it charges is counted until it ends; then
// what the host's objects keep is asked again. (A call may run script code,
// an argument's toString, that calls another method: each keeps its own
// charges.)
class CallScope {
 public:
  explicit CallScope(Engine::State* s) : s_(s), outer_(t_calling), outerCharged_(s->charged) { t_calling = s_; }
  ~CallScope() {
    t_calling = outer_;
    s_->charged = outerCharged_;
    s_->held = s_->heldGauge ? s_->heldGauge() : 0;
    s_->NotePeak();
  }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

 private:
  Engine::State* s_;
  Engine::State* outer_;
  size_t outerCharged_;
};

duk_ret_t CallMethod(duk_context* ctx) {
  duk_idx_t given = duk_get_top(ctx);
  duk_push_current_function(ctx);
  duk_get_prop_string(ctx, -1, DUK_HIDDEN_SYMBOL("index"));
  auto index = static_cast<size_t>(duk_get_uint(ctx, -1));
  duk_pop_2(ctx);
  Engine::State* s = StateOf(ctx);
  if (index >= s->methods.size()) return DUK_RET_TYPE_ERROR;
  const Method& method = *s->methods[index];
  bool timeUp = false;
  {
    CallScope scope(s);
    try {
      if (s->TimeIsUp()) throw TimeUp();
      std::vector<Value> args;
      args.reserve(method.params.size());
      for (size_t i = 0; i < method.params.size(); ++i) {
        auto at = static_cast<duk_idx_t>(i);
        bool present = at < given;
        if (method.params[i] == Param::kText) {
          // A text argument is copied out of the engine: one unit per byte at most.
          duk_size_t bytes = 0;
          if (present && duk_is_string(ctx, at)) duk_get_lstring(ctx, at, &bytes);
          ChargeMemory(bytes * sizeof(char16_t));
          args.push_back(Value::Text(present ? ReadText(ctx, at) : std::u16string()));
        } else {
          args.push_back(Value::Number(present ? ToInt32Clamped(ReadNumber(ctx, at)) : 0));
        }
      }
      Value result = method.call(args);
      args.clear();
      switch (result.kind) {
        case Value::kText: {
          // The result is held here and copied into the engine's form.
          ChargeMemory(result.text.size() * sizeof(char16_t) + EngineTextSize(result.text));
          PushText(ctx, result.text);
          return 1;
        }
        case Value::kNumber:
          duk_push_int(ctx, result.number);
          return 1;
        default:
          return 0;
      }
    } catch (const std::bad_alloc&) {
    } catch (const TimeUp&) {
      timeUp = true;
    }
  }
  // Every value of the call is gone by now; the error goes to the script.
  if (timeUp) return duk_error(ctx, DUK_ERR_RANGE_ERROR, "execution timeout");
  return duk_error(ctx, DUK_ERR_RANGE_ERROR, "out of memory in %s", ToEngineText(method.name).c_str());
}

struct NamedItem {
  const std::u16string* name;
  const std::vector<Method>* methods;
  bool global;
  Engine::State* state;
};

duk_ret_t AddItemSafe(duk_context* ctx, void* udata) {
  auto* item = static_cast<NamedItem*>(udata);
  duk_push_global_object(ctx);
  duk_push_object(ctx);
  for (const Method& m : *item->methods) {
    item->state->methods.push_back(std::make_unique<Method>(m));
    size_t index = item->state->methods.size() - 1;
    std::string name = ToEngineText(m.name);
    duk_push_c_function(ctx, CallMethod, DUK_VARARGS);
    duk_push_uint(ctx, static_cast<duk_uint_t>(index));
    duk_put_prop_string(ctx, -2, DUK_HIDDEN_SYMBOL("index"));
    if (item->global) {
      duk_dup(ctx, -1);
      duk_put_prop_lstring(ctx, -4, name.data(), name.size());
    }
    duk_put_prop_lstring(ctx, -2, name.data(), name.size());
  }
  std::string name = ToEngineText(*item->name);
  duk_put_prop_lstring(ctx, -2, name.data(), name.size());
  duk_pop(ctx);
  return 0;
}

duk_ret_t ParseSafe(duk_context* ctx, void* udata) {
  PushText(ctx, *static_cast<const std::u16string*>(udata));
  duk_push_string(ctx, "script");
  duk_compile(ctx, 0);
  duk_call(ctx, 0);
  duk_pop(ctx);
  return 0;
}

struct CallRequest {
  const std::u16string* name;
  bool found = false;
};

duk_ret_t LookupSafe(duk_context* ctx, void* udata) {
  auto* req = static_cast<CallRequest*>(udata);
  std::string name = ToEngineText(*req->name);
  duk_push_global_object(ctx);
  duk_get_prop_lstring(ctx, -1, name.data(), name.size());
  req->found = duk_is_function(ctx, -1);
  duk_pop_2(ctx);
  return 0;
}

duk_ret_t CallSafe(duk_context* ctx, void* udata) {
  auto* req = static_cast<CallRequest*>(udata);
  std::string name = ToEngineText(*req->name);
  duk_push_global_object(ctx);
  duk_get_prop_lstring(ctx, -1, name.data(), name.size());
  req->found = duk_is_function(ctx, -1);
  if (!req->found) {
    duk_pop_2(ctx);
    return 0;
  }
  duk_call(ctx, 0);
  duk_pop_2(ctx);
  return 0;
}

// The text of the error on top of the stack (popped).
std::u16string ErrorText(duk_context* ctx) {
  duk_size_t n = 0;
  const char* p = duk_safe_to_lstring(ctx, -1, &n);
  std::u16string text = FromEngineText(p, n);
  duk_pop(ctx);
  return text;
}

}  // namespace

Engine::Engine(Limits limits) : state_(std::make_unique<State>()) { state_->limits = limits; }

Engine::~Engine() { Close(); }

bool Engine::Create() {
  Close();
  state_->used = 0;
  state_->peak = 0;
  state_->held = 0;
  state_->charged = 0;
  state_->errors.clear();
  state_->ctx = duk_create_heap(Alloc, Realloc, Free, state_.get(), Fatal);
  if (!state_->ctx) return false;
  state_->timed = state_->limits.timeMs != 0;
  state_->deadline = Clock::now() + std::chrono::milliseconds(state_->limits.timeMs);
  return true;
}

void Engine::SetErrorHandler(ErrorHandler handler) { state_->onError = std::move(handler); }

void Engine::SetHeldMemory(std::function<size_t()> gauge) {
  state_->heldGauge = std::move(gauge);
  state_->held = state_->heldGauge ? state_->heldGauge() : 0;
}

bool Engine::AddNamedItem(const std::u16string& name, const std::vector<Method>& methods, bool globalMembers) {
  if (!state_->ctx) return false;
  NamedItem item{&name, &methods, globalMembers, state_.get()};
  if (duk_safe_call(state_->ctx, AddItemSafe, &item, 0, 1) != DUK_EXEC_SUCCESS) {
    state_->Report(ErrorText(state_->ctx));
    return false;
  }
  duk_pop(state_->ctx);
  return true;
}

bool Engine::ParseScriptText(const std::u16string& text) {
  if (!state_->ctx) return false;
  std::u16string copy = text;
  if (duk_safe_call(state_->ctx, ParseSafe, &copy, 0, 1) != DUK_EXEC_SUCCESS) {
    state_->Report(ErrorText(state_->ctx));
    return false;
  }
  duk_pop(state_->ctx);
  return true;
}

bool Engine::HasFunction(const std::u16string& name) {
  if (!state_->ctx) return false;
  CallRequest req{&name};
  if (duk_safe_call(state_->ctx, LookupSafe, &req, 0, 1) != DUK_EXEC_SUCCESS) {
    state_->Report(ErrorText(state_->ctx));
    return false;
  }
  duk_pop(state_->ctx);
  return req.found;
}

bool Engine::CallFunction(const std::u16string& name) {
  if (!state_->ctx) return false;
  CallRequest req{&name};
  if (duk_safe_call(state_->ctx, CallSafe, &req, 0, 1) != DUK_EXEC_SUCCESS) {
    state_->Report(ErrorText(state_->ctx));
    return false;
  }
  duk_pop(state_->ctx);
  return req.found;
}

void Engine::Close() {
  if (state_->ctx) duk_destroy_heap(state_->ctx);
  state_->ctx = nullptr;
  state_->methods.clear();
}

const std::vector<std::u16string>& Engine::Errors() const { return state_->errors; }
size_t Engine::PeakMemory() const { return state_->peak; }

void CheckTime() {
  if (t_calling && t_calling->TimeIsUp()) throw TimeUp();
}

void ChargeMemory(size_t bytes) {
  Engine::State* s = t_calling;
  if (!s) return;
  if (!s->Fits(bytes)) {
    // Values the script let go may still wait for the collector.
    duk_gc(s->ctx, 0);
    if (!s->Fits(bytes)) throw std::bad_alloc();
  }
  s->charged += bytes;
  s->NotePeak();
}

std::string ToEngineText(const std::u16string& text) {
  std::string out(EngineTextSize(text), '\0');
  char* p = out.data();
  const char16_t* at = text.data();
  const char16_t* const end = at + text.size();
  while (at < end) {
    // Runs of ASCII (most text): four characters a step while they last.
    for (uint64_t four; end - at >= 4; at += 4, p += 4) {
      std::memcpy(&four, at, 8);
      if (four & 0xFF80FF80FF80FF80ull) break;
      p[0] = static_cast<char>(at[0]);
      p[1] = static_cast<char>(at[1]);
      p[2] = static_cast<char>(at[2]);
      p[3] = static_cast<char>(at[3]);
    }
    while (at < end && *at < 0x80) *p++ = static_cast<char>(*at++);
    if (at == end) break;
    const char16_t c = *at++;
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *p++ = static_cast<char>(0xC0 | (c >> 6));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *p++ = static_cast<char>(0xE0 | (c >> 12));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  out.resize(static_cast<size_t>(p - out.data()));
  return out;
}

std::u16string FromEngineText(const char* text, size_t length) {
  std::u16string out;
  if (!text) return out;
  out.reserve(length);
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0;
  auto cont = [&](size_t k) { return i + k < length && (p[i + k] & 0xC0) == 0x80; };
  while (i < length) {
    unsigned char b = p[i];
    if (b < 0x80) {
      out += static_cast<char16_t>(b);
      ++i;
    } else if ((b & 0xE0) == 0xC0 && cont(1)) {
      out += static_cast<char16_t>(((b & 0x1F) << 6) | (p[i + 1] & 0x3F));
      i += 2;
    } else if ((b & 0xF0) == 0xE0 && cont(1) && cont(2)) {
      out += static_cast<char16_t>(((b & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F));
      i += 3;
    } else if ((b & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
      uint32_t cp = ((b & 0x07u) << 18) | ((p[i + 1] & 0x3Fu) << 12) | ((p[i + 2] & 0x3Fu) << 6) | (p[i + 3] & 0x3Fu);
      if (cp >= 0x10000 && cp <= 0x10FFFF) {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (cp >> 10));
        out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
      } else {
        out += u'\xFFFD';
      }
      i += 4;
    } else {
      out += u'\xFFFD';
      ++i;
    }
  }
  return out;
}

}  // namespace qk::script

// The engine asks this while a script runs: true ends the script with a
// RangeError, and keeps ending it until it has returned.
int qk_script_exec_timeout(void* udata) {
  auto* s = static_cast<qk::script::Engine::State*>(udata);
  return s && s->TimeIsUp() ? 1 : 0;
}
