#include "tools/zqdb_shell.h"

#include <histedit.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <iostream>
#include <memory>

#include "platform/codepage.h"
#include "tools/zqdb_common.h"
#include "tools/zqdb_verbs.h"

namespace zq::zqdb {

namespace {

// A longer line is refused rather than held in memory; big values go through FIELD@=PATH.
constexpr size_t kMaxLineBytes = 16 * 1024 * 1024;

const char* Prompt(EditLine*) { return "zqdb> "; }

// Lines of standard input: through the line editor (prompt, editing, history) on a terminal,
// plain reads otherwise.
class LineReader {
 public:
  LineReader() {
    if (::isatty(STDIN_FILENO) == 0) return;
    std::setlocale(LC_CTYPE, "");  // the editor handles the terminal's multibyte characters
    editor_ = el_init("zqdb", stdin, stderr, stderr);
    history_ = history_init();
    if (editor_ == nullptr || history_ == nullptr) {
      Close();
      return;
    }
    HistEvent event;
    history(history_, &event, H_SETSIZE, 1000);
    history(history_, &event, H_SETUNIQUE, 1);
    el_set(editor_, EL_PROMPT, &Prompt);
    el_set(editor_, EL_EDITOR, "emacs");
    el_set(editor_, EL_HIST, history, history_);
    el_source(editor_, nullptr);  // the user's own editor settings, when there are any
  }
  ~LineReader() { Close(); }
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next line without its end; false at end of input. too_long: the line was longer than
  // kMaxLineBytes and was skipped.
  bool Next(std::string& line, bool& too_long) {
    line.clear();
    too_long = false;
    if (editor_ != nullptr) {
      int count = 0;
      const char* text = el_gets(editor_, &count);
      if (text == nullptr || count <= 0) return false;
      line.assign(text, static_cast<size_t>(count));
      if (!line.empty() && line.back() == '\n') line.pop_back();
      if (line.find_first_not_of(" \t") != std::string::npos) {
        HistEvent event;
        history(history_, &event, H_ENTER, line.c_str());
      }
      return true;
    }
    int c = 0;
    bool any = false;
    while ((c = std::getc(stdin)) != EOF) {
      any = true;
      if (c == '\n') return true;
      if (line.size() < kMaxLineBytes) line.push_back(static_cast<char>(c));
      else too_long = true;
    }
    return any;
  }

 private:
  void Close() {
    if (editor_ != nullptr) el_end(editor_);
    if (history_ != nullptr) history_end(history_);
    editor_ = nullptr;
    history_ = nullptr;
  }

  EditLine* editor_ = nullptr;
  History* history_ = nullptr;
};

ojson Success(ojson result) {
  ojson reply = ojson::object();
  reply["ok"] = true;
  reply["result"] = std::move(result);
  return reply;
}

ojson Failure(const std::string& message_utf8) {
  ojson reply = ojson::object();
  reply["ok"] = false;
  reply["error"] = message_utf8;
  return reply;
}

// One shell line's reply; quit is set by the `quit` command.
ojson RunLine(const std::vector<std::string>& words, TOpenDatabase& db, bool& quit) {
  TCommand command;
  CLI::App app{"Commands of the zqdb shell", ""};
  app.require_subcommand(1);
  AddVerbs(app, command, TVerbSet::Shell);
  try {
    CheckVerbName(app, words, "command");
    std::vector<std::string> reversed(words.rbegin(), words.rend());
    app.parse(std::move(reversed));
  } catch (const CLI::CallForHelp&) {
    return Success(app.help());
  } catch (const CLI::ExtrasError&) {
    return Failure(UnexpectedArguments(app));
  } catch (const CLI::ParseError& e) {
    return Failure(e.what());
  }
  if (command.verb == "quit") {
    quit = true;
    return Success(nullptr);
  }
  return Success(RunVerb(command, db));
}

}  // namespace

std::vector<std::string> SplitWords(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;  // a word has begun (possibly empty so far, as with '')
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ' ' || c == '\t') {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
    } else if (c == '#' && !in_word) {
      break;
    } else if (c == '\\') {
      if (i + 1 == line.size()) throw EUsageError("Backslash at the end of the line");
      word.push_back(line[++i]);
      in_word = true;
    } else if (c == '\'') {
      size_t end = line.find('\'', i + 1);
      if (end == std::string_view::npos) throw EUsageError("Unbalanced quote (') in the line");
      word.append(line.substr(i + 1, end - i - 1));
      i = end;
      in_word = true;
    } else if (c == '"') {
      size_t j = i + 1;
      for (; j < line.size() && line[j] != '"'; ++j) {
        if (line[j] == '\\' && j + 1 < line.size() && std::string_view("$`\"\\").find(line[j + 1]) != std::string_view::npos)
          ++j;
        word.push_back(line[j]);
      }
      if (j == line.size()) throw EUsageError("Unbalanced quote (\") in the line");
      i = j;
      in_word = true;
    } else {
      word.push_back(c);
      in_word = true;
    }
  }
  if (in_word) words.push_back(std::move(word));
  return words;
}

int RunShell(const TOpenArgs& open) {
  TOpenDatabase db(open, false);
  LineReader reader;
  bool any_failed = false;
  bool quit = false;
  std::string line;
  bool too_long = false;
  while (!quit && reader.Next(line, too_long)) {
    ojson reply;
    try {
      if (too_long) throw EUsageError(FormatMessage("Line longer than %s bytes", {std::to_string(kMaxLineBytes)}));
      std::vector<std::string> words = SplitWords(line);
      if (words.empty()) continue;
      reply = RunLine(words, db, quit);
    } catch (const EAbort&) {
      reply = Failure("Operation aborted");
    } catch (const Exception& e) {
      reply = Failure(ToUtf8(e.Message()));
    } catch (const std::bad_alloc&) {
      reply = Failure("Out of memory");
    }
    if (!reply["ok"].get<bool>()) any_failed = true;
    std::cout << reply.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n' << std::flush;
  }
  return any_failed ? kExitFailed : kExitOk;
}

}  // namespace zq::zqdb
