// Stages the SMACK files of a freshly installed software: replaces the files
// of the destination directory in the inactive partition's logistics tree by
// those of the source directory and syncs them. One object per staging run;
// not shared between threads.
#ifndef KIVLIBRARY_SMACKHANDLER_SMACKHANDLER_H
#define KIVLIBRARY_SMACKHANDLER_SMACKHANDLER_H

#include <memory>
#include <string>

class FileSystemInterface;
class ISmackConfiguration;

class SmackHandler {
public:
    explicit SmackHandler(std::shared_ptr<ISmackConfiguration> configuration);
    SmackHandler(std::shared_ptr<ISmackConfiguration> configuration, std::shared_ptr<FileSystemInterface> fileSystem);

    // True when the files were staged or staging was skipped (a directory is
    // missing); false when a step failed or the two directories overlap.
    bool Stage();

    const std::string& SourcePath() const { return m_srcPath; }
    const std::string& DestinationPath() const { return m_destPath; }

private:
    void BuildPaths();
    // False when a directory is missing: nothing is to be staged.
    bool CheckDirectories();
    // Emptying a destination that is, holds or lies inside the source would
    // delete the files before they are copied.
    bool DirectoriesOverlap() const;

    std::shared_ptr<ISmackConfiguration> m_configuration;
    std::shared_ptr<FileSystemInterface> m_fileSystem;
    std::string m_srcPath;
    std::string m_destPath;
};

#endif
