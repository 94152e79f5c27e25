#include "app/list_menus.h"

namespace nulvane::app {

namespace {

using lang::TextId;

// Virtual-key codes, as the system numbers them (the rules here need no window header).
constexpr unsigned kKeyDelete = 0x2E;
constexpr unsigned kKeyInsert = 0x2D;
constexpr unsigned kKeyApps = 0x5D;
constexpr unsigned kKeyF10 = 0x79;

MenuEntry Entry(const lang::LanguageTable& table, int id, TextId text_id, bool grayed = false) {
  MenuEntry entry;
  entry.id = id;
  const char16_t* text = table.GetText(text_id);
  entry.text = text ? Text(text) : Text();
  entry.grayed = grayed;
  return entry;
}

MenuEntry Separator() {
  MenuEntry entry;
  entry.kind = MenuEntry::Kind::kSeparator;
  return entry;
}

}  // namespace

MenuModel ItemListMenu(const lang::LanguageTable& table, bool has_selection, bool run_active) {
  return {Entry(table, kListCommandRemove, TextId::kRemoveFromList, !has_selection || run_active),
          Entry(table, kListCommandOpenFolder, TextId::kOpenFolder, !has_selection),
          Entry(table, kListCommandCopyPaths, TextId::kCopyPaths, !has_selection),
          Separator(),
          Entry(table, kMenuCommandAddFiles, TextId::kAddFiles),
          Entry(table, kMenuCommandAddFolder, TextId::kAddFolder)};
}

MenuModel MessageListMenu(const lang::LanguageTable& table) {
  return {Entry(table, kLogCommandCopy, TextId::kCopyLog),
          Entry(table, kLogCommandSave, TextId::kSaveLog), Separator(),
          Entry(table, kLogCommandClear, TextId::kClearLog)};
}

MenuModel MenuBarListEntries(const lang::LanguageTable& table, bool verify) {
  MenuEntry verify_entry = Entry(table, kMenuCommandVerify, TextId::kVerify);
  verify_entry.checked = verify;
  return {Separator(), Entry(table, kMenuCommandAddFiles, TextId::kAddFiles),
          Entry(table, kMenuCommandAddFolder, TextId::kAddFolder), std::move(verify_entry)};
}

int ListCommandForKey(const ListKey& key) {
  if (key.virtual_key == kKeyDelete && !key.control && !key.shift) {
    return key.focus == ListFocus::kItemList ? kListCommandRemove : 0;
  }
  if (key.virtual_key == kKeyInsert && !key.control && !key.shift) return kMenuCommandAddFiles;
  if (key.virtual_key == 'O' && key.control) {
    return key.shift ? kMenuCommandAddFolder : kMenuCommandAddFiles;
  }
  if (!key.control || key.shift) return 0;
  switch (key.focus) {
    case ListFocus::kItemList:
      if (key.virtual_key == 'C') return kListCommandCopyPaths;
      if (key.virtual_key == 'E') return kListCommandOpenFolder;
      return 0;
    case ListFocus::kMessageList:
      if (key.virtual_key == 'C') return kLogCommandCopy;
      if (key.virtual_key == 'S') return kLogCommandSave;
      if (key.virtual_key == 'L') return kLogCommandClear;
      return 0;
    case ListFocus::kNone:
      return 0;
  }
  return 0;
}

bool IsContextMenuKey(const ListKey& key) {
  if (key.focus == ListFocus::kNone) return false;
  return (key.virtual_key == kKeyApps && !key.control) ||
         (key.virtual_key == kKeyF10 && key.shift && !key.control);
}

}  // namespace nulvane::app
