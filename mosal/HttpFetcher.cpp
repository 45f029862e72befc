// HttpFetcher: background GETs on the fetcher's own event loop, with proxy
// settings and three kinds of destination.
#include "mosal/HttpFetcher.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "mosal/Hash.h"
#include "mosal/HttpSock.h"
#include "mosal/StreamConsumers.h"
#include "mosal/Trace.h"
#include "mosal/URL.h"

namespace MorvaneLib {

namespace {


// A fetch connection: owns the consumer made for it, tells the fetcher when
// it is gone (the loop deletes it once it has been removed).
class FetchSock : public HttpSock {
 public:
  FetchSock(HttpFetcher* f, HttpSockFactory* factory)
      : HttpSock(factory, new HttpMessage(factory, 1024, 1024, 32768, 8192),
                 new HttpMessage(factory, 1024, 1024, 32768, 8192), true, true, MODE_CLIENT),
        fetcher(f) {}
  ~FetchSock() override {
    delete ownedConsumer;
    if (counted) fetcher->_fetchEnded(this);
  }
  HttpFetcher* fetcher;
  EntityConsumer* ownedConsumer = nullptr;
  bool counted = false;
};

}  // namespace

HttpFetcher::HttpFetcher(const char* name, unsigned buckets)
    : Thread(name, 4, 10, 1, 10), IOMonitor(buckets), factory(new HttpSockFactory()), active(0),
      quitting(false) {
  for (int i = 0; i < FD_SETSIZE; i++) std::snprintf(idTexts[i], sizeof idTexts[i], "S%d", i);
  // Ended connections are removed by themselves and deleted by the loop.
  setDeleteRemoved(true);
}

HttpFetcher::~HttpFetcher() {
  // Whether or not the owner started the thread, and wherever its loop is,
  // make it leave: the flag is read at the start of every pass.
  quitting = true;
  stop();
  wakeup();
  setSkipRun(true);  // only matters if the thread was never started
  start();
  waitTermination();
  // The loop deleted what it still held when it stopped; connections that
  // were still waiting to be attached are deleted here. The factory goes last.
  for (;;) {
    connectionsLock.lock();
    FetchSock* c = connections.empty() ? nullptr : static_cast<FetchSock*>(*connections.begin());
    connectionsLock.unlock();
    if (c == nullptr) break;
    delete c;  // takes itself out of the set
  }
  delete factory;
}

void HttpFetcher::run() {
  if (!quitting) loop();
}

void HttpFetcher::onPreSelect() {
  if (quitting) {
    stop();
    wakeup();
  }
}

void HttpFetcher::onError() { MTRACE_ERR("%s: onError()\n", getName()); }

void HttpFetcher::_fetchStarted(void* c) {
  MutexLock l(connectionsLock);
  connections.insert(c);
  active++;
}

void HttpFetcher::_fetchEnded(void* c) {
  MutexLock l(connectionsLock);
  connections.erase(c);
  active--;
}

int HttpFetcher::fetchURL(const char* url, EntityConsumer* consumer, char** id) {
  return _fetch(url, WITH_CONSUMER, consumer, nullptr, nullptr, nullptr, id);
}

int HttpFetcher::fetchURL(const char* url, SharedHash* consumers, char** id) {
  return _fetch(url, WITH_TABLE, nullptr, consumers, nullptr, nullptr, id);
}

int HttpFetcher::fetchURL(const char* url, const char* directory, const char* fileName) {
  return _fetch(url, TO_FILE, nullptr, nullptr, directory, fileName, nullptr);
}

int HttpFetcher::_fetch(const char* url, Form form, EntityConsumer* consumer, SharedHash* table,
                        const char* directory, const char* fileName, char** id) {
  FetchSock* c = nullptr;
  try {
    URL u(url);
    if (u.host == nullptr || u.host[0] == '\0') {
      MTRACE_ERR("HttpFetcher: %s in %s\n", "No host in URL", "HttpFetcher::fetchURL()");
      return -1;
    }
    c = new FetchSock(this, factory);

    if (form == WITH_CONSUMER) {
      if (consumer != nullptr) c->addConsumer("<_DEFAULTEC_>", consumer);
    } else if (form == WITH_TABLE) {
      if (table != nullptr) {
        Enumeration* keys = table->keys();
        while (keys->hasMoreElements()) {
          enum_elem_t* k = keys->nextElement();
          void* p = table->get(k->data, k->length);
          const char* key = std::strcmp(k->data, "default") == 0 ? "<_DEFAULTEC_>" : k->data;
          c->addConsumer(key, static_cast<EntityConsumer*>(p));
        }
      }
    } else {
      std::string name;
      if (fileName != nullptr) {
        name = fileName;
      } else {
        const char* path = u.path != nullptr ? u.path : "/";
        const char* slash = std::strrchr(path, '/');
        name = slash != nullptr ? slash + 1 : path;
        if (name.empty()) name = "index.html";
      }
      MTRACE_ERR("Using filename: \"%s\"\n", name.c_str());
      FileWriterEC* w = new FileWriterEC(name.c_str());
      if (directory != nullptr) w->setDirectory(directory);
      c->ownedConsumer = w;
      c->addConsumer("<_DEFAULTEC_>", w);
    }

    std::string host;
    unsigned short port;
    bool proxied = useProxy.get() != 0;
    if (!proxied) {
      host = u.host;
      port = u.port != 0 ? u.port : 80;
      MTRACE_ERR("Not using proxy: %s on %d\n", host.c_str(), port);
    } else {
      host = proxyHost.get();  // copied at once: another thread may set it
      int pp = proxyPort.get();
      port = pp > 0 && pp <= 65535 ? static_cast<unsigned short>(pp) : 8080;
      MTRACE_ERR("Using proxy: %s on %d\n", host.c_str(), port);
    }

    if (c->connect(1, host.c_str(), port, 0) != 0) {
      MTRACE_ERR("HttpFetcher: %s in %s\n", c->getErrorString(), "HttpFetcher::fetchURL()");
      delete c;
      return -1;
    }

    // The target in quotes stays one argument of the interpreter.
    std::string target = proxied ? std::string(u.toString()) : std::string(u.path ? u.path : "/");
    char line[4096];
    int n = std::snprintf(line, sizeof line, "GET \"%s\" %s/%s %s", target.c_str(),
                          factory->getName(), factory->getVersion(), u.host);
    if (n < 0 || n >= static_cast<int>(sizeof line) || c->doRequest(line) != 0) {
      delete c;
      return -1;
    }
    // Writing: the connected socket is writable at once, so the request
    // goes out in the loop's next pass (a ready device would wait for some
    // descriptor to move first, the loop having no time-out).
    c->setState(IODevice::STATE_WRITING);
    int fd = *static_cast<int*>(c->getHandle());
    c->counted = true;
    _fetchStarted(c);
    if (attach(c) != 0) {
      delete c;  // uncounts itself
      return -1;
    }
    if (id != nullptr) *id = fd >= 0 && fd < FD_SETSIZE ? idTexts[fd] : nullptr;
    return 0;
  } catch (LibError& e) {
    MTRACE_ERR("HttpFetcher: %s in %s\n", e.getReason(), e.getLocation());
    delete c;
    return -1;
  }
}

}  // namespace MorvaneLib
