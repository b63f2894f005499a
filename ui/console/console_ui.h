// The POSIX terminal front-end: the same callbacks and language strings as
// the Windows dialogs, asked on the terminal. Questions read standard input
// and are asked on standard error; without a terminal on standard input
// every question is answered with cancel.
#ifndef KV_CONSOLE_UI_H
#define KV_CONSOLE_UI_H

#include <cstddef>
#include <cstdint>

#include "../../archive/job_types.h"

// Terminal helpers (console_io.cpp).
int ConsoleHasTerminal();
// Makes Ctrl+C a cancel: it sets g_cancelRequested and ends a pending read;
// a second Ctrl+C ends the program.
void ConsoleCatchInterrupt();
// Reads one line without its line end. 1 with the line; 0 on end of input,
// an interrupt or without a terminal. Without echo for passwords.
int ConsoleReadLine(const char *prompt, char *out, size_t size, int echo);
// Offers numbered choices (language strings; '&' hotkey marks are shown as
// the letter in brackets). Enter picks defaultIndex (-1: none). Returns the
// chosen index, or -1 for cancel (no terminal, end of input, interrupt).
int ConsoleChoose(const int *strings, int count, int defaultIndex);
// Offers a folder (program path form) for editing; Enter keeps it. 1 with
// the folder in program form, 0 for cancel.
int ConsoleEditFolder(const char *label, char *folder, size_t size);
// Prints a language text (escapes already expanded) followed by a line end.
void ConsolePrint(const char *text);
// Program path ('\') to what the user sees ('/'), and back.
void ConsoleShowPath(const char *path, char *out, size_t size);
void ConsoleTakePath(const char *typed, char *out, size_t size);
// Date and time text of a UTC file time in local time.
void ConsoleFileTimeText(uint64_t fileTime, char *date, size_t dateSize, char *time, size_t timeSize);

// The engine's callbacks (console_callbacks.cpp).
int ConsoleFileStart(uintptr_t user, const char *entryName, const char *outputPath);
int ConsoleProgress(uintptr_t user, uint32_t percent, uint32_t chunkBytes);
int ConsoleOverwrite(uintptr_t user, const FindRecord *existing, const FindRecord *incoming);
int ConsolePassword(uintptr_t user, const char *lastTried, char *out, const char *outputPath);
int ConsoleNextVolume(uintptr_t user, char *path, uint32_t zero, int32_t volume, int32_t volumeAgain);
int ConsoleEntryDone(uintptr_t user, const char *entryName, const char *outputPath, int operation, uint32_t sizeLow,
                     uint32_t sizeHigh, uint32_t packedLow, uint32_t packedHigh, int32_t errorCode);
// Ends a progress line that is still open (before anything else is printed).
void ConsoleEndProgressLine();
// Prints the end message of a failed run on standard error, followed by the
// path of the entry that failed, when one did.
void ConsolePrintFailure(int32_t error, const char *text);
// Puts the functions above into slots 2, 4, 6, 7, 8 and 9 of a cleared table.
void ConsoleFillCallbacks(ExtractCallbacks *table);

// The interactive session (console_session.cpp): title, start-up message,
// target folder, start or cancel, extraction, run-after. Sets g_lastError.
void ConsoleSession();

#endif
