// The line reader (cutting, continuation, last record) and the text splitter
// shared by command lines and vectors.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mosal/Utils.h"

using namespace MorvaneLib;

namespace {

// A stream holding `text`, read back through the C library like a file.
FILE* streamOf(const std::string& text) {
  FILE* f = std::tmpfile();
  EXPECT_NE(f, nullptr);
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  return f;
}

struct Record {
  int result;
  std::string text;
  unsigned ends;
  bool cut;
};

std::vector<Record> readAll(const std::string& text, unsigned size, char delim = '\n') {
  FILE* f = streamOf(text);
  std::vector<Record> out;
  std::vector<char> buf(size + 1 + 16, '\x7f');  // guard bytes after size + 1
  for (int guard = 0; guard < 1000; ++guard) {
    Record r{0, "", 0, false};
    r.result = Utils::getDelim(buf.data(), size, delim, f, &r.ends, &r.cut);
    for (size_t i = size + 1; i < buf.size(); ++i) EXPECT_EQ(buf[i], '\x7f') << "write past the buffer";
    if (r.result == -1) break;
    r.text.assign(buf.data());
    EXPECT_EQ(static_cast<size_t>(r.result), r.text.size());
    out.push_back(r);
  }
  std::fclose(f);
  return out;
}

std::vector<std::string> split(const char* text, const char* delims, bool trim) {
  std::vector<std::string> out;
  Utils::splitText(text, delims, trim,
                   [](void* ctx, const char* p, unsigned n) {
                     static_cast<std::vector<std::string>*>(ctx)->emplace_back(p, n);
                     return 0;
                   },
                   &out);
  return out;
}

typedef std::vector<std::string> Pieces;

}  // namespace

TEST(GetDelim, RecordsKeepTheirDelimiter) {
  auto r = readAll("one\n\ntwo\n", 64);
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].text, "one\n");
  EXPECT_EQ(r[0].result, 4);
  EXPECT_EQ(r[1].text, "\n");
  EXPECT_EQ(r[2].text, "two\n");
  for (auto& x : r) {
    EXPECT_EQ(x.ends, 1u);
    EXPECT_FALSE(x.cut);
  }
  EXPECT_EQ(readAll("a;b;", 8, ';').size(), 2u);
}

TEST(GetDelim, OverlongRecordIsCutAndTheRestComesNext) {
  auto r = readAll("abcdef\nxy\n", 4);
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].result, 4);
  EXPECT_EQ(r[0].text, "abc\n");
  EXPECT_TRUE(r[0].cut);
  EXPECT_EQ(r[0].ends, 0u);
  EXPECT_EQ(r[1].text, "def\n");  // nothing of the line is lost
  EXPECT_FALSE(r[1].cut);
  EXPECT_EQ(r[1].ends, 1u);
  EXPECT_EQ(r[2].text, "xy\n");

  // A record of exactly size characters, delimiter included, is not cut.
  auto exact = readAll("abc\n", 4);
  ASSERT_EQ(exact.size(), 1u);
  EXPECT_EQ(exact[0].text, "abc\n");
  EXPECT_FALSE(exact[0].cut);

  // The smallest usable buffer still makes progress, one character a record.
  auto tiny = readAll("abc\n", 2);
  ASSERT_EQ(tiny.size(), 3u);
  EXPECT_EQ(tiny[0].text, "a\n");
  EXPECT_EQ(tiny[2].text, "c\n");
  char b[4];
  EXPECT_EQ(Utils::getDelim(b, 1, '\n', stdin), -1);
}

TEST(GetDelim, BackslashContinuesOnlyBeforeTheDelimiter) {
  auto r = readAll("first \\\nsecond\nkeep\\n\\\\x\n", 64);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].text, "first second\n");
  EXPECT_EQ(r[0].ends, 2u);  // two physical lines
  EXPECT_EQ(r[1].text, "keep\\n\\\\x\n");
  // A backslash kept as a character does not hide the next one's role.
  auto r2 = readAll("a\\\\\nb\n", 64);
  ASSERT_EQ(r2.size(), 1u);
  EXPECT_EQ(r2[0].text, "a\\b\n");
}

TEST(GetDelim, BackslashAtTheCutGoesWithTheRest) {
  // "ab" fills a size-3 record; the kept backslash and what follows it are
  // read again by the next call, and a continuation at the cut still joins.
  auto r = readAll("ab\\x\nab\\\ncd\n", 3);
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].text, "ab\n");
  EXPECT_EQ(r[1].text, "\\x\n");
  EXPECT_EQ(r[2].text, "ab\n");
  EXPECT_TRUE(r[2].cut);
  EXPECT_EQ(r[2].ends, 1u);  // the continuation was consumed
  EXPECT_EQ(r[3].text, "cd\n");
}

TEST(GetDelim, LastRecordWithoutDelimiterIsKept) {
  auto r = readAll("a=1\nb=2", 64);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[1].text, "b=2");
  EXPECT_EQ(r[1].ends, 0u);
  auto r2 = readAll("tail\\", 64);
  ASSERT_EQ(r2.size(), 1u);
  EXPECT_EQ(r2[0].text, "tail\\");
  EXPECT_TRUE(readAll("", 8).empty());
}

TEST(SplitText, CommandLineExamples) {
  EXPECT_EQ(split("a  b", " \t", true), (Pieces{"a", "b"}));
  EXPECT_EQ(split("\"x y\" z", " \t", true), (Pieces{"x y", "z"}));
  EXPECT_EQ(split("\"\" z", " \t", true), (Pieces{"z"}));
  EXPECT_EQ(split("\"a\"b c", " \t", true), (Pieces{"a", "c"}));
  // Unquoted characters before a quote are dropped; the quote keeps blanks.
  EXPECT_EQ(split("pre\"in side\" post", " \t", true), (Pieces{"in side", "post"}));
  // Tokens are trimmed: control characters go at the end, white space at both.
  EXPECT_EQ(split("\tcmd\r\n  \" padded \" ", " \t", true), (Pieces{"cmd", "padded"}));
  EXPECT_TRUE(split("", " \t", true).empty());
  EXPECT_TRUE(split("   \t ", " \t", true).empty());
}

TEST(SplitText, OpenQuoteRunsToTheEnd) {
  EXPECT_EQ(split("a \"b c", " \t", true), (Pieces{"a", "b c"}));
  EXPECT_EQ(split("\"", " \t", true), Pieces{});
  EXPECT_EQ(split("x\"", ",", false), Pieces{""});
}

TEST(SplitText, UntrimmedPiecesKeepEverything) {
  EXPECT_EQ(split("a,,b", ",", false), (Pieces{"a", "", "b"}));
  EXPECT_EQ(split(" a , b ", ",", false), (Pieces{" a ", " b "}));
  EXPECT_EQ(split(" a , b ", ",", true), (Pieces{"a", "b"}));
  EXPECT_EQ(split("a;b,c", ";,", true), (Pieces{"a", "b", "c"}));
  // The character after a closing quote is skipped, delimiter or not.
  EXPECT_EQ(split("\"q,1\",next", ",", false), (Pieces{"q,1", "next"}));
  EXPECT_EQ(split("", ",", false), Pieces{""});
  EXPECT_EQ(split("a b", nullptr, false), Pieces{"a b"});
}

TEST(SplitText, SinkCanStopTheSplit) {
  int calls = 0;
  int r = Utils::splitText("a b c", " ", true,
                           [](void* ctx, const char*, unsigned) {
                             return ++*static_cast<int*>(ctx) == 2 ? -1 : 0;
                           },
                           &calls);
  EXPECT_EQ(r, -1);
  EXPECT_EQ(calls, 2);
}
