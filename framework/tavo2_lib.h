// Host-interface records and value routines: the method and settings records, reading and writing
// the variants, variant arrays and SAFEARRAYs that the host passes, the [code, text] error array,
// names, folders, the module's own file and version, and the text form of variants for the log.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com.h"
#include "platform/ole_variant.h"
#include "platform/oleauto.h"

// A list of texts (controller identifiers, card numbers) as the host hands them over.
using TStringList = std::vector<std::string>;

// --- Method table ------------------------------------------------------------------------------
// A function-kind handler: InData, OutData (both in and out), the time-out and the error text
// (enters empty); answers the error code, 0 for success.
using TFunctionHandler =
    std::function<std::int32_t(OleVariant& InData, OleVariant& OutData, std::int32_t Timeout,
                               std::string& ErrText)>;
// A procedure-kind handler: the whole argument array (element 0 = the host's first argument),
// read and written by the handler itself, and the method's value.
using TProcedureHandler = std::function<void(SAFEARRAY* Args, OleVariant& Result)>;

struct TMethodRec {
  std::string Name;  // at most 255 characters
  bool IsFunction = false;
  TFunctionHandler Function;    // set for function kind
  TProcedureHandler Procedure;  // set for procedure kind
  bool HasHandler() const { return IsFunction ? bool(Function) : bool(Procedure); }
};
using TMethodArray = std::vector<TMethodRec>;

// --- Settings ----------------------------------------------------------------------------------
enum TSettingType : std::uint8_t { stNumber = 0, stString = 1, stDate = 2, stBoolean = 3 };

struct TSettingStruct {
  std::string Name;  // at most 255 characters; compared without regard to case
  OleVariant Value;
  std::uint8_t SettingType = stNumber;
  OleVariant DefaultValue;
  bool Flag = false;
  std::string Caption;  // at most 255 characters
  std::string Description;
};
using TSettingArray = std::vector<TSettingStruct>;

struct TShortSettingStruct {
  std::string Name;
  OleVariant Value;
};
using TShortSettingArray = std::vector<TShortSettingStruct>;

// The text limit of the framework's short strings, in characters.
constexpr std::size_t kShortStringLength = 255;
std::string ShortString(std::string_view text);

// Name equality of methods and settings: case ignored, full lengths.
bool SameName(std::string_view a, std::string_view b);

// --- Host values -------------------------------------------------------------------------------
// The ordinal variant types that a time-out or a load mode may have: VT_I1, VT_I2, VT_I4, VT_I8,
// VT_UI1, VT_UI2, VT_UI4 and VT_BOOL (no flags).
bool IsOrdinalVarType(VARTYPE vt) noexcept;

// The VARIANT reached by following VT_VARIANT|VT_BYREF links; nullptr when a link is null (or the
// chain does not end), which readers take as Empty.
const VARIANT* FollowVariantLinks(const VARIANT& v) noexcept;
VARIANT* FollowVariantLinks(VARIANT& v) noexcept;

// Dest := the value Source leads to, references followed and copied out. A null reference, a null
// array or a value that cannot be copied gives Empty.
void DerefVariant(const VARIANT& Source, OleVariant& Dest);

// Writes Value into a host argument. A by-value destination (or a VARIANT passed by reference)
// receives a copy; a typed by-reference destination receives Value converted to its type; a null
// reference is left alone. Raises Exception("Ошибка входных параметров команды") for a type it
// cannot write, and the conversion's error for a value that does not convert.
void AssignToByRefVariant(VARIANT& Dest, const VARIANT& Value);

// Element i of the one-dimensional array Source leads to, at the absolute index i, into Targets[i];
// a target that cannot be read stays Empty. Elements of typed arrays arrive as variants of their
// element type.
void VarArrayGetElements(const VARIANT& Source, std::span<OleVariant* const> Targets);
void VarArrayGetElements(const VARIANT& Source, std::initializer_list<OleVariant*> Targets);
void SafeArrayGetElements(SAFEARRAY* Psa, std::span<OleVariant* const> Targets);
void SafeArrayGetElements(SAFEARRAY* Psa, std::initializer_list<OleVariant*> Targets);
// One item of a [field, item] table: Targets[i] := Source[i, Item]; what cannot be read stays Empty.
void VarArrayGetRow(const VARIANT& Source, LONG Item, std::span<OleVariant* const> Targets);
void VarArrayGetRow(const VARIANT& Source, LONG Item, std::initializer_list<OleVariant*> Targets);
// Element Index of a SAFEARRAY of VARIANT := Value; a failure is not reported.
void SafeArrayPutVariant(SAFEARRAY* Psa, LONG Index, const VARIANT& Value);
// A one-element variant array [0..0] whose element is Value (moved in): the shape of every table
// handed to the host.
OleVariant WrapInArray(OleVariant Value);
// A copy of one element of any array as a variant (Empty when it cannot be read).
OleVariant SafeArrayElementAsVariant(SAFEARRAY* Psa, const LONG* Indices);

// [Code, Text] (or [Code, Text, Extra] when Extra is not Empty), lower bound 0; an empty Text is
// replaced by the error table's text.
void MakeErrorResult(std::int32_t Code, std::string_view Text, const VARIANT& Extra,
                     OleVariant& Result);

// --- Names -------------------------------------------------------------------------------------
std::string SettingTypeName(std::uint8_t SettingType);
std::string EquipmentTypeName(std::string_view TypeId);

// --- Files and folders -------------------------------------------------------------------------
// The special folder with a trailing '/'. Falls back once to the user's application data folder;
// raises EInOutError naming the folder when that fails as well.
std::string GetSpecialFolder(int FolderId);
std::string GetCommonAppDataFolder();
// The full path of the module (shared library or program) that this code is linked into.
std::string GetModuleFileNameStr();
// The four version words (major, minor, release, build) of a module file; an empty name stands for
// this module. Zeros when the file carries no version.
void GetFileVersionWords(const std::string& FileName, WORD Words[4]);

// --- Log text ----------------------------------------------------------------------------------
std::string VarToLogText(const VARIANT& V);
std::string VarArrayToLogText(const VARIANT& V);
