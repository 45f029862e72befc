// File streams: reads into DataBufs with offsets, skip from the start,
// available, seek, writes that overwrite without truncating, error texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "mosal/DataBuf.h"
#include "mosal_posix/File.h"
#include "mosal_posix/Stream.h"

using namespace MorvaneLib;

namespace {

class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/mosal-stream-XXXXXX";
    dir = mkdtemp(tmpl);
    path = dir + "/data";
    FILE* f = std::fopen(path.c_str(), "w");
    for (int i = 0; i < 200; ++i) std::fputc('A' + i % 26, f);
    std::fclose(f);
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

  std::string contents(const std::string& p) {
    std::string s;
    FILE* f = std::fopen(p.c_str(), "r");
    if (!f) return "<missing>";
    int c;
    while ((c = std::fgetc(f)) != EOF) s += static_cast<char>(c);
    std::fclose(f);
    return s;
  }

  std::string dir, path;
};

}  // namespace

TEST_F(StreamTest, ReadsBytesAndBuffersAndReportsEndOfFile) {
  FileInputStream in(path.c_str());
  EXPECT_STREQ(in.getErrorString(), "No error");
  EXPECT_FALSE(in.markSupported());
  char c = 0;
  EXPECT_EQ(in.read(&c), 1);
  EXPECT_EQ(c, 'A');
  char buf[10];
  EXPECT_EQ(in.read(buf, 3), 3);
  EXPECT_EQ(std::string(buf, 3), "BCD");
  EXPECT_EQ(in.available(), 196);

  DataBuf b(50, 0, 65536, ALLOC_ONCREATE);
  EXPECT_EQ(in.read(&b), 50);
  EXPECT_EQ(b.getLength(), 50u);
  EXPECT_EQ(b.getData()[0], 'E');
  EXPECT_EQ(in.seek(-5, 2), 195);
  EXPECT_EQ(in.read(&b), 5);
  EXPECT_EQ(b.getLength(), 5u);
  EXPECT_EQ(in.read(&b), 0);
  EXPECT_EQ(in.read(&c), 0);
  EXPECT_EQ(in.available(), 0);
}

TEST_F(StreamTest, ReadAtOffsetChecksSizeAndOffset) {
  FileInputStream in(path.c_str());
  DataBuf b(20, 0, 65536, ALLOC_ONCREATE);
  EXPECT_EQ(in.read(&b, 10, 5), -1);
  EXPECT_STREQ(in.getErrorString(), "invalid offset");
  EXPECT_EQ(in.read(&b, 0, 21), -1);
  EXPECT_STREQ(in.getErrorString(), "size greater than buffer size");
  EXPECT_EQ(in.read(&b, 20, 20), -1);
  EXPECT_STREQ(in.getErrorString(), "invalid offset");

  // min(n, size - offset) bytes land at the offset; length = offset + count.
  b.getData()[0] = '#';
  EXPECT_EQ(in.read(&b, 15, 20), 5);
  EXPECT_EQ(b.getLength(), 20u);
  EXPECT_EQ(std::string(b.getData() + 15, 5), "ABCDE");
  EXPECT_EQ(b.getData()[0], '#');
  EXPECT_EQ(in.read(&b, 2, 4), 4);  // n counts bytes, not an end offset
  EXPECT_EQ(b.getLength(), 6u);
  EXPECT_EQ(std::string(b.getData() + 2, 4), "FGHI");
}

TEST_F(StreamTest, SkipPositionsFromTheStartAndSeekRefusesBadWhence) {
  FileInputStream in(path.c_str());
  char buf[50];
  ASSERT_EQ(in.read(buf, 50), 50);
  EXPECT_EQ(in.skip(100), 100);
  char c;
  ASSERT_EQ(in.read(&c), 1);
  EXPECT_EQ(c, 'A' + 100 % 26);
  EXPECT_EQ(in.available(), 99);
  EXPECT_EQ(in.seek(10, 1), 111);
  EXPECT_EQ(in.seek(0, 3), -1);
  EXPECT_EQ(in.seek(-1, 0), -1);
  EXPECT_STRNE(in.getErrorString(), "No error");
  EXPECT_EQ(in.skip(-4), -1);
  EXPECT_EQ(in.reset(), 0);

  in.close();
  EXPECT_EQ(in.read(&c), -1);
  EXPECT_EQ(in.available(), -1);
  in.close();  // a second close is harmless
}

TEST_F(StreamTest, BorrowedFileOutlivesTheStream) {
  File f(path.c_str());
  {
    FileInputStream in(&f);
    char c;
    EXPECT_EQ(in.read(&c), 1);
    EXPECT_EQ(in.available(), 199);
  }
  EXPECT_STREQ(f.getName(), "data");  // still alive: not deleted by the stream
}

TEST_F(StreamTest, ConstructorsThrowWithTheSystemText) {
  std::string missing = dir + "/missing";
  try {
    FileInputStream in(missing.c_str());
    FAIL() << "opened a missing file";
  } catch (LibError& e) {
    EXPECT_STREQ(e.getLocation(), "FileInputStream()");
    EXPECT_STREQ(e.getReason(), "No such file or directory");
  }
  std::string noDir = dir + "/no/such";
  try {
    FileOutputStream out(noDir.c_str());
    FAIL() << "created a file in a missing directory";
  } catch (LibError& e) {
    EXPECT_STREQ(e.getLocation(), "FileOutputStream()");
    EXPECT_STREQ(e.getReason(), "No such file or directory");
  }
  File d(dir.c_str());
  EXPECT_THROW(FileOutputStream out(&d), LibError);  // a directory
}

TEST_F(StreamTest, WritingOverwritesWithoutTruncating) {
  std::string p = dir + "/ten";
  {
    FileOutputStream out(p.c_str());
    EXPECT_EQ(out.write("0123456789", 10), 10);
  }
  {
    FileOutputStream out(p.c_str());
    EXPECT_EQ(out.write('x'), 1);
    EXPECT_EQ(out.write("yz", 2), 2);
  }
  EXPECT_EQ(contents(p), "xyz3456789");

  File created((dir + "/new").c_str());
  {
    FileOutputStream out(&created);
    DataBuf b("hello");  // 6 bytes with the NUL
    EXPECT_EQ(out.write(&b), 6);
    EXPECT_EQ(out.seek(0, 0), 0);
    EXPECT_EQ(out.write(&b, 1, 3), 3);  // "ell" over the start
  }
  EXPECT_EQ(contents(dir + "/new"), std::string("elllo\0", 6));
}

TEST_F(StreamTest, WriteAtOffsetChecksAgainstTheLength) {
  FileOutputStream out((dir + "/out").c_str());
  DataBuf b(100, 0, 65536, ALLOC_ONCREATE);
  b.copy("abcdefgh", 8);
  EXPECT_EQ(out.write(&b, 0, 9), -1);
  EXPECT_STREQ(out.getErrorString(), "size greater than buffer size");
  EXPECT_EQ(out.write(&b, 5, 5), -1);
  EXPECT_STREQ(out.getErrorString(), "invalid offset");
  EXPECT_EQ(out.write(&b, 6, 8), 2);  // min(8, 8 - 6)
  EXPECT_EQ(out.write(&b, 0, 8), 8);
  out.close();
  EXPECT_EQ(out.write('x'), -1);
  EXPECT_STREQ(out.getErrorString(), "Bad file descriptor");
  EXPECT_EQ(contents(dir + "/out"), "ghabcdefgh");
}
