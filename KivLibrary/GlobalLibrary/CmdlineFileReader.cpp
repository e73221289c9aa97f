#include "KivLibrary/GlobalLibrary/CmdlineFileReader.h"

#include "KivLibrary/Logger/Logging.h"

#include <fstream>
#include <iterator>

namespace CmdlineFileReader {

namespace {

// An entry's value ends at any of these or at the end of the text.
const char* const kValueEnd = " \t\r\n";

// content = the whole file, valueStart = the position behind "name=".
bool FindEntry(const std::string& path, const std::string& name, std::string& content,
               std::string::size_type& valueStart) {
    LogInfo() << "reading cmdline file from: " << path << VLMR_FILE_LINE;
    if (!ReadFile(path, content)) {
        LogError() << "loading cmdline file failed" << VLMR_FILE_LINE;
        return false;
    }
    const std::string key = name + "=";
    const std::string::size_type keyPos = content.find(key);
    if (keyPos == std::string::npos) {
        LogError() << name << " key doesn't exist" << VLMR_FILE_LINE;
        return false;
    }
    valueStart = keyPos + key.size();
    return true;
}

}  // namespace

bool ReadFile(const std::string& path, std::string& content) {
    std::ifstream file(path);
    if (!file.is_open() || !file.good()) {
        LogError() << "cmdline file is missing";
        return false;
    }
    content.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    LogInfo() << "Read cmdline file: " << content << VLMR_FILE_LINE;
    file.close();
    return true;
}

bool ReadHostname(const std::string& path, std::string& hostname) {
    std::string content;
    std::string::size_type valueStart = 0;
    if (!FindEntry(path, "hostname", content, valueStart)) {
        return false;
    }
    std::string::size_type valueEnd = content.find_first_of(kValueEnd, valueStart);
    if (valueEnd == std::string::npos) {
        valueEnd = content.size();
    }
    // The entry may be the last one of the file; only an empty value that ends
    // its line has nothing to read. An empty value before a separator stays a
    // (empty) host name.
    const bool endsLine = valueEnd == content.size() || content[valueEnd] == '\r' || content[valueEnd] == '\n';
    if (valueEnd == valueStart && endsLine) {
        LogError() << "missing value for hostname" << VLMR_FILE_LINE;
        return false;
    }
    hostname = content.substr(valueStart, valueEnd - valueStart);
    LogDebug() << "read hostname: " << hostname << VLMR_FILE_LINE;
    return true;
}

bool ReadGlobalAbFlag(const std::string& path, std::string& flag) {
    std::string content;
    std::string::size_type valueStart = 0;
    if (!FindEntry(path, "global_ab_flag", content, valueStart)) {
        return false;
    }
    // One character only: partition names are single letters.
    flag = content.substr(valueStart, 1);
    LogDebug() << "read ab_flag: " << flag << VLMR_FILE_LINE;
    return true;
}

}  // namespace CmdlineFileReader
