// TfrmBaseSettings: the base of every settings page that the common settings dialog shows on a tab
// of its own. A page edits one part of a device's settings through four hooks: InitPage (once,
// after creation), LoadSettings (fill from the settings), CheckValues and SaveSettings (store).
#pragma once

#include <QWidget>

class TBaseDevice;
class TfrmCommonSettings;
class TfrmBaseSettings;

// The class reference of a page: makes a page of one class with the two-phase creation below.
using TfrmBaseSettingsClass = TfrmBaseSettings* (*)(QWidget* AOwner, TBaseDevice* Device);

class TfrmBaseSettings : public QWidget {
 public:
  // Creates a page of class TPage owned by AOwner: the form with its layout first, then FDevice,
  // then InitPage on the complete object.
  template <class TPage>
  static TfrmBaseSettings* Create(QWidget* AOwner, TBaseDevice* Device) {
    auto* page = new TPage(AOwner);  // owned by AOwner
    page->FDevice = Device;
    page->InitPage();
    return page;
  }

  // Whether the controls' values may be stored; Ok enters True, a page that refuses clears it.
  virtual void CheckValues(bool& Ok);
  // Writes the controls' values into the device's settings.
  virtual void SaveSettings();
  // Fills the controls from the device's current settings.
  virtual void LoadSettings();
  // Set-up once the page is complete (FDevice set); the place to make what the page owns.
  virtual void InitPage();

  TBaseDevice* Device() const { return FDevice; }
  TfrmCommonSettings* OwnerDialog() const { return FOwnerDialog; }

 protected:
  explicit TfrmBaseSettings(QWidget* AOwner);

  TBaseDevice* FDevice = nullptr;             // not owned
  TfrmCommonSettings* FOwnerDialog = nullptr;  // not owned; set when the dialog adds the page

 private:
  friend class TfrmCommonSettings;
};

// The class reference of page class TPage.
template <class TPage>
TfrmBaseSettings* PageClass(QWidget* AOwner, TBaseDevice* Device) {
  return TfrmBaseSettings::Create<TPage>(AOwner, Device);
}
