// The driver's pure value routines: event kinds and callbacks, the host's card text, card number
// normalisation and profile numbers.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "driver/card_numbers.h"
#include "driver/driver_events.h"
#include "driver/morvik_common.h"
#include "platform/exceptions.h"

namespace {

TEST(DriverEventKinds, EveryKnownCodeHasItsKindAndCallback) {
  struct Row {
    std::uint8_t code;
    const char* kind;
    const char* description;
    TEventCallback callback;
  };
  const Row rows[] = {
      {0x01, "", "", TEventCallback::DataEvent},
      {0x02, "Hacked", "Взлом считывателя", TEventCallback::DataEvent},
      {0x04, "Hacked", "Вскрыт корпус контроллера", TEventCallback::DataEvent},
      {0x0C, "Hacked", "Обрыв датчика двери", TEventCallback::ErrorEvent},
      {0x0D, "", "", TEventCallback::ErrorEvent},
      {0x0F, "Hacked", "Обрыв охранного датчика", TEventCallback::ErrorEvent},
      {0x10, "Hacked", "КЗ цепи охранного датчика", TEventCallback::ErrorEvent},
      {0x12, "Hacked", "Взлом внутреннего считывателя", TEventCallback::DataEvent},
      {0x14, "Broken", "Контроллер выключен", TEventCallback::ErrorEvent},
      {0x21, "EntranceDenied", "Нет доступа по блокировке", TEventCallback::DataEvent},
      {0x22, "EntranceDenied", "Нет ключа в БД контроллера", TEventCallback::DataEvent},
      {0x23, "EntranceDenied", "Нет доступа - режим охраны", TEventCallback::DataEvent},
      {0x26, "EntranceDenied", "Нет доступа временной профиль", TEventCallback::DataEvent},
      {0x2B, "NotPowered", "Выключено сетевое питание", TEventCallback::ErrorEvent},
      {0x2D, "Discharged", "Разряжен аккумулятор", TEventCallback::ErrorEvent},
      {0x40, "Entrance", "Нормальный вход", TEventCallback::DataEvent},
      {0x41, "Exit", "Нормальный выход", TEventCallback::DataEvent},
  };
  std::set<int> covered;
  for (const Row& row : rows) {
    std::string kind = "stale";
    std::string description = "stale";
    EXPECT_EQ(GetEventKind(row.code, kind, description), *row.kind != '\0') << int(row.code);
    EXPECT_EQ(kind, row.kind) << int(row.code);
    EXPECT_EQ(description, row.description) << int(row.code);
    EXPECT_EQ(EventCallbackOf(row.code), row.callback) << int(row.code);
    EXPECT_TRUE(IsKnownEventCode(row.code)) << int(row.code);
    covered.insert(row.code);
  }
  for (int code = 0; code < 256; ++code) {
    if (covered.count(code) != 0) continue;
    std::string kind = "x";
    std::string description = "y";
    EXPECT_FALSE(GetEventKind(static_cast<std::uint8_t>(code), kind, description)) << code;
    EXPECT_TRUE(kind.empty() && description.empty()) << code;
    EXPECT_EQ(EventCallbackOf(static_cast<std::uint8_t>(code)), TEventCallback::None) << code;
  }
}

TEST(DriverCardText, HexToInt64ReadsUpperCaseDigitsOnly) {
  EXPECT_EQ(HexToInt64(""), 0);
  EXPECT_EQ(HexToInt64("0012AB34"), 1223476);
  EXPECT_EQ(HexToInt64("FFFFFFFF"), 4294967295LL);
  EXPECT_EQ(HexToInt64("0012ab34"), 0);  // lower case is not a digit here
  EXPECT_EQ(HexToInt64("12G4"), 0);
  EXPECT_EQ(HexToInt64("FFFFFFFFFFFFFFFFFF"), -1);  // wraps, never undefined
}

TEST(DriverCardText, TheHostGetsHexOrDecimalByTheSetting) {
  EXPECT_EQ(HostCardText("0012AB34", 0), "0012AB34");
  EXPECT_EQ(HostCardText("", 0), "");
  EXPECT_EQ(HostCardText("0012AB34", 1), "1223476");
  EXPECT_EQ(HostCardText("0012AB34", 2), "1223476");
  EXPECT_EQ(HostCardText("", 1), "0");
  EXPECT_EQ(HostCardText("FFFFFFFF", -1), "4294967295");
}

TEST(DriverCardNumbers, HexadecimalForm) {
  EXPECT_EQ(NormalizeCardNumber("12ab", 0), "000012AB");
  EXPECT_EQ(NormalizeCardNumber("", 0), "00000000");
  EXPECT_EQ(NormalizeCardNumber("123456789A", 0), "3456789A");
  EXPECT_EQ(NormalizeCardNumber("0012AB34", 0), "0012AB34");
  EXPECT_THROW(NormalizeCardNumber("12G4", 0), EConvertError);
  EXPECT_THROW(NormalizeCardNumber(" 12", 0), EConvertError);
  EXPECT_THROW(NormalizeCardNumber("аб", 0), EConvertError);
}

TEST(DriverCardNumbers, DecimalForm) {
  EXPECT_EQ(NormalizeCardNumber("255", 1), "000000FF");
  EXPECT_EQ(NormalizeCardNumber("-1", 1), "FFFFFFFF");
  EXPECT_EQ(NormalizeCardNumber("2147483647", 1), "7FFFFFFF");
  EXPECT_EQ(NormalizeCardNumber("-2147483648", 5), "80000000");
  EXPECT_EQ(NormalizeCardNumber(" \t+42", 1), "0000002A");
  for (const char* bad : {"2147483648", "-2147483649", "", "1A", "$FF", "0x10", "1,5", "- 1", "12 ", "12\t", "12\n"}) {
    EXPECT_THROW(NormalizeCardNumber(bad, 1), EConvertError) << bad;
  }
}

TEST(DriverCardNumbers, IsHexStringTakesUpperCaseOnly) {
  EXPECT_TRUE(IsHexString(""));
  EXPECT_TRUE(IsHexString("0123456789ABCDEF"));
  EXPECT_FALSE(IsHexString("abc"));
  EXPECT_FALSE(IsHexString("12 4"));
}

TEST(DriverCardNumbers, ProfileNumbersAreJudgedByTheirWholeValue) {
  std::uint8_t value = 99;
  EXPECT_TRUE(ParseProfileNumber("0", 0, 15, value));
  EXPECT_EQ(value, 0);
  EXPECT_TRUE(ParseProfileNumber(" 15", 0, 15, value));
  EXPECT_EQ(value, 15);
  for (const char* bad : {"16", "-1", "257", "-255", "", "1,5", "x"}) {
    EXPECT_FALSE(ParseProfileNumber(bad, 0, 15, value)) << bad;
  }
  EXPECT_FALSE(ParseProfileNumber("0", 1, 15, value));
}

}  // namespace
