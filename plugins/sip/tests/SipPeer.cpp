// sip_peer: one "SipController" block in a process of its own, for the tests
// and the benchmark that need a second videophone.
//
//   sip_peer <appName> <TCP|UDP> <listenPort> [--auto]
//
// The data directory is the framework's ($MORVANE_HOME/<appName>). After
// reset the program prints "READY <port>"; then every event of the block
// becomes one line
//   EVENT <code> <Call-ID> <From> <To> <RemoteIP> <RemotePort> <VideoMinPort>
//         <AudioMinPort> <Natted>
// (values in double quotes), and every line read from standard input is
// handed to the block as a command script; its result comes back as
// "RESULT <n>". The line "quit" ends the program. With --auto the program
// answers like a videophone whose user accepts at once: on 1001 it sends
// the accept script (SessionCreate, ports, InviteAccept), on 1005 and 1006
// it destroys the session.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "framework/BlockManager.h"
#include "mosal/Trace.h"

using namespace MorvaneLib;

namespace {

std::mutex outLock;

void say(const std::string& line) {
  std::lock_guard<std::mutex> l(outLock);
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string key(ConfigTable* t, const char* k) {
  char buf[512];
  if (t == nullptr || t->copyString(k, buf, sizeof buf) != 0) return "";
  return buf;
}

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

int runScript(Block* b, const std::string& script) {
  DefaultStatusListener listener(b, 4);
  if (b->sendCommandScript(script.c_str(), &listener) != 0) return -100;
  status_t st;
  if (listener.waitStatus(&st, 10000) != 0) return -101;
  return st.result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: sip_peer <appName> <TCP|UDP> <listenPort> [--auto]\n");
    return 2;
  }
  bool autoAnswer = argc > 4 && std::strcmp(argv[4], "--auto") == 0;
  if (std::getenv("MOSAL_TRACE") == nullptr) Trace::setEnabled(false);
  try {
    BlockManager manager(argv[1], nullptr);
    manager.start();
    Plugin* plugin = manager.getPluginLoader()->getPlugin("SipController");
    if (plugin == nullptr) {
      say(std::string("FAILED no plug-in: ") + manager.getErrorString());
      return 1;
    }
    Block* block = nullptr;
    if (manager.createPluginInstance(plugin, &block) != 0) {
      say(std::string("FAILED no block: ") + manager.getErrorString());
      return 1;
    }
    BlockAdapter adapter("peer", sizeof(cmessage_t), 1, 256);
    adapter.connect(block);
    ConfigTable* props = block->getProperties();
    props->setString("Transport", argv[2], static_cast<unsigned>(std::strlen(argv[2])) + 1);
    props->setInt("ListenPort", std::atoi(argv[3]));
    int r = manager.sendMessage(block->getName(), "reset", true);
    if (r != 0) {
      say("FAILED reset " + std::to_string(r) + " " + block->getErrorString());
      return 1;
    }
    say(std::string("READY ") + argv[3]);

    std::atomic<bool> done{false};
    std::thread events([&] {
      unsigned calls = 0;
      while (!done.load()) {
        cmessage_t m;
        if (adapter.recvMessage(&m, 50) != 0) continue;
        ConfigTable* t = m.params;
        std::string id = key(t, "Call-ID");
        say("EVENT " + std::to_string(m.code) + " " + quoted(id) + " " +
            quoted(key(t, "From")) + " " + quoted(key(t, "To")) + " " +
            quoted(key(t, "RemoteIP")) + " " + quoted(key(t, "RemotePort")) + " " +
            quoted(key(t, "VideoMinPort")) + " " + quoted(key(t, "AudioMinPort")) + " " +
            quoted(key(t, "Natted")));
        if (!autoAnswer) continue;
        if (m.code == 1001) {
          ++calls;
          std::string v = std::to_string(6000 + calls % 3000);
          std::string a = std::to_string(9000 + calls % 3000);
          std::string script = "SessionCreate " + quoted(id) + " \"-\" \"-\"\n" +
                               "SessionSet " + id + " VideoMinPort " + v + "\n" +
                               "SessionSet " + id + " AudioMinPort " + a + "\n" +
                               "SessionSet " + id + " TextMinPort 0\n" +
                               "SessionSet " + id + " WhiteBoardMinPort 0\n" +
                               "SessionSet " + id + " Natted 0\n" +
                               "InviteAccept " + quoted(id) + " " + quoted(key(t, "To")) + " " +
                               quoted(key(t, "From")) + " \"-\" " + quoted(key(t, "RemoteIP")) +
                               " 5060\n";
          block->sendCommandScript(script.c_str());
        } else if (m.code == 1005 || m.code == 1006) {
          block->sendCommandScript(("SessionDestroy " + quoted(id) + "\n").c_str());
        }
      }
    });

    char line[8192];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
      std::string s(line);
      while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
      if (s == "quit") break;
      if (s.empty()) continue;
      say("RESULT " + std::to_string(runScript(block, s + "\n")));
    }
    done.store(true);
    events.join();
    adapter.disconnect(block);
    manager.destroyBlock(block);
  } catch (const LibError& e) {
    std::printf("Cannot initialize application\nReason: %s in %s\n", e.getReason(),
                e.getLocation());
    return 1;
  }
  return 0;
}
