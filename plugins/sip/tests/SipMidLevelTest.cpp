// SipMidLevel: the lines the session commands write, and how the request
// builders read them back (positions, empty values, quotes, limits).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugins/sip/SipMidLevel.h"

using namespace MorvaneLib;

namespace {

std::vector<std::string> splitAll(const char* text, int slots = 32, short slotSize = 4096) {
  Params p(slots, slotSize);
  std::vector<std::string> out;
  if (SipMidLevel::split(&p, text) != 0) return {"<refused>"};
  for (int i = 0; i < p.getArgc(); ++i) out.push_back(p.getArg(i));
  return out;
}

SipInviteValues invite() {
  SipInviteValues v{};
  v.to = "bob@example.org";
  v.from = "alice@example.org";
  v.callId = "c1";
  v.videoPort = "6001";
  v.audioPort = "9001";
  v.textPort = "0";
  v.whiteBoardPort = "0";
  v.natted = "1";
  v.protocolName = "sip/2.0/TCP";
  v.contact = "alice";
  v.organization = "home";
  v.expires = "3600";
  return v;
}

}  // namespace

// With every value present the line is the plain quoted format, and the
// splitter gives back every position.
TEST(SipMidLevel, InviteAndByeLinesRoundTrip) {
  char line[SipMidLevel::LINE_SIZE];
  ASSERT_EQ(SipMidLevel::formatInvite(line, sizeof line, invite()), 0);
  EXPECT_STREQ(line,
               "INVITE \"bob@example.org\" SIP/2.0 \"6001\" \"9001\" \"0\" \"0\" \"1\" "
               "\"bob@example.org\" \"alice@example.org\" \"c1\" \"1 INVITE\" \"70\" "
               "\"sip/2.0/TCP\" \"-\" \"0\" \"alice\" \"TAMVO HOME 1.0\" \"home\" \"3600\"");
  std::vector<std::string> a = splitAll(line + 7);
  ASSERT_EQ(a.size(), static_cast<size_t>(SipMidLevel::INV_COUNT));
  EXPECT_EQ(a[SipMidLevel::INV_URI], "bob@example.org");
  EXPECT_EQ(a[SipMidLevel::INV_VERSION], "SIP/2.0");
  EXPECT_EQ(a[SipMidLevel::INV_VIDEO], "6001");
  EXPECT_EQ(a[SipMidLevel::INV_NATTED], "1");
  EXPECT_EQ(a[SipMidLevel::INV_CALLID], "c1");
  EXPECT_EQ(a[SipMidLevel::INV_CSEQ], "1 INVITE");
  EXPECT_EQ(a[SipMidLevel::INV_AGENT], "TAMVO HOME 1.0");
  EXPECT_EQ(a[SipMidLevel::INV_EXPIRES], "3600");

  SipByeValues b{"bob", "alice", "c1", "sip/2.0/UDP", "", "org"};
  ASSERT_EQ(SipMidLevel::formatBye(line, sizeof line, b), 0);
  EXPECT_STREQ(line,
               "BYE \"bob\" SIP/2.0 \"bob\" \"alice\" \"c1\" \"1 BYE\" \"70\" \"sip/2.0/UDP\" "
               "\"-\" \"0\" \"\" \"TAMVO HOME 1.0\" \"org\"");
  a = splitAll(line + 4);
  ASSERT_EQ(a.size(), static_cast<size_t>(SipMidLevel::BYE_COUNT));
  EXPECT_EQ(a[SipMidLevel::BYE_MAXFWD], "70");
  EXPECT_EQ(a[SipMidLevel::BYE_CONTACT], "");
  EXPECT_EQ(a[SipMidLevel::BYE_ORGANIZATION], "org");
}

// An empty value keeps its position (the text port stays the text port),
// a value may hold quotes and backslashes, blanks around values are trimmed.
TEST(SipMidLevel, EmptyAndQuotedValuesKeepTheirPositions) {
  SipInviteValues v = invite();
  v.textPort = "";
  v.whiteBoardPort = nullptr;
  v.to = "Bob \"the builder\" \\ co";
  char line[SipMidLevel::LINE_SIZE];
  ASSERT_EQ(SipMidLevel::formatInvite(line, sizeof line, v), 0);
  std::vector<std::string> a = splitAll(std::string(line).substr(7).c_str());
  ASSERT_EQ(a.size(), static_cast<size_t>(SipMidLevel::INV_COUNT));
  EXPECT_EQ(a[SipMidLevel::INV_TEXT], "");
  EXPECT_EQ(a[SipMidLevel::INV_WHITEBOARD], "");
  EXPECT_EQ(a[SipMidLevel::INV_NATTED], "1");
  EXPECT_EQ(a[SipMidLevel::INV_TO], "Bob \"the builder\" \\ co");
  EXPECT_EQ(a[SipMidLevel::INV_URI], a[SipMidLevel::INV_TO]);
  EXPECT_EQ(a[SipMidLevel::INV_CSEQ], "1 INVITE");

  // Splitter details: unquoted words, blanks trimmed inside quotes, a quote
  // left open runs to the end, an escaped quote does not close.
  std::vector<std::string> expected = {"a", "b c", "", "x\"y", "tail end"};
  EXPECT_EQ(splitAll("a  \"  b c \" \"\" \"x\\\"y\" \"tail end"), expected);
  EXPECT_TRUE(splitAll("").empty());
  EXPECT_TRUE(splitAll("   \t ").empty());
}

// Values that cannot travel are refused rather than cut or let through:
// line ends (they would break the request), values longer than a slot, and
// a line that does not fit its buffer. The splitter refuses overflowing
// slots instead of cutting.
TEST(SipMidLevel, RefusesWhatCannotTravel) {
  char line[SipMidLevel::LINE_SIZE];
  SipInviteValues v = invite();
  v.from = "alice\r\nX-Evil: 1";
  EXPECT_EQ(SipMidLevel::formatInvite(line, sizeof line, v), -1);
  EXPECT_STREQ(line, "");
  v = invite();
  std::string big(SipMidLevel::VALUE_MAX + 1, 'x');
  v.contact = big.c_str();
  EXPECT_EQ(SipMidLevel::formatInvite(line, sizeof line, v), -1);
  std::string fits(SipMidLevel::VALUE_MAX, 'y');
  v.contact = fits.c_str();
  ASSERT_EQ(SipMidLevel::formatInvite(line, sizeof line, v), 0);
  EXPECT_EQ(splitAll(line + 7)[SipMidLevel::INV_CONTACT], fits);
  // Four values of 4095 do not fit 16384 bytes with the rest of the line.
  v.organization = v.expires = v.to = fits.c_str();
  EXPECT_EQ(SipMidLevel::formatInvite(line, sizeof line, v), -1);
  char small[16];
  SipByeValues b{"b", "a", "c", "p", "", ""};
  EXPECT_EQ(SipMidLevel::formatBye(small, sizeof small, b), -1);

  EXPECT_EQ(splitAll("\"12345\"", 4, 5)[0], "<refused>");
  EXPECT_EQ(splitAll("\"1234\"", 4, 5)[0], "1234");
  EXPECT_EQ(splitAll("a b c", 2)[0], "<refused>");
}
