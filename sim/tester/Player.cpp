#include "sim/tester/Player.h"

#include "KivLibrary/Persistency/KivConfiguration.h"
#include "sim/KeyCalculator.h"
#include "sim/tester/DoIpConsole.h"
#include "sim/tester/ProcessLog.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

std::string Hex(const Bytes& bytes, size_t shown) {
    if (bytes.empty()) {
        return "(no response)";
    }
    std::string text;
    char byte[8];
    const size_t count = bytes.size() > shown + shown / 2 ? shown : bytes.size();
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(byte, sizeof(byte), "%02X", static_cast<unsigned>(bytes[i]));
        text += (i == 0 ? "" : " ") + std::string(byte);
    }
    if (count < bytes.size()) {
        text += " ... (" + std::to_string(bytes.size()) + " bytes)";
    }
    return text;
}

std::string BlockName(int block) {
    if (block == FrameToken::kDpt) {
        return "dpt";
    }
    char text[16];
    std::snprintf(text, sizeof(text), "0x%02X", static_cast<unsigned>(block));
    return text;
}

int64_t MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Names of the runtime's DTC monitors besides their instances.
std::string DtcInstance(const std::string& name) {
    static const std::map<std::string, std::string> names = {
        {"major", "1472"}, {"minor", "1473"}, {"cleanup-error", "1456"}};
    const auto found = names.find(name);
    return found == names.end() ? name : found->second;
}

std::string ActionName(const std::optional<zov::dm::dem::MonitorActionType>& action) {
    if (!action) {
        return "none";
    }
    switch (*action) {
        case zov::dm::dem::MonitorActionType::kPassed:
            return "passed";
        case zov::dm::dem::MonitorActionType::kFailed:
            return "failed";
        default:
            return "action " + std::to_string(static_cast<unsigned>(*action));
    }
}

// An expected element: a byte, or any one byte.
struct Expected {
    bool any = false;
    uint8_t value = 0;
};

class Player {
public:
    Player(TesterBench& bench, std::ostream& out, const PlayerOptions& options)
        : m_bench(bench), m_out(out), m_options(options) {}

    int Play(const std::vector<Step>& steps) {
        for (const Step& step : steps) {
            if (!step.label.empty()) {
                m_labelWidth = std::max(m_labelWidth, std::min<size_t>(step.label.size() + 1, kMaxLabelWidth));
            }
        }
        for (const Step& step : steps) {
            int code = kTesterPassed;
            try {
                code = Run(step);
            } catch (const ScriptError& error) {
                PrintUcmCalls();
                m_out << "SCRIPT ERROR " << Where(error.Line()) << ": " << error.Message() << "\n";
                return kTesterScriptError;
            } catch (const std::exception& error) {
                PrintUcmCalls();
                m_out << "FAILED at " << Where(step.line) << ": " << error.what() << "\n";
                return kTesterMismatch;
            }
            PrintUcmCalls();
            if (code != kTesterPassed) {
                return code;
            }
        }
        m_out << "PASSED: " << m_expectations << " expectations held\n";
        return kTesterPassed;
    }

private:
    int Run(const Step& step) {
        switch (step.kind) {
            case Step::Kind::kRequest:
                return Request(step);
            case Step::Kind::kPackage:
                return Package(step);
            case Step::Kind::kRestart:
            case Step::Kind::kPowercut: {
                const auto start = Clock::now();
                step.kind == Step::Kind::kRestart ? m_bench.Restart() : m_bench.PowerCut();
                Line(step, step.source, "Velmora running again (" + std::to_string(MillisecondsSince(start)) + " ms)");
                return kTesterPassed;
            }
            case Step::Kind::kSwitchPartition:
                m_bench.SwitchPartition();
                Line(step, step.source,
                     "the next start boots partition " +
                         m_bench.Sandbox().PartitionName(m_bench.Sandbox().ActivePartition()));
                return kTesterPassed;
            case Step::Kind::kSleep:
                std::this_thread::sleep_for(std::chrono::milliseconds(step.number));
                Line(step, step.source, "");
                return kTesterPassed;
            case Step::Kind::kUcm:
                return Ucm(step);
            case Step::Kind::kState:
                return State(step);
            case Step::Kind::kDtc:
                return Dtc(step);
        }
        return kTesterPassed;
    }

    // The labels in one column, the frames in the next.
    void Line(const Step& step, const std::string& what, const std::string& outcome) {
        std::string label = step.label.empty() ? "" : step.label + ":";
        if (label.size() < m_labelWidth) {
            label.resize(m_labelWidth, ' ');
        }
        m_out << label << (label.empty() ? "" : " ") << what;
        if (!outcome.empty()) {
            m_out << " -> " << outcome;
        }
        m_out << "\n";
    }

    int Mismatch(const Step& step, const std::string& expected) {
        m_out << "MISMATCH at " << Where(step.line) << ": expected " << expected << "\n";
        return kTesterMismatch;
    }

    std::string Where(int line) const {
        return m_options.scriptName.empty() ? "line " + std::to_string(line)
                                            : m_options.scriptName + ":" + std::to_string(line);
    }

    void PrintUcmCalls() {
        const std::vector<UcmCall> calls = m_bench.Ucm().Calls();
        for (; m_ucmPrinted < calls.size(); ++m_ucmPrinted) {
            m_out << "  ucm: " << calls[m_ucmPrinted].ToString() << "\n";
        }
    }

    // ---- frames ------------------------------------------------------------------------

    const SignedBlock& Block(const Step& step, int block) const {
        const sim::Package* package = m_bench.CurrentPackage();
        if (package == nullptr) {
            throw ScriptError(step.line, "{...:" + BlockName(block) + "} before any @package");
        }
        if (block == FrameToken::kDpt) {
            return package->dpt;
        }
        if (std::find(m_carried.begin(), m_carried.end(), block) != m_carried.end()) {
            for (const SignedBlock& signedBlock : package->blocks) {
                const Bytes& address = signedBlock.memoryAddress;
                const auto id = address.size() >= 2 ? (address[address.size() - 2] << 8) | address.back()
                                                    : static_cast<int>(address.back());
                if (id == block) {
                    return signedBlock;
                }
            }
        }
        throw ScriptError(step.line, "the package carries no block " + BlockName(block));
    }

    Bytes Resolve(const Step& step, const FrameToken& token) const {
        switch (token.kind) {
            case FrameToken::Kind::kByte:
                return Bytes{token.value};
            case FrameToken::Kind::kAny:
                return {};
            case FrameToken::Kind::kBlock:
                return Block(step, token.block).payload;
            case FrameToken::Kind::kSize: {
                const uint32_t size = Block(step, token.block).memorySize;
                return Bytes{static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16),
                             static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)};
            }
            case FrameToken::Kind::kSignature:
                return Block(step, token.block).signature;
            case FrameToken::Kind::kPiece: {
                const Bytes& payload = Block(step, token.block).payload;
                const size_t pieceSize = static_cast<size_t>(m_bench.Configuration().transfer_size);
                const size_t begin = static_cast<size_t>(token.piece - 1) * pieceSize;
                if (pieceSize == 0 || begin >= payload.size()) {
                    throw ScriptError(step.line, "block " + BlockName(token.block) + " has no piece " +
                                                     std::to_string(token.piece) + " of " + std::to_string(pieceSize) +
                                                     " bytes");
                }
                const size_t end = std::min(payload.size(), begin + pieceSize);
                return Bytes(payload.begin() + static_cast<std::ptrdiff_t>(begin),
                             payload.begin() + static_cast<std::ptrdiff_t>(end));
            }
            case FrameToken::Kind::kKey:
                if (!m_seed) {
                    throw ScriptError(step.line, "{key} before any 67 11 response");
                }
                try {
                    return TesterKeyBytes(*m_seed, m_bench.Configuration().KeyCalculation);
                } catch (const std::exception& error) {
                    throw ScriptError(step.line, std::string("{key}: ") + error.what());
                }
        }
        return {};
    }

    Bytes Resolve(const Step& step, const std::vector<FrameToken>& tokens) const {
        Bytes frame;
        for (const FrameToken& token : tokens) {
            const Bytes part = Resolve(step, token);
            frame.insert(frame.end(), part.begin(), part.end());
        }
        return frame;
    }

    std::vector<Expected> Expectation(const Step& step) const {
        std::vector<Expected> expected;
        for (const FrameToken& token : step.expected) {
            if (token.kind == FrameToken::Kind::kAny) {
                expected.push_back(Expected{true, 0});
                continue;
            }
            for (uint8_t byte : Resolve(step, token)) {
                expected.push_back(Expected{false, byte});
            }
        }
        return expected;
    }

    static bool Matches(const Bytes& response, const std::vector<Expected>& expected, bool anyRest) {
        if (response.size() < expected.size() || (!anyRest && response.size() != expected.size())) {
            return false;
        }
        for (size_t i = 0; i < expected.size(); ++i) {
            if (!expected[i].any && expected[i].value != response[i]) {
                return false;
            }
        }
        return true;
    }

    std::string ExpectationText(const std::vector<Expected>& expected, bool anyRest) const {
        std::string text;
        for (size_t i = 0; i < expected.size() && i < m_options.shownBytes; ++i) {
            char byte[8];
            std::snprintf(byte, sizeof(byte), "%02X", static_cast<unsigned>(expected[i].value));
            text += (i == 0 ? "" : " ") + (expected[i].any ? std::string("??") : std::string(byte));
        }
        if (expected.size() > m_options.shownBytes) {
            text += " ... (" + std::to_string(expected.size()) + " bytes)";
        }
        if (anyRest) {
            text += text.empty() ? ".." : " ..";
        }
        return text;
    }

    // ---- steps -------------------------------------------------------------------------

    int Request(const Step& step) {
        const Bytes request = Resolve(step, step.request);
        const std::vector<Expected> expected = Expectation(step);
        Bytes response = m_bench.Dm().Uds(request);
        int sent = 1;
        while (step.poll && !Matches(response, expected, step.anyRest) && sent < m_options.pollLimit) {
            std::this_thread::sleep_for(m_options.pollInterval);
            response = m_bench.Dm().Uds(request);
            ++sent;
        }
        if (response.size() >= 2 && response[0] == 0x67 && response[1] == 0x11) {
            m_seed = Bytes(response.begin() + 2, response.end());
        }
        std::string outcome = Hex(response, m_options.shownBytes);
        if (step.poll) {
            outcome += "  (" + std::to_string(sent) + (sent == 1 ? " request)" : " requests)");
        }
        Line(step, Hex(request, m_options.shownBytes), outcome);
        if (!step.compare) {
            return kTesterPassed;
        }
        if (!Matches(response, expected, step.anyRest)) {
            return Mismatch(step, ExpectationText(expected, step.anyRest));
        }
        ++m_expectations;
        return kTesterPassed;
    }

    int Package(const Step& step) {
        try {
            m_bench.BuildPackage(step.blocks, step.defect);
        } catch (const std::invalid_argument& error) {
            throw ScriptError(step.line, std::string("@package: ") + error.what());
        }
        m_carried.clear();
        std::string outcome = "DPT " + std::to_string(m_bench.CurrentPackage()->dpt.payload.size()) + " bytes";
        for (const auto& [id, size] : step.blocks) {
            m_carried.push_back(id);
            outcome += ", block " + BlockName(id) + " " + std::to_string(size) + " bytes";
        }
        Line(step, step.source, outcome);
        return kTesterPassed;
    }

    int Ucm(const Step& step) {
        UcmFault fault;
        switch (step.ucmAction) {
            case Step::UcmAction::kError:
                fault = UcmFault::Error(static_cast<uint8_t>(step.number));
                break;
            case Step::UcmAction::kDrop:
                fault = UcmFault::Drop();
                break;
            case Step::UcmAction::kAnswer:
                fault = UcmFault::Answer(static_cast<uint8_t>(step.number));
                break;
        }
        m_bench.Ucm().SetFault(step.ucmMethod, fault);
        Line(step, step.source, std::string("the next ") + UcmMethodName(step.ucmMethod) + " gets it");
        return kTesterPassed;
    }

    // Waits up to the settle time for `holds`; true when it held.
    bool Settle(const std::function<bool()>& holds) const {
        const auto deadline = Clock::now() + m_options.settleTime;
        while (!holds()) {
            if (Clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    int State(const Step& step) {
        std::optional<SWupdateState> state;
        const bool held = Settle([&] {
            state = m_bench.SwUpdateState();
            return state && static_cast<uint32_t>(*state) == step.number;
        });
        Line(step, step.source,
             state ? std::to_string(static_cast<uint32_t>(*state)) + " (" + toString(*state) + ")" : "no process");
        if (!held) {
            return Mismatch(step, "state " + std::to_string(step.number));
        }
        ++m_expectations;
        return kTesterPassed;
    }

    int Dtc(const Step& step) {
        const auto wanted =
            step.dtcFailed ? zov::dm::dem::MonitorActionType::kFailed : zov::dm::dem::MonitorActionType::kPassed;
        std::optional<zov::dm::dem::MonitorActionType> action;
        const bool held = Settle([&] {
            action = m_bench.Dm().LastDtcAction(DtcInstance(step.dtc));
            return action == wanted;
        });
        Line(step, step.source, ActionName(action));
        if (!held) {
            return Mismatch(step, ActionName(wanted));
        }
        ++m_expectations;
        return kTesterPassed;
    }

    TesterBench& m_bench;
    std::ostream& m_out;
    const PlayerOptions m_options;
    std::optional<Bytes> m_seed;
    std::vector<int> m_carried;
    size_t m_ucmPrinted = 0;
    int m_expectations = 0;
    static constexpr size_t kMaxLabelWidth = 44;
    size_t m_labelWidth = 0;
};

}  // namespace

int PlayScript(const std::vector<Step>& steps, TesterBench& bench, std::ostream& out, const PlayerOptions& options) {
    Player player(bench, out, options);
    return player.Play(steps);
}

int RunTesterConsole(int argc, char** argv, std::ostream& out, std::ostream& err) {
    const char* usage =
        "usage: velmora-tester [--root DIR] [--keep] [--verbose] SCRIPT\n"
        "       velmora-tester [--root DIR] [--keep] [--verbose] --doip PORT [--package blocks=ID:SIZE[,...]]\n"
        "  --root DIR  lay the simulated ECU out in DIR (default: a fresh temporary directory, removed at the end)\n"
        "  --keep      keep the temporary directory and the process log\n"
        "  --verbose   the process log goes to stderr instead of a file\n";
    TesterBench::Options benchOptions;
    std::string scriptPath;
    std::optional<DoIpConsoleOptions> doip;
    std::string package;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            out << usage;
            return kTesterPassed;
        }
        if (argument == "--verbose") {
            verbose = true;
        } else if (argument == "--root" && i + 1 < argc) {
            benchOptions.root = argv[++i];
        } else if (argument == "--keep") {
            benchOptions.keepRoot = true;
        } else if (argument == "--doip" && i + 1 < argc && !doip) {
            const std::string port = argv[++i];
            doip.emplace();
            if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
                std::stoul(port) > 65535) {
                err << usage;
                return kTesterScriptError;
            }
            doip->port = static_cast<uint16_t>(std::stoul(port));
        } else if (argument == "--package" && i + 1 < argc) {
            package = argv[++i];
        } else if (scriptPath.empty() && !argument.empty() && argument.front() != '-') {
            scriptPath = argument;
        } else {
            err << usage;
            return kTesterScriptError;
        }
    }
    if (doip) {
        // Served instead of played: the tester is outside.
        if (!scriptPath.empty()) {
            err << usage;
            return kTesterScriptError;
        }
        doip->root = benchOptions.root;
        doip->keepRoot = benchOptions.keepRoot;
        doip->package = package;
        doip->verbose = verbose;
        try {
            return ServeOverDoIp(*doip, out, err);
        } catch (const std::exception& error) {
            out << "FAILED: " << error.what() << "\n";
            return kTesterMismatch;
        }
    }
    if (scriptPath.empty() || !package.empty()) {
        err << usage;
        return kTesterScriptError;
    }
    std::ifstream file(scriptPath);
    if (!file.is_open()) {
        err << "velmora-tester: cannot read " << scriptPath << "\n";
        return kTesterScriptError;
    }
    std::vector<Step> steps;
    try {
        steps = ParseScript(file);
    } catch (const ScriptError& error) {
        out << "SCRIPT ERROR " << scriptPath << ":" << error.Line() << ": " << error.Message() << "\n";
        return kTesterScriptError;
    }

    std::optional<ProcessLog> log;
    try {
        log.emplace(benchOptions.root, "velmora-tester", verbose);
    } catch (const std::exception& error) {
        err << "velmora-tester: " << error.what() << "\n";
        return kTesterScriptError;
    }
    if (!log->Path().empty()) {
        out << "velmora-tester: process log " << log->Path()
            << (log->Kept() || benchOptions.keepRoot ? "" : " (removed at the end unless the script fails)") << "\n";
    }
    int code = kTesterMismatch;
    try {
        const auto start = Clock::now();
        TesterBench bench(benchOptions);
        bench.Start();
        out << "velmora-tester: " << scriptPath << ", sandbox " << bench.Sandbox().Root()
            << (benchOptions.keepRoot || !benchOptions.root.empty() ? "" : " (removed at the end)")
            << ", Velmora running after " << MillisecondsSince(start) << " ms\n";
        PlayerOptions playerOptions;
        playerOptions.scriptName = scriptPath;
        code = PlayScript(steps, bench, out, playerOptions);
    } catch (const std::exception& error) {
        out << "FAILED: " << error.what() << "\n";
        code = kTesterMismatch;
    }
    if (code != kTesterPassed || benchOptions.keepRoot) {
        log->Keep();
    }
    if (code != kTesterPassed && !log->Path().empty()) {
        out << "process log: " << log->Path() << "\n";
    }
    return code;
}

}  // namespace sim
