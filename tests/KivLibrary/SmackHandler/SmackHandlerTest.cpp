// SMACK staging in a sandbox directory tree: replacement of the destination's
// files, the skipped cases, source/destination pairs that overlap, and
// directories or files that would lead out of the partition's tree.
#include "KivLibrary/SmackHandler/SmackHandler.h"

#include "KivLibrary/Persistency/KivConfiguration.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::Level;
namespace fs = std::filesystem;

std::vector<std::string> Listing(const std::string& directory) {
    std::vector<std::string> names;
    if (fs::exists(directory)) {
        for (const auto& entry : fs::directory_iterator(directory)) {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

class SmackHandlerTest : public ::testing::Test {
protected:
    std::shared_ptr<KivConfiguration> Configure(const std::string& source, const std::string& destination) {
        auto configuration = std::make_shared<KivConfiguration>();
        configuration->logistics_root_path = box.Root();
        configuration->inactivePartitionName = "b";
        configuration->src_dir = source;
        configuration->dst_dir = destination;
        return configuration;
    }

    testsupport::Sandbox box;
    testsupport::LogCapture capture;
};

TEST_F(SmackHandlerTest, DestinationGetsExactlyTheSourceFilesEveryTime) {
    box.WriteFile("B/smack_new/app.rules", "new rules");
    box.WriteFile("B/smack_new/sys.rules", "sys");
    box.WriteFile("B/smack/stale.rules", "old");
    SmackHandler handler(Configure("smack_new", "smack"));
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(handler.Stage()) << capture.Dump();
        EXPECT_EQ(Listing(box.Path("B/smack")), (std::vector<std::string>{"app.rules", "sys.rules"}));
        EXPECT_EQ(box.ReadFile("B/smack/app.rules"), "new rules");
    }
    EXPECT_EQ(handler.SourcePath(), box.Root() + "/B/smack_new/");
    EXPECT_EQ(handler.DestinationPath(), box.Root() + "/B/smack/");
    EXPECT_EQ(Listing(box.Path("B/smack_new")), (std::vector<std::string>{"app.rules", "sys.rules"}));
}

TEST_F(SmackHandlerTest, MissingDirectorySkipsWithAWarning) {
    box.WriteFile("B/smack/kept.rules", "kept");
    EXPECT_TRUE(SmackHandler(Configure("smack_new", "smack")).Stage());
    EXPECT_EQ(capture.Count("Skipping SMACK staging"), 1U);
    EXPECT_EQ(box.ReadFile("B/smack/kept.rules"), "kept");

    capture.Clear();
    EXPECT_TRUE(SmackHandler(Configure("none_a", "none_b")).Stage());
    EXPECT_EQ(capture.Count("Skipping SMACK staging"), 2U);
}

TEST_F(SmackHandlerTest, OverlappingDirectoriesAreRefusedAndKeepTheirFiles) {
    box.WriteFile("B/smack/app.rules", "rules");
    box.WriteFile("B/smack/inner/deep.rules", "deep");
    struct Case {
        const char* source;
        const char* destination;
    };
    const Case cases[] = {
        {"smack", "smack"},        // the same directory
        {"smack", "./smack/"},     // the same, spelled otherwise
        {"smack", "smack/inner"},  // destination inside the source
        {"smack/inner", "smack"},  // source inside the destination
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " -> " + c.destination);
        capture.Clear();
        EXPECT_FALSE(SmackHandler(Configure(c.source, c.destination)).Stage());
        EXPECT_TRUE(capture.Contains(Level::kError, "Source and destination overlap"));
        EXPECT_EQ(box.ReadFile("B/smack/app.rules"), "rules");
        EXPECT_EQ(box.ReadFile("B/smack/inner/deep.rules"), "deep");
    }
    // A sibling whose name merely starts with the other's is no overlap.
    box.WriteFile("B/smack2/x.rules", "x");
    EXPECT_TRUE(SmackHandler(Configure("smack2", "smack_dst")).Stage());
    box.MakeDir("B/smack_dst");
    EXPECT_TRUE(SmackHandler(Configure("smack2", "smack_dst")).Stage());
    EXPECT_EQ(Listing(box.Path("B/smack_dst")), std::vector<std::string>{"x.rules"});
}

// Nothing outside the partition's tree may be emptied, filled or copied in:
// each case is refused before the destination is touched.
TEST_F(SmackHandlerTest, WaysOutOfThePartitionTreeAreRefused) {
    box.WriteFile("B/smack_new/app.rules", "new rules");
    box.WriteFile("B/smack/stale.rules", "old");
    box.WriteFile("outside/keep.rules", "keep");
    box.MakeDir("outside/sub");
    fs::create_directory_symlink(box.Path("outside"), box.Path("B/linked"));
    box.WriteFile("B/smack_evil/app.rules", "new rules");
    fs::create_symlink(box.Path("outside/keep.rules"), box.Path("B/smack_evil/evil.rules"));
    struct Case {
        const char* name;
        const char* source;
        const char* destination;
    };
    const Case cases[] = {
        {"destination is a link", "smack_new", "linked"},
        {"destination behind a link", "smack_new", "linked/sub"},
        {"source is a link", "linked", "smack"},
        {"destination above the tree", "smack_new", "../outside"},
        {"source above the tree", "../outside", "smack"},
        {"'..' even when it folds back inside", "smack_new/../smack_new", "smack"},
        {"a source file is a link", "smack_evil", "smack"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        capture.Clear();
        EXPECT_FALSE(SmackHandler(Configure(c.source, c.destination)).Stage());
        EXPECT_TRUE(capture.Contains(Level::kError, "SMACK Staging: Refusing")) << capture.Dump();
        EXPECT_EQ(Listing(box.Path("outside")), (std::vector<std::string>{"keep.rules", "sub"}));
        EXPECT_EQ(box.ReadFile("outside/keep.rules"), "keep");
        EXPECT_TRUE(Listing(box.Path("outside/sub")).empty());
        EXPECT_EQ(Listing(box.Path("B/smack")), std::vector<std::string>{"stale.rules"});
    }
}

}  // namespace
