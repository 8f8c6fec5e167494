// Module file names and version stamps.
//
// A module (the driver library, the host program) carries its four version words in a stamp that
// TAVO_DEFINE_VERSION_STAMP defines: a fixed 16-byte marker followed by major, minor, release and
// build as 16-bit little-endian words. ReadFileVersionWords finds the first stamp in any file.
// The platform library itself carries no stamp (and no copy of the marker).
#pragma once

#include <string>

#include "platform/com.h"
#include "platform/export.h"

// The full path (symbolic links resolved) of the module file that contains the address: a shared
// library, or the program itself. Pass an address inside the module you mean, for example one of
// its own functions; an address inside no module gives "".
TAVO_PLATFORM_API std::string ModuleFileNameOf(const void* addressInsideModule);

// Reads the version stamp of a file into words[0..3] (major, minor, release, build). A file that
// cannot be read or holds no stamp gives four zeros and false.
TAVO_PLATFORM_API bool ReadFileVersionWords(const std::string& path, WORD words[4]);

#define TAVO_VERSION_STAMP_BYTE_(value, shift) static_cast<unsigned char>(((value) >> (shift)) & 0xFF)
#define TAVO_VERSION_STAMP_WORD_(value) TAVO_VERSION_STAMP_BYTE_(value, 0), TAVO_VERSION_STAMP_BYTE_(value, 8)

#if defined(__has_attribute)
#if __has_attribute(retain)
#define TAVO_VERSION_STAMP_KEEP_ __attribute__((used, retain))
#endif
#endif
#ifndef TAVO_VERSION_STAMP_KEEP_
#define TAVO_VERSION_STAMP_KEEP_ __attribute__((used))
#endif

// Expand once, at namespace scope, in one source file of the module to be stamped.
#define TAVO_DEFINE_VERSION_STAMP(major, minor, release, build)                                    \
  namespace {                                                                                      \
  TAVO_VERSION_STAMP_KEEP_ const volatile unsigned char tavoVersionStamp[24] = {                   \
      0xD7, 0x54, 0x61, 0x76, 0x6F, 0x56, 0x65, 0x72, 0x53, 0x74, 0x61, 0x6D, 0x70, 0x19, 0x84, 0x5C, \
      TAVO_VERSION_STAMP_WORD_(major), TAVO_VERSION_STAMP_WORD_(minor),                            \
      TAVO_VERSION_STAMP_WORD_(release), TAVO_VERSION_STAMP_WORD_(build)};                         \
  }                                                                                                \
  static_assert(true, "")
