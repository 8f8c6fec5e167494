// TBaseAC: the access-controller kind of the device base. Eleven host methods (DispIDs 20 to 30)
// whose wrappers check and convert the host's input, call an inner operation that a concrete
// driver overrides (the base answers 1003), and pack its results for the host.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "framework/base_device.h"
#include "platform/date_time.h"
#include "platform/ole_variant.h"

// One controller as the host sees it.
struct TCtrlParams {
  std::string ID;
  std::string Name;
  bool EntranceControl = false;
  bool ExitControl = false;
};
using TCtrlParamsArray = std::vector<TCtrlParams>;

// One event as the host sees it.
struct TCtrlEvent {
  std::string ID;
  TDateTime EventTime = 0;
  std::string EventKind;
  std::string Card;
  std::string Description;
};

// The owning list of events that GetEvents hands to DoGetEvents.
class TCtrlEvents {
 public:
  TCtrlEvent* Add();                   // a new empty event, appended
  TCtrlEvent* Get(int Index) const;    // nullptr outside 0..Count()-1
  int Count() const noexcept { return static_cast<int>(items_.size()); }
  void Delete(int Index);
  void Clear() noexcept { items_.clear(); }

 private:
  std::vector<std::unique_ptr<TCtrlEvent>> items_;
};

using TDateTimeArray = std::vector<TDateTime>;

// List := the text of every element of the array's first dimension (the array must have one
// dimension: a table raises); a value that is not an array leaves the list empty.
void VariantArrayToStrings(const OleVariant& Value, TStringList& List);

class TBaseAC : public TBaseDevice {
 public:
  // --- Host wrappers (function kind) -------------------------------------------------------------
  virtual std::int32_t GetControllers(OleVariant& InData, OleVariant& OutData, std::int32_t Timeout,
                                      std::string& ErrText);
  virtual std::int32_t UploadTimeProfiles(OleVariant& InData, OleVariant& OutData,
                                          std::int32_t Timeout, std::string& ErrText);
  virtual std::int32_t UploadHolidays(OleVariant& InData, OleVariant& OutData, std::int32_t Timeout,
                                      std::string& ErrText);
  virtual std::int32_t UploadCards(OleVariant& InData, OleVariant& OutData, std::int32_t Timeout,
                                   std::string& ErrText);
  virtual std::int32_t DeleteCards(OleVariant& InData, OleVariant& OutData, std::int32_t Timeout,
                                   std::string& ErrText);
  virtual std::int32_t SetMode(OleVariant& InData, OleVariant& OutData, std::int32_t Timeout,
                               std::string& ErrText);
  virtual std::int32_t GetEvents(OleVariant& InData, OleVariant& OutData, std::int32_t Timeout,
                                 std::string& ErrText);
  virtual std::int32_t DeleteEvents(OleVariant& InData, OleVariant& OutData, std::int32_t Timeout,
                                    std::string& ErrText);
  virtual std::int32_t GetStatus(OleVariant& InData, OleVariant& OutData, std::int32_t Timeout,
                                 std::string& ErrText);
  virtual std::int32_t GetDateTime(OleVariant& InData, OleVariant& OutData, std::int32_t Timeout,
                                   std::string& ErrText);
  virtual std::int32_t SetDateTime(OleVariant& InData, OleVariant& OutData, std::int32_t Timeout,
                                   std::string& ErrText);

 protected:
  void RegisterMethods() override;
  void FillDeviceInfo() override;
  void AddSettings() override;

  // --- Inner operations: 1003 here, the driver overrides them ------------------------------------
  virtual std::int32_t DoGetControllers(std::int32_t Timeout, TCtrlParamsArray& Controllers,
                                        std::string& ErrText);
  virtual std::int32_t DoSetDateTime(const TStringList& IDs, std::int32_t Timeout,
                                     TDateTime DateTime, std::string& ErrText);
  virtual std::int32_t DoSetMode(const TStringList& IDs, std::int32_t Mode, std::int32_t Timeout,
                                 std::string& ErrText);
  virtual std::int32_t DoUploadTimeProfiles(const TStringList& IDs, std::int32_t LoadMode,
                                            const OleVariant& TimeProfiles, std::int32_t Timeout,
                                            std::string& ErrText);
  virtual std::int32_t DoUploadHolidays(const TStringList& IDs, std::int32_t LoadMode,
                                        std::span<const TDateTime> Dates, std::int32_t Timeout,
                                        std::string& ErrText);
  virtual std::int32_t DoUploadCards(const TStringList& IDs, std::int32_t LoadMode,
                                     const OleVariant& Cards, std::int32_t Timeout,
                                     std::string& ErrText);
  virtual std::int32_t DoDeleteCards(const TStringList& IDs, const TStringList& Cards,
                                     std::int32_t Timeout, std::string& ErrText);
  virtual std::int32_t DoGetEvents(const TStringList& IDs, std::int32_t Timeout, TDateTime Start,
                                   TDateTime End, TCtrlEvents& Events, std::string& ErrText);
  virtual std::int32_t DoDeleteEvents(const TStringList& IDs, std::int32_t Timeout,
                                      TDateTime Start, TDateTime End, std::string& ErrText);
  virtual std::int32_t DoGetStatus(const TStringList& IDs, std::int32_t Timeout, OleVariant& Status,
                                   std::string& ErrText);
};
