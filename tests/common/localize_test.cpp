// Localised texts from the language tables in the program folder.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/localize.h"
#include "common/settings.h"
#include "user/menu.h"
#include "support/device_fixture.h"

namespace {

std::string Utf16le(const std::u16string& s, bool bom = true) {
  std::string out = bom ? std::string("\xFF\xFE", 2) : std::string();
  for (char16_t c : s) {
    out.push_back(char(c & 0xFF));
    out.push_back(char(c >> 8));
  }
  return out;
}

class Localization : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    HKEY key;
    RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Settings", 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &key, nullptr);
    const std::u16string root = u"\\Program Files\\Quillet";
    RegSetValueExW(key, u"Root", 0, REG_SZ, reinterpret_cast<const BYTE*>(root.c_str()), DWORD(root.size() * 2 + 2));
    RegCloseKey(key);
    // Every test starts from a language nobody uses, so the table reloads.
    SetLanguage(u"none-" + qk::FromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    Localized(u"warm up");
  }
  void SetLanguage(const std::u16string& name) {
    HKEY key;
    RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Settings", 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &key, nullptr);
    if (name.empty()) {
      RegDeleteValueW(key, u"Language");
    } else {
      RegSetValueExW(key, u"Language", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                     DWORD(name.size() * 2 + 2));
    }
    RegCloseKey(key);
  }
  void WriteTable(const char16_t* language, const std::string& bytes) {
    std::u16string path = std::u16string(u"\\Program Files\\Quillet\\Localization\\") + language + u"\\Default.txt";
    WriteDeviceFile(path.c_str(), bytes);
  }
};

TEST_F(Localization, TableLinesAreTrimmedAndSplitAtTheFirstEquals) {
  WriteTable(u"DEU", Utf16le(u"#Language: Deutsch\r\nRefresh = Aktualisieren \r\n  Today=Heute\r\n"
                             u"a=b=c\r\nno equals here\r\nEmpty=\r\nLast=Letzte"));
  SetLanguage(u"DEU");
  EXPECT_EQ(Localized(u"Refresh"), u"Aktualisieren");
  EXPECT_EQ(Localized(u"Today"), u"Heute");
  EXPECT_EQ(Localized(u"a"), u"b=c");
  EXPECT_EQ(Localized(u"Empty"), u"");
  EXPECT_EQ(Localized(u"Last"), u"Letzte");  // a last line without line feed counts
  EXPECT_EQ(Localized(u"Absent ✓"), u"Absent ✓");
  EXPECT_EQ(Localized(u"refresh"), u"refresh");
}

TEST_F(Localization, TwoPassesOverLineFeedsAndTabs) {
  WriteTable(u"DEU", Utf16le(u"One=Eins\nThree=Drei\nTwo=Zwei\n"));
  SetLanguage(u"DEU");
  // The piece between the line feed and the tab is looked up only with a
  // neighbour, so it stays.
  EXPECT_EQ(Localized(u"One\nTwo\tThree"), u"Eins\nTwo\tDrei");
  EXPECT_EQ(Localized(u"One\tTwo\nThree"), u"Eins\tTwo\nDrei");
  EXPECT_EQ(Localized(u"\nOne\t"), u"\nOne\t");
  // A table that holds the combined key localises it in the first pass.
  WriteTable(u"FRA", Utf16le(u"One=Un\nTwo\tThree=combined\n"));
  SetLanguage(u"FRA");
  EXPECT_EQ(Localized(u"One\nTwo\tThree"), u"Un\ncombined");
}

TEST_F(Localization, MissingOrUnmarkedTablesShowEnglish) {
  WriteTable(u"FRA", Utf16le(u"Refresh=Actualiser\n", false));  // no byte-order mark
  SetLanguage(u"FRA");
  EXPECT_EQ(Localized(u"Refresh"), u"Refresh");
  WriteTable(u"ITA", "Refresh=Aggiorna\n");  // 8-bit text
  SetLanguage(u"ITA");
  EXPECT_EQ(Localized(u"Refresh"), u"Refresh");
  SetLanguage(u"XYZ");  // no folder at all
  EXPECT_EQ(Localized(u"Refresh"), u"Refresh");
}

TEST_F(Localization, WithoutASettingTheDeviceLanguageIsUsed) {
  WriteTable(u"ENU", Utf16le(u"Refresh=Refresh now\n"));
  SetLanguage(u"");
  EXPECT_EQ(Localized(u"Refresh"), u"Refresh now");
  qk::Locale locale;
  locale.abbrevLangName = u"X";
  qk::SetLocale(locale);
  EXPECT_EQ(Localized(u"Refresh"), u"Refresh");  // "X" has no table
  locale.abbrevLangName = u"";
  qk::SetLocale(locale);
  EXPECT_EQ(Localized(u"Refresh"), u"Refresh");  // no language at all: the key
}

TEST_F(Localization, ChangingTheLanguageReloadsWhileOtherThreadsLookUp) {
  WriteTable(u"DEU", Utf16le(u"Cancel=Abbrechen\n"));
  WriteTable(u"FRA", Utf16le(u"Cancel=Annuler\n"));
  SetLanguage(u"DEU");
  EXPECT_EQ(Localized(u"Cancel"), u"Abbrechen");
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    while (!stop) {
      CString t = Localized(u"Cancel");
      if (t != u"Abbrechen" && t != u"Annuler") ++bad;
    }
  });
  for (int i = 0; i < 200; ++i) SetLanguage(i % 2 ? u"DEU" : u"FRA"), Localized(u"Cancel");
  stop = true;
  reader.join();
  EXPECT_EQ(bad, 0);
}

}  // namespace

namespace {

TEST_F(Localization, MenusAreLocalisedItemByItem) {
  WriteTable(u"DEU", Utf16le(u"File=Datei\nOpen=Öffnen\nExit=Beenden\nRecent=Zuletzt\n"));
  SetLanguage(u"DEU");
  HMENU recent = CreatePopupMenu();
  AppendMenuW(recent, MF_STRING, 301, u"Open");
  HMENU file = CreatePopupMenu();
  AppendMenuW(file, MF_STRING, 101, u"Open");
  AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(file, MF_POPUP, reinterpret_cast<UINT_PTR>(recent), u"Recent");
  AppendMenuW(file, MF_STRING | MF_GRAYED, 102, u"Exit\tCtrl+Q");
  AppendMenuW(file, MF_STRING, 103, u"Unknown");
  HMENU bar = CreateMenu();
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), u"File");

  LocalizeMenu(bar);
  LocalizeMenu(nullptr);  // nothing to do
  WCHAR text[64];
  GetMenuStringW(bar, 0, text, 64, MF_BYPOSITION);
  EXPECT_EQ(CString(text), u"Datei");
  GetMenuStringW(file, 101, text, 64, MF_BYCOMMAND);
  EXPECT_EQ(CString(text), u"Öffnen");
  GetMenuStringW(file, 102, text, 64, MF_BYCOMMAND);
  EXPECT_EQ(CString(text), u"Beenden\tCtrl+Q");
  EXPECT_TRUE(GetMenuState(file, 102, MF_BYCOMMAND) & MF_GRAYED);
  GetMenuStringW(file, 103, text, 64, MF_BYCOMMAND);
  EXPECT_EQ(CString(text), u"Unknown");
  GetMenuStringW(file, 2, text, 64, MF_BYPOSITION);
  EXPECT_EQ(CString(text), u"Zuletzt");
  GetMenuStringW(recent, 301, text, 64, MF_BYCOMMAND);
  EXPECT_EQ(CString(text), u"Öffnen");
  EXPECT_EQ(GetMenuState(file, 1, MF_BYPOSITION) & MF_SEPARATOR, UINT(MF_SEPARATOR));
  EXPECT_EQ(GetMenuItemCount(file), 5);
  EXPECT_TRUE(DestroyMenu(bar));
  EXPECT_FALSE(IsMenu(recent));  // destroyed with its parent
}

}  // namespace
