#include "sim/tester/DoIpConsole.h"

#include "KivLibrary/Persistency/KivConfiguration.h"
#include "sim/DoIpServer.h"
#include "sim/tester/ProcessLog.h"
#include "sim/tester/Script.h"
#include "sim/tester/TesterBench.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <exception>
#include <fstream>
#include <optional>

namespace sim {

namespace {

std::string Hex(const Bytes& bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    char byte[3];
    for (uint8_t value : bytes) {
        std::snprintf(byte, sizeof(byte), "%02x", static_cast<unsigned>(value));
        text += byte;
    }
    return text;
}

nlohmann::json Describe(const SignedBlock& block) {
    return nlohmann::json{{"address", Hex(block.memoryAddress)},
                          {"size", block.memorySize},
                          {"payload", Hex(block.payload)},
                          {"signature", Hex(block.signature)}};
}

// Parsed as the console parses its own `@package` line, so that both accept
// the same descriptions.
Step PackageStep(const std::string& description) {
    const std::optional<Step> step = ParseLine("@package " + description, 1);
    if (!step || step->kind != Step::Kind::kPackage) {
        throw ScriptError(1, "not a package description: " + description);
    }
    return *step;
}

std::string WritePackage(TesterBench& bench, const Step& step) {
    const Package& package = bench.BuildPackage(step.blocks, step.defect);
    nlohmann::json description{{"transfer_size", bench.Configuration().transfer_size}, {"dpt", Describe(package.dpt)}};
    // The downloaded blocks come first, in the order given; the rest are
    // only listed in the record and never go over the wire.
    nlohmann::json blocks = nlohmann::json::array();
    for (size_t i = 0; i < step.blocks.size() && i < package.blocks.size(); ++i) {
        blocks.push_back(Describe(package.blocks[i]));
    }
    description["blocks"] = blocks;
    const std::string path = bench.Sandbox().Root() + "/" + kDoIpPackageFile;
    std::ofstream file(path, std::ios::trunc);
    file << description.dump(1) << "\n";
    file.close();
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
    return path;
}

}  // namespace

int ServeOverDoIp(const DoIpConsoleOptions& options, std::ostream& out, std::ostream& err) {
    std::optional<Step> packageStep;
    if (!options.package.empty()) {
        try {
            packageStep = PackageStep(options.package);
        } catch (const ScriptError& error) {
            err << "package: " << error.what() << "\n";
            return 2;
        }
    }
    std::optional<ProcessLog> log;
    try {
        log.emplace(options.root, "velmora-doip", options.verbose);
    } catch (const std::exception& error) {
        err << error.what() << "\n";
        return 1;
    }
    if (!log->Path().empty()) {
        out << "process log " << log->Path() << std::endl;
    }
    TesterBench::Options benchOptions;
    benchOptions.root = options.root;
    benchOptions.keepRoot = options.keepRoot;
    benchOptions.startTimeout = std::chrono::seconds(60);
    std::optional<TesterBench> bench;
    // The standard error stream is the log's until the log ends: a failure is
    // told there only after it (and after the bench), with the log kept.
    const auto failed = [&](const std::string& message, int code) {
        bench.reset();
        const std::string path = log->Path();
        log->Keep();
        log.reset();
        err << message << (path.empty() ? "" : " (process log " + path + ")") << "\n";
        return code;
    };
    try {
        bench.emplace(benchOptions);
        bench->Start();
    } catch (const std::exception& error) {
        return failed(std::string("Velmora did not come up: ") + error.what(), 1);
    }
    if (packageStep) {
        try {
            out << "package " << WritePackage(*bench, *packageStep) << std::endl;
        } catch (const std::exception& error) {
            return failed(std::string("package: ") + error.what(), 2);
        }
    }

    DoIpServer::Options serverOptions;
    serverOptions.port = options.port;
    DiagnosticManager& dm = bench->Dm();
    DoIpServer server([&dm](const Bytes& request) { return dm.Uds(request); }, serverOptions);
    try {
        server.Start();
    } catch (const std::exception& error) {
        return failed(error.what(), 1);
    }
    out << "sandbox " << bench->Sandbox().Root() << "\n";
    out << "listening on 127.0.0.1:" << server.Port() << std::endl;

    // The process's own signal handling ends it on SIGINT and SIGTERM.
    const int exitCode = bench->WaitForEnd();
    server.Stop();
    if (exitCode != 0 || options.keepRoot) {
        log->Keep();
    }
    out << "the process ended with " << exitCode << std::endl;
    return exitCode;
}

}  // namespace sim
