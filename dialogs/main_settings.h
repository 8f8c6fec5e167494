// TfrmMainSettings: the settings page with the list of controllers that the driver serves. It
// edits a copy of its own, read from the setting ControllersList and written back when the dialog
// applies its pages; single controllers are edited in the controller parameters dialog.
#pragma once

#include <memory>

#include "dialogs/base_settings_page.h"

class QAbstractTableModel;
class TControllers;
namespace Ui {
class TfrmMainSettings;
}

class TfrmMainSettings : public TfrmBaseSettings {
 public:
  explicit TfrmMainSettings(QWidget* AOwner);
  ~TfrmMainSettings() override;  // FormDestroy: the list goes with the page

  void SaveSettings() override;
  void LoadSettings() override;
  void InitPage() override;

  void acAddExecute();
  void acDelExecute();
  void acEditExecute();

  TControllers& Controllers() { return *FControllers; }
  Ui::TfrmMainSettings& Form() { return *ui; }

 private:
  int SelectedRow() const;
  void ListChanged();

  std::unique_ptr<Ui::TfrmMainSettings> ui;
  QAbstractTableModel* FModel = nullptr;  // owned as a child
  std::unique_ptr<TControllers> FControllers;
};
