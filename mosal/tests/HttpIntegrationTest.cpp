// The HTTP client against real HTTP/1.0 servers on 127.0.0.1: Python's
// http.server for plain files, a picture-stream server (tests/http/
// mjpeg_server.py) for multipart/x-mixed-replace streams of real JPEGs, and a
// loopback listener playing the proxy.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

#include "mosal/Entity.h"
#include "mosal/Hash.h"
#include "mosal/HttpFetcher.h"
#include "mosal/HttpSock.h"
#include "mosal/StreamConsumers.h"
#include "mosal/Trace.h"
#include "mosal_posix/Semaphore.h"
#include "mosal_posix/Sock.h"

using namespace MorvaneLib;

namespace {

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary);
  f << data;
}

bool waitFor(const std::function<bool()>& cond, int ms = 10000) {
  for (int i = 0; i < ms / 10 && !cond(); i++) usleep(10000);
  return cond();
}

// A server process whose first line of output names its port.
class Server {
 public:
  explicit Server(std::vector<std::string> args) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid = fork();
    if (pid == 0) {
      dup2(fds[1], 1);
      close(fds[0]);
      close(fds[1]);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(&a[0]);
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    close(fds[1]);
    out = fds[0];
    std::string line;
    pollfd p{out, POLLIN, 0};
    while (line.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0) {
      char buf[256];
      ssize_t n = read(out, buf, sizeof buf);
      if (n <= 0) break;
      line.append(buf, static_cast<size_t>(n));
    }
    // "Serving HTTP on 127.0.0.1 port N (...)" or just "N".
    size_t at = line.find(" port ");
    port = static_cast<unsigned short>(std::atoi(line.c_str() + (at == std::string::npos ? 0 : at + 6)));
  }
  ~Server() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    if (out >= 0) close(out);
  }
  pid_t pid = -1;
  int out = -1;
  unsigned short port = 0;
};

std::string tempDir() {
  char tmpl[] = "/tmp/mosal-http-XXXXXX";
  char* d = mkdtemp(tmpl);
  return d ? std::string(d) : std::string();
}

std::string sourceDir() {
  const char* s = std::getenv("MOSAL_TEST_SOURCE_DIR");
  return s ? s : ".";
}

// Width and height of a decoded JPEG, or 0x0 when it does not decode.
struct Size {
  unsigned w = 0, h = 0;
  long warnings = -1;
};

struct JpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};

Size decodeJpeg(const std::string& data) {
  Size s;
  jpeg_decompress_struct d;
  JpegError e;
  d.err = jpeg_std_error(&e.mgr);
  e.mgr.error_exit = [](j_common_ptr c) { longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1); };
  if (setjmp(e.jump) != 0) {
    jpeg_destroy_decompress(&d);
    return Size();
  }
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(data.data()), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&d, TRUE);
  jpeg_start_decompress(&d);
  std::vector<unsigned char> row(d.output_width * static_cast<unsigned>(d.output_components));
  JSAMPROW r = row.data();
  while (d.output_scanline < d.output_height) jpeg_read_scanlines(&d, &r, 1);
  s.w = d.output_width;
  s.h = d.output_height;
  jpeg_finish_decompress(&d);
  s.warnings = e.mgr.num_warnings;
  jpeg_destroy_decompress(&d);
  return s;
}

// Records each part and writes it on through a file writer.
class PartTee : public EntityConsumer {
 public:
  PartTee(FileWriterEC* w, int expected) : writer(w), want(expected) {}
  int consume(TextMessage* m, char* data, unsigned n, void* context) override {
    auto* info = static_cast<part_info_t*>(context);
    if (info->first) {
      numbers.push_back(info->number);
      sizes.push_back(info->size);
      bytes.emplace_back();
    }
    bytes.back().append(data, n);
    int r = writer->consume(m, data, n, context);
    if (static_cast<int>(bytes.size()) == want && static_cast<int>(bytes.back().size()) == info->size) {
      done.post();
    }
    return r;
  }
  FileWriterEC* writer;
  int want;
  std::vector<int> numbers, sizes;
  std::vector<std::string> bytes;
  Semaphore done{0};
};

class HttpIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    traced = Trace::enabled();
    Trace::setEnabled(std::getenv("NETDBG") != nullptr);
    root = tempDir();
    ASSERT_FALSE(root.empty());
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + root + "'";
    if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "cannot remove " << root;
    Trace::setEnabled(traced);
  }
  bool traced = true;
  std::string root;
};

}  // namespace

TEST_F(HttpIntegrationTest, FetchToDirectoryWritesTheFileByteForByte) {
  std::string served = root + "/served", saved = root + "/saved/";
  mkdir(served.c_str(), 0755);
  std::string data;
  for (int i = 0; i < 300000; i++) data += static_cast<char>((i * 2654435761u) >> 13);
  writeFile(served + "/picture.bin", data);
  writeFile(served + "/small.txt", "short");
  Server http({"python3", "-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", served});
  ASSERT_NE(http.port, 0);

  HttpFetcher fetcher("ServerThread", 64);
  fetcher.start();
  std::string base = "http://127.0.0.1:" + std::to_string(http.port) + "/";
  // The directory does not exist yet; an older, longer file of the second
  // name must not leave its tail behind.
  ASSERT_EQ(fetcher.fetchURL((base + "picture.bin").c_str(), saved.c_str(), nullptr), 0);
  ASSERT_TRUE(waitFor([&] { return fetcher.getActiveFetches() == 0; }));
  EXPECT_TRUE(readFile(saved + "picture.bin") == data);

  writeFile(saved + "small.txt", std::string(1000, 'x'));
  ASSERT_EQ(fetcher.fetchURL((base + "small.txt").c_str(), saved.c_str(), nullptr), 0);
  ASSERT_EQ(fetcher.fetchURL((base + "small.txt").c_str(), saved.c_str(), "renamed.txt"), 0);
  ASSERT_TRUE(waitFor([&] { return fetcher.getActiveFetches() == 0; }));
  EXPECT_EQ(readFile(saved + "small.txt"), "short");
  EXPECT_EQ(readFile(saved + "renamed.txt"), "short");

  // Refused and unresolvable fetches fail at once and leave nothing behind.
  EXPECT_EQ(fetcher.fetchURL("http://127.0.0.1:1/x", saved.c_str(), nullptr), -1);
  EXPECT_EQ(fetcher.fetchURL("http://bad..name/x", saved.c_str(), nullptr), -1);
  EXPECT_EQ(fetcher.getActiveFetches(), 0);
}

TEST_F(HttpIntegrationTest, BlockingGetIntoAMemoryBuffer) {
  std::string data(70000, 'm');
  data += "end";
  writeFile(root + "/page.txt", data);
  Server http({"python3", "-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", root});
  ASSERT_NE(http.port, 0);
  HttpSockFactory factory;
  HttpSock* s = factory.createClient();
  BufferEC got(1024, 1 << 20);
  s->addConsumer("text/plain", &got);
  std::string url = "http://127.0.0.1:" + std::to_string(http.port) + "/page.txt";
  EXPECT_EQ(s->doGet(url.c_str()), 0) << s->getErrorString();
  EXPECT_TRUE(got.isFinished());
  EXPECT_TRUE(std::string(got.getData(), got.getLength()) == data);
  // The same connection object fetches again (a new socket each time).
  got.clear();
  EXPECT_EQ(s->doGet(url.c_str()), 0);
  EXPECT_EQ(got.getLength(), data.size());
  delete s;
}

TEST_F(HttpIntegrationTest, PictureStreamComesOutPartByPart) {
  const int count = 6;
  std::string pics = root + "/pics", out = root + "/out/";
  mkdir(pics.c_str(), 0755);
  Server stream({"python3", "-u", sourceDir() + "/mosal/tests/http/mjpeg_server.py", pics, std::to_string(count)});
  ASSERT_NE(stream.port, 0);

  FileWriterEC writer("pic", ".jpg");
  writer.setDirectory(out.c_str());
  PartTee tee(&writer, count);
  MultipartXMixedReplaceEC splitter(nullptr, "multipart/x-mixed-replace; boundary=tamvoframe");
  splitter.getPartConsumers()->pput("image/jpeg", 11, &tee);
  SharedHash consumers(16);
  consumers.pput("multipart/x-mixed-replace", 26, &splitter);

  HttpFetcher fetcher("ServerThread", 64);
  fetcher.start();
  std::string url = "http://127.0.0.1:" + std::to_string(stream.port) + "/video.mjpg";
  char* id = nullptr;
  ASSERT_EQ(fetcher.fetchURL(url.c_str(), &consumers, &id), 0);
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(id[0], 'S');
  ASSERT_EQ(tee.done.timedWait(20000), 0);
  ASSERT_TRUE(waitFor([&] { return fetcher.getActiveFetches() == 0; }));

  ASSERT_EQ(tee.bytes.size(), static_cast<size_t>(count));
  for (int i = 1; i <= count; i++) {
    SCOPED_TRACE(i);
    std::string original = readFile(pics + "/pic" + std::to_string(i) + ".jpg");
    EXPECT_EQ(tee.numbers[i - 1], i);
    EXPECT_EQ(tee.sizes[i - 1], static_cast<int>(original.size()));
    EXPECT_TRUE(tee.bytes[i - 1] == original);
    char name[64];
    std::snprintf(name, sizeof name, "pic%04d.jpg", i);
    EXPECT_TRUE(readFile(out + name) == original) << name;
    Size sz = decodeJpeg(tee.bytes[i - 1]);
    EXPECT_EQ(sz.w, 8u * (2 + 3 * static_cast<unsigned>(i)));
    EXPECT_EQ(sz.h, 8u * (2 + static_cast<unsigned>(i)));
    EXPECT_EQ(sz.warnings, 0);
  }
  EXPECT_EQ(writer.getBytesWritten(), [&] {
    unsigned n = 0;
    for (auto& b : tee.bytes) n += static_cast<unsigned>(b.size());
    return n;
  }());
}

TEST_F(HttpIntegrationTest, ProxySettingSendsTheWholeUrlToPort8080) {
  InetAddress at("127.0.0.1", 8080);
  TCPServerSock* proxy = nullptr;
  try {
    proxy = new TCPServerSock(at, 4);
  } catch (LibError& e) {
    GTEST_SKIP() << "port 8080 is busy here (" << e.getReason() << "): proxy test skipped";
  }
  HttpFetcher fetcher("ServerThread", 64);
  fetcher.getProxyHost()->set("127.0.0.1");
  fetcher.getProxyPort()->set(0);  // 0: the proxy's usual port
  fetcher.getUseProxy()->set(1);
  fetcher.start();
  BufferEC got(64, 4096);
  // The origin host is never looked up: only the proxy is contacted.
  ASSERT_EQ(fetcher.fetchURL("http://origin.invalid:81/a/b.txt", &got, nullptr), 0);

  TCPSock* peer = proxy->accept();
  ASSERT_NE(peer, nullptr);
  std::string request;
  while (request.find("\r\n\r\n") == std::string::npos) {
    char buf[512];
    time_info_t t{5, 0, false};
    int n = peer->read(buf, sizeof buf, &t);
    if (n <= 0) break;
    request.append(buf, static_cast<size_t>(n));
  }
  EXPECT_EQ(request.substr(0, request.find("\r\n")), "GET http://origin.invalid:81/a/b.txt HTTP/1.0");
  EXPECT_NE(request.find("\r\nHost: origin.invalid\r\n"), std::string::npos) << request;
  std::string answer = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n\r\nhello";
  ASSERT_EQ(peer->writeAll(answer.data(), static_cast<unsigned>(answer.size())), static_cast<int>(answer.size()));
  delete peer;
  ASSERT_TRUE(waitFor([&] { return got.isFinished(); }));
  EXPECT_EQ(std::string(got.getData(), got.getLength()), "hello");
  delete proxy;
}

TEST_F(HttpIntegrationTest, UrlWithoutPortGoesToPort80WithThePathAsTarget) {
  InetAddress at("127.0.0.1", 80);
  TCPServerSock* web = nullptr;
  try {
    web = new TCPServerSock(at, 4);
  } catch (LibError& e) {
    GTEST_SKIP() << "port 80 cannot be used here (" << e.getReason() << ")";
  }
  HttpFetcher fetcher("ServerThread", 64);
  fetcher.start();
  BufferEC got(64, 4096);
  ASSERT_EQ(fetcher.fetchURL("http://127.0.0.1/dir/file.txt", &got, nullptr), 0);
  TCPSock* peer = web->accept();
  ASSERT_NE(peer, nullptr);
  char buf[512];
  time_info_t t{5, 0, false};
  int n = peer->read(buf, sizeof buf, &t);
  ASSERT_GT(n, 0);
  std::string request(buf, static_cast<size_t>(n));
  EXPECT_EQ(request.substr(0, request.find("\r\n")), "GET /dir/file.txt HTTP/1.0");
  delete peer;  // closed without an answer: the fetch ends all the same
  EXPECT_TRUE(waitFor([&] { return fetcher.getActiveFetches() == 0; }));
  EXPECT_EQ(got.getLength(), 0u);
  delete web;
}

TEST_F(HttpIntegrationTest, FetcherEndsWhetherStartedOrNotWithFetchesOpen) {
  { HttpFetcher never("idle", 16); }  // never started: destruction does not hang
  InetAddress at("127.0.0.1", 0);
  TCPServerSock silent(at, 4);  // accepts (backlog) and never answers
  std::string url = "http://127.0.0.1:" + std::to_string(silent.getLocalAddress()->getPort()) + "/x";
  BufferEC got(64, 4096);
  {
    HttpFetcher running("busy", 16);
    running.start();
    ASSERT_EQ(running.fetchURL(url.c_str(), &got, nullptr), 0);
    EXPECT_EQ(running.getActiveFetches(), 1);
  }  // the open fetch is ended and deleted with the fetcher
  {
    HttpFetcher unstarted("queued", 16);
    ASSERT_EQ(unstarted.fetchURL(url.c_str(), (root + "/").c_str(), nullptr), 0);
  }
}
