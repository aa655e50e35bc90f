// The script engine host: named items and their coerced arguments, errors
// that never leave the engine, and the bounds on time and memory.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "kernel/wstring.h"
#include "script/script.h"

namespace {

using qk::script::Engine;
using qk::script::Limits;
using qk::script::Method;
using qk::script::Param;
using qk::script::Value;

std::string Utf8(const std::u16string& s) { return qk::ToUtf8(s); }

// An object whose methods record what they were given.
struct Recorder {
  std::vector<std::string> calls;
  std::vector<Method> Methods() {
    return {
        {u"Text2", {Param::kText, Param::kText},
         [this](const std::vector<Value>& a) {
           calls.push_back("[" + Utf8(a[0].text) + "][" + Utf8(a[1].text) + "]");
           return Value::Text(a[0].text + a[1].text);
         }},
        {u"Num2", {Param::kNumber, Param::kNumber},
         [this](const std::vector<Value>& a) {
           calls.push_back(std::to_string(a[0].number) + "," + std::to_string(a[1].number));
           return Value::Number(a[0].number + a[1].number);
         }},
        {u"Note", {Param::kText},
         [this](const std::vector<Value>& a) {
           calls.push_back("note:" + Utf8(a[0].text));
           return Value::None();
         }},
    };
  }
};

class ScriptEngineTest : public ::testing::Test {
 protected:
  bool Run(Engine& engine, const std::u16string& text) {
    if (!engine.Create()) return false;
    engine.AddNamedItem(u"Code", recorder_.Methods(), true);
    return engine.ParseScriptText(text);
  }
  Recorder recorder_;
};

TEST_F(ScriptEngineTest, MethodsAreReachedByItemAndAsGlobalsWithArgumentsCoercedAsAutomationDoes) {
  Engine engine;
  ASSERT_TRUE(Run(engine,
                  u"Note(Text2());"                     // missing texts: ""
                  u"Note(Text2(undefined, null));"      // undefined and null: ""
                  u"Note(Code.Text2(12, -1.5));"        // numbers: decimal text, through the item
                  u"Note(Text2(true, {toString: function() { return 'obj'; }}));"
                  u"Note(Num2());"                      // missing numbers: 0
                  u"Note(Num2(' 42 ', '0x10'));"        // texts read as numbers
                  u"Note(Num2('12px', true));"          // not a number: 0; true: -1
                  u"Note(Num2(2.5, 3.5));"              // halves to even
                  u"Note(Num2(1e12, -1e12));"           // clamped
                  u"Note(Num2(1, 2, 3, 4));"            // extra arguments ignored
                  u"Note(typeof Note('x'));"            // no result: undefined
                  u"Note('\u00e9\u4e2d' + String.fromCharCode(0xD83D, 0xDE00));"  // text round trip, surrogates included
                  ));
  std::vector<std::string> expected = {
      "[][]", "note:",     "[][]",       "note:",        "[12][-1.5]", "note:12-1.5", "[true][obj]",
      "note:trueobj", "0,0", "note:0",   "42,16",        "note:58",    "0,-1",        "note:-1",
      "2,4",    "note:6",   "2147483647,-2147483648", "note:-1", "1,2", "note:3", "note:x", "note:undefined",
      "note:\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80"};
  EXPECT_EQ(recorder_.calls, expected);
  EXPECT_TRUE(engine.Errors().empty());
}

TEST_F(ScriptEngineTest, ErrorsAreReportedAndNeverLeaveTheEngine) {
  std::vector<std::u16string> seen;
  {
    Engine engine;
    engine.SetErrorHandler([&](const std::u16string& t) { seen.push_back(t); });
    // A syntax error: nothing of the text runs, no function is defined.
    EXPECT_FALSE(Run(engine, u"function ScriptEntry() { Note('ran'); }\nvar x = ;"));
    EXPECT_FALSE(engine.HasFunction(u"ScriptEntry"));
    EXPECT_FALSE(engine.CallFunction(u"ScriptEntry"));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(Utf8(seen[0]).find("SyntaxError"), std::string::npos) << Utf8(seen[0]);
    EXPECT_NE(Utf8(seen[0]).find("line 2"), std::string::npos) << Utf8(seen[0]);
  }
  {
    Engine engine;
    engine.SetErrorHandler([&](const std::u16string& t) { seen.push_back(t); });
    ASSERT_TRUE(Run(engine,
                    u"function ScriptEntry() { Note('a'); undefinedFunction(); Note('b'); }\n"
                    u"function Other() { throw new Error('thrown on purpose'); }\n"
                    u"function Caught() { try { Num2(); null.x; } catch (e) { Note('caught ' + e.name); } }"));
    EXPECT_TRUE(engine.HasFunction(u"ScriptEntry"));
    EXPECT_FALSE(engine.HasFunction(u"Missing"));
    EXPECT_FALSE(engine.CallFunction(u"ScriptEntry"));
    EXPECT_FALSE(engine.CallFunction(u"Other"));
    EXPECT_TRUE(engine.CallFunction(u"Caught"));
    EXPECT_FALSE(engine.CallFunction(u"Missing"));  // no such function: no error either
    ASSERT_EQ(engine.Errors().size(), 2u);
    EXPECT_NE(Utf8(engine.Errors()[0]).find("ReferenceError"), std::string::npos);
    EXPECT_NE(Utf8(engine.Errors()[1]).find("thrown on purpose"), std::string::npos);
    // The engine goes on working after its errors.
    EXPECT_TRUE(engine.ParseScriptText(u"Note('still here');"));
  }
  std::vector<std::string> expected = {"note:a", "0,0", "note:caught TypeError", "note:still here"};
  EXPECT_EQ(recorder_.calls, expected);
  EXPECT_EQ(seen.size(), 3u);
}

TEST_F(ScriptEngineTest, AScriptThatNeverEndsIsEndedAtItsTimeLimitEvenWhenItCatches) {
  Limits limits;
  limits.timeMs = 300;
  Engine engine(limits);
  ASSERT_TRUE(Run(engine,
                  u"function Spin() { for (;;) {} }\n"
                  u"function Stubborn() { for (;;) { try { for (;;) { Num2(1, 1); } } catch (e) { Note(e.name); } } }"));
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(engine.CallFunction(u"Spin"));
  EXPECT_FALSE(engine.CallFunction(u"Stubborn"));
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(ms, 5000);
  ASSERT_EQ(engine.Errors().size(), 2u);
  EXPECT_NE(Utf8(engine.Errors()[0]).find("RangeError"), std::string::npos) << Utf8(engine.Errors()[0]);
  // The catch blocks of the stubborn script ran only a bounded number of times.
  EXPECT_LT(recorder_.calls.size(), 100000u);
}

TEST_F(ScriptEngineTest, AllocationBeyondTheMemoryLimitFailsInsideTheScript) {
  Limits limits;
  limits.memoryBytes = 8u * 1024 * 1024;
  limits.timeMs = 20000;
  Engine engine(limits);
  ASSERT_TRUE(Run(engine,
                  u"var keep = [];\n"
                  u"function Grow() { var s = 'x'; for (;;) { s = s + s; keep.push(s); } }\n"
                  u"function Small() { Note('small ' + [1, 2, 3].join('-')); }"));
  EXPECT_FALSE(engine.CallFunction(u"Grow"));
  ASSERT_EQ(engine.Errors().size(), 1u);
  EXPECT_NE(Utf8(engine.Errors()[0]).find("alloc failed"), std::string::npos) << Utf8(engine.Errors()[0]);
  EXPECT_LE(engine.PeakMemory(), limits.memoryBytes);
  EXPECT_GT(engine.PeakMemory(), limits.memoryBytes / 2);
  // Once the big values are let go, the engine works again.
  EXPECT_TRUE(engine.ParseScriptText(u"keep = null;"));
  EXPECT_TRUE(engine.CallFunction(u"Small"));
  EXPECT_EQ(recorder_.calls.back(), "note:small 1-2-3");
}

// What this engine does where the older dialect of the extraction scripts
// behaved otherwise (see script/script.h); a change here changes how old
// scripts run.
TEST_F(ScriptEngineTest, DifferencesFromTheOlderDialectStandAsDocumented) {
  Engine engine;
  ASSERT_TRUE(Run(engine,
                  u"Note('abc'.substr(-1));"
                  u"Note([1,2,].length);"
                  u"Note('a,,b'.split(/,/).length);"
                  u"Note('\\v'.charCodeAt(0));"
                  u"Note(new Date(2008, 0, 7).getYear());"
                  u"Note(typeof ActiveXObject + typeof Enumerator + typeof ScriptEngine);"
                  u"/x(y)/.exec('xy'); Note(typeof RegExp.$1);"
                  u"Note(typeof new Error('m').description);"
                  u"var f = function inner() {}; Note(typeof inner);"
                  u"Note(isNaN(Date.parse('Mon, 7 Jan 2008 10:00:00 GMT')));"
                  u"/*@cc_on Note('conditional'); @*/"));
  std::vector<std::string> expected = {"note:c", "note:2", "note:3", "note:11", "note:108",
                                       "note:undefinedundefinedundefined", "note:undefined", "note:undefined",
                                       "note:undefined", "note:true"};
  EXPECT_EQ(recorder_.calls, expected);
  // JScript-only syntax does not parse.
  EXPECT_FALSE(engine.ParseScriptText(u"function window::onload() {}"));
  EXPECT_FALSE(engine.ParseScriptText(u"@if (@_jscript) Note('x'); @end"));
}

}  // namespace
