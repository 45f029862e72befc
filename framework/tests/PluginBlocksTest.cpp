// Every plug-in found in the plug-in folder, ours and the others': one block
// of each type taken through reset, start, stop and quit, each word answered
// with its status record, the block's thread ending after quit.
#include <cstring>
#include <string>

#include "FrameworkTestSupport.h"

using namespace fwtest;

namespace {

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Keeps network blocks on this machine: hosts become 127.0.0.1, ports 0.
void stayLocal(Block* b) {
  ConfigTable* t = b->getProperties();
  std::vector<std::string> keys;
  {
    SharedHash* params = t->getParamTable();
    MutexLock l(*params->getMutex());
    Hash* h = params;
    Enumeration* e = h->keys();
    while (e->hasMoreElements()) keys.emplace_back(e->nextElement()->data);
  }
  for (const std::string& k : keys) {
    unsigned char type = 0;
    if (t->getParamType(k.c_str(), &type) != 0) continue;
    if (type == TYPE_STRING && endsWith(k, "Host")) t->setString(k.c_str(), "127.0.0.1", 10);
    if (type == TYPE_INT && endsWith(k, "Port")) t->setInt(k.c_str(), 0);
  }
}

}  // namespace

TEST_F(FrameworkTest, EveryPluginBlockGoesThroughResetStartStopAndQuit) {
  Plugin* list[256];
  unsigned n = manager->getPluginLoader()->listPlugins(list, 256);
  ASSERT_GE(n, 3u);  // at least our own
  const char* words[] = {"reset", "start", "stop", "quit"};
  const int codes[] = {Block::WORD_RESET, Block::WORD_START, Block::WORD_STOP, Block::WORD_QUIT};
  for (unsigned i = 0; i < n; ++i) {
    Plugin* p = list[i];
    SCOPED_TRACE(p->getName());
    Block* b = nullptr;
    if (manager->createPluginInstance(p, &b) != 0) {
      ADD_FAILURE() << "cannot create: " << manager->getErrorString();
      continue;
    }
    stayLocal(b);
    DefaultStatusListener listener(b, 8);
    for (int w = 0; w < 4; ++w) {
      SCOPED_TRACE(words[w]);
      EXPECT_EQ(b->findWord(words[w]), codes[w]);
      uint32_t serial = 0;
      ASSERT_EQ(b->postWord(codes[w], &listener, &serial), 0);
      status_t s;
      ASSERT_EQ(listener.waitStatus(&s, 10000), 0);
      EXPECT_EQ(s.serial, serial);
      EXPECT_EQ(s.code, static_cast<uint32_t>(codes[w]));
      EXPECT_EQ(s.block, b);
      if (s.result == 0) {
        const int expected[] = {Block::STATUS_READY, Block::STATUS_RUNNING, Block::STATUS_STOPPED,
                                Block::STATUS_QUIT};
        EXPECT_EQ(s.status, expected[w]);
      }
    }
    EXPECT_TRUE(waitUntil([&] { return b->isFinished(); }));
    EXPECT_EQ(manager->destroyBlock(b), 0);
    EXPECT_EQ(p->getInstanceCount(), 0u);
  }
}
