#include "KivLibrary/GlobalLibrary/CmdlineFileReader.h"

#include "KivLibrary/Logger/Logging.h"

#include <fstream>
#include <iterator>

namespace {

const char* const kHostnameKey = "hostname=";
const char* const kGlobalAbFlagKey = "global_ab_flag=";
// An entry's value ends at any of these or at the end of the text.
const char* const kValueEnd = " \t\r\n";

}  // namespace

namespace CmdlineFileReader {

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
    LogInfo() << "reading cmdline file from: " << path << VLMR_FILE_LINE;
    std::string content;
    if (!ReadFile(path, content)) {
        LogError() << "loading cmdline file failed" << VLMR_FILE_LINE;
        return false;
    }
    const std::string::size_type keyPos = content.find(kHostnameKey);
    if (keyPos == std::string::npos) {
        LogError() << "hostname key doesn't exist" << VLMR_FILE_LINE;
        return false;
    }
    const std::string::size_type valueStart = keyPos + std::char_traits<char>::length(kHostnameKey);
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
    LogInfo() << "reading cmdline file from: " << path << VLMR_FILE_LINE;
    std::string content;
    if (!ReadFile(path, content)) {
        LogError() << "loading cmdline file failed" << VLMR_FILE_LINE;
        return false;
    }
    const std::string::size_type keyPos = content.find(kGlobalAbFlagKey);
    if (keyPos == std::string::npos) {
        LogError() << "global_ab_flag key doesn't exist" << VLMR_FILE_LINE;
        return false;
    }
    // One character only: partition names are single letters.
    flag = content.substr(keyPos + std::char_traits<char>::length(kGlobalAbFlagKey), 1);
    LogDebug() << "read ab_flag: " << flag << VLMR_FILE_LINE;
    return true;
}

}  // namespace CmdlineFileReader
