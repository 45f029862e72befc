// TextMessage, HttpLikeMessage, HttpMessage: HTTP-like text messages (start
// line, header lines, empty line), parsed incrementally from received chunks
// and built into their wire form for sending.
//
// Headers. A message accepts only headers that the protocol's descriptor
// table names (a SharedHash owned by the protocol: key = header name with its
// NUL, value = one byte class code: 1 general, 2 or 3 request/response,
// 4 entity). Each accepted header is filed into one of the message's three
// header tables. Names match byte for byte (case and blanks included). A
// header holds one value; setting it again replaces the value.
//
// Reading input (parse). Rules for input that the plain grammar leaves open:
//  - a line ends at CR LF, at a bare LF, or at a bare CR (a CR followed by
//    any byte but LF). A CR that is the last byte received so far waits for
//    the next chunk, so a CR LF split between two chunks is one line end;
//  - leading blanks and tabs of a line are removed (no header folding: such a
//    line is a line of its own); a line of blanks only is an empty line;
//  - empty lines before the start line are skipped (CR LF keep-alives between
//    messages on one stream); the first empty line after it ends the message;
//  - the header section of one message (every line and its line end, skipped
//    empty lines included) may hold at most MAX_SECTION = 65536 bytes. A
//    message that outgrows it, or whose bytes cannot be stored (memory), is
//    rejected: parse returns -1 and keeps returning -1 until reset();
//    getErrorString() names the cause. Lines and start lines longer than
//    their buffers are not truncated: the buffers grow up to that limit;
//  - bytes after the empty line (entity body, or the start of the next
//    message sent back to back) are kept whole in the residue buffer, also
//    when they arrive in later parse calls of a completed message. A residue
//    beyond 65536 bytes is rejected (-1), never cut. resetForNext() starts
//    the next message from the residue;
//  - NUL bytes inside a line are stored; text operations see the line up to
//    its first NUL.
//
// Empty values. reset() blanks header values instead of deleting entries, so
// a blank value means "not set in this message": getHeader() reads it as
// absent and getMessageBuffer() leaves it out.
//
// A message has no lock of its own: one thread uses it at a time. The header
// tables and the descriptor table lock themselves for every get and put.
#ifndef MOSAL_TEXTMESSAGE_H
#define MOSAL_TEXTMESSAGE_H

#include "mosal/DataBuf.h"
#include "mosal/Error.h"
#include "mosal/Hash.h"

namespace MorvaneLib {

class HttpSockFactory;

class TextMessage : public Error {
 public:
  // Header class codes of a descriptor table entry (3 is a second
  // request/response code; any other code is invalid).
  enum HeaderClass { GENERAL = 1, REQRES = 2, REQRES_ALT = 3, ENTITY = 4 };
  enum {
    MAX_SECTION = 65536,   // bytes of one header section
    BUFFER_LIMIT = 65536,  // growth limit of every buffer
    RESIDUE_SIZE = 256     // initial residue buffer size
  };

  // descriptors: borrowed, must outlive the message; null throws
  // LibError("TextMessage()", "Invalid header descriptors table").
  // buckets: of each of the three header tables; startSize: initial
  // start-line buffer; entitySize: accepted, unused; lineSize: initial raw
  // message and current-line buffers. Throws LibError from the tables and
  // buffers when memory runs out.
  TextMessage(SharedHash* descriptors, unsigned buckets, unsigned startSize, unsigned entitySize,
              unsigned lineSize);
  ~TextMessage() override;

  TextMessage(const TextMessage&) = delete;
  TextMessage& operator=(const TextMessage&) = delete;

  // Feeds the next received chunk (see the rules above). 0, or -1 when the
  // message is rejected. A completed message appends further bytes to its
  // residue.
  int parse(const char* data, unsigned size);

  // Files one header. 0; 106 when the descriptor table lacks the name or
  // gives it an invalid class; -1 when the value holds a CR or LF (it would
  // break the wire form) or memory runs out.
  int setHeader(const char* name, const char* value);
  // Splits "name: value" (name untrimmed, blanks after the colon skipped; no
  // colon: the whole line is the name, the value empty) and files it. Writes
  // NUL bytes into `line`, which must have room for size + 1 bytes (a C string
  // of `size` characters has). Returns what the two-text form returns.
  int setHeader(char* line, unsigned size);

  // The value of `name` from the general, then the request/response, then
  // the entity table; null when absent or blank. The text belongs to the
  // header table and is valid until the header is set again or reset().
  char* getHeader(const char* name);

  // Prepares for the next message: flags cleared, every header value blanked
  // (names stay), buffers emptied. 0, or -1 if blanking a header fails.
  int reset();
  // Starts the next message of the same stream: keeps the residue bytes
  // after the first `used` (those the caller took as this message's entity),
  // resets, and parses the kept bytes. Returns that parse's result;
  // isCompleted() then says whether they held a whole message.
  int resetForNext(unsigned used);

  // Builds the wire form into the raw message buffer: start line, CR LF,
  // each non-blank general, request/response and entity header (in table
  // enumeration order) as "name: value" CR LF, then CR LF. The buffer is the
  // message's, valid until the next parse, reset or getMessageBuffer; null if
  // it cannot hold the form.
  DataBuf* getMessageBuffer();
  // Bytes that followed the empty line; owned by the message.
  DataBuf* getResidueData() { return residue; }
  // The start line (NUL-terminated; length without or with the NUL). An
  // outgoing message gets its start line by copying it, NUL included, here.
  DataBuf* getStartLine() { return startLine; }

  // The tables are for reading: headers are filed through setHeader, and
  // reset() blanks what setHeader filed.
  SharedHash* getHeaderDescriptors() { return descriptors; }
  SharedHash* getGeneralHeaders() { return general; }
  SharedHash* getReqResHeaders() { return reqres; }
  SharedHash* getEntityHeaders() { return entity; }
  int getLineCount() const { return lineCount; }
  bool isLinePending() const { return linePending; }

  virtual bool isCompleted() { return completed; }
  // No entity rules in a plain text message: false, null, 0.
  virtual bool isEntityPresent() { return false; }
  virtual char* getEntityKey() { return nullptr; }
  virtual unsigned getEntitySize() { return 0; }

  // Text of the last rejection or failure; null when none.
  char* getErrorString() override { return errorText; }

 private:
  int _feed(const char* rest, unsigned restLen);
  int _scan(unsigned* endPos);
  int _interpretLine(char* line, unsigned len);
  int _fileHeader(const char* name, unsigned klen, const char* value, unsigned vlen,
                  bool fromParse);
  int _splitHeader(char* line, unsigned size, bool fromParse);
  int _fail(const char* why);
  int _reset(bool clearRaw);
  int _blankTable(SharedHash* table);
  bool _append(const char* src, unsigned n);
  bool _appendTable(SharedHash* table);
  void _clearBuffer(DataBuf* b);
  void _noteSet(int tableIndex, const char* name, unsigned klen);

  SharedHash* descriptors;  // borrowed
  SharedHash* general;      // owned
  SharedHash* reqres;       // owned
  SharedHash* entity;       // owned
  DataBuf* startLine;
  DataBuf* raw;
  DataBuf* current;
  bool completed = false;
  bool linePending = false;
  int lineCount = 0;
  DataBuf* residue;

  // Bytes of the header section read so far (limit MAX_SECTION).
  unsigned sectionBytes = 0;
  // Leading bytes of the pending line already known to hold no line end.
  unsigned scanned = 0;
  bool rejected = false;
  char* errorText = nullptr;  // static text, not owned
  // Table index byte + name with NUL for every header set since the last
  // reset, so reset blanks those alone; when it overflows, reset blanks
  // every entry of the three tables.
  DataBuf* setNames;
  bool setNamesOverflow = false;
};

// HTTP-like entity rules on top of TextMessage.
class HttpLikeMessage : public TextMessage {
 public:
  // For a protocol object: anything with `SharedHash* getHeaderDescriptors()`
  // (the connections' Protocol). A null protocol gives a null table and so
  // the TextMessage() exception. The protocol is borrowed.
  template <class P>
  HttpLikeMessage(P* protocol, unsigned buckets, unsigned startSize, unsigned entitySize,
                  unsigned lineSize)
      : TextMessage(protocol ? protocol->getHeaderDescriptors() : nullptr, buckets, startSize,
                    entitySize, lineSize) {}
  HttpLikeMessage(SharedHash* descriptors, unsigned buckets, unsigned startSize,
                  unsigned entitySize, unsigned lineSize)
      : TextMessage(descriptors, buckets, startSize, entitySize, lineSize) {}

  // True when Content-Type is set and Content-Length is absent or not 0
  // (read in base 0: 0x10 is 16, 010 is 8). A negative or non-numeric
  // Content-Length reads as 0.
  bool isEntityPresent() override;
  // The Content-Type media type: the stored value is cut at its first ';'
  // (blanks before it removed) and returned; null when absent. The text
  // belongs to the header table.
  char* getEntityKey() override;
  // Content-Length in base 0; 0 when absent, negative or non-numeric;
  // values above 4294967295 read as 4294967295.
  unsigned getEntitySize() override;

 private:
  // Content-Length as a number, -1 when absent, 0 when unusable.
  long long _contentLength();
};

// The HTTP client's message: remembers the factory that created it.
class HttpMessage : public HttpLikeMessage {
 public:
  // factory: borrowed; anything with getHeaderDescriptors() that converts to
  // HttpSockFactory* (the HTTP client's protocol object).
  template <class F>
  HttpMessage(F* factory, unsigned buckets, unsigned startSize, unsigned entitySize,
              unsigned lineSize)
      : HttpLikeMessage(factory, buckets, startSize, entitySize, lineSize), factory(factory) {}
  ~HttpMessage() override;

  HttpSockFactory* getFactory() { return factory; }

 private:
  HttpSockFactory* factory;  // borrowed
};

}  // namespace MorvaneLib

#endif
