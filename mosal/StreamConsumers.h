// Stream consumers of the HTTP client: MultipartXMixedReplaceEC, which cuts a
// multipart/x-mixed-replace picture stream into parts, and FileWriterEC, which
// writes an entity (or each part of one) to a file.
#ifndef MOSAL_STREAMCONSUMERS_H
#define MOSAL_STREAMCONSUMERS_H

#include "mosal/DataBuf.h"
#include "mosal/Entity.h"
#include "mosal/SharedValues.h"

namespace MorvaneLib {

class SharedHash;
class FileOutputStream;

// Handed as the context to the consumer of each piece of a part.
struct part_info_t {
  int size;     // bytes of the whole part (valid on every piece)
  bool first;   // true for the first piece of a part
  int number;   // parts are counted from 1
};

// Splits a multipart/x-mixed-replace stream. Each part is a header section
// (a boundary line, then header lines, then an empty line) followed by exactly
// Content-Length bytes of body. The body goes, piece by piece, to the consumer
// registered in getPartConsumers() under the part's Content-Type.
//
// Tolerated: blank lines before a boundary line (also at the start of the
// stream), header names in any case, header lines in any order and lines it
// does not know, bare LF line ends. A part whose length is missing, negative,
// unreadable or above MAX_PART is dropped, and so is a header section with a
// line longer than MAX_LINE; the splitter then skips to the next line that
// starts with "--" (the next boundary) and goes on from there.
class MultipartXMixedReplaceEC : public EntityConsumer {
 public:
  enum {
    MAX_LINE = 262144,   // longest header line kept while it is incomplete
    MAX_PART = 8000000,  // largest part accepted (the stream buffer's limit)
    SLICE = 65536        // input is buffered in slices of at most this size
  };

  // The table argument is not used; the content type, if given, is only
  // inspected for its boundary parameter (traced).
  MultipartXMixedReplaceEC(SharedHash* unused, const char* contentType);
  ~MultipartXMixedReplaceEC() override;

  // Returns n, or -1 at end of stream (n = 0) or when a part consumer refused.
  int consume(TextMessage* message, char* data, unsigned n, void* context) override;
  void reset();

  // Media type (with NUL) -> EntityConsumer* (pput, not owned); filled by the owner.
  SharedHash* getPartConsumers() { return consumers; }
  int getPartNumber() const { return partNumber; }
  // Parts dropped because their header was unusable.
  unsigned getDroppedParts() const { return droppedParts; }

 private:
  enum Phase { SEEK_BOUNDARY, HEADER, BODY, RESYNC };
  // Works through the buffered bytes; -1 when a consumer refused.
  int process(TextMessage* message);
  void headerLine(char* line, unsigned len);
  void endOfSection();
  int deliver(TextMessage* message, char* data, unsigned n);
  void compact();

  SharedHash* consumers;
  DataBuf* mediaType;
  DataBuf* stream;
  bool boundarySeen;
  bool lengthSeen;
  bool typeSeen;
  bool inBody;
  bool firstChunk;
  int partNumber;
  int bytesLeft;

  Phase phase;
  int partSize;        // -1 while no usable length has been read
  bool badSection;     // a line of the section was dropped as too long
  bool skipLine;       // discarding the rest of an over-long line
  unsigned start;      // first unprocessed byte in the stream buffer
  unsigned scanned;    // bytes after `start` already searched for a line end
  unsigned droppedParts;
};

// Writes what it consumes to a file: without part records to directory + name
// (+ suffix), with part records one file per part, "%s%s%04d%s" (directory,
// name, part number, suffix). The directory is a prefix: give it with its
// trailing "/"; it is created if missing. A file is written from its start and
// cut to what was written, so an older, longer file leaves nothing behind.
class FileWriterEC : public EntityConsumer {
 public:
  explicit FileWriterEC(const char* name);
  FileWriterEC(const char* name, const char* suffix);
  ~FileWriterEC() override;

  // The count written, or -1 at end of stream (n = 0) and on write errors.
  int consume(TextMessage* message, char* data, unsigned n, void* part) override;
  // Sets the directory prefix (copied).
  void setDirectory(const char* dir);
  unsigned getBytesWritten() { return written.get(); }
  // Whether the end of stream has been seen (the file is then closed).
  bool isFinished() { return finished.get() != 0; }

 private:
  int openFile(const char* path);
  void closeFile();

  FileOutputStream* out;
  SharedUint written;
  DataBuf* name;
  DataBuf* suffix;
  DataBuf* directory;
  bool fileOpen;
  bool plainName;
  SharedInt finished;
  unsigned fileBytes;  // bytes written into the open file
};

}  // namespace MorvaneLib

#endif
