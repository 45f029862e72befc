// Hash, SharedHash and Enumeration: hashing, chaining and entry reuse, byte
// counts, listings, key=value files and the try-only lookup.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "mosal/Hash.h"
#include "mosal/Trace.h"

using namespace MorvaneLib;

namespace {

unsigned L(const char* s) { return static_cast<unsigned>(std::strlen(s)) + 1; }

int putS(Hash& h, const char* k, const char* v, bool replace = false) {
  return h.put(k, L(k), v, L(v), replace);
}

std::string tempPath(const char* tag) {
  char tmpl[64];
  std::snprintf(tmpl, sizeof tmpl, "/tmp/hashtest-%s-XXXXXX", tag);
  int fd = mkstemp(tmpl);
  EXPECT_GE(fd, 0);
  close(fd);
  return tmpl;
}

void writeFile(const std::string& path, const char* text) {
  FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs(text, f);
  std::fclose(f);
}

std::string readFile(const std::string& path) {
  std::string out;
  FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return out;
  int c;
  while ((c = std::fgetc(f)) != EOF) out += static_cast<char>(c);
  std::fclose(f);
  return out;
}

class HashTest : public ::testing::Test {
 protected:
  void SetUp() override { Trace::setEnabled(true); }
};

}  // namespace

TEST_F(HashTest, HashCodeWeighsSignedBytesByPosition) {
  Hash h(1000);
  EXPECT_EQ(h.hashCode("ab", 3, 1000), 293u);
  EXPECT_EQ(h.hashCode("ab", 3, 128), 293u % 128);
  // Bytes above 127 count as negative; the sum wraps at 32 bits.
  const char hi[] = {static_cast<char>(0xFF), 'a'};  // -1*1 + 97*2 = 193
  EXPECT_EQ(h.hashCode(hi, 2, 1000), 193u);
  const char neg[] = {static_cast<char>(0x80)};  // -128 -> 2^32 - 128
  EXPECT_EQ(h.hashCode(neg, 1, 1000), (4294967296ull - 128) % 1000);
  EXPECT_EQ(h.hashCode("", 0, 7), 0u);
}

TEST_F(HashTest, CompareIsUnsignedAndBoundedByLength) {
  Hash h(8);
  EXPECT_EQ(h.compare("abc", "abd", 3), -1);
  EXPECT_EQ(h.compare("abd", "abc", 3), 1);
  EXPECT_EQ(h.compare("abc", "abd", 2), 0);
  EXPECT_EQ(h.compare("x", "y", 0), 0);
  const char hi[] = {static_cast<char>(0xF0)};
  EXPECT_EQ(h.compare(hi, "a", 1), 1);
}

TEST_F(HashTest, PutGetReplaceAndDelete) {
  Hash h(128);
  EXPECT_EQ(putS(h, "To", "alice"), 0);
  EXPECT_EQ(putS(h, "To", "bob"), 10);
  EXPECT_STREQ(h.get("To", 3), "alice");
  unsigned vlen = 99;
  EXPECT_STREQ(h.get("To", 3, &vlen), "alice");
  EXPECT_EQ(vlen, 6u);
  // A key is its bytes and its length: without the NUL it is another key.
  EXPECT_EQ(h.get("To", 2), nullptr);

  EXPECT_EQ(putS(h, "To", "a-much-longer-value", true), 0);
  EXPECT_STREQ(h.get("To", 3), "a-much-longer-value");
  EXPECT_EQ(putS(h, "To", "x", true), 0);
  EXPECT_STREQ(h.get("To", 3, &vlen), "x");
  EXPECT_EQ(vlen, 2u);
  EXPECT_EQ(h.getEntryCount(), 1u);
  EXPECT_EQ(h.getByteCount(), 3u + 2u);

  EXPECT_EQ(h.del("To", 3), 0);
  EXPECT_EQ(h.del("To", 3), -1);
  EXPECT_EQ(h.get("To", 3, &vlen), nullptr);
  EXPECT_EQ(vlen, 0u);
  EXPECT_EQ(h.getEntryCount(), 0u);
  EXPECT_EQ(h.getByteCount(), 0u);
}

TEST_F(HashTest, PputKeepsTheCallersPointer) {
  Hash h(16);
  int object = 5;
  EXPECT_EQ(h.pput("obj", 4, &object), 0);
  unsigned vlen = 7;
  EXPECT_EQ(h.get("obj", 4, &vlen), reinterpret_cast<char*>(&object));
  EXPECT_EQ(vlen, 0u);
  EXPECT_EQ(h.getByteCount(), 4u);

  int other = 6;
  EXPECT_EQ(h.pput("obj", 4, &other), 10);
  testing::internal::CaptureStdout();
  EXPECT_EQ(h.pput("obj", 4, &other, true), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Hash::pput(): replace untested.\n");
  EXPECT_EQ(h.get("obj", 4), reinterpret_cast<char*>(&other));

  // A copied value takes precedence over a pointer stored later.
  putS(h, "both", "text");
  EXPECT_EQ(h.pput("both", 5, &object, true), 0);
  EXPECT_STREQ(h.get("both", 5), "text");
  EXPECT_EQ(h.del("obj", 4), 0);  // the object itself is untouched
  EXPECT_EQ(object, 5);
}

TEST_F(HashTest, DeletedChainEntryIsReusedAndTheChainStaysWhole) {
  Hash h(1);  // everything in one chain
  putS(h, "a", "1");
  putS(h, "b", "2");
  putS(h, "c", "3");
  putS(h, "d", "4");
  EXPECT_EQ(h.getByteCount(), 4u * 4u + 3u * Hash::CHAINED_ENTRY_BYTES);
  EXPECT_EQ(h.bucketHead(0)->collisions, 3u);

  EXPECT_EQ(h.del("b", 2), 0);
  EXPECT_EQ(h.bucketHead(0)->collisions, 2u);
  const hash_elem_t* second = h.bucketHead(0)->next;
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->empty, 1);

  putS(h, "e", "5");
  EXPECT_EQ(h.bucketHead(0)->next, second);  // same record, refilled
  EXPECT_EQ(second->empty, 0);
  EXPECT_STREQ(second->key, "e");
  // No new record was allocated.
  EXPECT_EQ(h.getByteCount(), 4u * 4u + 3u * Hash::CHAINED_ENTRY_BYTES);
  for (const char* k : {"a", "c", "d", "e"}) EXPECT_NE(h.get(k, 2), nullptr) << k;
  EXPECT_EQ(h.get("b", 2), nullptr);
  EXPECT_EQ(h.getEntryCount(), 4u);
}

TEST_F(HashTest, EmptiedHeadNeverDuplicatesAKeyFurtherDown) {
  Hash h(1);
  putS(h, "a", "1");
  putS(h, "b", "2");
  EXPECT_EQ(h.del("a", 2), 0);  // the head is empty, "b" is chained behind it
  EXPECT_EQ(putS(h, "b", "other"), 10);
  EXPECT_EQ(h.getEntryCount(), 1u);
  EXPECT_EQ(putS(h, "b", "new", true), 0);
  EXPECT_STREQ(h.get("b", 2), "new");
  EXPECT_EQ(h.del("b", 2), 0);
  EXPECT_EQ(h.get("b", 2), nullptr);  // no stale copy left behind
  EXPECT_EQ(h.getEntryCount(), 0u);
  // A new key now takes the empty head again.
  putS(h, "z", "9");
  EXPECT_FALSE(h.bucketHead(0)->empty);
  EXPECT_STREQ(h.bucketHead(0)->key, "z");
}

TEST_F(HashTest, ListingsFollowBucketOrderAndGrow) {
  Hash h(4);
  std::map<std::string, std::string> ref;
  // 60 entries in 4 buckets exceed the initial 40 pairs: the listing grows.
  for (int i = 0; i < 60; ++i) {
    std::string k = "key" + std::to_string(i), v = "v" + std::to_string(i * 7);
    ASSERT_EQ(putS(h, k.c_str(), v.c_str()), 0);
    ref[k] = v;
  }
  Enumeration* keys = h.keys();
  EXPECT_EQ(keys->getCount(), 60u);
  unsigned lastBucket = 0, n = 0;
  std::map<std::string, std::string> seen;
  while (keys->hasMoreElements()) {
    enum_elem_t* k = keys->nextElement();
    EXPECT_EQ(k->length, std::strlen(k->data) + 1);
    unsigned b = h.hashCode(k->data, k->length, 4);
    EXPECT_GE(b, lastBucket);
    lastBucket = b;
    seen[k->data] = h.get(k->data, k->length);
    ++n;
  }
  EXPECT_EQ(keys->nextElement(), nullptr);
  EXPECT_EQ(n, 60u);
  EXPECT_EQ(seen, ref);

  Enumeration* values = h.values();
  EXPECT_EQ(values->getCount(), 60u);
  // The values come in the same order as the keys.
  keys->rewind();
  while (values->hasMoreElements()) {
    enum_elem_t* v = values->nextElement();
    EXPECT_STREQ(v->data, ref[keys->nextElement()->data].c_str());
  }
}

// Walks visit only the buckets in use; a bucket emptied by del or clear
// must drop out of them, one whose chain is still linked must not.
TEST_F(HashTest, UnfilledAndEmptiedTablesListNothingAndRefill) {
  Trace::setEnabled(false);
  Hash fresh(1024);
  EXPECT_EQ(fresh.get("a", 2), nullptr);
  EXPECT_EQ(fresh.del("a", 2), -1);
  EXPECT_EQ(fresh.keys()->getCount(), 0u);
  EXPECT_EQ(fresh.values()->getCount(), 0u);
  EXPECT_TRUE(fresh.bucketHead(1000)->empty);
  fresh.clear();
  fresh.statistics();

  Hash h(8);
  std::map<std::string, std::string> ref;
  for (int i = 0; i < 40; ++i) {  // about five a bucket: chains linked
    std::string k = "k" + std::to_string(i);
    ASSERT_EQ(putS(h, k.c_str(), k.c_str()), 0);
    ref[k] = k;
  }
  // Delete every other key, heads included; the rest must still be listed
  // in bucket order.
  for (int i = 0; i < 40; i += 2) {
    std::string k = "k" + std::to_string(i);
    ASSERT_EQ(h.del(k.c_str(), static_cast<unsigned>(k.size()) + 1), 0);
    ref.erase(k);
  }
  Enumeration* keys = h.keys();
  EXPECT_EQ(keys->getCount(), ref.size());
  unsigned last = 0;
  while (keys->hasMoreElements()) {
    enum_elem_t* k = keys->nextElement();
    unsigned b = h.hashCode(k->data, k->length, 8);
    EXPECT_GE(b, last);
    last = b;
    EXPECT_EQ(ref.count(k->data), 1u) << k->data;
  }
  h.clear();
  EXPECT_EQ(h.keys()->getCount(), 0u);
  EXPECT_EQ(h.getEntryCount(), 0u);
  // Chained entries stay linked and are reused; nothing is listed twice.
  for (int i = 0; i < 40; ++i) {
    std::string k = "k" + std::to_string(i);
    ASSERT_EQ(putS(h, k.c_str(), "again"), 0);
  }
  EXPECT_EQ(h.keys()->getCount(), 40u);
  EXPECT_STREQ(h.get("k7", 3), "again");

  // A bucket with only its head: emptied and refilled by another key.
  Hash one(1024);
  ASSERT_EQ(putS(one, "x", "1"), 0);
  ASSERT_EQ(one.del("x", 2), 0);
  EXPECT_EQ(one.keys()->getCount(), 0u);
  ASSERT_EQ(putS(one, "y", "2"), 0);
  EXPECT_EQ(one.keys()->getCount(), 1u);
  EXPECT_STREQ(one.keys()->nextElement()->data, "y");
}

// A copied value and its key share one block: growing, shrinking and
// growing the value again must keep the key whole and findable.
TEST_F(HashTest, ValuesThatGrowAndShrinkKeepTheirKeys) {
  Trace::setEnabled(false);
  Hash h(16);
  ASSERT_EQ(putS(h, "alpha", "1"), 0);
  ASSERT_EQ(h.pput("beta", 5, &h, false), 0);
  // Stored records come back aligned for their type.
  struct Record {
    void* p;
    double d;
  } rec{&h, 2.5};
  ASSERT_EQ(h.put("rec", 4, reinterpret_cast<char*>(&rec), sizeof rec, false), 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(h.get("rec", 4)) % alignof(Record), 0u);
  std::string big(1000, 'x');
  for (const std::string& v : {big, std::string("2"), big + big, std::string()}) {
    ASSERT_EQ(h.put("alpha", 6, v.c_str(), static_cast<unsigned>(v.size()) + 1, true), 0);
    unsigned len = 0;
    EXPECT_STREQ(h.get("alpha", 6, &len), v.c_str());
    EXPECT_EQ(len, v.size() + 1);
    std::set<std::string> keys;
    Enumeration* e = h.keys();
    while (e->hasMoreElements()) keys.insert(e->nextElement()->data);
    EXPECT_EQ(keys, (std::set<std::string>{"alpha", "beta", "rec"}));
  }
  EXPECT_EQ(h.get("beta", 5), reinterpret_cast<char*>(&h));
  EXPECT_EQ(h.del("alpha", 6), 0);
  EXPECT_EQ(h.get("alpha", 6), nullptr);
  ASSERT_EQ(putS(h, "alpha", "back"), 0);
  EXPECT_STREQ(h.get("alpha", 6), "back");
}

TEST(Enumeration, EvenAnEmptyListingGrows) {
  Enumeration e(0);
  char x[3];
  for (int i = 0; i < 3; ++i) EXPECT_EQ(e.add(&x[i], 1), 0);
  EXPECT_EQ(e.getCount(), 3u);
  EXPECT_EQ(e.nextElement()->data, &x[0]);
  e.clear();
  EXPECT_FALSE(e.hasMoreElements());
  EXPECT_EQ(e.nextElement(), nullptr);
}

TEST_F(HashTest, ClearAndStatisticsTraceLines) {
  Hash h(2);
  putS(h, "a", "1");   // bucket 1 (97 is odd)
  putS(h, "c", "3");   // bucket 1, chained
  putS(h, "b", "22");  // bucket 0
  testing::internal::CaptureStdout();
  h.statistics();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Hash::statistics: TOTAL 3\n"
            "Hash::statistics: TOTAL BYTES 45\n"  // 4 + 4 + 5 + 32
            "0 0\n"
            "1 1\n");
  testing::internal::CaptureStdout();
  h.clear();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Hash::clear(): deleting key = \"b\"\n"
            "Hash::clear(): deleting key = \"a\"\n"
            "Hash::clear(): deleting key = \"c\"\n");
  EXPECT_EQ(h.getEntryCount(), 0u);
  EXPECT_EQ(h.getByteCount(), 32u);  // the chained record is kept
  EXPECT_EQ(h.keys()->getCount(), 0u);
  // Binary keys without a NUL are cleared as well.
  const char raw[] = {'k', 'k'};
  h.put(raw, 2, "v", 2);
  Trace::setEnabled(false);
  h.clear();
  EXPECT_EQ(h.getEntryCount(), 0u);
}

TEST_F(HashTest, ZeroBucketsIsRefused) {
  try {
    Hash h(0);
    FAIL() << "no exception";
  } catch (LibError& e) {
    EXPECT_STREQ(e.getLocation(), "Hash()");
  }
}

TEST_F(HashTest, LoadKVFirstOccurrenceWinsAndKeysAreCut) {
  std::string path = tempPath("load");
  writeFile(path,
            "a = 1\n"
            "#x=2\n"
            "b\n"
            "a=3\n"
            "   \t\n"
            "\t  host =  example.org \r\n"
            "long=va\\\nlue\n"
            "last=no-newline");
  Hash h(128);
  ASSERT_EQ(h.loadKV(path.c_str()), 0);
  EXPECT_STREQ(h.get("a", 2), "1");
  EXPECT_STREQ(h.get("b", 2), "");
  EXPECT_EQ(h.get("#x", 3), nullptr);
  EXPECT_STREQ(h.get("host", 5), "example.org");
  EXPECT_STREQ(h.get("long", 5), "value");
  EXPECT_STREQ(h.get("last", 5), "no-newline");
  EXPECT_EQ(h.getEntryCount(), 5u);
  std::remove(path.c_str());

  // An over-long line keeps its head; its rest is not read as a pair.
  std::string longValue(5000, 'v');
  longValue.replace(4500, 6, "evil=1");
  writeFile(path, ("k=" + longValue + "\nnext=2\n").c_str());
  Hash cut(16);
  ASSERT_EQ(cut.loadKV(path.c_str()), 0);
  EXPECT_EQ(cut.getEntryCount(), 2u);
  EXPECT_EQ(std::strlen(cut.get("k", 2)), 4093u);
  EXPECT_EQ(cut.get("evil", 5), nullptr);
  EXPECT_STREQ(cut.get("next", 5), "2");
  std::remove(path.c_str());

  Hash missing(8);
  EXPECT_EQ(missing.loadKV("/nonexistent/dir/file.txt"), -1);
  EXPECT_STREQ(missing.getErrorString(), "open error");
}

TEST_F(HashTest, SaveKVWritesEveryPairAndReloads) {
  Hash h(16);
  putS(h, "callee@example.org", "10.0.0.7");
  putS(h, "empty", "");
  putS(h, "x", "y z");
  std::string path = tempPath("save");
  ASSERT_EQ(h.saveKV(path.c_str()), 0);
  std::string text = readFile(path);
  EXPECT_NE(text.find("callee@example.org=10.0.0.7\n"), std::string::npos);
  EXPECT_NE(text.find("empty=\n"), std::string::npos);
  EXPECT_NE(text.find("x=y z\n"), std::string::npos);
  Hash back(64);
  ASSERT_EQ(back.loadKV(path.c_str()), 0);
  EXPECT_EQ(back.getEntryCount(), 3u);
  EXPECT_STREQ(back.get("x", 2), "y z");
  EXPECT_STREQ(back.get("empty", 6), "");

  // An entry stored by pointer has no text to write.
  int obj = 0;
  h.pput("object", 7, &obj);
  EXPECT_EQ(h.saveKV(path.c_str()), -1);
  EXPECT_STREQ(h.getErrorString(), "null value");
  EXPECT_EQ(h.saveKV("/nonexistent/dir/file.txt"), -1);
  EXPECT_STREQ(h.getErrorString(), "open error");
  std::remove(path.c_str());
}

TEST_F(HashTest, SubclassHashCodeAndCompareAreUsed) {
  // Case-insensitive table: every lookup must go through the overrides.
  class NoCase : public Hash {
   public:
    NoCase() : Hash(64) {}
    unsigned hashCode(const char* key, unsigned length, unsigned n) override {
      unsigned s = 0;
      for (unsigned i = 0; i < length; ++i) s += static_cast<unsigned char>(std::tolower(key[i]));
      return s % n;
    }
    int compare(const char* a, const char* b, unsigned length) override {
      return strncasecmp(a, b, length) == 0 ? 0 : 1;
    }
  } h;
  putS(h, "Content-Length", "12");
  EXPECT_STREQ(h.get("content-length", 15), "12");
  EXPECT_EQ(putS(h, "CONTENT-LENGTH", "13"), 10);
  EXPECT_EQ(h.del("content-LENGTH", 15), 0);
}

TEST(SharedHash, TryGetGivesUpWhileAnotherThreadHoldsTheTable) {
  SharedHash h(32);
  putS(h, "session", "open");
  std::promise<void> held, release;
  std::future<void> releaseF = release.get_future();
  std::thread holder([&] {
    h.getMutex()->lock();
    held.set_value();
    releaseF.wait();
    h.getMutex()->unlock();
  });
  held.get_future().wait();
  EXPECT_EQ(h.get("session", 8, true), nullptr);
  release.set_value();
  holder.join();
  EXPECT_STREQ(h.get("session", 8, true), "open");
  EXPECT_STREQ(h.get("session", 8, false), "open");
}

TEST(SharedHash, ConcurrentWritersLoseNothing) {
  SharedHash h(128);
  const int perThread = 300;
  auto writer = [&](int id) {
    for (int i = 0; i < perThread; ++i) {
      std::string k = std::to_string(id) + ":" + std::to_string(i);
      h.put(k.c_str(), L(k.c_str()), "v", 2);
      if (i % 3 == 0) h.del(k.c_str(), L(k.c_str()));
    }
  };
  std::thread a(writer, 1), b(writer, 2);
  a.join();
  b.join();
  EXPECT_EQ(h.getEntryCount(), 2u * (perThread - perThread / 3));
  EXPECT_EQ(h.keys()->getCount(), h.getEntryCount());
}
