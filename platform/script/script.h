// The script engine host: one engine per script run, over Duktape
// (ECMAScript 5.1 with a few later additions).
//
// A host program adds named items (objects whose methods are native
// functions), parses a script text and calls one of its global functions.
// Errors of the script, at parse time or at run time, are caught here: they
// are passed to the error handler and never end the program.
//
// Arguments reach a method coerced the way the platform's automation layer
// coerces them for its typed parameters:
//   - a text parameter takes a missing, undefined or null argument as "",
//     a number as its decimal text (3, 1.5, -2), a boolean as "true" or
//     "false", anything else as its string value;
//   - a number parameter (32-bit signed) takes a missing, undefined or null
//     argument as 0, a text as the number it reads as (surrounding white
//     space allowed, decimal or 0x hexadecimal; any other text reads as 0),
//     true as -1 and false as 0; fractions round to the nearest integer
//     (halves to even) and values beyond the 32-bit range are clamped.
// Arguments beyond the declared parameters are ignored.
//
// Bounds: a run has a time limit and a memory limit. A script that runs
// past its time limit is ended by a RangeError that no script code can
// catch for long (the check repeats); an allocation beyond the memory limit
// fails with an Error "alloc failed" after the engine has collected its
// garbage. The time is checked between script instructions and at the start
// of every native method call: once the time is up every call fails with a
// RangeError "execution timeout". One long built-in call (a join of a huge
// array) runs to its end before the check can end the script.
//
// What native methods build is memory of the run too. The texts a method is
// given and the text it returns, what a method charges while it works
// (ChargeMemory) and what the host's objects keep between calls
// (Engine::SetHeldMemory) count against the memory limit with the engine's
// own memory. A method whose memory would pass the limit fails with a
// RangeError "out of memory in <name>" that the script may catch; the
// program goes on. A method that works long checks the time as it goes
// (CheckTime).
//
// The older JScript dialect that extraction scripts were written for
// differs from this engine in what follows; scripts are run as they stand,
// so a script that depends on one of these behaves differently here:
//   - conditional compilation (/*@cc_on ... @*/, @if, @set) is not known:
//     the text between /*@ and @*/ is an ordinary comment, and @if or @set
//     outside a comment is a syntax error;
//   - "function object::event() {}" (event binding in a declaration) is a
//     syntax error;
//   - the host objects ActiveXObject, Enumerator, VBArray, GetObject and
//     the functions ScriptEngine, ScriptEngineMajorVersion,
//     ScriptEngineMinorVersion and ScriptEngineBuildVersion do not exist
//     (ReferenceError);
//   - the static RegExp properties of the last match (RegExp.$1 to $9,
//     RegExp.lastMatch, RegExp.input, RegExp.index, RegExp.lastIndex) are
//     not set;
//   - an Error object has no "number" and no "description"; use "message";
//   - "abc".substr(-1) counts from the end ("c"; JScript starts at 0);
//   - a trailing comma in an array literal adds no element ([1,2,].length
//     is 2; JScript gives 3);
//   - split with a regular expression keeps empty fields ("a,,b".split(/,/)
//     has three fields; JScript drops the empty one);
//   - "\v" in a string is a vertical tab (JScript reads it as "v");
//   - Date.prototype.getYear gives the year less 1900 for every year
//     (JScript gives the full year from 2000 on), and Date.parse reads ISO
//     dates and this engine's own formats only (not every form JScript
//     accepts, such as "Mon, 7 Jan 2008 10:00:00 GMT");
//   - the name of a named function expression is not visible outside it
//     (JScript also declares it in the enclosing scope);
//   - arguments.caller does not exist.
// What this engine accepts and JScript did not (Array.prototype.indexOf,
// JSON, String.prototype.trim, getters and setters...) does not matter to
// scripts written for JScript.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qk::script {

// A value crossing between the script and a native method.
struct Value {
  enum Kind { kNone, kText, kNumber };
  Kind kind = kNone;
  std::u16string text;
  int32_t number = 0;

  static Value None() { return Value(); }
  static Value Text(std::u16string t) {
    Value v;
    v.kind = kText;
    v.text = std::move(t);
    return v;
  }
  static Value Number(int32_t n) {
    Value v;
    v.kind = kNumber;
    v.number = n;
    return v;
  }
};

enum class Param { kText, kNumber };

// A native method: its name, its typed parameters and the function that
// runs it. The function gets exactly one coerced value per parameter.
struct Method {
  std::u16string name;
  std::vector<Param> params;
  std::function<Value(const std::vector<Value>& args)> call;
};

// Thrown by CheckTime when the run's time is up; the method call then fails
// with a RangeError "execution timeout".
struct TimeUp : std::exception {
  const char* what() const noexcept override { return "execution timeout"; }
};

// For native methods while they run (both do nothing outside a method call
// on this thread):
// - CheckTime throws TimeUp when the run's time is up;
// - ChargeMemory counts bytes that the method is about to allocate, until
//   its call ends, and throws std::bad_alloc when they would pass the memory
//   limit even after the engine collected its garbage.
void CheckTime();
void ChargeMemory(size_t bytes);

struct Limits {
  uint32_t timeMs = 45000;                 // 0: no time limit
  size_t memoryBytes = 96u * 1024 * 1024;  // 0: no memory limit
};

class Engine {
 public:
  // Receives the text of every script error ("SyntaxError: ... (line 3)").
  using ErrorHandler = std::function<void(const std::u16string& text)>;

  explicit Engine(Limits limits = Limits());
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Creates the engine; false when it cannot be had (the other calls then
  // do nothing and fail).
  bool Create();
  void SetErrorHandler(ErrorHandler handler);
  // Adds an object under name whose properties are the methods; with
  // globalMembers the methods are also global functions of their own names.
  bool AddNamedItem(const std::u16string& name, const std::vector<Method>& methods, bool globalMembers);
  // Parses and runs the script text at global level (its declarations
  // become globals). False when it does not parse or its top level throws.
  bool ParseScriptText(const std::u16string& text);
  // Whether a global function of that name exists.
  bool HasFunction(const std::u16string& name);
  // Calls a global function without arguments. False when there is no such
  // function or it ended with an error.
  bool CallFunction(const std::u16string& name);
  // How much memory the host's objects keep for the script (a page, a
  // table built from it): asked after every method call and counted against
  // the memory limit until the next.
  void SetHeldMemory(std::function<size_t()> gauge);
  // Frees the engine; the object can be created again.
  void Close();

  // The texts of the errors met so far.
  const std::vector<std::u16string>& Errors() const;
  // The peak of the memory the run held (the engine's, and what native
  // methods charged or the host's objects kept), in bytes.
  size_t PeakMemory() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// CESU-8 (what the engine keeps) to and from UTF-16, unit for unit.
std::string ToEngineText(const std::u16string& text);
std::u16string FromEngineText(const char* text, size_t length);

}  // namespace qk::script
