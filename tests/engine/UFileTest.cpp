#include "engine/UFile.h"

#include "engine/FileIoError.h"
#include "engine/RawFile.h"
#include "tests/testsupport/ChildProcess.h"
#include "tests/testsupport/RecordFiles.h"
#include "tests/testsupport/RecordingHost.h"
#include "tests/testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <vector>

using namespace ruvo;
using namespace ruvo::testsupport;

namespace {

// Record k of a test file: values 1000k + 1, 1000k + 2, ... so that every value is distinct
// and none is zero.
std::vector<double> Rec(std::size_t recLen, std::size_t k) {
    std::vector<double> rec(recLen);
    for (std::size_t i = 0; i < recLen; ++i) rec[i] = 1000.0 * static_cast<double>(k) + static_cast<double>(i) + 1.0;
    return rec;
}

std::vector<double> Zeros(std::size_t recLen) { return std::vector<double>(recLen, 0.0); }

std::vector<double> Flatten(const Table& table) {
    std::vector<double> flat;
    for (const auto& r : table) flat.insert(flat.end(), r.begin(), r.end());
    return flat;
}

Table RecTable(std::size_t count, std::size_t recLen) {
    Table t;
    for (std::size_t k = 0; k < count; ++k) t.push_back(Rec(recLen, k));
    return t;
}

class UFileTest : public ::testing::Test {
protected:
    // The object is large (buffers of 30000 values); tests keep it on the heap as the owners do.
    std::unique_ptr<TFileBase> NewFile() { return std::make_unique<TFileBase>(); }

    TempDir dir;
    ScopedRecordingHost host;
    std::string path = dir.File("records.bin");
};

// ---- buffered writing ----

TEST_F(UFileTest, WritingNothingLeavesAnEmptyFile) {
    auto f = NewFile();
    ASSERT_EQ(f->OpenFile(path, kModeWrite, 72), 0);
    EXPECT_EQ(f->CloseFile(), 0);
    EXPECT_EQ(FileSize(path), 0u);
    EXPECT_EQ(host.BoxCount(), 0u);
}

TEST_F(UFileTest, OneRecordOf72DoublesIs576Bytes) {
    auto f = NewFile();
    ASSERT_EQ(f->OpenFile(path, kModeWrite, 72), 0);
    EXPECT_EQ(f->WriteData(Rec(72, 0)), 0);
    EXPECT_EQ(f->CloseFile(), 0);
    EXPECT_EQ(FileSize(path), 576u);
    EXPECT_EQ(ReadDoubles(path), Rec(72, 0));
}

TEST_F(UFileTest, RecordsPerBufferIs30000DivRecordLength) {
    auto f = NewFile();
    for (auto [recLen, perBuf] : {std::pair{72, 416}, {1024, 29}, {2048, 14}, {1, 30000}}) {
        ASSERT_EQ(f->OpenFile(path, kModeWrite, recLen), 0);
        EXPECT_EQ(f->RecsPerBuf(), perBuf) << "RecLen " << recLen;
        EXPECT_EQ(f->RecIndex(), -1);
        EXPECT_EQ(f->BufBase(), 0);
        f->CloseFile();
    }
}

TEST_F(UFileTest, FullBufferIsFlushedAtThe417thWriteAndTheRestAtClose) {
    auto f = NewFile();
    ASSERT_EQ(f->OpenFile(path, kModeWrite, 72), 0);
    for (std::size_t k = 0; k < 416; ++k) f->WriteData(Rec(72, k));
    EXPECT_EQ(FileSize(path), 0u) << "416 records still fit in the buffer";
    f->WriteData(Rec(72, 416));
    EXPECT_EQ(FileSize(path), 416u * 576u) << "the 417th write flushes the full buffer";
    EXPECT_EQ(f->RecIndex(), 0);
    EXPECT_EQ(f->BufBase(), 416 * 72);
    f->CloseFile();
    EXPECT_EQ(ReadDoubles(path), Flatten(RecTable(417, 72)));
}

// ---- buffered reading ----

TEST_F(UFileTest, ReadsDeliverRecordsInOrderAcrossBufferLoads) {
    // 1000 values per record: 30 records per load, so 75 records take three loads.
    WriteTable(path, RecTable(75, 1000));
    auto f = NewFile();
    ASSERT_EQ(f->OpenFile(path, kModeRead, 1000), 0);
    std::vector<double> rec(1000);
    for (std::size_t k = 0; k < 75; ++k) {
        EXPECT_EQ(f->ReadData(rec), 0);
        ASSERT_EQ(rec, Rec(1000, k)) << "record " << k;
    }
    f->CloseFile();
}

TEST_F(UFileTest, ReadsPastTheEndDeliverEveryStoredValueThenZeros) {
    auto f = NewFile();
    std::vector<double> rec;

    // The end falls inside the second load: record 30 opens that short load and must come
    // back whole; records past the end are zeros, not what the first load left behind.
    WriteTable(path, RecTable(35, 1000));
    ASSERT_EQ(f->OpenFile(path, kModeRead, 1000), 0);
    rec.assign(1000, -5.0);
    for (std::size_t k = 0; k < 35; ++k) {
        f->ReadData(rec);
        ASSERT_EQ(rec, Rec(1000, k)) << "record " << k;
    }
    for (std::size_t k = 35; k < 40; ++k) {
        f->ReadData(rec);
        ASSERT_EQ(rec, Zeros(1000)) << "record " << k << " lies past the end";
    }
    f->CloseFile();

    // A file shorter than one load: its first record is complete and must not be cleared.
    WriteTable(path, RecTable(2, 1024));
    ASSERT_EQ(f->OpenFile(path, kModeRead, 1024), 0);
    rec.assign(1024, -5.0);
    f->ReadData(rec);
    EXPECT_EQ(rec, Rec(1024, 0));
    f->ReadData(rec);
    EXPECT_EQ(rec, Rec(1024, 1));
    f->ReadData(rec);
    EXPECT_EQ(rec, Zeros(1024));
    f->CloseFile();

    // A partial last record keeps its stored values and is padded with zeros.
    WriteDoubles(path, std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    ASSERT_EQ(f->OpenFile(path, kModeRead, 4), 0);
    rec.assign(4, -5.0);
    f->ReadData(rec);
    f->ReadData(rec);
    f->ReadData(rec);
    EXPECT_EQ(rec, (std::vector<double>{9, 10, 0, 0}));
    f->ReadData(rec);
    EXPECT_EQ(rec, Zeros(4));
    f->CloseFile();

    // An empty file reads as zeros.
    WriteDoubles(path, std::vector<double>{});
    ASSERT_EQ(f->OpenFile(path, kModeRead, 3), 0);
    rec.assign(3, -5.0);
    f->ReadData(rec);
    EXPECT_EQ(rec, Zeros(3));
    f->CloseFile();
    EXPECT_EQ(host.BoxCount(), 0u);
}

TEST_F(UFileTest, ByteFamilyWritesAndReadsSignedBytesLikeTheDoubleFamily) {
    auto f = NewFile();
    // 72 bytes per record: 416 per load, so 500 records flush once and need two loads back.
    ASSERT_EQ(f->OpenFileShort(path, kModeWrite, 72), 0);
    std::vector<std::int8_t> rec(72);
    for (int k = 0; k < 500; ++k) {
        for (int i = 0; i < 72; ++i) rec[static_cast<std::size_t>(i)] = static_cast<std::int8_t>((k + i) % 256 - 128);
        f->WriteDataShort(rec);
    }
    EXPECT_EQ(f->CloseFileShort(), 0);
    ASSERT_EQ(FileSize(path), 500u * 72u);

    ASSERT_EQ(f->OpenFileShort(path, kModeRead, 72), 0);
    for (int k = 0; k < 500; ++k) {
        f->ReadDataShort(rec);
        for (int i = 0; i < 72; ++i)
            ASSERT_EQ(rec[static_cast<std::size_t>(i)], static_cast<std::int8_t>((k + i) % 256 - 128))
                << "record " << k << " value " << i;
    }
    f->ReadDataShort(rec);
    EXPECT_EQ(rec, std::vector<std::int8_t>(72, 0)) << "past the end";
    f->CloseFileShort();
}

// ---- failures ----

TEST_F(UFileTest, EmptyNamesAreRefusedWithTheirMessages) {
    auto f = NewFile();
    EXPECT_EQ(f->OpenFile("", kModeWrite, 72), -1);
    EXPECT_EQ(f->OpenFileShort("", kModeRead, 72), -1);
    EXPECT_EQ(host.Errors, (std::vector<std::string>{"TFileBase.OpenFile in UFile is error.",
                                                     "TFileBase.OpenFileShort in UFile is error."}));
    EXPECT_TRUE(host.Messages.empty());
}

TEST_F(UFileTest, UnopenableFilesThrowFileIoError) {
    auto f = NewFile();
    const std::string missing = dir.File("missing.bin");
    try {
        (void)f->OpenFile(missing, kModeRead, 4);
        FAIL() << "opening a missing file for reading must throw";
    } catch (const FileIoError& e) {
        EXPECT_EQ(e.Path(), missing);
    }
    EXPECT_THROW((void)f->OpenFile(dir.File("no/such/folder.bin"), kModeWrite, 4), FileIoError);
    EXPECT_THROW((void)f->OpenFileShort(missing, kModeRead, 4), FileIoError);
}

TEST_F(UFileTest, FailedReadsThrowInsteadOfDeliveringZeros) {
    // A folder opens for reading on this system, but reading it fails: that is an error, not
    // the end of the file.
    auto f = NewFile();
    std::vector<double> rec(4);
    try {
        if (f->OpenFile(dir.Path().string(), kModeRead, 4) == 0) f->ReadData(rec);
        FAIL() << "reading a folder must throw";
    } catch (const FileIoError&) {
    }
}

// A full disk: the child's file-size limit makes every write past it fail or come up short.
TEST_F(UFileTest, WritesThatDoNotFitThrowFileIoError) {
    const auto expectFileIoError = [&](auto write) {
        return RunWithFileSizeLimit(4096, [&]() {
            try {
                write();
            } catch (const FileIoError&) {
                return 0;
            } catch (...) {
                return 2;
            }
            return 1;
        });
    };

    EXPECT_EQ(expectFileIoError([&] {
                  TFileBase f;  // a buffer flush of 30 records of 8000 bytes
                  (void)f.OpenFile(path, kModeWrite, 1000);
                  for (std::size_t k = 0; k < 31; ++k) f.WriteData(Rec(1000, k));
                  f.CloseFile();
              }),
              0)
        << "flush of a full buffer";
    EXPECT_EQ(expectFileIoError([&] {
                  TFileBase f;  // the records left in the buffer, written at close
                  (void)f.OpenFile(path, kModeWrite, 72);
                  for (std::size_t k = 0; k < 10; ++k) f.WriteData(Rec(72, k));
                  f.CloseFile();
              }),
              0)
        << "close";
    EXPECT_EQ(expectFileIoError([&] {
                  TFileBase f;
                  (void)f.OpenFileShort(path, kModeWrite, 1000);
                  for (int k = 0; k < 5; ++k) f.WriteDataShort(std::vector<std::int8_t>(1000, 1));
                  f.CloseFileShort();
              }),
              0)
        << "byte family";
    EXPECT_EQ(expectFileIoError([&] {
                  TFileBase f;
                  (void)f.OpenFile(path, kModeWrite, 1000);
                  (void)f.GoToEndForWrite(10);
              }),
              0)
        << "placeholders of reverse writing";
    EXPECT_EQ(expectFileIoError([&] {
                  RawFile raw;
                  raw.Open(path, RawFile::Mode::Write);
                  const std::vector<char> bytes(10000, 'x');
                  raw.Write(bytes.data(), bytes.size());
                  raw.Close();
              }),
              0)
        << "raw file";
}

// ---- reverse writing ----

TEST_F(UFileTest, WriteReverseFillsTheFileFromTheLastRecordToTheFirst) {
    auto f = NewFile();
    ASSERT_EQ(f->OpenFile(path, kModeWrite, 3), 0);
    ASSERT_EQ(f->GoToEndForWrite(5), 0);
    EXPECT_EQ(f->RevPos(), 12) << "start of the last of 5 records of 3";
    for (std::size_t k = 4; k >= 1; --k) EXPECT_EQ(f->WriteReverse(Rec(3, k)), 0) << "record " << k;
    EXPECT_EQ(f->WriteReverse(Rec(3, 0)), kWroteFirstRecord);
    f->CloseFile();
    EXPECT_EQ(ReadDoubles(path), Flatten(RecTable(5, 3))) << "close must not append anything";
    EXPECT_EQ(host.BoxCount(), 0u);
}

TEST_F(UFileTest, WriteReverseAfterTheFirstRecordOverwritesItAgain) {
    auto f = NewFile();
    ASSERT_EQ(f->OpenFile(path, kModeWrite, 2), 0);
    ASSERT_EQ(f->GoToEndForWrite(2), 0);
    EXPECT_EQ(f->WriteReverse(Rec(2, 1)), 0);
    EXPECT_EQ(f->WriteReverse(Rec(2, 0)), kWroteFirstRecord);
    EXPECT_EQ(f->WriteReverse(Rec(2, 7)), kWroteFirstRecord);
    f->CloseFile();
    EXPECT_EQ(ReadDoubles(path), (std::vector<double>{7001, 7002, 1001, 1002}));
    EXPECT_EQ(host.BoxCount(), 0u);

    // A single record is the first one at once.
    ASSERT_EQ(f->OpenFile(path, kModeWrite, 2), 0);
    ASSERT_EQ(f->GoToEndForWrite(1), 0);
    EXPECT_EQ(f->WriteReverse(Rec(2, 3)), kWroteFirstRecord);
    f->CloseFile();
    EXPECT_EQ(ReadDoubles(path), Rec(2, 3));
}

TEST_F(UFileTest, ReverseWritingRefusesPositionsBeforeTheStart) {
    auto f = NewFile();
    ASSERT_EQ(f->OpenFile(path, kModeWrite, 4), 0);
    EXPECT_EQ(f->GoToEndForWrite(0), -1) << "no record to start from";
    EXPECT_EQ(host.Errors, std::vector<std::string>{"TFileBase.GoToEndForWrite in UFile is error."});
    f->CloseFile();
    host.Clear();

    // Buffered writes after the placeholders move BufBase past RevPos: 10000 values per
    // record give 3 records per buffer, so the 4th write flushes and BufBase becomes 30000.
    ASSERT_EQ(f->OpenFile(path, kModeWrite, 10000), 0);
    ASSERT_EQ(f->GoToEndForWrite(1), 0);
    for (std::size_t k = 0; k < 4; ++k) f->WriteData(Rec(10000, k));
    ASSERT_GT(f->BufBase(), f->RevPos());
    std::vector<double> marker(10000, -77.0);
    EXPECT_EQ(f->WriteReverse(marker), -1);
    EXPECT_EQ(host.Errors, std::vector<std::string>{"TFileBase.WriteReverse in UFile is error."});
    f->CloseFile();
    for (double v : ReadDoubles(path)) ASSERT_NE(v, -77.0) << "the refused record must not be written";
}

// ---- windows ----

TEST_F(UFileTest, ReadWindow3SlidesOverTheFileWithZerosBeforeAndAfter) {
    WriteTable(path, RecTable(2, 3));
    auto f = NewFile();
    ASSERT_EQ(f->OpenFile(path, kModeRead, 3), 0);
    std::vector<double> rec(3);
    const auto rows = [&] {
        Table t;
        for (int row = -1; row <= 1; ++row) {
            f->ReadWindow3(rec, row);
            t.push_back(rec);
            EXPECT_EQ(std::vector<double>(f->WindowRow(row).begin(), f->WindowRow(row).end()), rec);
        }
        return t;
    };
    const auto z = Zeros(3), r0 = Rec(3, 0), r1 = Rec(3, 1);
    f->ReadWindow3(rec, kWindowClear);
    EXPECT_EQ(rows(), (Table{z, z, z}));
    f->ReadWindow3(rec, kWindowAdvance);
    EXPECT_EQ(rows(), (Table{z, z, r0}));
    f->ReadWindow3(rec, kWindowAdvance);
    EXPECT_EQ(rows(), (Table{z, r0, r1}));
    f->ReadWindow3(rec, kWindowAdvance);
    EXPECT_EQ(rows(), (Table{r0, r1, z})) << "past the end the window fills with zeros";

    rec = Rec(3, 9);
    f->ReadWindow3(rec, 2);  // not a command of the 3-record window
    f->ReadWindow3(rec, -30);
    EXPECT_EQ(rec, Rec(3, 9)) << "unknown commands leave the record alone";

    f->ReadWindow3(rec, kWindowClear);
    EXPECT_EQ(rows(), (Table{z, z, z}));
    f->CloseFile();
}

TEST_F(UFileTest, ReadWindow5HoldsFiveRecordsAtTheLongestRecordLength) {
    WriteTable(path, RecTable(3, 2048));
    auto f = NewFile();
    ASSERT_EQ(f->OpenFile(path, kModeRead, 2048), 0);
    std::vector<double> rec(2048);
    const auto rows = [&] {
        Table t;
        for (int row = -2; row <= 2; ++row) {
            f->ReadWindow5(rec, row);
            t.push_back(rec);
        }
        return t;
    };
    const auto z = Zeros(2048), r0 = Rec(2048, 0), r1 = Rec(2048, 1), r2 = Rec(2048, 2);
    f->ReadWindow5(rec, kWindowClear);
    f->ReadWindow5(rec, kWindowAdvance);
    EXPECT_EQ(rows(), (Table{z, z, z, z, r0}));
    f->ReadWindow5(rec, kWindowAdvance);
    f->ReadWindow5(rec, kWindowAdvance);
    EXPECT_EQ(rows(), (Table{z, z, r0, r1, r2}));
    f->ReadWindow5(rec, kWindowAdvance);
    EXPECT_EQ(rows(), (Table{z, r0, r1, r2, z}));
    f->CloseFile();
}

TEST_F(UFileTest, ReadBack3WalksFromTheLastRecordAndRepeatsTheFirst) {
    WriteTable(path, RecTable(3, 4));
    auto f = NewFile();
    ASSERT_EQ(f->OpenFile(path, kModeRead, 4), 0);
    std::vector<double> rec(4);
    f->ReadBack3(rec, kWindowClear);
    const Table expected{Rec(4, 2), Rec(4, 1), Rec(4, 0), Rec(4, 0), Rec(4, 0)};
    Table delivered;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        f->ReadBack3(rec, kWindowAdvance);
        f->ReadBack3(rec, 1);
        delivered.push_back(rec);
    }
    EXPECT_EQ(delivered, expected);
    f->ReadBack3(rec, 0);
    EXPECT_EQ(rec, Rec(4, 0));
    f->ReadBack3(rec, -1);
    EXPECT_EQ(rec, Rec(4, 0));
    f->CloseFile();

    // After two advances the older rows hold the records read before.
    ASSERT_EQ(f->OpenFile(path, kModeRead, 4), 0);
    f->ReadBack3(rec, kWindowClear);
    f->ReadBack3(rec, kWindowAdvance);
    f->ReadBack3(rec, kWindowAdvance);
    f->ReadBack3(rec, 0);
    EXPECT_EQ(rec, Rec(4, 2));
    f->ReadBack3(rec, -1);
    EXPECT_EQ(rec, Zeros(4));
    f->CloseFile();
}

// ---- temporary names ----

TEST_F(UFileTest, GetTempNameCreatesDistinctEmptyFilesInTheTemporaryFolder) {
    std::set<std::string> names;
    for (int i = 0; i < 40; ++i) {
        std::string name;
        GetTempName(i % 2 == 0 ? "tm1" : "notes", name);
        const std::filesystem::path p(name);
        EXPECT_EQ(p.parent_path(), dir.Path());
        const std::string base = p.filename().string();
        EXPECT_EQ(base.substr(0, 3), i % 2 == 0 ? "tm1" : "not") << base;
        EXPECT_EQ(p.extension(), ".tmp") << base;
        ASSERT_TRUE(std::filesystem::exists(p)) << base;
        EXPECT_EQ(std::filesystem::file_size(p), 0u) << base;
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 40u);
    EXPECT_EQ(host.BoxCount(), 0u);
}

TEST_F(UFileTest, GetTempNameFailureShowsItsMessageAndLeavesTheNameEmpty) {
    const ScopedEnv missing("TMPDIR", dir.File("does-not-exist").c_str());
    std::string name = "previous";
    GetTempName("tm1", name);
    EXPECT_EQ(name, "");
    EXPECT_EQ(host.Messages, std::vector<std::string>{"GetFileName error.\nCannot make a work file in " +
                                                      dir.File("does-not-exist") + ": No such file or directory"});
    EXPECT_TRUE(host.Errors.empty());
}

}  // namespace
