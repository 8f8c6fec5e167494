// TfrmSettingsList: the full list of a device's settings (caption, value, default), edited in
// place on the live settings table, with reset of one or all values to their defaults. The caller
// takes and restores the settings backup around it.
#pragma once

#include <QDialog>
#include <memory>

class QAbstractTableModel;
class QMenu;
class TBaseDevice;
namespace Ui {
class TfrmSettingsList;
}

class TfrmSettingsList : public QDialog {
 public:
  explicit TfrmSettingsList(TBaseDevice* Device, QWidget* parent = nullptr);
  ~TfrmSettingsList() override;

  // Opens the in-place editor over the value of the selected row.
  void BeginEdit();
  // Closes the editor; unless Cancel, the edited value is stored into the row where the edit began.
  void EndEdit(bool Cancel);
  bool Editing() const { return FEditRow >= 0; }
  QWidget* Editor() const { return FEditor; }
  Ui::TfrmSettingsList& Form() { return *ui; }

  void done(int result) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  int SelectedRow() const;
  void RepaintRows(int first, int last);
  void lvSettingsChange(int row);
  void miDefaultClick();
  void btnDefaultClick();
  bool lvSettingsKeyDown(int key);
  bool edEditKeyDown(int key);

  std::unique_ptr<Ui::TfrmSettingsList> ui;
  QMenu* PopupMenu1;                 // owned as a child
  QAbstractTableModel* FModel;       // owned as a child
  QWidget* FEditor;                  // edEdit or cbEdit
  TBaseDevice* FDevice;              // not owned
  int FEditRow = -1;                 // the row whose value the open editor edits; -1 browsing
};
