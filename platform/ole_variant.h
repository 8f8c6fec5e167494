// OleVariant: an owning C++ value around a VARIANT, with the ordinary variant conversions that the
// framework and the driver use (Empty reads as 0, False or the empty text; Null and texts that do
// not convert raise EVariantTypeCastError or EConvertError; numbers that do not fit raise
// EVariantOverflowError) and the variant-array operations.
//
// Conversion rules (the "standard variant conversions" of this system):
//  - to integer: integers and Booleans (True = -1) as they are; reals rounded half to even;
//    dates as their day number; text parsed as a decimal integer with optional blanks and sign,
//    else as a real (locale_profile) and rounded; Empty 0; anything else fails.
//  - to Boolean: numbers (0 False, else True); text "True"/"False" in any letter case or a number;
//    Empty False; anything else (the empty text included) fails.
//  - to double: numbers, dates, Booleans (-1/0), text via locale_profile::TryParseFloat.
//  - to date: dates and numbers as they are; text via locale_profile::TryParseDate.
//  - to text: integers in decimal, reals by locale_profile::FormatFloat, dates by
//    locale_profile::FormatDate, Booleans "True"/"False", Empty and Null the empty text; arrays,
//    interfaces, errors fail.
// Every conversion follows by-reference values first.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com.h"
#include "platform/date_time.h"
#include "platform/export.h"
#include "platform/oleauto.h"

class TAVO_PLATFORM_API OleVariant {
 public:
  OleVariant() noexcept { VariantInit(&v_); }
  OleVariant(const OleVariant& other);
  OleVariant(OleVariant&& other) noexcept;
  OleVariant& operator=(const OleVariant& other);
  OleVariant& operator=(OleVariant&& other) noexcept;
  ~OleVariant();

  // Deep copy of a raw VARIANT (by-reference values stay references; see CopyInd).
  explicit OleVariant(const VARIANT& raw);
  OleVariant(std::int32_t value);  // VT_I4
  OleVariant(bool value);          // VT_BOOL
  OleVariant(double value);        // VT_R8
  OleVariant(std::string_view utf8);  // VT_BSTR
  OleVariant(const char* utf8);       // VT_BSTR
  OleVariant(const std::string& utf8);  // VT_BSTR

  static OleVariant FromDate(TDateTime value);           // VT_DATE
  static OleVariant FromI2(std::int16_t value);          // VT_I2
  static OleVariant FromInt64(std::int64_t value);       // VT_I8
  static OleVariant Null();                              // VT_NULL
  static OleVariant FromDispatch(IDispatch* dispatch);   // VT_DISPATCH, adds a reference
  static OleVariant FromBstr(std::u16string_view utf16);  // VT_BSTR
  // Copies the value a by-reference chain leads to (VariantCopyInd).
  static OleVariant CopyInd(const VARIANT& raw);
  // Takes ownership of raw's content and leaves raw VT_EMPTY.
  static OleVariant Attach(VARIANT& raw) noexcept;

  // A variant array: one (low, high) pair per dimension; elements start Empty (or zero).
  static OleVariant VarArrayCreate(std::initializer_list<std::pair<LONG, LONG>> bounds,
                                   VARTYPE elementType = VT_VARIANT);
  static OleVariant VarArrayCreate(const std::vector<std::pair<LONG, LONG>>& bounds,
                                   VARTYPE elementType = VT_VARIANT);
  // A one-dimensional VARIANT array [0..n-1] of the given values.
  static OleVariant VarArrayOf(std::initializer_list<OleVariant> values);
  static OleVariant VarArrayOf(const std::vector<OleVariant>& values);

  const VARIANT& Raw() const noexcept { return v_; }
  VARIANT& Raw() noexcept { return v_; }
  // Hands the content to the caller (who must VariantClear it) and becomes Empty.
  VARIANT Detach() noexcept;
  void Clear() noexcept;

  VARTYPE Type() const noexcept { return v_.vt; }
  // The type after following by-reference VARIANT links (a VT_BYREF|VT_I4 stays so).
  VARTYPE DerefType() const noexcept;
  // The VARIANT reached by following VT_VARIANT|VT_BYREF links.
  const VARIANT& Deref() const noexcept;
  bool IsEmpty() const noexcept;  // after following references
  bool IsNull() const noexcept;
  bool IsArray() const noexcept;

  std::int32_t AsInteger() const;
  std::int64_t AsInt64() const;
  bool AsBoolean() const;
  double AsDouble() const;
  TDateTime AsDate() const;
  std::string AsString() const;
  std::u16string AsUtf16() const;
  // The value converted by the standard rules into a variant of type vt; raises as the readers
  // above do (EVariantOverflowError for a value out of vt's range).
  OleVariant ChangedTo(VARTYPE vt) const;
  // The interface of a VT_DISPATCH (or VT_UNKNOWN answering IDispatch), no reference added;
  // nullptr otherwise.
  IDispatch* AsDispatch() const noexcept;

  // Variant arrays (after following references). Dimensions count from 1.
  SAFEARRAY* Array() const noexcept;
  int DimCount() const noexcept;  // 0 when not an array
  LONG LowBound(int dim) const;   // EVariantBadIndexError for a missing dimension
  LONG HighBound(int dim) const;
  // Element at the given indices (one per dimension, dimension 1 first); throws
  // EVariantBadIndexError outside the bounds or with the wrong number of indices.
  OleVariant GetElement(std::initializer_list<LONG> indices) const;
  OleVariant GetElement(const std::vector<LONG>& indices) const;
  void PutElement(std::initializer_list<LONG> indices, const OleVariant& value);
  void PutElement(const std::vector<LONG>& indices, const OleVariant& value);

  // The name of a variant type code for messages: "Empty", "Null", "Integer", "String" ...
  static std::string TypeName(VARTYPE vt);

 private:
  VARIANT v_;
};

// Equality of simple values (same converted type and value); arrays compare element by element.
TAVO_PLATFORM_API bool VariantsEqual(const VARIANT& a, const VARIANT& b);
