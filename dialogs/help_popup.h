// The text pop-up of context help: a small frameless window with the pop-up record's colours and
// margins, closed by the next click or key press.
#pragma once

#include <QLabel>

#include "dialogs/help.h"

class THelpPopup : public QLabel {
 public:
  explicit THelpPopup(const THHPopup& popup);
  // Shows the pop-up with its top-left corner at the record's point, kept on the screen.
  void Popup();
  const THHPopup& Record() const { return FRecord; }

 private:
  THHPopup FRecord;
};
