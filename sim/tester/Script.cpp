#include "sim/tester/Script.h"

#include <cctype>
#include <limits>
#include <map>
#include <sstream>

namespace sim {

namespace {

std::string Trim(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) {
        return "";
    }
    const auto end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    std::string word;
    while (in >> word) {
        words.push_back(word);
    }
    return words;
}

bool IsHex(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c)) == 0) {
            return false;
        }
    }
    return true;
}

// Decimal, or hex with 0x; at most `max`.
uint32_t Number(const std::string& text, uint64_t max, int line, const std::string& what) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    bool valid = !digits.empty() && digits.size() <= 10;
    for (char c : digits) {
        valid = valid && (hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                              : std::isdigit(static_cast<unsigned char>(c)) != 0);
    }
    if (!valid) {
        throw ScriptError(line, what + " \"" + text + "\" is not a number");
    }
    const uint64_t value = std::stoull(digits, nullptr, hex ? 16 : 10);
    if (value > max) {
        throw ScriptError(line, what + " " + text + " is larger than " + std::to_string(max));
    }
    return static_cast<uint32_t>(value);
}

// `dpt` or a hex block id with 0x.
int BlockId(const std::string& text, int line) {
    if (text == "dpt") {
        return FrameToken::kDpt;
    }
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X') || !IsHex(text.substr(2))) {
        throw ScriptError(line, "block id \"" + text + "\" is neither dpt nor hex like 0x12");
    }
    return static_cast<int>(Number(text, 0xFFFF, line, "block id"));
}

FrameToken Placeholder(const std::string& word, int line) {
    const std::string inner = word.substr(1, word.size() - 2);
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(inner);
    while (std::getline(in, part, ':')) {
        parts.push_back(part);
    }
    if (!inner.empty() && inner.back() == ':') {
        parts.push_back("");
    }
    FrameToken token;
    const std::string name = parts.empty() ? "" : parts.front();
    const size_t arguments = parts.empty() ? 0 : parts.size() - 1;
    if (name == "key" && arguments == 0) {
        token.kind = FrameToken::Kind::kKey;
    } else if (name == "dpt" && arguments == 0) {
        token.kind = FrameToken::Kind::kBlock;
        token.block = FrameToken::kDpt;
    } else if ((name == "block" || name == "size" || name == "sig") && arguments == 1) {
        token.kind = name == "block"  ? FrameToken::Kind::kBlock
                     : name == "size" ? FrameToken::Kind::kSize
                                      : FrameToken::Kind::kSignature;
        token.block = BlockId(parts[1], line);
    } else if (name == "piece" && arguments == 2) {
        token.kind = FrameToken::Kind::kPiece;
        token.block = BlockId(parts[1], line);
        token.piece = Number(parts[2], std::numeric_limits<uint32_t>::max(), line, "piece number");
        if (token.piece == 0) {
            throw ScriptError(line, "pieces count from 1: " + word);
        }
    } else if (name == "piece") {
        throw ScriptError(line, word + " needs a block and a piece number: {piece:ID:N}, ID hex like 0x12 or dpt");
    } else if (name == "block" || name == "size" || name == "sig") {
        throw ScriptError(line, word + " needs one block: {" + name + ":ID}, ID hex like 0x12 or dpt");
    } else {
        throw ScriptError(
            line, "unknown placeholder " + word + "; known: {block:ID} {dpt} {piece:ID:N} {size:ID} {sig:ID} {key}");
    }
    return token;
}

std::vector<FrameToken> Frame(const std::vector<std::string>& words, bool expectation, bool& anyRest, int line) {
    std::vector<FrameToken> tokens;
    anyRest = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (anyRest) {
            throw ScriptError(line, "`..` must end the expectation");
        }
        if (word.size() >= 2 && word.front() == '{' && word.back() == '}') {
            tokens.push_back(Placeholder(word, line));
        } else if (expectation && word == "??") {
            FrameToken token;
            token.kind = FrameToken::Kind::kAny;
            tokens.push_back(token);
        } else if (expectation && word == "..") {
            anyRest = true;
        } else if (word.size() <= 2 && IsHex(word)) {
            FrameToken token;
            token.value = static_cast<uint8_t>(std::stoul(word, nullptr, 16));
            tokens.push_back(token);
        } else {
            throw ScriptError(line, "\"" + word + "\" is not a hex byte" +
                                        (expectation ? ", ??, .. or a placeholder" : " or a placeholder"));
        }
    }
    return tokens;
}

void ParsePackage(const std::vector<std::string>& words, Step& step) {
    bool haveBlocks = false;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.rfind("blocks=", 0) == 0 && !haveBlocks) {
            haveBlocks = true;
            std::istringstream list(word.substr(7));
            std::string item;
            while (std::getline(list, item, ',')) {
                const auto colon = item.find(':');
                if (colon == std::string::npos) {
                    throw ScriptError(step.line, "block \"" + item + "\" is not ID:SIZE");
                }
                const int id = BlockId(item.substr(0, colon), step.line);
                if (id == FrameToken::kDpt) {
                    throw ScriptError(step.line, "the DPT is part of every package; list the logical blocks");
                }
                const uint32_t size =
                    Number(item.substr(colon + 1), std::numeric_limits<uint32_t>::max(), step.line, "block size");
                step.blocks.emplace_back(static_cast<uint16_t>(id), size);
            }
            if (step.blocks.empty()) {
                throw ScriptError(step.line, "blocks= lists no block");
            }
        } else if (word.rfind("defect=", 0) == 0) {
            if (!ParseDefect(word.substr(7), step.defect)) {
                throw ScriptError(step.line, "unknown defect \"" + word.substr(7) + "\"; known: " + DefectNames());
            }
        } else {
            throw ScriptError(step.line, "@package takes blocks=ID:SIZE[,...] [defect=KIND], not \"" + word + "\"");
        }
    }
    if (!haveBlocks) {
        throw ScriptError(step.line, "@package needs blocks=ID:SIZE[,...]");
    }
}

void ParseUcm(const std::vector<std::string>& words, Step& step) {
    static const std::map<std::string, std::pair<Step::UcmAction, size_t>> actions = {
        {"error", {Step::UcmAction::kError, 4}},
        {"drop", {Step::UcmAction::kDrop, 3}},
        {"answer", {Step::UcmAction::kAnswer, 4}},
    };
    const auto action = words.size() > 1 ? actions.find(words[1]) : actions.end();
    if (action == actions.end() || words.size() != action->second.second) {
        throw ScriptError(step.line, "@ucm takes error METHOD CODE, drop METHOD or answer METHOD VALUE");
    }
    step.ucmAction = action->second.first;
    if (!ParseUcmMethod(words[2], step.ucmMethod)) {
        std::string known;
        for (int method = static_cast<int>(UcmMethod::kStart); method <= static_cast<int>(UcmMethod::kCancel);
             ++method) {
            known += (known.empty() ? "" : " ") + std::string(UcmMethodName(static_cast<UcmMethod>(method)));
        }
        throw ScriptError(step.line, "unknown UCM method \"" + words[2] + "\"; known: " + known);
    }
    if (words.size() == 4) {
        step.number = Number(words[3], 0xFF, step.line, "value");
    }
}

Step ParseDirective(const std::vector<std::string>& words, Step step) {
    const std::string& name = words.front();
    const auto arity = [&](size_t count) {
        if (words.size() != count) {
            throw ScriptError(step.line, name + " takes " + std::to_string(count - 1) + " argument(s)");
        }
    };
    if (name == "@package") {
        step.kind = Step::Kind::kPackage;
        ParsePackage(words, step);
    } else if (name == "@restart") {
        step.kind = Step::Kind::kRestart;
        arity(1);
    } else if (name == "@powercut") {
        step.kind = Step::Kind::kPowercut;
        arity(1);
    } else if (name == "@switch-partition") {
        step.kind = Step::Kind::kSwitchPartition;
        arity(1);
    } else if (name == "@sleep") {
        step.kind = Step::Kind::kSleep;
        arity(2);
        step.number = Number(words[1], 600000, step.line, "milliseconds");
    } else if (name == "@ucm") {
        step.kind = Step::Kind::kUcm;
        ParseUcm(words, step);
    } else if (name == "@state") {
        step.kind = Step::Kind::kState;
        if (words.size() != 3 || words[1] != "=>") {
            throw ScriptError(step.line, "@state takes => N");
        }
        step.number = Number(words[2], std::numeric_limits<uint32_t>::max(), step.line, "state");
    } else if (name == "@dtc") {
        step.kind = Step::Kind::kDtc;
        if (words.size() != 4 || words[2] != "=>" || (words[3] != "passed" && words[3] != "failed")) {
            throw ScriptError(step.line, "@dtc takes NAME => passed|failed");
        }
        step.dtc = words[1];
        step.dtcFailed = words[3] == "failed";
    } else {
        throw ScriptError(step.line, "unknown directive " + name);
    }
    return step;
}

const std::map<std::string, Defect>& Defects() {
    static const std::map<std::string, Defect> defects = {
        {"none", Defect::kNone},
        {"wrong-signature", Defect::kWrongSignature},
        {"record-too-short", Defect::kRecordTooShort},
        {"record-too-long", Defect::kRecordTooLong},
        {"duplicate-block", Defect::kDuplicateBlock},
        {"unknown-block", Defect::kUnknownBlock},
        {"downgrade", Defect::kDowngrade},
        {"unknown-hardware-id", Defect::kUnknownHardwareId},
    };
    return defects;
}

}  // namespace

std::string DefectNames() {
    std::string names;
    for (const auto& entry : Defects()) {
        names += (names.empty() ? "" : " ") + entry.first;
    }
    return names;
}

bool ParseDefect(const std::string& name, Defect& defect) {
    const auto found = Defects().find(name);
    if (found == Defects().end()) {
        return false;
    }
    defect = found->second;
    return true;
}

std::optional<Step> ParseLine(const std::string& line, int lineNumber) {
    const auto hash = line.find('#');
    Step step;
    step.line = lineNumber;
    step.source = Trim(line.substr(0, hash));
    step.label = hash == std::string::npos ? "" : Trim(line.substr(hash + 1));
    if (step.source.empty()) {
        return std::nullopt;
    }
    const std::vector<std::string> words = Words(step.source);
    if (words.front().front() == '@') {
        return ParseDirective(words, step);
    }
    std::vector<std::string> request;
    std::vector<std::string> expected;
    bool arrow = false;
    for (const std::string& word : words) {
        if (word == "=>" || word == "=>*") {
            if (arrow) {
                throw ScriptError(lineNumber, "one => per line");
            }
            arrow = true;
            step.compare = true;
            step.poll = word == "=>*";
            continue;
        }
        (arrow ? expected : request).push_back(word);
    }
    if (request.empty()) {
        throw ScriptError(lineNumber, "no request before =>");
    }
    if (arrow && expected.empty()) {
        throw ScriptError(lineNumber, "nothing expected after =>");
    }
    bool unused = false;
    step.request = Frame(request, false, unused, lineNumber);
    step.expected = Frame(expected, true, step.anyRest, lineNumber);
    return step;
}

std::vector<Step> ParseScript(std::istream& script) {
    std::vector<Step> steps;
    std::string line;
    int number = 0;
    while (std::getline(script, line)) {
        ++number;
        if (auto step = ParseLine(line, number)) {
            steps.push_back(std::move(*step));
        }
    }
    return steps;
}

}  // namespace sim
