// OLE Automation data as it crosses the boundary between a host program and the driver library:
// BSTR (length-prefixed UTF-16), VARIANT, SAFEARRAY, DISPPARAMS and EXCEPINFO, with the routines
// that allocate, copy, convert and free them. Both sides link this one shared library, so memory
// allocated by one side is freed correctly by the other.
//
// SAFEARRAY layout here: bounds are kept in dimension order (rgsabound[0] is dimension 1), and the
// data is stored with the first index varying fastest. Callers use the routines, never the layout.
#pragma once

#include <cstdint>

#include "platform/com.h"
#include "platform/export.h"

using BSTR = OLECHAR*;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using DATE = double;  // days since 30 December 1899; the fraction is the time of day
using USHORT = std::uint16_t;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

struct CY {
  std::int64_t int64;  // the amount scaled by 10 000
};

struct DECIMAL {
  BYTE scale;
  BYTE sign;
  ULONG Hi32;
  std::uint64_t Lo64;
};

constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_NULL = 1;
constexpr VARTYPE VT_I2 = 2;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_R4 = 4;
constexpr VARTYPE VT_R8 = 5;
constexpr VARTYPE VT_CY = 6;
constexpr VARTYPE VT_DATE = 7;
constexpr VARTYPE VT_BSTR = 8;
constexpr VARTYPE VT_DISPATCH = 9;
constexpr VARTYPE VT_ERROR = 10;
constexpr VARTYPE VT_BOOL = 11;
constexpr VARTYPE VT_VARIANT = 12;
constexpr VARTYPE VT_UNKNOWN = 13;
constexpr VARTYPE VT_DECIMAL = 14;
constexpr VARTYPE VT_I1 = 16;
constexpr VARTYPE VT_UI1 = 17;
constexpr VARTYPE VT_UI2 = 18;
constexpr VARTYPE VT_UI4 = 19;
constexpr VARTYPE VT_I8 = 20;
constexpr VARTYPE VT_UI8 = 21;
constexpr VARTYPE VT_INT = 22;
constexpr VARTYPE VT_UINT = 23;
constexpr VARTYPE VT_ARRAY = 0x2000;
constexpr VARTYPE VT_BYREF = 0x4000;
constexpr VARTYPE VT_TYPEMASK = 0x0FFF;

struct SAFEARRAY;

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    std::int64_t llVal;
    LONG lVal;
    BYTE bVal;
    std::int16_t iVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    CY cyVal;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    std::int8_t cVal;
    USHORT uiVal;
    ULONG ulVal;
    std::uint64_t ullVal;
    DECIMAL decVal;
    BYTE* pbVal;
    std::int16_t* piVal;
    LONG* plVal;
    std::int64_t* pllVal;
    float* pfltVal;
    double* pdblVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    CY* pcyVal;
    DATE* pdate;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    SAFEARRAY** pparray;
    VARIANT* pvarVal;
    std::int8_t* pcVal;
    USHORT* puiVal;
    ULONG* pulVal;
    std::uint64_t* pullVal;
    DECIMAL* pdecVal;
    void* byref;
  };
};
using VARIANTARG = VARIANT;

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

constexpr USHORT FADF_BSTR = 0x0100;
constexpr USHORT FADF_UNKNOWN = 0x0200;
constexpr USHORT FADF_DISPATCH = 0x0400;
constexpr USHORT FADF_VARIANT = 0x0800;

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  VARTYPE vt;  // element type
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];  // cDims entries, dimension 1 first
};

struct DISPPARAMS {
  VARIANTARG* rgvarg;  // arguments in reverse order: rgvarg[cArgs - 1] is the first
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

// Flags of VariantChangeType.
constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
constexpr USHORT VARIANT_ALPHABOOL = 0x02;

// --- BSTR -------------------------------------------------------------------------------------
// NULL is a valid BSTR and means the empty string. Embedded NULs are kept; the length prefix rules.
TAVO_PLATFORM_API BSTR SysAllocString(const OLECHAR* text);
TAVO_PLATFORM_API BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
TAVO_PLATFORM_API BOOL SysReAllocStringLen(BSTR* bstr, const OLECHAR* text, UINT length);
TAVO_PLATFORM_API void SysFreeString(BSTR bstr);
TAVO_PLATFORM_API UINT SysStringLen(BSTR bstr);
TAVO_PLATFORM_API UINT SysStringByteLen(BSTR bstr);

// --- VARIANT ----------------------------------------------------------------------------------
TAVO_PLATFORM_API void VariantInit(VARIANT* v);
// Frees what the variant owns (string, array, interface reference; nothing for VT_BYREF) and
// leaves it VT_EMPTY. DISP_E_BADVARTYPE for a type code it does not know.
TAVO_PLATFORM_API HRESULT VariantClear(VARIANT* v);
// Deep copy: strings and arrays are duplicated, interfaces get a reference. A by-reference source
// is copied as the reference itself.
TAVO_PLATFORM_API HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Like VariantCopy, but a by-reference source is copied as the value it points to.
TAVO_PLATFORM_API HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src);
// Converts src to type vt (after following references) into dest (dest may equal src).
// DISP_E_TYPEMISMATCH when no conversion exists, DISP_E_OVERFLOW when the value does not fit;
// dest is untouched on failure. Text is parsed and formatted by the locale profile (see
// locale_profile.h). The rules in detail:
//  - Empty gives 0, the empty text, False (and a null interface); Null converts only to Null.
//  - Reals and currency become integers rounded half to even; dates their day number (the
//    integer part); Booleans -1 (all bits set in the unsigned types) and 0.
//  - Text to number: a decimal integer, else a real with a decimal comma or point; text to
//    Boolean: "True"/"False" in any letter case, else a number (0 is False); text to date:
//    locale_profile::TryParseDate.
//  - To text: integers, currency and decimals in plain decimal (no grouping, decimal comma);
//    8-byte reals by locale_profile::FormatFloat, 4-byte reals with 7 significant digits; dates by
//    locale_profile::FormatDate; Booleans "True"/"False" whatever the flags.
//  - Dates are valid from 1 January 100 to 31 December 9999 (DISP_E_OVERFLOW outside).
//  - Arrays convert only to their own type (a deep copy); interfaces only to VT_DISPATCH or
//    VT_UNKNOWN (through QueryInterface); VT_ERROR to nothing else.
TAVO_PLATFORM_API HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags,
                                            VARTYPE vt);

// --- SAFEARRAY --------------------------------------------------------------------------------
TAVO_PLATFORM_API SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, const SAFEARRAYBOUND* bounds);
TAVO_PLATFORM_API SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements);
// Clears every element (strings, variants, interfaces) and frees the array.
TAVO_PLATFORM_API HRESULT SafeArrayDestroy(SAFEARRAY* psa);
TAVO_PLATFORM_API HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** out);
TAVO_PLATFORM_API UINT SafeArrayGetDim(SAFEARRAY* psa);
TAVO_PLATFORM_API UINT SafeArrayGetElemsize(SAFEARRAY* psa);
TAVO_PLATFORM_API HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* vt);
// dim counts from 1. DISP_E_BADINDEX for a dimension that does not exist.
TAVO_PLATFORM_API HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT dim, LONG* bound);
TAVO_PLATFORM_API HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT dim, LONG* bound);
// indices holds one index per dimension, dimension 1 first. DISP_E_BADINDEX outside the bounds.
// Get copies the element out (a deep copy for strings and variants); Put copies the value in and
// releases what the element held.
//  - VT_VARIANT arrays: out/in point to a VARIANT; Get clears *out first (it must be initialised).
//  - VT_BSTR arrays: Get writes a new copy into *(BSTR*)out (the caller frees it); Put takes the
//    BSTR itself as in (not a pointer to it) and stores a copy.
//  - VT_DISPATCH / VT_UNKNOWN arrays: Get writes the pointer into *(IUnknown**)out with a reference
//    added; Put takes the interface pointer itself as in and adds a reference.
//  - other element types: out/in point to the value, cbElements bytes.
TAVO_PLATFORM_API HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* indices, void* out);
TAVO_PLATFORM_API HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* indices, const void* in);
TAVO_PLATFORM_API HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, const LONG* indices, void** element);
TAVO_PLATFORM_API HRESULT SafeArrayLock(SAFEARRAY* psa);
TAVO_PLATFORM_API HRESULT SafeArrayUnlock(SAFEARRAY* psa);

// --- EXCEPINFO --------------------------------------------------------------------------------
// Frees the strings an EXCEPINFO holds and zeroes it.
TAVO_PLATFORM_API void ClearExcepInfo(EXCEPINFO* info);
