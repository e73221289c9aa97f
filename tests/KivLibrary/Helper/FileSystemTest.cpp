#include "KivLibrary/Helper/AutoCloseFile.h"
#include "KivLibrary/Helper/FileSystem.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Sandbox.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;
using testsupport::Level;
using testsupport::LogCapture;
using testsupport::Sandbox;

namespace {

class FileSystemTest : public ::testing::Test {
protected:
    std::shared_ptr<FileSystemInterface> Make() { return CreateFileSystem(operations); }

    Sandbox box;
    LogCapture capture;
    FileSystemOperations operations = SystemFileSystemOperations();
    std::vector<int> syncedFds;
};

}  // namespace

TEST_F(FileSystemTest, SyncFile) {
    operations.fsync = [this](int fd) {
        syncedFds.push_back(fd);
        return ::fsync(fd);
    };
    auto fileSystem = Make();
    EXPECT_TRUE(fileSystem->SyncFile(""));
    EXPECT_TRUE(syncedFds.empty());

    EXPECT_TRUE(fileSystem->SyncFile(box.WriteFile("data.bin", "abc")));
    ASSERT_EQ(syncedFds.size(), 1u);
    EXPECT_GE(syncedFds[0], 0);
    EXPECT_TRUE(capture.Texts().empty());
}

TEST_F(FileSystemTest, SyncFileFailures) {
    operations.fsync = [](int) {
        errno = EIO;
        return -1;
    };
    const std::string file = box.WriteFile("data.bin", "abc");
    EXPECT_FALSE(Make()->SyncFile(file));
    EXPECT_TRUE(capture.Contains(Level::kError, "File: Cannot fsync path " + file + ": error Input/output error"));

    // A missing file fails even when fsync itself would succeed.
    operations.fsync = [](int) { return 0; };
    const std::string missing = box.Path("missing.bin");
    EXPECT_FALSE(Make()->SyncFile(missing));
    EXPECT_TRUE(
        capture.Contains(Level::kError, "File: Cannot fsync path " + missing + ": error No such file or directory"));
    for (const std::string& text : capture.Texts()) {
        EXPECT_EQ(text.find("("), std::string::npos) << "no file-and-line suffix expected: " << text;
    }
}

TEST_F(FileSystemTest, CopyFilesReplacesExistingAndSyncsEachCopy) {
    box.WriteFile("src/a.txt", "new a");
    box.WriteFile("src/b.bin", std::string("\0\1\2", 3));
    box.WriteFile("dst/a.txt", "old content that is longer");
    operations.fsync = [this](int fd) {
        syncedFds.push_back(fd);
        return 0;
    };

    ASSERT_TRUE(Make()->CopyFiles(box.Path("src"), box.Path("dst/")));
    EXPECT_EQ(box.ReadFile("dst/a.txt"), "new a");
    EXPECT_EQ(box.ReadFile("dst/b.bin"), std::string("\0\1\2", 3));
    EXPECT_EQ(syncedFds.size(), 2u);
    EXPECT_TRUE(
        capture.Contains(Level::kInfo, "Copying files from '" + box.Path("src") + "' ---> '" + box.Path("dst/") + "'"));
    EXPECT_TRUE(capture.Contains(Level::kInfo,
                                 "Copying file: '" + box.Path("src/a.txt") + "' ---> '" + box.Path("dst/a.txt") + "'"));

    box.MakeDir("empty");
    EXPECT_TRUE(Make()->CopyFiles(box.Path("empty"), box.Path("dst")));
}

TEST_F(FileSystemTest, CopyFilesStopsAtFirstFailure) {
    box.WriteFile("src/only.txt", "x");
    box.MakeDir("dst");

    operations.fsync = [](int) {
        errno = EIO;
        return -1;
    };
    EXPECT_FALSE(Make()->CopyFiles(box.Path("src"), box.Path("dst")));
    EXPECT_TRUE(capture.Contains(Level::kError, "Failed to sync file: '" + box.Path("dst/only.txt") + "'"));
    EXPECT_EQ(box.ReadFile("dst/only.txt"), "x");  // the copy made stays

    operations.copy_file = [](const fs::path&, const fs::path&, fs::copy_options) { return false; };
    EXPECT_FALSE(Make()->CopyFiles(box.Path("src"), box.Path("dst")));
    EXPECT_TRUE(capture.Contains(Level::kError, "Failed to copy file: '" + box.Path("src/only.txt") + "' ---> '" +
                                                    box.Path("dst/only.txt") + "'"));

    capture.Clear();
    EXPECT_FALSE(Make()->CopyFiles(box.Path("nowhere"), box.Path("dst")));
    EXPECT_TRUE(capture.Contains(Level::kError, "Could not copy: '" + box.Path("nowhere") + "' , to: '' : Cause: "));
}

TEST_F(FileSystemTest, RemoveAllInDir) {
    EXPECT_TRUE(Make()->RemoveAllInDir(box.Path("missing")));
    EXPECT_EQ(capture.Texts(), std::vector<std::string>{"Removing all in dir: '" + box.Path("missing") + "'"});

    box.WriteFile("dir/a", "1");
    box.WriteFile("dir/b", "2");
    box.MakeDir("dir/sub");
    EXPECT_TRUE(Make()->RemoveAllInDir(box.Path("dir")));
    EXPECT_TRUE(fs::exists(box.Path("dir")));
    EXPECT_TRUE(fs::is_empty(box.Path("dir")));
    EXPECT_TRUE(capture.Contains(Level::kInfo, "Removing: '" + box.Path("dir/a") + "'"));
    EXPECT_TRUE(Make()->RemoveAllInDir(box.Path("dir")));
}

TEST_F(FileSystemTest, RemoveAllInDirFailures) {
    box.WriteFile("dir/sub/file", "1");
    EXPECT_FALSE(Make()->RemoveAllInDir(box.Path("dir")));
    EXPECT_TRUE(capture.Contains(Level::kError, "Remove all in dir: '" + box.Path("dir/sub") + "' Failed: Cause: "));
    EXPECT_TRUE(fs::exists(box.Path("dir/sub/file")));

    operations.remove = [](const fs::path&) { return false; };
    box.WriteFile("other/a", "1");
    EXPECT_FALSE(Make()->RemoveAllInDir(box.Path("other")));
    EXPECT_TRUE(capture.Contains(Level::kError, "Failed to remove: '" + box.Path("other/a") + "'"));
}

TEST_F(FileSystemTest, PrimitivesPassThroughIncludingExceptions) {
    auto fileSystem = Make();
    const std::string file = box.WriteFile("f", "content");
    EXPECT_TRUE(fileSystem->Exists(file));
    EXPECT_FALSE(fileSystem->IsEmpty(file));
    EXPECT_TRUE(fileSystem->CopyFile(file, box.Path("g")));
    EXPECT_TRUE(fileSystem->CopyFile(file, box.Path("g")));  // overwrites
    EXPECT_TRUE(fileSystem->Remove(box.Path("g")));
    EXPECT_FALSE(fileSystem->Remove(box.Path("g")));
    EXPECT_FALSE(fileSystem->Exists(box.Path("g")));
    EXPECT_THROW(fileSystem->IsEmpty(box.Path("g")), fs::filesystem_error);
}

TEST(AutoCloseFileIfstream, OpenFailureWithAndWithoutThrowFlag) {
    Sandbox box;
    EXPECT_THROW(AutoCloseFileIfstream(box.Path("missing"), true), std::ios_base::failure);
    AutoCloseFileIfstream quiet(box.Path("missing"), false);
    EXPECT_FALSE(quiet.IsOpen());
    char byte = 0;
    EXPECT_FALSE(quiet.Read(&byte, 1));
}

TEST(AutoCloseFileIfstream, SeekReadAndShortRead) {
    Sandbox box;
    std::string content = "0123\n";
    content += '\0';
    content += "789";
    const std::string file = box.WriteFile("data", content);
    {
        AutoCloseFileIfstream stream(file, true);
        ASSERT_TRUE(stream.IsOpen());
        ASSERT_NE(stream.GetStreamBuffer(), nullptr);
        EXPECT_TRUE(stream.GetStreamBuffer()->is_open());
        char buffer[4] = {};
        stream.Seek(4, std::ios_base::beg);
        ASSERT_TRUE(stream.Read(buffer, 3));
        EXPECT_EQ(std::string(buffer, 3), content.substr(4, 3));  // binary, no translation
        stream.Seek(-1, std::ios_base::end);
        EXPECT_THROW(stream.Read(buffer, 2), std::ios_base::failure);
    }
    AutoCloseFileIfstream quiet(file, false);
    char buffer[16] = {};
    EXPECT_FALSE(quiet.Read(buffer, sizeof buffer));
}

TEST(AutoCloseFileOfstream, TruncatesWritesAndClosesOnDestruction) {
    Sandbox box;
    const std::string file = box.WriteFile("out", "previous longer content");
    {
        AutoCloseFileOfstream stream(file);
        stream.Write("ab\0c", 4);
    }
    EXPECT_EQ(box.ReadFile("out"), std::string("ab\0c", 4));
    EXPECT_THROW(AutoCloseFileOfstream(box.Path("no/such/dir/out")), std::ios_base::failure);
}

TEST(AutoCloseFileOfstream, FailedFlushOnCloseIsLoggedNotThrown) {
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "/dev/full not available";
    }
    LogCapture capture;
    {
        AutoCloseFileOfstream stream("/dev/full");
        stream.Write("x", 1);  // buffered; the device refuses it on close
    }
    EXPECT_TRUE(capture.Contains(Level::kError, "File: Cannot write path /dev/full"));
}
