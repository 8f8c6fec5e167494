#include "dialogs/base_settings_page.h"

TfrmBaseSettings::TfrmBaseSettings(QWidget* AOwner) : QWidget(AOwner) {}

void TfrmBaseSettings::CheckValues(bool& Ok) { Ok = true; }

void TfrmBaseSettings::SaveSettings() {}

void TfrmBaseSettings::LoadSettings() {}

void TfrmBaseSettings::InitPage() {}
