#include "pe_resources.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>

namespace {

uint32_t Get16(const std::string &s, size_t at) {
  return (uint32_t)(unsigned char)s[at] | (uint32_t)(unsigned char)s[at + 1] << 8;
}
uint32_t Get32(const std::string &s, size_t at) { return Get16(s, at) | Get16(s, at + 2) << 16; }
void Set16(std::string *s, size_t at, uint32_t v) {
  (*s)[at] = (char)(v & 0xFF);
  (*s)[at + 1] = (char)((v >> 8) & 0xFF);
}
void Set32(std::string *s, size_t at, uint32_t v) {
  Set16(s, at, v & 0xFFFF);
  Set16(s, at + 2, v >> 16);
}
void Put16(std::string *s, uint32_t v) {
  s->push_back((char)(v & 0xFF));
  s->push_back((char)((v >> 8) & 0xFF));
}
void Put32(std::string *s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}
void Pad(std::string *s, size_t alignment) {
  if (s->size() % alignment) s->resize(s->size() + alignment - s->size() % alignment, '\0');
}
bool PowerOfTwo(uint32_t v) { return v && !(v & (v - 1)); }
uint32_t AlignUp(uint32_t v, uint32_t a) { return a ? (v + a - 1) / a * a : v; }

// The headers of a PE image that the writer touches.
struct PeLayout {
  size_t optional = 0;     // offset of the optional header
  size_t directories = 0;  // offset of the data directories
  uint32_t directoryCount = 0;
  size_t sections = 0;     // offset of the section table
  unsigned sectionCount = 0;
  uint32_t sectionAlignment = 0, fileAlignment = 0;
};

bool ReadLayout(const std::string &image, PeLayout *l) {
  if (image.size() < 64 || image.compare(0, 2, "MZ") != 0) return false;
  size_t pe = Get32(image, 0x3C);
  if (pe > image.size() || image.size() - pe < 24 || image.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return false;
  l->sectionCount = Get16(image, pe + 6);
  size_t optionalSize = Get16(image, pe + 20);
  l->optional = pe + 24;
  if (image.size() - l->optional < optionalSize || optionalSize < 96) return false;
  uint32_t magic = Get16(image, l->optional);
  size_t dirs = magic == 0x20B ? 112 : magic == 0x10B ? 96 : 0;
  if (dirs == 0 || optionalSize < dirs) return false;
  l->directories = l->optional + dirs;
  l->directoryCount = std::min<uint32_t>(Get32(image, l->directories - 4), (uint32_t)(optionalSize - dirs) / 8);
  l->sectionAlignment = Get32(image, l->optional + 32);
  l->fileAlignment = Get32(image, l->optional + 36);
  l->sections = l->optional + optionalSize;
  // What the loader accepts: powers of two, the file's from 512 to 64 KiB,
  // sections' no finer. Anything else would have padding run away.
  if (!PowerOfTwo(l->fileAlignment) || l->fileAlignment < 512 || l->fileAlignment > 0x10000) return false;
  if (!PowerOfTwo(l->sectionAlignment) || l->sectionAlignment < l->fileAlignment ||
      l->sectionAlignment > 0x1000000)
    return false;
  return l->sections + (size_t)l->sectionCount * 40 <= image.size();
}

size_t Section(const PeLayout &l, unsigned i) { return l.sections + (size_t)i * 40; }

// The section holding an RVA, or -1.
int SectionOf(const std::string &image, const PeLayout &l, uint32_t rva) {
  for (unsigned i = 0; i < l.sectionCount; ++i) {
    uint32_t va = Get32(image, Section(l, i) + 12);
    uint32_t size = std::max(Get32(image, Section(l, i) + 8), Get32(image, Section(l, i) + 16));
    if (rva >= va && rva - va < size) return (int)i;
  }
  return -1;
}

struct Reader {
  const std::string &image;
  size_t base;      // file offset of the resource section
  size_t size;      // bytes of it in the file
  uint32_t rva;     // its RVA
  std::string *error;
  int depthBudget = 0;

  bool Fail(const char *why) {
    *error = std::string("damaged resource section: ") + why;
    return false;
  }
  bool In(uint32_t offset, uint32_t length) const { return offset <= size && size - offset >= length; }

  bool Name(uint32_t field, PeResName *name) {
    if (!(field & 0x80000000u)) {
      name->isId = true;
      name->id = (uint16_t)field;
      return true;
    }
    uint32_t at = field & 0x7FFFFFFFu;
    if (!In(at, 2)) return Fail("name out of bounds");
    uint32_t length = Get16(image, base + at);
    if (!In(at + 2, length * 2)) return Fail("name out of bounds");
    name->isId = false;
    for (uint32_t k = 0; k < length; ++k) name->name.push_back((char16_t)Get16(image, base + at + 2 + k * 2));
    return true;
  }

  // Calls visit(name, offsetField) for each entry of the directory at offset.
  bool Directory(uint32_t offset, const std::function<bool(const PeResName &, uint32_t)> &visit) {
    if (!In(offset, 16)) return Fail("directory out of bounds");
    uint32_t count = Get16(image, base + offset + 12) + Get16(image, base + offset + 14);
    if (!In(offset + 16, count * 8)) return Fail("directory out of bounds");
    for (uint32_t i = 0; i < count; ++i) {
      size_t e = base + offset + 16 + i * 8;
      PeResName name;
      if (!Name(Get32(image, e), &name) || !visit(name, Get32(image, e + 4))) return false;
    }
    return true;
  }

  bool Leaf(uint32_t field, PeResLeaf *leaf) {
    if (field & 0x80000000u) return Fail("a fourth level");
    if (!In(field, 16)) return Fail("data entry out of bounds");
    uint32_t dataRva = Get32(image, base + field), dataSize = Get32(image, base + field + 4);
    leaf->codePage = Get32(image, base + field + 8);
    if (dataRva < rva || !In(dataRva - rva, dataSize)) return Fail("data out of bounds");
    leaf->data = image.substr(base + (dataRva - rva), dataSize);
    return true;
  }
};

std::string Utf16(const std::u16string &s) {
  std::string out;
  for (char16_t c : s) Put16(&out, c);
  return out;
}

bool Utf8ToUtf16(const std::string &in, std::u16string *out) {
  out->clear();
  for (size_t i = 0; i < in.size();) {
    unsigned char c = (unsigned char)in[i];
    uint32_t cp;
    size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || i + n > in.size()) return false;
    cp = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
      if (((unsigned char)in[i + k] & 0xC0) != 0x80) return false;
      cp = cp << 6 | ((unsigned char)in[i + k] & 0x3F);
    }
    if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    if (cp >= 0x10000) {
      out->push_back((char16_t)(0xD800 + ((cp - 0x10000) >> 10)));
      out->push_back((char16_t)(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out->push_back((char16_t)cp);
    }
    i += n;
  }
  return true;
}

bool NameLess(const PeResName &a, const PeResName &b) {
  if (a.isId != b.isId) return !a.isId;  // names before numbers
  return a.isId ? a.id < b.id : a.name < b.name;
}

// Serialises the tree for a section at rva: directories, names, data entries, data.
std::string WriteTree(PeResTree tree, uint32_t rva) {
  std::sort(tree.begin(), tree.end(), [](const PeResType &a, const PeResType &b) { return NameLess(a.type, b.type); });
  for (PeResType &t : tree)
    std::sort(t.entries.begin(), t.entries.end(),
              [](const PeResEntry &a, const PeResEntry &b) { return NameLess(a.name, b.name); });
  // Sizes first, so that every offset is known when written.
  uint32_t dirSize = 16 + 8 * (uint32_t)tree.size(), leafCount = 0;
  std::string names;
  std::map<std::u16string, uint32_t> nameOffsets;
  auto addName = [&](const PeResName &n) {
    if (n.isId || nameOffsets.count(n.name)) return;
    nameOffsets[n.name] = (uint32_t)names.size();
    Put16(&names, (uint32_t)n.name.size());
    names += Utf16(n.name);
  };
  for (const PeResType &t : tree) {
    addName(t.type);
    dirSize += 16 + 8 * (uint32_t)t.entries.size();
    for (const PeResEntry &e : t.entries) {
      addName(e.name);
      dirSize += 16 + 8 * (uint32_t)e.leaves.size();
      leafCount += (uint32_t)e.leaves.size();
    }
  }
  uint32_t namesAt = dirSize;
  uint32_t entriesAt = AlignUp(namesAt + (uint32_t)names.size(), 4);
  uint32_t dataAt = AlignUp(entriesAt + 16 * leafCount, 8);

  std::string dirs, entries, data;
  auto nameField = [&](const PeResName &n) -> uint32_t {
    return n.isId ? n.id : 0x80000000u | (namesAt + nameOffsets[n.name]);
  };
  auto header = [](std::string *out, const auto &items) {
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    uint32_t named = 0;
    for (const auto &i : items) named += i.isId ? 0 : 1;
    Put16(out, named);
    Put16(out, (uint32_t)items.size() - named);
  };
  // Breadth-first: level 1, then every type's directory, then every entry's.
  std::vector<PeResName> typeNames;
  for (const PeResType &t : tree) typeNames.push_back(t.type);
  header(&dirs, typeNames);
  uint32_t next = 16 + 8 * (uint32_t)tree.size();
  for (const PeResType &t : tree) {
    Put32(&dirs, nameField(t.type));
    Put32(&dirs, 0x80000000u | next);
    next += 16 + 8 * (uint32_t)t.entries.size();
  }
  for (const PeResType &t : tree) {
    std::vector<PeResName> entryNames;
    for (const PeResEntry &e : t.entries) entryNames.push_back(e.name);
    header(&dirs, entryNames);
    for (const PeResEntry &e : t.entries) {
      Put32(&dirs, nameField(e.name));
      Put32(&dirs, 0x80000000u | next);
      next += 16 + 8 * (uint32_t)e.leaves.size();
    }
  }
  uint32_t leafIndex = 0;
  for (const PeResType &t : tree)
    for (const PeResEntry &e : t.entries) {
      std::vector<PeResName> langs;
      for (const PeResLeaf &l : e.leaves) {
        PeResName n;
        n.id = (uint16_t)l.lang;
        langs.push_back(n);
      }
      header(&dirs, langs);
      for (const PeResLeaf &l : e.leaves) {
        Put32(&dirs, l.lang);
        Put32(&dirs, entriesAt + 16 * leafIndex++);
        Put32(&entries, rva + dataAt + (uint32_t)data.size());
        Put32(&entries, (uint32_t)l.data.size());
        Put32(&entries, l.codePage);
        Put32(&entries, 0);
        data += l.data;
        Pad(&data, 8);
      }
    }
  std::string out = dirs + names;
  Pad(&out, 4);
  out += entries;
  Pad(&out, 8);
  return out + data;
}

// The first entry of a type in the order the file is written in (names, then
// numbers ascending), which is the one the shell shows, whatever order the
// stub's own directory lists them in.
template <class Tree, class Entry>
Entry *FirstOfType(Tree &tree, uint16_t type) {
  for (auto &t : tree)
    if (t.type.isId && t.type.id == type && !t.entries.empty())
      return &*std::min_element(t.entries.begin(), t.entries.end(),
                                [](const PeResEntry &a, const PeResEntry &b) { return NameLess(a.name, b.name); });
  return nullptr;
}

PeResEntry *FindFirstMutable(PeResTree *tree, uint16_t type) { return FirstOfType<PeResTree, PeResEntry>(*tree, type); }

PeResType *TypeOf(PeResTree *tree, uint16_t type) {
  for (PeResType &t : *tree)
    if (t.type.isId && t.type.id == type) return &t;
  PeResType t;
  t.type.id = type;
  tree->push_back(t);
  return &tree->back();
}

// An .ico file: header, directory and images inside the file, each image a
// PNG or a device-independent bitmap.
bool CheckIcon(const std::string &ico, std::string *error) {
  *error = "the icon file is not an icon (.ico)";
  if (ico.size() < 6 || Get16(ico, 0) != 0 || Get16(ico, 2) != 1) return false;
  uint32_t count = Get16(ico, 4);
  if (count == 0 || ico.size() < 6 + 16 * (size_t)count) return false;
  for (uint32_t i = 0; i < count; ++i) {
    size_t e = 6 + 16 * (size_t)i;
    uint32_t size = Get32(ico, e + 8), offset = Get32(ico, e + 12);
    if (size < 8 || offset > ico.size() || ico.size() - offset < size) {
      *error = "the icon file is damaged: image " + std::to_string(i + 1) + " lies outside the file";
      return false;
    }
    if (ico.compare(offset, 8, "\x89PNG\r\n\x1a\n") != 0 && Get32(ico, offset) != 40) {
      *error = "the icon file's image " + std::to_string(i + 1) + " is neither PNG nor a bitmap";
      return false;
    }
  }
  return true;
}

const char *const kVersionKeys[] = {"FileVersion",     "ProductVersion", "ProductName",     "CompanyName",
                                    "FileDescription", "LegalCopyright", "OriginalFilename", "Comments",
                                    "InternalName",    "LegalTrademarks", "PrivateBuild",    "SpecialBuild"};
constexpr size_t kVersionValueMax = 255;  // characters of one value

// "1.2.3.4" (one to four parts, each 0-65535) as the two halves of a fixed version.
bool ParseVersion(const std::string &text, uint32_t *high, uint32_t *low) {
  uint32_t parts[4] = {};
  int n = 0;
  size_t i = 0;
  while (true) {
    if (n == 4 || i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    uint32_t v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      v = v * 10 + (uint32_t)(text[i++] - '0');
      if (v > 65535) return false;
    }
    parts[n++] = v;
    if (i == text.size()) break;
    if (text[i++] != '.') return false;
  }
  *high = parts[0] << 16 | parts[1];
  *low = parts[2] << 16 | parts[3];
  return true;
}

// One node of the version structure: length, value length, type, key, value, children.
std::string VersionNode(const char *key, const std::string &value, uint32_t valueLength, uint32_t type,
                        const std::string &children) {
  std::string out;
  Put16(&out, 0);
  Put16(&out, valueLength);
  Put16(&out, type);
  for (const char *k = key; *k; ++k) Put16(&out, (unsigned char)*k);
  Put16(&out, 0);
  Pad(&out, 4);
  out += value;
  if (!children.empty()) {
    Pad(&out, 4);
    out += children;
  }
  Set16(&out, 0, (uint32_t)out.size());
  return out;
}

std::string BuildVersionInfo(const std::vector<std::pair<std::string, std::string>> &values) {
  uint32_t fileHigh = 0, fileLow = 0, productHigh = 0, productLow = 0, flags = 0;
  bool product = false;
  for (const auto &kv : values) {
    if (kv.first == "FileVersion") ParseVersion(kv.second, &fileHigh, &fileLow);
    if (kv.first == "ProductVersion") product = ParseVersion(kv.second, &productHigh, &productLow);
    // The fixed part says when these strings are there (private, special build).
    if (kv.first == "PrivateBuild") flags |= 0x08;
    if (kv.first == "SpecialBuild") flags |= 0x20;
  }
  if (!product) productHigh = fileHigh, productLow = fileLow;
  std::string fixed;
  for (uint32_t v : {0xFEEF04BDu, 0x00010000u, fileHigh, fileLow, productHigh, productLow, 0x3Fu, flags, 0x40004u,
                     1u, 0u, 0u, 0u})
    Put32(&fixed, v);
  std::string strings;
  for (const auto &kv : values) {
    std::u16string text;
    Utf8ToUtf16(kv.second, &text);
    text.push_back(0);
    Pad(&strings, 4);
    strings += VersionNode(kv.first.c_str(), Utf16(text), (uint32_t)text.size(), 1, "");
  }
  std::string table = VersionNode("040904B0", "", 0, 1, strings);
  std::string translation;
  Put32(&translation, 0x0409u | 1200u << 16);
  std::string children = VersionNode("StringFileInfo", "", 0, 1, table);
  Pad(&children, 4);
  children += VersionNode("VarFileInfo", "", 0, 1, VersionNode("Translation", translation, 4, 0, ""));
  return VersionNode("VS_VERSION_INFO", fixed, (uint32_t)fixed.size(), 0, children);
}

bool ReplaceIconGroup(PeResTree *tree, const std::string &ico, std::string *error) {
  PeResEntry *group = FindFirstMutable(tree, PE_RT_GROUP_ICON);
  if (!group || group->leaves.empty()) {
    *error = "the stub has no icon group to replace";
    return false;
  }
  // The old group's images go; the new ones take fresh numbers.
  const std::string &old = group->leaves.front().data;
  std::vector<uint16_t> oldIds;
  for (size_t at = 6; old.size() >= 6 && at + 14 <= old.size() && oldIds.size() < Get16(old, 4); at += 14)
    oldIds.push_back((uint16_t)Get16(old, at + 12));
  PeResType *icons = TypeOf(tree, PE_RT_ICON);
  auto &entries = icons->entries;
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [&](const PeResEntry &e) {
                                 return e.name.isId &&
                                        std::find(oldIds.begin(), oldIds.end(), e.name.id) != oldIds.end();
                               }),
                entries.end());
  uint32_t nextId = 1;
  for (const PeResEntry &e : entries)
    if (e.name.isId) nextId = std::max<uint32_t>(nextId, e.name.id + 1u);
  uint32_t lang = group->leaves.front().lang, count = Get16(ico, 4);
  if (nextId + count > 0xFFFF) {
    *error = "the stub has no icon numbers left";
    return false;
  }
  std::string dir;
  Put16(&dir, 0);
  Put16(&dir, 1);
  Put16(&dir, count);
  for (uint32_t i = 0; i < count; ++i) {
    size_t e = 6 + 16 * (size_t)i;
    dir += ico.substr(e, 8);                // width, height, colours, reserved, planes, bit count
    Put32(&dir, Get32(ico, e + 8));         // bytes
    Put16(&dir, nextId + i);
    PeResEntry image;
    image.name.id = (uint16_t)(nextId + i);
    PeResLeaf leaf;
    leaf.lang = lang;
    leaf.data = ico.substr(Get32(ico, e + 12), Get32(ico, e + 8));
    image.leaves.push_back(leaf);
    entries.push_back(image);
  }
  group->leaves.resize(1);
  group->leaves.front().data = dir;
  return true;
}

bool SetManifestLevel(PeResTree *tree, const std::string &level, std::string *error) {
  PeResEntry *manifest = FindFirstMutable(tree, PE_RT_MANIFEST);
  std::string *text = manifest && !manifest->leaves.empty() ? &manifest->leaves.front().data : nullptr;
  size_t tag = text ? text->find("requestedExecutionLevel") : std::string::npos;
  size_t end = tag == std::string::npos ? tag : text->find('>', tag);
  size_t attr = tag == std::string::npos ? tag : text->find("level=\"", tag);
  if (attr == std::string::npos || attr > end) {
    *error = "the stub's manifest has no requestedExecutionLevel to set";
    return false;
  }
  attr += 7;
  size_t close = text->find('"', attr);
  text->replace(attr, close - attr, level);
  return true;
}

}  // namespace

bool PeReadResources(const std::string &image, PeResTree *tree, std::string *error) {
  tree->clear();
  PeLayout l;
  if (!ReadLayout(image, &l)) {
    *error = "not a Windows program (no PE header, or one with impossible alignments)";
    return false;
  }
  if (l.directoryCount < 3) return true;
  uint32_t rva = Get32(image, l.directories + 16), size = Get32(image, l.directories + 20);
  if (rva == 0 || size == 0) return true;
  int s = SectionOf(image, l, rva);
  if (s < 0) {
    *error = "damaged resource section: outside every section";
    return false;
  }
  size_t sec = Section(l, (unsigned)s);
  uint32_t va = Get32(image, sec + 12), raw = Get32(image, sec + 16), pointer = Get32(image, sec + 20);
  if (pointer > image.size() || raw > image.size() - pointer) {
    *error = "damaged resource section: beyond the end of the file";
    return false;
  }
  Reader r{image, pointer + (rva - va), raw - std::min(raw, rva - va), rva, error};
  // Exactly three levels: type, name, language.
  bool read = r.Directory(0, [&](const PeResName &typeName, uint32_t typeField) {
    if (!(typeField & 0x80000000u)) return r.Fail("a type without a directory");
    PeResType type;
    type.type = typeName;
    bool ok = r.Directory(typeField & 0x7FFFFFFFu, [&](const PeResName &entryName, uint32_t entryField) {
      if (!(entryField & 0x80000000u)) return r.Fail("a name without a directory");
      if (++r.depthBudget > 100000) return r.Fail("too many entries");
      PeResEntry entry;
      entry.name = entryName;
      bool inner = r.Directory(entryField & 0x7FFFFFFFu, [&](const PeResName &langName, uint32_t leafField) {
        PeResLeaf leaf;
        leaf.lang = langName.id;
        if (!r.Leaf(leafField, &leaf)) return false;
        entry.leaves.push_back(leaf);
        return true;
      });
      type.entries.push_back(entry);
      return inner;
    });
    tree->push_back(type);
    return ok;
  });
  if (!read) return false;
  // A type or a name listed twice leaves it open which one counts.
  auto listedTwice = [](std::vector<PeResName> names) {
    std::sort(names.begin(), names.end(), NameLess);
    for (size_t i = 1; i < names.size(); i++)
      if (!NameLess(names[i - 1], names[i])) return true;
    return false;
  };
  std::vector<PeResName> types;
  for (const PeResType &t : *tree) {
    types.push_back(t.type);
    std::vector<PeResName> entries;
    for (const PeResEntry &e : t.entries) entries.push_back(e.name);
    if (listedTwice(entries)) return r.Fail("a name listed twice");
  }
  if (listedTwice(types)) return r.Fail("a type listed twice");
  return true;
}

const PeResEntry *PeFindFirst(const PeResTree &tree, uint16_t type) {
  return FirstOfType<const PeResTree, const PeResEntry>(tree, type);
}

bool PeCheckEdits(const PeResourceEdits &edits, std::string *error) {
  if (!edits.icon.empty() && !CheckIcon(edits.icon, error)) return false;
  for (const auto &kv : edits.versionInfo) {
    bool known = false;
    for (const char *k : kVersionKeys) known |= kv.first == k;
    if (!known) {
      std::string keys;
      for (const char *k : kVersionKeys) keys += std::string(keys.empty() ? "" : ", ") + k;
      *error = "unknown version key '" + kv.first + "' (" + keys + ")";
      return false;
    }
    std::u16string text;
    if (!Utf8ToUtf16(kv.second, &text)) {
      *error = "the version value of " + kv.first + " is not UTF-8";
      return false;
    }
    if (text.size() > kVersionValueMax) {
      *error = "the version value of " + kv.first + " is " + std::to_string(text.size()) +
               " characters long; at most " + std::to_string(kVersionValueMax) + " fit";
      return false;
    }
    uint32_t high, low;
    if (kv.first == "FileVersion" && !ParseVersion(kv.second, &high, &low)) {
      *error = "FileVersion must be one to four numbers 0-65535 joined by dots, not '" + kv.second + "'";
      return false;
    }
  }
  const std::string &m = edits.manifestLevel;
  if (!m.empty() && m != "asInvoker" && m != "highestAvailable" && m != "requireAdministrator") {
    *error = "the manifest level is asInvoker, highestAvailable or requireAdministrator, not '" + m + "'";
    return false;
  }
  return true;
}

bool PeApplyEdits(std::string *image, const PeResourceEdits &edits, std::string *error) {
  if (!PeCheckEdits(edits, error)) return false;
  PeResTree tree;
  if (!PeReadResources(*image, &tree, error)) return false;
  PeLayout l;
  ReadLayout(*image, &l);
  if (!edits.icon.empty() && !ReplaceIconGroup(&tree, edits.icon, error)) return false;
  if (!edits.manifestLevel.empty() && !SetManifestLevel(&tree, edits.manifestLevel, error)) return false;
  if (!edits.versionInfo.empty()) {
    PeResType *type = TypeOf(&tree, PE_RT_VERSION);
    uint32_t lang = !type->entries.empty() && !type->entries[0].leaves.empty() ? type->entries[0].leaves[0].lang
                                                                               : 0x0409;
    PeResEntry entry;
    entry.name.id = 1;
    PeResLeaf leaf;
    leaf.lang = lang;
    leaf.data = BuildVersionInfo(edits.versionInfo);
    entry.leaves.push_back(leaf);
    type->entries.assign(1, entry);
  }

  // The resource section is rebuilt in place; it must be the last section,
  // or followed only by the relocations, which move behind it.
  uint32_t rva = l.directoryCount >= 3 ? Get32(*image, l.directories + 16) : 0;
  int rsrc = rva ? SectionOf(*image, l, rva) : -1;
  if (rsrc < 0 || Get32(*image, Section(l, (unsigned)rsrc) + 12) != rva) {
    *error = "the stub has no resource section of its own";
    return false;
  }
  size_t rs = Section(l, (unsigned)rsrc);
  uint32_t rsrcPointer = Get32(*image, rs + 20), fileEnd = 0;
  std::vector<unsigned> after;
  for (unsigned i = 0; i < l.sectionCount; ++i) {
    size_t s = Section(l, i);
    fileEnd = std::max(fileEnd, Get32(*image, s + 20) + Get32(*image, s + 16));
    if (Get32(*image, s + 12) <= rva) continue;
    if (image->compare(s, 8, std::string(".reloc\0\0", 8)) != 0 || Get32(*image, s + 20) < rsrcPointer) {
      *error = "the stub's resource section is not its last section";
      return false;
    }
    after.push_back(i);
  }
  if (fileEnd != image->size()) {
    *error = "the stub carries data behind its sections (a signature?): edit an unsigned stub";
    return false;
  }
  std::string section = WriteTree(tree, rva);
  uint32_t virtualSize = (uint32_t)section.size();
  Pad(&section, l.fileAlignment ? l.fileAlignment : 512);
  int64_t rawDelta = (int64_t)section.size() - Get32(*image, rs + 16);
  std::string out = image->substr(0, rsrcPointer) + section;
  Set32(&out, rs + 8, virtualSize);
  Set32(&out, rs + 16, (uint32_t)section.size());
  Set32(&out, l.directories + 20, virtualSize);
  uint32_t nextVa = AlignUp(rva + virtualSize, l.sectionAlignment), lastEnd = rva + virtualSize;
  for (unsigned i : after) {
    size_t s = Section(l, i);
    uint32_t oldVa = Get32(*image, s + 12), pointer = Get32(*image, s + 20), raw = Get32(*image, s + 16);
    Set32(&out, s + 12, nextVa);
    Set32(&out, s + 20, (uint32_t)out.size());
    out += image->substr(pointer, raw);
    for (uint32_t d = 0; d < l.directoryCount; ++d) {
      uint32_t dirRva = Get32(out, l.directories + d * 8);
      if (d != 2 && dirRva >= oldVa && dirRva - oldVa < std::max(raw, Get32(*image, s + 8)))
        Set32(&out, l.directories + d * 8, dirRva - oldVa + nextVa);
    }
    lastEnd = nextVa + Get32(*image, s + 8);
    nextVa = AlignUp(lastEnd, l.sectionAlignment);
  }
  Set32(&out, l.optional + 56, AlignUp(lastEnd, l.sectionAlignment));  // SizeOfImage
  Set32(&out, l.optional + 8, (uint32_t)((int64_t)Get32(out, l.optional + 8) + rawDelta));  // initialised data
  *image = out;
  return true;
}

size_t PeChecksumOffset(const std::string &image) {
  PeLayout l;
  return ReadLayout(image, &l) ? l.optional + 64 : 0;
}

void PeChecksum::Add(const void *data, size_t size) {
  const unsigned char *p = (const unsigned char *)data;
  size_ += size;
  if (size && odd_ >= 0) {
    sum_ += (uint32_t)odd_ | (uint32_t)p[0] << 8;
    odd_ = -1;
    ++p;
    --size;
  }
  for (; size >= 2; p += 2, size -= 2) sum_ += (uint32_t)p[0] | (uint32_t)p[1] << 8;
  if (size) odd_ = p[0];
}

uint32_t PeChecksum::Finish() const {
  uint64_t sum = sum_ + (odd_ >= 0 ? (uint32_t)odd_ : 0);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return (uint32_t)sum + (uint32_t)size_;
}
