// TextMessage: incremental parsing, header tables, reset and the wire form;
// HttpLikeMessage: Content-Type / Content-Length rules.
#include "mosal/TextMessage.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "mosal/Trace.h"

namespace MorvaneLib {

namespace {

const char kEmpty[] = "";

// Entries of the set-names list: one table index byte, then the name with NUL.
enum { TABLE_GENERAL = 0, TABLE_REQRES = 1, TABLE_ENTITY = 2 };

}  // namespace

TextMessage::TextMessage(SharedHash* desc, unsigned buckets, unsigned startSize,
                         unsigned entitySize, unsigned lineSize)
    : descriptors(desc),
      general(nullptr),
      reqres(nullptr),
      entity(nullptr),
      startLine(nullptr),
      raw(nullptr),
      current(nullptr),
      residue(nullptr),
      setNames(nullptr) {
  (void)entitySize;
  if (descriptors == nullptr) throw LibError("TextMessage()", "Invalid header descriptors table");
  try {
    general = new SharedHash(buckets);
    reqres = new SharedHash(buckets);
    entity = new SharedHash(buckets);
    startLine = new DataBuf(startSize, 0, BUFFER_LIMIT, ALLOC_ONCREATE);
    raw = new DataBuf(lineSize, 0, BUFFER_LIMIT, ALLOC_ONCREATE);
    current = new DataBuf(lineSize, 0, BUFFER_LIMIT, ALLOC_ONCREATE);
    residue = new DataBuf(RESIDUE_SIZE, 0, BUFFER_LIMIT, ALLOC_ONCREATE);
    setNames = new DataBuf(512, 0, BUFFER_LIMIT, ALLOC_ONCREATE);
  } catch (...) {
    delete general;
    delete reqres;
    delete entity;
    delete startLine;
    delete raw;
    delete current;
    delete residue;
    delete setNames;
    throw;
  }
  for (DataBuf* b : {startLine, raw, current, residue}) {
    std::memset(b->getData(), 0, b->getSize());
    b->setLength(0);
  }
}

TextMessage::~TextMessage() {
  MTRACE("TextMessage::~TextMessage(): entering\n");
  delete general;
  delete reqres;
  delete entity;
  delete startLine;
  delete raw;
  delete current;
  delete residue;
  delete setNames;
  MTRACE("TextMessage::~TextMessage(): deleted\n");
}

int TextMessage::_fail(const char* why) {
  rejected = true;
  errorText = const_cast<char*>(why);
  MTRACE("TextMessage: message rejected: %s\n", why);
  return -1;
}

// ---------------------------------------------------------------- headers

void TextMessage::_noteSet(int tableIndex, const char* name, unsigned klen) {
  if (setNamesOverflow) return;
  unsigned before = setNames->getLength();
  char tag = static_cast<char>(tableIndex);
  setNames->merge(&tag, 1);
  setNames->merge(name, klen);
  if (setNames->getLength() != before + 1 + klen) setNamesOverflow = true;
}

int TextMessage::setHeader(const char* name, const char* value) {
  if (name == nullptr) return 106;
  if (value == nullptr) value = kEmpty;
  return _fileHeader(name, static_cast<unsigned>(std::strlen(name)) + 1, value,
                     static_cast<unsigned>(std::strlen(value)) + 1, false);
}

// klen and vlen count the NULs. `fromParse`: the value comes from a received
// line, which cannot hold a CR or LF.
int TextMessage::_fileHeader(const char* name, unsigned klen, const char* value, unsigned vlen,
                             bool fromParse) {
  char* code = descriptors->get(name, klen);
  if (code == nullptr) return 106;

  SharedHash* table;
  int index;
  const char* label;
  switch (*code) {
    case GENERAL:
      table = general;
      index = TABLE_GENERAL;
      label = "GENERAL";
      break;
    case REQRES:
    case REQRES_ALT:
      table = reqres;
      index = TABLE_REQRES;
      label = "REQRES";
      break;
    case ENTITY:
      table = entity;
      index = TABLE_ENTITY;
      label = "ENTITY";
      break;
    default:
      MTRACE("TextMessage: setHeader(): invalid header\n");
      return 106;
  }
  // A line break in a value would end the header early on the wire and let
  // the rest pass for further headers.
  if (!fromParse && std::strpbrk(value, "\r\n") != nullptr) {
    errorText = const_cast<char*>("line break in header value");
    return -1;
  }
  int ret = table->put(name, klen, value, vlen, true);
  MTRACE("TextMessage: setHeader(): %s (ret = %d)\n", label, ret);
  MTRACE("TextMessage: setHeader(): name=%s, value=%s\n", name, value);
  if (ret == 0 && vlen > 1) _noteSet(index, name, klen);
  if (ret == -1) errorText = const_cast<char*>("out of memory");
  return ret;
}

int TextMessage::setHeader(char* line, unsigned size) {
  if (line == nullptr) return 106;
  return _splitHeader(line, size, false);
}

int TextMessage::_splitHeader(char* line, unsigned size, bool fromParse) {
  char* limit = line + size;
  char* colon = static_cast<char*>(std::memchr(line, ':', size));
  char* value;
  char* end;
  unsigned nameLen;
  if (colon != nullptr) {
    *colon = '\0';
    nameLen = static_cast<unsigned>(strnlen(line, colon - line));
    value = colon + 1;
    // isspace in the C locale: blank, tab, LF, VT, FF, CR.
    while (value < limit && (*value == ' ' || (*value >= '\t' && *value <= '\r'))) ++value;
    end = static_cast<char*>(std::memchr(value, '\0', limit - value));
    if (end == nullptr) end = limit;
  } else {
    // No colon: the line (up to its first NUL) is the name, the value empty.
    end = static_cast<char*>(std::memchr(line, '\0', size));
    if (end == nullptr) end = limit;
    nameLen = static_cast<unsigned>(end - line);
    value = end;
  }
  *end = '\0';
  MTRACE("setHeader(): h = \"%s\", v = \"%s\"\n", line, value);
  return _fileHeader(line, nameLen + 1, value, static_cast<unsigned>(end - value) + 1, fromParse);
}

char* TextMessage::getHeader(const char* name) {
  if (name == nullptr) return nullptr;
  unsigned klen = static_cast<unsigned>(std::strlen(name)) + 1;
  const char* key = name;
  char* v = general->get(key, klen);
  if (v == nullptr) v = reqres->get(key, klen, false);
  if (v == nullptr) v = entity->get(key, klen, false);
  if (v == nullptr || *v == '\0') return nullptr;
  return v;
}

// ---------------------------------------------------------------- parsing

int TextMessage::parse(const char* data, unsigned size) {
  MTRACE("TextMessage: parse (message size %u)\n", size);
  if (rejected) return -1;
  if (data == nullptr) size = 0;
  if (completed) {
    // Bytes after a complete message belong to what follows it.
    unsigned before = residue->getLength();
    if (residue->merge(data, size) != 0 || residue->getLength() != before + size)
      return _fail("residue too long");
    return 0;
  }
  if (!linePending) raw->setLength(0);  // a new line starts the buffer
  const char* in = data;
  unsigned left = size;
  while (left > 0) {
    // The raw buffer holds only a pending partial line here.
    unsigned have = raw->getLength();
    unsigned room = BUFFER_LIMIT - have;
    if (room == 0) return _fail("header section too long");
    unsigned n = left < room ? left : room;
    if (raw->merge(in, n) != 0 || raw->getLength() != have + n) return _fail("out of memory");
    in += n;
    left -= n;
    int r = _feed(in, left);
    if (r != 0 || completed) return r;
  }
  return 0;
}

// Scans the raw buffer; on completion the residue gets the rest of the raw
// buffer followed by `rest` (bytes of the chunk not yet put into it).
int TextMessage::_feed(const char* rest, unsigned restLen) {
  unsigned endPos = 0;
  int r = _scan(&endPos);
  if (r < 0) return r;
  if (r == 0) return 0;
  unsigned tail = raw->getLength() - endPos;
  MTRACE("End of Message found\n");
  MTRACE("rawmessage: size = %u, count = %u\n", raw->getSize(), raw->getLength());
  MTRACE("residue = %u\n", tail + restLen);
  residue->setLength(0);
  if (static_cast<unsigned long long>(tail) + restLen > BUFFER_LIMIT)
    return _fail("residue too long");
  if (tail > 0 && (residue->merge(raw->getData() + endPos, tail) != 0 ||
                   residue->getLength() != tail))
    return _fail("out of memory");
  if (restLen > 0 && (residue->merge(rest, restLen) != 0 ||
                      residue->getLength() != tail + restLen))
    return _fail("out of memory");
  raw->setLength(0);
  return 0;
}

// 1: the empty line was found (*endPos: first byte after it); 0: all lines
// taken, possibly one left pending at the start of the raw buffer; -1: reject.
int TextMessage::_scan(unsigned* endPos) {
  char* buf = raw->getData();
  const unsigned len = raw->getLength();
  unsigned pos = 0;
  while (pos < len) {
    // First LF, then a CR before it (normally the byte just before). The
    // part of a pending line scanned in earlier calls holds neither.
    unsigned from = pos + scanned;
    scanned = 0;
    const char* lf = static_cast<const char*>(std::memchr(buf + from, '\n', len - from));
    unsigned e = lf ? static_cast<unsigned>(lf - buf) : len;
    const char* cr = static_cast<const char*>(std::memchr(buf + from, '\r', e - from));
    if (cr != nullptr) e = static_cast<unsigned>(cr - buf);
    // No line end yet, or a CR whose LF may be in the next chunk.
    if (e == len || (buf[e] == '\r' && e + 1 == len)) {
      unsigned partial = len - pos;
      if (static_cast<unsigned long long>(sectionBytes) + partial > MAX_SECTION)
        return _fail("header section too long");
      if (pos > 0) std::memmove(buf, buf + pos, partial);
      raw->setLength(partial);
      linePending = true;
      scanned = e == len ? partial : partial - 1;  // a final CR is looked at again
      return 0;
    }
    linePending = false;
    unsigned term = (buf[e] == '\r' && buf[e + 1] == '\n') ? 2 : 1;
    sectionBytes += e - pos + term;
    if (sectionBytes > MAX_SECTION) return _fail("header section too long");
    buf[e] = '\0';
    if (term == 2) buf[e + 1] = '\0';
    unsigned s = pos;
    while (s < e && (buf[s] == ' ' || buf[s] == '\t')) ++s;
    pos = e + term;
    unsigned lineLen = e - s;
    if (lineLen == 0) {
      if (lineCount == 0) continue;  // blank lines before the start line
      completed = true;
      lineCount = 0;
      *endPos = pos;
      return 1;
    }
    int r = _interpretLine(buf + s, lineLen);
    if (r < 0) return r;
  }
  raw->setLength(0);
  return 0;
}

// One non-empty line of `len` bytes, NUL-terminated in the raw buffer.
int TextMessage::_interpretLine(char* line, unsigned len) {
  // One copy into the current-line buffer (it grows for long lines; the
  // section limit bounds it). Only the bytes used are written, no zeroing.
  if (current->xcopy(line, len + 1) != 0 || current->getLength() != len + 1)
    return _fail("out of memory");
  char* cur = current->getData();
  ++lineCount;
  if (lineCount == 1) {
    if (len + 1 > startLine->getSize()) MTRACE("TextMessage: Set start line (%d)\n", 100);
    if (startLine->xcopy(cur, len + 1) != 0 || startLine->getLength() != len + 1)
      return _fail("out of memory");
    startLine->setLength(len);  // stored without its NUL, which follows it
    return 0;
  }
  // The line as a text: up to its first NUL.
  unsigned size = static_cast<unsigned>(strnlen(cur, len));
  int ret = _splitHeader(cur, size, true);
  if (ret != 0) MTRACE("TextMessage: Set header (%d)\n", ret);
  return 0;
}

// ---------------------------------------------------------------- reset

void TextMessage::_clearBuffer(DataBuf* b) {
  // The bytes past the length are never read as content: clearing the used
  // part keeps every buffer a valid empty text without touching all of it.
  unsigned used = b->getLength();
  if (used < b->getSize()) ++used;
  std::memset(b->getData(), 0, used);
  b->setLength(0);
}

int TextMessage::_blankTable(SharedHash* table) {
  Enumeration* keys = table->keys();
  while (keys->hasMoreElements()) {
    enum_elem_t* e = keys->nextElement();
    if (table->put(e->data, e->length, kEmpty, 1, true) != 0) return -1;
  }
  return 0;
}

int TextMessage::reset() { return _reset(true); }

int TextMessage::_reset(bool clearRaw) {
  linePending = false;
  completed = false;
  lineCount = 0;
  sectionBytes = 0;
  scanned = 0;
  rejected = false;
  errorText = nullptr;
  SharedHash* tables[3] = {general, reqres, entity};
  if (setNamesOverflow) {
    for (SharedHash* t : tables)
      if (_blankTable(t) != 0) return -1;
    setNamesOverflow = false;
  } else {
    // Only headers set since the last reset hold a value.
    char* p = setNames->getData();
    char* end = p + setNames->getLength();
    while (p < end) {
      SharedHash* t = tables[static_cast<unsigned char>(*p)];
      char* name = p + 1;
      unsigned klen = static_cast<unsigned>(std::strlen(name)) + 1;
      if (t->put(name, klen, kEmpty, 1, true) != 0) return -1;
      p = name + klen;
    }
  }
  setNames->setLength(0);
  _clearBuffer(startLine);
  if (clearRaw) _clearBuffer(raw);
  _clearBuffer(current);
  _clearBuffer(residue);
  return 0;
}

int TextMessage::resetForNext(unsigned used) {
  unsigned have = residue->getLength();
  unsigned keep = used < have ? have - used : 0;
  // The kept bytes move to the raw buffer, where parsing works on them.
  if (raw->xcopy(residue->getData() + (have - keep), keep) != 0 || raw->getLength() != keep) {
    reset();
    return _fail("out of memory");
  }
  if (_reset(false) != 0) return -1;
  if (keep == 0) return 0;
  return _feed(nullptr, 0);
}

// ---------------------------------------------------------------- wire form

bool TextMessage::_append(const char* src, unsigned n) {
  unsigned before = raw->getLength();
  return raw->merge(src, n) == 0 && raw->getLength() == before + n;
}

bool TextMessage::_appendTable(SharedHash* table) {
  Enumeration* keys = table->keys();
  while (keys->hasMoreElements()) {
    enum_elem_t* e = keys->nextElement();
    char* name = e->data;
    char* value = table->get(name, e->length);
    if (value == nullptr || *value == '\0') continue;
    unsigned nameLen = static_cast<unsigned>(strnlen(name, e->length));
    if (!_append(name, nameLen) || !_append(": ", 2) ||
        !_append(value, static_cast<unsigned>(std::strlen(value))) || !_append("\r\n", 2))
      return false;
  }
  return true;
}

DataBuf* TextMessage::getMessageBuffer() {
  _clearBuffer(raw);
  linePending = false;
  scanned = 0;
  const char* sl = startLine->getData();
  unsigned slLen = static_cast<unsigned>(strnlen(sl, startLine->getLength()));
  if (!_append(sl, slLen) || !_append("\r\n", 2) || !_appendTable(general) ||
      !_appendTable(reqres) || !_appendTable(entity) || !_append("\r\n", 2)) {
    errorText = const_cast<char*>("wire form too long");
    return nullptr;
  }
  return raw;
}

// ---------------------------------------------------------------- HTTP-like

long long HttpLikeMessage::_contentLength() {
  char* v = getHeader("Content-Length");
  if (v == nullptr) return -1;
  const char* p = v;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  if (*p == '-') return 0;
  unsigned long long n = std::strtoull(p, nullptr, 0);
  return n > UINT_MAX ? static_cast<long long>(UINT_MAX) : static_cast<long long>(n);
}

bool HttpLikeMessage::isEntityPresent() {
  if (getHeader("Content-Type") == nullptr) return false;
  long long len = _contentLength();
  return len != 0;
}

unsigned HttpLikeMessage::getEntitySize() {
  long long len = _contentLength();
  return len < 0 ? 0u : static_cast<unsigned>(len);
}

char* HttpLikeMessage::getEntityKey() {
  char* v = getHeader("Content-Type");
  if (v == nullptr) return nullptr;
  char* semi = std::strchr(v, ';');
  if (semi != nullptr) {
    *semi = '\0';
    while (semi > v && (semi[-1] == ' ' || semi[-1] == '\t')) *--semi = '\0';
  }
  return *v ? v : nullptr;
}

HttpMessage::~HttpMessage() = default;

}  // namespace MorvaneLib
