// SipHousekeeper: a device without descriptor on a block's event loop that
// frees the connections the block is done with, once the loop has let go of
// them.
//
// A connection that ends queues its own removal from the loop; the loop
// takes it out of its table at the end of that pass, and does not delete
// it. The housekeeper is called (onReady) in every pass and deletes each
// device handed to it two of its own passes later, when no pass can still
// be using it. A device given up from outside the dispatch (a command, a
// reset) has its removal queued by the housekeeper itself, in its next
// pass: by then the loop has moved a device attached just before into its
// table, so the removal cannot miss it. Runs only on the loop's thread.
#ifndef MRB_SIPHOUSEKEEPER_H
#define MRB_SIPHOUSEKEEPER_H

#include <deque>

#include "mosal_posix/IODevice.h"

namespace MorvaneLib {

class SipHousekeeper : public IODevice {
 public:
  SipHousekeeper();
  // Deletes every device still waiting: only when no loop serves them.
  ~SipHousekeeper() override;

  // Takes `device` (ownership passes to the housekeeper). With
  // `queueRemoval` the housekeeper queues its removal from the loop in its
  // next pass; otherwise the device has queued it already. Loop's thread.
  void retire(IODevice* device, bool queueRemoval);
  // Devices waiting to be deleted.
  unsigned waiting() const { return static_cast<unsigned>(_retired.size()); }

  char* getID() override;
  void setID(const char* id) override;
  void* getHandle() override { return &_handle; }
  void setHandle(void*) override {}
  int read(char*, unsigned) override { return -1; }
  int write(const char*, unsigned) override { return -1; }
  int close() override { return 0; }
  int resume() override { return -1; }
  // Never called (no descriptor): 6.
  int doRead(IOMonitor*) override { return RESULT_ERROR; }
  int doWrite(IOMonitor*) override { return RESULT_ERROR; }
  // Queue the housekeeper's removal.
  int onError(IOMonitor* m) override;
  int onEOF(IOMonitor* m) override;
  int onInputDone(IOMonitor*) override { return RESULT_READY; }
  int onOutputDone(IOMonitor*) override { return RESULT_READY; }
  // One pass: deletes what was retired two passes ago or earlier; 1 (stay ready).
  int onReady(IOMonitor* m) override;
  int onExtendedStatus(IOMonitor* m) override { return onError(m); }

 private:
  struct Retired {
    IODevice* device;
    unsigned long pass;
    bool queueRemoval;
  };
  std::deque<Retired> _retired;
  unsigned long _pass;
  int _handle;
};

}  // namespace MorvaneLib

#endif
