// The entry stream: pieces bounded by the entry's data, the end of input
// (never an endless retry), decryption in file order, and the window flush.
#include <gtest/gtest.h>

#include <vector>

#include "crypto/zip_cipher.h"
#include "inflate_test_harness.h"

using namespace inflate_test;

namespace {

struct StreamFixture {
  ArchiveContext archive;
  EntryProgress progress;
  ExtractCallbacks callbacks;
  EntryStream *stream = nullptr;
  TempFolder folder;
  StreamFixture() {
    memset(&archive, 0, sizeof archive);
    memset(&progress, 0, sizeof progress);
    memset(&callbacks, 0, sizeof callbacks);
    archive.volumeHandle = INVALID_FILE;
    archive.outputHandle = INVALID_FILE;
    stream = StreamCreate();
    EXPECT_EQ(1, StreamInit(stream, &archive, &progress, &callbacks, nullptr));
  }
  ~StreamFixture() {
    StreamDestroy(stream);
    if (archive.volumeHandle != INVALID_FILE) FileClose(archive.volumeHandle);
  }
  // An entry of size bytes (of which the file holds fileBytes).
  void Open(const Bytes &file, int64_t size) {
    std::string path = folder.Path("v.bin");
    ASSERT_TRUE(WriteWholeFile(path, file));
    archive.volumeHandle = FileOpen(path.c_str(), "r");
    ASSERT_NE(INVALID_FILE, archive.volumeHandle);
    progress.leftToDeliver = progress.leftToRead = size;
    StreamReset(stream);
  }
};

Bytes Numbers(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; i++) b[i] = (unsigned char)(i * 13 + (i >> 8));
  return b;
}

}  // namespace

TEST(EntryStream, BytesOneAtATime) {
  struct Case {
    size_t fileBytes;
    int64_t entrySize;
    int32_t error;  // recorded by the stream itself
  } cases[] = {
      {0, 0, 0},           // nothing to read: -1 without touching the file
      {16384, 16384, 0},   // one full piece
      {16385, 16385, 0},   // two pieces, the second of one byte
      {40000, 30000, 0},   // the entry ends before the file
      {1000, 5000, 0},     // truncated archive: the input ends, no retry
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.entrySize);
    StreamFixture f;
    Bytes file = Numbers(c.fileBytes);
    f.Open(file, c.entrySize);
    size_t got = 0;
    bool same = true;
    int byte;
    while ((byte = StreamReadByte(f.stream)) >= 0) {
      same = same && got < file.size() && byte == file[got];
      got++;
      ASSERT_LE(got, c.fileBytes + 1) << "no end";
    }
    EXPECT_TRUE(same);
    size_t available = std::min(c.fileBytes, (size_t)c.entrySize);
    if ((int64_t)c.fileBytes >= c.entrySize) {
      EXPECT_EQ(available, got);
      EXPECT_EQ(0, f.progress.leftToRead) << "never read past the entry";
      EXPECT_EQ((int64_t)c.entrySize, FileTell(f.archive.volumeHandle));
    } else {
      EXPECT_LE(got, available) << "a cut-off piece is not handed out";
    }
    EXPECT_EQ(0, f.progress.leftToDeliver);
    EXPECT_EQ(-1, StreamReadByte(f.stream)) << "stays at the end";
    EXPECT_EQ(c.error, f.archive.errorCode);
  }
  // Compressed size 0 on a handle that cannot be read: nothing is read.
  StreamFixture f;
  f.progress.leftToDeliver = f.progress.leftToRead = 0;
  StreamReset(f.stream);
  EXPECT_EQ(-1, StreamReadByte(f.stream));
  EXPECT_EQ(0, f.archive.errorCode);
}

TEST(EntryStream, Blocks) {
  StreamFixture f;
  Bytes file = Numbers(70000);
  f.Open(file, 70000);
  std::vector<unsigned char> buf(65536);
  EXPECT_EQ(65536, StreamReadBlock(f.stream, buf.data(), 65536));
  EXPECT_TRUE(std::equal(buf.begin(), buf.end(), file.begin()));
  EXPECT_EQ(70000 - 65536, StreamReadBlock(f.stream, buf.data(), 65536));
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + (70000 - 65536), file.begin() + 65536));
  EXPECT_EQ(0, StreamReadBlock(f.stream, buf.data(), 65536)) << "nothing left";
  EXPECT_EQ(70000, f.progress.leftToDeliver) << "block reads leave the byte count alone";

  // A truncated archive: -1 (the caller records the failure), not a retry loop.
  StreamFixture t;
  t.Open(Numbers(100), 500);
  EXPECT_EQ(-1, StreamReadBlock(t.stream, buf.data(), 65536));
  EXPECT_EQ(0, t.progress.leftToDeliver);
  EXPECT_EQ(-1, StreamReadByte(t.stream));
}

TEST(EntryStream, ReadErrorEndsTheInput) {
  StreamFixture f;
  f.progress.leftToDeliver = f.progress.leftToRead = 100;
  StreamReset(f.stream);  // volumeHandle is -1: every read fails
  EXPECT_EQ(-1, StreamReadByte(f.stream));
  EXPECT_EQ(ERR_FILE_ACCESS, f.archive.errorCode);
  EXPECT_EQ(0, f.progress.leftToDeliver);
  unsigned char b[16];
  f.progress.leftToRead = 16;
  EXPECT_EQ(-1, StreamReadBlock(f.stream, b, 16));
}

TEST(EntryStream, TraditionalCipherInFileOrder) {
  // Encrypt with the cipher's own key schedule; the stream must decrypt the
  // same bytes whether they arrive one at a time or as blocks.
  Bytes plain = Numbers(40000);
  CipherKeys keys;
  CipherInitKeys(&keys, "secret");
  CipherKeys start = keys;
  Bytes cipher(plain.size());
  for (size_t i = 0; i < plain.size(); i++) {
    cipher[i] = (unsigned char)(plain[i] ^ CipherKeystreamByte(&keys));
    CipherUpdateKeys(&keys, plain[i]);
  }
  {
    StreamFixture f;
    f.Open(cipher, (int64_t)cipher.size());
    f.archive.encryptionKind = 1;
    f.stream->cipherKeys = start;
    Bytes got;
    int byte;
    while ((byte = StreamReadByte(f.stream)) >= 0) got.push_back((unsigned char)byte);
    EXPECT_TRUE(plain == got);
  }
  {
    StreamFixture f;
    f.Open(cipher, (int64_t)cipher.size());
    f.archive.encryptionKind = 1;
    f.stream->cipherKeys = start;
    Bytes got(plain.size());
    int32_t n1 = StreamReadBlock(f.stream, got.data(), 12345);
    int32_t n2 = StreamReadBlock(f.stream, got.data() + 12345, 65536);
    EXPECT_EQ(12345, n1);
    EXPECT_EQ((int32_t)plain.size() - 12345, n2);
    EXPECT_TRUE(plain == got);
  }
}

TEST(EntryStream, WindowFlushWritesChecksumsReports) {
  StreamFixture f;
  static unsigned char window[WINDOW_SIZE];
  EntrySink sink = {&f.archive, &f.progress, &f.callbacks, 0};
  for (size_t i = 0; i < 1000; i++) window[i] = (unsigned char)i;
  std::vector<uint32_t> chunks;
  ProgressLog log = {&chunks, -1};
  f.callbacks.onProgress.fn = RecordProgress;
  f.callbacks.onProgress.user = (uintptr_t)&log;
  f.progress.runningCrc = 0xFFFFFFFF;
  f.progress.uncompressedSize = 1000;

  // A short write (the output is open for reading only) records 28004 and
  // neither counts nor reports.
  std::string path = f.folder.Path("o.bin");
  ASSERT_TRUE(WriteWholeFile(path, Bytes()));
  f.archive.outputHandle = FileOpen(path.c_str(), "r");
  WindowFlush(&sink, window, 1000);
  EXPECT_EQ(ERR_WRITE_FAILED, f.archive.errorCode);
  EXPECT_EQ(0u, f.progress.bytesProduced);
  EXPECT_TRUE(chunks.empty());
  FileClose(f.archive.outputHandle);

  // A test run writes nothing but checksums and reports.
  f.archive.errorCode = 0;
  sink.flushed = 0;  // a new entry
  f.archive.outputHandle = INVALID_FILE;
  f.archive.testOnly = 1;
  f.progress.runningCrc = 0xFFFFFFFF;
  WindowFlush(&sink, window, 1000);
  EXPECT_EQ(0, f.archive.errorCode);
  EXPECT_EQ(Crc(Bytes(window, window + 1000)), ~f.progress.runningCrc);
  EXPECT_EQ(1000u, f.progress.bytesProduced);
  EXPECT_EQ((std::vector<uint32_t>{1000}), chunks);
}
