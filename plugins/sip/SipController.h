// SipController: the plug-in's registration with the block framework and
// the "SipController" block's handlers.
//
// mrb_register fills the plug-in record; the load entry registers the two
// protocol handlers "sip/2.0/TCP" and "sip/2.0/UDP" (one SipProtocol each,
// shared by every block of the manager), the unload entry unregisters and
// deletes them; the set-up entry gives each new block its properties
// ("Transport", "ListenPort", "RegistrarHost", "RegistrarPort"), its nine
// commands and its four handlers; the clean-up entry frees what the
// plug-in kept for a block whose thread has ended.
//
// Handlers run on the block's thread: reset ("R", event 0) opens the SIP
// server socket and stores it as the hidden object "_ts", quit ("Q", event
// 8) takes it off the block's loop; produce ("P") and consume ("C") do
// nothing.
#ifndef MRB_SIPCONTROLLER_H
#define MRB_SIPCONTROLLER_H

#include "framework/Block.h"
#include "framework/Plugin.h"

namespace MorvaneLib {

class BlockManager;

class SipReset : public BlockHandler {
 public:
  explicit SipReset(Block* block) : BlockHandler("R", block) {}
  using BlockHandler::perform;
  // 0; 2 when no protocol handler is registered for the transport or the
  // socket cannot be opened (the block's error text says why).
  int perform() override;
};

class SipQuit : public BlockHandler {
 public:
  explicit SipQuit(Block* block) : BlockHandler("Q", block) {}
  using BlockHandler::perform;
  // 0 in every case.
  int perform() override;
};

class SipProduce : public BlockHandler {
 public:
  explicit SipProduce(Block* block) : BlockHandler("P", block) {}
  using BlockHandler::perform;
  int perform() override { return 0; }
};

class SipConsume : public BlockHandler {
 public:
  explicit SipConsume(Block* block) : BlockHandler("C", block) {}
  using BlockHandler::perform;
  int perform() override { return 0; }
};

// The five record entries, exposed for the plug-in's own tests.
namespace SipEntries {
int load(BlockManager* manager);
int unload(BlockManager* manager);
int type(void* unused);
int setup(Block* block);
int cleanup(Block* block);
}  // namespace SipEntries

// The texts and version the record carries.
extern const char* const SIP_PLUGIN_NAME;         // "SipController"
extern const char* const SIP_PLUGIN_DESCRIPTION;
extern const char* const SIP_PLUGIN_COPYRIGHT;
extern const char* const SIP_DEFAULT_REGISTRAR;   // default "RegistrarHost"
enum : uint32_t { SIP_PLUGIN_VERSION = 0x00140000u };

// Fills a registration record as mrb_register does (0).
int sipFillRecord(plugin_record_t* record);

}  // namespace MorvaneLib

#endif
