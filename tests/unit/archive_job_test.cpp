// The job through its callbacks, on the real file system (natively and under
// Wine): opening by the ".zip" sibling and the last-volume prompt, the
// overwrite replies, refusals, test runs, the archive as an output path, and
// the directory behind other data.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "crypto/crc32.h"
#include "crypto/zip_cipher.h"
#include "fileio/file_io.h"
#include "fileio/path.h"
#include "fileio/platform.h"
#include "temp_folder.h"

// The engine is built without RTTI, so its classes have no type information
// for the sanitizer's dynamic-type check of this (RTTI) test file.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((no_sanitize("vptr"))), apply_to = function)
#endif
#include "archive/volume.h"
#include "archive/zip_job.h"

namespace {

typedef std::vector<unsigned char> Bytes;

void Put16(Bytes &b, uint32_t v) {
  b.push_back((unsigned char)v);
  b.push_back((unsigned char)(v >> 8));
}
void Put32(Bytes &b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

struct Entry {
  Entry(std::string n, std::string d, uint32_t m = 0, uint32_t f = 0, std::string p = std::string(), int64_t s = -1,
        int64_t c = -1)
      : name(std::move(n)), data(std::move(d)), method(m), flags(f), packed(std::move(p)), claimedSize(s),
        claimedCrc(c) {}
  std::string name;
  std::string data;  // the contents the directory describes (CRC-32, size)
  uint32_t method;
  uint32_t flags;
  std::string packed;    // the bytes in the archive, when not data itself
  int64_t claimedSize;   // the size the directory states, when not data's
  int64_t claimedCrc;    // the CRC-32 the directory states, when not data's
  uint32_t localExtra = 0;  // length of an extra field in the local header only
};

// Offsets count from the archive's first byte.
Bytes BuildZip(const std::vector<Entry> &entries, size_t prefix = 0) {
  Bytes out(prefix, 'P'), central;
  const uint32_t date = (44u << 9) | (1 << 5) | 2, time = (3u << 11) | (4 << 5) | 3;
  for (const Entry &e : entries) {
    uint32_t crc = e.claimedCrc >= 0 ? (uint32_t)e.claimedCrc
                                     : Crc32Update(0xFFFFFFFFu, e.data.data(), e.data.size()) ^ 0xFFFFFFFFu;
    uint32_t offset = (uint32_t)(out.size() - prefix);
    const std::string &bytes = e.packed.empty() ? e.data : e.packed;
    uint32_t size = e.claimedSize < 0 ? (uint32_t)e.data.size() : (uint32_t)e.claimedSize;
    Put32(out, 0x04034b50);
    Put16(out, 20);
    Put16(out, e.flags);
    Put16(out, e.method);
    Put16(out, time);
    Put16(out, date);
    Put32(out, crc);
    Put32(out, (uint32_t)bytes.size());
    Put32(out, size);
    Put16(out, (uint32_t)e.name.size());
    Put16(out, e.localExtra);
    out.insert(out.end(), e.name.begin(), e.name.end());
    if (e.localExtra) {
      Put16(out, 0xCAFE);
      Put16(out, e.localExtra - 4);
      out.insert(out.end(), e.localExtra - 4, 'X');
    }
    out.insert(out.end(), bytes.begin(), bytes.end());
    Put32(central, 0x02014b50);
    Put16(central, 20);
    Put16(central, 20);
    Put16(central, e.flags);
    Put16(central, e.method);
    Put16(central, time);
    Put16(central, date);
    Put32(central, crc);
    Put32(central, (uint32_t)bytes.size());
    Put32(central, size);
    Put16(central, (uint32_t)e.name.size());
    Put32(central, 0);  // extra and comment lengths
    Put32(central, 0);  // disk, internal attributes
    Put32(central, e.name.back() == '/' ? FILE_ATTRIBUTE_DIRECTORY : 0);
    Put32(central, offset);
    central.insert(central.end(), e.name.begin(), e.name.end());
  }
  uint32_t cdStart = (uint32_t)(out.size() - prefix);
  out.insert(out.end(), central.begin(), central.end());
  Put32(out, 0x06054b50);
  Put32(out, 0);
  Put16(out, (uint32_t)entries.size());
  Put16(out, (uint32_t)entries.size());
  Put32(out, (uint32_t)central.size());
  Put32(out, cdStart);
  Put16(out, 0);
  return out;
}

struct Recorder {
  std::vector<std::string> started;
  int overwriteReply = 0;
  int overwriteAsked = 0;
  int refuseEntry = -1;  // index of the entry whose start is refused
  std::string volumeFolder;
  int volumeAsked = 0;
  int volumeRefuse = 0;
  int volumeNeverRefuse = 0;  // a prompt that always answers, the same folder
  uint64_t progressBytes = 0;
};

int OnStart(uintptr_t user, const char *name, const char *) {
  Recorder *r = (Recorder *)user;
  r->started.push_back(name);
  return (int)r->started.size() - 1 == r->refuseEntry ? 0 : 1;
}
int OnOverwrite(uintptr_t user, const FindRecord *, const FindRecord *incoming) {
  Recorder *r = (Recorder *)user;
  r->overwriteAsked++;
  EXPECT_NE(0u, incoming->lastWriteTime) << "the incoming record carries the entry's time";
  return r->overwriteReply;
}
int OnVolume(uintptr_t user, char *path, uint32_t, int32_t volume, int32_t) {
  Recorder *r = (Recorder *)user;
  EXPECT_EQ(-1, volume);
  if ((r->volumeAsked++ >= 3 && !r->volumeNeverRefuse) || r->volumeRefuse) return 0;
  StrCopy(path, r->volumeFolder.c_str(), PATH_BUF_SIZE);
  return 1;
}
int OnProgress(uintptr_t user, uint32_t percent, uint32_t chunk) {
  EXPECT_LE(percent, 100u);
  ((Recorder *)user)->progressBytes += chunk;
  return 1;
}

class ArchiveJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = MakeTempFolder(".kva");
    ASSERT_NE("", base_);
    memset(&table_, 0, sizeof table_);
    uintptr_t user = (uintptr_t)&rec_;
    table_.onEntryStart = {OnStart, user};
    table_.onOverwrite = {OnOverwrite, user};
    table_.onNextVolume = {OnVolume, user};
    table_.onProgress = {OnProgress, user};
  }
  void TearDown() override { RemoveTempFolder(base_); }
  std::string P(const std::string &rel) const { return base_ + rel; }
  void Write(const std::string &path, const Bytes &data) {
    FileHandle h = FileOpen(path.c_str(), "wb");
    ASSERT_NE(INVALID_FILE, h);
    ASSERT_EQ((int32_t)data.size(), FileWrite(h, data.data(), (uint32_t)data.size()));
    FileClose(h);
  }
  std::string Read(const std::string &path) {
    FileHandle h = FileOpen(path.c_str(), "rb");
    if (h == INVALID_FILE) return "<missing>";
    std::string s(100000, '\0');
    int32_t n = FileRead(h, &s[0], (uint32_t)s.size());
    FileClose(h);
    s.resize(n < 0 ? 0 : (size_t)n);
    return s;
  }
  int32_t Extract(const std::string &archive, const std::string &folder, int test = 0) {
    ArchiveRunRequest req = {};
    req.archivePath = archive.c_str();
    req.folder = folder.c_str();
    req.test = test;
    req.password = password_;
    req.callbacks = &table_;
    return RunArchive(&req);
  }

  std::string base_;
  const char *password_ = nullptr;
  Recorder rec_;
  ExtractCallbacks table_;
};

TEST_F(ArchiveJobTest, ExtractsBehindOtherDataInDirectoryOrder) {
  Write(P("a.bin"), BuildZip({{"b.txt", "bee"}, {"dir/", ""}, {"dir/a.txt", "ay"}}, 100000));
  ASSERT_EQ(0, Extract(P("a.bin"), P("out")));
  EXPECT_EQ("bee", Read(P("out\\b.txt")));
  EXPECT_EQ("ay", Read(P("out\\dir\\a.txt")));
  EXPECT_EQ((std::vector<std::string>{"\\b.txt", "\\dir\\", "\\dir\\a.txt"}), rec_.started);
  EXPECT_EQ(5u, rec_.progressBytes);
}

TEST_F(ArchiveJobTest, OpensTheZipSiblingOrAsksForTheLastVolume) {
  Bytes zip = BuildZip({{"f.txt", "data"}});
  Write(P("setup.exe"), Bytes(100, 'x'));
  Write(P("setup.zip"), zip);
  ASSERT_EQ(0, Extract(P("setup.exe"), P("out1")));
  EXPECT_EQ("data", Read(P("out1\\f.txt")));
  EXPECT_EQ(0, rec_.volumeAsked);

  // No sibling: the prompt names a folder that holds "setup.zip".
  ASSERT_EQ(1, DirCreate(P("elsewhere").c_str()));
  Write(P("elsewhere\\setup.zip"), zip);
  Write(P("lone.exe"), Bytes(100, 'x'));
  rec_.volumeFolder = P("elsewhere");
  std::string lone = P("lone.exe");
  // The remembered name is the archive's own name with ".zip".
  Write(P("elsewhere\\lone.zip"), zip);
  ASSERT_EQ(0, Extract(lone, P("out2")));
  EXPECT_EQ(1, rec_.volumeAsked);
  EXPECT_EQ("data", Read(P("out2\\f.txt")));

  // A prompt that keeps naming the same folder without the volume ends as a
  // missing volume after a bounded number of answers.
  rec_.volumeAsked = 0;
  rec_.volumeNeverRefuse = 1;
  rec_.volumeFolder = P("nowhere");
  EXPECT_EQ(ERR_VOLUME_MISSING, Extract(lone, P("out3")));
  EXPECT_EQ((int)VOLUME_PROMPT_LIMIT + 1, rec_.volumeAsked);
  rec_.volumeNeverRefuse = 0;

  rec_.volumeAsked = 0;
  rec_.volumeRefuse = 1;
  EXPECT_EQ(ERR_CANCELLED, Extract(lone, P("out3")));
  table_.onNextVolume.fn = nullptr;
  EXPECT_EQ(ERR_NOT_AN_ARCHIVE, Extract(lone, P("out3")));
}

TEST_F(ArchiveJobTest, OverwriteReplies) {
  Write(P("a.zip"), BuildZip({{"f.txt", "new"}, {"g.txt", "gee"}}));
  ASSERT_EQ(1, DirCreate(P("out").c_str()));
  struct Case {
    int reply;
    int32_t code;
    const char *f, *g;
  } cases[] = {
      {1, 0, "old", "gee"},                    // skip: the existing file stays
      {0, 0, "new", "gee"},                    // replace, even read-only
      {2, ERR_CANCELLED, "old", "<missing>"},  // cancel ends the run
  };
  for (const auto &c : cases) {
    FileSetArchiveOnly(P("out\\f.txt").c_str());
    Write(P("out\\f.txt"), Bytes{'o', 'l', 'd'});
    FileSetAttributes(P("out\\f.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    FileSetArchiveOnly(P("out\\g.txt").c_str());
    FileDelete(P("out\\g.txt").c_str());
    rec_.overwriteReply = c.reply;
    rec_.overwriteAsked = 0;
    EXPECT_EQ(c.code, Extract(P("a.zip"), P("out"))) << "reply " << c.reply;
    EXPECT_EQ(1, rec_.overwriteAsked);
    EXPECT_EQ(c.f, Read(P("out\\f.txt"))) << "reply " << c.reply;
    EXPECT_EQ(c.g, Read(P("out\\g.txt"))) << "reply " << c.reply;
  }
  // Reply 3 writes under the existing file's spelling, where the file system
  // ignores letter case (Windows).
  FileSetArchiveOnly(P("out\\f.txt").c_str());
  FileDelete(P("out\\f.txt").c_str());
  Write(P("out\\F.TXT"), Bytes{'o'});
  FindRecord r;
  if (FileFindFirst(P("out\\f.txt").c_str(), &r)) {
    rec_.overwriteReply = 3;
    EXPECT_EQ(0, Extract(P("a.zip"), P("out")));
    EXPECT_STREQ("F.TXT", r.name);
    FileFindFirst(P("out\\f.txt").c_str(), &r);
    EXPECT_STREQ("F.TXT", r.name);
    EXPECT_EQ("new", Read(P("out\\F.TXT")));
  }
}

TEST_F(ArchiveJobTest, RefusalsAndTheArchiveItself) {
  Write(P("a.zip"), BuildZip({{"one.txt", "1"}, {"two.txt", "2"}}));
  rec_.refuseEntry = 1;
  EXPECT_EQ(ERR_CANCELLED, Extract(P("a.zip"), P("out")));
  EXPECT_EQ("1", Read(P("out\\one.txt")));
  EXPECT_EQ("<missing>", Read(P("out\\two.txt")));
  rec_.refuseEntry = -1;

  // An entry whose output path is the archive, in another letter case.
  Write(P("self.zip"), BuildZip({{"x.txt", "x"}, {"SELF.ZIP", "boom"}}));
  Bytes before = BuildZip({{"x.txt", "x"}, {"SELF.ZIP", "boom"}});
  EXPECT_EQ(ERR_OUTPUT_IS_ARCHIVE, Extract(P("self.zip"), base_));
  EXPECT_EQ(std::string(before.begin(), before.end()), Read(P("self.zip")));
}

TEST_F(ArchiveJobTest, TestRunWritesNothing) {
  Write(P("a.zip"), BuildZip({{"d/", ""}, {"d/f.txt", "content"}}));
  ASSERT_EQ(0, Extract(P("a.zip"), P("out"), 1));
  EXPECT_EQ(0, DirExists(P("out").c_str()));
  EXPECT_EQ(7u, rec_.progressBytes);
  EXPECT_EQ(ERR_FILE_ACCESS, Extract(P("missing.zip"), P("out"), 1));
}

TEST_F(ArchiveJobTest, ListingReportsEntriesAndTotals) {
  Write(P("a.zip"), BuildZip({{"d/", ""}, {"d/f.txt", "content"}, {"../up.txt", "u"}}, 5000));
  std::vector<std::string> names;
  ListSummary s;
  char comment[16];
  auto visit = [](void *user, const EntryRecord *e) {
    ((std::vector<std::string> *)user)->push_back(e->name);
    return 1;
  };
  ASSERT_EQ(0, ListArchive(P("a.zip").c_str(), nullptr, visit, &names, &s, comment, sizeof comment));
  EXPECT_EQ((std::vector<std::string>{"d\\", "d\\f.txt", "up.txt"}), names);
  EXPECT_EQ(3u, s.entries);
  EXPECT_EQ(1u, s.directories);
  EXPECT_EQ(8u, s.uncompressedTotal);
  EXPECT_STREQ("", comment);

  // A directory of many blocks: records cross the reader's block edges.
  std::vector<Entry> many;
  for (int i = 0; i < 2000; i++) many.push_back({"folder-with-a-long-name/entry-" + std::to_string(i) + ".txt", "x"});
  Write(P("many.zip"), BuildZip(many, 70000));
  names.clear();
  ASSERT_EQ(0, ListArchive(P("many.zip").c_str(), nullptr, visit, &names, &s, nullptr, 0));
  ASSERT_EQ(2000u, names.size());
  EXPECT_EQ("folder-with-a-long-name\\entry-1999.txt", names.back());
  EXPECT_EQ(2000u, s.uncompressedTotal);
  ASSERT_EQ(0, Extract(P("many.zip"), P("out"), 1));
}

// Traditionally encrypted with password: the 12-byte header (last byte
// checkByte) and the data, as the cipher's own key schedule makes them.
std::string Encrypt(const char *password, unsigned char checkByte, const std::string &data) {
  std::string plain = std::string(11, '\x5a') + (char)checkByte + data;
  CipherKeys keys;
  CipherInitKeys(&keys, password);
  std::string out(plain.size(), '\0');
  for (size_t i = 0; i < plain.size(); i++) {
    out[i] = (char)((unsigned char)plain[i] ^ CipherKeystreamByte(&keys));
    CipherUpdateKeys(&keys, (unsigned char)plain[i]);
  }
  return out;
}

// One final stored Deflate block: inflates cleanly to data.
std::string StoredDeflate(const std::string &data) {
  uint16_t n = (uint16_t)data.size();
  std::string s = {'\x01', (char)(n & 0xFF), (char)(n >> 8), (char)(~n & 0xFF), (char)((~n >> 8) & 0xFF)};
  return s + data;
}

TEST_F(ArchiveJobTest, EncryptedEntryThatDecodesToOtherData) {
  // What the directory describes, and what the password in use turns the
  // entry's data into instead (a wrong password, or damaged data).
  const std::string claimed(1000, 'c');
  const uint32_t claimedCrc = Crc32Update(0xFFFFFFFFu, claimed.data(), claimed.size()) ^ 0xFFFFFFFFu;
  const unsigned char check = (unsigned char)(claimedCrc >> 24);
  const std::string shorter = "xyz", sameLength(1000, 'w');
  struct Case {
    const char *what;
    uint32_t flags;
    std::string decodes;
    int64_t claimedSize;
    int32_t code;
  } cases[] = {
      // With a data descriptor the header holds one check byte (the time's),
      // which passes one wrong password in 256: what fails after it is
      // judged as damage, as for any other entry.
      {"descriptor, shorter", 9, shorter, -1, ERR_CRC},
      {"descriptor, same length", 9, sameLength, -1, ERR_CRC},
      // The header vouched for the password: the archive's data is wrong.
      {"header checked, shorter", 1, shorter, -1, ERR_CRC},  // less output than declared: the CRC judges
      {"header checked, same length", 1, sameLength, -1, ERR_CRC},
      // The output passes the stated size: invalid data.
      {"descriptor, size lies", 9, claimed, 999, ERR_INVALID_DATA},
      {"header checked, size lies", 1, claimed, 999, ERR_INVALID_DATA},
  };
  password_ = "wrong";
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Entry e{"e.txt", claimed, METHOD_DEFLATE, c.flags, Encrypt(password_, check, StoredDeflate(c.decodes)),
            c.claimedSize};
    Write(P("enc.zip"), BuildZip({{"first.txt", "1"}, e}));
    FileDelete(P("out\\e.txt").c_str());
    EXPECT_EQ(c.code, Extract(P("enc.zip"), P("out")));
    EXPECT_EQ("1", Read(P("out\\first.txt")));
    EXPECT_EQ("<missing>", Read(P("out\\e.txt"))) << "a failed entry leaves no file";
    EXPECT_EQ(c.code, Extract(P("enc.zip"), P("out"), 1)) << "a test run judges alike";
  }
}

TEST_F(ArchiveJobTest, StreamedTraditionalEntryIsCheckedByTheTimeByte) {
  // With a data descriptor the writer puts the DOS time's high byte in the
  // header: a wrong password is caught there and asked again.
  const std::string data(500, 'd');
  const unsigned char timeHigh = ((3u << 11) | (4 << 5) | 3) >> 8;
  Write(P("s.zip"), BuildZip({{"s.txt", data, METHOD_DEFLATE, 9, Encrypt("right", timeHigh, StoredDeflate(data))}}));
  static int asked;
  asked = 0;
  table_.onPassword = {[](uintptr_t, const char *, char *out, const char *) {
                         asked++;
                         StrCopy(out, "right", PASSWORD_MAX);
                         return 1;
                       },
                       0};
  password_ = "wrong";
  EXPECT_EQ(0, Extract(P("s.zip"), P("out")));
  EXPECT_EQ(1, asked);
  EXPECT_EQ(data, Read(P("out\\s.txt")));
}

TEST_F(ArchiveJobTest, LocalHeaderOfOtherLengthAndDataOfManyPieces) {
  // The local header is read together with the start of the data, guessed
  // from the directory's lengths, and often arrives with the entry before:
  // a longer local extra field, data that ends inside, at or beyond the
  // first piece, stored or deflated, must all come out whole, and the
  // entries around them.
  std::string data(40000, '\0');
  uint32_t x = 1;
  for (char &c : data) c = (char)((x = x * 1103515245u + 12345u) >> 24);
  int run = 0;
  for (uint32_t localExtra : {0u, 4u, 200u, 20000u})
    for (size_t size : {(size_t)100, (size_t)16300, data.size()})
      for (uint32_t method : {METHOD_STORED, METHOD_DEFLATE}) {
        SCOPED_TRACE(std::to_string(localExtra) + " " + std::to_string(size) + " " + std::to_string(method));
        std::string part = data.substr(0, size);
        Entry e{"e.bin", part, method, 0, method == METHOD_DEFLATE ? StoredDeflate(part) : std::string()};
        e.localExtra = localExtra;
        Write(P("l.zip"), BuildZip({{"first.txt", "before"}, e, {"next.txt", "after"}}));
        std::string out = "out" + std::to_string(++run);
        ASSERT_EQ(0, Extract(P("l.zip"), P(out)));
        EXPECT_TRUE(part == Read(P(out + "\\e.bin")));
        EXPECT_EQ("before", Read(P(out + "\\first.txt")));
        EXPECT_EQ("after", Read(P(out + "\\next.txt")));
        EXPECT_EQ(0, Extract(P("l.zip"), P("out"), 1));
      }
}

TEST_F(ArchiveJobTest, MethodThatDecodesNothing) {
  // 98 (PPMd) is no method of the engine: nothing is written for it, and the entry
  // may only pass when nothing was promised either.
  struct Case {
    const char *what;
    std::string data;
    int64_t claimedCrc;
    int32_t code;
  } cases[] = {
      {"data and its CRC-32", "hello", -1, ERR_CRC},
      // A CRC-32 of zero is what no data has too: the size still tells.
      {"data, CRC-32 zero", "hello", 0, ERR_CRC},
      {"empty entry", "", -1, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Entry e{"e.bin", c.data, 98, 0, std::string("\x5d\0\0", 3), -1, c.claimedCrc};
    Write(P("m.zip"), BuildZip({{"first.txt", "1"}, e}));
    FileDelete(P("out\\e.bin").c_str());
    EXPECT_EQ(c.code, Extract(P("m.zip"), P("out")));
    EXPECT_EQ("1", Read(P("out\\first.txt")));
    EXPECT_EQ(c.code == 0 ? "" : "<missing>", Read(P("out\\e.bin")));
    EXPECT_EQ(c.code, Extract(P("m.zip"), P("out"), 1)) << "a test run judges alike";
  }
}

}  // namespace

#if defined(__clang__)
#pragma clang attribute pop
#endif
