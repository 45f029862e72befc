// mortest: starts the block framework and loads, lists, instantiates or
// exercises block plug-ins, printing what it sees on standard error.
#include <cstdio>
#include <cstring>

#include "framework/BlockManager.h"
#include "mosal/Error.h"

using namespace MorvaneLib;

namespace {

// How long the block interaction test waits for each status record.
const unsigned kStatusWaitMs = 10000;

void help() {
  std::fprintf(stderr,
               "Accepted parameters:\n"
               " --block-interaction (test interaction with blocks)\n"
               "    parameters: <plugin>\n"
               " --plugin-loading    (test loading of plugins)\n"
               "    parameters: <mrb path>\n"
               " --plugin-instance   (test creation on blocks)\n"
               "    parameters: <plugin>\n"
               " --plugin-list       (list available plugins)\n"
               " --quiet             (redirect messages to file)\n"
               " --help              (print this help screen)\n"
               "\n");
}

Block* makeBlock(BlockManager* m, const char* type) {
  Plugin* p = m->getPluginLoader()->getPlugin(type);
  if (p == nullptr) {
    std::fprintf(stderr, "Error: cannot find plugin %s\n", type);
    return nullptr;
  }
  Block* b = nullptr;
  if (m->createPluginInstance(p, &b) == -1) {
    std::fprintf(stderr, "Error: %s\n", m->getErrorString());
    return nullptr;
  }
  return b;
}

void blockInteraction(BlockManager* m, const char* type) {
  std::fprintf(stderr, "Executing: block interaction\n");
  Block* b = makeBlock(m, type);
  if (b == nullptr) return;
  std::fprintf(stderr, "Interacting with block:\n");
  std::fprintf(stderr, "%s\n", b->toString());
  std::fprintf(stderr, "Testing messages in blocking mode...\n");
  unsigned count = 0;
  char** words = b->getCommandStrings(&count);
  for (unsigned i = 0; i < count; ++i) {
    // quit and kill end the block: nothing after them would be answered.
    if (i == Block::WORD_QUIT || i == Block::WORD_KILL) {
      std::fprintf(stderr, "Skipping message \"%s\"\n", words[i]);
      continue;
    }
    std::fprintf(stderr, "Sending message \"%s\"\n", words[i]);
    DefaultStatusListener* listener;
    try {
      listener = new DefaultStatusListener(b, 10);
    } catch (LibError& e) {
      std::fprintf(stderr, "Error: %s\n", e.getReason());
      return;
    }
    request_t r;
    std::memset(&r, 0, sizeof r);
    r.code = i;
    r.listener = listener;
    r.serial = b->nextSerial();
    if (b->getCommandQueue()->tryPut(reinterpret_cast<const char*>(&r), sizeof r, 0) != 0) {
      std::fprintf(stderr, "Message queue is full\n");
    } else {
      std::fprintf(stderr, "Message with serial %u sent\n", r.serial);
      std::fprintf(stderr, "Waiting for status message\n");
      status_t s;
      bool got = false;
      while (listener->waitStatus(&s, kStatusWaitMs) == 0) {
        if (s.serial == r.serial) {
          got = true;
          break;
        }
      }
      if (!got) {
        std::fprintf(stderr, "No status message available\n");
      } else {
        std::fprintf(stderr, "Response for serial %u is as follows\n", s.serial);
        std::fprintf(stderr, " message serial : %u\n", s.serial);
        std::fprintf(stderr, " message code   : %u\n", s.code);
        std::fprintf(stderr, " handler return : %d\n", s.result);
        std::fprintf(stderr, " block status   : %s\n", b->getStatusString(s.status));
        std::fprintf(stderr, " error          : %s\n", s.error);
        std::fprintf(stderr, "--\n");
      }
    }
    delete listener;
  }
}

void pluginInstance(BlockManager* m, const char* type) {
  std::fprintf(stderr, "Executing: plugin instance\n");
  Block* b = makeBlock(m, type);
  if (b != nullptr) std::fprintf(stderr, "%s\n", b->toString());
}

void pluginLoading(BlockManager* m, const char* path) {
  std::fprintf(stderr, "Executing: plugin loading\n");
  std::fprintf(stderr, "Now loading plugin...\n");
  PluginLoader* l = m->getPluginLoader();
  if (l->loadPlugin(path) == -1) {
    std::fprintf(stderr, "Cannot load plugin\n");
    std::fprintf(stderr, "Error: %s\n", l->getErrorString());
    return;
  }
  std::fprintf(stderr, "Plugin loaded.\n");
  std::fprintf(stderr, "Now unloading the plugin\n");
  Plugin* p = l->getPluginByPath(path);
  if (p != nullptr) {
    if (l->unloadPlugin(p) == -1) {
      std::fprintf(stderr, "Cannot unload plugin\n");
      std::fprintf(stderr, "Error: %s\n", l->getErrorString());
    }
  } else {
    std::fprintf(stderr, "Strange, cannot get plugin by path\n");
    std::fprintf(stderr, "Path: %s\n", path);
  }
  std::fprintf(stderr, "Test passed.\n");
}

void pluginList(BlockManager* m) {
  std::fprintf(stderr, "Executing: plugin list query\n");
  Plugin* list[1024];
  unsigned n = m->getPluginLoader()->listPlugins(list, 1024);
  for (unsigned i = 0; i < n; ++i) {
    std::fprintf(stderr, "Plugin   : %s\n", list[i]->getName());
    std::fprintf(stderr, "Version  : %s\n", list[i]->getVersionString());
    std::fprintf(stderr, "Info     : %s\n", list[i]->getInfo());
    std::fprintf(stderr, "Copyright: %s\n", list[i]->getCopyright());
    std::fprintf(stderr, "Provides : %s\n", Block::getTypeString(list[i]->provides));
    std::fprintf(stderr, "--\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::fprintf(stderr, "mortest: block plug-in test tool\n");
  const char* interaction = nullptr;
  const char* instance = nullptr;
  const char* loading = nullptr;
  bool list = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strncmp(a, "--", 2) != 0) continue;
    const char** value = nullptr;
    if (std::strcmp(a, "--help") == 0) {
      help();
    } else if (std::strcmp(a, "--quiet") == 0) {
      if (std::freopen("messages.txt", "w+", stdout) == nullptr)
        std::fprintf(stderr, "Cannot redirect stdout to file\n");
    } else if (std::strcmp(a, "--block-interaction") == 0) {
      value = &interaction;
    } else if (std::strcmp(a, "--plugin-loading") == 0) {
      value = &loading;
    } else if (std::strcmp(a, "--plugin-instance") == 0) {
      value = &instance;
    } else if (std::strcmp(a, "--plugin-list") == 0) {
      list = true;
    } else {
      std::fprintf(stderr, "Unrecognized parameter: %s\n", a);
      help();
    }
    if (value != nullptr) {
      // The value is the next argument; an option at the end has none.
      if (i + 1 >= argc) {
        std::fprintf(stderr, "Missing value for %s\n", a);
        help();
      } else {
        *value = argv[++i];
      }
    }
  }

  BlockManager* manager;
  try {
    manager = new BlockManager("mortest", nullptr);
  } catch (LibError& e) {
    std::fprintf(stderr, "Cannot initialize application\n");
    std::fprintf(stderr, "Reason: %s in %s\n", e.getReason(), e.getLocation());
    return 1;
  }
  manager->start();
  if (interaction != nullptr) blockInteraction(manager, interaction);
  if (instance != nullptr) pluginInstance(manager, instance);
  if (loading != nullptr) pluginLoading(manager, loading);
  if (list) pluginList(manager);
  delete manager;
  return 0;
}
