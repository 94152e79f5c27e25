#include "settings/settings.h"

#include <mutex>

#include "platform/format.h"
#include "platform/ini.h"
#include "platform/system.h"

namespace nulvane::settings {

namespace {

// The settings file path is set once at start-up and read by every later call; the lock keeps
// a test that switches files from racing a reader.
std::mutex g_path_mutex;
Text g_settings_path;

const Text ResolveFile(const Text* file) {
  if (file) return *file;
  std::lock_guard lock(g_path_mutex);
  return g_settings_path;
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace

Text SettingsPathFor(TextView executable) {
  // Only the executable's own file name may lose its extension: a "." further left belongs
  // to a folder, and cutting there would put the settings file outside the program's folder.
  std::size_t name_start = 0;
  for (std::size_t i = executable.size(); i > 0; --i) {
    if (IsSeparator(executable[i - 1])) {
      name_start = i;
      break;
    }
  }
  const std::size_t dot = executable.rfind(u'.');
  Text path(executable);
  if (dot != TextView::npos && dot >= name_start) path.resize(dot);
  return path + u".ini";
}

void UseSettingsFile(TextView path) {
  std::lock_guard lock(g_path_mutex);
  g_settings_path = Text(path);
}

Text SettingsFile() {
  std::lock_guard lock(g_path_mutex);
  return g_settings_path;
}

bool SettingsFileIgnored() {
  const Text path = SettingsFile();
  return !path.empty() && platform::CheckIniFile(path) == platform::IniFileState::kIgnored;
}

int DefaultLanguageIndex() {
  switch (platform::SystemDefaultLanguageId()) {
    case 0x0407:
    case 0x0807:
    case 0x0C07:
    case 0x1007:
      return 0;
    default:
      return 1;
  }
}

int InitSettingsFile() {
  const Text path = SettingsPathFor(platform::ExecutablePath());
  UseSettingsFile(path);
  // A folder that cannot take the file (read-only media) is not an error: every read then
  // yields its default and every write fails quietly.
  platform::EnsureHiddenFile(path);
  return GetProgramInt(kLanguageKey, DefaultLanguageIndex());
}

int GetIniString(TextView section, TextView key, Text& value, const Text* file) {
  const Text path = ResolveFile(file);
  value.clear();
  if (path.empty() || !platform::ReadIniValue(path, section, key, value)) return 0;
  if (value.size() > 1023) value.resize(1023);
  return static_cast<int>(value.size());
}

bool PutIniString(TextView section, TextView key, TextView value, const Text* file) {
  const Text path = ResolveFile(file);
  return !path.empty() && platform::WriteIniValue(path, section, key, value);
}

int GetIniInt(TextView section, TextView key, int fallback, int min, int max, const Text* file) {
  Text text;
  int value = GetIniString(section, key, text, file) > 0 ? platform::ParseDecimal(text) : fallback;
  if (min != -1 && max != -1) {
    if (value > max) value = max;
    if (value < min) value = min;
  }
  return value;
}

bool PutIniInt(TextView section, TextView key, int value, const Text* file) {
  return PutIniString(section, key, platform::Format(u"%d", value), file);
}

int GetProgramInt(TextView key, int fallback) {
  return GetIniInt(kProgramSection, key, fallback, -1, -1);
}

bool PutProgramInt(TextView key, int value) { return PutIniInt(kProgramSection, key, value); }

void GetOptionInt(TextView key, int& value) {
  value = GetIniInt(kOptionSection, key, value, -1, -1);
}

bool PutOptionInt(TextView key, const int& value) { return PutIniInt(kOptionSection, key, value); }

}  // namespace nulvane::settings
