#include "app/menus.h"

#include <utility>
#include <vector>

#include "app/list_menus.h"
#include "platform/format.h"

namespace nulvane::app {
namespace {

using lang::GeneralTextId;
using lang::TextId;

// The help box's pairs, in order: a title line, then what it names. The five commands first,
// then the keys of the window, of the lists, and the verified destruction.
constexpr std::pair<TextId, TextId> kHelpPairs[] = {
    {TextId::kHelpResetTitle, TextId::kHelpReset},
    {TextId::kHelpDeleteTitle, TextId::kHelpDelete},
    {TextId::kHelpOverwriteTitle, TextId::kHelpOverwrite},
    {TextId::kHelpDelayTitle, TextId::kHelpDelay},
    {TextId::kHelpFillTitle, TextId::kHelpFill},
    {TextId::kKeysHelpTitle, TextId::kKeysHelp},
    {TextId::kListKeysHelpTitle, TextId::kListKeysHelp},
    {TextId::kVerifyHelpTitle, TextId::kVerifyHelp}};

constexpr int kGermanSlot = 0;

constexpr TextView kJoin = u" + ";

TextView TextOf(const lang::LanguageTable& table, TextId id) {
  const char16_t* text = table.GetText(id);
  return text ? TextView(text) : TextView();
}

MenuEntry Item(int id, Text text) {
  MenuEntry entry;
  entry.id = id;
  entry.text = std::move(text);
  return entry;
}

MenuEntry Separator() {
  MenuEntry entry;
  entry.kind = MenuEntry::Kind::kSeparator;
  return entry;
}

Text Joined(const lang::LanguageTable& table, TextId first, TextId second) {
  Text text(TextOf(table, first));
  text += kJoin;
  text += TextOf(table, second);
  return text;
}

// The four after-run choices, shared by the "Delete +" popup and the fill submenu.
MenuModel AfterRunChoices(const lang::LanguageTable& table, int end, int shutdown, int standby,
                          int end_and_standby) {
  return {Item(end, Text(TextOf(table, TextId::kEndProgram))),
          Item(shutdown, Text(TextOf(table, TextId::kShutdown))),
          Item(standby, Text(TextOf(table, TextId::kStandby))),
          Item(end_and_standby, Joined(table, TextId::kEndProgram, TextId::kStandby))};
}

// Addresses may not carry blanks, and the sites spell "ö" as "oe".
Text CleanAddress(TextView address) {
  Text clean;
  clean.reserve(address.size() + 8);
  for (char16_t c : address) {
    if (c == u' ') continue;
    if (c == u'\u00F6') {
      clean += u"oe";
      continue;
    }
    clean.push_back(c);
  }
  return clean;
}

}  // namespace

int ClampOverwriteLabelCount(int stored_count) {
  if (stored_count < 1) return 1;
  return stored_count > kOverwriteCounts.back() ? kOverwriteCounts.back() : stored_count;
}

MenuModel OverwriteMenu(const lang::LanguageTable& table, int stored_count) {
  MenuModel menu;
  menu.reserve(kOverwriteCounts.size());
  for (int count : kOverwriteCounts) {
    MenuEntry entry = Item(count, platform::Format(TextOf(table, TextId::kOverwriteEntry), count));
    entry.checked = count == stored_count;
    menu.push_back(std::move(entry));
  }
  return menu;
}

MenuModel DelayMenu(const lang::LanguageTable& table, int delay) {
  MenuModel menu;
  menu.reserve(kDelayEntries);
  for (int seconds = 0; seconds < kDelayEntries; ++seconds) {
    MenuEntry entry = Item(kDelayEntryBase + seconds,
                           platform::Format(TextOf(table, TextId::kDelayEntry), seconds));
    entry.checked = seconds == delay;
    menu.push_back(std::move(entry));
  }
  return menu;
}

MenuModel LanguageMenu(const lang::LanguageTable& table) {
  MenuModel menu;
  for (int slot = 0; slot < table.SlotCount() && slot < lang::kMaxSlots; ++slot) {
    const char16_t* name = table.SlotName(slot);
    if (!name || TextView(name).size() <= 5) continue;
    MenuEntry entry = Item(kLanguageEntryBase + slot, Text(name));
    entry.grayed = slot == table.CurrentLanguage();
    menu.push_back(std::move(entry));
  }
  menu.push_back(Separator());
  menu.push_back(Item(kTranslateEntry, u"Translate"));
  return menu;
}

MenuModel DeletePlusMenu(const lang::LanguageTable& table) {
  return AfterRunChoices(table, kMenuCommandEndProgram, kMenuCommandShutdown, kMenuCommandStandby,
                         kMenuCommandEndAndStandby);
}

MenuModel MenuBarMenu(const lang::LanguageTable& table, bool in_send_to) {
  MenuEntry fill_plus =
      Item(kMenuCommandFillPlus, Text(TextOf(table, TextId::kFillFreeSpace)) + Text(kJoin));
  fill_plus.kind = MenuEntry::Kind::kSubmenu;
  fill_plus.submenu = AfterRunChoices(table, kMenuCommandFillEndProgram, kMenuCommandFillShutdown,
                                      kMenuCommandFillStandby, kMenuCommandFillEndAndStandby);
  MenuEntry add_send_to = Item(kMenuCommandAddSendTo, Text(TextOf(table, TextId::kAddSendTo)));
  add_send_to.checked = in_send_to;

  // "&" + the name: Alt+N opens it, and the bar underlines the N while Alt is held.
  MenuEntry popup = Item(0, u"&" + Text(kProgramName));
  popup.kind = MenuEntry::Kind::kSubmenu;
  popup.submenu = {Item(kMenuCommandInfo, Text(TextOf(table, TextId::kInfo))),
                   Separator(),
                   Item(kMenuCommandFill, Text(TextOf(table, TextId::kFillFreeSpace))),
                   std::move(fill_plus),
                   Separator(),
                   std::move(add_send_to),
                   Item(kMenuCommandRemoveSendTo, Text(TextOf(table, TextId::kRemoveSendTo))),
                   Item(kMenuCommandOpenSendTo, Text(TextOf(table, TextId::kOpenSendTo))),
                   Separator(),
                   Item(kMenuCommandFaq, u"FAQ"),
                   Item(kMenuCommandDonate, Text(TextOf(table, TextId::kDonate))),
                   Item(kMenuCommandHomePage,
                        Text(kProgramName) + u" " + Text(TextOf(table, TextId::kHomepage))),
                   Separator(),
                   Item(kCommandCancel, Text(TextOf(table, TextId::kExit)))};
  // Adding without dragging and the verified destruction follow Info.
  MenuModel list_entries = MenuBarListEntries(table, false);
  popup.submenu.insert(popup.submenu.begin() + 1, std::make_move_iterator(list_entries.begin()),
                       std::make_move_iterator(list_entries.end()));
  MenuModel menu;
  menu.push_back(std::move(popup));
  return menu;
}

Text HelpText(const lang::LanguageTable& table) {
  Text help;
  bool first = true;
  for (const auto& [title, body] : kHelpPairs) {
    if (!first) help += u"\r\n";
    first = false;
    help += TextOf(table, title);
    help += u"\r\n";
    help += TextOf(table, body);
    help += u"\r\n";
  }
  return help;
}

Text HomeAddress(const lang::LanguageTable& table) {
  const char16_t* home =
      table.GetGeneralText(table.CurrentLanguage() == kGermanSlot ? GeneralTextId::kGermanHomeBase
                                                                  : GeneralTextId::kHomeBase);
  return home ? Text(home) : Text();
}

Text FaqAddress(const lang::LanguageTable& table) {
  Text home = HomeAddress(table);
  if (home.empty()) return home;
  return home + u"?faq-" + Text(kProgramName) + u"&faq=0";
}

Text HomePageAddress(const lang::LanguageTable& table) {
  Text home = HomeAddress(table);
  if (home.empty()) return home;
  return CleanAddress(home + u"?seite=Microsoft/" + Text(kProgramName));
}

Text DonateAddress(const lang::LanguageTable& table) {
  const char16_t* site = table.GetGeneralText(GeneralTextId::kHomeLink);
  if (!site) return Text();
  return CleanAddress(Text(site) + u"?paypal" + u"&item_name=Freeware Quorvell " + u"program" +
                      u" " + Text(kProgramName));
}

}  // namespace nulvane::app
