// The dialogs' side of the driver's seam: the Qt settings dialog and Qt message boxes, registered
// with the driver by the shipped driver library.
#pragma once

// Registers the Qt settings dialog and message boxes with the driver (SetSettingsDialogs,
// SetMessageBoxes). Called once by the driver library when it is loaded.
void RegisterQtSettingsDialogs();

// Whether the driver has created or found Qt's application object (the library must then stay
// loaded). Declared here, without Qt headers, for the driver library's exports.
bool QtApplicationStarted();
