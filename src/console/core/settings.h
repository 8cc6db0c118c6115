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
#include <utility>
#include <vector>

namespace ondaria {

// Directory of the running program file (from /proc/self/exe), no trailing slash.
std::string programDirectory();

// Directory that holds "Lumare.ini": $XDG_CONFIG_HOME/lumare (default
// ~/.config/lumare) unless Lumare.ini is missing there but present in the system
// directory $LUMARE_SYSTEM_DIR (default /etc/lumare). No trailing slash.
std::string settingsDirectory();

// A key of the shared settings file with the fallback copy and the directory
// shorthands expanded; empty when absent. A value that is exactly "@" is the
// program's directory; otherwise, in one pass from left to right, "@@\" becomes
// the settings directory and "@\" the family's program directory (LUMARE/
// PGMLUMARE, itself expanded; the program's directory when it is empty or
// begins with "@"), each keeping the separator written ("/" works as "\").
// Inserted directories are not expanded again.
std::string readSetting(const std::string& section, const std::string& key);

// The user's own settings directory ($XDG_CONFIG_HOME/lumare, default
// ~/.config/lumare) and the system-wide one ($LUMARE_SYSTEM_DIR, default
// /etc/lumare), whatever settingsDirectory chose. No trailing slash.
std::string userSettingsDirectory();
std::string systemSettingsDirectory();

// Turns the fallback copy (the system directory's Lumare.ini) on or off; the
// speech front-end decides this when it starts (setting "LEGADO").
void setSettingsFallback(bool on);
bool settingsFallback();

// Private-profile operations on any INI file (layout, what a file can hold and
// what is refused: console/core/ini_text.h). `file` is a path in program text
// ("\" or "/" separators); a bare file name means the file of that name in the
// system directory. A value is read whole, however long: only what the user
// types has a length limit, never what is stored.
std::string readProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultValue, const std::string& file);
// Creates the file and the section on first write. Returns false, leaving the
// file as it was, when the file cannot be written or the layout cannot hold the
// names or value (a line break or NUL anywhere; a key that holds "=" or begins
// with ";" or "["; an empty name).
bool writeProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file);
// Removes the key (every copy of it); an empty key removes the whole section.
// Nothing to remove is success. False when the file cannot be written.
bool eraseProfileEntry(const std::string& section, const std::string& key,
                       const std::string& file);

// Why an INI file cannot be read: 0 when it can, or when nothing is there (a
// missing file reads as empty); otherwise the system's error number (EACCES
// for a file without read permission, EISDIR for a folder, ...).
int profileReadError(const std::string& file);

// Section names of the file in file order; keys of one section in file order.
// Each name once (first spelling); a list holds at most 128000 characters,
// counting a terminating zero after each name and one at the end: names that do
// not fit whole are left out.
std::vector<std::string> profileSectionNames(const std::string& file);
std::vector<std::string> profileKeyNames(const std::string& section, const std::string& file);

// The keys of profileKeyNames(section, file) with the value readProfileString
// gives for each, in one call: the fast way to read a whole category, since
// every single read checks the file on disk.
std::vector<std::pair<std::string, std::string>> readProfileSection(const std::string& section,
                                                                   const std::string& file);

// Converts a path read from settings ("\" or "/" separate directories) to the
// form the system's file calls take: "/" separators and UTF-8 names. A path
// already in that form is returned unchanged, so converting twice is harmless.
// The result is for file calls, not for showing (program text is cp1252).
std::string nativePath(const std::string& path);

// Back to the state at program start: fallback on, no cached files, no test hook.
void resetSettingsState();

}  // namespace ondaria
