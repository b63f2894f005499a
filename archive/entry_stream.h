// The ZIP side of a decoder's input and output.
//
// Input: an EntryStream reads the current entry's data from the archive's
// volume file in pieces of at most STREAM_BUF_SIZE bytes, never past the end
// of the entry's data (leftToRead), continues into the next volume of a split
// archive, decrypts every piece in place right after reading it, and hands
// the bytes out in pieces (decoders) or in blocks (stored entries).
//
// Output: WindowFlush checksums a filled (or the final) window, writes it
// unless the run only tests, advances the entry's counters and reports
// progress; StoredFlush does the same for a stored entry's pieces.
//
// End of input: a read that fails or yields nothing ends the entry's input for
// good (leftToDeliver becomes 0); the byte fetch then answers -1 and the block
// read -1. A read error (not a plain end of file) also records ERR_FILE_ACCESS
// unless an error is already recorded; a truncated archive is left for the
// consumer to judge (DecodeOutcome records ERR_INVALID_DATA for the Deflate
// methods, stored copying ERR_FILE_ACCESS).
#ifndef KV_ENTRY_STREAM_H
#define KV_ENTRY_STREAM_H

#include <cstdint>

#include "../crypto/aes_entry.h"
#include "../crypto/zip_cipher.h"
#include "../decoders/decode_io.h"
#include "job_types.h"

class ZipArchiveJob;

struct EntryStream {
  ArchiveContext *archive;      // volumeHandle, multiVolume, encryptionKind, errorCode
  EntryProgress *progress;      // counters of the current entry
  ExtractCallbacks *callbacks;  // for the password prompts of the ciphers
  ZipArchiveJob *job;           // for NextVolume
  unsigned char *buffer;        // STREAM_BUF_SIZE bytes of decrypted input
  int32_t position;             // next byte to deliver; -1 nothing read yet; STREAM_BUF_SIZE used up
  CipherKeys cipherKeys;        // traditional cipher state of the current entry
  AesEntryState aesState;       // AES state of the current entry
  // Encryption header bytes read already with the local header: the
  // decryption set-up takes them from here before reading the file.
  const unsigned char *headerBytes;
  uint32_t headerCount;
};

// A new stream without a buffer, position -1; null when out of memory.
EntryStream *StreamCreate();
// Frees the buffer and the stream itself (null is ignored); key material is wiped.
void StreamDestroy(EntryStream *stream);

// Stores the links and allocates the zero-filled buffer (kept if the stream
// already has one). 1, or 0 with ERR_NO_MEMORY recorded.
int StreamInit(EntryStream *stream, ArchiveContext *archive, EntryProgress *progress, ExtractCallbacks *callbacks,
               ZipArchiveJob *job);
// Before every entry: the first fetch then reads afresh.
void StreamReset(EntryStream *stream);
// The caller has read the entry's first count data bytes into the buffer at
// from (decrypted already, if encrypted), and the buffer holds valid bytes
// from there to its end or to the end of the entry's data: the stream hands
// them out first. Call after StreamReset and any decryption set-up.
void StreamTakePiece(EntryStream *stream, uint32_t from, uint32_t count);
// Hands out the bytes the buffer still owes, at most most of them, and
// advances past them; 0 when it holds none.
uint32_t StreamTakeHeld(EntryStream *stream, const unsigned char **data, uint64_t most);
// The next byte 0..255, or -1 at the end of the entry's input.
int StreamReadByte(EntryStream *stream);
// Reads the next piece into the buffer from its start (position 0). 1, or 0
// when the input ended (leftToDeliver is then 0).
int StreamFillBuffer(EntryStream *stream);
// Reads min(size, leftToRead) bytes into destination and returns the count;
// 0 when nothing is left; -1 when the input ended early (truncated archive,
// read error, failed volume switch; leftToDeliver is then 0). Position and
// leftToDeliver are otherwise left alone.
int StreamReadBlock(EntryStream *stream, unsigned char *destination, uint32_t size);
// Decrypts a piece in place with the entry's cipher (none when encryptionKind is 0).
void StreamDecrypt(EntryStream *stream, unsigned char *data, uint32_t length);

// The next piece of the entry's input for a decoder: the bytes the buffer
// still owes, reading the next piece into it when it is used up. The bytes
// handed out count as delivered; StreamGiveBack returns those a decoder left.
// 1, or 0 at the end of the entry's input.
int StreamNextPiece(EntryStream *stream, const unsigned char **next, uint32_t *avail);
// The last count bytes handed out (still in the buffer) are owed again.
void StreamGiveBack(EntryStream *stream, uint32_t count);

// Where an entry's decoded bytes go.
struct EntrySink {
  ArchiveContext *archive;      // errorCode, outputHandle, testOnly
  EntryProgress *progress;      // counters of the current entry
  ExtractCallbacks *callbacks;  // for the progress report
  uint64_t flushed;             // bytes of the entry passed to the output so far
};

// Checksums count bytes of a decoder's window, writes them unless testOnly
// (a short write records ERR_WRITE_FAILED), and, while no error is recorded,
// advances bytesProduced/lastChunkSize and reports progress (a refusal
// records ERR_CANCELLED). Bytes that would take the entry's output past its
// uncompressedSize are neither checksummed nor written: the flush records
// ERR_INVALID_DATA instead. 1 while no error is recorded, else 0.
int WindowFlush(EntrySink *sink, const unsigned char *data, uint32_t count);
// A stored entry's piece: checksummed, counted and reported, then written
// unless testOnly (a short write records ERR_WRITE_FAILED). 1 while no error
// is recorded, else 0.
int StoredFlush(EntrySink *sink, const unsigned char *data, uint32_t count);
// Turns a decoder's result for an entry of the given method into the
// archive's error code (kept when one is recorded already): a Deflate or
// LZMA stream that is damaged or truncated is invalid data, and so is a
// Deflate stream too big for memory; an LZMA dictionary that cannot be had
// is ERR_NO_MEMORY; stored
// data that ends early is left to the CRC check (a read error was recorded
// when it happened).
void DecodeOutcome(ArchiveContext *archive, uint32_t method, DecodeResult result);

#endif
