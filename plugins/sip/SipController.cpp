// SipController: registration record, the five entries, and the block's
// reset, quit, produce and consume handlers.
#include "plugins/sip/SipController.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

#include "framework/BlockManager.h"
#include "mosal/TextMessage.h"
#include "mosal_posix/InetAddress.h"
#include "plugins/sip/HttpLikeServerSock.h"
#include "plugins/sip/SipBlockState.h"
#include "plugins/sip/SipConnection.h"
#include "plugins/sip/SipHousekeeper.h"
#include "plugins/sip/SipProtocol.h"
#include "plugins/sip/SipRequestCommands.h"
#include "plugins/sip/SipSessionCommands.h"

namespace MorvaneLib {

const char* const SIP_PLUGIN_NAME = "SipController";
const char* const SIP_PLUGIN_DESCRIPTION =
    "Provides blocks for session control by SIP request/response protocol";
const char* const SIP_PLUGIN_COPYRIGHT = "Copyright (C) Ulvatron. SIP session controller 0.20";
const char* const SIP_DEFAULT_REGISTRAR = "localhost";

namespace {

const char kTcpName[] = "sip/2.0/TCP";
const char kUdpName[] = "sip/2.0/UDP";

// The two protocol objects registered with each manager (a process may run
// several managers, each loading the plug-in).
struct Registered {
  SipProtocol* tcp;
  SipProtocol* udp;
};
Mutex& registryLock() {
  static Mutex m;
  return m;
}
std::map<BlockManager*, Registered>& registry() {
  static std::map<BlockManager*, Registered> r;
  return r;
}

Plugin* findSelf(BlockManager* m) {
  PluginLoader* loader = m->getPluginLoader();
  if (loader == nullptr) return nullptr;
  SharedHash* table = loader->getPluginTable();
  return reinterpret_cast<Plugin*>(
      table->get(SIP_PLUGIN_NAME, static_cast<unsigned>(std::strlen(SIP_PLUGIN_NAME)) + 1));
}

void describe(ConfigTable* t, const char* key, const char* text, int max, int min) {
  Property* p = t->createPropertyDescription(key, 255);
  if (p == nullptr) return;
  p->description->xcopy(text, static_cast<unsigned>(std::strlen(text)) + 1);
  if (max != 0 || min != 0) {
    p->max = max;
    p->min = min;
  }
}

template <class T>
int attach(Block* b, bool event, int code) {
  T* h = new T(b);
  int r = event ? b->attachEventHandler(code, h) : b->attachActionHandler(code, h);
  if (r == -1) delete h;  // stays ours when refused
  return r;
}

int readInt(ConfigTable* t, const char* key, int fallback) {
  int v = 0;
  return t->getInt(key, &v) == 0 ? v : fallback;
}

}  // namespace

int sipFillRecord(plugin_record_t* record) {
  if (record == nullptr) return -1;
  std::strncpy(record->name, SIP_PLUGIN_NAME, plugin_record_t::NAME_SIZE);
  record->name[plugin_record_t::NAME_SIZE - 1] = '\0';
  std::strncpy(record->description, SIP_PLUGIN_DESCRIPTION, plugin_record_t::TEXT_SIZE);
  record->description[plugin_record_t::TEXT_SIZE - 1] = '\0';
  std::strncpy(record->copyright, SIP_PLUGIN_COPYRIGHT, plugin_record_t::TEXT_SIZE);
  record->copyright[plugin_record_t::TEXT_SIZE - 1] = '\0';
  record->version = SIP_PLUGIN_VERSION;
  record->load = &SipEntries::load;
  record->unload = &SipEntries::unload;
  record->type = &SipEntries::type;
  record->setup = &SipEntries::setup;
  record->cleanup = &SipEntries::cleanup;
  return 0;
}

// ------------------------------------------------------------------ entries

int SipEntries::load(BlockManager* m) {
  if (m == nullptr) return -1;
  Plugin* self = findSelf(m);
  if (self == nullptr) return -1;
  SipProtocol* tcp = nullptr;
  SipProtocol* udp = nullptr;
  try {
    tcp = new SipProtocol(self, 1);
    protocol_handler_t h{tcp, self};
    if (m->registerProtocolHandler(&h) != 0) {
      delete tcp;
      m->getError()->set("Cannot register protocol handler");
      return -1;
    }
    udp = new SipProtocol(self, 2);
    protocol_handler_t u{udp, self};
    if (m->registerProtocolHandler(&u) != 0) {
      // Leave nothing behind that points into a plug-in about to be closed.
      m->unregisterProtocolHandler(kTcpName);
      delete tcp;
      delete udp;
      m->getError()->set("Cannot register protocol handler");
      return -1;
    }
  } catch (const LibError& e) {
    if (tcp != nullptr && udp == nullptr) {
      m->unregisterProtocolHandler(kTcpName);
      delete tcp;
    }
    char text[4096];
    std::snprintf(text, sizeof text, "Cannot register protocol: %s (%s)", e.getReason(),
                  e.getLocation());
    m->getError()->set(text);
    return -1;
  }
  MutexLock l(registryLock());
  registry()[m] = Registered{tcp, udp};
  return 0;
}

int SipEntries::unload(BlockManager* m) {
  if (m == nullptr || findSelf(m) == nullptr) return -1;
  if (m->unregisterProtocolHandler(kUdpName) != 0)
    m->getError()->set("Cannot unregister protocol sip/2.0/UDP");
  if (m->unregisterProtocolHandler(kTcpName) != 0)
    m->getError()->set("Cannot unregister protocol sip/2.0/TCP");
  Registered r{nullptr, nullptr};
  {
    MutexLock l(registryLock());
    auto it = registry().find(m);
    if (it != registry().end()) {
      r = it->second;
      registry().erase(it);
    }
  }
  // No block of this plug-in is left (the loader unloads only then).
  delete r.tcp;
  delete r.udp;
  return 0;
}

int SipEntries::type(void*) { return Block::TYPE_CONTROL; }

int SipEntries::setup(Block* b) {
  if (b == nullptr) return -1;
  b->enableMonitor(true);
  b->setTimeout(0, 10000);
  b->getClock()->set(0);

  ConfigTable* t = b->getProperties();
  t->setString("Transport", "UDP", 4);
  if (Property* p = t->createPropertyDescription("Transport", 255)) {
    const char* text = "Transport protocol for sip messages";
    p->description->xcopy(text, static_cast<unsigned>(std::strlen(text)) + 1);
    p->addChoice("UDP");
    p->addChoice("TCP");
  }
  t->setInt("ListenPort", 5060);
  describe(t, "ListenPort", "Port the sip server will listen on", 65535, 1);
  t->setString("RegistrarHost", SIP_DEFAULT_REGISTRAR,
               static_cast<unsigned>(std::strlen(SIP_DEFAULT_REGISTRAR)) + 1);
  describe(t, "RegistrarHost", "Hostname of the registrar server", 0, 0);
  t->setInt("RegistrarPort", 5060);
  describe(t, "RegistrarPort", "Port the sip registrar listens on", 65535, 1);

  // The bookkeeping behind the session table.
  if (SipBlockState::of(b) == nullptr) {
    SipBlockState* state = new SipBlockState(b);
    if (t->setObject(SipBlockState::KEY, state, 0) != 0) {
      delete state;
      b->getManager()->getError()->set("Cannot add event handler");
      return -1;
    }
  }

  if (Interp* interp = b->enableScriptEngine(32, 30, 4096)) {
    interp->addCommand(new SipCmdSessionCreate());
    interp->addCommand(new SipCmdSessionSet());
    interp->addCommand(new SipCmdSessionDestroy());
    interp->addCommand(new SipCmdInvite());
    interp->addCommand(new SipCmdInviteAccept());
    interp->addCommand(new SipCmdBye());
    interp->addCommand(new SipCmdRegister());
    interp->addCommand(new SipCmdUpdate());
    interp->addCommand(new SipCmdAck());
  }

  if (attach<SipReset>(b, true, Block::WORD_RESET) == -1 ||
      attach<SipQuit>(b, true, Block::WORD_QUIT) == -1 ||
      attach<SipProduce>(b, false, Block::ACTION_PRODUCE) == -1 ||
      attach<SipConsume>(b, false, Block::ACTION_CONSUME) == -1) {
    b->getManager()->getError()->set("Cannot add event handler");
    return -1;
  }
  b->getInfo()->set("SIP 2.0");
  return 0;
}

int SipEntries::cleanup(Block* b) {
  SipBlockState* state = SipBlockState::of(b);
  if (state == nullptr) return 0;
  ConfigTable* t = b->getProperties();
  t->setObject(SipBlockState::KEY, nullptr, 0);
  t->setObject("_ts", nullptr, 0);
  // The loop has ended: no device of the block is served any more.
  delete state;
  return 0;
}

// ------------------------------------------------------------------ handlers

int SipReset::perform() {
  SipBlockState* state = SipBlockState::of(block);
  if (state == nullptr) return 2;
  ConfigTable* t = block->getProperties();
  char transport[16] = "UDP";
  if (t->copyString("Transport", transport, sizeof transport) != 0)
    std::strcpy(transport, "UDP");
  int listenPort = readInt(t, "ListenPort", 5060);
  char registrar[256];
  if (t->copyString("RegistrarHost", registrar, sizeof registrar) != 0)
    std::snprintf(registrar, sizeof registrar, "%s", SIP_DEFAULT_REGISTRAR);
  int registrarPort = readInt(t, "RegistrarPort", 5060);

  bool udp = std::strcmp(transport, "UDP") == 0;
  const char* name = udp ? kUdpName : kTcpName;
  SipProtocol* protocol = state->findProtocol(name);
  if (protocol == nullptr) return 2;
  if (!udp && std::strcmp(transport, "TCP") != 0) return 0;  // nothing to open

  // A reset that changes nothing keeps the server socket it opened before.
  if (state->serverMatches(udp, listenPort)) return 0;
  try {
    if (state->getHousekeeper() == nullptr) {
      SipHousekeeper* h = new SipHousekeeper();
      if (block->attach(h) != 0) {
        delete h;
      } else {
        state->setHousekeeper(h);
      }
    }
    if (udp) {
      SipConnection* sock = state->makeConnection(protocol, SipConnection::MODE_SERVER);
      sock->setServerSocket(true);
      sock->setState(IODevice::STATE_READING);
      if (sock->connect(2, registrar, static_cast<unsigned short>(registrarPort),
                        static_cast<unsigned short>(listenPort)) != 0) {
        block->getError()->set(sock->getErrorString());
        state->discardConnection(sock);
        return 2;
      }
      if (block->attach(sock) != 0) {
        block->getError()->set(block->IOMonitor::getErrorString());
        state->discardConnection(sock);
        return 2;
      }
      // The new socket is open before the old one gives way (a reset that
      // moves to another port or transport).
      state->closeServerSocket();
      t->setObject("_ts", sock, 0);
      return 0;
    }
    // Listening on every interface: the host name may resolve to an address
    // no peer can reach (127.0.1.1 on many systems).
    InetAddress local("ANY", static_cast<unsigned short>(listenPort));
    HttpLikeServerSock* server = new HttpLikeServerSock(local, 100);
    server->setProtocol(protocol);
    server->setBlock(block);
    server->setState(IODevice::STATE_READING);
    if (block->attach(server) != 0) {
      block->getError()->set(block->IOMonitor::getErrorString());
      delete server;
      return 2;
    }
    state->closeServerSocket();
    t->setObject("_ts", server, 0);
    return 0;
  } catch (const LibError& e) {
    block->getError()->set(e.getReason());
    return 2;
  }
}

int SipQuit::perform() {
  SipBlockState* state = SipBlockState::of(block);
  if (state != nullptr) state->closeServerSocket();
  return 0;
}

}  // namespace MorvaneLib

// The plug-in's one export.
MORVANE_PLUGIN_REGISTER(record) { return ::MorvaneLib::sipFillRecord(record); }
