// The Windows front-end: the main dialog, the progress line and the prompts
// the engine's callbacks raise. One thread; the callbacks keep the dialog
// alive by draining the message queue.
#ifndef KV_WIN_UI_H
#define KV_WIN_UI_H

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "../../archive/job_types.h"

// The main dialog while it exists: owner of every prompt and target of the
// progress updates. Null in unattended runs.
extern HWND g_mainWindow;

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// 0 when the typed folder is too long for a path: the dialog stays open.
int OnExtract(HWND dialog);
// Reads a folder box into a PATH_BUF_SIZE buffer. The box counts characters
// and a path bytes (up to four a character in UTF-8): a longer text would be
// cut into another folder, so it is refused with string 55 and 0 returned.
int ReadFolderBox(HWND dialog, int id, char *out);
int ShowPremessage();
int BrowseForFolder(HWND owner, char *path, const char *title);
void CenterWindow(HWND window, HWND over);
void PumpMessages();
void ToLongPath(char *path, size_t size);
HINSTANCE UiInstance();

// Progress control 1050, subclassed at initialisation.
extern WNDPROC g_progressPrevProc;
LRESULT CALLBACK ProgressWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The engine's callbacks (slots 2, 6, 7, 4, 8).
int OnFileStart(uintptr_t user, const char *entryName, const char *outputPath);
int OnProgress(uintptr_t user, uint32_t percent, uint32_t chunkBytes);
int OnOverwriteQuery(uintptr_t user, const FindRecord *existing, const FindRecord *incoming);
int OnPasswordNeeded(uintptr_t user, const char *lastTried, char *out, const char *outputPath);
int OnNextVolume(uintptr_t user, char *path, uint32_t zero, int32_t volume, int32_t volumeAgain);

// Puts the functions above into slots 2, 4, 6, 7 and 8 of a cleared table.
void UiFillCallbacks(ExtractCallbacks *table);

#endif
