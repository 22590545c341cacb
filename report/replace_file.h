#pragma once

#include <string>
#include <string_view>

namespace brelin::report {

// Writes `content` to a temporary file in the folder of `path` and renames it over `path` once it
// is complete, so `path` holds either its old content or all of the new. A new file gets the
// usual permissions (0666 less the umask), a replaced one keeps its own. Throws FileError with
// `path` and the system's reason; the temporary file is removed then.
void ReplaceFileContent(const std::string& path, std::string_view content);

}  // namespace brelin::report
