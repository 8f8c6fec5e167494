// Small helpers on widgets that several forms use.
#pragma once

class QWidget;
class QLineEdit;

// Sets the enabled state of every direct child widget of parent, first to last; grandchildren keep
// their own state (they still follow a disabled parent on screen).
void SetChildControlsEnabled(QWidget* parent, bool enabled);

// Makes the edit accept digits only, typed or pasted, and at most two of them (0 to 99). Text put
// in by the program is not cut: a stored value of three digits is shown as it is.
void SetNumericEdit(QLineEdit* edit);
