// Special folders by their CSIDL numbers, the ones this system uses:
//  - CSIDL_COMMON_APPDATA (data shared by every user): $TAVO_COMMON_APPDATA when set, else
//    /var/lib/tavoeq;
//  - CSIDL_APPDATA (the user's data): $XDG_DATA_HOME when set to an absolute path, else
//    $HOME/.local/share.
// The path comes WITHOUT a trailing '/' (the caller appends it) and there is no fallback from one
// folder to the other here: the caller decides that, and does it once.
#pragma once

#include <string>

#include "platform/export.h"

constexpr int CSIDL_APPDATA = 26;
constexpr int CSIDL_COMMON_APPDATA = 35;

// True when the folder exists (or, with create, could be made with its parents) and the user may
// write in it; path is the folder then. False for any other CSIDL, and for a folder that is missing
// or not writable (path is empty then).
TAVO_PLATFORM_API bool GetSpecialFolderPath(int csidl, bool create, std::string& path);

// The user's home folder: $HOME when set, else the password database's entry.
TAVO_PLATFORM_API std::string HomeFolder();
// An XDG base folder: the variable when it holds an absolute path, else the home folder followed
// by fallbackUnderHome (such as ".config"). Without a trailing '/'.
TAVO_PLATFORM_API std::string XdgBaseFolder(const char* variable, const char* fallbackUnderHome);
