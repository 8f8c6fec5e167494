#include "driver/morvik_common.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <stdexcept>

#include "framework/equipment_errors.h"
#include "platform/exceptions.h"

namespace {

TEST(EventCodes, ExactlyTheSeventeenKnownCodes) {
  const std::set<int> known = {1, 2, 4, 12, 13, 15, 16, 18, 20, 33, 34, 35, 38, 43, 45, 64, 65};
  for (int code = 0; code < 256; ++code) {
    EXPECT_EQ(IsKnownEventCode(static_cast<std::uint8_t>(code)), known.count(code) == 1) << code;
  }
}

TEST(DriverErrorText, OwnCodesIgnoreTheGivenText) {
  EXPECT_EQ(GetErrorText(4501, "x"), "Контроллер отсутствует в списке");
  EXPECT_EQ(GetErrorText(4502), "Ошибка создания таблицы транзакций");
  EXPECT_EQ(GetErrorText(4503), "Номер временного профиля должен быть числом в диапазоне 1 - 15");
  EXPECT_EQ(GetErrorText(4504), "Неверный номер карты");
  EXPECT_EQ(GetErrorText(4505, "Сервер не отвечает"), "Ошибка соединения");
  EXPECT_EQ(GetErrorText(4506, "x"), "Неизвестная ошибка");
  EXPECT_EQ(GetErrorText(2147483647), "Неизвестная ошибка");
}

TEST(DriverErrorText, CommonCodesPreferTheGivenText) {
  std::string text = "stale";
  GetErrorText(1009, "Сервер не отвечает", text);
  EXPECT_EQ(text, "Сервер не отвечает");
  GetErrorText(1009, "", text);
  EXPECT_EQ(text, ErrorText(1009));
  EXPECT_FALSE(text.empty());
}

TEST(IPToHexTest, AlwaysEightDigitsFirstPartFirst) {
  EXPECT_EQ(IPToHex("192.168.1.10"), "C0A8010A");
  EXPECT_EQ(IPToHex("10.0.0.1"), "0A000001");
  EXPECT_EQ(IPToHex("1.2.3.255"), "010203FF");
  EXPECT_EQ(IPToHex("0.0.0.0"), "00000000");
  EXPECT_EQ(IPToHex("127.0.0.1"), "7F000001");
}

TEST(IPToHexTest, PlatformParseRules) {
  EXPECT_EQ(IPToHex("010.0.0.1"), "08000001");  // leading zero: octal
  EXPECT_EQ(IPToHex("1.2"), "01000002");        // fewer parts
  EXPECT_EQ(IPToHex(""), "FFFFFFFF");
  EXPECT_EQ(IPToHex("controller"), "FFFFFFFF");
  EXPECT_EQ(IPToHex("1.2.3.256"), "FFFFFFFF");
}

TEST(EventDate, InverseOfTheJournalForm) {
  DateTimeParts parts;
  parts.year = 2024;
  parts.month = 2;
  parts.day = 29;
  parts.hour = 23;
  parts.minute = 5;
  parts.second = 7;
  const TDateTime value = EncodeDateTime(parts);
  EXPECT_EQ(EventDateToStr(value), "20240229230507");
  EXPECT_DOUBLE_EQ(StrToEventDate("20240229230507"), value);
  EXPECT_EQ(EventDateToStr(StrToEventDate("19991231000000")), "19991231000000");
}

TEST(EventDate, BadTextsRaiseConversionErrors) {
  EXPECT_THROW(StrToEventDate("2024022923050"), EConvertError);  // 13 characters
  EXPECT_THROW(StrToEventDate(""), EConvertError);
  EXPECT_THROW(StrToEventDate("2024O229230507"), EConvertError);  // letter O
  EXPECT_THROW(StrToEventDate("2024-2292305 7"), EConvertError);
  EXPECT_THROW(StrToEventDate("20230229230507"), EConvertError);  // no 29 February
  EXPECT_THROW(StrToEventDate("20241301000000"), EConvertError);
  EXPECT_THROW(StrToEventDate("20240101240000"), EConvertError);
}

class MessagePump : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = AllocateHWnd([this](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
      seen_.push_back(message);
      if (message == WM_USER + 7 && wParam == 1) throw std::runtime_error("handler failed");
      if (message == WM_USER + 8 && repost_-- > 0) PostMessage(window_, WM_USER + 8, 0, 0);
      return 0;
    });
  }
  void TearDown() override {
    DeallocateHWnd(window_);
    MSG drain{};
    while (PeekMessage(&drain, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  HWND window_ = nullptr;
  std::vector<UINT> seen_;
  int repost_ = 0;
};

TEST_F(MessagePump, HandlesEverythingIncludingQuitAndFailingHandlers) {
  PostMessage(window_, WM_USER + 7, 1, 0);  // its handler raises
  PostQuitMessage(0);
  PostMessage(window_, WM_USER + 9, 0, 0);
  repost_ = 3;
  PostMessage(window_, WM_USER + 8, 0, 0);  // posts itself again three times
  ProcessMessages();
  const std::vector<UINT> expected = {WM_USER + 7, WM_USER + 9, WM_USER + 8, WM_USER + 8,
                                      WM_USER + 8, WM_USER + 8};
  EXPECT_EQ(seen_, expected);
  MSG msg{};
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));  // the quit message went too
  EXPECT_FALSE(ProcessOneMessage(msg));
}

TEST_F(MessagePump, DelayWaitsAndKeepsPumping) {
  const std::uint64_t start = GetTickCount64();
  Delay(0);
  EXPECT_LT(GetTickCount64() - start, 1000u);
  SetTimer(window_, 5, 10);
  const std::uint64_t before = GetTickCount64();
  Delay(120);
  const std::uint64_t waited = GetTickCount64() - before;
  KillTimer(window_, 5);
  EXPECT_GE(waited, 120u);
  EXPECT_LT(waited, 2000u);
  EXPECT_GE(std::count(seen_.begin(), seen_.end(), WM_TIMER), 2);
}

// Registers an extra pump for one test and removes it again however the test ends.
class ExtraPumpScope {
 public:
  explicit ExtraPumpScope(TExtraMessagePump pump) { previous_ = SetExtraMessagePump(std::move(pump)); }
  ~ExtraPumpScope() { SetExtraMessagePump(std::move(previous_)); }

 private:
  TExtraMessagePump previous_;
};

TEST_F(MessagePump, ExtraPumpRunsOncePerPassAfterTheQueueIsDrained) {
  ExtraPumpScope scope([this] { seen_.push_back(WM_NULL); });
  PostMessage(window_, WM_USER + 9, 0, 0);
  repost_ = 2;
  PostMessage(window_, WM_USER + 8, 0, 0);  // posted again while pumping: still before the hook
  ProcessMessages();
  EXPECT_EQ(seen_, (std::vector<UINT>{WM_USER + 9, WM_USER + 8, WM_USER + 8, WM_USER + 8, WM_NULL}));
  seen_.clear();
  ProcessMessages();  // an empty queue still gives the toolkit its turn
  EXPECT_EQ(seen_, (std::vector<UINT>{WM_NULL}));
}

TEST_F(MessagePump, ExtraPumpErrorsAreDroppedAndTheWaitGoesOn) {
  int calls = 0;
  ExtraPumpScope scope([&calls] {
    ++calls;
    throw std::runtime_error("toolkit failed");
  });
  PostMessage(window_, WM_USER + 9, 0, 0);
  EXPECT_NO_THROW(ProcessMessages());
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seen_, (std::vector<UINT>{WM_USER + 9}));
  EXPECT_NO_THROW(ProcessMessages());
  EXPECT_EQ(calls, 2);
}

TEST_F(MessagePump, DelayRunsTheExtraPumpAndTheNextPassHandlesWhatItPosts) {
  int calls = 0;
  ExtraPumpScope scope([&] {
    if (calls++ == 0) PostMessage(window_, WM_USER + 9, 0, 0);  // as a toolkit's event might
  });
  ProcessMessages();
  EXPECT_TRUE(seen_.empty());
  ProcessMessages();
  EXPECT_EQ(seen_, (std::vector<UINT>{WM_USER + 9}));
  calls = 0;
  Delay(200);
  EXPECT_GE(calls, 1);
}

TEST_F(MessagePump, ExtraPumpCanBeReplacedAndRemoved) {
  int first = 0, second = 0;
  EXPECT_FALSE(SetExtraMessagePump([&first] { ++first; }));
  ProcessMessages();
  TExtraMessagePump previous = SetExtraMessagePump([&second] { ++second; });
  ASSERT_TRUE(previous);
  ProcessMessages();
  previous();  // the answer is the hook that was registered
  EXPECT_EQ(first, 2);
  EXPECT_EQ(second, 1);
  EXPECT_TRUE(SetExtraMessagePump(nullptr));
  ProcessMessages();
  EXPECT_EQ(first + second, 3);
  EXPECT_FALSE(SetExtraMessagePump(nullptr));
}

}  // namespace
