// ConfigTable: typed values and type refusals, descriptions, groups, callback
// lists and their arguments, destruction, and use from several threads.
#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "mosal/ConfigTable.h"
#include "mosal/Trace.h"

using namespace MorvaneLib;

namespace {

// What a callback saw when it ran, copied out of its context fields.
struct Seen {
  ConfigTable* table;
  std::string key;
  unsigned char type;
  unsigned short objectSize;
  bool hasInt, hasDouble, hasString, hasObject;
  int intValue;
  double doubleValue;
  std::string stringValue;
  unsigned stringLength;
  void* objectValue;
  void* data;
  void* performData;
};

class Recorder : public ConfigCallBack {
 public:
  Recorder(const char* name, std::vector<Seen>* log, int* alive = nullptr)
      : ConfigCallBack(name), log(log), alive(alive) {
    if (alive) ++*alive;
  }
  ~Recorder() override {
    if (alive) --*alive;
  }
  int perform(void* d) override {
    Seen s;
    s.table = table;
    s.key = key ? key : "";
    s.type = type;
    s.objectSize = objectSize;
    s.hasInt = intValue != nullptr;
    s.hasDouble = doubleValue != nullptr;
    s.hasString = stringValue != nullptr;
    s.hasObject = objectValue != nullptr;
    s.intValue = intValue ? *intValue : 0;
    s.doubleValue = doubleValue ? *doubleValue : 0;
    s.stringValue = stringValue ? stringValue : "";
    s.stringLength = stringLength;
    s.objectValue = objectValue;
    s.data = data;
    s.performData = d;
    log->push_back(s);
    return 0;
  }
  std::vector<Seen>* log;
  int* alive;
};

// The lines of `out` that begin with one of `prefixes` (other classes, such
// as the buffers a description owns, trace their own lines in between).
std::string pick(const std::string& out, std::initializer_list<const char*> prefixes) {
  std::string kept;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    end = end == std::string::npos ? out.size() : end + 1;
    std::string line = out.substr(start, end - start);
    for (const char* p : prefixes)
      if (line.compare(0, std::strlen(p), p) == 0) {
        kept += line;
        break;
      }
    start = end;
  }
  return kept;
}

class ConfigTableTest : public testing::Test {
 protected:
  void SetUp() override { Trace::setEnabled(true); }
  void TearDown() override { Trace::setEnabled(true); }
};

}  // namespace

TEST_F(ConfigTableTest, EachTypeRoundTripsAndAKeyKeepsItsFirstType) {
  Trace::setEnabled(false);
  ConfigTable t(16);
  int obj = 0;
  ASSERT_EQ(t.setInt("i", 10), 0);
  ASSERT_EQ(t.setDouble("d", 0.5), 0);
  ASSERT_EQ(t.setString("s", "abc", 4), 0);
  ASSERT_EQ(t.setObject("o", &obj, 12), 0);

  int i = 0;
  double d = 0;
  char* s = nullptr;
  void* o = nullptr;
  unsigned short size = 0;
  EXPECT_EQ(t.getInt("i", &i), 0);
  EXPECT_EQ(i, 10);
  EXPECT_EQ(t.getDouble("d", &d), 0);
  EXPECT_EQ(d, 0.5);
  EXPECT_EQ(t.getString("s", &s), 0);
  EXPECT_STREQ(s, "abc");
  EXPECT_EQ(t.getObject("o", &o, &size), 0);
  EXPECT_EQ(o, &obj);
  EXPECT_EQ(size, 12);

  const char* keys[] = {"i", "d", "s", "o"};
  for (unsigned k = 0; k < 4; ++k) {
    unsigned char type = 0;
    EXPECT_EQ(t.getParamType(keys[k], &type), 0);
    EXPECT_EQ(type, k + 1);
  }

  // Every getter refuses a key of another type and leaves its output alone.
  i = 77;
  EXPECT_EQ(t.getInt("d", &i), -1);
  EXPECT_EQ(t.getInt("s", &i), -1);
  EXPECT_EQ(t.getInt("o", &i), -1);
  EXPECT_EQ(i, 77);
  EXPECT_EQ(t.getDouble("i", &d), -1);
  EXPECT_EQ(t.getDouble("s", &d), -1);
  s = nullptr;
  EXPECT_EQ(t.getString("i", &s), -1);
  EXPECT_EQ(t.getString("o", &s), -1);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(t.getObject("s", &o, &size), -1);

  // Every setter refuses a key of another type; the value stays as it was.
  EXPECT_EQ(t.setDouble("i", 2.0), -1);
  EXPECT_EQ(t.setString("i", "x", 2), -1);
  EXPECT_EQ(t.setObject("i", &obj, 4), -1);
  EXPECT_EQ(t.setInt("s", 5), -1);
  EXPECT_EQ(t.setInt("d", 5), -1);
  EXPECT_EQ(t.setString("o", "x", 2), -1);
  EXPECT_EQ(t.getInt("i", &i), 0);
  EXPECT_EQ(i, 10);
  EXPECT_EQ(t.getString("s", &s), 0);
  EXPECT_STREQ(s, "abc");
  unsigned char type = 0;
  EXPECT_EQ(t.getParamType("i", &type), 0);
  EXPECT_EQ(type, TYPE_INT);

  // Absent keys.
  EXPECT_EQ(t.getInt("none", &i), -1);
  EXPECT_EQ(t.getParamType("none", &type), -1);
  EXPECT_EQ(t.getObject("none", &o, &size), -1);
}

TEST_F(ConfigTableTest, StringsAreTheTablesOwnTerminatedCopy) {
  Trace::setEnabled(false);
  ConfigTable t(16);
  char given[] = "abc";
  ASSERT_EQ(t.setString("s", given, 4), 0);
  char* first = nullptr;
  ASSERT_EQ(t.getString("s", &first), 0);
  EXPECT_NE(first, given);
  given[0] = 'z';
  EXPECT_STREQ(first, "abc");

  // A shorter string is written over the same copy.
  ASSERT_EQ(t.setString("s", "x", 2), 0);
  char* second = nullptr;
  ASSERT_EQ(t.getString("s", &second), 0);
  EXPECT_EQ(second, first);
  EXPECT_STREQ(second, "x");

  // Bytes given without their NUL still come back terminated.
  ASSERT_EQ(t.setString("raw", "hello world", 5), 0);
  char* raw = nullptr;
  ASSERT_EQ(t.getString("raw", &raw), 0);
  EXPECT_STREQ(raw, "hello");
  char small[4];
  EXPECT_EQ(t.copyString("raw", small, sizeof small), 0);
  EXPECT_STREQ(small, "hel");
  EXPECT_EQ(t.copyString("none", small, sizeof small), -1);
  ASSERT_EQ(t.setString("empty", "", 0), 0);
  ASSERT_EQ(t.getString("empty", &raw), 0);
  EXPECT_STREQ(raw, "");
  EXPECT_EQ(t.setString("s", nullptr, 3), -1);
}

TEST_F(ConfigTableTest, ObjectsKeepTheirFirstSizeAndANullObjectHasNoValue) {
  Trace::setEnabled(false);
  ConfigTable t(16);
  int a = 1, b = 2;
  ASSERT_EQ(t.setObject("o", &a, 16), 0);
  ASSERT_EQ(t.setObject("o", &b, 32), 0);
  void* o = nullptr;
  unsigned short size = 0;
  ASSERT_EQ(t.getObject("o", &o, &size), 0);
  EXPECT_EQ(o, &b);
  EXPECT_EQ(size, 16);
  // A session is ended by storing null: the key stays, the value is gone.
  ASSERT_EQ(t.setObject("o", nullptr, 0), 0);
  EXPECT_EQ(t.getObject("o", &o, &size), -1);
  unsigned char type = 0;
  EXPECT_EQ(t.getParamType("o", &type), 0);
  EXPECT_EQ(type, TYPE_OBJECT);
}

TEST_F(ConfigTableTest, DescriptionsFollowTheKeysType) {
  ConfigTable t(16);
  testing::internal::CaptureStdout();
  EXPECT_EQ(t.createPropertyDescription("Port", 255), nullptr);
  EXPECT_EQ(t.getPropertyDescription("Port"), nullptr);
  std::string none = pick(testing::internal::GetCapturedStdout(), {"createProperty", "getProperty"});
  EXPECT_EQ(none, "");

  ASSERT_EQ(t.setInt("Port", 5060), 0);
  ASSERT_EQ(t.setDouble("Rate", 1.5), 0);
  ASSERT_EQ(t.setString("Name", "x", 2), 0);
  testing::internal::CaptureStdout();
  Property* port = t.createPropertyDescription("Port", 255);
  Property* rate = t.createPropertyDescription("Rate", 255);
  Property* name = t.createPropertyDescription("Name", 255);
  EXPECT_EQ(t.getPropertyDescription("Port"), port);
  std::string out = pick(testing::internal::GetCapturedStdout(), {"createProperty", "getProperty"});
  EXPECT_EQ(out,
            "createProperty(): \ncreateProperty(): \ncreateProperty(): \n"
            "getProperty(): found for key \"Port\"\n");

  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->type, TYPE_INT);
  EXPECT_EQ(port->choices->getElementSize(), 4u);
  EXPECT_EQ(port->min, 0);
  EXPECT_EQ(port->max, 0);
  EXPECT_EQ(port->visible, 1);
  EXPECT_EQ(port->readOnly, 0);
  EXPECT_STREQ(port->description->getData(), "");
  EXPECT_STREQ(port->label->getData(), "");
  ASSERT_NE(rate, nullptr);
  EXPECT_EQ(rate->type, TYPE_DOUBLE);
  EXPECT_EQ(rate->choices->getElementSize(), 8u);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->type, TYPE_STRING);
  EXPECT_EQ(name->choices->getElementSize(), 255u);

  // Allowed values of the property's own type only; long texts stay terminated.
  EXPECT_EQ(port->addChoice(5060), 0);
  EXPECT_EQ(port->addChoice(1.5), -1);
  EXPECT_EQ(port->addChoice("5060"), -1);
  EXPECT_EQ(rate->addChoice(1.5), 0);
  std::string longChoice(300, 'c');
  EXPECT_EQ(name->addChoice("TCP"), 0);
  EXPECT_EQ(name->addChoice(longChoice.c_str()), 0);
  ASSERT_EQ(name->choices->size(), 2u);
  EXPECT_STREQ(name->choices->elementAt(0), "TCP");
  EXPECT_EQ(std::string(name->choices->elementAt(1)), std::string(254, 'c'));
  int first;
  std::memcpy(&first, port->choices->elementAt(0), sizeof first);
  EXPECT_EQ(first, 5060);

  // Described keys still refuse another type; undescribed keys answer null.
  Trace::setEnabled(false);
  EXPECT_EQ(t.setString("Port", "1", 2), -1);
  ASSERT_EQ(t.setInt("Plain", 1), 0);
  EXPECT_EQ(t.getPropertyDescription("Plain"), nullptr);
  // Describing again gives a fresh description.
  port->max = 65535;
  Property* again = t.createPropertyDescription("Port", 255);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->max, 0);
  EXPECT_EQ(t.getPropertyDescription("Port"), again);
}

TEST_F(ConfigTableTest, PropertyRefusesAnUnknownType) {
  try {
    Property p(5, 10, nullptr);
    FAIL() << "no exception";
  } catch (const LibError& e) {
    EXPECT_STREQ(e.getLocation(), "Property()");
    EXPECT_STREQ(e.getReason(), "Invalid type id (5)");
  }
  EXPECT_THROW(Property(0, 10, nullptr), LibError);
  Property help(TYPE_STRING, 32, "Your e-mail address");
  EXPECT_STREQ(help.description->getData(), "Your e-mail address");
}

TEST_F(ConfigTableTest, CallbackListsGrowByAQuarter) {
  PVector v;
  std::vector<unsigned> capacities{v.capacity()};
  int items[40];
  for (int& item : items) {
    ASSERT_EQ(v.add(&item), 0);
    if (v.capacity() != capacities.back()) capacities.push_back(v.capacity());
  }
  EXPECT_EQ(capacities, (std::vector<unsigned>{4, 5, 6, 7, 8, 10, 12, 15, 18, 22, 27, 33, 41}));
  EXPECT_EQ(v.size(), 40u);
  for (unsigned i = 0; i < 40; ++i) ASSERT_EQ(v.get(i), &items[i]);
  EXPECT_EQ(v.get(40), nullptr);
  ASSERT_EQ(v.add(&items[3]), 0);
  EXPECT_EQ(v.remove(&items[3]), 2u);
  EXPECT_EQ(v.size(), 39u);
  EXPECT_EQ(v.get(3), &items[4]);
}

TEST_F(ConfigTableTest, WriteCallbacksSeeTheNewValueInListOrder) {
  ConfigTable t(16);
  std::vector<Seen> log;
  Trace::setEnabled(false);
  ASSERT_EQ(t.setInt("i", 1), 0);
  ASSERT_EQ(t.setDouble("d", 1), 0);
  ASSERT_EQ(t.setString("s", "a", 2), 0);
  int obj = 0;
  ASSERT_EQ(t.setObject("o", &obj, 24), 0);
  int dataA = 0, dataB = 0;
  ASSERT_EQ(t.attachWrite("i", new Recorder("first", &log), &dataA), 0);
  ASSERT_EQ(t.attachWrite("i", new Recorder("second", &log), &dataA), 0);
  ASSERT_EQ(t.attachWrite("d", new Recorder("d", &log), &dataA), 0);
  ASSERT_EQ(t.attachWrite("s", new Recorder("s", &log), &dataA), 0);
  ASSERT_EQ(t.attachWrite("o", new Recorder("o", &log), &dataA), 0);
  // The last attach of a key sets the data that both of its lists pass on.
  ASSERT_EQ(t.attachRead("i", new Recorder("reader", &log), &dataB), 0);

  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  ASSERT_EQ(t.setInt("i", 42), 0);
  std::string out = pick(testing::internal::GetCapturedStdout(), {"setInt"});
  EXPECT_EQ(out, "setInt(): invoking callback first\nsetInt(): invoking callback second\n");
  ASSERT_EQ(log.size(), 2u);
  for (const Seen& s : log) {
    EXPECT_EQ(s.table, &t);
    EXPECT_EQ(s.key, "i");
    EXPECT_EQ(s.type, TYPE_INT);
    EXPECT_TRUE(s.hasInt);
    EXPECT_FALSE(s.hasDouble || s.hasString || s.hasObject);
    EXPECT_EQ(s.intValue, 42);
    EXPECT_EQ(s.objectSize, 0);
    EXPECT_EQ(s.data, &dataB);
    EXPECT_EQ(s.performData, &dataB);
  }

  Trace::setEnabled(false);
  log.clear();
  ASSERT_EQ(t.setDouble("d", 2.25), 0);
  ASSERT_EQ(t.setString("s", "hello", 6), 0);
  int other = 0;
  ASSERT_EQ(t.setObject("o", &other, 99), 0);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_TRUE(log[0].hasDouble);
  EXPECT_EQ(log[0].doubleValue, 2.25);
  EXPECT_FALSE(log[0].hasInt || log[0].hasString || log[0].hasObject);
  EXPECT_EQ(log[1].stringValue, "hello");
  EXPECT_EQ(log[1].stringLength, 6u);
  EXPECT_EQ(log[1].type, TYPE_STRING);
  EXPECT_EQ(log[2].objectValue, &other);
  EXPECT_EQ(log[2].objectSize, 24);  // the entry's size, not the latest call's
  EXPECT_EQ(log[2].data, &dataA);

  // A refused set runs no callback.
  log.clear();
  EXPECT_EQ(t.setString("i", "x", 2), -1);
  EXPECT_TRUE(log.empty());
}

TEST_F(ConfigTableTest, ReadCallbacksSeeTheStoredValueAndDisabledOnesAreSkipped) {
  ConfigTable t(16);
  std::vector<Seen> log;
  Trace::setEnabled(false);
  ASSERT_EQ(t.setInt("i", 7), 0);
  ASSERT_EQ(t.setString("s", "text", 5), 0);
  Recorder* off = new Recorder("off", &log);
  off->enabled = 0;
  ASSERT_EQ(t.attachRead("i", off, nullptr), 0);
  ASSERT_EQ(t.attachRead("i", new Recorder("on", &log), nullptr), 0);
  ASSERT_EQ(t.attachRead("s", new Recorder("s", &log), nullptr), 0);

  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  int v = 0;
  ASSERT_EQ(t.getInt("i", &v), 0);
  std::string out = pick(testing::internal::GetCapturedStdout(), {"getInt"});
  EXPECT_EQ(v, 7);
  // Both are announced and filled; only the enabled one runs.
  EXPECT_EQ(out, "getInt(): invoking callback off\ngetInt(): invoking callback on\n");
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].intValue, 7);
  EXPECT_EQ(off->key, std::string("i"));
  EXPECT_EQ(off->table, &t);
  ASSERT_NE(off->intValue, nullptr);
  EXPECT_EQ(*off->intValue, 7);

  Trace::setEnabled(false);
  log.clear();
  char* s = nullptr;
  ASSERT_EQ(t.getString("s", &s), 0);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].stringValue, "text");
  EXPECT_EQ(log[0].stringLength, 5u);
  // A read of the wrong type runs no callback.
  log.clear();
  double d;
  EXPECT_EQ(t.getDouble("i", &d), -1);
  EXPECT_TRUE(log.empty());
}

TEST_F(ConfigTableTest, AttachTracesAndRefusesAbsentKeys) {
  ConfigTable t(16);
  std::vector<Seen> log;
  int alive = 0;
  Recorder* stray = new Recorder("stray", &log, &alive);
  EXPECT_EQ(t.attachRead("none", stray, nullptr), -1);
  EXPECT_EQ(t.attachWrite("none", stray, nullptr), -1);
  EXPECT_EQ(t.clearRead("none", true), -1);
  EXPECT_EQ(t.clearWrite("none", false), -1);
  delete stray;  // refused callbacks stay the caller's
  EXPECT_EQ(alive, 0);

  Trace::setEnabled(false);
  ASSERT_EQ(t.setInt("k", 1), 0);
  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  EXPECT_EQ(t.attachRead("k", new Recorder("r1", &log, &alive), nullptr), 0);
  EXPECT_EQ(t.attachWrite("k", new Recorder("w1", &log, &alive), nullptr), 0);
  std::string out = pick(testing::internal::GetCapturedStdout(), {"attach"});
  EXPECT_EQ(out, "attachRead(): adding callback r1\nattachWrite(): adding callback w1\n");
  EXPECT_EQ(alive, 2);
}

TEST_F(ConfigTableTest, ClearingDeletesEachCallbackOnceAndLeavesNoDanglingCopy) {
  ConfigTable t(16);
  std::vector<Seen> log;
  int alive = 0;
  Trace::setEnabled(false);
  ASSERT_EQ(t.setInt("a", 1), 0);
  ASSERT_EQ(t.setInt("b", 1), 0);
  Recorder* shared = new Recorder("shared", &log, &alive);
  Recorder* own = new Recorder("own", &log, &alive);
  ASSERT_EQ(t.attachRead("a", shared, nullptr), 0);
  ASSERT_EQ(t.attachRead("a", shared, nullptr), 0);
  ASSERT_EQ(t.attachRead("a", own, nullptr), 0);
  ASSERT_EQ(t.attachWrite("a", shared, nullptr), 0);
  ASSERT_EQ(t.attachWrite("b", shared, nullptr), 0);

  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  ASSERT_EQ(t.clearRead("a", true), 0);
  std::string out = pick(testing::internal::GetCapturedStdout(), {"ConfigTable::"});
  EXPECT_EQ(out,
            "ConfigTable::clearRead(): callback shared\nConfigTable::clearRead(): callback own\n");
  EXPECT_EQ(alive, 0);
  // The deleted callback is off the other lists as well: nothing runs.
  Trace::setEnabled(false);
  int v;
  ASSERT_EQ(t.setInt("a", 2), 0);
  ASSERT_EQ(t.setInt("b", 2), 0);
  ASSERT_EQ(t.getInt("a", &v), 0);
  EXPECT_TRUE(log.empty());

  // Clearing without destroy hands the callbacks back to the caller.
  Recorder* kept = new Recorder("kept", &log, &alive);
  ASSERT_EQ(t.attachWrite("b", kept, nullptr), 0);
  ASSERT_EQ(t.clearWrite("b", false), 0);
  ASSERT_EQ(t.setInt("b", 3), 0);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(alive, 1);
  delete kept;
}

TEST_F(ConfigTableTest, DestroyingDescriptionsEmptiesTheTableAndTracesEachStep) {
  std::vector<Seen> log;
  int alive = 0;
  auto* t = new ConfigTable(16);
  Trace::setEnabled(false);
  ASSERT_EQ(t->setInt("Port", 5060), 0);
  ASSERT_EQ(t->setString("Transport", "TCP", 4), 0);
  Property* p = t->createPropertyDescription("Port", 255);
  ASSERT_NE(p, nullptr);
  p->description->xcopy("SIP port", 9);
  Recorder* shared = new Recorder("shared", &log, &alive);
  ASSERT_EQ(t->attachRead("Port", shared, nullptr), 0);
  ASSERT_EQ(t->attachWrite("Port", shared, nullptr), 0);
  ASSERT_EQ(t->attachWrite("Transport", shared, nullptr), 0);
  ASSERT_NE(t->createPropertyGroup("network"), nullptr);

  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  t->destroyPropertyDescriptions();
  std::string out = pick(testing::internal::GetCapturedStdout(), {"ConfigTable::"});
  EXPECT_EQ(out,
            "ConfigTable::destroyPropertyDescriptions(): removing properties...\n"
            "ConfigTable::destroyPropertyDescriptions(): deleting \"SIP port\"\n"
            "ConfigTable::destroyPropertyDescriptions(): removing callbacks...\n"
            "ConfigTable::destroyPropertyDescriptions(): group = network\n"
            "ConfigTable::destroyPropertyDescriptions(): ok\n");
  EXPECT_EQ(alive, 0);
  unsigned char type;
  EXPECT_EQ(t->getParamType("Port", &type), -1);
  EXPECT_EQ(t->getPropertyGroup("network"), nullptr);

  // The emptied table takes new keys of any type, also under the old names.
  Trace::setEnabled(false);
  ASSERT_EQ(t->setString("Port", "5060", 5), 0);
  char* s;
  ASSERT_EQ(t->getString("Port", &s), 0);
  EXPECT_STREQ(s, "5060");
  ASSERT_EQ(t->attachWrite("Port", new Recorder("late", &log, &alive), nullptr), 0);
  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  delete t;
  out = pick(testing::internal::GetCapturedStdout(), {"~ConfigTable"});
  EXPECT_EQ(alive, 0);
  EXPECT_EQ(out,
            "~ConfigTable(): removing vectors...\n~ConfigTable(): deleting tables...\n"
            "~ConfigTable(): done.\n");
}

TEST_F(ConfigTableTest, GroupsHaveUniqueNamesAndHoldNamesThatFit) {
  Trace::setEnabled(false);
  ConfigTable t(16);
  Vector* g = t.createPropertyGroup("audio");
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->getElementSize(), 64u);
  EXPECT_EQ(t.createPropertyGroup("audio"), nullptr);
  EXPECT_EQ(t.getPropertyGroup("audio"), g);
  EXPECT_EQ(t.getPropertyGroup("video"), nullptr);

  std::string fits(63, 'k'), tooLong(64, 'k');
  EXPECT_EQ(t.addToPropertyGroup("audio", "Volume"), 0);
  EXPECT_EQ(t.addToPropertyGroup("audio", fits.c_str()), 0);
  EXPECT_EQ(t.addToPropertyGroup("audio", tooLong.c_str()), -1);
  EXPECT_EQ(t.addToPropertyGroup("video", "Volume"), -1);
  ASSERT_EQ(g->size(), 2u);
  EXPECT_STREQ(g->elementAt(0), "Volume");
  EXPECT_EQ(std::string(g->elementAt(1)), fits);
}

TEST_F(ConfigTableTest, CallbacksMayUseTheTableTheyWatch) {
  Trace::setEnabled(false);
  ConfigTable t(16);
  ASSERT_EQ(t.setInt("in", 0), 0);
  ASSERT_EQ(t.setInt("out", 0), 0);
  struct Doubler : ConfigCallBack {
    Doubler() : ConfigCallBack("doubler") {}
    int perform(void*) override {
      int v;
      table->getInt(key, &v);
      return table->setInt("out", 2 * *intValue);
    }
  };
  ASSERT_EQ(t.attachWrite("in", new Doubler, nullptr), 0);
  ASSERT_EQ(t.setInt("in", 21), 0);
  int v = 0;
  ASSERT_EQ(t.getInt("out", &v), 0);
  EXPECT_EQ(v, 42);
}

TEST_F(ConfigTableTest, ConcurrentWritersAndReadersSeeWholeValues) {
  Trace::setEnabled(false);
  ConfigTable t(64);
  ASSERT_EQ(t.setDouble("d", 1.0), 0);
  ASSERT_EQ(t.setString("s", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", 31), 0);
  const double values[2] = {1.0, -2.5e300};
  std::atomic<bool> bad{false};
  std::atomic<int> created{0};
  const int kRounds = 20000;

  // Strings of two lengths: a longer one moves the stored copy.
  const std::string texts[2] = {"short", std::string(300, 'L')};
  std::thread writer([&] {
    for (int i = 0; i < kRounds; ++i) {
      t.setDouble("d", values[i & 1]);
      t.setString("s", texts[i & 1].c_str(), static_cast<unsigned>(texts[i & 1].size()) + 1);
    }
  });
  std::thread reader([&] {
    char buf[400];
    for (int i = 0; i < kRounds; ++i) {
      double d = 0;
      if (t.getDouble("d", &d) != 0 || (d != values[0] && d != values[1])) bad = true;
      if (t.copyString("s", buf, sizeof buf) != 0) bad = true;
      std::string got(buf);
      if (got != texts[0] && got != texts[1] && got != "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa") bad = true;
    }
  });
  // Two threads creating the same new keys at once: each key is made once,
  // with one type, and both callers succeed.
  auto creator = [&](int seed) {
    for (int i = 0; i < 200; ++i) {
      std::string key = "k" + std::to_string(i);
      if (t.setInt(key.c_str(), seed) == 0) ++created;
    }
  };
  std::thread c1(creator, 1), c2(creator, 2);
  writer.join();
  reader.join();
  c1.join();
  c2.join();
  EXPECT_FALSE(bad.load());
  EXPECT_EQ(created.load(), 400);
  for (int i = 0; i < 200; ++i) {
    std::string key = "k" + std::to_string(i);
    int v = 0;
    ASSERT_EQ(t.getInt(key.c_str(), &v), 0);
    EXPECT_TRUE(v == 1 || v == 2);
  }
}

// Removing a key: value, description and callbacks go, a callback shared with
// another key is deleted once and no longer runs there, the key can come back
// with another type, and keys that come and go reuse their table entries.
TEST(ConfigTableRemove, KeyGoesWithItsCallbacksAndEntriesAreReused) {
  ConfigTable t(8);
  std::vector<Seen> log;
  int alive = 0;
  ASSERT_EQ(t.setInt("port", 5060), 0);
  ASSERT_EQ(t.setString("host", "h", 2), 0);
  ASSERT_NE(t.createPropertyDescription("port", 16), nullptr);
  Recorder* shared = new Recorder("shared", &log, &alive);
  ASSERT_EQ(t.attachWrite("port", shared, nullptr), 0);
  ASSERT_EQ(t.attachWrite("host", shared, nullptr), 0);
  ASSERT_EQ(alive, 1);

  EXPECT_EQ(t.removeKey("port"), 0);
  EXPECT_EQ(alive, 0);
  int v = 0;
  EXPECT_EQ(t.getInt("port", &v), -1);
  unsigned char type = 0;
  EXPECT_EQ(t.getParamType("port", &type), -1);
  EXPECT_EQ(t.getPropertyDescription("port"), nullptr);
  EXPECT_EQ(t.removeKey("port"), -1);
  EXPECT_EQ(t.removeKey(nullptr), -1);
  // The other key stays, and its list no longer holds the deleted callback.
  EXPECT_EQ(t.setString("host", "g", 2), 0);
  EXPECT_TRUE(log.empty());
  char* s = nullptr;
  ASSERT_EQ(t.getString("host", &s), 0);
  EXPECT_STREQ(s, "g");
  // Back with another type.
  EXPECT_EQ(t.setString("port", "x", 2), 0);
  ASSERT_EQ(t.getString("port", &s), 0);
  EXPECT_STREQ(s, "x");

  ASSERT_EQ(t.removeKey("port"), 0);
  unsigned entries = t.getParamTable()->getEntryCount();
  unsigned bytes = t.getParamTable()->getByteCount() + t.getValueTable()->getByteCount();
  int dummy = 0;
  for (int i = 0; i < 1000; ++i) {
    std::string key = "call-" + std::to_string(i);
    ASSERT_EQ(t.setObject(key.c_str(), &dummy, 0), 0);
    ASSERT_EQ(t.removeKey(key.c_str()), 0);
  }
  EXPECT_EQ(t.getParamTable()->getEntryCount(), entries);
  EXPECT_LE(t.getParamTable()->getByteCount() + t.getValueTable()->getByteCount(),
            bytes + 8 * 2 * Hash::CHAINED_ENTRY_BYTES);
}
