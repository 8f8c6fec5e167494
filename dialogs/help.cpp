#include "dialogs/help.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <chm_lib.h>

#include <memory>
#include <vector>

#include "dialogs/dialog_strings.h"

QPoint& HelpPopupPos() {
  static QPoint position(0, 0);
  return position;
}

QPoint UnpackPopupPos(std::int32_t data) {
  const auto bits = static_cast<std::uint32_t>(data);
  const auto x = static_cast<std::int16_t>(bits & 0xFFFF);
  const auto y = static_cast<std::int16_t>((bits >> 16) & 0xFFFF);
  return QPoint(x, y);
}

std::int32_t PackPopupPos(QPoint point) {
  const auto x = static_cast<std::uint16_t>(static_cast<std::int16_t>(point.x()));
  const auto y = static_cast<std::uint16_t>(static_cast<std::int16_t>(point.y()));
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(y) << 16) | x);
}

QString GetHelpByID(int id) {
  switch (id) {
    case kHelpIdAdditional: return QText(dialog_strings::SHelpAdditional);
    case kHelpIdOK: return QText(dialog_strings::SHelpOK);
    case kHelpIdCancel: return QText(dialog_strings::SHelpCancel);
    case kHelpIdPagesText: return QText(dialog_strings::SHelpPages);
    default: return QString();
  }
}

QString HelpFileBeside(const QString& moduleFile) {
  return QFileInfo(moduleFile).absolutePath() + QStringLiteral("/help.chm");
}

namespace {

// ".topic N" (N decimal) at the start of a line gives N; any other line gives nothing.
std::optional<int> TopicNumber(std::string_view line) {
  constexpr std::string_view kTopic = ".topic";
  if (line.substr(0, kTopic.size()) != kTopic) return std::nullopt;
  line.remove_prefix(kTopic.size());
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  int value = 0;
  std::size_t digits = 0;
  while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9' && digits < 9) {
    value = value * 10 + (line[digits] - '0');
    ++digits;
  }
  if (digits == 0) return -1;  // a symbolic topic: ends the previous one, matches no number
  return value;
}

}  // namespace

std::optional<QString> ParsePopupTopic(std::string_view text, int topic) {
  std::optional<QString> result;
  QStringList lines;
  bool inside = false;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (const auto number = TopicNumber(line)) {
      if (inside) break;
      inside = *number == topic;
      continue;
    }
    if (inside) lines << QText(line);
  }
  if (!inside) return result;
  while (!lines.isEmpty() && lines.front().trimmed().isEmpty()) lines.removeFirst();
  while (!lines.isEmpty() && lines.back().trimmed().isEmpty()) lines.removeLast();
  return lines.join(QLatin1Char('\n'));
}

std::optional<QString> ReadPopupTopic(const QString& helpFile, int topic) {
  const QByteArray path = QFile::encodeName(helpFile);
  std::unique_ptr<struct chmFile, decltype(&chm_close)> file(chm_open(path.constData()), &chm_close);
  if (!file) return std::nullopt;
  chmUnitInfo unit{};
  if (chm_resolve_object(file.get(), "/popups.txt", &unit) != CHM_RESOLVE_SUCCESS)
    return std::nullopt;
  constexpr LONGUINT64 kMaxTopicFile = 1 << 20;
  if (unit.length > kMaxTopicFile) return std::nullopt;
  std::vector<unsigned char> buffer(static_cast<std::size_t>(unit.length));
  const LONGINT64 read = chm_retrieve_object(file.get(), &unit, buffer.data(), 0,
                                             static_cast<LONGINT64>(buffer.size()));
  if (read < 0 || static_cast<std::size_t>(read) != buffer.size()) return std::nullopt;
  const std::string_view text(reinterpret_cast<const char*>(buffer.data()), buffer.size());
  return ParsePopupTopic(text, topic);
}
