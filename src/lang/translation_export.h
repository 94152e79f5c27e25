// The translators' export: the default language's section with a short request, written as a
// UTF-16LE text file into the user's temporary folder and opened with the shell.
#pragma once

#include "lang/language_table.h"
#include "platform/text.h"

namespace nulvane::lang {

// The file's text, byte-order mark first: the translators' note (kTranslatorsNote), the subject
// line with " LNG:xxxxxx", the default section verbatim, each part followed by its line breaks.
Text BuildTranslationExport(const LanguageTable& table);

// Writes the export to `path` whole or not at all (a temporary file, then a rename).
bool WriteTranslationExport(const LanguageTable& table, TextView path);

// translate_11.txt in the user's temporary folder.
Text TranslationExportPath();

// The language menu's "Translate": writes the file and, once it is written, opens it with the
// shell. Returns whether the file was written.
bool ExportTranslation();

}  // namespace nulvane::lang
