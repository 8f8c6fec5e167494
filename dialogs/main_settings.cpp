#include "dialogs/main_settings.h"

#include <QTableView>

#include "dialogs/control_utils.h"
#include "dialogs/controller_params.h"
#include "dialogs/dialog_strings.h"
#include "dialogs/table_view.h"
#include "driver/controllers.h"
#include "driver/driver.h"
#include "ui_main_settings.h"

namespace {

constexpr char kControllersListSetting[] = "ControllersList";
constexpr char kNewControllerAddress[] = "192.168.0.1";

// The page's controller list as rows (identifier, name, address), read as the view draws them.
class TControllersModel : public TCaptionedTableModel {
 public:
  TControllersModel(QStringList captions, QObject* parent)
      : TCaptionedTableModel(std::move(captions), parent) {}

  // The list shown (not owned); nullptr shows none.
  void SetList(const TControllers* controllers) {
    beginResetModel();
    FControllers = controllers;
    endResetModel();
  }

  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() || !FControllers ? 0 : FControllers->Count();
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole || !FControllers) return {};
    const TController* controller = FControllers->GetItem(index.row());
    if (controller == nullptr) return {};
    switch (index.column()) {
      case 0: return QText(controller->ID);
      case 1: return QText(controller->Name);
      case 2: return QText(controller->IPAddr);
      default: return {};
    }
  }
  void Reset() {
    beginResetModel();
    endResetModel();
  }
  void Repaint() { RowsChanged(0, rowCount({}) - 1); }

 private:
  const TControllers* FControllers = nullptr;
};

}  // namespace

TfrmMainSettings::TfrmMainSettings(QWidget* AOwner)
    : TfrmBaseSettings(AOwner), ui(std::make_unique<Ui::TfrmMainSettings>()) {
  ui->setupUi(this);
  FModel = new TControllersModel(ColumnCaptions(*ui->lwControllers), this);
  SetUpTableView(*ui->lwControllers, FModel);
  connect(ui->acAdd, &QAction::triggered, this, [this] { RunHandler(this, [this] { acAddExecute(); }); });
  connect(ui->acDel, &QAction::triggered, this, [this] { RunHandler(this, [this] { acDelExecute(); }); });
  connect(ui->acEdit, &QAction::triggered, this, [this] { RunHandler(this, [this] { acEditExecute(); }); });
  connect(ui->lwControllers, &QAbstractItemView::doubleClicked, this, [this] {
    if (SelectedRow() >= 0) RunHandler(this, [this] { acEditExecute(); });
  });
}

TfrmMainSettings::~TfrmMainSettings() {
  // The list goes before the view and its model: nothing may show it any more.
  static_cast<TControllersModel*>(FModel)->SetList(nullptr);
}

void TfrmMainSettings::InitPage() {
  TfrmBaseSettings::InitPage();
  FControllers = std::make_unique<TControllers>();
  static_cast<TControllersModel*>(FModel)->SetList(FControllers.get());
}

void TfrmMainSettings::LoadSettings() {
  TfrmBaseSettings::LoadSettings();
  const OleVariant value = FDevice->GetSettingValue(kControllersListSetting);
  try {
    FControllers->LoadFromXML(value.AsString());
  } catch (...) {
    ListChanged();  // show what was read before the failure
    throw;
  }
  ListChanged();
}

void TfrmMainSettings::SaveSettings() {
  TfrmBaseSettings::SaveSettings();
  FDevice->SetSettingValue(kControllersListSetting, OleVariant(FControllers->SaveToXML()));
}

int TfrmMainSettings::SelectedRow() const {
  const QModelIndexList rows = ui->lwControllers->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.front().row();
}

void TfrmMainSettings::ListChanged() { static_cast<TControllersModel*>(FModel)->Reset(); }

void TfrmMainSettings::acAddExecute() {
  TController* controller = FControllers->AddNew(kNewControllerAddress);
  int result = QDialog::Rejected;
  {
    TfrmControllerParams params(dynamic_cast<TDriver*>(FDevice), controller, this);
    result = params.exec();
  }
  if (result != QDialog::Accepted) FControllers->DeleteAt(FControllers->Count() - 1);
  ListChanged();
}

void TfrmMainSettings::acDelExecute() {
  const int row = SelectedRow();
  if (row < 0) return;
  FControllers->DeleteAt(row);
  ListChanged();
}

void TfrmMainSettings::acEditExecute() {
  const int row = SelectedRow();
  if (row < 0) return;
  TController* controller = FControllers->GetItem(row);
  if (controller == nullptr) return;
  {
    TfrmControllerParams params(dynamic_cast<TDriver*>(FDevice), controller, this);
    params.exec();
  }
  static_cast<TControllersModel*>(FModel)->Repaint();
}
