// The tester console's script language (../shared/design/peers-and-tester.md):
// one step per line, `#` starts a comment (after a step: the step's label).
//   REQUEST                     send, print request and response
//   REQUEST => EXPECTED         also compare (`??` any one byte, final `..` the rest)
//   REQUEST =>* EXPECTED        resend every 100 ms until it matches, at most 600 times
//   @package blocks=ID:SIZE[,ID:SIZE...] [defect=KIND]
//   @restart  @powercut  @switch-partition  @sleep MS
//   @ucm error METHOD CODE | @ucm drop METHOD | @ucm answer METHOD VALUE
//   @state => N                 @dtc NAME => passed|failed
// Frames are hex bytes separated by blanks and the placeholders {block:ID},
// {dpt}, {piece:ID:N} (N from 1), {size:ID}, {sig:ID}, {key}; ID is a block
// id in hex (0x12) or `dpt`. Numbers are decimal, or hex with 0x.
// Not part of the product.
#ifndef SIM_TESTER_SCRIPT_H
#define SIM_TESTER_SCRIPT_H

#include "sim/PackageBuilder.h"
#include "sim/UpdateManager.h"

#include <cstdint>
#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace sim {

class ScriptError : public std::runtime_error {
public:
    ScriptError(int line, const std::string& message)
        : std::runtime_error("line " + std::to_string(line) + ": " + message), m_line(line), m_message(message) {}
    int Line() const { return m_line; }
    // Without the line.
    const std::string& Message() const { return m_message; }

private:
    int m_line;
    std::string m_message;
};

// One element of a frame.
struct FrameToken {
    enum class Kind { kByte, kAny, kBlock, kPiece, kSize, kSignature, kKey };
    Kind kind = Kind::kByte;
    uint8_t value = 0;
    // Block tokens: a block id, or kDpt.
    static constexpr int kDpt = -1;
    int block = 0;
    uint32_t piece = 0;
};

struct Step {
    enum class Kind {
        kRequest,
        kPackage,
        kRestart,
        kPowercut,
        kSwitchPartition,
        kSleep,
        kUcm,
        kState,
        kDtc,
    };
    enum class UcmAction { kError, kDrop, kAnswer };

    Kind kind = Kind::kRequest;
    int line = 0;
    std::string source;  // the line without its comment
    std::string label;   // the comment after the step

    // kRequest
    std::vector<FrameToken> request;
    bool compare = false;
    bool poll = false;
    std::vector<FrameToken> expected;  // kAny allowed
    bool anyRest = false;              // final `..`

    // kPackage
    std::vector<std::pair<uint16_t, uint32_t>> blocks;
    Defect defect = Defect::kNone;

    // kSleep (ms), kUcm (CODE / VALUE), kState (N)
    uint32_t number = 0;
    UcmAction ucmAction = UcmAction::kError;
    UcmMethod ucmMethod = UcmMethod::kStart;

    // kDtc
    std::string dtc;
    bool dtcFailed = false;
};

// Every line at once, so that a typo stops the script before its first
// step. Throws ScriptError.
std::vector<Step> ParseScript(std::istream& script);
// Empty for a blank or comment-only line.
std::optional<Step> ParseLine(const std::string& line, int lineNumber);

// "wrong-signature" -> Defect::kWrongSignature, ...; false for an unknown name.
bool ParseDefect(const std::string& name, Defect& defect);
// The names ParseDefect knows, separated by blanks.
std::string DefectNames();

}  // namespace sim

#endif
