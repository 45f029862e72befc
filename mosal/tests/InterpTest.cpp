// The command interpreter: argument lists, the interpreter's result codes,
// script files with their reports and line numbers, command ownership.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mosal/Interp.h"
#include "mosal/Trace.h"

using namespace MorvaneLib;

namespace {

// Records every call with its arguments; returns a chosen result.
class Recorder : public Command {
 public:
  Recorder(const char* name, unsigned short lo, unsigned short hi, int result = 0,
           int* deaths = nullptr)
      : Command(name, lo, hi), result(result), deaths(deaths) {}
  ~Recorder() override {
    if (deaths != nullptr) ++*deaths;
  }
  int perform(Params* p, void* data) override {
    ++calls;
    lastData = data;
    args.clear();
    for (int i = 0; i < p->argc; ++i) args.emplace_back(p->argv[i]);
    return result;
  }
  int result;
  int* deaths;
  int calls = 0;
  void* lastData = nullptr;
  std::vector<std::string> args;
};

// Keeps the reports instead of printing them.
class Quiet : public Interp {
 public:
  Quiet() : Interp(32, 32, 4096) {}
  struct Report {
    bool sys;
    std::string token;
    unsigned line;
    int code;
  };
  void usrHandler(char* token, unsigned line, int code, void*) override {
    reports.push_back({false, token, line, code});
  }
  void sysHandler(char* token, unsigned line, int code, void*) override {
    reports.push_back({true, token, line, code});
  }
  std::vector<Report> reports;
};

std::string script(const std::string& text) {
  char path[] = "/tmp/interptest-XXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  return path;
}

}  // namespace

TEST(Params, SlotsCutAndFill) {
  Params p(2, 4);
  EXPECT_EQ(p.add("abcdef"), 0);
  EXPECT_STREQ(p.argv[0], "abc");
  EXPECT_EQ(p.add("x"), 0);
  EXPECT_EQ(p.add("y"), -1);
  EXPECT_EQ(p.argc, 2);
  EXPECT_EQ(p.getArg(2), nullptr);
  EXPECT_THROW(Params(1, 0), LibError);
  EXPECT_THROW(Params(-1, 8), LibError);
}

TEST(Interp, ResultCodesAndTheirOrder) {
  Trace::setEnabled(false);
  Interp in(32, 32, 4096);
  auto* create = new Recorder("SessionCreate", 3, 3, 7);
  EXPECT_EQ(in.addCommand(create), 0);
  int data = 0;

  EXPECT_EQ(in.run("Nothing", "a b", &data), -1);
  EXPECT_EQ(in.getEntryCount(), 1u);

  EXPECT_EQ(in.run("SessionCreate", "a b", &data), -3);
  EXPECT_EQ(create->calls, 0);
  EXPECT_EQ(in.run("SessionCreate", "a b c", &data), 7);
  EXPECT_EQ(create->calls, 1);
  EXPECT_EQ(create->lastData, &data);
  EXPECT_EQ(create->args, (std::vector<std::string>{"a", "b", "c"}));

  std::string many;
  for (int i = 0; i < 33; ++i) many += "x ";
  EXPECT_EQ(in.run("SessionCreate", many.c_str(), &data), -2);

  EXPECT_EQ(in.enableCommand("SessionCreate", false), 0);
  EXPECT_EQ(in.run("SessionCreate", "a b c", &data), -4);
  EXPECT_EQ(in.argc, 3);  // split before the check
  EXPECT_EQ(create->calls, 1);
  EXPECT_EQ(in.enableCommand("Missing", true), -1);
  EXPECT_EQ(in.enableCommand("SessionCreate", true), 0);

  in.checkArgs = false;
  EXPECT_EQ(in.run("SessionCreate", nullptr, &data), 7);
  EXPECT_EQ(create->args.size(), 0u);
  EXPECT_STREQ(in.getName(), "SessionCreate");
}

TEST(Interp, ArgumentsAreSplitAndCut) {
  Trace::setEnabled(false);
  Interp in(32, 32, 4096);
  auto* set = new Recorder("SessionSet", 0, 32);
  in.addCommand(set);
  std::string longArg(5000, 'q');
  EXPECT_EQ(in.run("SessionSet", ("id \"To header\" " + longArg).c_str(), nullptr), 0);
  ASSERT_EQ(set->args.size(), 3u);
  EXPECT_EQ(set->args[1], "To header");
  EXPECT_EQ(set->args[2].size(), 4095u);
  // Each run starts a fresh list.
  EXPECT_EQ(in.run("SessionSet", "only", nullptr), 0);
  EXPECT_EQ(set->args, std::vector<std::string>{"only"});
}

TEST(Interp, AddCommandTracesAndRefusesDuplicates) {
  Trace::setEnabled(true);
  Interp in(32, 4, 64);
  auto* first = new Recorder("Bye", 0, 0);
  Recorder second("Bye", 0, 0, 5);
  testing::internal::CaptureStdout();
  EXPECT_EQ(in.addCommand(first), 0);
  EXPECT_EQ(in.addCommand(&second), 10);  // stays ours
  EXPECT_EQ(in.run("Bye", nullptr, nullptr), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Interp::addCommand(): adding command \"Bye\"\n"
            "Interp::addCommand(): adding command \"Bye\"\n"
            "Interp: executing command Bye\n");
  EXPECT_EQ(in.addCommand(nullptr), -1);
  Trace::setEnabled(false);
}

TEST(Interp, DeletedCommandsCanNoLongerBeRun) {
  Trace::setEnabled(false);
  int deaths = 0;
  Quiet in;
  in.addCommand(new Recorder("A", 0, 5, 0, &deaths));
  in.addCommand(new Recorder("B", 0, 5, 0, &deaths));
  in.deleteCommands();
  EXPECT_EQ(deaths, 2);
  EXPECT_EQ(in.run("A", nullptr, nullptr), -1);
  EXPECT_EQ(in.getEntryCount(), 0u);
  // The interpreter can be filled again; destruction deletes the new ones.
  {
    Quiet again;
    again.addCommand(new Recorder("C", 0, 5, 0, &deaths));
  }
  EXPECT_EQ(deaths, 3);
}

TEST(Interp, RunFileReportsTrueLineNumbers) {
  Trace::setEnabled(false);
  Quiet in;
  auto* invite = new Recorder("Invite", 1, 2, 3);
  in.addCommand(invite);
  std::string path = script(
      "# comment\n"              // 1
      "\n"                       // 2
      "   \t \n"                 // 3
      "Invite alice@example\n"   // 4
      "Unknown x\n"              // 5
      "Invite a \\\n"            // 6 (continued on 7)
      "  b\n"                    // 7
      "Invite\n"                 // 8: too few arguments
      "  Invite\tlast");         // 9: no line end
  EXPECT_EQ(in.runFile(path.c_str(), 256, nullptr), 0);
  ASSERT_EQ(in.reports.size(), 5u);
  EXPECT_FALSE(in.reports[0].sys);
  EXPECT_EQ(in.reports[0].line, 4u);
  EXPECT_EQ(in.reports[0].code, 3);
  EXPECT_EQ(in.reports[0].token, "Invite");
  EXPECT_TRUE(in.reports[1].sys);
  EXPECT_EQ(in.reports[1].line, 5u);
  EXPECT_EQ(in.reports[1].code, -1);
  EXPECT_EQ(in.reports[1].token, "Unknown");
  EXPECT_EQ(in.reports[2].line, 6u);
  EXPECT_EQ(in.reports[3].line, 8u);
  EXPECT_EQ(in.reports[3].code, -3);
  EXPECT_EQ(in.reports[4].line, 9u);
  EXPECT_EQ(invite->args, std::vector<std::string>{"last"});
  EXPECT_EQ(invite->calls, 3);
  std::remove(path.c_str());

  EXPECT_EQ(in.runFile("/nonexistent/script.txt", 256, nullptr), -1);
}

TEST(Interp, RestOfAnOverlongLineIsNotACommand) {
  Trace::setEnabled(false);
  Quiet in;
  auto* cmd = new Recorder("Set", 0, 10);
  auto* tail = new Recorder("Bye", 0, 10);
  in.addCommand(cmd);
  in.addCommand(tail);
  // With 16-character records the line is cut; "Bye" in its rest must not run.
  std::string path = script("Set aaaaaaaaaaaa Bye now\nSet b\n");
  EXPECT_EQ(in.runFile(path.c_str(), 16, nullptr), 0);
  EXPECT_EQ(tail->calls, 0);
  EXPECT_EQ(cmd->calls, 2);
  ASSERT_EQ(in.reports.size(), 2u);
  EXPECT_EQ(in.reports[1].line, 2u);
  std::remove(path.c_str());
}

TEST(Interp, DefaultHandlersPrintHexCodes) {
  Trace::setEnabled(false);
  Interp in(8, 4, 64);
  in.addCommand(new Recorder("Ok", 0, 0, 26));
  std::string path = script("Missing\nOk\n");
  Trace::setEnabled(true);
  testing::internal::CaptureStdout();
  EXPECT_EQ(in.runFile(path.c_str(), 128, nullptr), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "System Error: FFFFFFFF on line 1\n"
            " Token: \"Missing\"\n"
            "Interp: executing command Ok\n"
            "User Return: 1A on line 2\n"
            " Token: \"Ok\"\n");
  Trace::setEnabled(false);
  std::remove(path.c_str());
}

TEST(PStack, PushPopWithinCapacity) {
  PStack s(2);
  int a, b, c;
  EXPECT_EQ(s.pop(), nullptr);
  EXPECT_EQ(s.push(&a), 0);
  EXPECT_EQ(s.push(&b), 0);
  EXPECT_EQ(s.push(&c), -1);
  EXPECT_EQ(s.peek(), &b);
  EXPECT_EQ(s.pop(), &b);
  EXPECT_EQ(s.pop(), &a);
  EXPECT_EQ(s.size(), 0u);
}
