// The settings store: one INI file beside the executable, integers only, no cache. Every read
// goes to the file, so a value written by one operation is seen by the next read.
#pragma once

#include "platform/text.h"

namespace nulvane::settings {

// Sections and keys: the complete set the program reads or writes.
inline constexpr char16_t kProgramSection[] = u"Program";
inline constexpr char16_t kOptionSection[] = u"NewFileTime";
inline constexpr char16_t kLanguageKey[] = u"lng";
inline constexpr char16_t kPassesKey[] = u"re_write";
inline constexpr char16_t kDelayKey[] = u"del_delay";
// 1: every file is read back after its last pass (the console's --verify); 0 or missing: not.
inline constexpr char16_t kVerifyKey[] = u"verify";
// Section "Program": the main window's last normal rectangle in workspace coordinates, the DPI
// it had then, and 1 when it was maximised.
inline constexpr char16_t kWindowXKey[] = u"win_x";
inline constexpr char16_t kWindowYKey[] = u"win_y";
inline constexpr char16_t kWindowWidthKey[] = u"win_w";
inline constexpr char16_t kWindowHeightKey[] = u"win_h";
inline constexpr char16_t kWindowDpiKey[] = u"win_dpi";
inline constexpr char16_t kWindowMaximizedKey[] = u"win_max";

// The settings file that belongs to `executable`: the extension of the executable's own file
// name replaced by ".ini", or ".ini" appended when the file name has none. A "." in a folder
// name never counts (C:\a.b\prog gives C:\a.b\prog.ini, not C:\a.ini).
Text SettingsPathFor(TextView executable);

// Makes `path` the settings file of every later call that names no other file.
void UseSettingsFile(TextView path);
// The settings file in use (empty until InitSettingsFile or UseSettingsFile).
Text SettingsFile();

// Whether a settings file stands under the name in use but is ignored: it is not a regular
// file of at most 1 MiB, or it cannot be read. Every read then gives the default and every
// write fails; a front end says so once.
bool SettingsFileIgnored();

// Start-up: uses the file beside the executable, creates it empty (and hidden) when missing,
// and reads "lng" (default 0 on a German system, else 1). Returns that language index; the
// caller makes it the current language. A file that cannot be created is not reported.
int InitSettingsFile();

// The default of "lng" on this system: 0 for the German language ids, else 1.
int DefaultLanguageIndex();

// Reads an integer: the decimal value of the key, or `fallback` when the key is missing or
// empty. When neither `min` nor `max` is -1 the value is then clamped (lowered to `max`, then
// raised to `min`). `file` null means the settings file.
int GetIniInt(TextView section, TextView key, int fallback, int min, int max,
              const Text* file = nullptr);
bool PutIniInt(TextView section, TextView key, int value, const Text* file = nullptr);
// Reads a value's text into `value` (at most 1023 characters); returns its length, 0 when
// missing or empty.
int GetIniString(TextView section, TextView key, Text& value, const Text* file = nullptr);
bool PutIniString(TextView section, TextView key, TextView value, const Text* file = nullptr);

// Section "Program", no clamping.
int GetProgramInt(TextView key, int fallback);
bool PutProgramInt(TextView key, int value);
// Section "NewFileTime": `value`'s content is the default and receives the result, unclamped.
void GetOptionInt(TextView key, int& value);
bool PutOptionInt(TextView key, const int& value);

}  // namespace nulvane::settings
