// `zqdb repair`: keeps a copy of the file as FILE.bak, mends its structures in place through the
// engine's repair (index chains rebuilt from the keys, unreadable records marked deleted, broken
// blob descriptors emptied), prints each change and then checks the result as `zqdb check` does.
#include <filesystem>

#include "dbengine/format/db_error.h"
#include "dbengine/storage/db_repair.h"
#include "platform/stream.h"
#include "tools/zqdb_commands.h"
#include "tools/zqdb_common.h"
#include "tools/zqdb_file_owner.h"

namespace zq::zqdb {

std::vector<std::string> Repair(const TOpenArgs& open, bool& clean) {
  if (!FileExists(open.file)) throw EDatabaseError(FormatMessage("Cannot open file %s", {open.file}));
  const std::string backup = open.file + ".bak";
  std::vector<std::string> lines;
  {
    TDiskFileOwner owner(true);  // the repair works on the file alone: no other open may exist
    owner.io.Open(open.file, mtDisk, 0, false, true);
    if (owner.io.ReadOnly() || owner.io.FileIsReadOnly())
      throw Exception("The file " + open.file + " is read-only; nothing was repaired");
    if (!owner.io.CheckPassword(open.password)) throw EDatabaseError("Access denied");
    std::error_code error;
    if (std::filesystem::exists(backup, error))
      throw Exception("The backup copy " + backup + " already exists; move it away first (nothing was repaired)");
    std::filesystem::copy_file(open.file, backup, std::filesystem::copy_options::none, error);
    if (error) throw Exception("Cannot copy " + open.file + " to " + backup + ": " + error.message());
    for (const auto& line : TDbRepair(owner.io).Run()) lines.push_back(ToUtf8(line));
    owner.io.Flush();
  }
  if (lines.empty()) lines.push_back("Nothing needed repairing; the file is unchanged");
  lines.push_back("The original is kept as " + backup);
  // What the repair could not mend shows in the structural check.
  const std::vector<std::string> problems = Check(open);
  for (const auto& p : problems) lines.push_back("not repaired: " + ToUtf8(p));
  clean = problems.empty();
  return lines;
}

}  // namespace zq::zqdb
