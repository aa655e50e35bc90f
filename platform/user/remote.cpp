// Driving another program on the message bus (see user/remote.h).
#include "user/remote.h"

#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <cstring>
#include <vector>

#include "kernel/time.h"
#include "kernel/wstring.h"
#include "user/input.h"
#include "user/internal.h"

namespace qk::remote {
namespace {

std::atomic<KeyHook> g_keyHook{nullptr};
std::atomic<PictureHook> g_pictureHook{nullptr};

UINT Tag() { return RegisterWindowMessageW(u"Quillet.RemoteControl"); }

// Message boxes of a program driven by another: the answers queued for
// them, and the host file that lists them.
std::mutex g_boxLock;
std::deque<int> g_answers;
std::string g_boxLog;
bool g_boxHooked = false;

int AnswerBox(HWND, const std::u16string& text, const std::u16string& caption, UINT type) {
  int answer;
  std::string log;
  {
    std::lock_guard<std::mutex> lock(g_boxLock);
    answer = g_answers.empty() ? user::DefaultMessageBoxAnswer(type) : g_answers.front();
    if (!g_answers.empty()) g_answers.pop_front();
    log = g_boxLog;
  }
  if (!log.empty()) {
    std::string line = ToUtf8(caption) + "\t" + ToUtf8(text) + "\t" + std::to_string(answer);
    for (char& c : line)
      if (c == '\n' || c == '\r') c = ' ';
    if (FILE* f = std::fopen(log.c_str(), "a")) {
      std::fprintf(f, "%s\n", line.c_str());
      std::fclose(f);
    }
  }
  return answer;
}

void HookBoxes() {
  std::lock_guard<std::mutex> lock(g_boxLock);
  if (g_boxHooked) return;
  g_boxHooked = true;
  SetMessageBoxHook(AnswerBox);
}

void PressKey(BYTE vk, bool up) {
  if (auto hook = g_keyHook.load())
    hook(vk, up);
  else
    keybd_event(vk, 0, up ? KEYEVENTF_KEYUP : 0, 0);
}

}  // namespace

bool Send(HWND window, Op op, const Request& request, const std::u16string& text, DWORD timeoutMs,
          LRESULT* answer) {
  Request r = request;
  r.op = static_cast<uint32_t>(op);
  std::vector<uint8_t> bytes(sizeof r + text.size() * sizeof(char16_t));
  std::memcpy(bytes.data(), &r, sizeof r);
  if (!text.empty()) std::memcpy(bytes.data() + sizeof r, text.data(), text.size() * sizeof(char16_t));
  COPYDATASTRUCT cds{Tag(), static_cast<DWORD>(bytes.size()), bytes.data()};
  DWORD_PTR result = 0;
  if (!window || user::IsLocalHandle(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);  // requests are for other programs
    return false;
  }
  if (!SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, timeoutMs, &result))
    return false;
  if (answer) *answer = static_cast<LRESULT>(result);
  return true;
}

void SetHooks(KeyHook key, PictureHook picture) {
  g_keyHook = key;
  g_pictureHook = picture;
}

}  // namespace qk::remote

namespace qk::user {

bool IsRemoteRequest(UINT msg, uint64_t copyDataTag) {
  return msg == WM_COPYDATA && copyDataTag != 0 && copyDataTag == qk::remote::Tag();
}

void RunRemoteRequest(const std::shared_ptr<SentMessage>& sm) {
  using namespace qk::remote;
  Request r;
  if (sm->data.size() < sizeof r) {
    Complete(sm, kRefused);
    return;
  }
  std::memcpy(&r, sm->data.data(), sizeof r);
  std::u16string text((sm->data.size() - sizeof r) / sizeof(char16_t), u'\0');
  if (!text.empty()) std::memcpy(text.data(), sm->data.data() + sizeof r, text.size() * sizeof(char16_t));
  LRESULT answer = kDone;
  switch (static_cast<Op>(r.op)) {
    case Op::Pointer:
      if (r.a != WM_LBUTTONDOWN && r.a != WM_MOUSEMOVE && r.a != WM_LBUTTONUP) {
        answer = kRefused;
        break;
      }
      answer = InjectPointer(static_cast<UINT>(r.a), r.x, r.y) ? kDone : kNothingThere;
      break;
    case Op::Key:
      if (r.a <= 0 || r.a > 0xFE) {
        answer = kRefused;
        break;
      }
      // Answered first: a soft key can open a menu whose loop runs inside
      // the press, until the menu closes (requests that come meanwhile are
      // carried out in that loop).
      Complete(sm, kDone);
      if (r.b != 2) PressKey(static_cast<BYTE>(r.a), false);
      if (r.b != 1) PressKey(static_cast<BYTE>(r.a), true);
      return;
    case Op::Text:
      answer = InjectCharacters(text) ? kDone : kNothingThere;
      break;
    case Op::Advance:
      if (!ClockFrozen() || r.a < 0) {
        answer = kRefused;
        break;
      }
      AdvanceClock(r.a);
      SettleThen(sm);
      return;
    case Op::Settle:
      SettleThen(sm);
      return;
    case Op::Picture: {
      PictureHook hook = g_pictureHook.load();
      answer = hook && !text.empty() && hook(ToUtf8(text)) ? kDone : kRefused;
      break;
    }
    case Op::Answer:
      HookBoxes();
      {
        std::lock_guard<std::mutex> lock(g_boxLock);
        g_answers.push_back(r.a);
      }
      break;
    case Op::BoxLog:
      HookBoxes();
      {
        std::lock_guard<std::mutex> lock(g_boxLock);
        g_boxLog = ToUtf8(text);
      }
      break;
    case Op::Active:
      answer = reinterpret_cast<LRESULT>(GetActiveWindow());
      break;
    case Op::Focus:
      answer = reinterpret_cast<LRESULT>(GetFocus());
      break;
    case Op::Drawings:
      answer = static_cast<LRESULT>(DrawingsOn(sm->hwnd));
      break;
    default:
      answer = kRefused;
      break;
  }
  Complete(sm, answer);
}

}  // namespace qk::user
