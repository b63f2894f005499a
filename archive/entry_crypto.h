// Per-entry decryption set-up and the closing authentication check.
#ifndef KV_ENTRY_CRYPTO_H
#define KV_ENTRY_CRYPTO_H

#include "../crypto/zip_cipher.h"

struct EntryStream;

// For an entry with general-purpose bit 0, when the volume handle stands at
// the entry's first data byte and the progress counts hold its compressed
// size: obtains a password (prompting while it is wrong), reads and checks
// the encryption header (traditional) or the salt and verifier (AES), leaves
// the stream's cipher state at the first data byte and takes the overhead off
// leftToDeliver and leftToRead. 1 ready; 0 failed, with the reason in the
// archive's errorCode: ERR_CANCELLED from the prompt, ERR_UNSUPPORTED for an
// unknown kind or an AES password over 128 bytes, ERR_INVALID_DATA when the
// compressed size cannot hold the overhead, ERR_FILE_ACCESS when the archive
// ends or fails inside the header; no code when no prompt is installed.
int EntryCryptoBegin(EntryStream *stream, const char *outputPath);

// After every entry's decoding. Entries that are not AES pass. For AES, any
// encrypted bytes the decoder left unread are authenticated and skipped, the
// computed code is compared with the stored one and the key material wiped.
// 1 authentic and wholly decoded; 0 otherwise, recording ERR_WRONG_PASSWORD
// (ERR_FILE_ACCESS when the code cannot be read; ERR_INVALID_DATA when the
// data is authentic but the decoder left some of it) unless an error is
// already recorded. After an earlier error it reads nothing more and answers 0.
int EntryAuthCheck(EntryStream *stream);

// The header check on the stream: the archive's password and passwordCheck
// (or passwordCheckAlt, when set) against the 12 stored bytes, into the
// stream's cipher keys. 1 accepted, 0 rejected.
int CipherCheckHeader(EntryStream *stream, const unsigned char header[ENCRYPTION_HEADER_SIZE]);

#endif
