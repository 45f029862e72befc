// IPv4 addresses: the wildcard names, resolution failures and their texts,
// copies and URLs.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>
#include <string>

#include "mosal_posix/InetAddress.h"

using namespace MorvaneLib;

TEST(InetAddress, AnyAndZeroGiveTheWildcardWithoutLookup) {
  InetAddress a("ANY", 5060);
  EXPECT_TRUE(a.isWildcard());
  EXPECT_STREQ(a.toString(), "0.0.0.0");
  EXPECT_EQ(a.getPort(), 5060);
  EXPECT_EQ(reinterpret_cast<sockaddr_in*>(a.get())->sin_family, AF_INET);
  EXPECT_EQ(reinterpret_cast<sockaddr_in*>(a.get())->sin_port, htons(5060));
  EXPECT_EQ(a.getSize(), 16u);

  InetAddress z("0.0.0.0", 0);
  EXPECT_TRUE(z.isWildcard());
}

TEST(InetAddress, ResolvesDottedQuadsAndHostsFileNames) {
  InetAddress a("127.0.0.1", 65535);  // the full port range fits
  EXPECT_STREQ(a.toString(), "127.0.0.1");
  EXPECT_EQ(a.getPort(), 65535);
  InetAddress l("localhost", 80);
  EXPECT_STREQ(l.toString(), "127.0.0.1");
  EXPECT_FALSE(l.isWildcard());
  // Full dotted quads skip the resolver; the short forms it knows still work.
  InetAddress q("10.1.2.3", 1);
  EXPECT_STREQ(q.toString(), "10.1.2.3");
  InetAddress shortForm("127.1", 1);
  EXPECT_STREQ(shortForm.toString(), "127.0.0.1");
}

TEST(InetAddress, FailedLookupKeepsCodeAndTextAndThrowsFromConstructor) {
  // A name with an empty label is refused by the resolver before any query.
  InetAddress a;
  EXPECT_EQ(a.resolve("bad..name"), -1);
  EXPECT_EQ(a.getErrorCode(), 1);
  EXPECT_STREQ(a.getErrorString(), "Host not found");
  EXPECT_EQ(a.set(nullptr, 1), -1);

  try {
    InetAddress b("bad..name", 80);
    FAIL() << "no exception";
  } catch (LibError& e) {
    EXPECT_STREQ(e.getLocation(), "InetAddress()");
    EXPECT_STREQ(e.getReason(), "Host not found");
  }
}

TEST(InetAddress, ResolverTextsByCode) {
  EXPECT_STREQ(InetAddress::resolverErrorText(2), "Server busy, try again later");
  EXPECT_STREQ(InetAddress::resolverErrorText(3), "Unrecoverable dns error");
  EXPECT_STREQ(InetAddress::resolverErrorText(4), "Host with no address");
  EXPECT_EQ(InetAddress::resolverErrorText(7), nullptr);
}

TEST(InetAddress, CopyKeepsAddressAndPort) {
  InetAddress a("127.0.0.1", 4242);
  InetAddress b(a);
  EXPECT_STREQ(b.toString(), "127.0.0.1");
  EXPECT_EQ(b.getPort(), 4242);
  InetAddress c;
  c = a;
  EXPECT_EQ(c.getPort(), 4242);
  EXPECT_EQ(std::memcmp(c.get(), a.get(), 16), 0);
}

TEST(InetAddress, ToUrlAppendsOnEveryCall) {
  InetAddress a("127.0.0.1", 8080);
  EXPECT_STREQ(a.toURL("http", "", "/x"), "http://127.0.0.1:8080/x");
  EXPECT_STREQ(a.toURL("sip", "bob@", nullptr), "http://127.0.0.1:8080/xsip://bob@127.0.0.1:8080");
}
