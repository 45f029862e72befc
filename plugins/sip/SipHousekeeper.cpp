// SipHousekeeper: deferred deletion of the devices a block's loop has let go of.
#include "plugins/sip/SipHousekeeper.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "mosal_posix/IOMonitor.h"

namespace MorvaneLib {

namespace {
std::atomic<unsigned> housekeepers{0};
}

SipHousekeeper::SipHousekeeper() : _pass(0), _handle(-1) {
  char id[IOMonitor::REMOVAL_ID_SIZE];
  std::snprintf(id, sizeof id, "SIPHK%u", housekeepers.fetch_add(1) % 100000000u);
  _id->xcopy(id, static_cast<unsigned>(std::strlen(id)) + 1);
  setState(STATE_READY);
}

SipHousekeeper::~SipHousekeeper() {
  for (const Retired& r : _retired) delete r.device;
}

char* SipHousekeeper::getID() { return _id->getData(); }

void SipHousekeeper::setID(const char* id) {
  if (id != nullptr) _id->xcopy(id, static_cast<unsigned>(std::strlen(id)) + 1);
}

void SipHousekeeper::retire(IODevice* device, bool queueRemoval) {
  if (device == nullptr) return;
  for (const Retired& r : _retired)
    if (r.device == device) return;  // handed over twice
  _retired.push_back({device, _pass, queueRemoval});
}

int SipHousekeeper::onReady(IOMonitor* m) {
  ++_pass;
  for (Retired& r : _retired) {
    if (!r.queueRemoval) continue;
    // Its removal is processed at the end of this pass.
    if (m != nullptr && r.device->getID() != nullptr) m->removeDevice(r.device->getID());
    r.queueRemoval = false;
    r.pass = _pass;
  }
  // Retired during pass p (before or after this call) carries p - 1 or p;
  // its removal was processed at the end of pass p at the latest.
  while (!_retired.empty() && !_retired.front().queueRemoval &&
         _retired.front().pass + 2 <= _pass) {
    IODevice* d = _retired.front().device;
    _retired.pop_front();
    delete d;
  }
  return RESULT_READY;
}

int SipHousekeeper::onError(IOMonitor* m) {
  if (m != nullptr) m->removeDevice(getID());
  return RESULT_ERROR;
}

int SipHousekeeper::onEOF(IOMonitor* m) {
  if (m != nullptr) m->removeDevice(getID());
  return RESULT_EOF;
}

}  // namespace MorvaneLib
