// The debug log file: one file per day in a folder, each line opened, appended and closed.
#pragma once

#include <string>
#include <string_view>

#include "platform/date_time.h"

// "<folder>/Debug_yyyy.mm.dd.log" for the given day.
std::string DebugLogFileNameIn(std::string_view folder, TDateTime now);
// The log folder: logPath when such a directory exists, else the folder of this module's file.
std::string DebugLogFolder(std::string_view logPath);
// One log line, CR LF included: time stamp, " Inst.: ", instance, tab, prefix and, unless
// prefixOnly, ": ", a tab and the text.
std::string FormatDebugLogLine(TDateTime now, std::string_view instanceId, std::string_view prefix,
                               std::string_view text, bool prefixOnly);
// Appends the text to the file (created when missing) and closes it; false on any I/O error.
bool AppendToFile(const std::string& fileName, std::string_view text) noexcept;
