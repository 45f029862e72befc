// The multipart/x-mixed-replace splitter: the same parts however the stream is
// cut, tolerated layouts, bad part lengths, refusing consumers, long lines.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mosal/Hash.h"
#include "mosal/StreamConsumers.h"
#include "mosal/Trace.h"

using namespace MorvaneLib;

namespace {

struct Part {
  int number;
  int size;
  std::string bytes;
};

// Collects every part it is given, checking the part record as it goes.
class Collector : public EntityConsumer {
 public:
  int consume(TextMessage*, char* data, unsigned n, void* context) override {
    auto* info = static_cast<part_info_t*>(context);
    if (info == nullptr) return -1;
    if (info->first) parts.push_back(Part{info->number, info->size, std::string()});
    if (parts.empty() || parts.back().number != info->number) {
      bad++;  // a piece without its first piece
      return 0;
    }
    parts.back().bytes.append(data, n);
    calls++;
    return refuseAfter >= 0 && calls > refuseAfter ? -1 : static_cast<int>(n);
  }
  std::vector<Part> parts;
  int bad = 0;
  int calls = 0;
  int refuseAfter = -1;
};

std::string picture(int i, size_t n) {
  std::string s;
  for (size_t k = 0; k < n; k++) s += static_cast<char>((k * 7 + static_cast<size_t>(i) * 13) & 0xff);
  // Bytes that look like line ends and boundaries inside a body.
  if (n > 20) s.replace(5, 13, "\r\n--bound\r\n\r\n");
  return s;
}

std::string part(const std::string& body, const char* type = "image/jpeg",
                 const std::string& length = "") {
  std::string s = "--bound\r\nContent-Type: ";
  s += type;
  s += "\r\nContent-Length: ";
  s += length.empty() ? std::to_string(body.size()) : length;
  s += "\r\n\r\n";
  s += body;
  s += "\r\n\r\n";
  return s;
}

class MultipartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    traced = Trace::enabled();
    Trace::setEnabled(false);
    ec = new MultipartXMixedReplaceEC(nullptr, "multipart/x-mixed-replace; boundary=bound");
    ec->getPartConsumers()->pput("image/jpeg", 11, &jpeg);
    ec->getPartConsumers()->pput("text/plain", 11, &text);
  }
  void TearDown() override {
    delete ec;
    Trace::setEnabled(traced);
  }
  // Feeds the stream in pieces of the given sizes (cycling); the results of
  // all calls must be n.
  void feed(const std::string& s, std::vector<size_t> cuts) {
    size_t off = 0, k = 0;
    while (off < s.size()) {
      size_t n = std::min(cuts[k++ % cuts.size()], s.size() - off);
      std::string piece = s.substr(off, n);
      ASSERT_EQ(ec->consume(nullptr, &piece[0], static_cast<unsigned>(n), nullptr), static_cast<int>(n));
      off += n;
    }
  }
  bool traced = true;
  MultipartXMixedReplaceEC* ec;
  Collector jpeg, text;
};

}  // namespace

TEST_F(MultipartTest, SamePartsHoweverTheStreamIsCut) {
  std::vector<std::string> pics = {picture(1, 3000), picture(2, 1), picture(3, 70000), picture(4, 517)};
  std::string stream;
  for (auto& p : pics) stream += part(p);
  for (std::vector<size_t> cuts : {std::vector<size_t>{1}, {2}, {3, 1, 7}, {1023}, {1024, 5},
                                   {65537}, {stream.size()}}) {
    SCOPED_TRACE(cuts[0]);
    ec->reset();
    jpeg.parts.clear();
    feed(stream, cuts);
    ASSERT_EQ(jpeg.parts.size(), pics.size());
    for (size_t i = 0; i < pics.size(); i++) {
      EXPECT_EQ(jpeg.parts[i].number, static_cast<int>(i + 1));
      EXPECT_EQ(jpeg.parts[i].size, static_cast<int>(pics[i].size()));
      EXPECT_TRUE(jpeg.parts[i].bytes == pics[i]) << "part " << i + 1;
    }
    EXPECT_EQ(jpeg.bad, 0);
  }
}

TEST_F(MultipartTest, ToleratedLayouts) {
  // A single CR LF first, lower-case names in another order, an extra header,
  // bare LF line ends, a hexadecimal length, parts routed by their type.
  std::string a = picture(1, 100), b = picture(2, 16), c = picture(3, 40);
  std::string s = "\r\n--bound\r\ncontent-length: 100\r\nX-Time: 1\r\ncontent-type: image/jpeg\r\n\r\n" + a +
                  "\r\n--bound\nContent-Type: text/plain\nContent-Length: 0x10\n\n" + b +
                  "\n\r\n\r\n--bound\r\nContent-Type:image/jpeg  \r\nContent-Length:   40\r\n\r\n" + c;
  feed(s, {3});
  ASSERT_EQ(jpeg.parts.size(), 2u);
  EXPECT_EQ(jpeg.parts[0].bytes, a);
  EXPECT_EQ(jpeg.parts[1].bytes, c);
  EXPECT_EQ(jpeg.parts[1].number, 3);
  ASSERT_EQ(text.parts.size(), 1u);
  EXPECT_EQ(text.parts[0].bytes, b);
  EXPECT_EQ(text.parts[0].size, 16);
}

TEST_F(MultipartTest, BadLengthsDropThePartAndResynchronise) {
  std::string good1 = picture(1, 300), good2 = picture(2, 200);
  for (const char* bad : {"-5", "", "12abc", "99999999999999999999", "900000000", "0x"}) {
    SCOPED_TRACE(bad);
    ec->reset();
    jpeg.parts.clear();
    std::string s = part(good1) + part(picture(9, 500), "image/jpeg", bad) + part(good2);
    if (std::string(bad).empty()) {  // no Content-Length line at all
      s = part(good1) + "--bound\r\nContent-Type: image/jpeg\r\n\r\n" + picture(9, 500) + "\r\n" + part(good2);
    }
    feed(s, {1, 50});
    ASSERT_EQ(jpeg.parts.size(), 2u);
    EXPECT_EQ(jpeg.parts[0].bytes, good1);
    EXPECT_EQ(jpeg.parts[1].bytes, good2);
    EXPECT_GE(ec->getDroppedParts(), 1u);  // the dropped body holds a boundary look-alike too
  }
}

TEST_F(MultipartTest, WrongLengthsCostOnlyTheirNeighbours) {
  // A length too short leaves body bytes where a header is expected; a length
  // too long swallows the next part. Later parts still come out whole.
  std::vector<std::string> pics;
  for (int i = 0; i < 6; i++) pics.push_back(picture(i, 200 + static_cast<size_t>(i)));
  std::string s = part(pics[0]) + part(pics[1], "image/jpeg", "150") + part(pics[2]) +
                  part(pics[3], "image/jpeg", "260") + part(pics[4]) + part(pics[5]);
  feed(s, {7});
  ASSERT_GE(jpeg.parts.size(), 3u);
  EXPECT_EQ(jpeg.parts.front().bytes, pics[0]);
  EXPECT_EQ(jpeg.parts.back().bytes, pics[5]);
}

TEST_F(MultipartTest, EndOfStreamAndRefusingConsumerEndTheEntity) {
  EXPECT_EQ(ec->consume(nullptr, nullptr, 0, nullptr), -1);
  std::string s = part(picture(1, 3000)) + part(picture(2, 3000));
  jpeg.refuseAfter = 1;  // the first piece is taken, the second refused
  int r = 0;
  for (size_t off = 0; off < s.size() && r >= 0; off += 1000) {
    std::string piece = s.substr(off, 1000);
    r = ec->consume(nullptr, &piece[0], static_cast<unsigned>(piece.size()), nullptr);
  }
  EXPECT_EQ(r, -1);
  EXPECT_EQ(jpeg.calls, 2);
}

TEST_F(MultipartTest, PartsWithoutConsumerAreDroppedAndLongLinesDoNotGrowTheBuffer) {
  std::string img = picture(5, 64);
  std::string junk(MultipartXMixedReplaceEC::MAX_LINE + 5000, 'x');
  std::string s = part(picture(1, 10), "video/unknown") + "--bound\r\nX-Junk: " + junk + "\r\n\r\n" +
                  part(img);
  feed(s, {4096});
  ASSERT_EQ(jpeg.parts.size(), 1u);
  EXPECT_EQ(jpeg.parts[0].bytes, img);
  EXPECT_EQ(jpeg.parts[0].number, 2);  // the part without consumer still counts
}
