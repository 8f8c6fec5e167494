#include "framework/equipment_errors.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

const int kAllCodes[] = {0,    70,   74,   201,  1001, 1002, 1003,  1004,  1005,  1006,  1007,
                         1008, 1009, 1010, 1011, 1012, 1013, 1014,  1015,  1016,  1017,  2001,
                         3001, 3002, 3003, 3004, 3005, 3006, 3007,  3008,  3009,  3010,  3011,
                         3012, 3013, 4001, 4002, 4003, 4004, 4005,  4006,  4007,  4008,  6001,
                         7001, 8001, 11001, 12001, 13001, 14001, 14002, 14003, 15001};

TEST(ErrorText, GivesTheFixedTextsVerbatim) {
  EXPECT_EQ(ErrorText(0), "Нет ошибок");
  EXPECT_EQ(ErrorText(74), "Истек таймаут ожидания");
  EXPECT_EQ(ErrorText(201), "Операция отменена пользователем");
  EXPECT_EQ(ErrorText(1001), "Неизвестная ошибка");
  EXPECT_EQ(ErrorText(1003), "Команда не поддерживаеся устройством");
  EXPECT_EQ(ErrorText(1004), "Ошибка входных параметров команды");
  EXPECT_EQ(ErrorText(1007), "Устройство не отвечает");
  EXPECT_EQ(ErrorText(1008), "Оборудование не готово");
  EXPECT_EQ(ErrorText(1009), "Устройство занято");
  EXPECT_EQ(ErrorText(1014), "Ошибка протокола обмена");
  EXPECT_EQ(ErrorText(11001), "Список контроллеров пуст");
  EXPECT_EQ(HostUnavailableText(), "Менеджер оборудования недоступен");
}

TEST(ErrorText, OverrideWinsWhateverTheCode) {
  EXPECT_EQ(ErrorText(1004, "своя причина"), "своя причина");
  EXPECT_EQ(ErrorText(0, "x"), "x");
  EXPECT_EQ(ErrorText(-7, "y"), "y");
}

TEST(ErrorText, CodesOutsideTheTableGiveTheUnknownText) {
  for (int code : {2, 1000, 1018, 4501, -1, 15002, 11000}) {
    EXPECT_EQ(ErrorText(code), "Неизвестная ошибка") << code;
  }
}

TEST(ErrorText, EveryCodeOfTheTableHasATextOfItsOwn) {
  std::set<std::string> texts;
  for (int code : kAllCodes) {
    std::string text = ErrorText(code);
    EXPECT_FALSE(text.empty()) << code;
    if (code != 1001) {
      EXPECT_NE(text, ErrorText(1001)) << code;
    }
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), std::size(kAllCodes));
  EXPECT_EQ(std::size(kAllCodes), 53u);
}

}  // namespace
