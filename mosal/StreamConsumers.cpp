// Stream consumers: MultipartXMixedReplaceEC cuts a multipart/x-mixed-replace stream
// into parts whatever the size of the pieces it is given, and resynchronises on
// bad parts; FileWriterEC writes entities and parts to files.
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mosal/Hash.h"
#include "mosal/StreamConsumers.h"
#include "mosal/TextMessage.h"
#include "mosal/Trace.h"
#include "mosal_posix/File.h"
#include "mosal_posix/Stream.h"


namespace MorvaneLib {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Name compare without case, the name trimmed of trailing blanks.
bool nameIs(const char* name, unsigned len, const char* want) {
  while (len > 0 && isBlank(name[len - 1])) len--;
  return std::strlen(want) == len && strncasecmp(name, want, len) == 0;
}

// A part length: decimal, octal or 0x hexadecimal, 0..max, nothing after it.
int parseLength(const char* value, unsigned len, int max) {
  char text[32];
  if (len == 0 || len >= sizeof text) return -1;
  std::memcpy(text, value, len);
  text[len] = '\0';
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || v < 0 || v > max) return -1;
  return static_cast<int>(v);
}

}  // namespace

MultipartXMixedReplaceEC::MultipartXMixedReplaceEC(SharedHash*, const char* contentType)
    : consumers(new SharedHash(512)),
      mediaType(new DataBuf(128, 0, 128, ALLOC_ONCREATE)),
      stream(new DataBuf(4096, 2211, 8000000, ALLOC_ONCREATE)) {
  reset();
  if (contentType != nullptr) {
    const char* semi = std::strchr(contentType, ';');
    const char* eq = semi ? std::strchr(semi + 1, '=') : nullptr;
    if (eq != nullptr) {
      const char* b = eq + 1;
      const char* e = b;
      while (*e != '\0' && *e != ';') e++;
      while (e > b && isBlank(e[-1])) e--;
      char boundary[256];
      unsigned n = static_cast<unsigned>(e - b);
      if (n >= sizeof boundary) n = sizeof boundary - 1;
      std::memcpy(boundary, b, n);
      boundary[n] = '\0';
      MTRACE("MultipartXMixedReplaceEC: found boundary \"%s\"\n", boundary);
    }
  }
}

MultipartXMixedReplaceEC::~MultipartXMixedReplaceEC() {
  delete consumers;
  delete mediaType;
  delete stream;
}

void MultipartXMixedReplaceEC::reset() {
  stream->setLength(0);
  std::memset(mediaType->getData(), 0, mediaType->getSize());
  mediaType->setLength(0);
  boundarySeen = lengthSeen = typeSeen = inBody = firstChunk = false;
  partNumber = 0;
  bytesLeft = 0;
  phase = SEEK_BOUNDARY;
  partSize = -1;
  badSection = skipLine = false;
  start = scanned = 0;
  droppedParts = 0;
}

int MultipartXMixedReplaceEC::consume(TextMessage* message, char* data, unsigned n, void*) {
  if (n == 0 || data == nullptr) return -1;
  unsigned off = 0;
  while (off < n) {
    unsigned slice = n - off < SLICE ? n - off : static_cast<unsigned>(SLICE);
    compact();
    unsigned before = stream->getLength();
    if (stream->merge(data + off, slice) != 0 || stream->getLength() != before + slice) return -1;
    off += slice;
    if (process(message) < 0) return -1;
  }
  compact();
  return static_cast<int>(n);
}

void MultipartXMixedReplaceEC::compact() {
  unsigned len = stream->getLength();
  if (start >= len) {
    stream->setLength(0);
    start = 0;
    return;
  }
  // Move the rest down only when it is no longer than what was consumed, so
  // every byte is moved a bounded number of times.
  if (start > 0 && (start >= SLICE || start * 2 >= len)) {
    std::memmove(stream->getData(), stream->getData() + start, len - start);
    stream->setLength(len - start);
    start = 0;
  }
}

int MultipartXMixedReplaceEC::process(TextMessage* message) {
  for (;;) {
    char* d = stream->getData();
    unsigned len = stream->getLength();
    if (start >= len) return 0;

    if (phase == BODY) {
      unsigned avail = len - start;
      unsigned piece = avail < static_cast<unsigned>(bytesLeft) ? avail : static_cast<unsigned>(bytesLeft);
      int r = deliver(message, d + start, piece);
      start += piece;
      bytesLeft -= static_cast<int>(piece);
      firstChunk = false;
      if (bytesLeft == 0) {
        phase = SEEK_BOUNDARY;
        boundarySeen = lengthSeen = typeSeen = inBody = false;
      }
      if (r < 0) return -1;
      continue;
    }

    // Line phases: find the end of the next line.
    char* from = d + start + scanned;
    char* nl = static_cast<char*>(std::memchr(from, '\n', len - start - scanned));
    if (nl == nullptr) {
      scanned = len - start;
      if (scanned > MAX_LINE) {
        // Too long for a header line: drop what there is, and the rest up to
        // its line end when it comes.
        start = len;
        scanned = 0;
        skipLine = true;
        if (phase == HEADER) badSection = true;
      }
      return 0;
    }
    char* line = d + start;
    unsigned lineLen = static_cast<unsigned>(nl - line);
    start += lineLen + 1;
    scanned = 0;
    // However it arrived, a line longer than the limit counts for nothing.
    if (lineLen > MAX_LINE) skipLine = true;
    if (lineLen > 0 && line[lineLen - 1] == '\r') lineLen--;
    if (skipLine) {
      skipLine = false;
      if (phase == HEADER) badSection = true;
      continue;
    }
    switch (phase) {
      case SEEK_BOUNDARY:
        if (lineLen == 0) break;  // blank lines between parts and before the first
        // The boundary line is taken as it stands.
        boundarySeen = true;
        phase = HEADER;
        lengthSeen = typeSeen = badSection = false;
        partSize = -1;
        mediaType->getData()[0] = '\0';
        break;
      case RESYNC:
        if (lineLen >= 2 && line[0] == '-' && line[1] == '-') {
          boundarySeen = true;
          phase = HEADER;
          lengthSeen = typeSeen = badSection = false;
          partSize = -1;
          mediaType->getData()[0] = '\0';
        }
        break;
      case HEADER:
        if (lineLen == 0) {
          endOfSection();
        } else {
          headerLine(line, lineLen);
        }
        break;
      case BODY:
        break;
    }
  }
}

void MultipartXMixedReplaceEC::headerLine(char* line, unsigned len) {
  char* colon = static_cast<char*>(std::memchr(line, ':', len));
  if (colon == nullptr) return;
  unsigned nameLen = static_cast<unsigned>(colon - line);
  char* value = colon + 1;
  unsigned valueLen = len - nameLen - 1;
  while (valueLen > 0 && isBlank(*value)) {
    value++;
    valueLen--;
  }
  while (valueLen > 0 && isBlank(value[valueLen - 1])) valueLen--;
  if (nameIs(line, nameLen, "Content-Type")) {
    unsigned n = valueLen < mediaType->getSize() - 1 ? valueLen : mediaType->getSize() - 1;
    std::memcpy(mediaType->getData(), value, n);
    mediaType->getData()[n] = '\0';
    mediaType->setLength(n + 1);
    typeSeen = true;
  } else if (nameIs(line, nameLen, "Content-Length")) {
    partSize = parseLength(value, valueLen, MAX_PART);
    lengthSeen = true;
  }
}

void MultipartXMixedReplaceEC::endOfSection() {
  if (badSection || !lengthSeen || partSize < 0) {
    droppedParts++;
    MTRACE("MultipartXMixedReplaceEC: part dropped (no usable length)\n");
    phase = RESYNC;
    boundarySeen = lengthSeen = typeSeen = false;
    return;
  }
  partNumber++;
  firstChunk = true;
  bytesLeft = partSize;
  inBody = partSize > 0;
  phase = partSize > 0 ? BODY : SEEK_BOUNDARY;
}

int MultipartXMixedReplaceEC::deliver(TextMessage* message, char* data, unsigned n) {
  const char* type = mediaType->getData();
  EntityConsumer* c = reinterpret_cast<EntityConsumer*>(
      consumers->get(type, static_cast<unsigned>(std::strlen(type)) + 1));
  if (c == nullptr) {
    MTRACE("cannot find consumer %s\n", type);
    return 0;
  }
  part_info_t info;
  info.size = partSize;
  info.first = firstChunk;
  info.number = partNumber;
  return c->consume(message, data, n, &info) < 0 ? -1 : 0;
}

}  // namespace MorvaneLib

// ---------------------------------------------------------------- FileWriterEC

namespace MorvaneLib {

FileWriterEC::FileWriterEC(const char* n)
    : out(nullptr), name(new DataBuf(n ? n : "")), suffix(new DataBuf("")), directory(new DataBuf("")),
      fileOpen(false), plainName(true), fileBytes(0) {}

FileWriterEC::FileWriterEC(const char* n, const char* s)
    : out(nullptr), name(new DataBuf(n ? n : "")), suffix(new DataBuf(s ? s : "")),
      directory(new DataBuf("")), fileOpen(false), plainName(false), fileBytes(0) {}

FileWriterEC::~FileWriterEC() {
  closeFile();
  delete name;
  delete suffix;
  delete directory;
}

void FileWriterEC::setDirectory(const char* dir) {
  const char* d = dir ? dir : "";
  directory->xcopy(d, static_cast<unsigned>(std::strlen(d)) + 1);
}

void FileWriterEC::closeFile() {
  delete out;
  out = nullptr;
  fileOpen = false;
}

int FileWriterEC::openFile(const char* path) {
  closeFile();
  MTRACE("* creating file %s\n", path);
  try {
    out = new FileOutputStream(path);
  } catch (LibError& e) {
    MTRACE_ERR("consume: write error (%s)\n", e.getReason());
    return -1;
  }
  // The stream writes from the first byte without cutting: an older, longer
  // file of the same name must not leave its tail behind.
  if (::ftruncate(out->getDescriptor(), 0) != 0) {
    MTRACE_ERR("consume: write error (%s)\n", std::strerror(errno));
    closeFile();
    return -1;
  }
  fileOpen = true;
  fileBytes = 0;
  return 0;
}

int FileWriterEC::consume(TextMessage* message, char* data, unsigned n, void* context) {
  auto* part = static_cast<part_info_t*>(context);
  MTRACE("TOTAL BYTES IN ENTITY: %u\n", message != nullptr ? message->getEntitySize() : 0u);
  if (part != nullptr) {
    MTRACE("this part is %s\n", part->first ? "Yes" : "No");
    MTRACE("total part size is %d\n", part->size);
    MTRACE("this part is no. %d\n", part->number);
  }
  MTRACE("FileWriterEC: writing %u bytes\n", n);
  if (n == 0 || data == nullptr) {
    closeFile();
    finished.set(1);
    return -1;
  }
  written.set(written.get() + n);

  bool needFile = part != nullptr ? part->first || !fileOpen : !fileOpen;
  if (needFile) {
    std::string prefix;
    const char* dir = directory->getData();
    if (dir != nullptr && dir[0] != '\0') {
      File d(dir);
      if (!d.exists()) d.mkdirs();
      File again(dir);
      if (again.isDirectory()) prefix = dir;
    }
    std::string path;
    if (part == nullptr) {
      path = prefix + name->getData() + (plainName ? "" : suffix->getData());
    } else {
      char number[16];
      std::snprintf(number, sizeof number, "%04d", part->number);
      path = prefix + name->getData() + number + suffix->getData();
    }
    if (openFile(path.c_str()) != 0) return -1;
  }
  if (out->write(data, n) < 0) {
    MTRACE_ERR("consume: write error (%s)\n", out->getErrorString());
    return -1;
  }
  fileBytes += n;
  return static_cast<int>(n);
}

}  // namespace MorvaneLib
