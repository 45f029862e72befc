// Protocol handlers: filed under name, version and transport, found, refused
// twice, unregistered, and dropped with the plug-in that provided them.
#include "FrameworkTestSupport.h"
#include "mosal/TextSock.h"

using namespace fwtest;

namespace {

class TestProtocol : public Protocol, public ProtocolTransport {
 public:
  TestProtocol(const char* n, const char* v, int transport) : _transport(transport) {
    name = new DataBuf(n);
    version = new DataBuf(v);
  }
  int getTransport() const override { return _transport; }

 private:
  int _transport;
};

// A protocol that cannot say its transport.
class PlainProtocol : public Protocol {
 public:
  PlainProtocol() {
    name = new DataBuf("plain");
    version = new DataBuf("1.0");
  }
};

}  // namespace

// The names differ from the SIP plug-in's, which the manager loads as well.
TEST_F(FrameworkTest, ProtocolHandlersAreFiledByNameVersionAndTransport) {
  Plugin* self = manager->getPluginLoader()->getPlugin("CounterSource");
  ASSERT_NE(self, nullptr);
  TestProtocol tcp("sim", "2.0", 1), udp("sim", "2.0", 2), other("sim", "2.0", 3);
  protocol_handler_t h{&tcp, self};
  EXPECT_EQ(manager->registerProtocolHandler(&h), 0);
  protocol_handler_t u{&udp, self};
  EXPECT_EQ(manager->registerProtocolHandler(&u), 0);
  EXPECT_EQ(manager->registerProtocolHandler(&h), 10);
  protocol_handler_t bad{&other, self};
  EXPECT_EQ(manager->registerProtocolHandler(&bad), -1);
  PlainProtocol plain;
  protocol_handler_t p{&plain, self};
  EXPECT_EQ(manager->registerProtocolHandler(&p), -1);
  EXPECT_EQ(manager->registerProtocolHandler(nullptr), -1);

  protocol_handler_t* found = manager->getProtocolHandler("sim/2.0/TCP");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->protocol, &tcp);
  EXPECT_EQ(found->plugin, self);
  // The table itself, under its lock, as the plug-ins read it.
  ASSERT_EQ(manager->lockTable(BlockManager::TABLE_PROTOCOLS), 0);
  protocol_handler_t* viaTable = reinterpret_cast<protocol_handler_t*>(
      manager->getProtocolTable()->Hash::get("sim/2.0/UDP", 12));
  ASSERT_EQ(manager->unlockTable(BlockManager::TABLE_PROTOCOLS), 0);
  ASSERT_NE(viaTable, nullptr);
  EXPECT_EQ(viaTable->protocol, &udp);

  EXPECT_EQ(manager->unregisterProtocolHandler("sim/2.0/UDP"), 0);
  EXPECT_EQ(manager->unregisterProtocolHandler("sim/2.0/UDP"), -1);
  EXPECT_EQ(manager->getProtocolHandler("sim/2.0/UDP"), nullptr);
  EXPECT_NE(manager->getProtocolHandler("sim/2.0/TCP"), nullptr);

  // A plug-in that goes takes the handlers it left behind along.
  Plugin* filter = manager->getPluginLoader()->getPlugin("PassFilter");
  TestProtocol mine("test", "1.0", 2);
  protocol_handler_t m{&mine, filter};
  ASSERT_EQ(manager->registerProtocolHandler(&m), 0);
  ASSERT_EQ(manager->getPluginLoader()->unloadPlugin(filter), 0);
  EXPECT_EQ(manager->getProtocolHandler("test/1.0/UDP"), nullptr);
  EXPECT_NE(manager->getProtocolHandler("sim/2.0/TCP"), nullptr);
  EXPECT_EQ(manager->unregisterProtocolHandler("sim/2.0/TCP"), 0);
}
