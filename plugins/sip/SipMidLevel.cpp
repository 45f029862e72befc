// SipMidLevel: formatting and splitting of mid-level request lines.
#include "plugins/sip/SipMidLevel.h"

#include <cctype>
#include <cstring>
#include <string>

namespace MorvaneLib {

const char* const SipMidLevel::PLACEHOLDER = "-";
const char* const SipMidLevel::AGENT = "TAMVO HOME 1.0";

namespace {

// Appends one value between double quotes, escaping quotes and backslashes.
// False when the value cannot travel in a line.
bool appendQuoted(std::string* out, const char* value) {
  if (value == nullptr) value = "";
  size_t n = std::strlen(value);
  if (n > SipMidLevel::VALUE_MAX) return false;
  out->push_back(' ');
  out->push_back('"');
  for (size_t i = 0; i < n; ++i) {
    char c = value[i];
    if (c == '\r' || c == '\n') return false;
    if (c == '"' || c == '\\') out->push_back('\\');
    out->push_back(c);
  }
  out->push_back('"');
  return true;
}

// The method, the first value, the bare version word, then the rest.
int finish(char* line, unsigned size, const char* method, const char* const* values,
           unsigned count) {
  if (line == nullptr || size == 0) return -1;
  line[0] = '\0';
  std::string out(method);
  bool ok = appendQuoted(&out, values[0]);
  out += " SIP/2.0";
  for (unsigned i = 1; ok && i < count; ++i) ok = appendQuoted(&out, values[i]);
  if (!ok || out.size() + 1 > size) return -1;
  std::memcpy(line, out.c_str(), out.size() + 1);
  return 0;
}

inline bool isBlank(char c) { return c == ' ' || c == '\t'; }
inline bool isSpace7(char c) { return std::isspace(static_cast<unsigned char>(c) & 0x7f) != 0; }
inline bool isTrailJunk(char c) {
  unsigned char u = static_cast<unsigned char>(c) & 0x7f;
  return std::isspace(u) != 0 || std::iscntrl(u) != 0;
}

// Trims and stores one value; -1 when params is full or the value is too long.
int store(Params* params, const std::string& piece, bool keepEmpty) {
  size_t b = 0, e = piece.size();
  while (b < e && isSpace7(piece[b])) ++b;
  while (e > b && isTrailJunk(piece[e - 1])) --e;
  if (b == e && !keepEmpty) return 0;
  if (e - b > static_cast<size_t>(params->getSlotSize()) - 1) return -1;
  return params->add(piece.data() + b, static_cast<unsigned>(e - b));
}

}  // namespace

int SipMidLevel::formatInvite(char* line, unsigned size, const SipInviteValues& v) {
  const char* values[] = {v.to,       v.videoPort, v.audioPort,   v.textPort, v.whiteBoardPort,
                          v.natted,   v.to,        v.from,        v.callId,   "1 INVITE",
                          "70",       v.protocolName, PLACEHOLDER, "0",       v.contact,
                          AGENT,      v.organization, v.expires};
  return finish(line, size, "INVITE", values, sizeof values / sizeof values[0]);
}

int SipMidLevel::formatBye(char* line, unsigned size, const SipByeValues& v) {
  const char* values[] = {v.to,   v.to,           v.from,      v.callId,  "1 BYE",
                          "70",   v.protocolName, PLACEHOLDER, "0",       v.contact,
                          AGENT,  v.organization};
  return finish(line, size, "BYE", values, sizeof values / sizeof values[0]);
}

int SipMidLevel::split(Params* params, const char* text) {
  if (params == nullptr) return -1;
  if (text == nullptr) return 0;
  const char* p = text;
  std::string piece;
  while (*p != '\0') {
    if (isBlank(*p)) {
      ++p;
      continue;
    }
    piece.clear();
    if (*p == '"') {
      ++p;
      while (*p != '\0' && *p != '"') {
        if (*p == '\\' && p[1] != '\0') ++p;
        piece.push_back(*p++);
      }
      if (*p == '"') ++p;
      if (store(params, piece, true) != 0) return -1;
    } else {
      while (*p != '\0' && !isBlank(*p) && *p != '"') piece.push_back(*p++);
      if (store(params, piece, false) != 0) return -1;
    }
  }
  return 0;
}

}  // namespace MorvaneLib
