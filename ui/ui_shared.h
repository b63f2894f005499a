// The decisions both front-ends (Windows dialogs, POSIX terminal) share. The
// front-ends only show and ask; what an answer means is decided here, so it
// can be tested without a window or a terminal.
#ifndef KV_UI_SHARED_H
#define KV_UI_SHARED_H

#include <cstddef>
#include <cstdint>

#include "../archive/job_types.h"
#include "../fileio/kv_base.h"
#include "../launcher/lang_format.h"

// Results of the overwrite callback.
enum : int { OVERWRITE_REPLACE = 0, OVERWRITE_KEEP = 1, OVERWRITE_STOP = 2 };
// Buttons of the overwrite question, as the dialog ends with them.
enum : int { ANSWER_REPLACE = 1, ANSWER_CANCEL = 2, ANSWER_KEEP = 7, ANSWER_REPLACE_ALL = 1108 };

// Name part of the entry being extracted, shown on the progress line.
extern char g_statusName[PATH_BUF_SIZE];

// Forgets what a previous run left behind (status name, remembered password).
void UiResetRun();

// onEntryStart: counts the entry and keeps its name part. 0 once cancelled
// (nothing is counted then).
int UiNoteEntryStart(const char *entryName);

// Password rules. UiPasswordMustAsk answers 1 when the user has to be asked:
// nothing typed yet, or the engine reports the remembered password as the one
// it tried last (it was rejected); the remembered password is then cleared.
int UiPasswordMustAsk(const char *lastTried);
void UiPasswordRemember(const char *typed);
const char *UiPasswordRemembered();
// Hands the remembered password to the engine, cut to PASSWORD_MAX - 1 characters.
void UiPasswordHandOut(char *out);

// Next volume: the offered folder is the directory part of the expected path
// (trailing backslash kept); the prompt is LANG_DISK_PROMPT or, for the last
// volume (number -1), LANG_DISK_PROMPT_LAST.
void UiVolumeOffer(const char *expectedPath, char *folder, size_t size);
void UiVolumePromptText(int32_t volume, const char *offered, char *out, size_t size);
// Tidies what the user typed when it differs from the offer: empty gives the
// offer back, a drive letter its root ("D" -> "D:\", "D:" -> "D:\").
void UiVolumeTidy(char *folder, size_t size, const char *offered);

// The overwrite callback's answer before any question: -1 to ask, otherwise
// the result (stop once cancelled, replace once "replace all" was chosen).
int UiOverwriteBeforeAsking();
// Maps the dialog's end value to the callback's result. Replace-all sets
// g_overwriteAll. A value no button gives (the dialog could not be created)
// stops the run: the engine knows no other answer.
int UiOverwriteFromAnswer(int answer);

// Size part of a file's description line: the language string to use
// (LANG_OW_SIZE_BYTES or LANG_OW_SIZE_KB) and the value to insert.
int UiFileSizeValue(uint32_t sizeHigh, uint32_t sizeLow, int32_t *value);

// Progress line text: "name (p %)" or, without a name, "p %".
void UiProgressText(char *out, size_t size, const char *name, long percent);
// Right end of the done part of a bar whose inner area ends at right.
int UiProgressSplit(long percent, int right);

// Position of a window of the given size centred over [overStart, overStart +
// overSize) and kept on a screen of screenSize (0 when it does not fit).
int UiCentrePosition(int overStart, int overSize, int size, int screenSize);

#endif
