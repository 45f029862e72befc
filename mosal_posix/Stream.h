// Byte streams: the abstract Stream, InputStream and OutputStream, and their
// file implementations FileInputStream and FileOutputStream over POSIX
// descriptors.
//
// Ownership: a stream made from a path owns the File it creates; a stream
// made from a File* borrows it (the caller keeps it alive and deletes it).
// Streams do not lock; one thread uses a stream at a time.
#ifndef MOSAL_POSIX_STREAM_H
#define MOSAL_POSIX_STREAM_H

#include "mosal/DataBuf.h"
#include "mosal/Error.h"

namespace MorvaneLib {

class File;

class Stream : public Error {
 public:
  // whence 0, 1, 2: from the start, the current position, the end.
  // The new position, or -1 (also for any other whence).
  virtual int seek(int offset, int whence) = 0;
};

class InputStream : public Stream {
 public:
  virtual int available() = 0;
  virtual void close() = 0;
  virtual void mark(int limit) = 0;
  virtual bool markSupported() = 0;
  virtual int read(char* c) = 0;
  virtual int read(char* buf, unsigned n) = 0;
  virtual int read(DataBuf* b) = 0;
  virtual int read(DataBuf* b, unsigned offset, unsigned n) = 0;
  virtual int reset() = 0;
  virtual int skip(int n) = 0;
};

class OutputStream : public Stream {
 public:
  virtual void close() = 0;
  virtual int write(char c) = 0;
  virtual int write(const char* buf, unsigned n) = 0;
  virtual int write(DataBuf* b) = 0;
  virtual int write(DataBuf* b, unsigned offset, unsigned n) = 0;
};

class FileInputStream : public InputStream {
 public:
  // Opens the file read-only. Throws LibError("FileInputStream()", <system
  // error text>) when it cannot be opened.
  explicit FileInputStream(const char* path);
  explicit FileInputStream(File* f);
  ~FileInputStream() override;
  FileInputStream(const FileInputStream&) = delete;
  FileInputStream& operator=(const FileInputStream&) = delete;

  int seek(int offset, int whence) override;

  // The file size taken when the File was made, minus the current position.
  int available() override;
  void close() override;
  // Marking is not supported: mark() and reset() only say so on stderr.
  void mark(int limit) override;
  bool markSupported() override { return false; }
  // One byte: 1, 0 at end of file, -1.
  int read(char* c) override;
  // Up to n bytes: the count (0 at end of file) or -1.
  int read(char* buf, unsigned n) override;
  // Up to b's size into its data; b's length becomes the count read.
  int read(DataBuf* b) override;
  // n above b's size: -1 "size greater than buffer size"; offset not below
  // both n and b's size: -1 "invalid offset". Otherwise reads up to
  // min(n, size - offset) bytes to data + offset; length = offset + count.
  int read(DataBuf* b, unsigned offset, unsigned n) override;
  int reset() override;
  // Positions at byte n counted from the start (not n bytes further).
  int skip(int n) override;

  char* getErrorString() override { return _error->getData(); }
  int getDescriptor() const { return _fd; }

 private:
  void _open(const char* where);
  int _fail(const char* text);
  int _failErrno();

  int _fd;
  File* _file;
  bool _ownFile;
  DataBuf* _error;  // owned, "No error" until the first failure
};

class FileOutputStream : public OutputStream {
 public:
  // Opens for writing, creating the file with mode 644 when missing. An
  // existing file is not truncated: writing starts at its first byte and
  // overwrites. Throws LibError("FileOutputStream()", <system error text>).
  explicit FileOutputStream(const char* path);
  explicit FileOutputStream(File* f);
  ~FileOutputStream() override;
  FileOutputStream(const FileOutputStream&) = delete;
  FileOutputStream& operator=(const FileOutputStream&) = delete;

  int seek(int offset, int whence) override;
  void close() override;
  int write(char c) override;
  // Writes all n bytes (retrying short writes): n, or -1.
  int write(const char* buf, unsigned n) override;
  // b's used bytes (its length).
  int write(DataBuf* b) override;
  // The checks of FileInputStream::read against b's length, then
  // min(n, length - offset) bytes from data + offset.
  int write(DataBuf* b, unsigned offset, unsigned n) override;

  // The text of the last failure ("No error" before any).
  char* getErrorString() override { return _error->getData(); }
  int getDescriptor() const { return _fd; }

 private:
  void _open();
  int _fail(const char* text);
  int _failErrno();

  int _fd;
  File* _file;
  bool _ownFile;
  DataBuf* _error;  // owned
};

}  // namespace MorvaneLib

#endif
