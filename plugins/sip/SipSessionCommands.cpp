// The session commands of the "SipController" block.
#include "plugins/sip/SipSessionCommands.h"

#include <cstring>

#include "framework/Block.h"
#include "plugins/sip/SipBlockState.h"
#include "plugins/sip/SipDialog.h"

namespace MorvaneLib {

namespace {

inline const char* arg(Params* p, int i) {
  const char* a = p != nullptr ? p->getArg(i) : nullptr;
  return a != nullptr ? a : "";
}

}  // namespace

int SipCmdSessionCreate::perform(Params* params, void* data) {
  SipBlockState* state = SipBlockState::of(static_cast<Block*>(data));
  if (state == nullptr) return SIP_CREATE_ERROR;
  const char* id = arg(params, 0);
  const char* name = arg(params, 1);
  const char* description = arg(params, 2);
  ConfigTable* table = state->getBlock()->getProperties();

  void* existing = nullptr;
  unsigned short size = 0;
  if (table->getObject(id, &existing, &size) == 0 && existing != nullptr) {
    state->log(SIP_LOG_ERROR, "Session %s exists", id);
    state->log(SIP_LOG_ERROR, "Session Name: %s", name);
    state->log(SIP_LOG_ERROR, "Session Desc: %s", description);
    return SIP_SESSION_EXISTS;
  }
  SipDialog* dialog = nullptr;
  try {
    dialog = new SipDialog(id);
    if (state->addSession(id, dialog) != 0)
      throw LibError("SessionCreate", "the Call-ID names another key of the block");
  } catch (const LibError& e) {
    delete dialog;
    state->log(SIP_LOG_ERROR, "Session %s error", id);
    state->log(SIP_LOG_ERROR, "Session Error: %s (%s)", e.getReason(), e.getLocation());
    return SIP_CREATE_ERROR;
  }
  // The callee's session reaches the connection the caller's INVITE came on.
  SipDialog* received = state->findReceived(id);
  if (received != nullptr && received->getConnection() != nullptr) {
    dialog->setConnection(received->getConnection());
    dialog->setPeer(received->getPeer());
  }
  state->log(SIP_LOG_PROGRESS, "Session %s created", id);
  state->log(SIP_LOG_PROGRESS, "Session Name: %s", name);
  state->log(SIP_LOG_PROGRESS, "Session Desc: %s", description);
  return SIP_DONE;
}

int SipCmdSessionSet::perform(Params* params, void* data) {
  SipBlockState* state = SipBlockState::of(static_cast<Block*>(data));
  if (state == nullptr) return SIP_SESSION_NOT_FOUND;
  const char* id = arg(params, 0);
  const char* key = arg(params, 1);
  const char* value = arg(params, 2);
  SipDialog* dialog = state->findSession(id);
  if (dialog == nullptr) {
    state->log(SIP_LOG_ERROR, "Session %s not found", id);
    return SIP_SESSION_NOT_FOUND;
  }
  if (dialog->set(key, value) != 0) {
    state->log(SIP_LOG_ERROR, "Session %s: Set Error for %s (value = %s)", id, key, value);
    return SIP_SET_ERROR;
  }
  state->log(SIP_LOG_ERROR, "Session %s: Set %s (value = %s)", id, key, value);
  return SIP_DONE;
}

int SipCmdSessionDestroy::perform(Params* params, void* data) {
  SipBlockState* state = SipBlockState::of(static_cast<Block*>(data));
  if (state == nullptr) return SIP_SESSION_NOT_FOUND;
  const char* id = arg(params, 0);
  if (state->destroySession(id) != 0) {
    state->log(SIP_LOG_ERROR, "Session %s not found", id);
    return SIP_SESSION_NOT_FOUND;
  }
  state->log(SIP_LOG_PROGRESS, "Session %s deleted", id);
  return SIP_DONE;
}

}  // namespace MorvaneLib
