// Modal message boxes of the driver, behind one replaceable interface. The shipped driver shows
// real boxes once the settings dialogs register theirs; tests, the host program and any process
// without a user to answer a box (environment variable TAVOEQ_HEADLESS set to a non-empty value
// other than "0") get boxes that never block: the text goes to standard error as one line.
#pragma once

#include <memory>
#include <string_view>

enum class TMessageBoxIcon { Information, Warning, Error };

class IMessageBoxes {
 public:
  virtual ~IMessageBoxes() = default;
  // A modal box with the text, the icon and a single OK button; returns when it is acknowledged.
  virtual void ShowMessage(std::string_view Text, TMessageBoxIcon Icon) = 0;
};

// The boxes in use now (the non-blocking default until others are set, and always while headless).
IMessageBoxes& MessageBoxes();
// Replaces the boxes; nullptr goes back to the default. Answers the boxes that were set before.
std::unique_ptr<IMessageBoxes> SetMessageBoxes(std::unique_ptr<IMessageBoxes> Boxes);

// True when no modal user interface may be shown (TAVOEQ_HEADLESS).
bool IsHeadless();
