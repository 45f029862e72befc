// URL: parsing, setters, percent encoding and decoding, rebuilding the text.
#include "mosal/URL.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mosal/Error.h"

namespace MorvaneLib {

const char _url_chars_allowed[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.,/?=@_-+&#";

namespace {

// A malloc'd copy of n bytes of s with a NUL after them; null if out of memory.
char* dupRange(const char* s, size_t n) {
  char* p = static_cast<char*>(std::malloc(n + 1));
  if (p == nullptr) return nullptr;
  std::memcpy(p, s, n);
  p[n] = '\0';
  return p;
}

// Replaces *field by a copy of value (null: absent). 0 or -1.
int replaceField(char** field, const char* value) {
  char* copy = nullptr;
  if (value != nullptr) {
    copy = dupRange(value, std::strlen(value));
    if (copy == nullptr) return -1;
  }
  std::free(*field);
  *field = copy;
  return 0;
}

// Lookup table of the bytes stringEncode leaves alone.
struct AllowedTable {
  bool ok[256];
  AllowedTable() {
    std::memset(ok, 0, sizeof ok);
    for (const char* p = _url_chars_allowed; *p; ++p) ok[static_cast<unsigned char>(*p)] = true;
  }
};

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

URL::URL(const char* src) {
  try {
    _parse(src ? src : "");
  } catch (...) {
    _freeAll();
    throw;
  }
}

URL::~URL() { _freeAll(); }

void URL::_freeAll() {
  std::free(text);
  std::free(scheme);
  std::free(user);
  std::free(pass);
  std::free(host);
  std::free(path);
  text = scheme = user = pass = host = path = nullptr;
}

void URL::_parse(const char* s) {
  const char* p = s;

  // Scheme: a ':' before any '/', not at position 0.
  const char* colon = std::strchr(p, ':');
  const char* slash = std::strchr(p, '/');
  if (colon != nullptr && colon != p && (slash == nullptr || colon < slash)) {
    scheme = dupRange(p, colon - p);
    if (scheme == nullptr) throw LibError("URL()", "Out of memory in scheme");
    p = colon + 1;
  }
  if (p[0] == '/' && p[1] == '/') p += 2;

  // The authority runs to the next '/' (or the end).
  const char* authEnd = std::strchr(p, '/');
  if (authEnd == nullptr) authEnd = p + std::strlen(p);

  // User information: before an '@' of the authority; the last ':' in it
  // separates user and password.
  const char* at = static_cast<const char*>(std::memchr(p, '@', authEnd - p));
  if (at != nullptr) {
    const char* sep = nullptr;
    for (const char* q = p; q < at; ++q)
      if (*q == ':') sep = q;
    if (sep != nullptr) {
      user = dupRange(p, sep - p);
      if (user == nullptr) throw LibError("URL()", "Out of memory in user");
      pass = dupRange(sep + 1, at - sep - 1);
      if (pass == nullptr) throw LibError("URL()", "Out of memory in pass");
    } else {
      user = dupRange(p, at - p);
      if (user == nullptr) throw LibError("URL()", "Out of memory in user");
    }
    p = at + 1;
  }

  // Host and port: ":" and 1-5 digits up to 65535 at the end of the host part.
  const char* hostEnd = authEnd;
  const char* q = authEnd;
  while (q > p && q[-1] >= '0' && q[-1] <= '9') --q;
  size_t digits = authEnd - q;
  if (digits >= 1 && digits <= 5 && q > p && q[-1] == ':') {
    unsigned v = 0;
    for (const char* d = q; d < authEnd; ++d) v = v * 10 + (*d - '0');
    if (v <= 65535) {
      port = static_cast<unsigned short>(v);
      hostEnd = q - 1;
    }
  }
  if (hostEnd > p) {
    host = dupRange(p, hostEnd - p);
    if (host == nullptr) throw LibError("URL()", "Out of memory in host");
  }

  // Path: the rest from its '/', or "/".
  p = authEnd;
  path = *p ? dupRange(p, std::strlen(p)) : dupRange("/", 1);
  if (path == nullptr) throw LibError("URL()", "Out of memory in path");
  for (char* b = path; *b; ++b)
    if (*b == '\\') *b = '/';
}

int URL::setScheme(const char* value) { return replaceField(&scheme, value); }
int URL::setUser(const char* value) { return replaceField(&user, value); }
int URL::setPass(const char* value) { return replaceField(&pass, value); }
int URL::setHost(const char* value) { return replaceField(&host, value); }
int URL::setPath(const char* value) { return replaceField(&path, value); }

int URL::encodePath() {
  if (path == nullptr) return 0;
  size_t n = std::strlen(path);
  char* enc = static_cast<char*>(std::malloc(3 * n + 1));
  if (enc == nullptr) return -1;
  stringEncode(path, enc);
  std::free(path);
  path = enc;
  return 0;
}

int URL::decodePath() {
  if (path == nullptr) return 0;
  stringDecode(path, path);  // never longer than the source: in place
  return 0;
}

char* URL::toString() {
  size_t n = 1;
  if (scheme) n += std::strlen(scheme) + 3;
  if (user) n += std::strlen(user) + 1;
  if (user && pass) n += std::strlen(pass) + 1;
  if (host) n += std::strlen(host);
  if (port) n += 6;
  if (path) n += std::strlen(path);
  char* out = static_cast<char*>(std::malloc(n));
  if (out == nullptr) return nullptr;
  char* w = out;
  auto put = [&w](const char* s) {
    size_t len = std::strlen(s);
    std::memcpy(w, s, len);
    w += len;
  };
  if (scheme) {
    put(scheme);
    put("://");
  }
  if (user) {
    put(user);
    if (pass) {
      put(":");
      put(pass);
    }
    put("@");
  }
  if (host) put(host);
  if (port) w += std::snprintf(w, 7, ":%u", static_cast<unsigned>(port));
  if (path) put(path);
  *w = '\0';
  std::free(text);
  text = out;
  return text;
}

char* URL::stringEncode(const char* src, char* dst) {
  static const AllowedTable allowed;
  static const char hex[] = "0123456789abcdef";
  char* w = dst;
  for (const unsigned char* s = reinterpret_cast<const unsigned char*>(src); *s; ++s) {
    if (allowed.ok[*s]) {
      *w++ = static_cast<char>(*s);
    } else {
      *w++ = '%';
      *w++ = hex[*s >> 4];
      *w++ = hex[*s & 15];
    }
  }
  *w = '\0';
  return dst;
}

char* URL::stringDecode(char* dst, const char* src) {
  char* w = dst;
  const char* s = src;
  while (*s) {
    int hi, lo;
    // s[1] is read only when it is not the NUL, s[2] only when s[1] is a digit.
    if (*s == '%' && (hi = hexValue(s[1])) >= 0 && (lo = hexValue(s[2])) >= 0) {
      *w++ = static_cast<char>(hi * 16 + lo);
      s += 3;
    } else {
      *w++ = *s++;
    }
  }
  *w = '\0';
  return dst;
}

}  // namespace MorvaneLib
