// The class registration store (what HKEY_CLASSES_ROOT is to a COM host): a text file
// $XDG_CONFIG_HOME/tavoeq/registry (default $HOME/.config/tavoeq/registry) shared by every process
// of the user.
//
// Keys are paths with '\' between their parts ("CLSID\{...}\InprocServer32"); key paths and value
// names are compared without regard to ASCII letter case and keep the spelling they were first
// written with. Every value is text; the value name "" is the key's default value. Setting a value
// creates its key and every key above it.
//
// File format, one line per value (a key without values has a line of its own with the key only):
//   <key> TAB <value name, "@" for the default value> TAB <data>
// with '%', '#' (a line that begins with it is a comment), '@' in names, and control characters
// written as %XX. Lines that do not parse are ignored. Each change reads the file, changes it and writes a new file beside it, synced and
// renamed over the old one, all under an exclusive lock on "registry.lock" in the same folder: so
// concurrent writers never lose each other's values and a crash never leaves a broken file.
#pragma once

#include <string>

#include "platform/export.h"

// The registry file's path as the environment gives it now.
TAVO_PLATFORM_API std::string RegistryFilePath();

// Answers false when the key path is malformed (empty, or an empty part) or the file cannot be written.
TAVO_PLATFORM_API bool RegSetValue(const std::string& keyPath, const std::string& valueName,
                                   const std::string& data);
// False when the key or the value does not exist.
TAVO_PLATFORM_API bool RegQueryValue(const std::string& keyPath, const std::string& valueName,
                                     std::string& data);
// Deletes a key with its values. A key that does not exist, or that still has subkeys, is not
// deleted: false.
TAVO_PLATFORM_API bool RegDeleteKey(const std::string& keyPath);
TAVO_PLATFORM_API bool RegKeyExists(const std::string& keyPath);
