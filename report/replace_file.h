#pragma once

#include <string>
#include <string_view>

namespace brelin::report {

// The file that replacing `path` must replace: `path` itself, or where the symbolic links at `path`
// lead (so that a link stays a link). Throws FileError with `path` when that is something other
// than a regular file (a folder, a FIFO, a device), or when the links go round in a circle.
std::string ReplaceTarget(const std::string& path);

// Writes `content` to a temporary file beside the ReplaceTarget of `path`, flushes it to disk and
// renames it over the target once it is complete, so the target holds either its old content or
// all of the new. A new file gets the usual permissions (0666 less the umask), a replaced one keeps
// its own. Throws FileError with the path and the system's reason; the temporary file is removed.
void ReplaceFileContent(const std::string& path, std::string_view content);

// Renames the complete file `from`, already flushed to disk, over the ReplaceTarget of `to`, in
// the same folder, and makes the rename itself durable. Throws FileError with the path and reason.
void MoveIntoPlace(const std::string& from, const std::string& to);

}  // namespace brelin::report
