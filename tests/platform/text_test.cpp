// UTF-8 and UTF-16 at the boundary, character counting and the locale's case folding.
#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

TEST(TextConversion, RoundTripsEveryPlane) {
  const std::string text = "Aé Ж € 😀";
  const std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide, u"Aé Ж € 😀");
  EXPECT_EQ(wide.size(), 9u);  // the emoji takes a surrogate pair
  EXPECT_EQ(Utf16ToUtf8(wide), text);
  EXPECT_EQ(Utf8ToUtf16(""), u"");
}

TEST(TextConversion, InvalidInputBecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xD0"), u"\uFFFD");                  // truncated at the end
  EXPECT_EQ(Utf8ToUtf16("\xD0" "A"), u"\uFFFDA");             // lead byte without continuation
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");        // overlong
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80").size(), 4u);      // beyond U+10FFFF
  EXPECT_EQ(Utf8ToUtf16("\xE2\x82"), u"\uFFFD");
  const char16_t lone[] = {u'x', 0xD800, u'y', 0xDC00};
  EXPECT_EQ(Utf16ToUtf8(std::u16string_view(lone, 4)), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
}

TEST(TextConversion, BstrKeepsEmbeddedNuls) {
  const std::string text("a\0Ж", 4);
  BSTR bstr = BstrFromUtf8(text);
  EXPECT_EQ(SysStringLen(bstr), 3u);
  EXPECT_EQ(BstrToUtf8(bstr), text);
  SysFreeString(bstr);
}

TEST(TextLength, CountsCharactersNotBytes) {
  EXPECT_EQ(Utf8Length(""), 0u);
  EXPECT_EQ(Utf8Length("abc"), 3u);
  EXPECT_EQ(Utf8Length("Привет"), 6u);
  EXPECT_EQ(Utf8Length("😀x"), 2u);
  EXPECT_EQ(Utf8Length("\xFF\xFE"), 2u);
}

TEST(TextLength, LeftNeverCutsACharacter) {
  EXPECT_EQ(Utf8Left("Привет", 3), "При");
  EXPECT_EQ(Utf8Left("Привет", 0), "");
  EXPECT_EQ(Utf8Left("Привет", 100), "Привет");
  EXPECT_EQ(Utf8Left("a😀b", 2), "a😀");
  EXPECT_EQ(Utf8Left("a\xFF" "bc", 2), "a\xEF\xBF\xBD");  // invalid bytes come out as U+FFFD
  EXPECT_EQ(Utf8Left("x\xEF\xBF\xBD", 2), "x\xEF\xBF\xBD");
  const std::string long255(300, 'z');
  EXPECT_EQ(Utf8Left(long255, 255).size(), 255u);
  std::string cyrillic;
  for (int i = 0; i < 300; ++i) cyrillic += "ж";
  const std::string cut = Utf8Left(cyrillic, 255);
  EXPECT_EQ(cut.size(), 510u);
  EXPECT_EQ(Utf8Length(cut), 255u);
}

TEST(TextCase, SameTextFoldsLatinLatin1AndCyrillic) {
  EXPECT_TRUE(SameText("GetEvents", "getevents"));
  EXPECT_TRUE(SameText("GETEVENTS", "GetEvents"));
  EXPECT_FALSE(SameText("GetEvent", "GetEvents"));
  EXPECT_FALSE(SameText("GetEvents", "GetEvent"));
  EXPECT_TRUE(SameText("", ""));
  EXPECT_FALSE(SameText("", "a"));
  EXPECT_TRUE(SameText("ÄÖÜÉ", "äöüé"));
  EXPECT_TRUE(SameText("ЁЖИК", "ёжик"));
  EXPECT_TRUE(SameText("Контроллер Доступа", "КОНТРОЛЛЕР доступа"));
  EXPECT_TRUE(SameText("ЄЇЎ", "єїў"));
  EXPECT_FALSE(SameText("е", "ё"));
  EXPECT_FALSE(SameText("×", "÷"));  // signs, not letters
  EXPECT_FALSE(SameText("a", std::string_view("a\0", 2)));
}

TEST(TextCase, UpperAndLower) {
  EXPECT_EQ(UpperCase("abc ёжик äÿ"), "ABC ЁЖИК ÄŸ");
  EXPECT_EQ(LowerCase("ABC ЁЖИК ÄŸ"), "abc ёжик äÿ");
  EXPECT_EQ(UpperCase("ß1"), "ß1");
}

TEST(TextTrim, BlanksAndControlsAtBothEnds) {
  EXPECT_EQ(Trim("  \t a b \r\n"), "a b");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim(" \x01 "), "");
  EXPECT_EQ(Trim("ж "), "ж");
}

}  // namespace
