// The two engine services that the decoders and ciphers call back into.
#include <cstring>

#include "job_types.h"

int ReportProgress(ArchiveContext *archive, const EntryProgress *progress, const ExtractCallbacks *callbacks) {
  if (!callbacks->onProgress.fn) return 1;
  uint32_t percent = 0;
  if (progress->uncompressedSize != 0) {
    // 64-bit: bytesProduced * 100 cannot overflow for any real entry size.
    uint64_t p = progress->bytesProduced >= progress->uncompressedSize
                     ? 100
                     : progress->bytesProduced * 100 / progress->uncompressedSize;
    percent = p > 100 ? 100 : (uint32_t)p;
  }
  if (callbacks->onProgress.fn(callbacks->onProgress.user, percent, progress->lastChunkSize) != 1) {
    if (archive->errorCode == 0) archive->errorCode = ERR_CANCELLED;
    return 0;
  }
  return 1;
}

int AskPassword(ArchiveContext *archive, const ExtractCallbacks *callbacks, const char *name) {
  if (!callbacks->onPassword.fn) return 0;
  char lastTried[PATH_BUF_SIZE];
  StrCopy(lastTried, archive->enteredPassword, sizeof lastTried);
  memset(archive->enteredPassword, 0, sizeof archive->enteredPassword);
  int r = callbacks->onPassword.fn(callbacks->onPassword.user, lastTried, archive->enteredPassword, name);
  memset(lastTried, 0, sizeof lastTried);
  if (r == 0) {
    if (archive->errorCode == 0) archive->errorCode = ERR_CANCELLED;
    return 0;
  }
  archive->enteredPassword[PASSWORD_MAX - 1] = '\0';
  StrCopy(archive->password, archive->enteredPassword, sizeof archive->password);
  return 1;
}
