// Logger: batching in buffered and unbuffered mode, the line format and its
// cuts, levels, the open/close life cycle with its trace lines, several
// threads, and fail() ending the process with everything written.
#include <gtest/gtest.h>
#include <regex.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "mosal/Logger.h"
#include "mosal/Trace.h"

using namespace MorvaneLib;

namespace {

class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/loggertest.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    file = dir + "/log.txt";
  }
  void TearDown() override {
    unlink(file.c_str());
    unlink((dir + "/other.txt").c_str());
    rmdir(dir.c_str());
  }
  std::string contents() const {
    std::ifstream in(file);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::vector<std::string> fileLines() const {
    std::vector<std::string> out;
    std::istringstream in(contents());
    std::string l;
    while (std::getline(in, l)) out.push_back(l);
    return out;
  }
  std::string dir, file;
};

// "(Tue, 08 Dec 2026 02:45:38): message"; the message is what follows.
std::string messageOf(const std::string& line) {
  static const char* kPattern =
      "^\\((Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-9]{2} "
      "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [0-9]{4} "
      "[0-9]{2}:[0-9]{2}:[0-9]{2}\\): ";
  regex_t re;
  if (regcomp(&re, kPattern, REG_EXTENDED) != 0) return "<bad pattern>";
  regmatch_t m;
  int r = regexec(&re, line.c_str(), 1, &m, 0);
  regfree(&re);
  if (r != 0) return "<malformed: " + line + ">";
  return line.substr(static_cast<size_t>(m.rm_eo));
}

}  // namespace

TEST_F(LoggerTest, BufferedWritesEveryNLinesBeforeHoldingTheNext) {
  Trace::setEnabled(false);
  Logger log(256, 1);
  ASSERT_EQ(log.open(file.c_str()), 0);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(log.log(3, "line %d", i), 0);
  EXPECT_EQ(contents(), "");
  EXPECT_EQ(log.getPendingCount(), 256u);
  log.log(3, "line %d", 256);
  std::vector<std::string> got = fileLines();
  ASSERT_EQ(got.size(), 256u);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(messageOf(got[i]), "line " + std::to_string(i));
  EXPECT_EQ(log.getPendingCount(), 1u);
  EXPECT_EQ(log.close(), 0);
  got = fileLines();
  ASSERT_EQ(got.size(), 257u);
  EXPECT_EQ(messageOf(got[256]), "line 256");
  EXPECT_EQ(log.close(), -1);  // nothing open any more
}

TEST_F(LoggerTest, UnbufferedWritesThePreviousLineAndDestructionWritesTheRest) {
  Trace::setEnabled(false);
  {
    Logger log(256, 0);
    ASSERT_EQ(log.open(file.c_str()), 0);
    log.log(4, "first %s", "call");
    EXPECT_EQ(contents(), "");
    log.log(4, "second");
    std::vector<std::string> got = fileLines();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(messageOf(got[0]), "first call");
    log.log(4, "third");
  }  // no close(): the destructor writes what is pending
  std::vector<std::string> got = fileLines();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(messageOf(got[1]), "second");
  EXPECT_EQ(messageOf(got[2]), "third");
}

TEST_F(LoggerTest, FlushWritesWhatIsPendingInEitherMode) {
  Trace::setEnabled(false);
  Logger log(256, 1);
  EXPECT_EQ(log.flush(), -1);  // no file yet
  ASSERT_EQ(log.open(file.c_str()), 0);
  EXPECT_EQ(log.flush(), 0);  // nothing pending: nothing written
  EXPECT_EQ(contents(), "");
  log.log(3, "one");
  log.log(3, "two");
  EXPECT_EQ(contents(), "");  // buffered: far from 256 lines
  EXPECT_EQ(log.flush(), 0);
  EXPECT_EQ(log.getPendingCount(), 0u);
  std::vector<std::string> got = fileLines();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(messageOf(got[0]), "one");
  EXPECT_EQ(messageOf(got[1]), "two");
  // Later lines follow, none is written twice.
  log.log(3, "three");
  EXPECT_EQ(log.flush(), 0);
  EXPECT_EQ(log.flush(), 0);
  got = fileLines();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(messageOf(got[2]), "three");
}

TEST_F(LoggerTest, LevelsAndTheEnabledFlagDropLines) {
  Trace::setEnabled(false);
  Logger log(256, 0);
  ASSERT_EQ(log.open(file.c_str()), 0);
  EXPECT_EQ(log.getMinimumLevel(), 0);
  EXPECT_TRUE(log.isEnabled());
  log.log(0, "zero passes by default");
  log.setMinimumLevel(3);
  log.log(2, "dropped");
  EXPECT_EQ(log.getPendingCount(), 1u);  // held nothing, wrote nothing
  EXPECT_EQ(contents(), "");
  log.log(3, "kept");
  log.setEnabled(false);
  log.log(9, "disabled");
  EXPECT_EQ(log.getPendingCount(), 1u);
  log.setEnabled(true);
  log.close();
  std::vector<std::string> got = fileLines();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(messageOf(got[0]), "zero passes by default");
  EXPECT_EQ(messageOf(got[1]), "kept");
}

// A 300-character message keeps 255 characters, the finished line at most
// 255 (its newline included), and a line cut to a short slot still ends
// with a newline, so it never runs into the next one.
TEST_F(LoggerTest, LongLinesAreCutAndKeepTheirNewline) {
  Trace::setEnabled(false);
  std::string longMsg(300, 'x');
  {
    Logger log(1000, 0);
    ASSERT_EQ(log.open(file.c_str()), 0);
    log.log(1, "%s", longMsg.c_str());
    log.log(1, "next");
    log.close();
  }
  std::string text = contents();
  std::vector<std::string> got = fileLines();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].size() + 1, 255u);  // 254 characters and the newline
  EXPECT_EQ(messageOf(got[0]), std::string(254 - 29, 'x'));
  EXPECT_EQ(messageOf(got[1]), "next");

  {
    Logger narrow(40, 0);
    ASSERT_EQ(narrow.open(file.c_str()), 0);  // truncates the old log
    narrow.log(1, "%s", longMsg.c_str());
    narrow.log(1, "ok");
  }
  got = fileLines();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].size(), 39u);
  EXPECT_EQ(messageOf(got[0]), std::string(39 - 29, 'x'));
  EXPECT_EQ(messageOf(got[1]), "ok");
}

TEST_F(LoggerTest, OpenKeepsTheFirstFileAndLinesWaitForAFile) {
  testing::internal::CaptureStdout();
  Trace::setEnabled(true);
  {
    Logger log(256, 0);
    EXPECT_EQ(log.open((dir + "/no/such/dir/log").c_str()), -1);
    EXPECT_FALSE(log.isOpen());
    EXPECT_EQ(log.close(), -1);
    log.log(1, "before open");
    ASSERT_EQ(log.open(file.c_str()), 0);
    EXPECT_STREQ(log.getPath(), file.c_str());
    EXPECT_EQ(log.open((dir + "/other.txt").c_str()), 0);  // ignored
    EXPECT_STREQ(log.getPath(), file.c_str());
    log.log(1, "after open");
  }
  Trace::setEnabled(false);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Logger::open(): trying to open " + file + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Logger::open(): trying to allocate path"), std::string::npos);
  EXPECT_NE(out.find("Logger::open(): everything is ok"), std::string::npos);
  EXPECT_EQ(out.find("trying to open " + dir + "/other.txt"), std::string::npos);
  EXPECT_NE(out.find("~Logger(): entered"), std::string::npos);
  EXPECT_NE(out.find("~Logger(): exiting"), std::string::npos);
  EXPECT_LT(out.find("~Logger(): entered"), out.find("~Logger(): exiting"));
  EXPECT_EQ(access((dir + "/other.txt").c_str(), F_OK), -1);

  std::vector<std::string> got = fileLines();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(messageOf(got[0]), "before open");
  EXPECT_EQ(messageOf(got[1]), "after open");
}

TEST_F(LoggerTest, ThreadsNeverInterleaveAndKeepTheirOrder) {
  Trace::setEnabled(false);
  const int kThreads = 4, kLines = 500;
  {
    Logger log(64, 1);
    ASSERT_EQ(log.open(file.c_str()), 0);
    std::vector<std::thread> ts;
    for (int t = 0; t < kThreads; ++t)
      ts.emplace_back([&log, t] {
        for (int i = 0; i < kLines; ++i) log.log(3, "thread %d line %d", t, i);
      });
    for (auto& th : ts) th.join();
  }
  std::vector<std::string> got = fileLines();
  ASSERT_EQ(got.size(), static_cast<size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  for (const std::string& l : got) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(messageOf(l).c_str(), "thread %d line %d", &t, &i), 2) << l;
    ASSERT_TRUE(t >= 0 && t < kThreads);
    EXPECT_EQ(i, next[t]);
    next[t] = i + 1;
  }
}

TEST_F(LoggerTest, FailWritesEverythingAndExitsWithOne) {
  Trace::setEnabled(false);
  EXPECT_EXIT(
      {
        Logger log(256, 1);
        log.open(file.c_str());
        log.setMinimumLevel(5);
        log.log(6, "pending");
        log.setEnabled(false);
        log.fail("fatal: %d", 42);
      },
      ::testing::ExitedWithCode(1), "");
  std::vector<std::string> got = fileLines();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(messageOf(got[0]), "pending");
  EXPECT_EQ(messageOf(got[1]), "fatal: 42");
}
