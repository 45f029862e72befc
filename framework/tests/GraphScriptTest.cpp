// Graph scripts: the line splitter and its quoting, statement checks, running
// scripts on real plug-ins, failures by line, and a graph saved and rebuilt.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "FrameworkTestSupport.h"
#include "framework/GraphScript.h"

using namespace fwtest;

namespace {

std::vector<std::string> words(const std::string& line, const char** error = nullptr) {
  std::vector<GraphScript::Token> t;
  const char* why = nullptr;
  if (GraphScript::tokenize(line.data(), line.size(), &t, &why) != 0) {
    if (error != nullptr) *error = why;
    return {"<error>"};
  }
  std::vector<std::string> out;
  for (auto& x : t) out.push_back(x.text);
  return out;
}

int checkLine(const std::string& line) {
  std::vector<GraphScript::Token> t;
  const char* why = nullptr;
  if (GraphScript::tokenize(line.data(), line.size(), &t, &why) != 0) return -2;
  return GraphScript::check(t, &why);
}

std::string readFile(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

class GraphScripts : public FrameworkTest {
 protected:
  int run(const std::string& text) { return manager->runGraphScript(text.data(), text.size()); }
};

}  // namespace

TEST(GraphScriptSplitter, WordsQuotesEscapesAndComments) {
  using V = std::vector<std::string>;
  EXPECT_EQ(words("  set  cam  Width 352 "), (V{"set", "cam", "Width", "352"}));
  EXPECT_EQ(words("set b Name \"two words\" string"), (V{"set", "b", "Name", "two words", "string"}));
  EXPECT_EQ(words("echo a\"b c\"d"), (V{"echo", "ab cd"}));
  EXPECT_EQ(words("set b K \"\""), (V{"set", "b", "K", ""}));
  EXPECT_EQ(words("set b K \"say \\\"hi\\\" \\\\ \\n\""), (V{"set", "b", "K", "say \"hi\" \\ \n"}));
  EXPECT_EQ(words("connect a.OUT b.IN # a comment"), (V{"connect", "a.OUT", "b.IN"}));
  EXPECT_EQ(words("echo \"#not a comment\""), (V{"echo", "#not a comment"}));
  EXPECT_EQ(words("   # only a comment"), V{});
  EXPECT_EQ(words("\t\r"), V{});
  const char* why = nullptr;
  EXPECT_EQ(words("set b K \"open", &why), V{"<error>"});
  EXPECT_STREQ(why, "quote left open");
  EXPECT_EQ(words("set b K \"bad \\q\"", &why), V{"<error>"});
  std::string many = "echo";
  for (int i = 0; i < 70; ++i) many += " w";
  EXPECT_EQ(words(many, &why), V{"<error>"});

  // Whatever a value holds, quote() writes it so that it reads back the same.
  const std::string values[] = {"plain", "", "two words", "quo\"te", "back\\slash", "line\nend",
                                "#hash", "tab\there", "trailing\\", "\"", "cr\r"};
  for (const std::string& v : values) {
    std::string line = "set b K " + GraphScript::quote(v);
    std::vector<std::string> w = words(line);
    ASSERT_EQ(w.size(), 4u) << line;
    EXPECT_EQ(w[3], v) << line;
  }
  EXPECT_EQ(GraphScript::quote("plain"), "plain");
}

TEST(GraphScriptSplitter, StatementsAreCheckedBeforeTheyRun) {
  EXPECT_EQ(checkLine(""), 0);
  EXPECT_EQ(checkLine("create CounterSource cam"), 0);
  EXPECT_EQ(checkLine("create"), -1);
  EXPECT_EQ(checkLine("create a b c"), -1);
  EXPECT_EQ(checkLine("frobnicate x"), -1);
  EXPECT_EQ(checkLine("connect a.OUT b"), -1);
  EXPECT_EQ(checkLine("connect a.OUT .IN"), -1);
  EXPECT_EQ(checkLine("connect a.OUT b.IN"), 0);
  EXPECT_EQ(checkLine("set b K 1 long"), -1);
  EXPECT_EQ(checkLine("set b K 1 int"), 0);
  EXPECT_EQ(checkLine("place b 10 -20"), 0);
  EXPECT_EQ(checkLine("place b 10 40000"), -1);
  EXPECT_EQ(checkLine("sleep 60001"), -1);
  EXPECT_EQ(checkLine("sleep x"), -1);
  EXPECT_EQ(checkLine("send b start nowait"), 0);
  EXPECT_EQ(checkLine("send b start later"), -1);
  EXPECT_EQ(checkLine("list blocks"), 0);
  EXPECT_EQ(checkLine("list pins"), -1);
  EXPECT_EQ(checkLine("list pins b"), 0);
  EXPECT_EQ(checkLine("list everything"), -1);
  EXPECT_EQ(checkLine("command b Emit 3 \"x y\""), 0);
  EXPECT_EQ(checkLine("echo"), 0);
}

TEST_F(GraphScripts, AScriptBuildsAndDrivesAGraph) {
  std::string script =
      "# three blocks\n"
      "create CounterSource cam\n"
      "create PassFilter pass\n"
      "create ChecksumSink sink\n"
      "set cam Width 16\n"
      "set cam Height 4\r\n"
      "set cam Period 0\n"
      "connect cam.OUT pass.IN\n"
      "connect pass.OUT sink.IN\n"
      "send cam reset\n"
      "command cam Emit 7\n"
      "\n"
      "global morvane.custom \"hello there\"\n";
  ASSERT_EQ(run(script), 0) << manager->getErrorString();
  Block* sink = manager->getBlock("sink");
  ASSERT_NE(sink, nullptr);
  EXPECT_TRUE(waitUntil([&] { return prop(sink, "Received") == 7; }));
  EXPECT_EQ(prop(sink, "Gaps"), 0);
  EXPECT_EQ(prop(manager->getBlock("cam"), "Width"), 16);
  char text[64];
  ASSERT_EQ(manager->getConfig()->copyString("morvane.custom", text, sizeof text), 0);
  EXPECT_STREQ(text, "hello there");

  // Listings go to standard output.
  testing::internal::CaptureStdout();
  EXPECT_EQ(run("list blocks\nlist pins pass\nlist wires\n"), 0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("block cam CounterSource ready\n"), std::string::npos) << out;
  EXPECT_NE(out.find("block sink ChecksumSink idle\n"), std::string::npos);
  EXPECT_NE(out.find("pin pass.IN in <- cam.OUT\n"), std::string::npos);
  EXPECT_NE(out.find("pin pass.OUT out -> sink.IN\n"), std::string::npos);
  EXPECT_NE(out.find("wire cam.OUT pass.IN delivered 7 dropped 0\n"), std::string::npos);

  // Disconnect, destroy, and a buffer whose used length ends the script.
  DataBuf buf(256, 0, 256, ALLOC_ONCREATE);
  const char* more = "disconnect sink.IN pass.OUT\ndestroy pass\nGARBAGE";
  buf.copy(more, static_cast<unsigned>(std::strlen(more)));
  buf.setLength(static_cast<unsigned>(std::strlen(more) - 7));
  EXPECT_EQ(manager->runGraphScript(&buf), 0) << manager->getErrorString();
  EXPECT_EQ(manager->getBlock("pass"), nullptr);
  EXPECT_EQ(manager->runGraphScript(static_cast<DataBuf*>(nullptr)), -1);
}

TEST_F(GraphScripts, TheFirstFailingLineIsReportedAndEndsTheScript) {
  EXPECT_EQ(run("create CounterSource a\ncreate NoSuchType b\ncreate CounterSource c\n"), 2);
  EXPECT_NE(std::string(manager->getErrorString()).find("line 2: no plug-in NoSuchType"),
            std::string::npos);
  EXPECT_NE(manager->getBlock("a"), nullptr);
  EXPECT_EQ(manager->getBlock("c"), nullptr);
  EXPECT_EQ(run("set a Width wide\n"), 1);      // an int property takes a number
  EXPECT_EQ(run("set a Width 5 string\n"), 1);  // and keeps its type
  EXPECT_EQ(run("set a NewOne 2.5\nset a NewOne 3 double\nset a Label 2x\n"), 0);
  unsigned char type = 0;
  ASSERT_EQ(manager->getBlock("a")->getProperties()->getParamType("Label", &type), 0);
  EXPECT_EQ(type, TYPE_STRING);
  EXPECT_EQ(run("connect a.OUT nobody.IN\n"), 1);
  EXPECT_EQ(run("send a fly\n"), 1);
  EXPECT_EQ(run("command a Frobnicate\n"), 1);  // unknown to the block's interpreter
  EXPECT_EQ(run("\n\nset a K \"open\n"), 3);
  EXPECT_EQ(run("load /nonexistent.mrb\n"), 1);
  EXPECT_EQ(run("painter nobody a.OUT\n"), 1);
  EXPECT_EQ(run("save /nonexistent-dir/x.dgs\n"), 1);
}

TEST_F(GraphScripts, ASavedGraphIsRebuiltIdentically) {
  Painter canvas("Local Video");
  ASSERT_EQ(manager->registerPainter(&canvas), 0);
  std::string build =
      "create CounterSource cam\n"
      "create PassFilter pass\n"
      "create ChecksumSink sinkA\n"
      "create ChecksumSink sinkB\n"
      "create ChecksumSink hidden\n"
      "set cam Width 176\n"
      "set cam Title \"a \\\"quoted\\\" title\\nwith two lines\"\n"
      "set cam Gain 0.1\n"
      "set cam _secret 42\n"
      "set hidden _DGSSkip 1\n"
      "place cam 10 -20\n"
      "place sinkB 300 40\n"
      "connect cam.OUT pass.IN\n"
      "connect pass.OUT sinkA.IN\n"
      "connect pass.OUT sinkB.IN\n"
      "connect cam.OUT hidden.IN\n"
      "painter \"Local Video\" pass.OUT\n";
  ASSERT_EQ(run(build), 0) << manager->getErrorString();
  // A block made without a name keeps its generated one.
  Block* extra;
  ASSERT_EQ(manager->createPluginInstance(manager->getPluginLoader()->getPlugin("PassFilter"),
                                          &extra), 0);
  std::string extraName = extra->getName();
  std::string first = privateHome() + "/first.dgs";
  std::string second = privateHome() + "/second.dgs";
  ASSERT_EQ(manager->saveGraphScript(first.c_str()), 0);
  std::string saved = readFile(first);
  EXPECT_EQ(saved.find("hidden"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("_secret"), std::string::npos);
  EXPECT_NE(saved.find("create PassFilter " + extraName + "\n"), std::string::npos);
  EXPECT_NE(saved.find("set cam Width 176 int\n"), std::string::npos);
  EXPECT_NE(saved.find("place cam 10 -20\n"), std::string::npos);
  EXPECT_NE(saved.find("painter \"Local Video\" pass.OUT\n"), std::string::npos);

  manager.reset();
  manager.reset(new BlockManager("fwtest", nullptr));
  manager->start();
  Painter again("Local Video");
  ASSERT_EQ(manager->registerPainter(&again), 0);
  ASSERT_EQ(run(saved), 0) << manager->getErrorString();
  ASSERT_EQ(manager->saveGraphScript(second.c_str()), 0);
  EXPECT_EQ(readFile(second), saved);

  Block* cam = manager->getBlock("cam");
  ASSERT_NE(cam, nullptr);
  char title[128];
  ASSERT_EQ(cam->getProperties()->copyString("Title", title, sizeof title), 0);
  EXPECT_STREQ(title, "a \"quoted\" title\nwith two lines");
  double gain = 0;
  ASSERT_EQ(cam->getProperties()->getDouble("Gain", &gain), 0);
  EXPECT_EQ(gain, 0.1);
  short x, y;
  cam->getPosition(&x, &y);
  EXPECT_EQ(x, 10);
  EXPECT_EQ(y, -20);
  EXPECT_EQ(manager->findPin("pass.OUT")->getWireCount(), 2u);
  EXPECT_EQ(manager->findPin("pass.OUT")->getPainter(), &again);
  EXPECT_EQ(manager->getBlock("hidden"), nullptr);
  EXPECT_EQ(manager->unregisterPainter("Local Video"), 0);
  // A failed save leaves the old file alone.
  EXPECT_EQ(manager->saveGraphScript((privateHome() + "/no/such/dir.dgs").c_str()), -1);
  EXPECT_EQ(readFile(second), saved);
}
