#include "unit/TestSupport.h"

#include "core/storage/ORXDatabase.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

Bytes HeaderWithoutPartners()
{
    Bytes b;
    b.Raw("ORX").ClassRecord("CPartnersManager").I32(-1).I32(0).U32(0);
    return b;
}

// Up to the first text of the first link (its project).
Bytes FirstLinkText()
{
    return HeaderWithoutPartners().ClassRecord("CLinksManager").U32(1).ClassRecord("CLink").I32(0);
}

void ExpectEmptyAfterFailedLoad(const CORXDatabase& db, const std::string& path)
{
    EXPECT_EQ(db.GetPath(), path);
    ASSERT_TRUE(db.IsUsable());
    EXPECT_EQ(db.GetPartners()->GetCount(), 0u);
    EXPECT_EQ(db.GetLinks()->GetCount(), 0u);
    EXPECT_FALSE(db.GetLastError().empty());
}

struct DamageCase
{
    const char* why;
    std::string bytes;
};

// Each file must fail to load, leave an empty database, and stay exactly as it was.
void ExpectEachRefusedAndUntouched(const std::vector<DamageCase>& cases)
{
    TempDir dir;
    for (const DamageCase& c : cases) {
        const std::string path = dir.File("data.orx");
        WriteBytes(path, c.bytes);
        CORXDatabase db;
        EXPECT_FALSE(db.Load(path)) << c.why;
        ExpectEmptyAfterFailedLoad(db, path);
        EXPECT_TRUE(db.HoldsUnreadableFile()) << c.why;
        EXPECT_FALSE(db.Save()) << c.why;
        EXPECT_TRUE(ReadBytes(path) == c.bytes) << c.why << ": the file was changed";
    }
}

} // namespace

TEST(DamagedDatabase, ShortFilesAndWrongMagicLoadAsEmpty)
{
    TempDir dir;
    const std::string valid = ReadBytes(DataFile("compact.orx"));
    const std::string cases[] = {
        "", "O", "OR", "ORY" + valid.substr(3), "orx" + valid.substr(3), std::string("\0RX", 3) + valid.substr(3)};
    for (const std::string& bytes : cases) {
        const std::string path = dir.File("data.orx");
        WriteBytes(path, bytes);
        CORXDatabase db;
        ASSERT_TRUE(db.Load(DataFile("compact.orx"))); // the failed load must drop what was there
        ASSERT_GT(db.GetLinks()->GetCount(), 0u);
        EXPECT_FALSE(db.Load(path)) << Hex(bytes.substr(0, 8));
        ExpectEmptyAfterFailedLoad(db, path);
        EXPECT_TRUE(db.HoldsUnreadableFile());
    }
}

TEST(DamagedDatabase, StructuralDamageFailsTheLoad)
{
    const std::string name64(64, 'L');
    ExpectEachRefusedAndUntouched({
        {"unknown class", Bytes().Raw("ORX").ClassRecord("CPartnerManager").I32(-1).I32(0).U32(0).Str()},
        {"class name of 64 characters", Bytes().Raw("ORX").ClassRecord(name64).I32(-1).I32(0).U32(0).Str()},
        {"links collection where partners belong", Bytes().Raw("ORX").ClassRecord("CLinksManager").U32(0).Str()},
        {"settings in a database", Bytes().Raw("ORX").ClassRecord("COptions").Str()},
        {"partner where a link belongs",
         HeaderWithoutPartners().ClassRecord("CLinksManager").U32(1).ClassRecord("CPartner").PartnerBody(1, "").Str()},
        {"object number not read yet", HeaderWithoutPartners().U16(0x0009).Str()},
        {"partners collection named again where links belong", HeaderWithoutPartners().U16(0x0002).Str()},
        {"link count of 2^32-1", HeaderWithoutPartners()
                                     .ClassRecord("CLinksManager")
                                     .U32(0xFFFFFFFF)
                                     .ClassRecord("CLink")
                                     .LinkBody(0, "")
                                     .Str()},
        {"partner count of 2^32-1",
         Bytes().Raw("ORX").ClassRecord("CPartnersManager").I32(-1).I32(0).U32(0xFFFFFFFF).Str()},
        {"text length of 2^64-1", FirstLinkText().U8(0xFF).U16(0xFFFF).U32(0xFFFFFFFF).U64(~uint64_t{0}).Str()},
        {"text length of 2^32", FirstLinkText().U8(0xFF).U16(0xFFFF).U32(0xFFFFFFFF).U64(uint64_t{1} << 32).Str()},
        {"UTF-16 text length of 2^32",
         FirstLinkText().U8(0xFF).U16(0xFFFE).U8(0xFF).U16(0xFFFF).U32(0xFFFFFFFF).U64(uint64_t{1} << 32).Str()},
        {"links collection missing", HeaderWithoutPartners().Str()},
    });
}

TEST(DamagedDatabase, UnreadableFileIsNeverSavedOverUntilSetAside)
{
    TempDir dir;
    const std::string path = dir.File("data.orx");
    std::string damaged = ReadBytes(DataFile("compact.orx"));
    damaged.resize(damaged.size() / 2);
    WriteBytes(path, damaged);

    CORXDatabase db;
    ASSERT_FALSE(db.Load(path));
    ASSERT_TRUE(db.HoldsUnreadableFile());
    db.GetPartners()->AddPartner("typed after the failed load");

    EXPECT_FALSE(db.Save());
    EXPECT_FALSE(db.Save(path));
    EXPECT_FALSE(db.Save(dir.File("DATA.ORX")));
    EXPECT_FALSE(db.GetLastError().empty());
    EXPECT_EQ(ReadBytes(path), damaged);
    EXPECT_FALSE(std::filesystem::exists(path + ".bak"));

    // Another file is no risk to the damaged one.
    EXPECT_TRUE(db.Save(dir.File("elsewhere.orx")));
    EXPECT_EQ(ReadBytes(path), damaged);

    std::string setAside;
    ASSERT_TRUE(db.SetAsideUnreadableFile(&setAside));
    EXPECT_FALSE(db.HoldsUnreadableFile());
    EXPECT_NE(setAside, path);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(ReadBytes(setAside), damaged);
    EXPECT_EQ(db.GetPath(), path);

    ASSERT_TRUE(db.Save());
    EXPECT_EQ(ReadBytes(setAside), damaged);
    CORXDatabase back;
    ASSERT_TRUE(back.Load(path));
    EXPECT_EQ(back.GetPartners()->GetPartners()[0]->GetName(), "typed after the failed load");
}

TEST(DamagedDatabase, SettingAsideTwiceInOneSecondKeepsBothFiles)
{
    TempDir dir;
    const std::string path = dir.File("data.orx");
    std::string names[2];
    for (int i = 0; i < 2; ++i) {
        WriteBytes(path, "damaged " + std::to_string(i));
        CORXDatabase db;
        ASSERT_FALSE(db.Load(path));
        ASSERT_TRUE(db.SetAsideUnreadableFile(&names[i]));
    }
    EXPECT_NE(names[0], names[1]);
    EXPECT_EQ(ReadBytes(names[0]), "damaged 0");
    EXPECT_EQ(ReadBytes(names[1]), "damaged 1");
}

TEST(DamagedDatabase, MissingFileIsNotUnreadable)
{
    TempDir dir;
    const std::string path = dir.File("data.orx");
    CORXDatabase db;
    EXPECT_FALSE(db.Load(path));
    ExpectEmptyAfterFailedLoad(db, path);
    EXPECT_FALSE(db.HoldsUnreadableFile());

    db.GetPartners()->AddPartner("first");
    ASSERT_TRUE(db.Save());
    EXPECT_EQ(FileMode(path), 0600u);
    EXPECT_FALSE(std::filesystem::exists(path + ".bak"));

    // A good load after a failed one clears the mark.
    WriteBytes(dir.File("bad.orx"), "garbage");
    ASSERT_FALSE(db.Load(dir.File("bad.orx")));
    ASSERT_TRUE(db.HoldsUnreadableFile());
    ASSERT_TRUE(db.Load(path));
    EXPECT_FALSE(db.HoldsUnreadableFile());
    EXPECT_TRUE(db.Save());
}

TEST(DamagedDatabase, FolderInPlaceOfTheFileIsUnreadable)
{
    TempDir dir;
    std::filesystem::create_directory(dir.File("data.orx"));
    CORXDatabase db;
    EXPECT_FALSE(db.Load(dir.File("data.orx")));
    EXPECT_TRUE(db.HoldsUnreadableFile());
    EXPECT_FALSE(db.Save());
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("data.orx")));
}

// A count that no longer matches the records, or bytes that no longer belong to one, must not
// load as a smaller database: saving it back would drop every record past the damage.
TEST(DamagedDatabase, CountsThatDisagreeWithTheRecordsFailTheLoad)
{
    const std::string valid = ReadBytes(DataFile("compact.orx"));
    const auto countAfter = [&](const char* className) {
        const std::size_t at = valid.find(className);
        EXPECT_NE(at, std::string::npos) << className;
        return at + std::strlen(className) + (std::string_view(className) == "CPartnersManager" ? 8 : 0);
    };
    const auto withCount = [&](std::size_t at, uint32_t count) {
        std::string s = valid;
        for (int i = 0; i < 4; ++i)
            s[at + i] = static_cast<char>((count >> (8 * i)) & 0xFF);
        return s;
    };
    const std::size_t linkCount = countAfter("CLinksManager");
    const std::size_t partnerCount = countAfter("CPartnersManager");
    const std::size_t partnerBodies = partnerCount + 4;
    ExpectEachRefusedAndUntouched({
        {"link count lowered to one", withCount(linkCount, 1)},
        {"link count lowered to zero", withCount(linkCount, 0)},
        {"partner count lowered to one", withCount(partnerCount, 1)},
        {"55 bytes cut out of the partners", valid.substr(0, partnerBodies + 40) + valid.substr(partnerBodies + 95)},
        {"one byte after the last link", valid + '\0'},
        {"the last link twice", valid + valid.substr(valid.size() - 120)},
        {"an empty entry counted after the last link", withCount(linkCount, 13) + std::string(2, '\0')},
    });
    // The untouched file still loads, so the cases above fail for their damage alone.
    TempDir dir;
    CORXDatabase db;
    WriteBytes(dir.File("data.orx"), valid);
    EXPECT_TRUE(db.Load(dir.File("data.orx"))) << db.GetLastError();
}
