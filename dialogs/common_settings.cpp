#include "dialogs/common_settings.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWhatsThis>

#include "dialogs/control_utils.h"
#include "dialogs/dialog_services.h"
#include "dialogs/dialog_strings.h"
#include "dialogs/help.h"
#include "dialogs/settings_list.h"
#include "framework/base_device.h"
#include "framework/device_info.h"
#include "framework/equipment_errors.h"
#include "framework/tavo2_lib.h"
#include "ui_common_settings.h"

namespace {

QString& HelpModuleOverride() {
  static QString file;
  return file;
}

// The help id a widget carries (0 when none).
int HelpIdOf(const QWidget* widget) { return widget->property(kHelpIdProperty).toInt(); }

// Whether the widget is a control of a form rather than a Qt-internal part of one. A toolbar's
// button stands for its action: its hint is the action's.
bool IsControl(const QWidget* widget) {
  if (const auto* button = qobject_cast<const QToolButton*>(widget); button && button->defaultAction())
    return true;
  return !widget->objectName().isEmpty() && !widget->objectName().startsWith(QLatin1String("qt_"));
}

// The control a Qt-internal part belongs to (a list's viewport, a page control's tab bar).
QWidget* OwningControl(QWidget* widget) {
  while (widget != nullptr && !widget->isWindow() && !IsControl(widget)) widget = widget->parentWidget();
  return widget;
}

}  // namespace

void SetHelpModuleFile(const QString& moduleFile) { HelpModuleOverride() = moduleFile; }

QString HelpModuleFile() {
  const QString& replaced = HelpModuleOverride();
  return replaced.isEmpty() ? QText(GetModuleFileNameStr()) : replaced;
}

TfrmCommonSettings::TfrmCommonSettings(TBaseDevice* Device,
                                       std::span<const TfrmBaseSettingsClass> PageClasses,
                                       QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmCommonSettings>()), FDevice(Device) {
  ui->setupUi(this);
  mAdditionaly = new QMenu(this);
  mAdditionaly->setObjectName(QStringLiteral("mAdditionaly"));
  mAdditionaly->addAction(ui->miReset);
  mAdditionaly->addAction(ui->miDeviceTest);
  mAdditionaly->addAction(ui->miSettingsList);
  mAdditionaly->addSeparator();
  mAdditionaly->addAction(ui->miHelp);

  connect(ui->btnSetDefault, &QPushButton::clicked, this, [this] { btnSetDefaultClick(ui->btnSetDefault); });
  connect(ui->btnSetDefault, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { mAdditionaly->popup(ui->btnSetDefault->mapToGlobal(at)); });
  ui->btnSetDefault->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ui->btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  KeepOpenOnEnterAndEsc(this);
  connect(ui->miReset, &QAction::triggered, this, [this] { RunHandler(this, [this] { miResetClick(); }); });
  connect(ui->miDeviceTest, &QAction::triggered, this, [this] { RunHandler(this, [this] { miDeviceTestClick(); }); });
  connect(ui->miSettingsList, &QAction::triggered, this,
          [this] { RunHandler(this, [this] { miSettingsListClick(); }); });
  connect(ui->miHelp, &QAction::triggered, this, [this] { miHelpClick(); });
  ui->imgLogo->installEventFilter(this);

  // Context help: F1 for the focused control, Shift+F1 for the next clicked one.
  auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
  f1->setContext(Qt::WindowShortcut);
  connect(f1, &QShortcut::activated, this, [this] { HelpRequest(QApplication::focusWidget(), true); });
  auto* whatsThis = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F1), this);
  whatsThis->setContext(Qt::WindowShortcut);
  connect(whatsThis, &QShortcut::activated, this, [] { QWhatsThis::enterWhatsThisMode(); });

  // The backup of an earlier showing must not be restored by this one's Cancel.
  FDevice->BackupSettings();
  FDevice->RestoreSettings();

  AddPages(PageClasses);
  FillInfo();
  FHelpFileExists = HelpFileExists();
  SetHelpVisible(FHelpFileExists);
  ui->pcPages->setToolTip(QText(dialog_strings::SHelpPages));
}

TfrmCommonSettings::~TfrmCommonSettings() = default;

void TfrmCommonSettings::FillInfo() {
  const TDeviceInfoStruct& info = FDevice->DeviceInfo();
  ui->lbModelName->setText(QText(info.DriverName));
  ui->lbDiverVersion->setText(QText(FormatVersion(info)));
  FWebAddress = QText(info.WebAddress);
  ui->lbTypeInfo->setText(QText(EquipmentTypeName(info.EquipmentType)));
  ui->lbModelInfo->setText(QText(info.DriverName));
  ui->lbVerInfo->setText(QText(FormatVersion(info)));
  ui->lbDeveloperInfo->setText(QText(info.Developer));
  ui->lbDescriptionInfo->setText(QText(info.Description));
  ui->lbContactinfo->setText(QText(FormatContactInfo(info)));
}

void TfrmCommonSettings::AddPages(std::span<const TfrmBaseSettingsClass> PageClasses) {
  for (TfrmBaseSettingsClass pageClass : PageClasses) AddPage(pageClass(this, FDevice));
  for (TfrmBaseSettings* page : FPages) page->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  QTabWidget* tabs = ui->pcPages;
  const int info = tabs->indexOf(ui->tsInfo);
  const QString infoCaption = tabs->tabText(info);
  tabs->removeTab(info);
  tabs->addTab(ui->tsInfo, infoCaption);
  RefreshPages();
  tabs->setCurrentIndex(0);
  if (tabs->count() == 1) SetResetVisible(false);
}

void TfrmCommonSettings::AddPage(TfrmBaseSettings* Page) {
  const QSize designed = Page->size();
  auto* sheet = new QWidget(this);
  sheet->setObjectName(QStringLiteral("tsPage%1").arg(FPages.size() + 1));
  FPages.push_back(Page);
  Page->FOwnerDialog = this;
  auto* layout = new QVBoxLayout(sheet);
  layout->setContentsMargins(0, 0, 0, 0);
  Page->setParent(sheet);
  Page->setWindowFlags(Qt::Widget);  // no border of its own
  layout->addWidget(Page);
  ui->pcPages->addTab(sheet, Page->windowTitle());
  Page->setVisible(true);
  GrowToFit(designed);
  Page->setProperty(kHelpIdProperty, 0);  // help goes on to the page control
}

void TfrmCommonSettings::GrowToFit(const QSize& pageSize) {
  // The dialog only grows: as wide as the page and as high as the page, header and footer.
  const int needWidth = pageSize.width();
  const int needHeight = pageSize.height() + ui->pnHeader->height() + ui->pnFooter->height();
  QSize client = size();
  if (client.width() < needWidth) client.setWidth(needWidth);
  if (client.height() < needHeight) client.setHeight(needHeight);
  setMinimumSize(0, 0);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  resize(client);
  setFixedSize(client);
}

void TfrmCommonSettings::RefreshPages() {
  for (TfrmBaseSettings* page : FPages) page->LoadSettings();
}

bool TfrmCommonSettings::ApplyPages() {
  bool ok = true;
  for (TfrmBaseSettings* page : FPages) {
    page->CheckValues(ok);
    if (!ok) break;
    page->SaveSettings();
  }
  return ok;
}

void TfrmCommonSettings::SetResetVisible(bool Flag) {
  ui->miReset->setEnabled(Flag);
  ui->miReset->setVisible(Flag);
}

void TfrmCommonSettings::SetHelpVisible(bool Flag) {
  ui->miHelp->setEnabled(Flag);
  ui->miHelp->setVisible(Flag);
}

void TfrmCommonSettings::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  setFocus(Qt::ActiveWindowFocusReason);
  raise();
  activateWindow();
}

void TfrmCommonSettings::done(int result) {
  if (result == QDialog::Accepted) {
    bool applied = false;
    RunHandler(this, [&] { applied = ApplyPages(); });
    if (!applied) return;  // stays open
    // A backup left by an accepted settings list ends with this showing.
    FDevice->BackupSettings();
    FDevice->RestoreSettings();
  } else {
    FDevice->RestoreSettings();
  }
  QDialog::done(result);
}

bool TfrmCommonSettings::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui->imgLogo && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    imgLogoClick();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

bool TfrmCommonSettings::event(QEvent* event) {
  if (event->type() == QEvent::WhatsThis) {
    // One click answers and ends the mode, as Qt's own What's This texts do.
    QWhatsThis::leaveWhatsThisMode();
    const QPoint click = static_cast<QHelpEvent*>(event)->globalPos();
    QWidget* control = childAt(mapFromGlobal(click));
    HelpRequest(control != nullptr ? control : this, false, click);
    event->accept();
    return true;
  }
  return QDialog::event(event);
}

void TfrmCommonSettings::btnSetDefaultClick(QWidget* Sender) {
  if (Sender == nullptr) return;
  mAdditionaly->popup(Sender->mapToGlobal(QPoint(0, Sender->height())));
}

void TfrmCommonSettings::imgLogoClick() {
  TWaitCursor hourglass;
  try {
    UiServices().OpenWebAddress(FWebAddress);
  } catch (...) {
    // The shell's answer is not reported.
  }
}

void TfrmCommonSettings::miResetClick() {
  FDevice->ResetSettingsToDefaults();
  RefreshPages();
}

void TfrmCommonSettings::miDeviceTestClick() {
  FDevice->BackupSettings();
  bool ok = false;
  QString message;
  {
    TWaitCursor hourglass;
    try {
      ok = ApplyPages();
      if (!ok) {
        message = QText(dialog_strings::SCannotWriteSettings);
      } else {
        std::string text;
        const std::int32_t code = FDevice->DoEnable(text);
        message = QText(ErrorText(code, text));
        ok = code == 0;
        if (ok) {
          text.clear();
          ok = FDevice->DeviceTest(text);
          message = QText(text);
        }
      }
    } catch (...) {
      FDevice->DisableQuiet();
      FDevice->RestoreSettings();
      throw;  // reported by RunHandler once the clean-up has run
    }
    FDevice->DisableQuiet();
    FDevice->RestoreSettings();
  }
  if (!ok) UiServices().MessageBox(this, message, QMessageBox::Critical);
}

void TfrmCommonSettings::miSettingsListClick() {
  FDevice->BackupSettings();
  TfrmSettingsList grid(FDevice, this);
  if (grid.exec() == QDialog::Accepted)
    RefreshPages();
  else
    FDevice->RestoreSettings();
}

void TfrmCommonSettings::miHelpClick() { UiServices().OpenHelpFile(FHelpFile); }

bool TfrmCommonSettings::HelpFileExists() {
  FHelpFile = HelpFileBeside(HelpModuleFile());
  return QFile::exists(FHelpFile);
}

void TfrmCommonSettings::HelpRequest(QWidget* Control, bool ByKey, QPoint ClickPos) {
  QWidget* carrier = Control;
  while (carrier != nullptr && HelpIdOf(carrier) == 0) carrier = carrier->parentWidget();
  if (carrier == nullptr) return;
  FHelpByKey = ByKey;
  FHelpClickPos = ClickPos;
  bool callHelp = true;
  FormHelp(HELP_SETPOPUP_POS, PackPopupPos(carrier->mapToGlobal(QPoint(0, 0))), callHelp);
  FormHelp(HELP_CONTEXTPOPUP, HelpIdOf(carrier), callHelp);
}

bool TfrmCommonSettings::FormHelp(std::uint16_t Command, std::int32_t Data, bool& CallHelp) {
  if (Command == HELP_SETPOPUP_POS) HelpPopupPos() = UnpackPopupPos(Data);
  if (Command == HELP_CONTEXTPOPUP) {
    THHPopup popup;
    popup.pt = HelpPopupPos();
    if (Data == kHelpIdControlHint) {
      GetControlHintByPos(popup.pt, popup.pszText);
    } else if (Data >= kFirstTextHelpId) {
      popup.pszText = GetHelpByID(Data);
    } else if (FHelpFileExists && Data > 0) {
      popup.idString = Data;
    }
    const bool textPopup = Data >= kFirstTextHelpId || !FHelpFileExists;
    UiServices().ShowTextPopup(textPopup ? QString() : FHelpFile + QLatin1String(kPopupsSuffix), popup);
  }
  CallHelp = false;
  return true;
}

void TfrmCommonSettings::GetControlHintByPos(QPoint& P, QString& Hint) {
  Hint.clear();
  QWidget* control = nullptr;
  if (FHelpByKey) {
    control = QApplication::focusWidget();
    if (control != nullptr && control->window() != this) control = nullptr;
  } else {
    P = FHelpClickPos;
    control = childAt(mapFromGlobal(P));
    if (control == nullptr && rect().contains(mapFromGlobal(P))) control = this;
  }
  control = OwningControl(control);
  if (control == nullptr) return;
  P = control->mapToGlobal(QPoint(0, 0));
  Hint = control->toolTip();
}
