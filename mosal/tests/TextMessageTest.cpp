// TextMessage and HttpLikeMessage: chunked parsing, line-end rules, limits,
// residue and back-to-back messages, the three header tables, reset, the
// wire form and the entity rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mosal/TextMessage.h"
#include "mosal/Trace.h"

using namespace MorvaneLib;

namespace {

const char* kSipNames[] = {"Accept",  "Call-ID",      "Contact",      "Content-Length",
                           "Content-Type", "CSeq",    "From",         "Max-Forwards",
                           "To",      "User-Agent",   "Via",          "X-Video-Port",
                           "X-Audio-Port", "X-Natted"};

// A descriptor table: the SIP names as general headers, plus a few names in
// the other classes and one with an invalid code.
struct Descriptors {
  SharedHash table{128};
  Descriptors() {
    for (const char* n : kSipNames) add(n, 1);
    add("Expires", 2);
    add("Retry-After", 3);
    add("Content-Encoding", 4);
    add("Broken", 9);
  }
  void add(const char* name, char code) {
    table.put(const_cast<char*>(name), std::strlen(name) + 1, &code, 1, false);
  }
};

// What the tests compare: start line, every known header, residue, flags.
std::string snapshot(TextMessage& m) {
  std::string s = "SL[" + std::string(m.getStartLine()->getData()) + "]";
  for (const char* n : kSipNames) {
    char* v = m.getHeader(n);
    if (v) s += std::string(" ") + n + "=[" + v + "]";
  }
  DataBuf* r = m.getResidueData();
  s += " R[" + std::string(r->getData(), r->getLength()) + "]";
  s += m.isCompleted() ? " done" : " open";
  return s;
}

std::string wire(TextMessage& m) {
  DataBuf* b = m.getMessageBuffer();
  return b ? std::string(b->getData(), b->getLength()) : std::string("<null>");
}

const std::string kInvite =
    "INVITE sip:bob@192.168.1.20 SIP/2.0\r\n"
    "Via: SIP/2.0/TCP 192.168.1.10:5060\r\n"
    "To: <sip:bob@192.168.1.20>\r\n"
    "From: <sip:alice@192.168.1.10>\r\n"
    "Call-ID: 7f3a9c@192.168.1.10\r\n"
    "CSeq: 1 INVITE\r\n"
    "X-Unknown: dropped\r\n"
    "X-Video-Port:6000\r\n"
    "X-Audio-Port:    9000  \r\n"
    "\r\n"
    "ABCD";

class TextMessageTest : public ::testing::Test {
 protected:
  void SetUp() override { Trace::setEnabled(false); }
  void TearDown() override { Trace::setEnabled(true); }
  Descriptors d;
};

}  // namespace

TEST_F(TextMessageTest, WholeMessageGivesStartLineHeadersAndResidue) {
  TextMessage m(&d.table, 128, 1024, 32768, 8192);
  ASSERT_EQ(m.parse(kInvite.data(), kInvite.size()), 0);
  EXPECT_EQ(snapshot(m),
            "SL[INVITE sip:bob@192.168.1.20 SIP/2.0] Call-ID=[7f3a9c@192.168.1.10]"
            " CSeq=[1 INVITE] From=[<sip:alice@192.168.1.10>] To=[<sip:bob@192.168.1.20>]"
            " Via=[SIP/2.0/TCP 192.168.1.10:5060] X-Video-Port=[6000]"
            " X-Audio-Port=[9000  ] R[ABCD] done");
  EXPECT_EQ(m.getLineCount(), 0);
  EXPECT_EQ(m.getHeader("X-Unknown"), nullptr);
}

TEST_F(TextMessageTest, EverySplitParsesLikeTheWhole) {
  TextMessage whole(&d.table, 128, 1024, 32768, 8192);
  ASSERT_EQ(whole.parse(kInvite.data(), kInvite.size()), 0);
  const std::string expected = snapshot(whole);

  TextMessage m(&d.table, 128, 1024, 32768, 8192);
  for (size_t cut = 1; cut < kInvite.size(); ++cut) {
    ASSERT_EQ(m.reset(), 0);
    ASSERT_EQ(m.parse(kInvite.data(), cut), 0);
    ASSERT_EQ(m.parse(kInvite.data() + cut, kInvite.size() - cut), 0);
    ASSERT_EQ(snapshot(m), expected) << "cut at " << cut;
  }
  // One byte per call, and three cuts at once.
  ASSERT_EQ(m.reset(), 0);
  for (char c : kInvite) ASSERT_EQ(m.parse(&c, 1), 0);
  EXPECT_EQ(snapshot(m), expected);
  for (size_t a = 1; a + 40 < kInvite.size(); a += 7) {
    size_t b = a + 13, c = a + 40;
    ASSERT_EQ(m.reset(), 0);
    m.parse(kInvite.data(), a);
    m.parse(kInvite.data() + a, b - a);
    m.parse(kInvite.data() + b, c - b);
    m.parse(kInvite.data() + c, kInvite.size() - c);
    ASSERT_EQ(snapshot(m), expected) << a;
  }
}

TEST_F(TextMessageTest, BareLineEndsAndSplitCrLf) {
  TextMessage crlf(&d.table, 128, 1024, 32768, 8192);
  crlf.parse(kInvite.data(), kInvite.size());
  const std::string expected = snapshot(crlf);

  // Bare LF everywhere, and bare CR everywhere, parse the same lines.
  for (const char* eol : {"\n", "\r"}) {
    std::string text = kInvite;
    std::string::size_type p = 0;
    while ((p = text.find("\r\n", p)) != std::string::npos) text.replace(p, 2, eol), p += 1;
    TextMessage m(&d.table, 128, 1024, 32768, 8192);
    ASSERT_EQ(m.parse(text.data(), text.size()), 0);
    EXPECT_EQ(snapshot(m), expected) << (eol[0] == '\r' ? "CR" : "LF");
    for (size_t step : {1, 2, 3, 5}) {  // each bare line end at chunk edges too
      ASSERT_EQ(m.reset(), 0);
      for (size_t i = 0; i < text.size(); i += step)
        ASSERT_EQ(m.parse(text.data() + i, std::min(step, text.size() - i)), 0);
      EXPECT_EQ(snapshot(m), expected) << step << (eol[0] == '\r' ? " CR" : " LF");
    }
  }

  // A chunk that ends in the CR of the empty line: the LF that comes next
  // belongs to that line end, not to the residue, and is no further line.
  TextMessage m(&d.table, 128, 1024, 32768, 8192);
  std::string msg = "OPTIONS * SIP/2.0\r\nTo: a\r\n\r\nXY";
  size_t cr = msg.rfind("\r\n");
  ASSERT_EQ(m.parse(msg.data(), cr + 1), 0);
  EXPECT_FALSE(m.isCompleted());
  EXPECT_TRUE(m.isLinePending());
  ASSERT_EQ(m.parse(msg.data() + cr + 1, msg.size() - cr - 1), 0);
  EXPECT_TRUE(m.isCompleted());
  EXPECT_EQ(std::string(m.getResidueData()->getData(), m.getResidueData()->getLength()), "XY");
}

TEST_F(TextMessageTest, LineRulesForValuesBlanksAndUnknownNames) {
  TextMessage m(&d.table, 128, 1024, 32768, 8192);
  std::string msg =
      "  REGISTER sip:x SIP/2.0\r\n"
      "To:tight\r\n"
      "From:  \t  loose  \r\n"
      "Nobody-Knows: me\r\n"
      "  Via: indented is its own header\r\n"
      "Contact\r\n"         // no colon: name only, empty value
      "CSeq : spaced\r\n"   // "CSeq " is another name
      " \t \r\n"            // blanks only: end of the header section
      "Call-ID: after the end\r\n";
  ASSERT_EQ(m.parse(msg.data(), msg.size()), 0);
  EXPECT_TRUE(m.isCompleted());
  EXPECT_STREQ(m.getStartLine()->getData(), "REGISTER sip:x SIP/2.0");
  EXPECT_STREQ(m.getHeader("To"), "tight");
  EXPECT_STREQ(m.getHeader("From"), "loose  ");
  EXPECT_STREQ(m.getHeader("Via"), "indented is its own header");
  EXPECT_EQ(m.getHeader("Contact"), nullptr);
  EXPECT_EQ(m.getHeader("CSeq"), nullptr);
  EXPECT_EQ(m.getHeader("Call-ID"), nullptr);
  EXPECT_EQ(std::string(m.getResidueData()->getData()), "Call-ID: after the end\r\n");
}

TEST_F(TextMessageTest, BlankLinesBeforeTheStartLineAreSkipped) {
  TextMessage m(&d.table, 128, 1024, 32768, 8192);
  std::string msg = "\r\n\r\n\nBYE sip:b SIP/2.0\r\nTo: b\r\n\r\n";
  ASSERT_EQ(m.parse(msg.data(), msg.size()), 0);
  EXPECT_TRUE(m.isCompleted());
  EXPECT_STREQ(m.getStartLine()->getData(), "BYE sip:b SIP/2.0");
  EXPECT_STREQ(m.getHeader("To"), "b");
}

TEST_F(TextMessageTest, BackToBackMessagesAndEntityResidue) {
  std::string first =
      "MESSAGE sip:b SIP/2.0\r\nTo: b\r\nContent-Type: text/plain\r\nContent-Length: 4\r\n\r\n";
  std::string second = "BYE sip:b SIP/2.0\r\nCall-ID: 42\r\n\r\n";
  std::string third = "OPTIONS sip:b SIP/2.0\r\n";
  std::string all = first + "WXYZ" + second + third;
  HttpLikeMessage m(&d.table, 128, 1024, 32768, 8192);
  ASSERT_EQ(m.parse(all.data(), all.size()), 0);
  ASSERT_TRUE(m.isCompleted());
  ASSERT_TRUE(m.isEntityPresent());
  ASSERT_EQ(m.getEntitySize(), 4u);
  DataBuf* r = m.getResidueData();
  ASSERT_EQ(std::string(r->getData(), r->getLength()), "WXYZ" + second + third);

  // The connection took the four entity bytes; the rest is the next message.
  ASSERT_EQ(m.resetForNext(4), 0);
  EXPECT_TRUE(m.isCompleted());
  EXPECT_STREQ(m.getStartLine()->getData(), "BYE sip:b SIP/2.0");
  EXPECT_STREQ(m.getHeader("Call-ID"), "42");
  EXPECT_EQ(m.getHeader("To"), nullptr);  // blanked by the reset
  EXPECT_FALSE(m.isEntityPresent());

  // The third one is incomplete: it waits for more bytes.
  ASSERT_EQ(m.resetForNext(0), 0);
  EXPECT_FALSE(m.isCompleted());
  EXPECT_STREQ(m.getStartLine()->getData(), "OPTIONS sip:b SIP/2.0");
  std::string end = "To: c\r\n\r\n";
  ASSERT_EQ(m.parse(end.data(), end.size()), 0);
  EXPECT_TRUE(m.isCompleted());
  EXPECT_STREQ(m.getHeader("To"), "c");

  // Bytes given to a completed message join its residue.
  ASSERT_EQ(m.parse("more", 4), 0);
  EXPECT_EQ(std::string(m.getResidueData()->getData(), m.getResidueData()->getLength()),
            "more");
  ASSERT_EQ(m.resetForNext(100), 0);  // more than the residue: nothing kept
  EXPECT_FALSE(m.isCompleted());
  EXPECT_EQ(m.getLineCount(), 0);
}

TEST_F(TextMessageTest, LimitsGrowBuffersAndRejectOversizedSections) {
  TextMessage m(&d.table, 128, 64, 32768, 128);
  // Start line and a header line longer than their buffers are kept whole.
  std::string longUri(2000, 'u');
  std::string longValue(10000, 'v');
  std::string msg = "GET /" + longUri + " HTTP/1.0\r\nVia: " + longValue + "\r\n\r\n";
  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  ASSERT_EQ(m.parse(msg.data(), msg.size()), 0);
  std::string out = testing::internal::GetCapturedStdout();
  Trace::setEnabled(false);
  EXPECT_NE(out.find("TextMessage: Set start line (100)\n"), std::string::npos);
  EXPECT_EQ(std::string(m.getStartLine()->getData()), "GET /" + longUri + " HTTP/1.0");
  EXPECT_EQ(std::string(m.getHeader("Via")), longValue);

  // A header section beyond 65536 bytes is rejected, in one chunk or many,
  // and stays rejected until reset.
  std::string big = "INVITE x SIP/2.0\r\n";
  while (big.size() <= 70000) big += "To: " + std::string(100, 't') + "\r\n";
  big += "\r\n";
  ASSERT_EQ(m.reset(), 0);
  EXPECT_EQ(m.parse(big.data(), big.size()), -1);
  EXPECT_FALSE(m.isCompleted());
  EXPECT_STREQ(m.getErrorString(), "header section too long");
  EXPECT_EQ(m.parse("\r\n", 2), -1);

  ASSERT_EQ(m.reset(), 0);
  int result = 0;
  for (size_t i = 0; i < big.size() && result == 0; i += 1000)
    result = m.parse(big.data() + i, std::min<size_t>(1000, big.size() - i));
  EXPECT_EQ(result, -1);

  // One endless line, and endless blank lines, end the same way.
  ASSERT_EQ(m.reset(), 0);
  std::string noEnd(4096, 'x');
  result = 0;
  for (int i = 0; i < 40 && result == 0; ++i) result = m.parse(noEnd.data(), noEnd.size());
  EXPECT_EQ(result, -1);
  ASSERT_EQ(m.reset(), 0);
  std::string blanks(4096, '\n');
  result = 0;
  for (int i = 0; i < 40 && result == 0; ++i) result = m.parse(blanks.data(), blanks.size());
  EXPECT_EQ(result, -1);

  // After the reset the object serves a normal message again.
  ASSERT_EQ(m.reset(), 0);
  EXPECT_EQ(m.getErrorString(), nullptr);
  ASSERT_EQ(m.parse(kInvite.data(), kInvite.size()), 0);
  EXPECT_TRUE(m.isCompleted());
  EXPECT_STREQ(m.getHeader("CSeq"), "1 INVITE");
}

TEST_F(TextMessageTest, ThreeTablesLookupOrderAndClassCodes) {
  TextMessage m(&d.table, 16, 1024, 32768, 8192);
  EXPECT_EQ(m.setHeader("To", "general"), 0);
  EXPECT_EQ(m.setHeader("Expires", "reqres-2"), 0);
  EXPECT_EQ(m.setHeader("Retry-After", "reqres-3"), 0);
  EXPECT_EQ(m.setHeader("Content-Encoding", "entity"), 0);
  EXPECT_EQ(m.setHeader("Unknown", "x"), 106);
  EXPECT_EQ(m.setHeader("to", "x"), 106);  // names match with case
  EXPECT_EQ(m.setHeader("Broken", "x"), 106);
  EXPECT_EQ(m.setHeader("To", "a\r\nVia: injected"), -1);

  EXPECT_NE(m.getGeneralHeaders()->get("To", 3), nullptr);
  EXPECT_NE(m.getReqResHeaders()->get("Expires", 8), nullptr);
  EXPECT_NE(m.getReqResHeaders()->get("Retry-After", 12), nullptr);
  EXPECT_NE(m.getEntityHeaders()->get("Content-Encoding", 17), nullptr);
  EXPECT_STREQ(m.getHeader("Retry-After"), "reqres-3");
  EXPECT_STREQ(m.getHeader("To"), "general");

  // A name present in more than one table: the general one wins, then
  // request/response, then entity.
  m.getEntityHeaders()->put("Expires", 8, "late", 5, true);
  EXPECT_STREQ(m.getHeader("Expires"), "reqres-2");
  m.getReqResHeaders()->put("To", 3, "second", 7, true);
  EXPECT_STREQ(m.getHeader("To"), "general");

  // A repeated header keeps one value, the last.
  EXPECT_EQ(m.setHeader("To", "again"), 0);
  EXPECT_STREQ(m.getHeader("To"), "again");
}

TEST_F(TextMessageTest, SetHeaderTraceLines) {
  TextMessage m(&d.table, 16, 1024, 32768, 8192);
  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  char line[] = "Retry-After:   120";
  m.setHeader(line, std::strlen(line));
  m.setHeader("Broken", "x");
  m.setHeader("Content-Encoding", "gzip");
  std::string out = testing::internal::GetCapturedStdout();
  Trace::setEnabled(false);
  EXPECT_EQ(out,
            "setHeader(): h = \"Retry-After\", v = \"120\"\n"
            "TextMessage: setHeader(): REQRES (ret = 0)\n"
            "TextMessage: setHeader(): name=Retry-After, value=120\n"
            "TextMessage: setHeader(): invalid header\n"
            "TextMessage: setHeader(): ENTITY (ret = 0)\n"
            "TextMessage: setHeader(): name=Content-Encoding, value=gzip\n");
}

TEST_F(TextMessageTest, ParseTraceLines) {
  TextMessage m(&d.table, 16, 1024, 32768, 256);
  std::string msg = "BYE x SIP/2.0\r\nNope: 1\r\n\r\nQQ";
  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  m.parse(msg.data(), msg.size());
  std::string out = testing::internal::GetCapturedStdout();
  Trace::setEnabled(false);
  EXPECT_EQ(out,
            "TextMessage: parse (message size 28)\n"
            "setHeader(): h = \"Nope\", v = \"1\"\n"
            "TextMessage: Set header (106)\n"
            "End of Message found\n"
            "rawmessage: size = 256, count = 28\n"
            "residue = 2\n");
}

TEST_F(TextMessageTest, WireFormOfRequestAndResponse) {
  // One bucket keeps the enumeration in insertion order, so the expected
  // text can be written down; the order within a table is the table's.
  TextMessage m(&d.table, 1, 1024, 32768, 8192);
  const char req[] = "INVITE sip:bob@10.0.0.2 SIP/2.0";
  m.getStartLine()->xcopy(req, sizeof req);
  m.setHeader("Content-Encoding", "identity");  // entity: written last
  m.setHeader("To", "<sip:bob@10.0.0.2>");
  m.setHeader("Expires", "60");                 // request/response: second
  m.setHeader("From", "<sip:alice@10.0.0.1>");
  m.setHeader("Call-ID", "abc@10.0.0.1");
  m.setHeader("Contact", "");                   // blank: left out
  m.setHeader("CSeq", "1 INVITE");
  EXPECT_EQ(wire(m),
            "INVITE sip:bob@10.0.0.2 SIP/2.0\r\n"
            "To: <sip:bob@10.0.0.2>\r\n"
            "From: <sip:alice@10.0.0.1>\r\n"
            "Call-ID: abc@10.0.0.1\r\n"
            "CSeq: 1 INVITE\r\n"
            "Expires: 60\r\n"
            "Content-Encoding: identity\r\n"
            "\r\n");

  // The response reuses the object: headers that it does not set vanish.
  ASSERT_EQ(m.reset(), 0);
  const char status[] = "sip/2.0 200 Ok";
  m.getStartLine()->xcopy(status, sizeof status);
  m.setHeader("To", "<sip:bob@10.0.0.2>");
  m.setHeader("CSeq", "1 INVITE");
  EXPECT_EQ(wire(m), "sip/2.0 200 Ok\r\nTo: <sip:bob@10.0.0.2>\r\nCSeq: 1 INVITE\r\n\r\n");

  // Start line only; an empty reason keeps its blank.
  ASSERT_EQ(m.reset(), 0);
  const char bare[] = "HTTP/1.0 200 ";
  m.getStartLine()->xcopy(bare, sizeof bare);
  EXPECT_EQ(wire(m), "HTTP/1.0 200 \r\n\r\n");
}

TEST_F(TextMessageTest, WireOrderDependsOnNamesNotOnCallOrder) {
  TextMessage a(&d.table, 64, 1024, 32768, 8192), b(&d.table, 64, 1024, 32768, 8192);
  for (TextMessage* m : {&a, &b}) m->getStartLine()->xcopy("ACK x SIP/2.0", 14);
  const char* names[] = {"To", "From", "Call-ID", "CSeq", "Via", "Max-Forwards"};
  for (int i = 0; i < 6; ++i) a.setHeader(names[i], "v");
  for (int i = 5; i >= 0; --i) b.setHeader(names[i], "v");
  std::string wa = wire(a);
  EXPECT_EQ(wa, wire(b));
  for (const char* n : names) EXPECT_NE(wa.find(std::string(n) + ": v\r\n"), std::string::npos);
  // A parsed message rebuilt and parsed again keeps its parts.
  TextMessage c(&d.table, 64, 1024, 32768, 8192);
  ASSERT_EQ(c.parse(wa.data(), wa.size()), 0);
  EXPECT_EQ(wire(c), wa);
}

TEST_F(TextMessageTest, ResetBlanksEveryHeaderEvenAfterManySets) {
  TextMessage m(&d.table, 128, 1024, 32768, 8192);
  ASSERT_EQ(m.parse(kInvite.data(), kInvite.size()), 0);
  ASSERT_EQ(m.reset(), 0);
  EXPECT_STREQ(m.getStartLine()->getData(), "");
  EXPECT_EQ(m.getResidueData()->getLength(), 0u);
  EXPECT_FALSE(m.isCompleted());
  for (const char* n : kSipNames) EXPECT_EQ(m.getHeader(n), nullptr) << n;
  // The names stay in their tables with blank values.
  char* kept = m.getGeneralHeaders()->get("Call-ID", 8);
  ASSERT_NE(kept, nullptr);
  EXPECT_STREQ(kept, "");

  // Many sets of a few names (more than the message keeps track of) are
  // still all blanked.
  for (int i = 0; i < 20000; ++i) m.setHeader(i % 2 ? "Via" : "Expires", "some value");
  m.setHeader("Content-Encoding", "gzip");
  ASSERT_EQ(m.reset(), 0);
  EXPECT_EQ(m.getHeader("Via"), nullptr);
  EXPECT_EQ(m.getHeader("Expires"), nullptr);
  EXPECT_EQ(m.getHeader("Content-Encoding"), nullptr);
  m.setHeader("To", "x");
  ASSERT_EQ(m.reset(), 0);
  EXPECT_EQ(m.getHeader("To"), nullptr);
}

TEST_F(TextMessageTest, EntityRules) {
  HttpLikeMessage m(&d.table, 128, 1024, 32768, 8192);
  struct Case {
    const char* type;
    const char* length;
    bool present;
    unsigned size;
  } cases[] = {
      {"text/plain", nullptr, true, 0}, {"text/plain", "0", false, 0},
      {"text/plain", "0x10", true, 16}, {"text/plain", "010", true, 8},
      {"text/plain", "12", true, 12},   {nullptr, "12", false, 12},
      {"text/plain", "junk", false, 0}, {"text/plain", "-5", false, 0},
      {"text/plain", "99999999999", true, 4294967295u},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(m.reset(), 0);
    if (c.type) m.setHeader("Content-Type", c.type);
    if (c.length) m.setHeader("Content-Length", c.length);
    EXPECT_EQ(m.isEntityPresent(), c.present) << (c.length ? c.length : "absent");
    EXPECT_EQ(m.getEntitySize(), c.size) << (c.length ? c.length : "absent");
  }
  // A Content-Type left over from an earlier message is not an entity of
  // this one.
  ASSERT_EQ(m.reset(), 0);
  EXPECT_FALSE(m.isEntityPresent());
  EXPECT_EQ(m.getEntityKey(), nullptr);

  std::string msg = "HTTP/1.0 200 OK\r\nContent-Type: image/jpeg ; q=1;x=2\r\n\r\n";
  ASSERT_EQ(m.parse(msg.data(), msg.size()), 0);
  EXPECT_STREQ(m.getEntityKey(), "image/jpeg");
  EXPECT_STREQ(m.getHeader("Content-Type"), "image/jpeg");  // cut in place
  EXPECT_STREQ(m.getEntityKey(), "image/jpeg");
  ASSERT_EQ(m.reset(), 0);
  m.setHeader("Content-Type", ";charset=x");
  EXPECT_EQ(m.getEntityKey(), nullptr);
  // Plain text messages have no entity rules.
  TextMessage t(&d.table, 16, 1024, 32768, 8192);
  t.setHeader("Content-Type", "text/plain");
  EXPECT_FALSE(t.isEntityPresent());
  EXPECT_EQ(t.getEntityKey(), nullptr);
  EXPECT_EQ(t.getEntitySize(), 0u);
}

namespace {
struct FakeProtocol {
  SharedHash* table;
  SharedHash* getHeaderDescriptors() { return table; }
};
}  // namespace

TEST_F(TextMessageTest, ConstructionAndDestruction) {
  try {
    TextMessage m(nullptr, 16, 16, 16, 16);
    FAIL() << "no exception";
  } catch (const LibError& e) {
    EXPECT_STREQ(e.getLocation(), "TextMessage()");
    EXPECT_STREQ(e.getReason(), "Invalid header descriptors table");
  }
  FakeProtocol none{nullptr};
  EXPECT_THROW(HttpLikeMessage(&none, 16, 16, 16, 16), LibError);
  FakeProtocol* nullProtocol = nullptr;
  EXPECT_THROW(HttpLikeMessage(nullProtocol, 16, 16, 16, 16), LibError);

  FakeProtocol p{&d.table};
  auto* m = new HttpLikeMessage(&p, 128, 1024, 32768, 8192);
  EXPECT_EQ(m->getHeaderDescriptors(), &d.table);
  EXPECT_STREQ(m->getStartLine()->getData(), "");
  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  delete m;
  std::string out = testing::internal::GetCapturedStdout();
  Trace::setEnabled(false);
  EXPECT_EQ(out.find("TextMessage::~TextMessage(): entering\n"), 0u);
  EXPECT_NE(out.find("TextMessage::~TextMessage(): deleted\n"), std::string::npos);
  // The descriptor table is borrowed: still usable.
  EXPECT_NE(d.table.get("To", 3), nullptr);
}
