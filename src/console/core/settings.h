// The shared settings file "Lumare.ini" and the INI operations the whole
// program uses (also on the station list file).
//
// INI files are Windows-1252 text with CR LF line ends: "[section]" lines, then
// "key=value" lines. Section and key names match without regard to case. Every
// write replaces the file atomically (a temporary file in the same directory,
// flushed, then renamed over the old one), so a crash mid-write leaves the old
// file whole; a write into a missing or read-only directory fails and reports
// false. Lines a write does not touch are kept byte for byte.
#pragma once

#include <string>
#include <vector>

namespace ondaria {

// Directory of the running program file (from /proc/self/exe), no trailing slash.
std::string programDirectory();

// Directory that holds "Lumare.ini": $XDG_CONFIG_HOME/lumare (default
// ~/.config/lumare) unless Lumare.ini is missing there but present in the system
// directory $LUMARE_SYSTEM_DIR (default /etc/lumare). No trailing slash.
std::string settingsDirectory();

// A key of the shared settings file with the fallback copy and the "@", "@@\"
// and "@\" directory shorthands expanded; empty when absent.
std::string readSetting(const std::string& section, const std::string& key);

// Turns the fallback copy (the system directory's Lumare.ini) on or off; the
// speech front-end decides this when it starts (setting "LEGADO").
void setSettingsFallback(bool on);
bool settingsFallback();

// Private-profile operations on any INI file. Values are at most 255 characters.
std::string readProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultValue, const std::string& file);
// Creates the section on first write; returns false when the file cannot be written.
bool writeProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file);
// Removes the key; an empty key removes the whole section. False when the file
// cannot be written.
bool eraseProfileEntry(const std::string& section, const std::string& key,
                       const std::string& file);

// Section names of the file in file order; keys of one section in file order.
std::vector<std::string> profileSectionNames(const std::string& file);
std::vector<std::string> profileKeyNames(const std::string& section, const std::string& file);

// Converts a path read from settings ("\" or "/" separate directories) to the
// form the system uses.
std::string nativePath(const std::string& path);

}  // namespace ondaria
