#pragma once
// TWorkFolder: this process's private folder of work files inside the temporary folder
// ($TMPDIR, else /tmp), locked while the process lives, removed with everything in it when the
// object goes. The engine's work file names point into it meanwhile. Folders whose process is
// gone (killed, crashed) are removed by the next start of either program, except those that
// hold a recording of the player ("rwf" files), which the window adopts. One per process,
// made by main() before anything makes a work file.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace ruvo {

class TWorkFolder {
public:
    // Removes the orphaned folders, then makes and locks this process's folder. Null when the
    // temporary folder cannot be used; `problem` then says why, in one line
    // ("TMPDIR /x is not writable: Permission denied").
    static std::unique_ptr<TWorkFolder> Open(std::string& problem);
    ~TWorkFolder();
    TWorkFolder(const TWorkFolder&) = delete;
    TWorkFolder& operator=(const TWorkFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // Moves a work file out of the private folder into the temporary folder itself, where it
    // outlives the process; returns its new name (the old one when it could not be moved, in
    // which case the folder is left in place for the next start to remove).
    std::string Keep(const std::string& name);
    // Leaves a work file where it is, readable by the user only, and the folder with it when
    // the object goes (the window's other files are gone by then); returns its name. The next
    // start of the window finds it through AdoptOrphanRecordings.
    std::string KeepHere(const std::string& name);
    // Moves the recordings of folders whose process is gone into this folder under new names
    // (the emptied folders go) and returns those names.
    std::vector<std::string> AdoptOrphanRecordings();

private:
    TWorkFolder(std::filesystem::path path, int lockFd) : m_path(std::move(path)), m_lockFd(lockFd) {}

    std::filesystem::path m_path;
    int m_lockFd = -1;
    bool m_leave = false;
};

// The temporary folder work folders go into: $TMPDIR when set and not empty, else /tmp.
std::filesystem::path TemporaryFolder();
// Removes the work folders in `folder` whose process is gone ("ruvo-work-XXXXXX" holding the
// mark of one, unlocked, of this user) and that hold no recording; returns how many went.
int RemoveOrphanWorkFolders(const std::filesystem::path& folder);

}  // namespace ruvo
