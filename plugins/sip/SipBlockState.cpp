// SipBlockState: per-block bookkeeping of sessions, incoming calls and
// connections, and the helpers the plug-in's commands and handlers share.
#include "plugins/sip/SipBlockState.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "framework/BlockManager.h"
#include "mosal/Logger.h"
#include "plugins/sip/SipConnection.h"
#include "mosal_posix/Sock.h"
#include "plugins/sip/SipDialog.h"
#include "plugins/sip/SipHousekeeper.h"
#include "plugins/sip/SipProtocol.h"

namespace MorvaneLib {

const char* const SipBlockState::KEY = "_sip";

namespace {

const char kReceivedPrefix[] = "_RECV_";

std::string receivedKey(const char* callId) { return std::string(kReceivedPrefix) + callId; }

}  // namespace

SipBlockState::SipBlockState(Block* block)
    : _block(block), _table(block->getProperties()), _housekeeper(nullptr) {}

SipBlockState::~SipBlockState() {
  for (auto& entry : _dialogs) {
    entry.first->setConnection(nullptr);
    delete entry.first;
  }
  for (SipDialog* d : _retired) delete d;
  IODevice* server = getServerSocket();
  if (server != nullptr) {
    _table->setObject("_ts", nullptr, 0);
    SipConnection* c = dynamic_cast<SipConnection*>(server);
    if (c == nullptr || _connections.count(c) == 0) delete server;
  }
  for (SipConnection* c : _connections) delete c;
  for (IODevice* d : _leftovers) delete d;
  delete _housekeeper;
}

SipBlockState* SipBlockState::of(Block* block) {
  if (block == nullptr) return nullptr;
  void* obj = nullptr;
  unsigned short size = 0;
  if (block->getProperties()->getObject(KEY, &obj, &size) != 0) return nullptr;
  return static_cast<SipBlockState*>(obj);
}

// ------------------------------------------------------------------ sessions

SipDialog* SipBlockState::findSession(const char* callId) {
  if (callId == nullptr) return nullptr;
  void* obj = nullptr;
  unsigned short size = 0;
  if (_table->getObject(callId, &obj, &size) != 0 || obj == nullptr) return nullptr;
  // Only what this state filed as a session: the table also holds the
  // block's properties, its sockets and the incoming calls.
  auto it = _dialogs.find(static_cast<SipDialog*>(obj));
  if (it == _dialogs.end() || it->second.received) return nullptr;
  return it->first;
}

int SipBlockState::addSession(const char* callId, SipDialog* dialog) {
  if (callId == nullptr || dialog == nullptr) return -1;
  // A Call-ID must not take the place of another key of the block, nor look
  // like an incoming call's entry.
  unsigned char type = 0;
  if (_table->getParamType(callId, &type) == 0) return -1;
  if (std::strncmp(callId, kReceivedPrefix, sizeof kReceivedPrefix - 1) == 0) return -1;
  if (_table->setObject(callId, dialog, 0) != 0) return -1;
  _dialogs[dialog] = Filed{false, callId};
  return 0;
}

int SipBlockState::destroySession(const char* callId) {
  SipDialog* d = findSession(callId);
  if (d == nullptr) return -1;
  std::string id(callId);  // callId may point into the dialog
  _table->removeKey(id.c_str());
  _forget(d);
  HttpLikeSock* c = d->getConnection();
  if (c != nullptr && (c == getServerSocket() || _heldByOtherSession(d))) d->setConnection(nullptr);
  delete d;  // ends the connection it still holds
  dropReceived(id.c_str());
  return 0;
}

bool SipBlockState::_heldByOtherSession(SipDialog* d) {
  HttpLikeSock* c = d->getConnection();
  for (auto& entry : _dialogs)
    if (entry.first != d && !entry.second.received && entry.first->getConnection() == c)
      return true;
  return false;
}

// ------------------------------------------------------------ incoming calls

SipDialog* SipBlockState::findReceived(const char* callId) {
  if (callId == nullptr) return nullptr;
  void* obj = nullptr;
  unsigned short size = 0;
  if (_table->getObject(receivedKey(callId).c_str(), &obj, &size) != 0 || obj == nullptr)
    return nullptr;
  auto it = _dialogs.find(static_cast<SipDialog*>(obj));
  if (it == _dialogs.end() || !it->second.received) return nullptr;
  return it->first;
}

int SipBlockState::addReceived(const char* callId, SipDialog* dialog) {
  if (callId == nullptr || dialog == nullptr) return -1;
  std::string key = receivedKey(callId);
  SipDialog* old = findReceived(callId);
  unsigned char type = 0;
  if (old == nullptr && _table->getParamType(key.c_str(), &type) == 0) return -1;  // not ours
  if (_table->setObject(key.c_str(), dialog, 0) != 0) return -1;
  _dialogs[dialog] = Filed{true, callId};
  if (old != nullptr) {
    // A repeated INVITE: the earlier dialog is displaced, its entry reused.
    _forget(old);
    _retire(old);
    return 0;
  }
  _received.emplace_back(callId);
  while (_received.size() > MAX_RECEIVED) dropReceived(_received.front().c_str());
  return 0;
}

void SipBlockState::dropReceived(const char* callId) {
  if (callId == nullptr) return;
  std::string id(callId);  // callId may be an element of _received
  SipDialog* d = findReceived(id.c_str());
  if (d != nullptr) {
    _table->removeKey(receivedKey(id.c_str()).c_str());
    _forget(d);
    _retire(d);
  }
  _eraseReceivedId(id);
}

void SipBlockState::_eraseReceivedId(const std::string& id) {
  for (auto it = _received.begin(); it != _received.end(); ++it) {
    if (*it == id) {
      _received.erase(it);
      return;
    }
  }
}

void SipBlockState::_retire(SipDialog* d) {
  d->setConnection(nullptr);
  _retired.push_back(d);
  while (_retired.size() > MAX_RETIRED) {
    delete _retired.front();
    _retired.pop_front();
  }
}

void SipBlockState::_forget(SipDialog* d) { _dialogs.erase(d); }

// --------------------------------------------------------------- connections

SipConnection* SipBlockState::makeConnection(SipProtocol* protocol, int mode) {
  SipMessage* in = nullptr;
  SipMessage* out = nullptr;
  try {
    in = new SipMessage(protocol, 1024, 1024, 32768, 8192);
    out = new SipMessage(protocol, 1024, 1024, 32768, 8192);
    SipConnection* c = new SipConnection(protocol, in, out, mode);
    c->setBlock(_block);
    _connections.insert(c);
    return c;
  } catch (...) {
    delete in;
    delete out;
    throw;
  }
}

SipConnection* SipBlockState::acceptConnection(TCPSock* accepted, SipProtocol* protocol) {
  SipMessage* in = nullptr;
  SipMessage* out = nullptr;
  try {
    in = new SipMessage(protocol, 1024, 1024, 32768, 8192);
    out = new SipMessage(protocol, 1024, 1024, 32768, 8192);
  } catch (...) {
    delete in;
    delete accepted;
    throw;
  }
  SipConnection* c = new SipConnection(accepted, in, out, SipConnection::MODE_SERVER);
  c->setBlock(_block);
  c->setProtocol(protocol);
  _connections.insert(c);
  return c;
}

void SipBlockState::discardConnection(SipConnection* connection) {
  if (connection == nullptr) return;
  _connections.erase(connection);
  for (auto& entry : _dialogs)
    if (entry.first->getConnection() == connection) entry.first->setConnection(nullptr);
  delete connection;
}

void SipBlockState::closeServerSocket() {
  IODevice* server = getServerSocket();
  if (server == nullptr) return;
  _table->setObject("_ts", nullptr, 0);
  SipConnection* c = dynamic_cast<SipConnection*>(server);
  if (c != nullptr) {
    c->retire();
    _ended(c, true);
  } else {
    _release(server, true);
  }
}

bool SipBlockState::serverMatches(bool datagram, int port) {
  IODevice* server = getServerSocket();
  if (server == nullptr) return false;
  InetAddress* local = nullptr;
  if (SipConnection* c = dynamic_cast<SipConnection*>(server)) {
    if (!datagram || !c->isDatagram()) return false;
    local = c->getLocalAddress();
  } else if (InetSock* s = dynamic_cast<InetSock*>(server)) {
    if (datagram) return false;
    local = s->getLocalAddress();
  }
  if (local == nullptr) return false;
  return port == 0 || local->getPort() == port;
}

void SipBlockState::_release(IODevice* d, bool queueRemoval) {
  if (_housekeeper != nullptr) {
    _housekeeper->retire(d, queueRemoval);
    return;
  }
  if (queueRemoval && d->getID() != nullptr) _block->removeDevice(d->getID());
  _leftovers.push_back(d);
}

IODevice* SipBlockState::getServerSocket() {
  void* obj = nullptr;
  unsigned short size = 0;
  if (_table->getObject("_ts", &obj, &size) != 0) return nullptr;
  return static_cast<IODevice*>(obj);
}

void SipBlockState::connectionEnded(SipConnection* connection) { _ended(connection, false); }

void SipBlockState::_ended(SipConnection* connection, bool queueRemoval) {
  if (connection == nullptr) return;
  std::vector<std::string> dropped;
  for (auto& entry : _dialogs) {
    if (entry.first->getConnection() != connection) continue;
    entry.first->setConnection(nullptr);
    if (entry.second.received) dropped.push_back(entry.second.callId);
  }
  for (const std::string& id : dropped) dropReceived(id.c_str());
  if (getServerSocket() == static_cast<IODevice*>(connection)) _table->setObject("_ts", nullptr, 0);
  if (_connections.erase(connection) > 0) _release(connection, queueRemoval);
}

// ----------------------------------------------------------- shared helpers

void SipBlockState::log(unsigned char level, const char* format, ...) {
  BlockManager* m = _block->getManager();
  Logger* logger = m != nullptr ? m->getLogger() : nullptr;
  if (logger == nullptr) return;
  char line[256];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(line, sizeof line, format, ap);
  va_end(ap);
  logger->log(level, "%s", line);
}

void SipBlockState::postEvent(unsigned code, SipDialog* dialog) {
  _block->postEvent(code, dialog);
}

const char* SipBlockState::protocolName(int* socketType) {
  char transport[8];
  bool udp = true;  // missing or null: "UDP"
  if (_table->copyString("Transport", transport, sizeof transport) == 0)
    udp = std::strcmp(transport, "UDP") == 0;
  if (socketType != nullptr) *socketType = udp ? 2 : 1;
  return udp ? "sip/2.0/UDP" : "sip/2.0/TCP";
}

SipProtocol* SipBlockState::findProtocol(const char* protocolName) {
  BlockManager* m = _block->getManager();
  if (m == nullptr || protocolName == nullptr) return nullptr;
  protocol_handler_t* h = m->getProtocolHandler(protocolName);
  // Only a handler this plug-in filed is a SipProtocol.
  if (h == nullptr || h->plugin != _block->getPlugin()) return nullptr;
  return static_cast<SipProtocol*>(h->protocol);
}

}  // namespace MorvaneLib
