// The names of the language table's texts: every id a language section holds has exactly one
// name here, and code asks for a text by its name, never by its number. The general block's
// language-independent texts have names of their own (GeneralTextId): their ids are another
// numbering, and 19 there is not 19 in a language section.
//
// Each list is written once, as an X-macro, so that the enum and the list of every named id
// (which the tests hold against the table sources) cannot drift apart.
#pragma once

namespace nulvane::lang {

// clang-format off
#define NULVANE_TEXT_IDS(X)                                                                      \
  /* The main window, its toolbars and its help box. */                                         \
  X(kFillFreeSpace, 4)          /* "Fill the free space with null" */                            \
  X(kInstructions, 5)           /* the progress text at rest: how to add and delete */           \
  X(kStart, 6)                                                                                   \
  X(kStop, 7)                                                                                    \
  X(kAbort, 8)                  /* "Abort // [ESC]" during the countdown */                      \
  X(kReset, 9)                                                                                   \
  X(kCountdown, 10)             /* "The begin in %d sec. Abort with [ESC]" */                    \
  X(kProductName, 11)                                                                            \
  X(kPath, 13)                                                                                   \
  X(kReady, 14)                                                                                  \
  X(kInfoBoxCaption, 15)        /* " # Sure Delete ;)" */                                        \
  X(kOld, 16)                                                                                    \
  X(kNew, 17)                                                                                    \
  X(kErrorWord, 18)             /* "Error", counted in the run's messages */                     \
  X(kSelectOneItem, 19)                                                                          \
  X(kPreview, 20)                                                                                \
  X(kFree, 21)                                                                                   \
  X(kDate, 22)                                                                                   \
  X(kTime, 23)                                                                                   \
  X(kCurrent, 24)                                                                                \
  X(kIncludeSubfolders, 25)                                                                      \
  X(kAddFilesButton, 26)                                                                         \
  X(kAddFoldersButton, 27)                                                                       \
  X(kExit, 28)                                                                                   \
  X(kDelete, 29)                                                                                 \
  X(kDeleteAndExit, 30)                                                                          \
  X(kAreYouSure, 31)                                                                             \
  X(kCancel, 32)                                                                                 \
  X(kItems, 33)                                                                                  \
  X(kDelayEntry, 34)            /* "Delete &Delay %d sec" */                                     \
  X(kOverwriteEntry, 35)        /* "&Overwrite %d times" */                                      \
  X(kInfo, 36)                                                                                   \
  X(kError, 37)                                                                                  \
  X(kWarning, 38)                                                                                \
  X(kNoFolder, 39)              /* "Failed to get directory" */                                  \
  X(kStarting, 40)              /* "Start ..." */                                                \
  X(kTotal, 41)                                                                                  \
  X(kMinutes, 42)                                                                                \
  X(kSeconds, 43)                                                                                \
  X(kRemaining, 44)                                                                              \
  X(kElapsed, 45)                                                                                \
  X(kOf, 46)                                                                                     \
  X(kPathColumn, 47)                                                                             \
  X(kSizeColumn, 48)                                                                             \
  X(kMessagesColumn, 49)                                                                         \
  X(kWaitForWritePermission, 50)                                                                 \
  X(kAddSendTo, 51)                                                                              \
  X(kRemoveSendTo, 52)                                                                           \
  X(kOpenSendTo, 53)                                                                             \
  X(kHomepage, 54)                                                                               \
  X(kFaq, 55)                                                                                    \
  X(kDonate, 56)                                                                                 \
  X(kDeletePlus, 57)                                                                             \
  X(kEndProgram, 58)                                                                             \
  X(kShutdown, 59)                                                                               \
  /* The help box: a title line, then what the command does. */                                 \
  X(kHelpCaption, 60)                                                                            \
  X(kHelpResetTitle, 61)                                                                         \
  X(kHelpReset, 62)                                                                              \
  X(kHelpDeleteTitle, 63)                                                                        \
  X(kHelpDelete, 64)                                                                             \
  X(kHelpOverwriteTitle, 65)                                                                     \
  X(kHelpOverwrite, 66)                                                                          \
  X(kHelpDelayTitle, 67)                                                                         \
  X(kHelpDelay, 68)                                                                              \
  X(kHelpFillTitle, 69)                                                                          \
  X(kHelpFill, 70)                                                                               \
  /* The countdown before shutting down or standing by. */                                      \
  X(kStandby, 80)                                                                                \
  X(kShutdownIn, 81)                                                                             \
  X(kStandbyIn, 82)                                                                              \
  X(kCountdownSeconds, 83)                                                                       \
  X(kOk, 90)                                                                                     \
  X(kCountdownCancel, 91)                                                                        \
  /* What a run or a fill reports. */                                                           \
  X(kHardLinks, 100)                                                                             \
  X(kStoredElsewhere, 101)                                                                       \
  X(kPathTooLong, 102)                                                                           \
  X(kNotRegularFile, 103)                                                                        \
  X(kFreeSpaceUnreadable, 104)                                                                   \
  X(kFillStopped, 105)                                                                           \
  X(kChangedWhileOpening, 106)                                                                   \
  X(kOtherVolume, 107)                                                                           \
  X(kCannotList, 108)                                                                            \
  X(kCannotExamine, 109)                                                                         \
  /* The console. */                                                                            \
  X(kConsoleCountdown, 120)     /* "... Abort with Ctrl+C or [Esc]" */                           \
  X(kNotFound, 121)                                                                              \
  X(kStoppedItemsLeft, 122)                                                                      \
  X(kConsoleStopping, 123)      /* "... Press Ctrl+C again to end at once." */                   \
  X(kUnknownOption, 124)                                                                         \
  X(kNeedsWholeNumber, 125)                                                                      \
  X(kNoPathGiven, 126)                                                                           \
  X(kMoreWithHelp, 127)                                                                          \
  X(kWritten, 128)                                                                               \
  X(kUsage, 129)                                                                                 \
  X(kUsageDestroy, 130)                                                                          \
  X(kUsageList, 131)                                                                             \
  X(kUsageFill, 132)                                                                             \
  X(kUsageExportTranslation, 133)                                                                \
  X(kUsageLanguages, 134)                                                                        \
  X(kOptionPasses, 135)                                                                          \
  X(kOptionDelay, 136)                                                                           \
  X(kOptionLanguage, 137)                                                                        \
  X(kOptionQuiet, 138)                                                                           \
  X(kUsageHelp, 139)                                                                             \
  X(kUsageVersion, 140)                                                                          \
  X(kExample, 141)                                                                               \
  X(kNeedsValue, 142)                                                                            \
  X(kCannotBeWritten, 143)                                                                       \
  X(kTakesOneFolder, 144)                                                                        \
  /* What a run or a fill reports (continued). */                                               \
  X(kKeptGrowing, 150)                                                                           \
  X(kLeftBehind, 151)           /* "%s: left behind under the name %s" */                        \
  X(kReason, 152)                                                                                \
  X(kNotZero, 153)                                                                               \
  X(kCannotReadBack, 154)                                                                        \
  X(kNeverFull, 155)                                                                             \
  X(kOptionVerify, 156)                                                                          \
  X(kNotExamined, 160)                                                                           \
  X(kGone, 161)                                                                                  \
  X(kFillFolderReplaced, 162)                                                                    \
  X(kLeftoverFillFolder, 163)                                                                    \
  X(kHeldBack, 164)                                                                              \
  X(kFillOnFile, 165)                                                                            \
  X(kFillOnLink, 166)                                                                            \
  X(kFillOnOther, 167)                                                                           \
  X(kSettingsIgnored, 170)                                                                       \
  X(kCurrentFolderRefused, 171)                                                                  \
  X(kParentFolderRefused, 172)                                                                   \
  X(kOutcome, 177)              /* "Destroyed: %d, failed: %d, left untouched: %d" */            \
  X(kNothingQueued, 178)                                                                         \
  X(kSettingsNotSaved, 179)                                                                      \
  X(kExportNotWritten, 180)                                                                      \
  X(kCannotStart, 181)          /* "The work cannot start: %s" */                                \
  X(kKeysHelpTitle, 182)                                                                         \
  X(kKeysHelp, 183)                                                                              \
  X(kNoStandby, 185)                                                                             \
  X(kStandbyFailed, 186)                                                                         \
  X(kAttributeSurvives, 190)                                                                     \
  X(kShrank, 191)                                                                                \
  X(kLayered, 192)                                                                               \
  X(kAttributesUnlisted, 193)                                                                    \
  X(kStreamsUnlisted, 194)                                                                       \
  X(kFillEndsWithSession, 200)                                                                   \
  /* The lists' commands and their help. */                                                     \
  X(kRemoveFromList, 210)                                                                        \
  X(kOpenFolder, 211)                                                                            \
  X(kCopyPaths, 212)                                                                             \
  X(kCopyLog, 213)                                                                               \
  X(kSaveLog, 214)                                                                               \
  X(kClearLog, 215)                                                                              \
  X(kAddFiles, 216)                                                                              \
  X(kAddFolder, 217)                                                                             \
  X(kVerify, 218)                                                                                \
  X(kVerifiedRun, 219)                                                                           \
  X(kStoppingAfterItem, 220)                                                                     \
  X(kLogNotSaved, 221)                                                                           \
  X(kListKeysHelpTitle, 222)                                                                     \
  X(kListKeysHelp, 223)                                                                          \
  X(kVerifyHelpTitle, 224)                                                                       \
  X(kVerifyHelp, 225)                                                                            \
  X(kEnd, 255)

// The general block's ids that something reads (22, 26 and 27 are present and unread).
#define NULVANE_GENERAL_TEXT_IDS(X)                                                              \
  X(kTitle, 19)                 /* the product name and version */                              \
  X(kGermanHomeLink, 20)        /* the home address the link button shows in German */          \
  X(kHomeLink, 21)              /* the same in every other language, also the donation base */  \
  X(kGermanHomeBase, 23)        /* the German address with its slash: the help links' base */   \
  X(kHomeBase, 24)              /* the same in every other language */                          \
  X(kTranslatorsNote, 25)       /* the request the translation export writes first */
// clang-format on

#define NULVANE_ENUMERATOR(name, number) name = number,
enum class TextId : int { NULVANE_TEXT_IDS(NULVANE_ENUMERATOR) };
enum class GeneralTextId : int { NULVANE_GENERAL_TEXT_IDS(NULVANE_ENUMERATOR) };
#undef NULVANE_ENUMERATOR

// Every named id, in table order.
#define NULVANE_LISTED(name, number) TextId::name,
inline constexpr TextId kNamedTextIds[] = {NULVANE_TEXT_IDS(NULVANE_LISTED)};
#undef NULVANE_LISTED
#define NULVANE_LISTED(name, number) GeneralTextId::name,
inline constexpr GeneralTextId kNamedGeneralTextIds[] = {NULVANE_GENERAL_TEXT_IDS(NULVANE_LISTED)};
#undef NULVANE_LISTED

}  // namespace nulvane::lang
