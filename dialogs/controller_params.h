// TfrmControllerParams: one controller of the controller list page: identifier, name, address,
// reader flags and the ten configuration bytes. "Записать в контроллер" writes the configuration
// into the physical controller at once; OK writes it again and stores the basic fields.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "dialogs/config_bytes.h"

class QCheckBox;
class QLineEdit;
class TController;
class TDriver;
namespace Ui {
class TfrmControllerParams;
}

class TfrmControllerParams : public QDialog {
 public:
  // The configuration write: address, bytes, error text out; answers the error code (0 success).
  using TConfigWriter =
      std::function<std::int32_t(const std::string& IPAddr, const TConfigBytes& Config, std::string& ErrorText)>;

  TfrmControllerParams(TDriver* Driver, TController* Controller, QWidget* parent = nullptr);
  ~TfrmControllerParams() override;

  void LoadFromController();
  void LoadConfig();
  // Collects the bytes, stores them into the controller and writes them into the controller.
  void WriteConfig();
  void SaveToController();
  // The bytes as the controls give them now.
  TConfigBytes CollectConfig() const;

  // Replaces the driver's write (used where no controller can answer).
  void SetConfigWriter(TConfigWriter Writer) { FWriteConfig = std::move(Writer); }
  Ui::TfrmControllerParams& Form() { return *ui; }
  std::array<QLineEdit*, kTimeByteCount> TimeEdits() const;

  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  using TBoxGroup = std::array<QCheckBox*, kFlagSlotCount>;  // nullptr: an empty slot
  std::array<TBoxGroup, kFlagGroupCount> FlagBoxes() const;
  static void BitsToCheckBoxes(const TBoxGroup& Boxes, std::uint8_t Value);
  static std::uint8_t CheckBoxesToBits(const TBoxGroup& Boxes);
  void btnSaveClick();

  std::unique_ptr<Ui::TfrmControllerParams> ui;
  TController* FController;  // not owned
  TDriver* FDriver;          // not owned
  TConfigWriter FWriteConfig;
};
