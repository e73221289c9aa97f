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
    // missing); false when a step failed, the two directories overlap, or a
    // directory or source file would lead out of the partition's tree.
    bool Stage();

    const std::string& SourcePath() const { return m_srcPath; }
    const std::string& DestinationPath() const { return m_destPath; }

private:
    void BuildPaths();
    // Both directories must lie in the partition's tree as configured: no
    // "..", and no symbolic link from the tree down to them (a link would let
    // staging empty or fill a folder anywhere). A missing part ends the walk.
    bool StaysInsideTree(const std::string& configured) const;
    // Only plain files are staged: a link in the source would copy a file
    // from outside the tree in.
    bool SourceHoldsNoLinks() const;
    // False when a directory is missing: nothing is to be staged.
    bool CheckDirectories();
    // Emptying a destination that is, holds or lies inside the source would
    // delete the files before they are copied.
    bool DirectoriesOverlap() const;

    std::shared_ptr<ISmackConfiguration> m_configuration;
    std::shared_ptr<FileSystemInterface> m_fileSystem;
    std::string m_partition;
    std::string m_treePath;
    std::string m_srcPath;
    std::string m_destPath;
};

#endif
