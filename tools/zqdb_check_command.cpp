// `zqdb check`: the structural walk, with the engine's file layer as the decoder of processed
// values when the file opens (and, when encrypted, the password matches).
#include <memory>

#include "dbengine/format/db_error.h"
#include "platform/stream.h"
#include "dbengine/storage/db_checker.h"
#include "tools/zqdb_commands.h"
#include "tools/zqdb_common.h"
#include "tools/zqdb_file_owner.h"

namespace zq::zqdb {

namespace {

bool HasHeaderProblem(const std::vector<std::string>& problems) {
  for (const auto& p : problems)
    if (p.rfind("file:", 0) == 0 || p.rfind("signature:", 0) == 0) return true;
  return false;
}

}  // namespace

std::vector<std::string> Check(const TOpenArgs& open) {
  if (!FileExists(open.file)) throw EDatabaseError(FormatMessage("Cannot open file %s", {open.file}));
  TFileStream stream(open.file, FileAccess::Read);

  // The engine's file layer decodes encrypted slots and compressed or encrypted blobs.
  TDiskFileOwner owner(false);
  TDbFileIO& io = owner.io;
  std::unique_ptr<TDbFileIOCheckDecoder> decoder;
  std::string open_error;
  try {
    io.Open(open.file, mtDisk, 0, true, false);
    if (io.Options().Encrypted()) {
      if (!open.password.empty()) {
        if (!io.CheckPassword(open.password)) throw EDatabaseError("Access denied");
        decoder = std::make_unique<TDbFileIOCheckDecoder>(io);
      }
    } else {
      decoder = std::make_unique<TDbFileIOCheckDecoder>(io);
    }
  } catch (const EDatabaseError& e) {
    if (e.Message() == "Access denied") throw;
    open_error = e.Message();
  }

  TDbChecker checker(stream, decoder.get());
  std::vector<std::string> problems = checker.Run();
  if (!open_error.empty() && !HasHeaderProblem(problems)) problems.insert(problems.begin(), "open: " + open_error);
  return problems;
}

}  // namespace zq::zqdb
