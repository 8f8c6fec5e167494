// The exception classes of this system. Every one carries a message and a class name; the class
// name travels to the host as the source of a dispatch exception and into the debug log.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

#include "platform/export.h"

class TAVO_PLATFORM_API Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  virtual const char* ClassName() const noexcept { return "Exception"; }
};

#define TAVO_DECLARE_EXCEPTION(Name, Base)                                  \
  class TAVO_PLATFORM_API Name : public Base {                              \
   public:                                                                  \
    using Base::Base;                                                       \
    const char* ClassName() const noexcept override { return #Name; }       \
  }

// A text or value that cannot be converted (numbers, dates, Booleans).
TAVO_DECLARE_EXCEPTION(EConvertError, Exception);
// A variant operation that failed: a type that cannot be converted, a bad array index.
TAVO_DECLARE_EXCEPTION(EVariantError, Exception);
TAVO_DECLARE_EXCEPTION(EVariantTypeCastError, EVariantError);
TAVO_DECLARE_EXCEPTION(EVariantBadIndexError, EVariantError);
TAVO_DECLARE_EXCEPTION(EVariantOverflowError, EVariantError);
// File input and output.
TAVO_DECLARE_EXCEPTION(EInOutError, Exception);
// A failed operating-system call; the message is the system's text.
TAVO_DECLARE_EXCEPTION(EOSError, Exception);
// A call on another object's IDispatch that it refused or that raised there.
TAVO_DECLARE_EXCEPTION(EOleException, Exception);
TAVO_DECLARE_EXCEPTION(EOleSysError, Exception);
// XML text that cannot be parsed.
TAVO_DECLARE_EXCEPTION(EDOMParseError, Exception);

// The class name of any exception: ClassName() for ours, the demangled type name for others.
TAVO_PLATFORM_API std::string ExceptionClassName(const std::exception& e);
