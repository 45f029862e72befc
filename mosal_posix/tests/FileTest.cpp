// File: path splitting (relative, doubled slashes, root, empty, odd names),
// status and entry count, find with filters, mkdirs, changePerm, createNewFile.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "mosal/Vector.h"
#include "mosal_posix/File.h"
#include "mosal_posix/FileFilter.h"

using namespace MorvaneLib;

namespace {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/mosal-file-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
  std::string sub(const std::string& s) const { return path + "/" + s; }
  std::string path;
};

void touch(const std::string& p, const char* text = "0123456789") {
  FILE* f = std::fopen(p.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs(text, f);
  std::fclose(f);
}

mode_t modeOf(const std::string& p) {
  struct stat st;
  if (stat(p.c_str(), &st) != 0) return 07777;
  return st.st_mode & 0777;
}

std::set<std::string> foundNames(Vector* v) {
  std::set<std::string> out;
  Enumeration* e = v->elements();
  while (e->hasMoreElements()) out.insert(e->nextElement()->data);
  return out;
}

struct AcceptAll : FileFilter {
  bool accept(const char*) override { return true; }
};

}  // namespace

TEST(File, RelativePathIsSplitAgainstTheWorkingDirectory) {
  TempDir t;
  char* old = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(t.path.c_str()), 0);
  {
    File f("a/b/c.txt");
    EXPECT_EQ(std::string(f.getPath()), t.path + "/a/b/");
    EXPECT_STREQ(f.getName(), "c.txt");
    EXPECT_STREQ(f.getPathname(), "a/b/c.txt");
    EXPECT_FALSE(f.exists());
    EXPECT_EQ(f.getEntryCount(), -1);
  }
  ASSERT_EQ(chdir(old), 0);
  std::free(old);
}

TEST(File, AbsolutePathsDropEmptyComponentsAndKeepOddNames) {
  File f("/x//y");
  EXPECT_STREQ(f.getPath(), "/x/");
  EXPECT_STREQ(f.getName(), "y");

  // Spaces and quotes are part of names, not separators or quoting.
  File g("/d ir/\"q\"/ name ");
  EXPECT_STREQ(g.getPath(), "/d ir/\"q\"/");
  EXPECT_STREQ(g.getName(), " name ");

  File h("/usr/");
  EXPECT_STREQ(h.getPath(), "/");
  EXPECT_STREQ(h.getName(), "usr");
}

TEST(File, RootAndEmptyPathHaveDefinedParts) {
  File root("/");
  EXPECT_STREQ(root.getPath(), "/");
  EXPECT_STREQ(root.getName(), "");
  EXPECT_TRUE(root.isDirectory());
  EXPECT_GT(root.getEntryCount(), 2);
  Vector* v = root.find(nullptr);
  ASSERT_NE(v, nullptr);
  // No doubled slash after the root.
  EXPECT_EQ(foundNames(v).count("/tmp"), 1u);

  File empty("");
  EXPECT_STREQ(empty.getName(), "");
  EXPECT_FALSE(empty.exists());
  EXPECT_EQ(empty.getEntryCount(), -1);
  EXPECT_EQ(empty.find(nullptr), nullptr);
  EXPECT_EQ(empty.mkdirs(), -1);
}

TEST(File, DirectoryCountsEntriesAndFindFilters) {
  TempDir t;
  touch(t.sub("resdb.C"));
  touch(t.sub("resdb.it_IT"));
  touch(t.sub("other"));
  File d(t.path.c_str());
  EXPECT_TRUE(d.isDirectory());
  EXPECT_EQ(d.getEntryCount(), 5);  // ".", "..", three files

  FilterResDB filter("resdb.it_IT");
  Vector* v = d.find(&filter);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(foundNames(v), std::set<std::string>{t.sub("resdb.it_IT")});

  // A new find empties the previous list first.
  AcceptAll all;
  v = d.find(&all);
  ASSERT_NE(v, nullptr);
  std::set<std::string> names = foundNames(v);
  EXPECT_EQ(names.size(), 5u);
  EXPECT_EQ(names.count(t.sub("other")), 1u);

  File plain(t.sub("other").c_str());
  EXPECT_TRUE(plain.exists());
  EXPECT_EQ(plain.getSize(), 10);
  EXPECT_EQ(plain.getEntryCount(), -1);
  EXPECT_EQ(plain.find(&all), nullptr);
}

TEST(File, FindCutsLongEntriesAt1023Characters) {
  TempDir t;
  // A long directory path plus a long entry name.
  std::string deep = t.path;
  for (int i = 0; i < 4; ++i) deep += "/" + std::string(200, 'd');
  File(deep.c_str()).mkdirs();
  touch(deep + "/" + std::string(200, 'f'));
  File d(deep.c_str());
  AcceptAll all;
  Vector* v = d.find(&all);
  ASSERT_NE(v, nullptr);
  bool sawCut = false;
  Enumeration* e = v->elements();
  while (e->hasMoreElements()) {
    char* s = e->nextElement()->data;
    size_t n = strnlen(s, File::FOUND_SIZE);
    ASSERT_LT(n, static_cast<size_t>(File::FOUND_SIZE));
    if (n == 1023) sawCut = true;
  }
  EXPECT_TRUE(sawCut);
}

TEST(File, MkdirsCreatesEveryLevelAndRefusesAFileInTheWay) {
  TempDir t;
  std::string p = t.sub("a/b//c");
  File f(p.c_str());
  EXPECT_EQ(f.mkdirs(), 0);
  EXPECT_EQ(modeOf(t.sub("a/b/c")) & 0700, 0700u);
  EXPECT_EQ(File(p.c_str()).mkdirs(), 0);  // all there already

  File single(t.sub("a/x").c_str());
  EXPECT_EQ(single.mkdir(), 0);
  EXPECT_EQ(single.mkdir(), -1);

  touch(t.sub("plain"));
  EXPECT_EQ(File(t.sub("plain").c_str()).mkdirs(), -1);
  File through(t.sub("plain/sub").c_str());
  EXPECT_EQ(through.mkdirs(), -1);
  EXPECT_EQ(through.getErrorCode(), ENOTDIR);

  // Relative paths start from the working directory.
  char* old = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(t.path.c_str()), 0);
  EXPECT_EQ(File("r1/r2").mkdirs(), 0);
  ASSERT_EQ(chdir(old), 0);
  std::free(old);
  EXPECT_TRUE(File(t.sub("r1/r2").c_str()).isDirectory());
}

TEST(File, ChangePermMapsTheNineBits) {
  TempDir t;
  std::string p = t.sub("perm");
  touch(p);
  File f(p.c_str());
  EXPECT_EQ(f.changePerm(0x1FF), 0);
  EXPECT_EQ(modeOf(p), 0777u);
  EXPECT_EQ(f.changePerm(0x020), 0);
  EXPECT_EQ(modeOf(p), 0010u);
  EXPECT_EQ(f.changePerm(0x001 | 0x002 | 0x008 | 0x040), 0);
  EXPECT_EQ(modeOf(p), 0644u);
  EXPECT_EQ(f.changePerm(0x004 | 0x010 | 0x080 | 0x100), 0);
  EXPECT_EQ(modeOf(p), 0123u);
  EXPECT_EQ(File(t.sub("missing").c_str()).changePerm(0x1FF), -1);
}

TEST(File, CreateNewFileKeepsAnExistingFile) {
  TempDir t;
  std::string p = t.sub("new");
  File f(p.c_str());
  EXPECT_FALSE(f.exists());
  EXPECT_EQ(f.createNewFile(), 0);
  EXPECT_TRUE(File(p.c_str()).exists());
  touch(p, "keep");
  EXPECT_EQ(f.createNewFile(), 0);
  EXPECT_EQ(File(p.c_str()).getSize(), 4);
  EXPECT_EQ(File(t.path.c_str()).createNewFile(), -1);  // a directory
  EXPECT_EQ(File(t.sub("no/such/dir").c_str()).createNewFile(), -1);
}

TEST(FilterResDB, AcceptsExactlyItsName) {
  EXPECT_STREQ(FilterResDB::_name, "resdb");
  FilterResDB f("resdb.C");
  EXPECT_TRUE(f.accept("resdb.C"));
  EXPECT_FALSE(f.accept("resdb.C~"));
  EXPECT_FALSE(f.accept("resdb"));
  EXPECT_FALSE(f.accept(nullptr));
  FilterResDB none(nullptr);
  EXPECT_FALSE(none.accept("resdb.C"));
}
