#include "dialogs/settings_list.h"

#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <limits>

#include "dialogs/control_utils.h"
#include "dialogs/dialog_strings.h"
#include "dialogs/table_view.h"
#include "framework/base_device.h"
#include "ui_settings_list.h"

namespace {

// The settings table as rows of the list: asked for each cell as the view draws it, keeps no copy.
class TSettingsModel : public TCaptionedTableModel {
 public:
  TSettingsModel(TBaseDevice* device, int rows, QStringList captions, QObject* parent)
      : TCaptionedTableModel(std::move(captions), parent), FDevice(device), FRows(rows) {}

  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : FRows; }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole) return {};
    const TSettingStruct* entry = FDevice->GetSetting(index.row());
    if (entry == nullptr) return {};
    switch (index.column()) {
      case 0: return QText(entry->Caption);
      case 1: return VariantText(entry->Value);
      case 2: return VariantText(entry->DefaultValue);
      default: return {};
    }
  }

 private:
  TBaseDevice* FDevice;
  int FRows;
};

}  // namespace

TfrmSettingsList::TfrmSettingsList(TBaseDevice* Device, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmSettingsList>()), FDevice(Device) {
  ui->setupUi(this);
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  PopupMenu1->addAction(ui->miEdit);
  PopupMenu1->addAction(ui->miDefault);
  auto* model = new TSettingsModel(FDevice, FDevice->GetSettingsCount(),
                                   ColumnCaptions(*ui->lvSettings), this);
  FModel = model;
  SetUpTableView(*ui->lvSettings, model);
  FEditor = ui->edEdit;
  // A value is taken whole, however long (a list of many controllers is one value).
  ui->edEdit->setMaxLength(std::numeric_limits<int>::max());
  ui->edEdit->hide();
  ui->cbEdit->hide();

  ui->lvSettings->installEventFilter(this);
  ui->edEdit->installEventFilter(this);
  ui->cbEdit->installEventFilter(this);
  connect(ui->lvSettings, &QAbstractItemView::doubleClicked, this, [this] { BeginEdit(); });
  connect(ui->lvSettings->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { lvSettingsChange(current.isValid() ? current.row() : -1); });
  connect(ui->lvSettings, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { PopupMenu1->popup(ui->lvSettings->viewport()->mapToGlobal(at)); });
  connect(ui->miEdit, &QAction::triggered, this, [this] { BeginEdit(); });
  connect(ui->miDefault, &QAction::triggered, this, [this] { miDefaultClick(); });
  connect(ui->btnDefault, &QPushButton::clicked, this, [this] { btnDefaultClick(); });
  connect(ui->btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  KeepOpenOnEnterAndEsc(this);
}

TfrmSettingsList::~TfrmSettingsList() = default;

int TfrmSettingsList::SelectedRow() const {
  const QModelIndexList rows = ui->lvSettings->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.front().row();
}

void TfrmSettingsList::RepaintRows(int first, int last) {
  static_cast<TSettingsModel*>(FModel)->RowsChanged(first, last);
}

void TfrmSettingsList::BeginEdit() {
  if (Editing()) return;
  const int row = SelectedRow();
  if (row < 0) return;
  TSettingStruct* entry = FDevice->GetSetting(row);
  if (entry == nullptr) return;
  if (entry->SettingType == stBoolean) {
    FEditor = ui->cbEdit;
    bool isTrue = false;
    try {
      isTrue = entry->Value.Type() == VT_BOOL && entry->Value.AsBoolean();
    } catch (const std::exception&) {
    }
    ui->cbEdit->setCurrentIndex(isTrue ? 1 : 0);
  } else {
    FEditor = ui->edEdit;
    ui->edEdit->setText(VariantText(entry->Value));
  }
  // Over the value column of the row, in the dialog's coordinates.
  QTableView* view = ui->lvSettings;
  const QRect cell = view->visualRect(FModel->index(row, 1));
  const QPoint topLeft = view->viewport()->mapTo(this, cell.topLeft());
  FEditor->setGeometry(topLeft.x(), topLeft.y(), view->columnWidth(1), cell.height());
  FEditRow = row;
  FEditor->raise();
  FEditor->show();
  FEditor->setFocus(Qt::OtherFocusReason);
}

void TfrmSettingsList::EndEdit(bool Cancel) {
  if (!Editing()) return;
  const int row = FEditRow;
  FEditRow = -1;  // before the editor loses the focus, which would end the edit again
  TSettingStruct* entry = FDevice->GetSetting(row);
  if (entry != nullptr && !Cancel) {
    if (FEditor == ui->cbEdit)
      entry->Value = OleVariant(ui->cbEdit->currentIndex() == 1);
    else
      entry->Value = OleVariant(ui->edEdit->text().toStdString());
    RepaintRows(row, row);
  }
  FEditor->hide();
  ui->lvSettings->setFocus(Qt::OtherFocusReason);
}

void TfrmSettingsList::lvSettingsChange(int row) {
  EndEdit(false);
  if (const TSettingStruct* entry = row >= 0 ? FDevice->GetSetting(row) : nullptr)
    ui->stStatus->setText(QText(entry->Description));
}

void TfrmSettingsList::miDefaultClick() {
  const int row = SelectedRow();
  TSettingStruct* entry = row >= 0 ? FDevice->GetSetting(row) : nullptr;
  if (entry == nullptr) return;
  entry->Value = entry->DefaultValue;
  RepaintRows(row, row);
}

void TfrmSettingsList::btnDefaultClick() {
  FDevice->ResetSettingsToDefaults();
  RepaintRows(0, FModel->rowCount({}) - 1);
}

bool TfrmSettingsList::lvSettingsKeyDown(int key) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_F2) BeginEdit();
  if (key == Qt::Key_Escape) EndEdit(false);
  return false;
}

bool TfrmSettingsList::edEditKeyDown(int key) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    if (Editing())
      EndEdit(false);
    else
      BeginEdit();
    return true;  // the editor is gone: nothing else may act on this key
  }
  if (key == Qt::Key_Escape && Editing()) {
    EndEdit(true);
    return true;
  }
  return false;
}

bool TfrmSettingsList::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (watched == ui->lvSettings) return lvSettingsKeyDown(key);
    if (watched == ui->edEdit || watched == ui->cbEdit) return edEditKeyDown(key);
  }
  if (event->type() == QEvent::FocusOut && (watched == ui->edEdit || watched == ui->cbEdit)) {
    // The combo box's own drop-down list takes the focus for a while without ending the edit.
    if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) EndEdit(false);
  }
  return QDialog::eventFilter(watched, event);
}

void TfrmSettingsList::done(int result) {
  EndEdit(false);  // leaving by OK or Cancel keeps the typed value
  QDialog::done(result);
}
