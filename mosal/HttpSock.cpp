// HttpSockFactory, HttpSock, HttpGet: the HTTP/1.0 protocol object, blocking
// GET, and the request-line command.
#include "mosal/HttpSock.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mosal/Hash.h"
#include "mosal/Trace.h"
#include "mosal/URL.h"

namespace MorvaneLib {

namespace {

const char* const kEntityHeaders[] = {"Content-Length", "Content-Type", "Content-Encoding"};
const char* const kGeneralHeaders[] = {"Host", "Server", "Date", "Connection", "Cache-Control", "Pragma"};

// The other spellings an HTTP peer may use for `name`.
std::vector<std::string> spellings(const char* name) {
  std::string lower(name), first(name);
  for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (size_t i = 1; i < first.size(); i++) first[i] = lower[i];
  std::vector<std::string> v;
  if (lower != name) v.push_back(lower);
  if (first != name && first != lower) v.push_back(first);
  return v;
}

}  // namespace

HttpSockFactory::HttpSockFactory() {
  serverInterp = new Interp(256, 256, 2048);
  clientInterp = new Interp(256, 256, 2048);
  name = new DataBuf("HTTP");
  version = new DataBuf("1.0");
  headers = new SharedHash(256);
  const char entityCode = 4, generalCode = 1;
  for (const char* h : kEntityHeaders) {
    headers->put(h, static_cast<unsigned>(std::strlen(h)) + 1, &entityCode, 1, false);
  }
  for (const char* h : kGeneralHeaders) {
    headers->put(h, static_cast<unsigned>(std::strlen(h)) + 1, &generalCode, 1, false);
  }
  for (const char* h : kEntityHeaders) {
    for (auto& v : spellings(h)) headers->put(v.c_str(), static_cast<unsigned>(v.size()) + 1, &entityCode, 1, false);
  }
  for (const char* h : kGeneralHeaders) {
    for (auto& v : spellings(h)) headers->put(v.c_str(), static_cast<unsigned>(v.size()) + 1, &generalCode, 1, false);
  }
  clientInterp->addCommand(new HttpGet());
}

HttpSock* HttpSockFactory::createClient() {
  HttpMessage* in = new HttpMessage(this, 1024, 1024, 32768, 8192);
  HttpMessage* out = nullptr;
  try {
    out = new HttpMessage(this, 1024, 1024, 32768, 8192);
    return new HttpSock(this, in, out, true, true, TextSock::MODE_CLIENT);
  } catch (...) {
    delete in;
    delete out;
    throw;
  }
}

HttpSock::HttpSock(HttpSockFactory* f, HttpMessage* in, HttpMessage* out, bool ownSock,
                   bool ownMessages, int mode)
    : HttpLikeSock(f, in, out, ownSock, ownMessages, mode), factory(f) {}

int HttpSock::doGet(const char* url) {
  try {
    URL u(url);
    return doGet(&u);
  } catch (LibError& e) {
    setErrorText(e.getReason());
    return -1;
  }
}

int HttpSock::doGet(URL* url) {
  if (url == nullptr || url->host == nullptr) return -1;
  unsigned short port = url->port != 0 ? url->port : 80;
  try {
    if (connect(1, url->host, port, 0) != 0) return -1;
  } catch (LibError& e) {
    setErrorText(e.getReason());
    return -1;
  }
  // The target in quotes stays one argument, blanks and all.
  std::string line = "GET \"";
  line += url->path != nullptr ? url->path : "/";
  line += "\" ";
  line += factory->getName();
  line += "/";
  line += factory->getVersion();
  line += " ";
  line += url->host;
  if (doRequest(line.c_str()) != 0) return -1;
  if (sendText() < 0) return -1;
  if (recvText() != 0 || !in->isCompleted()) {
    if (getErrorString()[0] == '\0') setErrorText("Incomplete answer");
    return -1;
  }
  if (!in->isEntityPresent()) return 0;
  const char* key = in->getEntityKey();
  if (key == nullptr) {
    MTRACE("Text message return a null entity key\n");
    return -1;
  }
  EntityConsumer* c = reinterpret_cast<EntityConsumer*>(
      consumers->get(key, static_cast<unsigned>(std::strlen(key)) + 1));
  if (c == nullptr) c = reinterpret_cast<EntityConsumer*>(consumers->get("<_DEFAULTEC_>", 14));
  if (c == nullptr) {
    MTRACE("Cannot find an entity consumer for %s\n", key);
    return -1;
  }
  if (recvEntity(c) < 0) return -1;
  // An entity announced with a length must arrive whole.
  if (entityLeft > 0) {
    setErrorText("Entity cut short");
    return -1;
  }
  return 0;
}

void HttpSock::_headersComplete() {
  auto canonical = [this](const char* name) {
    if (in->getHeader(name) != nullptr) return;
    for (auto& v : spellings(name)) {
      const char* value = in->getHeader(v.c_str());
      if (value != nullptr) {
        std::string copy(value);
        in->setHeader(name, copy.c_str());
        return;
      }
    }
  };
  for (const char* h : kEntityHeaders) canonical(h);
  for (const char* h : kGeneralHeaders) canonical(h);
}

HttpGet::HttpGet() : Command("GET", 1, 10) {}

int HttpGet::perform(Params* p, void* context) {
  auto* ctx = static_cast<request_context_t*>(context);
  if (ctx == nullptr || ctx->out == nullptr) {
    MTRACE("wa is null\n");
    return -1;
  }
  const char* target = p->getArg(0);
  const char* proto = p->getArg(1);
  char line[4096];
  std::snprintf(line, sizeof line, "%s %s %s", getName(), target ? target : "/", proto ? proto : "");
  ctx->out->getStartLine()->xcopy(line, static_cast<unsigned>(std::strlen(line)) + 1);
  const char* host = p->getArg(2);
  if (host != nullptr) ctx->out->setHeader("Host", host);
  return 0;
}

}  // namespace MorvaneLib
