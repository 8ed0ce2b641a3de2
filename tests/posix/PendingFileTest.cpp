#include "platform/posix/PendingFile.h"
#include "platform/posix/WorkFolder.h"

#include "tests/testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace ruvo;
using namespace ruvo::testsupport;

namespace {

void WriteThrough(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::fputs(text.c_str(), file);
    std::fclose(file);
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Both ways of writing, unnamed and under a short locked name: the target appears only whole,
// replaces an existing one only whole, and nothing else is ever left beside it.
class PendingFileTest : public ::testing::TestWithParam<bool> {
protected:
    PendingFileTest() { TPendingFile::AllowUnnamed(GetParam()); }
    ~PendingFileTest() override { TPendingFile::AllowUnnamed(true); }
    TempDir dir;
};

TEST_P(PendingFileTest, TargetAppearsWholeOrNotAtAll) {
    // The longest name the file system takes: the short name does not grow with it.
    const std::string target = dir.File(std::string(251, 'n') + ".mid");
    for (const std::string text : {"first", "second, longer"}) {
        TPendingFile pending;
        ASSERT_EQ(pending.Create(target), "");
        EXPECT_EQ(pending.WritePath().rfind(GetParam() ? "/proc/self/fd/" : dir.File(".ruvo-"), 0), 0u)
            << pending.WritePath();
        WriteThrough(pending.WritePath(), text);
        EXPECT_NE(Contents(target), text) << "nothing in place before the commit";
        EXPECT_EQ(RemoveStrayPendingFiles(dir.Path()), 0) << "a live writer's file is never swept";
        ASSERT_EQ(pending.Commit(), "");
        EXPECT_EQ(Contents(target), text);
        EXPECT_EQ(dir.FileNames(), std::vector<std::string>{std::string(251, 'n') + ".mid"});
    }
    {
        TPendingFile discarded;
        ASSERT_EQ(discarded.Create(target), "");
        WriteThrough(discarded.WritePath(), "partial");
    }
    EXPECT_EQ(Contents(target), "second, longer") << "a discarded write leaves the target alone";
    EXPECT_EQ(dir.FileNames().size(), 1u);

    TPendingFile nowhere;
    EXPECT_EQ(nowhere.Create(dir.File("missing/x.mid")), "No such file or directory");
    EXPECT_EQ(nowhere.Create(dir.File(std::string(252, 'n') + ".mid")), "File name too long") << "told before writing";

    // A replaced file keeps its mode; a new one gets the umask's.
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    TPendingFile replacing;
    ASSERT_EQ(replacing.Create(target), "");
    WriteThrough(replacing.WritePath(), "third");
    ASSERT_EQ(replacing.Commit(), "");
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

INSTANTIATE_TEST_SUITE_P(Ways, PendingFileTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& row) {
                             return std::string(row.param ? "Unnamed" : "ShortName");
                         });

TEST(StrayPendingFileTest, OnlyOrphanedShortNamesOfThePatternGo) {
    TempDir dir;
    for (const char* name : {".ruvo-Ab12cd.part", ".ruvo-Ab12cd.partial", ".ruvo-x.part", "song.mid"})
        WriteThrough(dir.File(name), "x");
    EXPECT_EQ(RemoveStrayPendingFiles(dir.Path()), 1);
    EXPECT_EQ(dir.FileNames(), (std::vector<std::string>{".ruvo-Ab12cd.partial", ".ruvo-x.part", "song.mid"}));
}

}  // namespace

// A folder of a process that is gone holding a take of the player is swept by neither
// program: the next window adopts the take into its own folder; a take kept on a signal stays
// there for the user only.
TEST(WorkFolderTest, OrphanHoldingATakeIsAdoptedNotSwept) {
    namespace fs = std::filesystem;
    const TempDir tmp;
    for (const char* file : {"ruvo-work-aaaaaa/rwf0000abcd.tmp", "ruvo-work-bbbbbb/nor0000abcd.tmp"}) {
        fs::create_directory((tmp.Path() / file).parent_path());
        WriteThrough((tmp.Path() / file).parent_path() / ".ruvo-work-folder", "");
        WriteThrough(tmp.Path() / file, "take");
    }
    EXPECT_EQ(RemoveOrphanWorkFolders(tmp.Path()), 1);
    EXPECT_TRUE(fs::exists(tmp.Path() / "ruvo-work-aaaaaa"));
    std::string problem;
    std::unique_ptr<TWorkFolder> folder = TWorkFolder::Open(problem);
    ASSERT_TRUE(folder) << problem;
    const std::vector<std::string> adopted = folder->AdoptOrphanRecordings();
    ASSERT_EQ(adopted.size(), 1u);
    EXPECT_EQ(fs::path(adopted[0]).parent_path(), folder->Path());
    EXPECT_EQ(Contents(adopted[0]), "take");
    EXPECT_FALSE(fs::exists(tmp.Path() / "ruvo-work-aaaaaa"));
    EXPECT_EQ(folder->KeepHere(adopted[0]), adopted[0]);
    const fs::path path = folder->Path();
    folder.reset();
    EXPECT_EQ(fs::status(adopted[0]).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(RemoveOrphanWorkFolders(tmp.Path()), 0);
    fs::remove_all(path);
}
