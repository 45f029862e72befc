// Fuzz target: storage files loaded into a described table. Whatever a file
// holds, saving what was loaded and loading it again gives the same values.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mosal/ConfigStorage.h"
#include "mosal/Trace.h"

using namespace MorvaneLib;

namespace {

class FuzzTable : public ConfigTable {
 public:
  FuzzTable() : ConfigTable(16) {
    static int object;
    setInt("Port", 5060);
    setInt("Count", 0);
    setDouble("Rate", 0.5);
    setString("Name", "", 1);
    setString("Transport", "TCP", 4);
    setObject("_socket", &object, 0);
    setInt("Hidden", 1);  // never described: never loaded
    for (const char* k : {"Port", "Count", "Rate", "Name", "Transport", "_socket"})
      createPropertyDescription(k, 255);
  }
  char* getStorageFilename() override { return const_cast<char*>("fuzz_table"); }
};

// The values of the stored properties as text; doubles as written to files.
std::string snapshot(FuzzTable& t) {
  std::string out;
  char buf[512];
  for (const char* k : {"Port", "Count", "Hidden"}) {
    int v = 0;
    if (t.getInt(k, &v) != 0) std::abort();
    std::snprintf(buf, sizeof buf, "%s=%d\n", k, v);
    out += buf;
  }
  double d = 0;
  if (t.getDouble("Rate", &d) != 0) std::abort();
  std::snprintf(buf, sizeof buf, "Rate=%f\n", d);
  out += buf;
  for (const char* k : {"Name", "Transport"}) {
    char* s = nullptr;
    if (t.getString(k, &s) != 0 || s == nullptr) std::abort();
    out += std::string(k) + "=" + s + "\n";
  }
  return out;
}

ConfigStorage* storage() {
  static ConfigStorage* s = [] {
    Trace::setEnabled(false);
    // Memory-backed when available: every save syncs its file.
    char shm[] = "/dev/shm/configstorage-fuzz-XXXXXX";
    char tmp[] = "/tmp/configstorage-fuzz-XXXXXX";
    char* tmpl = ::mkdtemp(shm) ? shm : ::mkdtemp(tmp);
    if (tmpl == nullptr) std::abort();
    static std::string dir = tmpl;
    std::atexit([] {
      ::unlink((dir + "/fuzz_table").c_str());
      ::rmdir(dir.c_str());
    });
    return new ConfigStorage(tmpl, 8);
  }();
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ConfigStorage* st = storage();
  std::string path = std::string(st->getDataDirectory()) + "/fuzz_table";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);

  FuzzTable first;
  if (st->load(&first) != 0) std::abort();
  std::string loaded = snapshot(first);
  if (st->save(&first) != 0) std::abort();
  FuzzTable second;
  if (st->load(&second) != 0) std::abort();
  if (snapshot(second) != loaded) std::abort();
  return 0;
}
