// Fuzzes the start-up reader of the metadata block over arbitrary file
// contents behind a stub-sized run of zero bytes. Checks that the reader
// never leaves a temporary copy of the language text behind and that every
// text setting stays terminated within its limit.
#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fileio/file_io.h"
#include "launcher/lang_table.h"
#include "launcher/sfx_meta.h"

namespace {

char g_tempDir[256];
std::string g_imagePath;

void Check(bool ok) {
  if (!ok) abort();
}

std::string U32(uint32_t v) {
  unsigned char b[4];
  PutU32(b, v);
  return std::string((const char *)b, 4);
}

std::string ValidLangText() {
  std::string text = "[description]\r\n0=Fuzz\r\n[data]\r\n";
  for (int k = 0; k < LANG_STRING_COUNT; ++k)
    text += std::to_string(k) + "=" + (k == 34 ? std::string("%s %s %s %s") : "s\\n" + std::to_string(k)) + "\r\n";
  return text;
}

// Only the image itself may remain in the private temporary folder.
int CountTempEntries() {
  DIR *dir = opendir(g_tempDir);
  Check(dir != nullptr);
  int count = 0;
  while (struct dirent *e = readdir(dir))
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) ++count;
  closedir(dir);
  return count;
}

void RemoveTempDir() {
  unlink(g_imagePath.c_str());
  rmdir(g_tempDir);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // A private temporary folder: the reader's copies go there, and so does the image.
  snprintf(g_tempDir, sizeof g_tempDir, "/tmp/kvfuzz_meta_XXXXXX");
  Check(mkdtemp(g_tempDir) != nullptr);
  setenv("TMPDIR", g_tempDir, 1);
  g_imagePath = std::string(g_tempDir) + "/image.bin";
  atexit(RemoveTempDir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  // The first byte chooses how much of a valid block comes before the
  // fuzzer's bytes, so that every stage of the reader is reached.
  static const std::string lang = ValidLangText();
  std::string header = std::string(SFX_MAGIC, SFX_MAGIC_SIZE) + U32(SFX_FORMAT_VERSION) + U32(SFX_REVISION);
  std::string image(SFX_SCAN_OFFSET, '\0');
  switch (data[0] % 3) {
    case 1:
      image += header;
      break;
    case 2:
      image += header + U32((uint32_t)lang.size()) + lang;
      break;
    default:
      break;
  }
  image.append((const char *)data + 1, size - 1);

  FILE *f = fopen(g_imagePath.c_str(), "wb");
  Check(f && fwrite(image.data(), 1, image.size(), f) == image.size());
  fclose(f);
  std::string programPath = g_imagePath;
  for (char &c : programPath)
    if (c == '/') c = '\\';
  StrCopy(g_programPath, programPath.c_str(), sizeof g_programPath);

  SfxBlockInfo info;
  int code = SfxReadBlock(&info);
  Check(code == 0 || code == SFX_NOT_FOUND || code == SFX_BAD_LANGUAGE);
  if (code == 0) {
    Check(info.blockOffset >= SFX_SCAN_OFFSET && info.langLength >= 1 && info.langLength <= SFX_LANG_MAX);
    for (const SfxField &field : kSfxFields)
      if (field.kind == SFX_FIELD_TEXT) Check(strlen(SfxFieldText(&g_settings, field)) <= field.limit);
    SfxDeriveSettings();
  }
  LangTableFree(g_langTable);
  Check(CountTempEntries() == 1);
  return 0;
}
