// GraphScript: the graph-script language of the framework (GRAPHSCRIPT.md):
// its line splitter, its statement check, the engine that runs a script on a
// BlockManager and the writer that saves a manager's graph as a script.
#ifndef MORVANE_GRAPHSCRIPT_H
#define MORVANE_GRAPHSCRIPT_H

#include <cstddef>
#include <string>
#include <vector>

namespace MorvaneLib {

class Block;
class BlockManager;

class GraphScript {
 public:
  enum { MAX_TOKENS = 64, MAX_LINE = 65536, MAX_SLEEP_MS = 60000 };

  struct Token {
    std::string text;
    size_t offset;  // where the token starts in its line
  };

  // Splits one line (without its line end) into tokens: blanks separate,
  // double quotes group (inside them \" \\ \n \t \r stand for themselves), an
  // unquoted '#' at the start of a token begins a comment. 0, or -1 with
  // *error set (a quote left open, an unknown escape, too many tokens).
  static int tokenize(const char* line, size_t length, std::vector<Token>* out,
                      const char** error);
  // The token written so that tokenize() gives it back unchanged: bare when
  // it can be, else quoted with escapes.
  static std::string quote(const std::string& text);
  // 0 when the tokens form a known statement with a usable argument count
  // and argument forms; -1 with *error set. Empty token lists are fine.
  static int check(const std::vector<Token>& tokens, const char** error);

  explicit GraphScript(BlockManager* manager) : _m(manager) {}

  // Runs the lines of `text`: 0, or the number (from 1) of the first line
  // that failed (the manager's error text says why); nothing after it runs.
  int run(const char* text, size_t length);
  // Writes the manager's graph to `path` (replaced whole): 0 or -1.
  int save(const char* path);

 private:
  int _statement(const std::vector<Token>& t, const char* line);
  int _set(Block* b, const std::vector<Token>& t, bool global);
  int _list(const std::vector<Token>& t);

  BlockManager* _m;
};

}  // namespace MorvaneLib

#endif
