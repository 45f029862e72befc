// DataBuf growth, limits, lazy allocation and trace lines; LibError cutting.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "mosal/DataBuf.h"
#include "mosal/Trace.h"
#include "mosal/tests/TraceOn.h"

using namespace MorvaneLib;

TEST(DataBuf, LimitIsRaisedToInitialSize) {
  DataBuf b(64, 0, 16, ALLOC_ONCREATE);
  EXPECT_EQ(b.getSize(), 64u);
  EXPECT_EQ(b.getLimit(), 64u);
  EXPECT_EQ(b.getLength(), 0u);
}

TEST(DataBuf, XcopyGrowsExactlyAndStopsAtTheLimit) {
  std::string src(100, 'x');
  DataBuf big(50, 0, 65536, ALLOC_ONCREATE);
  EXPECT_EQ(big.xcopy(src.data(), 100), 0);
  EXPECT_EQ(big.getSize(), 100u);
  EXPECT_EQ(big.getLength(), 100u);

  DataBuf capped(50, 0, 80, ALLOC_ONCREATE);
  EXPECT_EQ(capped.xcopy(src.data(), 100), 0);
  EXPECT_EQ(capped.getSize(), 80u);
  EXPECT_EQ(capped.getLength(), 80u);
}

TEST(DataBuf, MergeDropsWhatPassesTheLimit) {
  DataBuf b(64, 0, 80, ALLOC_ONCREATE);
  std::string first(60, 'a'), second(30, 'b');
  b.copy(first.data(), 60);
  EXPECT_EQ(b.merge(second.data(), 30), 0);
  EXPECT_EQ(b.getSize(), 80u);
  EXPECT_EQ(b.getLength(), 80u);
  EXPECT_EQ(std::string(b.getData() + 60, 20), std::string(20, 'b'));
  // A full buffer takes nothing more and stays consistent.
  EXPECT_EQ(b.merge(second.data(), 30), 0);
  EXPECT_EQ(b.getLength(), 80u);
}

TEST(DataBuf, CopyTruncatesAndZeroCountKeepsLength) {
  DataBuf b(4, 0, 65536, ALLOC_ONCREATE);
  b.copy("abcdef", 6);
  EXPECT_EQ(b.getLength(), 4u);
  EXPECT_EQ(std::string(b.getData(), 4), "abcd");
  b.copy("zz", 0);
  EXPECT_EQ(b.getLength(), 4u);
}

TEST(DataBuf, LazyAllocationTakesTheFirstRequestAndTracesIt) {
  testing::internal::CaptureStdout();
  {
    DataBuf b(0, 7, 65536, ALLOC_ONUSE);
    EXPECT_EQ(b.getData(), nullptr);
    EXPECT_EQ(b.merge("0123456789", 10), 0);
    EXPECT_EQ(b.getSize(), 10u);
    EXPECT_EQ(b.getLength(), 10u);
  }
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("DataBuf(): delaying allocation\n"), std::string::npos);
  EXPECT_NE(out.find("DataBuf(): [7] [(nil)] sz[0] L[65536] ALLOC_ONUSE\n"), std::string::npos);
  EXPECT_NE(out.find("DataBuf::merge(): allocating now 10 bytes\n"), std::string::npos);
  EXPECT_NE(out.find("~DataBuf(): [7] ["), std::string::npos);
}

TEST(DataBuf, FromTextAndResize) {
  DataBuf t("abc");
  EXPECT_EQ(t.getSize(), 4u);
  EXPECT_EQ(t.getLength(), 4u);
  EXPECT_EQ(t.getLimit(), 65536u);
  EXPECT_STREQ(t.getData(), "abc");
  EXPECT_EQ(t.realloc(2), 0);
  EXPECT_EQ(t.getSize(), 2u);
  EXPECT_EQ(t.getLength(), 2u);
  testing::internal::CaptureStdout();
  EXPECT_EQ(t.realloc(100000), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "DataBuf::realloc(): 2 -> 65536\n");
  EXPECT_EQ(t.getSize(), 65536u);
}

TEST(DataBuf, GrowthTraceLines) {
  DataBuf b(2, 3, 65536, ALLOC_ONCREATE);
  testing::internal::CaptureStdout();
  b.xcopy("abcd", 4);
  b.merge("ef", 2);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("DataBuf::xcopy(): realloc 2 -> 4\nDataBuf::xcopy(): [3] ["), 0u);
  EXPECT_NE(out.find("DataBuf::merge(): realloc 4 -> (req=6) 6\nDataBuf::merge(): [3] ["),
            std::string::npos);
}

TEST(DataBuf, PrintHex) {
  DataBuf b("A\n");
  b.setLength(2);
  testing::internal::CaptureStdout();
  b.printHex();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "  A 0A ");
}

TEST(DataBuf, TraceCanBeSwitchedOff) {
  Trace::setEnabled(false);
  testing::internal::CaptureStdout();
  { DataBuf b("quiet"); }
  std::string out = testing::internal::GetCapturedStdout();
  Trace::setEnabled(true);
  EXPECT_EQ(out, "");
}

TEST(LibError, CutsLocationAndReason) {
  std::string loc(60, 'L');
  LibError e(loc.c_str(), "Invalid type id (%d) %s", 7, std::string(300, 'r').c_str());
  EXPECT_EQ(std::strlen(e.getLocation()), 49u);
  EXPECT_EQ(std::strlen(e.getReason()), 127u);
  EXPECT_EQ(std::string(e.getReason(), 18), "Invalid type id (7");
}
