// Reads the json configuration file into KivConfiguration. Runs once at
// start-up; a false result ends the process.
#ifndef KIVLIBRARY_GLOBALLIBRARY_KIVCONFIGPARSER_H
#define KIVLIBRARY_GLOBALLIBRARY_KIVCONFIGPARSER_H

#include "KivLibrary/Persistency/KivConfiguration.h"

#include <functional>
#include <istream>
#include <memory>
#include <string>

class IJsonObject;

class KivConfigParser {
public:
    // The stream must stay valid for the parser's lifetime; it is rewound
    // before every read.
    explicit KivConfigParser(std::istream& configFile);

    // True when every required key and every list section was valid.
    bool parse(std::shared_ptr<KivConfiguration> configuration);

private:
    bool ParseConfiguredLogicalBlocks(KivConfiguration& configuration);
    bool ParseSysfsSettings(KivConfiguration& configuration);
    bool ParseRoutineServiceMapping(KivConfiguration& configuration);
    bool ParseSecurityAccessMapping(KivConfiguration& configuration);

    // Runs the function; an exception becomes a logged false.
    static bool TryParse(const std::string& name, const std::function<bool()>& function);

    std::shared_ptr<IJsonObject> ParseFromStart();

    std::istream& configFile_;
};

#endif
