// The resource section of a Windows program, read and written by the tool:
// the stub's icon group, version information and manifest level are set at
// build time without a resource compiler.
#ifndef KV_PE_RESOURCES_H
#define KV_PE_RESOURCES_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Resource types used here.
constexpr uint16_t PE_RT_ICON = 3;
constexpr uint16_t PE_RT_GROUP_ICON = 14;
constexpr uint16_t PE_RT_VERSION = 16;
constexpr uint16_t PE_RT_MANIFEST = 24;

// A name or number of the resource tree.
struct PeResName {
  bool isId = true;
  uint16_t id = 0;
  std::u16string name;
};
struct PeResLeaf {
  uint32_t lang = 0;
  uint32_t codePage = 0;
  std::string data;
};
struct PeResEntry {
  PeResName name;
  std::vector<PeResLeaf> leaves;
};
struct PeResType {
  PeResName type;
  std::vector<PeResEntry> entries;
};
typedef std::vector<PeResType> PeResTree;

// Reads the resource tree of a PE image. False (with *error) for a file that
// is no PE image or whose resource section is damaged; an image without
// resources gives an empty tree.
bool PeReadResources(const std::string &image, PeResTree *tree, std::string *error);

// The first entry of a type (the one the shell shows for icon groups), or null.
const PeResEntry *PeFindFirst(const PeResTree &tree, uint16_t type);

// What a build changes.
struct PeResourceEdits {
  std::string icon;  // the bytes of an .ico file; empty: keep the stub's
  std::vector<std::pair<std::string, std::string>> versionInfo;  // KEY=VALUE, UTF-8; empty: keep
  std::string manifestLevel;  // asInvoker, highestAvailable, requireAdministrator; empty: keep
};

// Checks, before anything is written: an icon file that is not one, an
// unknown version key or level, a version too long for its field.
bool PeCheckEdits(const PeResourceEdits &edits, std::string *error);

// Applies the edits to the image in memory: the resource section is rebuilt
// and the image's sizes follow. The checksum is left for PeChecksum.
bool PeApplyEdits(std::string *image, const PeResourceEdits &edits, std::string *error);

// File offset of the optional header's CheckSum field, or 0 for no PE image.
size_t PeChecksumOffset(const std::string &image);

// The PE checksum over a whole file fed in pieces of any size, the checksum
// field counted as zero by the caller.
class PeChecksum {
 public:
  void Add(const void *data, size_t size);
  uint32_t Finish() const;

 private:
  uint64_t sum_ = 0;
  uint64_t size_ = 0;
  int odd_ = -1;  // a byte waiting for its partner
};

#endif
