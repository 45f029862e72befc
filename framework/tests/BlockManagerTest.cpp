// The block manager with the test plug-ins loaded from their files: loading,
// records, instances, words and status records, events, painters, the data
// directory, and destruction while blocks run.
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "FrameworkTestSupport.h"
#include "mosal/Logger.h"
#include "mosal_posix/IODevice.h"

using namespace fwtest;

namespace {

std::string readFile(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// A generated instance name: the type letter and ten digits.
bool generatedName(const char* name, char letter) {
  if (name[0] != letter || std::strlen(name) != 11) return false;
  for (int i = 1; i < 11; ++i)
    if (name[i] < '0' || name[i] > '9') return false;
  return true;
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// A painter that counts what it gets.
class CountingPainter : public Painter {
 public:
  explicit CountingPainter(const char* name) : Painter(name) {}
  int isVideoSupported() override { return 1; }
  int setData(DataBuf* data, dmessage_t* header) override {
    frames.fetch_add(1);
    lastWidth = header->width;
    lastHeight = header->height;
    lastLength = data->getLength();
    return 0;
  }
  std::atomic<int> frames{0};
  std::atomic<int> lastWidth{0}, lastHeight{0};
  std::atomic<unsigned> lastLength{0};
};

// A splash that writes down what it is told.
class RecordingSplash : public Splash {
 public:
  void show() override { calls += "show;"; }
  void hide() override { calls += "hide;"; }
  void setTitle(const char* t) override { calls += std::string("title ") + t + ";"; }
  void setText(const char*) override { ++texts; }
  void setMaxProgress(int m) override { max = m; }
  void setProgress(int v) override { last = v; }
  std::string calls;
  int texts = 0, max = -1, last = -1;
};

// The read end of a pipe, served by a block's event loop.
class PipeDevice : public IODevice {
 public:
  explicit PipeDevice(int fd) : _fd(fd) {
    _id->xcopy("pipe", 5);
    setHandleType(HANDLE_FD);
    setState(STATE_READING);
  }
  char* getID() override { return _id->getData(); }
  void setID(const char*) override {}
  void* getHandle() override { return &_fd; }
  void setHandle(void*) override {}
  int read(char*, unsigned) override { return -1; }
  int write(const char*, unsigned) override { return -1; }
  int close() override { return 0; }
  int resume() override { return 0; }
  int doRead(IOMonitor*) override {
    char c;
    if (::read(_fd, &c, 1) == 1) {
      onBlockThread = pthread_equal(pthread_self(), owner) != 0;
      bytes.fetch_add(1);
    }
    return RESULT_READ;
  }
  int doWrite(IOMonitor*) override { return 0; }
  int onError(IOMonitor*) override { return 0; }
  int onEOF(IOMonitor*) override { return 0; }
  int onInputDone(IOMonitor*) override { return 0; }
  int onOutputDone(IOMonitor*) override { return 0; }
  int onReady(IOMonitor*) override { return 0; }
  int onExtendedStatus(IOMonitor*) override { return 0; }

  int _fd;
  pthread_t owner{};
  std::atomic<int> bytes{0};
  std::atomic<bool> onBlockThread{false};
};

}  // namespace

TEST(FrameworkStart, TheSplashFollowsThePluginLoading) {
  Trace::setEnabled(false);
  privateHome();
  RecordingSplash splash;
  {
    BlockManager m("fwsplash", &splash);
    m.start();
    EXPECT_EQ(m.getSplash(), &splash);
    Plugin* list[64];
    unsigned loaded = m.getPluginLoader()->listPlugins(list, 64);
    EXPECT_GE(loaded, 3u);
    // Every file of the folder was shown, the broken one too.
    EXPECT_GT(splash.max, static_cast<int>(loaded) - 1);
    EXPECT_EQ(splash.texts, splash.max);
    EXPECT_EQ(splash.last, splash.max);
  }
  EXPECT_EQ(splash.calls, "show;title Loading plug-ins;hide;");
  // The log tells what happened.
  std::string log = readFile(privateHome() + "/fwsplash/fwsplash.log");
  EXPECT_NE(log.find("plug-in CounterSource 1.2.3.4 loaded from"), std::string::npos) << log;
  EXPECT_NE(log.find("BrokenBlock refuses to load"), std::string::npos);
  EXPECT_NE(log.find("BlockManager: fwsplash stopped"), std::string::npos);
}

TEST_F(FrameworkTest, PluginsServeTheirDevicesOnTheBlocksOwnLoop) {
  Block* b = create("CounterSource");
  ASSERT_NE(b, nullptr);
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  PipeDevice dev(p[0]);
  dev.owner = b->getHandle();
  EXPECT_FALSE(b->isMonitorEnabled());
  ASSERT_EQ(b->attach(&dev), 0);
  ASSERT_EQ(write(p[1], "x", 1), 1);
  Thread::sleep(50);
  EXPECT_EQ(dev.bytes.load(), 0);  // dispatch is off until the plug-in asks for it
  b->enableMonitor(true);
  ASSERT_EQ(manager->sendMessage(b->getName(), "status", true), 0);  // a pass to pick it up
  ASSERT_TRUE(waitUntil([&] { return dev.bytes.load() == 1; }));
  ASSERT_EQ(write(p[1], "yz", 2), 2);
  ASSERT_TRUE(waitUntil([&] { return dev.bytes.load() == 3; }));
  EXPECT_TRUE(dev.onBlockThread.load());
  // The block's end takes the device out of its loop.
  ASSERT_EQ(manager->sendMessage(b->getName(), "quit", true), 0);
  ASSERT_TRUE(waitUntil([&] { return b->isFinished(); }));
  ASSERT_EQ(manager->destroyBlock(b), 0);
  close(p[0]);
  close(p[1]);
}

TEST_F(FrameworkTest, LoadsThePluginFilesAndFilesTheirRecords) {
  PluginLoader* l = manager->getPluginLoader();
  Plugin* counter = l->getPlugin("CounterSource");
  ASSERT_NE(counter, nullptr);
  EXPECT_STREQ(counter->getInfo(), "Sends numbered test pictures");
  EXPECT_STREQ(counter->getVersionString(), "1.2.3.4");
  EXPECT_EQ(counter->provides, Block::TYPE_SOURCE);
  EXPECT_STREQ(Block::getTypeString(counter->provides), "Source");
  EXPECT_TRUE(counter->isLocal());
  // Found again by its path, also written another way.
  std::string path = pluginDir() + "/./CounterSource.mrb";
  EXPECT_EQ(l->getPluginByPath(path.c_str()), counter);
  EXPECT_EQ(l->getPlugin("PassFilter")->provides, Block::TYPE_FILTER);
  EXPECT_EQ(l->getPlugin("ChecksumSink")->provides, Block::TYPE_SINK);
  // The broken one refused to load and is not filed.
  EXPECT_EQ(l->getPlugin("BrokenBlock"), nullptr);
  // The record keeps its layout: texts and version where the plug-ins put them.
  const char* rec = reinterpret_cast<const char*>(counter->getRecord());
  EXPECT_STREQ(rec + 36, "CounterSource");
  uint32_t v;
  std::memcpy(&v, rec + 596, 4);
  EXPECT_EQ(v, 0x01020304u);
  EXPECT_NE(std::string(l->getSearchPath()).find(pluginDir()), std::string::npos);
}

TEST_F(FrameworkTest, LoadingAgainIsHarmlessAndUnloadingNeedsNoBlocksLeft) {
  PluginLoader* l = manager->getPluginLoader();
  std::string path = pluginDir() + "/PassFilter.mrb";
  Plugin* p = l->getPlugin("PassFilter");
  EXPECT_EQ(l->loadPlugin(path.c_str()), 0);
  EXPECT_EQ(l->getPlugin("PassFilter"), p);

  Block* b = create("PassFilter");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(p->getInstanceCount(), 1u);
  EXPECT_EQ(l->unloadPlugin(p), -1);
  EXPECT_NE(std::string(l->getErrorString()).find("still has 1 block"), std::string::npos);
  EXPECT_EQ(manager->destroyBlock(b), 0);
  EXPECT_EQ(manager->getBlock(b == nullptr ? "" : "x"), nullptr);
  EXPECT_EQ(l->unloadPlugin(p), 0);
  EXPECT_EQ(l->getPlugin("PassFilter"), nullptr);
  EXPECT_EQ(l->getPluginByPath(path.c_str()), nullptr);
  EXPECT_EQ(l->unloadPlugin(p), -1);  // gone: not a plug-in any more

  // Loaded by path this time.
  EXPECT_EQ(l->loadPlugin(path.c_str()), 0);
  ASSERT_NE(l->getPlugin("PassFilter"), nullptr);
  EXPECT_FALSE(l->getPlugin("PassFilter")->isLocal());
  EXPECT_EQ(l->loadPlugin("/nonexistent/plugin.so"), -1);
  EXPECT_NE(std::string(l->getErrorString()).find("cannot open"), std::string::npos);
}

TEST_F(FrameworkTest, BrokenPluginsAreRefusedCleanly) {
  PluginLoader* l = manager->getPluginLoader();
  std::string path = pluginDir() + "/BrokenBlock.mrb";
  path = pluginDir() + "/BrokenPlugin.mrb";
  EXPECT_EQ(l->loadPlugin(path.c_str()), -1);
  EXPECT_NE(std::string(l->getErrorString()).find("BrokenBlock refuses to load"), std::string::npos);
  EXPECT_EQ(l->getPluginByPath(path.c_str()), nullptr);

  // It loads, but cannot set its blocks up: no block is made, nothing leaks.
  setenv("MORVANE_BROKEN_MODE", "setup", 1);
  ASSERT_EQ(l->loadPlugin(path.c_str()), 0);
  Plugin* p = l->getPlugin("BrokenBlock");
  ASSERT_NE(p, nullptr);
  Block* b = reinterpret_cast<Block*>(1);
  EXPECT_EQ(manager->createPluginInstance(p, &b), -1);
  EXPECT_EQ(b, nullptr);
  EXPECT_NE(std::string(manager->getErrorString()).find("cannot set blocks up"), std::string::npos);
  EXPECT_EQ(p->getInstanceCount(), 0u);
  EXPECT_EQ(l->unloadPlugin(p), 0);

  // A type name without its NUL is cut inside its field.
  setenv("MORVANE_BROKEN_MODE", "noname", 1);
  ASSERT_EQ(l->loadPlugin(path.c_str()), 0);
  p = l->getPluginByPath(path.c_str());
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(p->getName()), std::string(29, 'N'));
  unsetenv("MORVANE_BROKEN_MODE");
}

TEST_F(FrameworkTest, InstancesGetUniqueNamesAndDescribeThemselves) {
  Block* a = create("CounterSource");
  Block* b = create("CounterSource");
  Block* f = create("PassFilter");
  ASSERT_TRUE(a && b && f);
  EXPECT_TRUE(generatedName(a->getName(), 'S'));
  EXPECT_TRUE(generatedName(f->getName(), 'F'));
  EXPECT_STRNE(a->getName(), b->getName());
  EXPECT_EQ(manager->getBlock(a->getName()), a);

  // Values set on the plug-in reach its next blocks (after their set-up).
  Plugin* sinkPlugin = manager->getPluginLoader()->getPlugin("ChecksumSink");
  sinkPlugin->getProperties()->setInt("Delay", 7);
  sinkPlugin->getProperties()->setString("WindowID", "4711", 5);
  Block* named = create("ChecksumSink", "sink_1");
  ASSERT_NE(named, nullptr);
  EXPECT_STREQ(named->getName(), "sink_1");
  EXPECT_EQ(prop(named, "Delay"), 7);
  char window[16];
  ASSERT_EQ(named->getProperties()->copyString("WindowID", window, sizeof window), 0);
  EXPECT_STREQ(window, "4711");
  EXPECT_EQ(prop(a, "Delay"), -12345);  // other types get nothing
  Block* dup = nullptr;
  Plugin* p = manager->getPluginLoader()->getPlugin("ChecksumSink");
  EXPECT_EQ(manager->createPluginInstance(p, &dup, "sink_1"), -1);
  EXPECT_EQ(manager->createPluginInstance(p, &dup, "bad name"), -1);
  EXPECT_EQ(manager->createPluginInstance(p, &dup, "a.b"), -1);
  EXPECT_EQ(manager->createPluginInstance(nullptr, &dup), -1);

  std::string text = f->toString();
  EXPECT_NE(text.find(f->getName()), std::string::npos);
  EXPECT_NE(text.find("PassFilter"), std::string::npos);
  EXPECT_NE(text.find("Filter"), std::string::npos);
  EXPECT_NE(text.find("inputs  : IN"), std::string::npos);
  EXPECT_NE(text.find("outputs : OUT"), std::string::npos);
  EXPECT_NE(std::string(a->toString()).find("counting pictures"), std::string::npos);

  // The block table walked under its lock, as the widgets do.
  ASSERT_EQ(manager->lockTable(BlockManager::TABLE_BLOCKS), 0);
  Enumeration* e = manager->getBlockTable()->Hash::values();
  int count = 0;
  while (e->hasMoreElements()) {
    e->nextElement();
    ++count;
  }
  ASSERT_EQ(manager->unlockTable(BlockManager::TABLE_BLOCKS), 0);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(manager->lockTable(99), -1);
}

TEST_F(FrameworkTest, WordsChangeTheRunStatusAndAnswerWithStatusRecords) {
  Block* b = create("CounterSource");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->getRunStatus(), Block::STATUS_IDLE);
  b->getProperties()->setInt("Period", 0);
  EXPECT_EQ(manager->sendMessage(b->getName(), "reset", true), 0);
  EXPECT_EQ(b->getRunStatus(), Block::STATUS_READY);
  EXPECT_EQ(manager->sendMessage(b->getName(), "start", true), 0);
  EXPECT_EQ(b->getRunStatus(), Block::STATUS_RUNNING);
  EXPECT_EQ(manager->sendMessage(b->getName(), "pause", true), 0);
  EXPECT_STREQ(b->getStatusString(b->getRunStatus()), "paused");
  EXPECT_EQ(manager->sendMessage(b->getName(), "resume", true), 0);
  EXPECT_EQ(b->getRunStatus(), Block::STATUS_RUNNING);
  EXPECT_EQ(manager->sendMessage(b->getName(), "stop", true), 0);
  EXPECT_EQ(b->getRunStatus(), Block::STATUS_STOPPED);
  EXPECT_EQ(manager->sendMessage(b->getName(), "resume", true), 0);  // not paused: no change
  EXPECT_EQ(b->getRunStatus(), Block::STATUS_STOPPED);
  EXPECT_EQ(manager->sendMessage(b->getName(), "no such word", true), -1);
  EXPECT_EQ(manager->sendMessage("nobody", "reset", true), -1);

  unsigned n = 0;
  char** words = b->getCommandStrings(&n);
  ASSERT_GE(n, 12u);
  EXPECT_STREQ(words[0], "reset");
  EXPECT_STREQ(words[8], "quit");
  EXPECT_STREQ(words[9], "user 1");

  // A raw request as the test tool builds it: zeroed, code, listener, serial.
  DefaultStatusListener listener(b, 10);
  request_t r;
  std::memset(&r, 0, sizeof r);
  r.code = Block::WORD_RESET;
  r.listener = &listener;
  r.serial = b->nextSerial();
  ASSERT_EQ(b->getCommandQueue()->tryPut(reinterpret_cast<char*>(&r), sizeof r, 0), 0);
  status_t s;
  ASSERT_EQ(listener.waitStatus(&s, 5000), 0);
  EXPECT_EQ(s.serial, r.serial);
  EXPECT_EQ(s.code, 0u);
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.status, Block::STATUS_READY);
  EXPECT_EQ(s.block, b);

  // A handler that fails keeps the status and says why.
  b->getProperties()->setInt("Width", 0);
  r.serial = b->nextSerial();
  r.code = Block::WORD_START;
  ASSERT_EQ(b->getCommandQueue()->tryPut(reinterpret_cast<char*>(&r), sizeof r, 0), 0);
  r.serial = b->nextSerial();
  r.code = Block::WORD_RESET;
  ASSERT_EQ(b->getCommandQueue()->tryPut(reinterpret_cast<char*>(&r), sizeof r, 0), 0);
  ASSERT_EQ(listener.waitStatus(&s, 5000), 0);
  EXPECT_EQ(s.status, Block::STATUS_RUNNING);
  ASSERT_EQ(listener.waitStatus(&s, 5000), 0);
  EXPECT_EQ(s.serial, r.serial);
  EXPECT_EQ(s.result, 1);
  EXPECT_EQ(s.status, Block::STATUS_RUNNING);
  EXPECT_STREQ(s.error, "bad picture size");

  // A code beyond the words is answered with -1.
  r.serial = b->nextSerial();
  r.code = 40;
  ASSERT_EQ(b->getCommandQueue()->tryPut(reinterpret_cast<char*>(&r), sizeof r, 0), 0);
  ASSERT_EQ(listener.waitStatus(&s, 5000), 0);
  EXPECT_EQ(s.result, -1);
}

TEST_F(FrameworkTest, CommandScriptsRunOnTheBlocksInterpreter) {
  Block* src = create("CounterSource");
  Block* sink = create("ChecksumSink");
  ASSERT_TRUE(src && sink);
  connect(src, "OUT", sink, "IN");
  src->getProperties()->setInt("Width", 8);
  src->getProperties()->setInt("Height", 2);
  ASSERT_EQ(manager->sendMessage(src->getName(), "reset", true), 0);
  EXPECT_EQ(command(src, "Emit 3"), 0);
  EXPECT_EQ(command(src, "Emit"), -3);         // argument count
  EXPECT_EQ(command(src, "Cancel now"), -1);   // unknown command
  EXPECT_EQ(command(src, "Emit 1\nEmit 2"), 0);  // several lines, no final newline
  EXPECT_TRUE(waitUntil([&] { return prop(sink, "Received") == 6; }));
  EXPECT_EQ(sink->sendCommandScript("Emit 1\n"), -1);  // the sink has no interpreter
  EXPECT_EQ(src->sendCommandScript(nullptr), -1);
}

TEST_F(FrameworkTest, QuitEndsTheBlockThreadAndItsWiresGo) {
  Block* src = create("CounterSource");
  Block* sink = create("ChecksumSink");
  ASSERT_TRUE(src && sink);
  connect(src, "OUT", sink, "IN");
  EXPECT_EQ(manager->sendMessage(sink->getName(), "quit", true), 0);
  EXPECT_TRUE(waitUntil([&] { return sink->isFinished(); }));
  EXPECT_EQ(sink->getRunStatus(), Block::STATUS_QUIT);
  EXPECT_EQ(manager->sendMessage(sink->getName(), "reset", true), -1);
  EXPECT_EQ(sink->sendCommandScript("x\n"), -1);
  // The housekeeping thread takes the finished block out of the graph.
  EXPECT_TRUE(waitUntil([&] { return src->getOutputPin("OUT")->getWireCount() == 0; }));
  EXPECT_EQ(manager->connectPins(src->getOutputPin("OUT"), sink->getInputPin("IN")), -1);
  // It stays listed until destroyed.
  EXPECT_EQ(manager->getBlock(sink->getName()), sink);
  EXPECT_EQ(manager->destroyBlock(sink), 0);
  EXPECT_EQ(manager->destroyBlock(sink), -1);

  // "kill" ends a block without its quit handler.
  EXPECT_EQ(manager->sendMessage(src->getName(), "kill", false), 0);
  EXPECT_TRUE(waitUntil([&] { return src->isFinished(); }));
}

TEST_F(FrameworkTest, EventsReachEveryConnectedAdapter) {
  Block* b = create("CounterSource");
  ASSERT_NE(b, nullptr);
  BlockAdapter tamvo("tamvo", 4096, 5, 10);
  auto other = std::make_unique<BlockAdapter>("other", sizeof(cmessage_t), 1, 2);
  EXPECT_EQ(tamvo.connect(b), 0);
  EXPECT_EQ(tamvo.connect(b), 10);
  EXPECT_EQ(other->connect(b), 0);
  EXPECT_EQ(b->getControlPin()->getReceiverCount(), 2u);

  cmessage_t m;
  EXPECT_EQ(tamvo.tryRecvMessage(&m), -1);
  ASSERT_EQ(manager->sendMessage(b->getName(), "user 1", false), 0);
  ASSERT_EQ(tamvo.recvMessage(&m, 5000), 0);
  EXPECT_EQ(m.code, 3000u);
  EXPECT_EQ(m.sender, b);
  EXPECT_EQ(m.params, b->getProperties());
  uint32_t first = m.serial;
  ASSERT_EQ(other->recvMessage(&m, 5000), 0);
  EXPECT_EQ(m.code, 3000u);
  ASSERT_EQ(manager->sendMessage(b->getName(), "user 1", true), 0);
  ASSERT_EQ(tamvo.recvMessage(&m, 5000), 0);
  EXPECT_EQ(m.serial, first + 1);
  // The layout callers rely on: code at 0, serial at 32.
  const char* raw = reinterpret_cast<const char*>(&m);
  uint32_t code, serial;
  std::memcpy(&code, raw, 4);
  std::memcpy(&serial, raw + 32, 4);
  EXPECT_EQ(code, 3000u);
  EXPECT_EQ(serial, first + 1);

  // A small queue misses what does not fit, without blocking the block.
  for (int i = 0; i < 5; ++i) ASSERT_EQ(manager->sendMessage(b->getName(), "user 1", true), 0);
  int got = 0;
  while (other->tryRecvMessage(&m) == 0) ++got;
  EXPECT_EQ(got, 2);

  // An adapter that goes first unlinks itself.
  other.reset();
  EXPECT_EQ(b->getControlPin()->getReceiverCount(), 1u);
  ASSERT_EQ(manager->sendMessage(b->getName(), "user 1", true), 0);
  EXPECT_EQ(tamvo.disconnect(b), 0);
  EXPECT_EQ(tamvo.disconnect(b), -1);
  // Unconnected: the handler reports it, and the line says so.
  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  cmessage_t lone;
  std::memset(&lone, 0, sizeof lone);
  int r = b->getControlPin()->trySendMessage(&lone);
  std::string out = testing::internal::GetCapturedStdout();
  Trace::setEnabled(false);
  EXPECT_EQ(r, -1);
  EXPECT_EQ(out, "unconnected\n");

  // And a block that goes first unlinks itself from the adapters.
  EXPECT_EQ(tamvo.connect(b), 0);
  EXPECT_EQ(manager->destroyBlock(b), 0);
}

TEST_F(FrameworkTest, ControlPinTracesEachReceiver) {
  Block* b = create("CounterSource");
  ASSERT_NE(b, nullptr);
  BlockAdapter a("tamvoses", 4096, 5, 100);
  a.connect(b);
  cmessage_t m;
  std::memset(&m, 0, sizeof m);
  m.code = 1001;
  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  EXPECT_EQ(b->getControlPin()->trySendMessage(&m), 0);
  std::string out = testing::internal::GetCapturedStdout();
  Trace::setEnabled(false);
  EXPECT_EQ(out, "ControlPin::trySendMessage(): -> tamvoses\n");
  cmessage_t got;
  ASSERT_EQ(a.tryRecvMessage(&got), 0);
  EXPECT_EQ(got.code, 1001u);
  EXPECT_EQ(got.serial, m.serial);
  EXPECT_THROW(BlockAdapter("small", 8, 1, 1), LibError);
}

TEST_F(FrameworkTest, PaintersDrawOnTheRenderingThreadAndUnregisterSafely) {
  Block* src = create("CounterSource");
  Block* sink = create("ChecksumSink");
  ASSERT_TRUE(src && sink);
  connect(src, "OUT", sink, "IN");
  auto painter = std::make_unique<CountingPainter>("Control Panel");
  EXPECT_EQ(manager->registerPainter(painter.get()), 0);
  CountingPainter twin("Control Panel");
  EXPECT_EQ(manager->registerPainter(&twin), 10);
  EXPECT_EQ(manager->attachPainterToPin("Control Panel", "nowhere.OUT"), -1);
  EXPECT_EQ(manager->attachPainterToPin("Nobody", (std::string(src->getName()) + ".OUT").c_str()), -1);
  ASSERT_EQ(manager->attachPainterToPin("Control Panel",
                                        (std::string(src->getName()) + ".OUT").c_str()), 0);
  sink->getProperties()->setInt("Paint", 1);
  src->getProperties()->setInt("Width", 176);
  src->getProperties()->setInt("Height", 144);
  src->getProperties()->setInt("Period", 2000);
  ASSERT_EQ(manager->sendMessage(src->getName(), "reset", true), 0);
  ASSERT_EQ(manager->sendMessage(src->getName(), "start", true), 0);
  EXPECT_TRUE(waitUntil([&] { return painter->frames.load() >= 5; }));
  EXPECT_EQ(painter->lastWidth.load(), 176);
  EXPECT_EQ(painter->lastHeight.load(), 144);
  EXPECT_EQ(painter->lastLength.load(), 176u * 144u * 3u);
  // Gone while pictures keep coming: nothing draws on it afterwards.
  EXPECT_EQ(manager->unregisterPainter("Control Panel"), 0);
  int seen = painter->frames.load();
  painter.reset();
  int received = prop(sink, "Received");
  EXPECT_TRUE(waitUntil([&] { return prop(sink, "Received") > received + 5; }));
  EXPECT_GE(seen, 5);
  EXPECT_EQ(manager->unregisterPainter("Control Panel"), -1);
  EXPECT_EQ(manager->getPainter("Control Panel"), nullptr);
}

TEST_F(FrameworkTest, TheDataDirectoryHoldsSettingsPropertiesAndTheLog) {
  std::string dir = privateHome() + "/fwtest";
  EXPECT_STREQ(manager->getStorage()->getDataDirectory(), dir.c_str());
  EXPECT_TRUE(exists(dir + "/fwtest.log"));
  // Lines are written in batches, but a running manager never lets one wait
  // long: this one reaches the file without the manager going.
  manager->getLogger()->log(3, "fwtest: a line to find");
  EXPECT_TRUE(waitUntil([&] {
    return readFile(dir + "/fwtest.log").find("fwtest: a line to find") != std::string::npos;
  }));
  char data[512];
  ASSERT_EQ(manager->getConfig()->copyString("morvane.paths.data", data, sizeof data), 0);
  EXPECT_EQ(dir, data);

  // The block words "save" and "load" keep properties per block type.
  Block* b = create("CounterSource");
  ASSERT_NE(b, nullptr);
  b->getProperties()->setInt("Width", 123);
  EXPECT_EQ(manager->sendMessage(b->getName(), "save", true), 0);
  EXPECT_NE(readFile(dir + "/CounterSource.properties").find("Width=123"), std::string::npos);
  b->getProperties()->setInt("Width", 7);
  EXPECT_EQ(manager->sendMessage(b->getName(), "load", true), 0);
  EXPECT_EQ(prop(b, "Width"), 123);

  // Settings are saved when the manager goes and read when the next comes.
  manager->getConfig()->setInt("morvane.wire.depth", 3);
  manager.reset();
  manager.reset(new BlockManager("fwtest", nullptr));
  manager->start();
  EXPECT_EQ(manager->getIntSetting("morvane.wire.depth", 0), 3);
  manager->getConfig()->setInt("morvane.wire.depth", 8);
  Block* src = create("CounterSource");
  Block* sink = create("ChecksumSink");
  ASSERT_TRUE(src && sink);
  connect(src, "OUT", sink, "IN");
  EXPECT_EQ(src->getOutputPin("OUT")->getWireCount(), 1u);

  // Another application keeps apart.
  BlockManager other("fwtest-other", nullptr);
  other.start();
  EXPECT_STREQ(other.getStorage()->getDataDirectory(), (privateHome() + "/fwtest-other").c_str());
  EXPECT_THROW(BlockManager("../escape", nullptr), LibError);
  EXPECT_THROW(BlockManager("", nullptr), LibError);
}

TEST(FrameworkLife, ManagerGoesCleanlyWithBlocksRunning) {
  Trace::setEnabled(false);
  privateHome();
  long long t0;
  {
    BlockAdapter a("app", 4096, 1, 4);  // outlives the manager
    BlockManager m("fwlife", nullptr);
    m.start();
    PluginLoader* l = m.getPluginLoader();
    Block *src, *flt, *sink;
    ASSERT_EQ(m.createPluginInstance(l->getPlugin("CounterSource"), &src), 0);
    ASSERT_EQ(m.createPluginInstance(l->getPlugin("PassFilter"), &flt), 0);
    ASSERT_EQ(m.createPluginInstance(l->getPlugin("ChecksumSink"), &sink), 0);
    ASSERT_EQ(m.connectPins(src->getOutputPin("OUT"), flt->getInputPin("IN")), 0);
    ASSERT_EQ(m.connectPins(flt->getOutputPin("OUT"), sink->getInputPin("IN")), 0);
    src->getProperties()->setInt("Period", 1000);
    ASSERT_EQ(m.sendMessage(src->getName(), "reset", true), 0);
    ASSERT_EQ(m.sendMessage(src->getName(), "start", true), 0);
    a.connect(sink);
    ASSERT_TRUE(waitUntil([&] { return prop(sink, "Received") > 10; }));
    t0 = nowMs();
  }
  EXPECT_LT(nowMs() - t0, 3000);

  // A block busy for a long time does not hold the manager up.
  Block* busy = nullptr;
  {
    BlockManager m("fwlife", nullptr);
    m.start();
    m.getConfig()->setInt("morvane.shutdown.timeout", 100);
    PluginLoader* l = m.getPluginLoader();
    Block *src, *flt;
    ASSERT_EQ(m.createPluginInstance(l->getPlugin("CounterSource"), &src), 0);
    ASSERT_EQ(m.createPluginInstance(l->getPlugin("PassFilter"), &flt), 0);
    ASSERT_EQ(m.connectPins(src->getOutputPin("OUT"), flt->getInputPin("IN")), 0);
    flt->getProperties()->setInt("Delay", 2500000);
    src->getProperties()->setInt("Width", 4);
    src->getProperties()->setInt("Height", 4);
    ASSERT_EQ(m.sendMessage(src->getName(), "reset", true), 0);
    DefaultStatusListener l2(src, 2);
    ASSERT_EQ(src->sendCommandScript("Emit 1\n", &l2), 0);
    status_t s;
    ASSERT_EQ(l2.waitStatus(&s, 5000), 0);
    ASSERT_TRUE(waitUntil([&] { return flt->getInputPin("IN")->getReceived() == 1; }));
    busy = flt;
    t0 = nowMs();
  }
  EXPECT_LT(nowMs() - t0, 2400);
  // The busy block is left alone, and ends on its own afterwards.
  EXPECT_TRUE(waitUntil([&] { return busy->isFinished(); }, 10000));
}
