// Per-entry decryption set-up and the closing authentication check.
#ifndef KV_ENTRY_CRYPTO_H
#define KV_ENTRY_CRYPTO_H

struct EntryStream;

// For an entry with general-purpose bit 0: obtains a password (prompting
// while it is wrong), reads and checks the encryption header or the AES salt
// and verifier, and corrects the entry's byte counts. 1 ready, 0 failed (the
// reason in the archive's errorCode, or none when no prompt is installed).
int EntryCryptoBegin(EntryStream *stream, const char *outputPath);
// After every entry's decoding: compares the AES authentication code (other
// entries pass). 1 or 0 with ERR_WRONG_PASSWORD recorded.
int EntryAuthCheck(EntryStream *stream);

#endif
