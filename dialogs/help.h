// Context help of the settings dialogs: the help commands that a form's help handler answers, the
// pop-up record, the process-wide pop-up position, where the help file lies and how a numbered
// topic of its "popups.txt" is read.
#pragma once

#include <QColor>
#include <QMargins>
#include <QPoint>
#include <QString>
#include <cstdint>
#include <optional>
#include <string_view>

// Help commands (the numbers of the classic help interface).
constexpr std::uint16_t HELP_CONTEXTPOPUP = 8;  // data: a help id
constexpr std::uint16_t HELP_SETPOPUP_POS = 13;  // data: x in the low, y in the high 16 bits

// Help ids of the dialogs' controls; ids 1 to 999 are topics of "popups.txt".
constexpr int kHelpIdAdditional = 1000;
constexpr int kHelpIdOK = 1001;
constexpr int kHelpIdCancel = 1002;
constexpr int kHelpIdPagesText = 1003;
constexpr int kHelpIdControlHint = 10000;
constexpr int kFirstTextHelpId = 1000;
// The dynamic property that carries a widget's help id (set in the forms).
inline constexpr char kHelpIdProperty[] = "helpId";

// A text pop-up: a text, or a topic number of the help file's "popups.txt", shown at a point.
struct THHPopup {
  QPoint pt;
  QString pszText;
  int idString = 0;
  QColor clrForeground{0, 0, 0};
  QColor clrBackground{255, 255, 238};
  QMargins rcMargins{5, 5, 5, 5};
};

// The last point given with HELP_SETPOPUP_POS, shared by every dialog of the process.
QPoint& HelpPopupPos();
// The point packed into a help command's data: signed 16-bit x (low) and y (high).
QPoint UnpackPopupPos(std::int32_t data);
std::int32_t PackPopupPos(QPoint point);

// The text of a help id from 1000 up (empty for ids without a text).
QString GetHelpByID(int id);

// "help.chm" in the folder of the given module file.
QString HelpFileBeside(const QString& moduleFile);
// The name of the pop-up topics inside the help file, appended to the file's path.
inline constexpr char kPopupsSuffix[] = "::/popups.txt";

// The text of topic number `topic` of a "popups.txt" text: the lines after ".topic N" up to the
// next ".topic" line, line breaks kept, surrounding blank lines dropped.
std::optional<QString> ParsePopupTopic(std::string_view popupsText, int topic);
// Topic `topic` of "popups.txt" inside the compiled help file; nothing when the file, the topic
// file or the topic is missing.
std::optional<QString> ReadPopupTopic(const QString& helpFile, int topic);
