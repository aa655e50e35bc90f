// Reading script files and pages of every usual encoding into wide text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "ambrel/text_file.h"
#include "support/device_fixture.h"

namespace {

class TextFileTest : public qtest::DeviceTest {
 protected:
  // Loads the bytes through a file; the text, or "<error n>".
  std::u16string Load(const std::string& bytes, UINT codePage) {
    WriteDeviceFile(u"\\t.txt", bytes);
    WCHAR* text = reinterpret_cast<WCHAR*>(1);
    int length = -1, error = 0;
    if (!LoadTextFile(u"\\t.txt", &text, &length, codePage, &error)) return u"<error " + std::u16string(1, u'0' + error) + u">";
    std::u16string out = text ? std::u16string(text, static_cast<size_t>(length)) : std::u16string();
    EXPECT_EQ(static_cast<int>(out.size()), length);
    std::free(text);
    // The same bytes in memory decode the same way.
    WCHAR* fromMemory = nullptr;
    int memoryLength = 0;
    EXPECT_TRUE(DecodeTextBytes(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size(), &fromMemory, &memoryLength,
                                codePage));
    EXPECT_EQ(fromMemory ? std::u16string(fromMemory, static_cast<size_t>(memoryLength)) : std::u16string(), out);
    std::free(fromMemory);
    return out;
  }
};

TEST_F(TextFileTest, ByteOrderMarksFirstThenTheCodePage) {
  // U+00E9 and U+8A9E: second bytes of 0x80 and more in both byte orders.
  EXPECT_EQ(Load(std::string("\xFF\xFE\xE9\x00\x9E\x8A", 6), CP_ACP), u"\u00E9\u8A9E");
  EXPECT_EQ(Load(std::string("\xFE\xFF\x00\xE9\x8A\x9E", 6), CP_ACP), u"\u00E9\u8A9E");
  EXPECT_EQ(Load(std::string("\xFE\xFF\x00\xE9\x8A", 5), CP_ACP), u"\u00E9");  // an odd byte is dropped
  EXPECT_EQ(Load("\xEF\xBB\xBF" "caf\xC3\xA9", 1251), u"caf\u00E9");          // the mark wins over the page
  EXPECT_EQ(Load("\xEF\xBB\xBF", CP_ACP), u"");
  EXPECT_EQ(Load("", CP_ACP), u"");
  EXPECT_EQ(Load("\xE9", 1251), u"\u0439");  // one byte: through the code page
  EXPECT_EQ(Load("\xE9", 1252), u"\u00E9");
  EXPECT_EQ(Load("plain text", CP_ACP), u"plain text");

  WCHAR* text = nullptr;
  int length = 0, error = 0;
  EXPECT_FALSE(LoadTextFile(u"\\missing.txt", &text, &length, CP_ACP, &error));
  EXPECT_EQ(error, TEXT_FILE_CANNOT_OPEN);
  EXPECT_EQ(text, nullptr);
}

// Whatever the bytes, the text is well-formed UTF-16: a surrogate without
// its partner, marked UTF-16 or encoded in UTF-8, reads as U+FFFD, one for
// one, and a pair stays a pair.
TEST_F(TextFileTest, LoneSurrogatesReadAsReplacementCharacters) {
  EXPECT_EQ(Load(std::string("\xFF\xFE" "a\x00\x3D\xD8" "b\x00\x00\xDE\x3D\xD8\x00\xDE\x00\xD8", 16), CP_ACP),
            u"a\uFFFDb\uFFFD\U0001F600\uFFFD");
  EXPECT_EQ(Load(std::string("\xFE\xFF\xDE\x00\x00" "c", 6), CP_ACP), u"\uFFFDc");
  EXPECT_EQ(Load("\xEF\xBB\xBF" "a\xED\xB8\x80" "b", CP_ACP), u"a\uFFFDb");
  EXPECT_EQ(Load("a\xED\xA0\xBD" "b", CP_UTF8), u"a\uFFFDb");
  EXPECT_EQ(Load("\xED\xA0\xBD\xED\xB8\x80", CP_ACP), u"\U0001F600");
}

}  // namespace
