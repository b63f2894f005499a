// Decryption set-up of one entry and its closing authentication: password
// prompting, the traditional encryption header, the AES salt, verifier and
// authentication code.
#include "entry_crypto.h"

#include <cstring>

#include "../crypto/aes_entry.h"
#include "../crypto/wipe.h"
#include "../fileio/file_io.h"
#include "entry_stream.h"
#include "volume.h"

namespace {

void RecordError(ArchiveContext *archive, int32_t code) {
  if (archive->errorCode == 0) archive->errorCode = code;
}

// Reads count bytes of the entry's own data straight from the volume file,
// going on into the next volume of a split archive, so that a header or code
// cut by a volume boundary is read whole. A failed read, or an archive that
// ends before the bytes are all there, is a file access failure: judged as a
// wrong password it would have the user retype a correct one without end.
int ReadEntryBytes(EntryStream *stream, unsigned char *dest, uint32_t count) {
  ArchiveContext *archive = stream->archive;
  uint32_t got = 0;
  if (stream->headerCount) {
    got = stream->headerCount < count ? stream->headerCount : count;
    memcpy(dest, stream->headerBytes, got);
    stream->headerBytes += got;
    stream->headerCount -= got;
  }
  while (got < count) {
    int32_t n = FileRead(archive->volumeHandle, dest + got, count - got);
    if (n > 0) {
      got += (uint32_t)n <= count - got ? (uint32_t)n : count - got;  // never past what was asked
      continue;
    }
    if (n == 0 && archive->multiVolume && stream->job != nullptr) {
      uint32_t disk = archive->currentDisk;
      // NextVolume records its own reason when it fails.
      if (NextVolume(stream->job) && archive->currentDisk != disk) continue;
      RecordError(archive, ERR_FILE_ACCESS);
      return 0;
    }
    RecordError(archive, ERR_FILE_ACCESS);
    return 0;
  }
  return 1;
}

void TakeOverhead(EntryProgress *progress, uint32_t overhead) {
  progress->leftToDeliver -= overhead;
  progress->leftToRead = progress->leftToDeliver;
}

int BeginTraditional(EntryStream *stream, const char *name) {
  ArchiveContext *archive = stream->archive;
  unsigned char header[ENCRYPTION_HEADER_SIZE];
  if (!ReadEntryBytes(stream, header, ENCRYPTION_HEADER_SIZE)) return 0;
  while (!CipherCheckHeader(stream, header)) {
    // After a rejection an empty answer is not worth a try: ask again.
    do {
      if (!AskPassword(archive, stream->callbacks, name)) return 0;
    } while (archive->password[0] == '\0');
  }
  TakeOverhead(stream->progress, ENCRYPTION_HEADER_SIZE);
  return 1;
}

int BeginAes(EntryStream *stream, const char *name) {
  ArchiveContext *archive = stream->archive;
  AesEntryState *state = &stream->aesState;
  uint32_t mode = (uint32_t)archive->encryptionKind - 1;
  uint32_t saltLength = AesSaltLength(mode);
  unsigned char salt[AES_SALT_MAX], stored[AES_VERIFIER_SIZE], derived[AES_VERIFIER_SIZE];
  if (!ReadEntryBytes(stream, salt, saltLength) || !ReadEntryBytes(stream, stored, AES_VERIFIER_SIZE)) return 0;
  for (;;) {
    CryptoWipe(state, sizeof *state);
    uint32_t length = (uint32_t)strnlen(archive->password, sizeof archive->password);
    if (AesEntryInit(mode, archive->password, length, salt, derived, state) != 0) {
      // Over 128 bytes: no other password is asked for.
      RecordError(archive, ERR_UNSUPPORTED);
      return 0;
    }
    if (memcmp(derived, stored, AES_VERIFIER_SIZE) == 0) break;
    // Any answer is tried, the empty one too.
    if (!AskPassword(archive, stream->callbacks, name)) {
      CryptoWipe(state, sizeof *state);
      return 0;
    }
  }
  TakeOverhead(stream->progress, saltLength + AES_VERIFIER_SIZE + AES_MAC_SIZE);
  return 1;
}

}  // namespace

int CipherCheckHeader(EntryStream *stream, const unsigned char header[ENCRYPTION_HEADER_SIZE]) {
  const ArchiveContext *archive = stream->archive;
  if (CipherCheckHeaderBytes(&stream->cipherKeys, archive->password, header, archive->passwordCheck)) return 1;
  return archive->passwordCheckAlt != 0 &&
         CipherCheckHeaderBytes(&stream->cipherKeys, archive->password, header, archive->passwordCheckAlt);
}

int EntryCryptoBegin(EntryStream *stream, const char *outputPath) {
  ArchiveContext *archive = stream->archive;
  // The name the prompt shows: the output path with backslashes.
  char name[PATH_BUF_SIZE];
  StrCopy(name, outputPath, sizeof name);
  for (char *p = name; *p != '\0'; ++p) {
    if (*p == '/') *p = '\\';
  }
  int32_t kind = archive->encryptionKind;
  // An entry too short for its own header would have the counts go negative
  // and the header read run into the next record; no use asking for a password.
  if (kind == ENCRYPTION_TRADITIONAL || IsAesKind(kind)) {
    uint32_t overhead = kind == ENCRYPTION_TRADITIONAL ? ENCRYPTION_HEADER_SIZE
                                  : AesSaltLength((uint32_t)kind - 1) + AES_VERIFIER_SIZE + AES_MAC_SIZE;
    if (stream->progress->leftToDeliver < (int64_t)overhead) {
      RecordError(archive, ERR_INVALID_DATA);
      return 0;
    }
  }
  if (archive->password[0] == '\0' && !AskPassword(archive, stream->callbacks, name)) return 0;
  if (kind != ENCRYPTION_TRADITIONAL && !IsAesKind(kind)) {
    RecordError(archive, ERR_UNSUPPORTED);
    return 0;
  }
  return kind == ENCRYPTION_TRADITIONAL ? BeginTraditional(stream, name) : BeginAes(stream, name);
}

int EntryAuthCheck(EntryStream *stream) {
  ArchiveContext *archive = stream->archive;
  int32_t kind = archive->encryptionKind;
  if (!IsAesKind(kind)) return 1;
  AesEntryState *state = &stream->aesState;
  if (archive->errorCode != 0) {
    // The entry has failed already; reading on could only raise prompts.
    CryptoWipe(state, sizeof *state);
    return 0;
  }
  // The code covers all encrypted data, including any the decoder did not
  // take: altered data is told apart from data the decoder had no use for.
  EntryProgress *progress = stream->progress;
  bool unused = progress->leftToRead > 0;
  unsigned char rest[512];
  while (progress->leftToRead > 0) {
    uint32_t take = progress->leftToRead < (int64_t)sizeof rest ? (uint32_t)progress->leftToRead : (uint32_t)sizeof rest;
    if (!ReadEntryBytes(stream, rest, take)) {
      CryptoWipe(state, sizeof *state);
      return 0;
    }
    HmacSha1Data(rest, take, &state->authentication);
    progress->leftToRead -= take;
  }
  unsigned char computed[AES_MAC_SIZE], stored[AES_MAC_SIZE];
  AesEntryMac(computed, state);
  CryptoWipe(state, sizeof *state);
  if (!ReadEntryBytes(stream, stored, AES_MAC_SIZE)) return 0;
  // Constant time: the comparison does not tell how many bytes matched.
  unsigned char diff = 0;
  for (uint32_t i = 0; i < AES_MAC_SIZE; ++i) diff |= (unsigned char)(computed[i] ^ stored[i]);
  if (diff != 0) {
    RecordError(archive, ERR_WRONG_PASSWORD);
    return 0;
  }
  if (unused) {
    // Authentic, yet not all of it decoded: the entry is not what the
    // directory says (a method that decodes nothing, a stored size that is
    // too small). An AES entry's CRC is not compared, so nothing later would
    // stop it.
    RecordError(archive, ERR_INVALID_DATA);
    return 0;
  }
  return 1;
}
