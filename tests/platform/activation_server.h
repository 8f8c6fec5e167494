// The tiny in-process server that the activation and module tests load.
#pragma once

#include "platform/com_object.h"

// {5D0C8F11-3C55-4B2E-9A43-0E7D21B6C901}
inline constexpr CLSID kTestServerClsid = {0x5D0C8F11, 0x3C55, 0x4B2E, {0x9A, 0x43, 0x0E, 0x7D, 0x21, 0xB6, 0xC9, 0x01}};
// {8E3A4D20-7F61-4C0B-B2D5-93A1C4E5F602}
inline constexpr IID kTestObjectIid = {0x8E3A4D20, 0x7F61, 0x4C0B, {0xB2, 0xD5, 0x93, 0xA1, 0xC4, 0xE5, 0xF6, 0x02}};
inline constexpr const char* kTestServerProgId = "TavoTest.ActivationServer";

struct ITestObject : IUnknown {
  virtual int Answer() = 0;

 protected:
  ~ITestObject() = default;
};
template <>
inline const IID& InterfaceIdOf<ITestObject>() { return kTestObjectIid; }

// Version words that the server library is stamped with.
inline constexpr WORD kTestServerVersion[4] = {3, 14, 15, 92};

extern "C" {
using TestServerCountFn = long (*)();  // "TestServerLiveObjects": objects alive now
using TestServerAddressFn = const void* (*)();  // "TestServerAddress": an address inside the server
}
