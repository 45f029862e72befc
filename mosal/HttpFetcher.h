// HttpFetcher: a thread running its own IOMonitor that performs HTTP GETs in
// the background, each fetch one connection whose entity goes to consumers.
//
// fetchURL may be called from any thread: it connects and builds the request
// on the caller's thread, then hands the connection to the fetcher's loop
// (which wakes at once). The loop owns the connections: each is deleted when
// it has ended (peer's end of stream, error), with the consumer fetchURL made
// for it (the file writer); consumers passed in stay the caller's and must
// outlive the fetch.
//
// The owner starts the thread (start()) and may set the proxy values at any
// time before a fetch. Destruction ends the loop, waits for the thread and
// deletes the connections still open.
#ifndef MOSAL_HTTPFETCHER_H
#define MOSAL_HTTPFETCHER_H

#include <sys/select.h>

#include <atomic>
#include <set>

#include "mosal/SharedValues.h"
#include "mosal_posix/IOMonitor.h"
#include "mosal_posix/Thread.h"

namespace MorvaneLib {

class HttpSockFactory;
class EntityConsumer;
class SharedHash;

class HttpFetcher : public Thread, public IOMonitor {
 public:
  // A thread named `name` with a message queue (4, 10, 1, 10) and a
  // monitor of `buckets` buckets; the owner posts start() to run it.
  HttpFetcher(const char* name, unsigned buckets);
  ~HttpFetcher() override;

  void run() override;
  // Prints "<thread name>: onError()" on standard error.
  void onError() override;
  void onPreSelect() override;
  void onTimeout() override {}

  // The entity goes to `consumer` (the connection's "<_DEFAULTEC_>"
  // consumer when not null). *id (if id is given) receives the connection's
  // identifier, a text that stays valid for the fetcher's life. 0 when the
  // request is queued, -1 otherwise.
  int fetchURL(const char* url, EntityConsumer* consumer, char** id);
  // Every entry of `consumers` (media type -> EntityConsumer*) is registered;
  // the key "default" becomes "<_DEFAULTEC_>".
  int fetchURL(const char* url, SharedHash* consumers, char** id);
  // The entity is written to directory + fileName (the URL's last path
  // segment when fileName is null, "index.html" when that is empty). The
  // directory is a prefix: give it with its trailing "/".
  int fetchURL(const char* url, const char* directory, const char* fileName);

  SharedString* getProxyHost() { return &proxyHost; }
  SharedInt* getProxyPort() { return &proxyPort; }  // 0 means 8080
  SharedInt* getUseProxy() { return &useProxy; }    // non-zero: through the proxy
  HttpSockFactory* getFactory() { return factory; }
  // Fetches queued or running (connections not yet ended).
  int getActiveFetches() { return active.load(); }

  // Used by the fetcher's connections.
  void _fetchStarted(void* connection);
  void _fetchEnded(void* connection);

 private:
  enum Form { WITH_CONSUMER, WITH_TABLE, TO_FILE };
  int _fetch(const char* url, Form form, EntityConsumer* consumer, SharedHash* table,
             const char* directory, const char* fileName, char** id);

  HttpSockFactory* factory;
  SharedString proxyHost;
  SharedInt proxyPort;
  SharedInt useProxy;
  std::atomic<int> active;
  Mutex connectionsLock;
  std::set<void*> connections;  // FetchSocks alive (attached or monitored)
  std::atomic<bool> quitting;
  char idTexts[FD_SETSIZE][16];  // "S<fd>" for each descriptor handed out
};

}  // namespace MorvaneLib

#endif
