// Reads entries of the kernel command-line file (blank-separated name=value).
// Stateless: every call opens and reads the file again.
#ifndef KIVLIBRARY_GLOBALLIBRARY_CMDLINEFILEREADER_H
#define KIVLIBRARY_GLOBALLIBRARY_CMDLINEFILEREADER_H

#include <string>

namespace CmdlineFileReader {

// content = the whole file; false when it cannot be read.
bool ReadFile(const std::string& path, std::string& content);
// Out-parameters are written only on success, so the caller's default survives.
bool ReadHostname(const std::string& path, std::string& hostname);
bool ReadGlobalAbFlag(const std::string& path, std::string& flag);

}  // namespace CmdlineFileReader

#endif
