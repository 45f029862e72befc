// Tests of FileCopyThread: chunked copying, counters over several copies,
// requests that cannot be opened, and quitting an idle thread.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "mosal/FileCopyThread.h"
#include "mosal/Trace.h"

using MorvaneLib::FileCopyThread;

namespace {

// Polls `done` for at most `ms` milliseconds.
bool waitFor(const std::function<bool()>& done, int ms = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    poll(nullptr, 0, 2);
  }
  return done();
}

std::vector<char> pattern(size_t n, unsigned seed) {
  std::vector<char> v(n);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    v[i] = static_cast<char>(seed >> 16);
  }
  return v;
}

class FileCopyThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MorvaneLib::Trace::setEnabled(false);
    signal(SIGPIPE, SIG_IGN);  // a test that fails half-way closes a pipe under the copy
    char tmpl[] = "/tmp/filecopy-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir = tmpl;
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir + "'";
    EXPECT_EQ(0, std::system(cmd.c_str()));
    MorvaneLib::Trace::setEnabled(true);
  }

  std::string path(const char* name) { return dir + "/" + name; }

  void writeFile(const std::string& p, const std::vector<char>& data) {
    FILE* f = std::fopen(p.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    if (!data.empty()) {
      ASSERT_EQ(data.size(), std::fwrite(data.data(), 1, data.size(), f));
    }
    std::fclose(f);
  }

  std::vector<char> readFile(const std::string& p) {
    std::vector<char> data;
    FILE* f = std::fopen(p.c_str(), "rb");
    if (f == nullptr) return data;
    char chunk[8192];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
    std::fclose(f);
    return data;
  }

  std::string dir;
};

// Reads exactly n bytes from a blocking descriptor (fewer only at its end).
std::vector<char> readExactly(int fd, size_t n) {
  std::vector<char> data(n);
  size_t got = 0;
  while (got < n) {
    ssize_t r = read(fd, data.data() + got, n - got);
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  data.resize(got);
  return data;
}

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) close(fd);
  }
};

TEST_F(FileCopyThreadTest, CopiesInChunksOf64KiB) {
  // The destination is a pipe of one page that the test drains by hand: the
  // thread counts a chunk before writing it and then blocks in the write, so
  // the counter shows each chunk's size while the test holds it back.
  std::vector<char> data = pattern(150000, 1);
  writeFile(path("src"), data);
  std::string dst = path("fifo");
  ASSERT_EQ(0, mkfifo(dst.c_str(), 0600));

  FileCopyThread copier("copier");
  FdCloser reader{open(dst.c_str(), O_RDONLY | O_NONBLOCK)};
  ASSERT_GE(reader.fd, 0);
  ASSERT_EQ(4096, fcntl(reader.fd, F_SETPIPE_SZ, 4096));
  ASSERT_EQ(0, fcntl(reader.fd, F_SETFL, 0));

  copier.copy(path("src").c_str(), dst.c_str());
  std::vector<char> received;
  const unsigned counts[] = {65536, 131072, 150000};
  const size_t chunks[] = {65536, 65536, 18928};
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(waitFor([&] { return copier.getBytesCopied() == counts[i]; }))
        << "chunk " << i << ": bytes copied " << copier.getBytesCopied();
    EXPECT_EQ(150000u, copier.getTotalSize());
    std::vector<char> part = readExactly(reader.fd, chunks[i]);
    ASSERT_EQ(chunks[i], part.size());
    received.insert(received.end(), part.begin(), part.end());
  }
  EXPECT_TRUE(readExactly(reader.fd, 1).empty());  // the stream was closed after the copy
  EXPECT_TRUE(received == data);
  EXPECT_TRUE(waitFor([&] { return copier.getRequestsServed() == 1; }));
}

TEST_F(FileCopyThreadTest, CountersAddUpOverSeveralCopies) {
  std::vector<char> big = pattern(150000, 2), small = pattern(1000, 3);
  writeFile(path("big"), big);
  writeFile(path("small"), small);
  writeFile(path("empty"), {});
  FileCopyThread copier("copier");

  // An empty source creates the destination and copies nothing.
  copier.copy(path("empty").c_str(), path("empty.copy").c_str());
  ASSERT_TRUE(waitFor([&] { return copier.getRequestsServed() == 1; }));
  EXPECT_EQ(0, access(path("empty.copy").c_str(), F_OK));
  EXPECT_TRUE(readFile(path("empty.copy")).empty());
  EXPECT_EQ(0u, copier.getBytesCopied());
  EXPECT_EQ(0u, copier.getTotalSize());

  copier.copy(path("big").c_str(), path("big.copy").c_str());
  ASSERT_TRUE(waitFor([&] { return copier.getRequestsServed() == 2; }));
  EXPECT_EQ(150000u, copier.getBytesCopied());
  EXPECT_EQ(150000u, copier.getTotalSize());

  copier.copy(path("small").c_str(), path("small.copy").c_str());
  ASSERT_TRUE(waitFor([&] { return copier.getRequestsServed() == 3; }));
  EXPECT_EQ(151000u, copier.getBytesCopied());
  EXPECT_EQ(1000u, copier.getTotalSize());
  EXPECT_TRUE(readFile(path("big.copy")) == big);
  EXPECT_TRUE(readFile(path("small.copy")) == small);
}

TEST_F(FileCopyThreadTest, UnopenableRequestsEndOnlyThatCopy) {
  std::vector<char> data = pattern(5000, 4);
  writeFile(path("src"), data);
  FileCopyThread copier("copier");

  testing::internal::CaptureStderr();
  copier.copy(path("missing").c_str(), path("out1").c_str());
  ASSERT_TRUE(waitFor([&] { return copier.getRequestsServed() == 1; }));
  copier.copy(path("src").c_str(), path("no-such-dir/out2").c_str());
  ASSERT_TRUE(waitFor([&] { return copier.getRequestsServed() == 2; }));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find(path("missing"))) << err;
  EXPECT_NE(std::string::npos, err.find(path("no-such-dir/out2"))) << err;
  EXPECT_NE(std::string::npos, err.find(std::strerror(ENOENT))) << err;
  // A missing source does not create the destination.
  EXPECT_NE(0, access(path("out1").c_str(), F_OK));
  EXPECT_EQ(0u, copier.getBytesCopied());

  copier.copy(path("src").c_str(), path("out3").c_str());
  ASSERT_TRUE(waitFor([&] { return copier.getRequestsServed() == 3; }));
  EXPECT_EQ(5000u, copier.getBytesCopied());
  EXPECT_TRUE(readFile(path("out3")) == data);
}

// Runs `body` on a detached helper: a thread that never ends fails the test
// (after 10 s) instead of hanging it.
bool finishes(std::function<void()> body) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> f = done->get_future();
  std::thread([body, done] {
    body();
    done->set_value();
  }).detach();
  return f.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
}

TEST_F(FileCopyThreadTest, QuitEndsAThreadWaitingForARequest) {
  writeFile(path("src"), pattern(100, 5));
  std::string src = path("src"), dst = path("dst");
  auto served = std::make_shared<unsigned>(99);
  // One request served first, so the thread is back waiting for the next
  // when the flag goes up.
  ASSERT_TRUE(finishes([src, dst, served] {
    FileCopyThread* copier = new FileCopyThread("idle");
    copier->copy(src.c_str(), (dst + ".first").c_str());
    waitFor([&] { return copier->getRequestsServed() == 1; });
    copier->quit();
    copier->waitTermination();
    copier->copy(src.c_str(), dst.c_str());  // nobody serves it now
    *served = copier->getRequestsServed();
    delete copier;
  }));
  EXPECT_EQ(1u, *served);
  EXPECT_NE(0, access(dst.c_str(), F_OK));

  // Destroying a thread that waits for requests needs no quit of its own.
  ASSERT_TRUE(finishes([src, dst] {
    FileCopyThread* copier = new FileCopyThread("idle2");
    copier->copy(src.c_str(), (dst + ".second").c_str());
    waitFor([&] { return copier->getRequestsServed() == 1; });
    delete copier;
  }));
}

}  // namespace
