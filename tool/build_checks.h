// What kvsfx build checks and does around the output file: the archive's
// entries against what the stubs decode, the run-after program's presence,
// a full test through the engine, a signature's size limit, and the other
// volumes of a split set.
#ifndef KV_BUILD_CHECKS_H
#define KV_BUILD_CHECKS_H

#include <cstdint>
#include <string>
#include <vector>

// Refuses (false, *error) an archive with an entry the stubs cannot decode:
// a method other than stored, Deflate, Deflate64 and LZMA, or an encryption other
// than traditional and AES; the first few such entries are named. When
// runProgram is not empty, an archive without that entry is refused too.
// archivePath is a program path (ToolArchivePath).
// With windowsNames, entries that would land on one file on Windows (see
// WindowsNameKey) are refused too, naming both.
// *entries gets the number of entries.
bool CheckArchiveEntries(const std::string &archivePath, const std::string &runProgram, bool windowsNames,
                         uint64_t *entries, std::string *error);

// The file an entry name (slashes or backslashes; a folder ends in one)
// lands on under Windows, as a key: two names with the same key are one
// file there. Letters compared without case (ASCII and Latin-1), trailing
// dots and blanks of a component dropped, reserved characters and ':' as
// '_', device names with a '_' in front. No trailing separator.
std::string WindowsNameKey(const std::string &name);

// The program a run command starts, as the stub derives it in mode 0 (the
// part before the first bar); other modes take the whole command.
std::string RunProgramOf(const std::string &runCommand, uint32_t mode);

// Decodes and checks every entry, writing nothing. False with the engine's
// error in *error.
bool VerifyArchive(const std::string &archivePath, std::string *error);

// Authenticode's size field is 32 bits: a larger file cannot be signed.
constexpr uint64_t SIGNABLE_MAX = 0xFFFFFFFFull;

// The name volume n (0-based) of a split set takes beside path: its base
// name with .z01, .z02 ... (.100 from the hundredth on).
std::string VolumeName(const std::string &path, unsigned n);

// Copies the first count volumes beside archive to their names beside out,
// listing each file made in *written. Refuses, before copying anything, a
// missing volume or (without force) an existing target. A failed copy
// removes what it wrote. (A file that appears between the check and the
// copy is replaced.)
bool CopySplitVolumes(const std::string &archive, const std::string &out, unsigned count, bool force,
                      std::vector<std::string> *written, std::string *error);

#endif
