// Vector: growth, string pieces, sorting and its trace lines, removal,
// search and the element listing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mosal/Trace.h"
#include "mosal/Vector.h"

using namespace MorvaneLib;

namespace {

class IntOrder : public Comparator {
 public:
  int compare(const char* a, const char* b) override {
    int x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return x < y ? -1 : (x > y ? 1 : 0);
  }
};

class TextOrder : public Comparator {
 public:
  int compare(const char* a, const char* b) override { return std::strcmp(a, b); }
};

// Not an ordering at all: everything is "less".
class Broken : public Comparator {
 public:
  int compare(const char*, const char*) override { return -1; }
};

int at(const Vector& v, unsigned i) {
  int x;
  std::memcpy(&x, v.elementAt(i), sizeof x);
  return x;
}

int add(Vector& v, int x) { return v.addElement(reinterpret_cast<char*>(&x), sizeof x); }

std::vector<std::string> strings(const Vector& v) {
  std::vector<std::string> out;
  for (unsigned i = 0; i < v.size(); ++i) out.emplace_back(v.elementAt(i));
  return out;
}

class VectorTest : public ::testing::Test {
 protected:
  void SetUp() override { Trace::setEnabled(true); }
};

}  // namespace

TEST_F(VectorTest, GrowsByTheIncrementAndZeroesNewSlots) {
  Vector v(4, 5, 3);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(add(v, i * 10), i);
  EXPECT_EQ(v.getCapacity(), 5u);
  EXPECT_EQ(add(v, 50), 5);
  EXPECT_EQ(v.getCapacity(), 8u);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(at(v, i), i * 10);
  EXPECT_EQ(v.elementAt(6), nullptr);
  // A short copy leaves the rest of a fresh slot zero.
  EXPECT_EQ(v.addElement("\x01", 1), 6);
  EXPECT_EQ(at(v, 6), 1);

  Vector fixed(4, 1, 0);
  EXPECT_EQ(add(fixed, 1), 0);
  EXPECT_EQ(add(fixed, 2), -1);  // cannot grow
  EXPECT_EQ(fixed.size(), 1u);
}

TEST_F(VectorTest, SetElementWorksUpToTheCapacity) {
  Vector v(4, 5, 3);
  EXPECT_EQ(v.setElement(4, "abcd", 4), 0);
  EXPECT_EQ(v.size(), 0u);
  EXPECT_EQ(v.setElement(5, "abcd", 4), -1);
  add(v, 7);
  EXPECT_EQ(v.setElement(0, "\x09\x00\x00\x00", 4), 0);
  EXPECT_EQ(at(v, 0), 9);
}

TEST_F(VectorTest, AddElementsMakesTerminatedStrings) {
  Vector v(6, 5, 3);
  EXPECT_EQ(v.addElements(" red, green ,,\"x,y\" ,toolongpiece", ",", true), 0);
  EXPECT_EQ(strings(v), (std::vector<std::string>{"red", "green", "x,y", "toolo"}));
  Vector raw(8, 5, 3);
  EXPECT_EQ(raw.addElements("a,,b ", ",", false), 0);
  EXPECT_EQ(strings(raw), (std::vector<std::string>{"a", "", "b "}));

  Vector small(4, 1, 0);
  EXPECT_EQ(small.addElements("a b c", " ", true), -1);
  EXPECT_EQ(small.size(), 1u);
}

TEST_F(VectorTest, SortOrdersAndTraces) {
  Vector v(sizeof(int), 5, 3);
  IntOrder order;
  testing::internal::CaptureStdout();
  EXPECT_EQ(v.sort(&order), -1);
  EXPECT_EQ(v.sort(nullptr), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Vector::sort(): sorting vector...\n"
            "Vector::sort() -1 vector is empty\n"
            "Vector::sort(): sorting vector...\n"
            "Vector::sort() -1 sort filter is null\n");
  EXPECT_FALSE(v.isSorted());

  add(v, 2);
  add(v, 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(v.sort(&order), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Vector::sort(): sorting vector...\n"
            "Vector::sort(): swapping...\n");
  EXPECT_EQ(at(v, 0), 1);
  EXPECT_TRUE(v.isSorted());

  // Once sorted, insertions keep the order.
  Trace::setEnabled(false);
  add(v, 0);
  add(v, 5);
  add(v, 3);
  std::vector<int> got;
  for (unsigned i = 0; i < v.size(); ++i) got.push_back(at(v, i));
  EXPECT_EQ(got, (std::vector<int>{0, 1, 2, 3, 5}));
}

TEST_F(VectorTest, SortMatchesTheStandardSortOnManyInputs) {
  Trace::setEnabled(false);
  std::mt19937 rng(7);
  IntOrder order;
  for (int round = 0; round < 40; ++round) {
    unsigned n = 1 + rng() % 300;
    Vector v(sizeof(int), 5, 3);
    std::vector<int> ref;
    for (unsigned i = 0; i < n; ++i) {
      int x = static_cast<int>(rng() % (round % 2 ? 5 : 1000));  // many duplicates on odd rounds
      ref.push_back(x);
      add(v, x);
    }
    ASSERT_EQ(v.sort(&order), 0);
    std::sort(ref.begin(), ref.end());
    for (unsigned i = 0; i < n; ++i) ASSERT_EQ(at(v, i), ref[i]) << "round " << round;
  }
  // A comparator that is no ordering must not run off the elements.
  Vector w(sizeof(int), 5, 3);
  for (int i = 0; i < 50; ++i) add(w, i);
  Broken broken;
  EXPECT_EQ(w.sort(&broken), 0);
  EXPECT_EQ(w.size(), 50u);
}

TEST_F(VectorTest, RemoveElementShiftsAndTraces) {
  Vector v(8, 5, 3);
  v.addElements("one two three", " ", true);
  TextOrder text;
  testing::internal::CaptureStdout();
  EXPECT_EQ(v.removeElement("two", 4, &text), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Vector::removeElement(): Use size = 4\n"
            "Vector::removeElement(): found two at pos 8\n");
  EXPECT_EQ(strings(v), (std::vector<std::string>{"one", "three"}));
  Trace::setEnabled(false);
  EXPECT_EQ(v.removeElement("zzz", 4, &text), -1);
  EXPECT_EQ(v.removeElement(nullptr, 0, nullptr), 0);  // the first one
  EXPECT_EQ(strings(v), (std::vector<std::string>{"three"}));
  EXPECT_EQ(v.removeElement(nullptr, 0, nullptr), 0);
  EXPECT_EQ(v.removeElement(nullptr, 0, nullptr), -1);
}

TEST_F(VectorTest, ScanAndSearchFindTheFirstMatch) {
  Vector v(8, 5, 3);
  unsigned pos = 99;
  Trace::setEnabled(false);
  EXPECT_EQ(v.scan("a", 2, &pos), -1);
  v.addElements("beta alpha alpine", " ", true);
  EXPECT_EQ(v.scan("alp", 3, &pos), 0);
  EXPECT_EQ(pos, 1u);
  EXPECT_EQ(v.scan("alpine", 7, &pos), 0);
  EXPECT_EQ(pos, 2u);
  EXPECT_EQ(v.scan("gamma", 6, &pos), -1);
  EXPECT_STREQ(v.search("beta", 5), "beta");
  EXPECT_EQ(v.search("gamma", 6), nullptr);

  TextOrder text;
  v.sort(&text);
  Trace::setEnabled(true);
  char key[50] = "beta";  // compared over the whole element
  testing::internal::CaptureStdout();
  EXPECT_STREQ(v.search(key, sizeof key), "beta");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Vector::search(): Binary search not implemented\n"
            "Vector::search(): Use size = 8\n"
            "Vector::scan(): Use size = 8\n");
}

TEST_F(VectorTest, ElementsListsEverySlot) {
  Trace::setEnabled(false);
  Vector v(4, 2, 2);
  for (int i = 0; i < 7; ++i) add(v, i);
  Enumeration* e = v.elements();
  EXPECT_EQ(e->getCount(), 7u);
  int i = 0;
  while (e->hasMoreElements()) {
    enum_elem_t* p = e->nextElement();
    EXPECT_EQ(p->length, 4u);
    EXPECT_EQ(p->data, v.elementAt(i));
    ++i;
  }
  EXPECT_EQ(i, 7);
  EXPECT_EQ(v.elements()->getCount(), 7u);  // a fresh listing each time
}
