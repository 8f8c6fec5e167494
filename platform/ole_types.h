// What the BSTR, VARIANT, conversion and SAFEARRAY routines of the platform library share: one
// table of facts per variant type code, and the few routines that more than one of them needs.
// Private to the platform library; callers include platform/oleauto.h.
#pragma once

#include <cstdint>
#include <iterator>

#include "platform/oleauto.h"

// Hidden: calls between the files of the library stay direct.
#pragma GCC visibility push(hidden)
namespace ole_types {

// How a stored value of a type is held, which decides how it is copied and freed.
enum class Holding : std::uint8_t {
  Plain,      // bits only: copied as they are, nothing to free
  Bstr,       // a BSTR: duplicated, freed
  Interface,  // an interface pointer: a reference added, released
  Variant,    // a VARIANT (array elements and references only)
};

// The family of a value for the conversions.
enum class Kind : std::uint8_t { Empty, Null, Int, Real, Date, Cy, Dec, Bool, Text, Interface, Other };

struct TypeFacts {
  const char* name;  // for messages; nullptr for a code that names no type
  ULONG size;        // one value as an array element or behind a reference; 0: not storable so
  Holding holding;
  Kind kind;
  bool isSigned;    // integers: the range is signed
  USHORT features;  // the FADF_ flags of an array of this type
};

inline constexpr TypeFacts kNoType{nullptr, 0, Holding::Plain, Kind::Other, false, 0};

constexpr TypeFacts PlainType(const char* name, ULONG size, Kind kind, bool isSigned = false) {
  return {name, size, Holding::Plain, kind, isSigned, 0};
}

// Indexed by the type code.
inline constexpr TypeFacts kFacts[] = {
    /* VT_EMPTY    */ PlainType("Empty", 0, Kind::Empty),
    /* VT_NULL     */ PlainType("Null", 0, Kind::Null),
    /* VT_I2       */ PlainType("Smallint", 2, Kind::Int, true),
    /* VT_I4       */ PlainType("Integer", 4, Kind::Int, true),
    /* VT_R4       */ PlainType("Single", 4, Kind::Real),
    /* VT_R8       */ PlainType("Double", 8, Kind::Real),
    /* VT_CY       */ PlainType("Currency", 8, Kind::Cy),
    /* VT_DATE     */ PlainType("Date", 8, Kind::Date),
    /* VT_BSTR     */ {"String", sizeof(BSTR), Holding::Bstr, Kind::Text, false, FADF_BSTR},
    /* VT_DISPATCH */
    {"Dispatch", sizeof(void*), Holding::Interface, Kind::Interface, false, FADF_DISPATCH},
    /* VT_ERROR    */ PlainType("Error", 4, Kind::Other),
    /* VT_BOOL     */ PlainType("Boolean", 2, Kind::Bool),
    /* VT_VARIANT  */ {"Variant", sizeof(VARIANT), Holding::Variant, Kind::Other, false, FADF_VARIANT},
    /* VT_UNKNOWN  */
    {"Unknown", sizeof(void*), Holding::Interface, Kind::Interface, false, FADF_UNKNOWN},
    /* VT_DECIMAL  */ PlainType("Decimal", sizeof(DECIMAL), Kind::Dec),
    /* 15          */ kNoType,
    /* VT_I1       */ PlainType("ShortInt", 1, Kind::Int, true),
    /* VT_UI1      */ PlainType("Byte", 1, Kind::Int),
    /* VT_UI2      */ PlainType("Word", 2, Kind::Int),
    /* VT_UI4      */ PlainType("LongWord", 4, Kind::Int),
    /* VT_I8       */ PlainType("Int64", 8, Kind::Int, true),
    /* VT_UI8      */ PlainType("UInt64", 8, Kind::Int),
    /* VT_INT      */ PlainType("Int", 4, Kind::Int, true),
    /* VT_UINT     */ PlainType("UInt", 4, Kind::Int),
};
static_assert(std::size(kFacts) == VT_UINT + 1);

// The facts of a type code; a code with flags or one that names no type gets the facts of
// nothing (null name, size 0, Kind::Other).
inline const TypeFacts& Facts(VARTYPE vt) noexcept {
  return vt < std::size(kFacts) ? kFacts[vt] : kNoType;
}

// A type code a VARIANT may carry: a base type, alone or with VT_ARRAY and/or VT_BYREF.
inline bool IsValidVarType(VARTYPE vt) noexcept {
  const VARTYPE base = vt & VT_TYPEMASK;
  const VARTYPE flags = vt & static_cast<VARTYPE>(~VT_TYPEMASK);
  if ((flags & ~(VT_ARRAY | VT_BYREF)) != 0) return false;
  const ULONG size = Facts(base).size;
  if (flags != 0) return size != 0;
  return base == VT_EMPTY || base == VT_NULL || (base != VT_VARIANT && size != 0);
}

inline bool IsInterface(VARTYPE vt) noexcept { return Facts(vt).holding == Holding::Interface; }

// The union of a VARIANT as raw storage (DECIMAL is its largest member and starts it).
inline void* Payload(VARIANT& v) noexcept { return &v.decVal; }
inline const void* Payload(const VARIANT& v) noexcept { return &v.decVal; }

// A new copy of a BSTR (NULL for NULL; NULL too when memory runs out).
BSTR DuplicateBstr(BSTR bstr);

// Stores at `to`, which owns nothing, a copy of the value of type vt stored at `from`.
HRESULT CopyStored(VARTYPE vt, const void* from, void* to);
// Frees what the value of type vt stored at `slot` owns and leaves the slot zeroed.
void ReleaseStored(VARTYPE vt, void* slot) noexcept;

// Makes out (uninitialised) an owning deep copy of src; by-reference values are copied as the
// reference. out is VT_EMPTY on failure.
HRESULT CopyValue(VARIANT& out, const VARIANT& src);

// A VARIANT that shows, without owning it, the value that src leads to through references.
HRESULT ResolveView(const VARIANT& src, VARIANT& view);

// Converts the (non-reference) value view to type vt into out (VT_EMPTY on entry).
HRESULT Convert(const VARIANT& view, VARTYPE vt, VARIANT& out);

}  // namespace ole_types
#pragma GCC visibility pop
