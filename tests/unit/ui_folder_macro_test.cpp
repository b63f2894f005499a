// Folder macros: which text counts as a macro, and how its folder and the
// rest are joined. The folders themselves come from the platform, so the
// expected text is built from the platform's own answer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "launcher/folder_macro.h"
#include "launcher/folder_macros.h"

namespace {

std::string FolderOf(int id) {
  char folder[272] = "";
  EXPECT_EQ(FolderGetById(id, folder, sizeof folder), 1) << id;
  std::string s = folder;
  if (s.empty() || s.back() != '\\') s += '\\';
  return s;
}

TEST(FolderMacro, ExpandsAtTheStartAnyCaseWithOneBackslash) {
  struct Case {
    const char *path;
    int id;
    const char *rest;
  } cases[] = {
      {"%temp%\\setup", FOLDER_TEMP, "setup"},  // lower case
      {"%TEMP%\\\\\\a\\b", FOLDER_TEMP, "a\\b"},  // repeated backslashes collapse
      {"%AppData%", FOLDER_APPDATA, ""},          // macro alone: folder with its backslash
      {"%LocalAppData%\\x", FOLDER_LOCAL_APPDATA, "x"},
      {"%Programs%\\Vendor\\Tool", FOLDER_PROGRAMS, "Vendor\\Tool"},
      {"%CommonFiles%\\c", FOLDER_COMMON_FILES, "c"},
      {"%documents%\\d", FOLDER_DOCUMENTS, "d"},
      {"%System%\\s", FOLDER_SYSTEM, "s"},
      {"%Windows%\\w", FOLDER_WINDOWS, "w"},
      {"%Temp%name", FOLDER_TEMP, "name"},  // no backslash after the macro: one is put in
      {"%Temp%/x", FOLDER_TEMP, "x"},       // a forward slash is a separator too
  };
  for (const auto &c : cases) {
    char out[272] = "untouched";
    ASSERT_EQ(FolderExpandMacro(c.path, out, sizeof out), 1) << c.path;
    EXPECT_EQ(std::string(out), FolderOf(c.id) + c.rest) << c.path;
  }
}

TEST(FolderMacro, TextWithoutALeadingMacroIsCopied) {
  const char *cases[] = {
      "C:\\%Temp%\\x",   // not at the start
      "%Tmp%\\x",        // not a macro of the table
      "%Temp\\x",        // no closing percent sign
      " %Temp%",         // a blank before it
      "C:\\Program Files\\App",
  };
  for (const char *path : cases) {
    char out[272] = "";
    EXPECT_EQ(FolderExpandMacro(path, out, sizeof out), 1) << path;
    EXPECT_STREQ(out, path);
  }
}

TEST(FolderMacro, InPlaceAndEmptyAndCut) {
  char buffer[272] = "%Temp%\\in place";
  ASSERT_EQ(FolderExpandMacro(buffer, buffer, sizeof buffer), 1);
  EXPECT_EQ(std::string(buffer), FolderOf(FOLDER_TEMP) + "in place");

  char out[272] = "keep";
  EXPECT_EQ(FolderExpandMacro("", out, sizeof out), 1);
  EXPECT_STREQ(out, "keep");
  EXPECT_EQ(FolderExpandMacro(nullptr, out, sizeof out), 1);
  EXPECT_STREQ(out, "keep");

  // The start-up's entry clears its buffer first: no macro, nothing to copy back.
  char start[272] = "stale";
  EXPECT_EQ(ExpandFolderMacro("", start, sizeof start), 1);
  EXPECT_STREQ(start, "");

  // A long rest is cut to the path buffer, always terminated.
  std::string longRest = "%Temp%\\" + std::string(400, 'r');
  char cut[272];
  ASSERT_EQ(FolderExpandMacro(longRest.c_str(), cut, sizeof cut), 1);
  EXPECT_EQ(strlen(cut), 271u);
  char tiny[8];
  ASSERT_EQ(FolderExpandMacro("%Temp%\\x", tiny, sizeof tiny), 1);
  EXPECT_EQ(std::string(tiny), (FolderOf(FOLDER_TEMP) + "x").substr(0, 7));
}

TEST(FolderMacro, UnknownFolderNumberIsNoFolder) {
  char folder[272];
  EXPECT_EQ(FolderGetById(12345, folder, sizeof folder), 0);
}

}  // namespace
