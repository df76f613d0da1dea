#include "unit/TestSupport.h"

#include "core/storage/ORXDatabase.h"
#include "core/storage/SafeFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

using namespace testsupport;

namespace {

// The link that Bytes::LinkBody describes.
std::unique_ptr<CLink> MakeLink(int32_t partnerId, std::string project)
{
    auto link = std::make_unique<CLink>();
    link->SetPartnerId(partnerId);
    link->SetProject(std::move(project));
    link->SetFirstPaymentDate(OleDateTime(41000.0));
    link->SetLastPaymentDate(OleDateTime(41365.0));
    link->SetPeriod(OleDateTimeSpan(365.0));
    return link;
}

// Compares whole files but reports only where they start to differ.
void ExpectSameBytes(const std::string& actual, const std::string& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    const auto diff = std::mismatch(actual.begin(), actual.end(), expected.begin());
    if (diff.first != actual.end()) {
        const auto at = static_cast<std::size_t>(diff.first - actual.begin());
        const std::size_t from = at < 8 ? 0 : at - 8;
        ADD_FAILURE() << "first difference at byte " << at << ": " << Hex(actual.substr(from, 24)) << " vs "
                      << Hex(expected.substr(from, 24));
    }
}

} // namespace

// Class and object numbers count every record written before: the link class is number five
// after the two collections, seven after a partner's class record and object.
TEST(DatabaseLayout, LinkClassNumberFollowsThePartnerRecords)
{
    for (const int partners : {0, 1}) {
        SCOPED_TRACE(partners);
        TempDir dir;
        CORXDatabase db;
        if (partners)
            db.GetPartners()->AddPartner("Ann");
        for (int i = 0; i < 3; ++i)
            db.GetLinks()->Append(MakeLink(i, "p" + std::to_string(i)));
        ASSERT_TRUE(db.Save(dir.File("new.orx")));

        Bytes expected;
        expected.Raw("ORX").ClassRecord("CPartnersManager").I32(-1).I32(partners).U32(partners);
        if (partners)
            expected.ClassRecord("CPartner").PartnerBody(0, "Ann");
        expected.ClassRecord("CLinksManager").U32(3);
        expected.ClassRecord("CLink").LinkBody(0, "p0");
        expected.U16(partners ? 0x8007 : 0x8005).LinkBody(1, "p1");
        expected.U16(partners ? 0x8007 : 0x8005).LinkBody(2, "p2");
        ExpectSameBytes(ReadBytes(dir.File("new.orx")), expected.Str());

        CORXDatabase back;
        ASSERT_TRUE(back.Load(dir.File("new.orx")));
        ASSERT_EQ(back.GetLinks()->GetCount(), 3u);
        EXPECT_EQ(back.GetLinks()->GetLinks()[2]->GetProject(), "p2");
    }
}

TEST(DatabaseLayout, ReferenceFilesLoadWithTheirFieldsAndSaveByteForByte)
{
    for (const char* name : {"reference.orx", "compact.orx"}) {
        SCOPED_TRACE(name);
        TempDir dir;
        const std::string original = ReadBytes(DataFile(name));
        ASSERT_FALSE(original.empty());
        const std::string path = dir.File("data.orx");
        WriteBytes(path, original);

        CORXDatabase db;
        ASSERT_TRUE(db.Load(path)) << db.GetLastError();
        ASSERT_TRUE(db.Save());
        ExpectSameBytes(ReadBytes(path), original);
        ExpectSameBytes(ReadBytes(path + ".bak"), original);
        EXPECT_EQ(db.GetPath(), path);
    }

    // Fields land where they belong, not merely somewhere that writes back the same way.
    CORXDatabase db;
    ASSERT_TRUE(db.Load(DataFile("reference.orx")));
    const CPartnersManager& partners = *db.GetPartners();
    EXPECT_EQ(partners.GetPartnerFilter(), 2);
    EXPECT_EQ(partners.GetNextPartnerId(), 6);
    ASSERT_EQ(partners.GetCount(), 3u);
    const CPartner& alpha = *partners.GetPartners()[0];
    EXPECT_EQ(alpha.GetId(), 1);
    EXPECT_EQ(alpha.GetName(), "Alpha Links");
    EXPECT_EQ(alpha.GetOrganization(), "Alpha Ltd");
    EXPECT_EQ(alpha.GetEmail(), "alpha@example.com");
    EXPECT_EQ(alpha.GetIcq(), "123456");
    EXPECT_EQ(alpha.GetPhone(), "+1 555 0100");
    EXPECT_EQ(alpha.GetExtra(), "x");
    EXPECT_EQ(alpha.GetPaymentType(0), "PayPal");
    EXPECT_EQ(alpha.GetPaymentId(0), "alpha@pay.example");
    EXPECT_EQ(alpha.GetPaymentType(1), "Wire");
    EXPECT_EQ(alpha.GetPaymentId(1), "DE00 1234");
    EXPECT_EQ(alpha.GetComments(), std::string(254, 'A'));
    EXPECT_EQ(partners.GetPartners()[1]->GetComments(), std::string(255, 'B'));
    EXPECT_EQ(partners.GetPartners()[2]->GetId(), 5);

    const auto links = db.GetLinks()->GetLinks();
    ASSERT_EQ(links.size(), 6u);
    const CLink& l1 = *links[1];
    EXPECT_EQ(l1.GetPartnerId(), 1);
    EXPECT_EQ(l1.GetProject(), "Project 1");
    EXPECT_EQ(l1.GetFirstPaymentDate(), OleDateTime(41001.0));
    EXPECT_EQ(l1.GetLastPaymentDate(), OleDateTime(41366.0));
    EXPECT_EQ(l1.GetPeriod(), OleDateTimeSpan(60.0));
    EXPECT_EQ(l1.GetCostMode(), 1);
    EXPECT_EQ(l1.GetCostPerMonthValue(), 10);
    EXPECT_EQ(l1.GetCostPerPeriodValue(), 25);
    EXPECT_EQ(l1.GetFromPage(), "http://partner1.example.com/links.html");
    EXPECT_EQ(l1.GetToPage(), "http://www.example.org/page1.html");
    EXPECT_EQ(l1.GetAnchor(), "anchor text 1");
    EXPECT_EQ(l1.GetStartingPR(), 1);
    EXPECT_EQ(l1.GetCurrentPR(), 3);
    EXPECT_EQ(l1.GetStatus(), 0x01u);
    EXPECT_EQ(l1.GetPreviousPR(), 2);
    EXPECT_EQ(l1.GetReserved(), 0);
    EXPECT_EQ(l1.GetComment(), std::string(255, 'c'));
    EXPECT_EQ(l1.GetExternalLinks(), 3);
    EXPECT_EQ(links[0]->GetAnchor(), std::string(254, 'a'));
    EXPECT_EQ(links[2]->GetFirstPaymentDate().GetStatus(), DateStatus::Null);
    EXPECT_EQ(links[2]->GetLastPaymentDate().GetStatus(), DateStatus::Invalid);
    EXPECT_EQ(links[2]->GetPeriod().GetStatus(), DateStatus::Null);
    EXPECT_EQ(links[3]->GetComment().size(), 70000u);
    EXPECT_EQ(links[3]->GetComment().substr(0, 3), "abc");
    EXPECT_EQ(links[3]->GetStatus(), 0x04u);
    EXPECT_EQ(links[4]->GetFirstPaymentDate(), OleDateTime(40999.75));
}

TEST(DatabaseLayout, SchemaNumbersOtherThanOneLoadAndAreWrittenBackAsRead)
{
    TempDir dir;
    Bytes file;
    file.Raw("ORX").ClassRecord("CPartnersManager", 2).I32(-1).I32(1).U32(1);
    file.ClassRecord("CPartner", 0).PartnerBody(0, "Ann");
    file.ClassRecord("CLinksManager", 9).U32(1);
    file.ClassRecord("CLink", 0xFFFE).LinkBody(0, "a");
    WriteBytes(dir.File("in.orx"), file.Str());

    CORXDatabase db;
    ASSERT_TRUE(db.Load(dir.File("in.orx"))) << db.GetLastError();
    EXPECT_EQ(db.GetLinks()->GetLinks()[0]->GetProject(), "a");
    ASSERT_TRUE(db.Save(dir.File("out.orx")));
    ExpectSameBytes(ReadBytes(dir.File("out.orx")), file.Str());
}

TEST(DatabaseLayout, BackReferenceToEarlierLinkLoadsAsSeparateRecord)
{
    TempDir dir;
    Bytes file;
    file.Raw("ORX").ClassRecord("CPartnersManager").I32(-1).I32(0).U32(0);
    file.ClassRecord("CLinksManager").U32(2);
    file.ClassRecord("CLink").LinkBody(4, "shared"); // class 5, object 6
    file.U16(0x0006);
    WriteBytes(dir.File("in.orx"), file.Str());

    CORXDatabase db;
    ASSERT_TRUE(db.Load(dir.File("in.orx"))) << db.GetLastError();
    auto links = db.GetLinks()->GetLinks();
    ASSERT_EQ(links.size(), 2u);
    EXPECT_NE(links[0], links[1]);
    EXPECT_EQ(links[1]->GetProject(), "shared");
    links[1]->SetProject("edited");
    EXPECT_EQ(links[0]->GetProject(), "shared");
    db.GetLinks()->RemoveLink(links[0]);
    EXPECT_EQ(db.GetLinks()->GetLinks()[0]->GetPartnerId(), 4);

    // Written back, every link is a record of its own.
    ASSERT_TRUE(db.Save(dir.File("out.orx")));
    CORXDatabase back;
    ASSERT_TRUE(back.Load(dir.File("out.orx")));
    ASSERT_EQ(back.GetLinks()->GetCount(), 1u);
    EXPECT_EQ(back.GetLinks()->GetLinks()[0]->GetProject(), "edited");
}

TEST(DatabaseLayout, NullCollectionLoadsAsAbsentAndReadingGoesOn)
{
    TempDir dir;
    Bytes file;
    file.Raw("ORX").U16(0x0000);
    file.ClassRecord("CLinksManager").U32(1).ClassRecord("CLink").LinkBody(3, "after the gap");
    WriteBytes(dir.File("in.orx"), file.Str());

    CORXDatabase db;
    ASSERT_TRUE(db.Load(dir.File("in.orx"))) << db.GetLastError();
    EXPECT_EQ(db.GetPartners(), nullptr);
    ASSERT_NE(db.GetLinks(), nullptr);
    ASSERT_EQ(db.GetLinks()->GetCount(), 1u);
    EXPECT_EQ(db.GetLinks()->GetLinks()[0]->GetProject(), "after the gap");
    EXPECT_FALSE(db.IsUsable());
    EXPECT_FALSE(db.HoldsUnreadableFile());

    ASSERT_TRUE(db.Save(dir.File("out.orx")));
    ExpectSameBytes(ReadBytes(dir.File("out.orx")), file.Str());
}

TEST(DatabaseSave, BackupAlwaysHoldsThePreviousSave)
{
    TempDir dir;
    const std::string path = dir.File("data.orx");
    WriteBytes(path, ReadBytes(DataFile("compact.orx")));
    CORXDatabase db;
    ASSERT_TRUE(db.Load(path));

    db.GetPartners()->AddPartner("first");
    ASSERT_TRUE(db.Save());
    const std::string firstSave = ReadBytes(path);
    EXPECT_EQ(ReadBytes(path + ".bak"), ReadBytes(DataFile("compact.orx")));

    db.GetPartners()->AddPartner("second");
    ASSERT_TRUE(db.Save(path));
    EXPECT_NE(ReadBytes(path), firstSave);
    EXPECT_EQ(ReadBytes(path + ".bak"), firstSave);
    EXPECT_EQ(db.GetPath(), path);
}

TEST(DatabaseSave, OwnPathInOtherLetterCaseStillBacksUpButOtherPathsDoNot)
{
    TempDir dir;
    CORXDatabase db;
    EXPECT_FALSE(db.Load(dir.File("data.orx"))); // missing: an empty database bound to the path
    db.GetPartners()->AddPartner("p");

    WriteBytes(dir.File("DATA.orx"), "previous upper");
    ASSERT_TRUE(db.Save(dir.File("DATA.orx")));
    EXPECT_EQ(ReadBytes(dir.File("DATA.orx.bak")), "previous upper");

    WriteBytes(dir.File("other.orx"), "previous other");
    ASSERT_TRUE(db.Save(dir.File("other.orx")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("other.orx.bak")));
    EXPECT_EQ(ReadBytes(dir.File("other.orx")), ReadBytes(dir.File("DATA.orx")));

    // Neither save moved the database to the file it wrote.
    EXPECT_EQ(db.GetPath(), dir.File("data.orx"));
    EXPECT_FALSE(std::filesystem::exists(dir.File("data.orx")));
}

TEST(DatabaseSave, NewFilesAreOwnerOnlyAndReplacedFilesKeepTheirMode)
{
    TempDir dir;
    CORXDatabase db;
    db.GetPartners()->AddPartner("p");
    ASSERT_TRUE(db.Save(dir.File("fresh.orx")));
    EXPECT_EQ(FileMode(dir.File("fresh.orx")), 0600u);

    WriteBytes(dir.File("shared.orx"), "old");
    ASSERT_EQ(::chmod(dir.File("shared.orx").c_str(), 0640), 0);
    ASSERT_TRUE(db.Save(dir.File("shared.orx")));
    EXPECT_EQ(FileMode(dir.File("shared.orx")), 0640u);
    EXPECT_NE(ReadBytes(dir.File("shared.orx")), "old");

    // No temporary file is left beside the target.
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        ++entries;
    EXPECT_EQ(entries, 2);
}

TEST(DatabaseSave, SavingThroughSymbolicLinkKeepsTheLink)
{
    TempDir dir;
    std::filesystem::create_directory(dir.File("real"));
    const std::string real = dir.File("real/data.orx");
    const std::string link = dir.File("data.orx");
    WriteBytes(real, ReadBytes(DataFile("compact.orx")));
    std::filesystem::create_symlink(real, link);

    CORXDatabase db;
    ASSERT_TRUE(db.Load(link));
    db.GetPartners()->AddPartner("added");
    ASSERT_TRUE(db.Save());

    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::read_symlink(link), real);
    CORXDatabase back;
    ASSERT_TRUE(back.Load(real));
    EXPECT_EQ(back.GetPartners()->GetPartners().back()->GetName(), "added");
    EXPECT_EQ(ReadBytes(real + ".bak"), ReadBytes(DataFile("compact.orx")));
}

// A link whose target is missing (a database on a drive not mounted yet, a moved folder) is
// followed like any other: the target is created when its folder is there, and an error names the
// link otherwise. The link itself never turns into a regular file.
TEST(DatabaseSave, DanglingLinksAreFollowedOrRefusedButNeverReplaced)
{
    TempDir dir;
    std::filesystem::create_directory(dir.File("real"));
    std::filesystem::create_symlink("real/chain.orx", dir.File("relative.orx"));
    std::filesystem::create_symlink(dir.File("relative.orx"), dir.File("data.orx")); // link to a link
    std::filesystem::create_symlink(dir.File("gone/data.orx"), dir.File("nowhere.orx"));

    CORXDatabase db;
    EXPECT_FALSE(db.Load(dir.File("data.orx")));
    EXPECT_FALSE(db.HoldsUnreadableFile());
    db.GetPartners()->AddPartner("first");
    ASSERT_TRUE(db.Save()) << db.GetLastError();
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("data.orx")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("relative.orx")));
    CORXDatabase back;
    ASSERT_TRUE(back.Load(dir.File("real/chain.orx")));
    EXPECT_EQ(back.GetPartners()->GetCount(), 1u);

    EXPECT_FALSE(db.Load(dir.File("nowhere.orx")));
    EXPECT_FALSE(db.Save());
    EXPECT_NE(db.GetLastError().find(dir.File("gone/data.orx")), std::string::npos) << db.GetLastError();
    EXPECT_NE(db.GetLastError().find("does not exist"), std::string::npos) << db.GetLastError();
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("nowhere.orx")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("gone")));
}

// A database opened as missing (its drive not mounted yet, a link that led nowhere) must not
// replace a file that turns up there later: that file was never read.
TEST(DatabaseSave, AFileThatAppearedAfterAMissingLoadIsNotSavedOver)
{
    TempDir dir;
    const std::string path = dir.File("data.orx");
    CORXDatabase db;
    ASSERT_FALSE(db.Load(path));
    db.GetPartners()->AddPartner("typed meanwhile");
    const std::string appeared = ReadBytes(DataFile("compact.orx"));
    WriteBytes(path, appeared);
    EXPECT_FALSE(db.Save());
    EXPECT_NE(db.GetLastError().find("not saved over"), std::string::npos) << db.GetLastError();
    EXPECT_TRUE(ReadBytes(path) == appeared);
    EXPECT_TRUE(db.Save(dir.File("elsewhere.orx"))); // what was typed can still go somewhere else

    // The ordinary first start: missing, then created by the first save, then saved again.
    CORXDatabase fresh;
    ASSERT_FALSE(fresh.Load(dir.File("new.orx")));
    ASSERT_TRUE(fresh.Save()) << fresh.GetLastError();
    fresh.GetPartners()->AddPartner("second save");
    EXPECT_TRUE(fresh.Save()) << fresh.GetLastError();
}

// What a save killed half-way leaves behind goes at the next start; nothing else does.
TEST(DatabaseSave, StaleTemporariesAreRemovedAndNothingElse)
{
    TempDir dir;
    const std::string path = dir.File("data.orx");
    WriteBytes(path, ReadBytes(DataFile("compact.orx")));
    const char* stale[] = {"data.orx.tmp-a1B2c3", "data.orx.bak.tmp", "data.orx.bak.tmp-ZZZZZZ"};
    const char* kept[] = {"data.orx.bak",
                          "data.orx.tmp-abc",
                          "data.orx.tmp-abcdefg",
                          "data.orx.tmp-ab.def",
                          "other.orx.tmp-a1B2c3",
                          "xdata.orx.tmp-a1B2c3",
                          "data.orx.damaged-20260101-000000"};
    for (const char* name : stale)
        WriteBytes(dir.File(name), "half a database");
    for (const char* name : kept)
        WriteBytes(dir.File(name), "not a temporary");
    std::filesystem::create_directory(dir.File("data.orx.tmp-dir123"));
    std::filesystem::create_symlink(path, dir.File("data.orx.tmp-link12"));

    EXPECT_EQ(RemoveStaleTemporaries(path), 3);
    for (const char* name : stale)
        EXPECT_FALSE(std::filesystem::exists(dir.File(name))) << name;
    for (const char* name : kept)
        EXPECT_EQ(ReadBytes(dir.File(name)), "not a temporary") << name;
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("data.orx.tmp-dir123")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("data.orx.tmp-link12")));
    EXPECT_EQ(ReadBytes(path), ReadBytes(DataFile("compact.orx")));

    // Through a link, the temporaries lie beside the target.
    std::filesystem::create_directory(dir.File("real"));
    std::filesystem::create_symlink(dir.File("real/db.orx"), dir.File("linked.orx"));
    WriteBytes(dir.File("real/db.orx.tmp-q1w2e3"), "half");
    EXPECT_EQ(RemoveStaleTemporaries(dir.File("linked.orx")), 1);
}

TEST(DatabaseSave, WriteFailureReturnsFalseAndLeavesTheFile)
{
    TempDir dir;
    const std::string path = dir.File("data.orx");
    WriteBytes(path, ReadBytes(DataFile("compact.orx")));
    CORXDatabase db;
    ASSERT_TRUE(db.Load(path));
    EXPECT_FALSE(db.Save(dir.File("no-such-folder/data.orx")));
    EXPECT_FALSE(db.GetLastError().empty());
    EXPECT_EQ(ReadBytes(path), ReadBytes(DataFile("compact.orx")));
    EXPECT_TRUE(db.Save());
}
