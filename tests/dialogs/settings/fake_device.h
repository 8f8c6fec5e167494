// A device of the framework with the driver's six settings and scripted connect and test hooks,
// and settings pages that record what the dialog asks of them.
#pragma once

#include <QLineEdit>
#include <QVBoxLayout>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "dialogs/base_settings_page.h"
#include "framework/base_device.h"
#include "platform/exceptions.h"

class TFakeDevice : public TBaseDevice {
 public:
  std::int32_t ConnectCode = 0;
  std::string ConnectText;
  bool ThrowInConnect = false;
  bool TestResult = true;
  std::string TestText;
  std::function<void()> OnTest;  // runs inside DeviceTest, while the device is enabled
  std::vector<std::string> Calls;

  bool DeviceTest(std::string& text) override {
    Calls.push_back("test");
    if (OnTest) OnTest();
    text = TestText;
    return TestResult;
  }

 protected:
  void AddSettings() override {
    TBaseDevice::AddSettings();
    AddSetting("ControllersList", stString, OleVariant(""), false, "Список контроллеров", "XML");
    AddSetting("CardNumFormat", stNumber, OleVariant(std::int32_t{0}), false, "Формат номера карты",
               "0 - шестнадцатеричный");
    AddSetting("EventRecCount", stNumber, OleVariant(std::int32_t{5000}), false, "Размер журнала",
               "Количество событий в журнале");
  }
  void FillDeviceInfo() override {
    FDeviceInfo.EquipmentType = "AccessController";
    FDeviceInfo.DriverName = "Fake RK";
    FDeviceInfo.Description = "Test device";
    FDeviceInfo.VerMajor = 4;
    FDeviceInfo.VerMinor = 1;
    FDeviceInfo.VerBuild = 7;
    FDeviceInfo.WebAddress = "http://example.invalid/";
  }
  std::int32_t DeviceConnect(std::string& text) override {
    Calls.push_back("connect");
    if (ThrowInConnect) throw Exception("connect failed badly");
    text = ConnectText;
    return ConnectCode;
  }
  std::int32_t DeviceDisconnect(std::string& text) override {
    Calls.push_back("disconnect");
    text.clear();
    return 0;
  }
};

// What a test page records; one per page class.
struct TPageLog {
  int Inits = 0;
  int Loads = 0;
  int Checks = 0;
  int Saves = 0;
  bool DeviceSetAtInit = false;
  bool OwnerSetAtInit = false;
};

// A page that edits EventRecCount in a line edit; its size, caption and refusal are set per class
// through the template parameter.
template <int Width, int Height, bool Refuse = false, int Tag = 0>
class TTestPage : public TfrmBaseSettings {
 public:
  static inline TPageLog Log;
  static inline const char* Caption = "Page";

  explicit TTestPage(QWidget* owner) : TfrmBaseSettings(owner) {
    setObjectName(QStringLiteral("TestPage%1").arg(Tag));
    setWindowTitle(QString::fromUtf8(Caption));
    resize(Width, Height);
    auto* layout = new QVBoxLayout(this);
    Edit = new QLineEdit(this);
    Edit->setObjectName(QStringLiteral("edValue"));
    Edit->setToolTip(QStringLiteral("Hint of the edit"));
    layout->addWidget(Edit);
  }
  void InitPage() override {
    ++Log.Inits;
    Log.DeviceSetAtInit = FDevice != nullptr;
    Log.OwnerSetAtInit = FOwnerDialog != nullptr;
  }
  void LoadSettings() override {
    ++Log.Loads;
    Edit->setText(QString::fromStdString(FDevice->GetSettingAsString("EventRecCount")));
  }
  void CheckValues(bool& ok) override {
    ++Log.Checks;
    if (Refuse) ok = false;
  }
  void SaveSettings() override {
    ++Log.Saves;
    FDevice->SetSettingValue("EventRecCount", OleVariant(Edit->text().toStdString()));
  }
  QLineEdit* Edit;
};
