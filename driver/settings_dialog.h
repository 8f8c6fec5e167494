// The one seam between the driver and its settings dialogs. The dialogs library implements
// ISettingsDialogs and registers it (SetSettingsDialogs) when it is linked into the shipped driver
// library; the driver's core and its tests build and run without it. Without registered dialogs,
// or while headless (see ui_services.h), opening the settings dialog raises ESettingsDialogUnavailable
// with a clear message, which the host receives as code 1001 with that text.
#pragma once

#include <memory>

#include "platform/exceptions.h"

class TDriver;

TAVO_DECLARE_EXCEPTION(ESettingsDialogUnavailable, Exception);

class ISettingsDialogs {
 public:
  virtual ~ISettingsDialogs() = default;
  // Shows the common settings dialog for the driver with its one page, the controller list page,
  // modally on the calling thread. True when it closes with OK. Errors pass on; the dialog is freed
  // in every case.
  virtual bool ShowSettingsDialog(TDriver& Driver) = 0;
};

// The registered dialogs; raises ESettingsDialogUnavailable when there are none or while headless.
ISettingsDialogs& SettingsDialogs();
// Registers the dialogs (nullptr removes them); answers what was registered before.
std::unique_ptr<ISettingsDialogs> SetSettingsDialogs(std::unique_ptr<ISettingsDialogs> Dialogs);
