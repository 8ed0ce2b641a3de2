#include "platform/posix/WorkFolder.h"

#include "tests/testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace ruvo;
namespace fs = std::filesystem;

// A folder of a process that is gone holding a take of the player is swept by neither
// program: the next window adopts the take into its own folder; others go.
TEST(WorkFolderTest, OrphanHoldingATakeIsAdoptedNotSwept) {
    const testsupport::TempDir tmp;
    const auto orphan = [&](const char* name, const char* file) {
        const fs::path folder = tmp.Path() / name;
        fs::create_directory(folder);
        std::ofstream(folder / ".ruvo-work-folder").put('\0');
        std::ofstream(folder / file) << "take";
        return folder;
    };
    const fs::path withTake = orphan("ruvo-work-aaaaaa", "rwf0000abcd.tmp");
    const fs::path without = orphan("ruvo-work-bbbbbb", "nor0000abcd.tmp");
    EXPECT_EQ(RemoveOrphanWorkFolders(tmp.Path()), 1);
    EXPECT_TRUE(fs::exists(withTake));
    EXPECT_FALSE(fs::exists(without));

    std::string problem;
    std::unique_ptr<TWorkFolder> folder = TWorkFolder::Open(problem);
    ASSERT_TRUE(folder) << problem;
    const std::vector<std::string> adopted = folder->AdoptOrphanRecordings();
    ASSERT_EQ(adopted.size(), 1u);
    EXPECT_EQ(fs::path(adopted[0]).parent_path(), folder->Path());
    std::ifstream in(adopted[0]);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "take");
    EXPECT_FALSE(fs::exists(withTake));

    // Kept on a signal, the take stays in the private folder, for the user only.
    EXPECT_EQ(folder->KeepHere(adopted[0]), adopted[0]);
    const fs::path path = folder->Path();
    folder.reset();
    ASSERT_TRUE(fs::exists(adopted[0]));
    EXPECT_EQ(fs::status(adopted[0]).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(RemoveOrphanWorkFolders(tmp.Path()), 0);
    fs::remove_all(path);
}
