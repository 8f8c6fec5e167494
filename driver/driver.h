// TDriver: the access-controller driver object that a host creates by ProgID. It adds to the
// access-controller base its network device (every controller operation goes through it), three
// settings, its About data, the device test, the settings dialog, the classification and delivery
// of controller events, card uploads and the controller operations, and the configuration write of
// the controller parameters dialog.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "driver/morvik_common.h"
#include "driver/morvik_net_device.h"
#include "framework/base_access_controller.h"

class TDriver : public TBaseAC {
 public:
  // timings: the waits of the network device; the product's unless a test shortens them.
  explicit TDriver(const TNetDeviceTimings& timings = {});
  ~TDriver() override;

  // The network device's event handler: pushes the event to the host through DataEvent or
  // ErrorEvent by its code. Errors of the host's callbacks pass to the caller.
  void DoDeviceEvent(const TEvent& Event);

  // Writes a configuration into the controller at IPAddr: disconnects (with goodbyes), connects to
  // that one controller alone, writes, and disconnects again. Afterwards the device is disconnected
  // and its controller list is empty whatever happened, until the next Enable reloads the list.
  // 0 or an error code with its text; an error raised inside the device passes on.
  int WriteControllerConfig(std::string_view IPAddr, const std::array<std::uint8_t, 10>& Config,
                            std::string& text);

  // The network device (set from creation to destruction).
  TMorvikNetDevice& NetDevice() { return *FNetDevice; }

  // The hooks that the common settings dialog drives (device test).
  bool DeviceTest(std::string& text) override;

 protected:
  void AddSettings() override;
  void FillDeviceInfo() override;
  int DeviceConnect(std::string& text) override;
  int DeviceDisconnect(std::string& text) override;
  bool ShowSettingsDialog() override;
  void DoCreate() override;
  void DoFinalize() override;

  int DoGetControllers(std::int32_t Timeout, TCtrlParamsArray& Controllers, std::string& text) override;
  int DoSetDateTime(const TStringList& IDs, std::int32_t Timeout, TDateTime DateTime, std::string& text) override;
  int DoSetMode(const TStringList& IDs, std::int32_t Mode, std::int32_t Timeout, std::string& text) override;
  int DoUploadTimeProfiles(const TStringList& IDs, std::int32_t LoadMode, const OleVariant& Profiles,
                           std::int32_t Timeout, std::string& text) override;
  int DoUploadHolidays(const TStringList& IDs, std::int32_t LoadMode, std::span<const TDateTime> Dates,
                       std::int32_t Timeout, std::string& text) override;
  int DoUploadCards(const TStringList& IDs, std::int32_t LoadMode, const OleVariant& Cards, std::int32_t Timeout,
                    std::string& text) override;
  int DoDeleteCards(const TStringList& IDs, const TStringList& Cards, std::int32_t Timeout,
                    std::string& text) override;
  int DoGetEvents(const TStringList& IDs, std::int32_t Timeout, TDateTime DateFrom, TDateTime DateTo,
                  TCtrlEvents& Events, std::string& text) override;
  int DoDeleteEvents(const TStringList& IDs, std::int32_t Timeout, TDateTime DateFrom, TDateTime DateTo,
                     std::string& text) override;
  int DoGetStatus(const TStringList& IDs, std::int32_t Timeout, OleVariant& Status, std::string& text) override;

 private:
  // A checked row of the cards table: what WriteCard sends for it. The flag is converted where it
  // is sent, so that a row that goes to no controller needs none.
  struct TCardRow {
    std::string Card;  // the controller's form
    std::uint8_t FirstProfile = 0;
    std::uint8_t SecondProfile = 0;
    OleVariant Flag;
  };

  // The text of a code as the host gets it, with the device's last channel error.
  std::string ErrorTextOf(int code) const;
  // text := the text of code; answers code.
  int Answer(int code, std::string& text) const;
  // The controller form of a host card number with CardNumFormat read afresh; nothing when the
  // number, or the setting, cannot be converted.
  std::optional<std::string> ControllerCard(const OleVariant& HostCard) const;
  // Reads and checks a row of the cards table: 0, or the code of a bad profile or card number.
  int ReadCardRow(const OleVariant& Cards, LONG Row, TCardRow& Card) const;
  // The loops of the uploads and the deletion: items or controllers in order, up to the first
  // failing code, which they answer (0 when everything was sent).
  int UploadCardRows(const TStringList& IDs, std::int32_t LoadMode, const OleVariant& Cards);
  int DeleteCardList(const TStringList& IDs, const TStringList& Cards);
  int UploadTimeProfileRows(const TStringList& IDs, std::int32_t LoadMode, const OleVariant& Profiles);
  int UploadHolidayDates(const TStringList& IDs, std::int32_t LoadMode, std::span<const TDateTime> Dates);
  // Runs command for each identifier in order and stops at the first failing code, whose text it
  // leaves in text; 0 when every command succeeded (or there was none).
  int ForEachController(const TStringList& IDs, std::string& text,
                        const std::function<int(const std::string&)>& command);
  // The journal folder for a device folder: the folder's "EvntBuf/", or the journal's default
  // folder when the host gave no device folder.
  void SetJournalFolder(const std::string& deviceFolder);

  TNetDeviceTimings FTimings;
  std::unique_ptr<TMorvikNetDevice> FNetDevice;
};
