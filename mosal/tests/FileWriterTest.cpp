// FileWriterEC: plain and per-part file names, the directory prefix, older
// files cut to what was written, refusal at the end of stream and on errors.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "mosal/StreamConsumers.h"
#include "mosal/Trace.h"

using namespace MorvaneLib;

namespace {

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

class FileWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    traced = Trace::enabled();
    Trace::setEnabled(false);
    char tmpl[] = "/tmp/mosal-fw-XXXXXX";
    root = mkdtemp(tmpl);
    root += "/";
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + root + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    Trace::setEnabled(traced);
  }
  int feed(FileWriterEC& w, const std::string& s, part_info_t* part = nullptr) {
    std::string copy = s;
    return w.consume(nullptr, &copy[0], static_cast<unsigned>(copy.size()), part);
  }
  bool traced = true;
  std::string root;
};

}  // namespace

TEST_F(FileWriterTest, PlainNameInANewDirectoryCutsAnOlderFile) {
  std::string dir = root + "a/b/";
  FileWriterEC w("out", ".dat");
  FileWriterEC plain("out.txt");
  w.setDirectory(dir.c_str());
  plain.setDirectory(dir.c_str());
  EXPECT_EQ(feed(w, "hello "), 6);
  EXPECT_EQ(feed(w, "world"), 5);
  EXPECT_EQ(w.consume(nullptr, nullptr, 0, nullptr), -1);
  EXPECT_TRUE(w.isFinished());
  EXPECT_EQ(slurp(dir + "out.dat"), "hello world");
  EXPECT_EQ(w.getBytesWritten(), 11u);

  { std::ofstream(dir + "out.txt") << std::string(100, 'x'); }
  EXPECT_EQ(feed(plain, "new"), 3);
  EXPECT_EQ(plain.consume(nullptr, nullptr, 0, nullptr), -1);
  EXPECT_EQ(slurp(dir + "out.txt"), "new");
}

TEST_F(FileWriterTest, OneFilePerPartNumberedWithFourDigits) {
  FileWriterEC w("frame", ".jpg");
  w.setDirectory(root.c_str());
  for (int n = 1; n <= 3; n++) {
    part_info_t first{4, true, n};
    part_info_t more{4, false, n};
    EXPECT_EQ(feed(w, "ab", &first), 2);
    EXPECT_EQ(feed(w, std::to_string(n) + "!", &more), 2);
  }
  EXPECT_EQ(slurp(root + "frame0001.jpg"), "ab1!");
  EXPECT_EQ(slurp(root + "frame0003.jpg"), "ab3!");
  EXPECT_FALSE(exists(root + "frame0004.jpg"));
}

TEST_F(FileWriterTest, PrefixThatIsNotADirectoryIsLeftOutAndErrorsRefuse) {
  std::string notDir = root + "file";
  { std::ofstream(notDir) << "x"; }
  std::string cwd = root + "cwd";
  ASSERT_EQ(mkdir(cwd.c_str(), 0755), 0);
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(cwd.c_str()), 0);
  FileWriterEC w("plain.bin");
  w.setDirectory((notDir + "/").c_str());
  EXPECT_EQ(feed(w, "data"), 4);
  EXPECT_EQ(w.consume(nullptr, nullptr, 0, nullptr), -1);
  EXPECT_EQ(slurp(cwd + "/plain.bin"), "data");  // written without the prefix
  ASSERT_EQ(chdir(old), 0);

  FileWriterEC bad("no/such/dir/x");
  EXPECT_EQ(feed(bad, "data"), -1);
}
