// Fuzzes the tool's PE resource reader and writer: any file given as a stub
// is read; where that works the edits are applied and the result must read
// back with the new icon group. The same bytes are also checked as an icon.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tool/pe_resources.h"

namespace {

void Check(bool ok) {
  if (!ok) abort();
}

std::string SmallIcon() {
  std::string image(40 + 4 * 4 + 4, '\0');
  image[0] = 40;
  std::string ico("\0\0\1\0\1\0", 6);
  ico += std::string("\x01\x01\0\0\1\0\x20\0", 8);
  ico += std::string(1, (char)image.size()) + std::string("\0\0\0", 3);
  ico += std::string("\x16\0\0\0", 4);
  return ico + image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string bytes((const char *)data, size), error;
  PeResourceEdits asIcon;
  asIcon.icon = bytes;
  PeCheckEdits(asIcon, &error);

  PeResTree tree;
  if (!PeReadResources(bytes, &tree, &error)) return 0;
  PeResourceEdits edits;
  edits.icon = SmallIcon();
  edits.manifestLevel = "highestAvailable";
  edits.versionInfo.emplace_back("FileVersion", "1.2.3.4");
  Check(PeCheckEdits(edits, &error));
  std::string image = bytes;
  if (!PeApplyEdits(&image, edits, &error)) return 0;
  PeResTree again;
  Check(PeReadResources(image, &again, &error));
  const PeResEntry *group = PeFindFirst(again, PE_RT_GROUP_ICON);
  Check(group && !group->leaves.empty() && group->leaves.front().data.size() == 20);
  Check(PeFindFirst(again, PE_RT_VERSION) != nullptr);
  PeChecksum sum;
  sum.Add(image.data(), image.size());
  (void)sum.Finish();
  return 0;
}
