// ConfigStorage: file format both ways, what loading accepts, registration,
// error texts, file permissions and safe replacement; ResourceDB loading.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mosal/ConfigStorage.h"
#include "mosal/Trace.h"
#include "mosal/tests/ScratchDirTest.h"

using namespace MorvaneLib;

namespace {

class StoredTable : public ConfigTable {
 public:
  explicit StoredTable(const char* name) : ConfigTable(32), name(name) {}
  char* getStorageFilename() override { return name.empty() ? nullptr : &name[0]; }
  std::string name;
};

// The table the videophone keeps its settings in, with its defaults set and
// every property but "Hidden" described.
void fill(ConfigTable& t) {
  int obj = 0;
  t.setInt("Port", 10);
  t.setDouble("Rate", 0.5);
  t.setString("Name", "Jane Doe", 9);
  t.setObject("_socket", &obj, 0);
  t.setInt("Hidden", 3);
  for (const char* k : {"Port", "Rate", "Name", "_socket"}) t.createPropertyDescription(k, 255);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::vector<std::string> sortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream ss(text);
  for (std::string l; std::getline(ss, l);) lines.push_back(l);
  std::sort(lines.begin(), lines.end());
  return lines;
}

unsigned modeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFFFFFF;
}

std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> names;
  std::string cmd = "ls -A " + dir;
  FILE* p = ::popen(cmd.c_str(), "r");
  char buf[512];
  while (p && std::fgets(buf, sizeof buf, p)) {
    std::string n(buf);
    if (!n.empty() && n.back() == '\n') n.pop_back();
    names.push_back(n);
  }
  if (p) ::pclose(p);
  return names;
}

class ConfigStorageTest : public ScratchDirTest {
 protected:
  ConfigStorageTest() : ScratchDirTest("configstorage") {}
};

}  // namespace

TEST_F(ConfigStorageTest, SaveWritesDescribedValuesOwnerOnlyAndLoadReadsThemBack) {
  mode_t old = ::umask(022);
  ConfigStorage storage(dir.c_str(), 16);
  ::umask(old);
  EXPECT_EQ(modeOf(dir), 0755u);
  StoredTable t("user_info");
  fill(t);

  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  ASSERT_EQ(storage.save(&t), 0);
  std::string out = testing::internal::GetCapturedStdout();
  Trace::setEnabled(false);
  EXPECT_NE(out.find("file: " + dir + "/user_info\n"), std::string::npos);
  EXPECT_NE(out.find("ConfigStorage::save(): Hidden not registered\n"), std::string::npos);
  EXPECT_STREQ(storage.getErrorString(), "property descriptor not registered");

  std::string path = dir + "/user_info";
  EXPECT_EQ(sortedLines(readFile(path)),
            (std::vector<std::string>{"Name=Jane Doe", "Port=10", "Rate=0.500000"}));
  EXPECT_EQ(modeOf(path), 0600u);
  // Nothing but the file itself is left in the directory.
  EXPECT_EQ(filesIn(dir), std::vector<std::string>{"user_info"});

  StoredTable back("user_info");
  back.setInt("Port", 0);
  back.setDouble("Rate", 0);
  back.setString("Name", "", 1);
  back.setInt("Hidden", 99);
  for (const char* k : {"Port", "Rate", "Name"}) back.createPropertyDescription(k, 255);
  ASSERT_EQ(storage.load(&back), 0);
  int port = 0, hidden = 0;
  double rate = 0;
  char* name = nullptr;
  EXPECT_EQ(back.getInt("Port", &port), 0);
  EXPECT_EQ(port, 10);
  EXPECT_EQ(back.getDouble("Rate", &rate), 0);
  EXPECT_EQ(rate, 0.5);
  EXPECT_EQ(back.getString("Name", &name), 0);
  EXPECT_STREQ(name, "Jane Doe");
  EXPECT_EQ(back.getInt("Hidden", &hidden), 0);
  EXPECT_EQ(hidden, 99);
}

TEST_F(ConfigStorageTest, SavingOverAWiderFileLeavesItOwnerOnly) {
  ConfigStorage storage(dir.c_str(), 16);
  StoredTable t("user_info");
  fill(t);
  std::string path = dir + "/user_info";
  writeFile(path, "Port=1\n");
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  ASSERT_EQ(storage.save(&t), 0);
  EXPECT_EQ(modeOf(path), 0600u);
}

TEST_F(ConfigStorageTest, LoadingAcceptsTheKeyValueFileForms) {
  ConfigStorage storage(dir.c_str(), 16);
  StoredTable t("profile");
  fill(t);
  t.setInt("Octal", 0);
  t.setString("Path", "", 1);
  t.setString("Long", "", 1);
  for (const char* k : {"Octal", "Path", "Long"}) t.createPropertyDescription(k, 255);
  writeFile(dir + "/profile",
            "# comment line\n"
            "\n"
            "   \t\n"
            "  Port = 0x10  \r\n"
            "Octal=010\n"
            "Name =  Joe \\\n"
            "Bloggs\n"
            "Path=C:\\dir\\file\n"
            "Unknown=5\n"
            "Rate= 2.5");  // last line without a line end
  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  ASSERT_EQ(storage.load(&t), 0);
  std::string out = testing::internal::GetCapturedStdout();
  Trace::setEnabled(false);
  EXPECT_NE(out.find("ConfigStorage::load(): Unknown not registered\n"), std::string::npos);
  EXPECT_STREQ(storage.getErrorString(), "property descriptor not registered");
  unsigned char type;
  EXPECT_EQ(t.getParamType("Unknown", &type), -1);

  int port = 0, octal = 0;
  double rate = 0;
  char *name = nullptr, *path = nullptr;
  t.getInt("Port", &port);
  t.getInt("Octal", &octal);
  t.getDouble("Rate", &rate);
  t.getString("Name", &name);
  t.getString("Path", &path);
  EXPECT_EQ(port, 16);
  EXPECT_EQ(octal, 8);
  EXPECT_EQ(rate, 2.5);
  EXPECT_STREQ(name, "Joe Bloggs");
  EXPECT_STREQ(path, "C:\\dir\\file");
}

TEST_F(ConfigStorageTest, NumbersOutsideTheIntRangeAreHeldAtItsEnds) {
  ConfigStorage storage(dir.c_str(), 16);
  StoredTable t("n");
  t.setInt("Big", 0);
  t.setInt("Small", 0);
  t.createPropertyDescription("Big", 0);
  t.createPropertyDescription("Small", 0);
  writeFile(dir + "/n", "Big=0x1FFFFFFFF\nSmall=-99999999999\n");
  ASSERT_EQ(storage.load(&t), 0);
  int big = 0, small = 0;
  t.getInt("Big", &big);
  t.getInt("Small", &small);
  EXPECT_EQ(big, INT_MAX);
  EXPECT_EQ(small, INT_MIN);
}

TEST_F(ConfigStorageTest, OverlongLinesAndAwkwardStringsCannotInjectProperties) {
  ConfigStorage storage(dir.c_str(), 16);
  StoredTable t("t");
  fill(t);
  // The tail of an over-long line is not read as a line of its own.
  std::string longLine = "Name=" + std::string(ConfigStorage::MAX_LINE + 10, 'x') + "Port=5\n";
  writeFile(dir + "/t", longLine + "Rate=1.5\n");
  ASSERT_EQ(storage.load(&t), 0);
  int port = 0;
  double rate = 0;
  char* name = nullptr;
  t.getInt("Port", &port);
  t.getDouble("Rate", &rate);
  t.getString("Name", &name);
  EXPECT_EQ(port, 10);
  EXPECT_EQ(rate, 1.5);
  EXPECT_STREQ(name, "Jane Doe");
  EXPECT_STREQ(storage.getErrorString(), "line too long");

  // A value holding a line end, or ending in a backslash, keeps the lines
  // after it intact.
  t.setString("Name", "evil\nPort=1", 12);
  ASSERT_EQ(storage.save(&t), 0);
  t.setInt("Port", 77);
  ASSERT_EQ(storage.load(&t), 0);
  t.getInt("Port", &port);
  t.getString("Name", &name);
  EXPECT_EQ(port, 10);
  EXPECT_STREQ(name, "evil");

  t.setString("Name", "C:\\dir\\", 8);
  ASSERT_EQ(storage.save(&t), 0);
  t.setString("Name", "", 1);
  t.setInt("Port", 77);
  ASSERT_EQ(storage.load(&t), 0);
  t.getString("Name", &name);
  t.getInt("Port", &port);
  EXPECT_STREQ(name, "C:\\dir\\");
  EXPECT_EQ(port, 10);
}

TEST_F(ConfigStorageTest, CallbacksRunWhileSavingAndLoading) {
  ConfigStorage storage(dir.c_str(), 16);
  StoredTable t("cb");
  fill(t);
  struct Counter : ConfigCallBack {
    explicit Counter(int* n) : ConfigCallBack("counter"), n(n) {}
    int perform(void*) override { return ++*n; }
    int* n;
  };
  int reads = 0, writes = 0;
  t.attachRead("Port", new Counter(&reads), nullptr);
  t.attachWrite("Port", new Counter(&writes), nullptr);
  ASSERT_EQ(storage.save(&t), 0);
  EXPECT_EQ(reads, 1);
  ASSERT_EQ(storage.load(&t), 0);
  EXPECT_EQ(writes, 1);
}

TEST_F(ConfigStorageTest, RegistrationIsByStorageNameAndAllOperationsReportFailures) {
  ConfigStorage storage(dir.c_str(), 16);
  StoredTable a("same"), b("same"), c("other"), anonymous("");
  fill(a);
  fill(c);
  EXPECT_EQ(storage.reg(&a), 0);
  EXPECT_EQ(storage.reg(&b), 10);
  EXPECT_EQ(storage.unreg(&b), -1);  // a keeps its registration
  EXPECT_EQ(storage.reg(&c), 0);

  ConfigTable plain(8);
  for (ConfigTable* t : {static_cast<ConfigTable*>(&anonymous), &plain}) {
    EXPECT_EQ(storage.reg(t), -1);
    EXPECT_EQ(storage.save(t), -1);
    EXPECT_STREQ(storage.getErrorString(), "table not ready for storage");
    EXPECT_EQ(storage.load(t), -1);
    EXPECT_EQ(storage.unreg(t), -1);
  }
  StoredTable escaping("../outside");
  EXPECT_EQ(storage.save(&escaping), -1);
  EXPECT_STREQ(storage.getErrorString(), "table not ready for storage");

  EXPECT_EQ(storage.load(&a), -1);
  EXPECT_STREQ(storage.getErrorString(), "open error");

  ASSERT_EQ(storage.saveAll(), 0);
  EXPECT_EQ(sortedLines(readFile(dir + "/same")).size(), 3u);
  EXPECT_EQ(sortedLines(readFile(dir + "/other")).size(), 3u);
  a.setInt("Port", 1);
  c.setInt("Port", 2);
  ASSERT_EQ(storage.loadAll(), 0);
  int port = 0;
  a.getInt("Port", &port);
  EXPECT_EQ(port, 10);
  c.getInt("Port", &port);
  EXPECT_EQ(port, 10);

  // One failing table makes the whole run fail, whichever comes last; the
  // other table is still saved.
  ASSERT_EQ(::unlink((dir + "/same").c_str()), 0);
  ASSERT_EQ(::mkdir((dir + "/same").c_str(), 0755), 0);
  ASSERT_EQ(::unlink((dir + "/other").c_str()), 0);
  EXPECT_EQ(storage.saveAll(), -1);
  EXPECT_EQ(sortedLines(readFile(dir + "/other")).size(), 3u);
  EXPECT_EQ(storage.loadAll(), -1);

  EXPECT_EQ(storage.unreg(&a), 0);
  EXPECT_EQ(storage.unreg(&a), -1);
  EXPECT_EQ(storage.unreg(&c), 0);
  EXPECT_EQ(storage.saveAll(), 0);
}

TEST_F(ConfigStorageTest, AFailedSaveKeepsThePreviousFile) {
  ConfigStorage storage(dir.c_str(), 16);
  StoredTable t("user_info");
  fill(t);
  ASSERT_EQ(storage.save(&t), 0);
  std::string before = readFile(dir + "/user_info");

  std::string big(200000, 'y');
  t.setString("Name", big.c_str(), static_cast<unsigned>(big.size()) + 1);
  // Files of this process may not grow beyond 4 KiB for the next save.
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct sigaction ignore = {}, previous;
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  int r = storage.save(&t);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
  ASSERT_EQ(::sigaction(SIGXFSZ, &previous, nullptr), 0);

  EXPECT_EQ(r, -1);
  EXPECT_STREQ(storage.getErrorString(), "write error");
  EXPECT_EQ(readFile(dir + "/user_info"), before);
  EXPECT_EQ(filesIn(dir), std::vector<std::string>{"user_info"});
}

TEST_F(ConfigStorageTest, TheDataDirectoryIsMadeWithItsParentsOrRefused) {
  std::string nested = root + "/a/b/c";
  {
    ConfigStorage storage(nested.c_str(), 8);
    EXPECT_STREQ(storage.getDataDirectory(), nested.c_str());
    EXPECT_STREQ(storage.getErrorString(), "");
  }
  struct stat st;
  ASSERT_EQ(::stat(nested.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  // An existing directory is used as it is.
  ASSERT_EQ(::chmod(nested.c_str(), 0700), 0);
  { ConfigStorage again(nested.c_str(), 8); }
  EXPECT_EQ(modeOf(nested), 0700u);

  std::string file = root + "/plainfile";
  writeFile(file, "x");
  try {
    ConfigStorage bad(file.c_str(), 8);
    FAIL() << "no exception";
  } catch (const LibError& e) {
    EXPECT_STREQ(e.getLocation(), "ConfigStorage()");
    EXPECT_STREQ(e.getReason(), "Cannot create data directory");
  }
  EXPECT_THROW(ConfigStorage((file + "/below").c_str(), 8), LibError);
}

TEST_F(ConfigStorageTest, TheDataDirectoryVanishingMakesSaveFail) {
  ConfigStorage storage(dir.c_str(), 8);
  StoredTable t("t");
  fill(t);
  ASSERT_EQ(::rmdir(dir.c_str()), 0);
  EXPECT_EQ(storage.save(&t), -1);
  EXPECT_STREQ(storage.getErrorString(), "open error");
}
