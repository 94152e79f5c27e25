#include "lang/translation_export.h"

#include <vector>

#include "platform/ini.h"
#include "platform/system.h"

namespace nulvane::lang {

Text BuildTranslationExport(const LanguageTable& table) {
  const char16_t* request = table.GetGeneralText(GeneralTextId::kTranslatorsNote);
  const char16_t* title = table.GetGeneralText(GeneralTextId::kTitle);
  Text text;
  // Sized from the content: the default section grows with every new text.
  text.reserve(table.DefaultSectionCopy().size() + 512);
  text += u'\xFEFF';
  if (request) text += request;
  text += u"\r\n";
  text += u"Please don't forget! Write in e-mail subject: Strings for: ";
  if (title) text += title;
  text += u" LNG:xxxxxx";
  text += u"\r\n\r\n";
  text += table.DefaultSectionCopy();
  text += u"\r\n\r\n";
  return text;
}

bool WriteTranslationExport(const LanguageTable& table, TextView path) {
  const Text text = BuildTranslationExport(table);
  std::vector<unsigned char> bytes;
  bytes.reserve(text.size() * 2);
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
    bytes.push_back(static_cast<unsigned char>(unit >> 8));
  }
  return platform::WriteFileAtomically(path, bytes.data(), bytes.size());
}

Text TranslationExportPath() { return platform::TempFolder() + u"translate_11.txt"; }

bool ExportTranslation() {
  const Text path = TranslationExportPath();
  if (!WriteTranslationExport(Table(), path)) return false;
  platform::OpenWithShell(path);
  return true;
}

}  // namespace nulvane::lang
