// TfrmCommonSettings: the settings dialog of a device. Each settings page on a tab of its own, an
// information tab from the device's About data, and a menu of further functions: reset to the
// defaults, device test, the full settings list, the help file. OK makes every page check and store
// its values; any other close takes back what an accepted full settings list changed.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "dialogs/base_settings_page.h"

class QMenu;
class TBaseDevice;
namespace Ui {
class TfrmCommonSettings;
}

class TfrmCommonSettings : public QDialog {
 public:
  using TPages = std::vector<TfrmBaseSettings*>;  // owned by the dialog as Qt children

  TfrmCommonSettings(TBaseDevice* Device, std::span<const TfrmBaseSettingsClass> PageClasses,
                     QWidget* parent = nullptr);
  ~TfrmCommonSettings() override;

  void AddPages(std::span<const TfrmBaseSettingsClass> PageClasses);
  void AddPage(TfrmBaseSettings* Page);
  void RefreshPages();
  bool ApplyPages();
  void SetResetVisible(bool Flag);
  void SetHelpVisible(bool Flag);

  void miResetClick();
  void miDeviceTestClick();
  void miSettingsListClick();
  void miHelpClick();
  void imgLogoClick();
  void btnSetDefaultClick(QWidget* Sender);

  // The help handler of the dialog and its pages; always answers true and clears CallHelp.
  bool FormHelp(std::uint16_t Command, std::int32_t Data, bool& CallHelp);
  // Help for a control: the first help id on the way out through its parents decides; the pop-up
  // goes to that control's top-left corner. ByKey: asked with F1 (else by a click at ClickPos).
  void HelpRequest(QWidget* Control, bool ByKey, QPoint ClickPos = {});
  void GetControlHintByPos(QPoint& P, QString& Hint);
  bool HelpFileExists();

  const TPages& Pages() const { return FPages; }
  const QString& HelpFile() const { return FHelpFile; }
  QMenu* AdditionalMenu() const { return mAdditionaly; }
  Ui::TfrmCommonSettings& Form() { return *ui; }

  void done(int result) override;

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void FillInfo();
  void GrowToFit(const QSize& pageSize);

  std::unique_ptr<Ui::TfrmCommonSettings> ui;
  QMenu* mAdditionaly;  // owned as a child
  TPages FPages;
  TBaseDevice* FDevice;  // not owned
  QString FWebAddress;
  bool FHelpFileExists = false;
  QString FHelpFile;
  bool FHelpByKey = false;   // the help request under way came from F1
  QPoint FHelpClickPos;      // where the What's This click was
};

// The module file beside which HelpFileExists looks for "help.chm": the driver's own module,
// unless replaced (an empty text puts the driver's module back).
void SetHelpModuleFile(const QString& moduleFile);
QString HelpModuleFile();
