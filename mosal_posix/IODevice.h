// IODevice: what the IOMonitor event loop drives. A device has a state; in
// every pass the loop calls the handler of that state and moves the device to
// the state that the handler's result code names (see IOMonitor.h).
//
// Devices are owned by whoever made them (or, once attached, by the owner of
// the monitor); the monitor deletes them only when told to (IOMonitor.h).
#ifndef MOSAL_POSIX_IODEVICE_H
#define MOSAL_POSIX_IODEVICE_H

#include "mosal/DataBuf.h"
#include "mosal/Error.h"

namespace MorvaneLib {

class IOMonitor;

class IODevice : public Error {
 public:
  // Device states.
  enum {
    STATE_READY = 0,        // onReady every pass
    STATE_INPUT_DONE = 1,   // onInputDone every pass
    STATE_OUTPUT_DONE = 2,  // onOutputDone every pass
    STATE_READING = 3,      // doRead when the descriptor is readable
    STATE_WRITING = 4,      // doWrite when the descriptor is writable
    STATUS_ERROR = 5,       // onError every pass until removed
    STATUS_EOF = 6,         // onEOF every pass until removed
    STATUS_EXTENDED = 7     // 7 and above: onExtendedStatus every pass
  };
  // Handler result codes: the state to go to next. Anything else: stay.
  enum {
    RESULT_READY = 1,        // -> STATE_READY
    RESULT_READ = 2,         // -> STATE_READING
    RESULT_WRITE = 3,        // -> STATE_WRITING
    RESULT_INPUT_DONE = 4,   // -> STATE_INPUT_DONE
    RESULT_OUTPUT_DONE = 5,  // -> STATE_OUTPUT_DONE
    RESULT_ERROR = 6,        // -> STATUS_ERROR
    RESULT_EOF = 7           // -> STATUS_EOF
  };
  // Handle type 1: getHandle() points to an int file descriptor that the
  // loop may give to select(). Devices of any other type never get
  // doRead/doWrite.
  enum { HANDLE_FD = 1 };
  enum { ERROR_SIZE = 50 };

  IODevice();
  ~IODevice() override;
  IODevice(const IODevice&) = delete;
  IODevice& operator=(const IODevice&) = delete;

  // The last failure's text (strerror(errno) for system failures).
  char* getErrorString() override { return _errorText; }

  virtual char* getID() = 0;
  virtual void setID(const char* id) = 0;
  virtual void* getHandle() = 0;
  virtual void setHandle(void* handle) = 0;
  virtual int read(char* buf, unsigned n) = 0;
  virtual int write(const char* buf, unsigned n) = 0;
  virtual int close() = 0;
  virtual int resume() = 0;
  virtual int doRead(IOMonitor* m) = 0;
  virtual int doWrite(IOMonitor* m) = 0;
  virtual int onError(IOMonitor* m) = 0;
  virtual int onEOF(IOMonitor* m) = 0;
  virtual int onInputDone(IOMonitor* m) = 0;
  virtual int onOutputDone(IOMonitor* m) = 0;
  virtual int onReady(IOMonitor* m) = 0;
  virtual int onExtendedStatus(IOMonitor* m) = 0;

  // The state is set by the creator before attach and by the loop after.
  int getState() const { return _state; }
  void setState(int s) { _state = s; }
  int getHandleType() const { return _handleType; }
  void setHandleType(int t) { _handleType = t; }
  int getReceivedBytes() const { return _received; }
  int getSentBytes() const { return _sent; }

 protected:
  // Cut to 49 characters.
  void setErrorText(const char* text);
  // strerror(errno).
  void setErrorFromErrno();

  DataBuf* _id;  // owned: identifier text (initially empty)
  int _state;
  int _handleType;
  int _received;
  int _sent;
  char _errorText[ERROR_SIZE];
};

}  // namespace MorvaneLib

#endif
