// Throughput of the traditional cipher (byte-wise reference steps beside the
// buffer-wise loop the entry stream runs), of SHA-1 and of AES entry decryption (HMAC-SHA1 + AES-CTR) and
// the time of one key derivation, on the portable and the hardware paths,
// beside 7-Zip testing an AES-256 archive of the same size. Processor time is
// measured (the machine may be shared); printed, never asserted.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <ctime>

#include "crypto/aes_entry.h"
#include "crypto/cpu_dispatch.h"
#include "crypto/crc32.h"
#include "crypto/zip_cipher.h"

namespace {

// Processor time, so that figures stay comparable on a loaded machine.
double CpuSeconds() { return (double)std::clock() / CLOCKS_PER_SEC; }

double ChildCpuSeconds() {
  rusage u;
  getrusage(RUSAGE_CHILDREN, &u);
  return (double)u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + (double)u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

const size_t kSize = 32u << 20;
const uint32_t kPiece = 16384;  // the entry stream's piece size

std::vector<unsigned char> Noise(size_t n) {
  std::vector<unsigned char> v(n);
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    v[i] = (unsigned char)(x >> 24);
  }
  return v;
}

double BenchCtr(int mode, bool authenticate) {
  std::vector<unsigned char> data = Noise(kSize);
  unsigned char salt[16] = {1, 2, 3}, verifier[2];
  AesEntryState st;
  AesEntryInit((uint32_t)mode, "password", 8, salt, verifier, &st);
  double t0 = CpuSeconds();
  for (size_t at = 0; at < data.size(); at += kPiece) {
    if (authenticate) {
      AesEntryDecrypt(data.data() + at, kPiece, &st);
    } else {
      AesCtrXor(data.data() + at, kPiece, &st);
    }
  }
  return kSize / 1048576.0 / (CpuSeconds() - t0);
}

bool HaveSevenZip() { return std::system("command -v 7zz >/dev/null 2>&1") == 0; }

// Our side of the comparison: what a test run does with a stored AES-256
// entry — read in pieces, authenticate, decrypt, checksum, compare the code.
double OurTest(const std::string &zip, bool *ok) {
  *ok = false;
  double t0 = CpuSeconds();
  FILE *f = fopen(zip.c_str(), "rb");
  if (!f) return 0;
  unsigned char lh[30];
  if (fread(lh, 1, 30, f) != 30 || memcmp(lh, "PK\3\4", 4) != 0) {
    fclose(f);
    return 0;
  }
  uint64_t packed = (uint32_t)(lh[18] | lh[19] << 8 | lh[20] << 16 | (uint32_t)lh[21] << 24);
  fseek(f, (long)(lh[26] | lh[27] << 8) + (long)(lh[28] | lh[29] << 8), SEEK_CUR);
  unsigned char salt[16], stored[2], verifier[2], mac[10], code[10];
  AesEntryState st;
  if (fread(salt, 1, 16, f) != 16 || fread(stored, 1, 2, f) != 2 ||
      AesEntryInit(3, "PW", 2, salt, verifier, &st) != 0 || memcmp(stored, verifier, 2) != 0) {
    fclose(f);
    return 0;
  }
  std::vector<unsigned char> buf(kPiece);
  uint64_t left = packed - 28;
  uint32_t crc = 0xFFFFFFFF;
  while (left > 0) {
    size_t want = left < kPiece ? (size_t)left : kPiece;
    if (fread(buf.data(), 1, want, f) != want) break;
    AesEntryDecrypt(buf.data(), (uint32_t)want, &st);
    crc = Crc32Update(crc, buf.data(), want);
    left -= want;
  }
  AesEntryMac(mac, &st);
  *ok = left == 0 && fread(code, 1, 10, f) == 10 && memcmp(mac, code, 10) == 0;
  fclose(f);
  (void)crc;
  return CpuSeconds() - t0;
}

// MB/s of the traditional cipher over kSize bytes in stream-sized pieces:
// through the one-byte steps on the keys in memory, or through CipherDecrypt.
double BenchTraditional(bool bufferWise) {
  std::vector<unsigned char> data = Noise(kSize);
  CipherKeys keys;
  CipherInitKeys(&keys, "password");
  double t0 = CpuSeconds();
  for (size_t at = 0; at < data.size(); at += kPiece) {
    unsigned char *piece = data.data() + at;
    if (bufferWise) {
      CipherDecrypt(&keys, piece, kPiece);
    } else {
      for (uint32_t i = 0; i < kPiece; ++i) piece[i] = CipherUpdateKeys(&keys, (uint8_t)(piece[i] ^ CipherKeystreamByte(&keys)));
    }
  }
  double mbs = kSize / 1048576.0 / (CpuSeconds() - t0);
  // The keys depend on every byte: printing one keeps the work from being dropped.
  printf("%s", keys.key[2] == 0x12345678u ? " " : "");
  return mbs;
}

double BenchSha1() {
  std::vector<unsigned char> data = Noise(kSize);
  Sha1State st;
  Sha1Begin(&st);
  double t0 = CpuSeconds();
  for (size_t at = 0; at < data.size(); at += kPiece) Sha1Hash(data.data() + at, kPiece, &st);
  unsigned char digest[SHA1_DIGEST_SIZE];
  Sha1End(digest, &st);
  return kSize / 1048576.0 / (CpuSeconds() - t0);
}

double BenchPbkdf2Ms() {
  const int runs = 50;
  unsigned char out[66];
  unsigned char salt[16] = {7};
  double t0 = CpuSeconds();
  for (int i = 0; i < runs; ++i) Pbkdf2HmacSha1("password", 8, salt, 16, 1000, out, 66);
  return (CpuSeconds() - t0) * 1000 / runs;
}

}  // namespace

int main() {
  // Both paths in one run: the portable code first, then what the processor offers.
  printf("Traditional cipher, %u-byte pieces over %zu MiB: byte steps %7.1f MB/s   buffer loop %7.1f MB/s\n", kPiece,
         kSize >> 20, BenchTraditional(false), BenchTraditional(true));
  const uint32_t detected = CpuFeatures();
  for (uint32_t paths : {0u, detected}) {
    CpuLimitFeatures(paths);
    printf("%s paths (AES %s, SHA %s):\n", paths ? "hardware" : "portable", paths & CPU_AES ? "yes" : "no",
           paths & CPU_SHA ? "yes" : "no");
    printf("  SHA-1 %7.1f MB/s\n", BenchSha1());
    printf("  AES entry decryption, %u-byte pieces over %zu MiB:\n", kPiece, kSize >> 20);
    for (int mode = 1; mode <= 3; ++mode) {
      printf("    AES-%d  CTR only %7.1f MB/s   CTR + HMAC-SHA1 %7.1f MB/s\n", 64 * mode + 64, BenchCtr(mode, false),
             BenchCtr(mode, true));
    }
    printf("  PBKDF2-HMAC-SHA1, 1000 iterations, 66 bytes (one AES-256 entry): %.3f ms\n", BenchPbkdf2Ms());
    if (detected == 0) break;
  }
  CpuLimitFeatures(detected);

  if (!HaveSevenZip()) {
    printf("7zz not found: comparison skipped\n");
    return 0;
  }
  char dirTemplate[] = "/tmp/kvbench-crypto-XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  std::string dir = dirTemplate;
  {
    std::vector<unsigned char> data = Noise(kSize);
    FILE *f = fopen((dir + "/data.bin").c_str(), "wb");
    if (!f || fwrite(data.data(), 1, data.size(), f) != data.size()) return 1;
    fclose(f);
  }
  std::string zip = dir + "/aes.zip";
  std::string make = "cd " + dir + " && 7zz a -tzip -mx0 -mem=AES256 -pPW aes.zip data.bin >/dev/null";
  if (std::system(make.c_str()) != 0) {
    printf("7zz could not make the archive: comparison skipped\n");
    return 0;
  }
  double best7z = 1e9, bestOurs = 1e9;
  bool ok = false;
  for (int i = 0; i < 3; ++i) {
    double a = ChildCpuSeconds();
    int rc = std::system(("7zz t -pPW " + zip + " >/dev/null").c_str());
    double b = ChildCpuSeconds();
    if (rc == 0 && b - a < best7z) best7z = b - a;
    double ours = OurTest(zip, &ok);
    if (ok && ours < bestOurs) bestOurs = ours;
  }
  if (bestOurs < 1e9 && best7z < 1e9) {
    printf("Testing a %zu MiB stored AES-256 entry (processor time, best of 3, key derivation and reading included):\n", kSize >> 20);
    printf("  ours %.3f s (%.1f MB/s)   7zz t %.3f s (%.1f MB/s)   ours/7zz time ratio %.2f\n", bestOurs,
           kSize / 1048576.0 / bestOurs, best7z, kSize / 1048576.0 / best7z, bestOurs / best7z);
  } else {
    printf("comparison failed (ours ok=%d)\n", ok ? 1 : 0);
  }
  std::system(("rm -rf " + dir).c_str());
  return 0;
}
