#include "dialogs/controller_params.h"

#include <QCheckBox>
#include <QLineEdit>

#include "dialogs/control_utils.h"
#include "dialogs/dialog_services.h"
#include "dialogs/dialog_strings.h"
#include "driver/controllers.h"
#include "driver/driver.h"
#include "driver/morvik_common.h"
#include "framework/equipment_errors.h"
#include "ui_controller_params.h"

TfrmControllerParams::TfrmControllerParams(TDriver* Driver, TController* Controller, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmControllerParams>()), FController(Controller),
      FDriver(Driver) {
  ui->setupUi(this);
  FWriteConfig = [this](const std::string& ip, const TConfigBytes& config, std::string& text) {
    if (FDriver == nullptr) {
      text = ErrorText(kErrNotSupported);
      return kErrNotSupported;
    }
    return FDriver->WriteControllerConfig(ip, config, text);
  };
  connect(ui->btnSave, &QPushButton::clicked, this, [this] { btnSaveClick(); });
  connect(ui->btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  LoadFromController();
}

TfrmControllerParams::~TfrmControllerParams() = default;

std::array<QLineEdit*, kTimeByteCount> TfrmControllerParams::TimeEdits() const {
  return {ui->edTimeZ, ui->edTimeDoor, ui->edTimeAlarm, ui->edTimeExit, ui->edTimeWaitR, ui->edTimeWorkR};
}

std::array<TfrmControllerParams::TBoxGroup, kFlagGroupCount> TfrmControllerParams::FlagBoxes() const {
  return {{{ui->cb00, ui->cb01, ui->cb02, ui->cb03, ui->cb04, ui->cb05, ui->cb06},
           {ui->cb10, ui->cb11, ui->cb12, ui->cb13, ui->cb14, ui->cb15, ui->cb16},
           {ui->cb20, ui->cb21, ui->cb22, ui->cb23, ui->cb24, ui->cb25, ui->cb26},
           {ui->cb30, ui->cb31, ui->cb32, ui->cb33, ui->cb34, ui->cb35, nullptr}}};
}

void TfrmControllerParams::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  for (QLineEdit* edit : TimeEdits()) SetNumericEdit(edit);
  // The dialog opens with the focus on the first control of its tab order ("Записать в контроллер"),
  // not on the default button.
  if (focusWidget() == nullptr) FocusFirstControl(this);
}

void TfrmControllerParams::LoadFromController() {
  LoadConfig();
  ui->edAddr->setText(QText(FController->IPAddr));
  ui->edID->setText(QText(FController->ID));
  ui->edName->setText(QText(FController->Name));
  ui->chbEntranceControl->setChecked(FController->EntranceControl);
  ui->chbExitControl->setChecked(FController->ExitControl);
}

void TfrmControllerParams::LoadConfig() {
  const TConfigBytes config = FController->Config;
  const auto edits = TimeEdits();
  for (std::size_t i = 0; i < kTimeByteCount; ++i) edits[i]->setText(QText(TimeByteToText(config[i])));
  const auto groups = FlagBoxes();
  for (std::size_t g = 0; g < kFlagGroupCount; ++g) BitsToCheckBoxes(groups[g], config[kTimeByteCount + g]);
}

void TfrmControllerParams::BitsToCheckBoxes(const TBoxGroup& Boxes, std::uint8_t Value) {
  std::uint8_t used = 0;
  for (std::size_t i = 0; i < Boxes.size(); ++i)
    if (Boxes[i] != nullptr) used |= static_cast<std::uint8_t>(1u << i);
  const TFlagGroup flags = BitsToFlags(Value, used);
  for (std::size_t i = 0; i < Boxes.size(); ++i)
    if (Boxes[i] != nullptr) Boxes[i]->setChecked(flags[i]);
}

std::uint8_t TfrmControllerParams::CheckBoxesToBits(const TBoxGroup& Boxes) {
  TFlagGroup flags{};
  std::uint8_t used = 0;
  for (std::size_t i = 0; i < Boxes.size(); ++i) {
    if (Boxes[i] == nullptr) continue;
    used |= static_cast<std::uint8_t>(1u << i);
    flags[i] = Boxes[i]->isChecked();
  }
  return FlagsToBits(flags, used);
}

TConfigBytes TfrmControllerParams::CollectConfig() const {
  TConfigBytes config{};
  const auto edits = TimeEdits();
  for (std::size_t i = 0; i < kTimeByteCount; ++i) config[i] = TextToTimeByte(edits[i]->text().toStdString());
  const auto groups = FlagBoxes();
  for (std::size_t g = 0; g < kFlagGroupCount; ++g) config[kTimeByteCount + g] = CheckBoxesToBits(groups[g]);
  return config;
}

void TfrmControllerParams::WriteConfig() {
  const TConfigBytes config = CollectConfig();
  FController->Config = config;
  std::string text;
  std::int32_t code = 0;
  {
    TWaitCursor hourglass;
    SetChildControlsEnabled(this, false);
    struct TReenable {
      QWidget* Form;
      ~TReenable() { SetChildControlsEnabled(Form, true); }
    } reenable{this};
    repaint();
    ProcessMessages();  // the thread's messages and Qt's events
    code = FWriteConfig(ui->edAddr->text().toStdString(), config, text);
  }
  if (code != 0) UiServices().MessageBox(this, QText(text), QMessageBox::Critical);
}

void TfrmControllerParams::btnSaveClick() { RunHandler(this, [this] { WriteConfig(); }); }

void TfrmControllerParams::SaveToController() {
  // A failed write, an error included, is shown and does not stop the save.
  RunHandler(this, [this] { WriteConfig(); });
  FController->SetIPAddr(ui->edAddr->text().toStdString());
  FController->ID = ui->edID->text().toStdString();
  FController->Name = ui->edName->text().toStdString();
  FController->EntranceControl = ui->chbEntranceControl->isChecked();
  FController->ExitControl = ui->chbExitControl->isChecked();
}

void TfrmControllerParams::done(int result) {
  if (result == QDialog::Accepted) SaveToController();
  QDialog::done(result);
}
