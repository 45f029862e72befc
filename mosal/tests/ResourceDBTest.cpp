// ResourceDB: the resource file of the message locale, found by its exact
// name in a directory and loaded with the key=value rules.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "mosal/ResourceDB.h"
#include "mosal/Trace.h"
#include "mosal/tests/ScratchDirTest.h"

using namespace MorvaneLib;

namespace {

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

class ResourceDBTest : public ScratchDirTest {
 protected:
  ResourceDBTest() : ScratchDirTest("resourcedb") {}
};

}  // namespace

TEST_F(ResourceDBTest, TheResourceFileOfTheLocaleIsLoadedOnce) {
  ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
  EXPECT_EQ(ResourceDB::loadResourceFile((root + "/missing").c_str()), -1);
  // A directory without the file loads nothing but is no failure.
  ASSERT_EQ(ResourceDB::loadResourceFile(dir.c_str()), 0);
  ASSERT_NE(ResourceDB::getResourceTable(), nullptr);
  const char* locale = ResourceDB::getLocale();
  ASSERT_NE(locale, nullptr);
  EXPECT_EQ(ResourceDB::getResourceTable()->get("title", 6), nullptr);

  writeFile(dir + "/resdb." + locale, "title = Control Panel\n# note\nlabel=Call...\n");
  writeFile(dir + "/resdb.other", "title=wrong\n");
  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  ASSERT_EQ(ResourceDB::loadResourceFile(dir.c_str()), 0);
  std::string out = testing::internal::GetCapturedStdout();
  Trace::setEnabled(false);
  EXPECT_NE(out.find(std::string("DEBUG FilterResDB: resdb.") + locale + "\n"), std::string::npos);
  SharedHash* table = ResourceDB::getResourceTable();
  ASSERT_NE(table->get("title", 6), nullptr);
  EXPECT_STREQ(table->get("title", 6), "Control Panel");
  EXPECT_STREQ(table->get("label", 6), "Call...");
  EXPECT_EQ(ResourceDB::getResourceTable(), table);
}
