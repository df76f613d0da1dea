#include "unit/TestSupport.h"

#include "core/storage/ConfigFile.h"
#include "core/storage/DatabasePath.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

using namespace testsupport;

TEST(ConfigFile, MissingFileLeavesDefaults)
{
    TempDir dir;
    COptions options("/opt/orvex/");
    int32_t flag = 42;
    std::string error;
    EXPECT_EQ(LoadConfigFile(dir.File("ORX.cfg"), options, flag, &error), ConfigLoadResult::Missing);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(flag, 42);
    EXPECT_EQ(options.GetWarningDays(), 7);
    EXPECT_EQ(options.GetSmtpPort(), 25);
    EXPECT_EQ(options.GetProxyPort(), 8888);
    EXPECT_EQ(options.GetDatabasePath(), "/opt/orvex/data.orx");
    EXPECT_FALSE(options.GetNotifyStatusChanges());
    EXPECT_FALSE(options.GetUseProxy());
    EXPECT_TRUE(options.GetReservedDate().IsValid());
}

TEST(ConfigFile, ReferenceFileLoadsEveryFieldAndSavesByteForByte)
{
    TempDir dir;
    COptions options;
    int32_t flag = 0;
    ASSERT_EQ(LoadConfigFile(DataFile("reference.cfg"), options, flag), ConfigLoadResult::Loaded);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(options.GetWarningDays(), 14);
    EXPECT_TRUE(options.GetNotifyStatusChanges());
    EXPECT_FALSE(options.GetRealMonitoring());
    EXPECT_EQ(options.GetMailTo(), "me@example.com");
    EXPECT_EQ(options.GetSmtpServer(), "smtp.example.com");
    EXPECT_EQ(options.GetSmtpPort(), 587);
    EXPECT_EQ(options.GetMailFrom(), "orvex@example.com");
    EXPECT_TRUE(options.GetSmtpAuth());
    EXPECT_EQ(options.GetSmtpUser(), "user");
    EXPECT_EQ(options.GetSmtpPassword(), "s3cret pass");
    EXPECT_EQ(options.GetDatabasePath(), "sub/data.orx");
    EXPECT_TRUE(options.GetUseProxy());
    EXPECT_EQ(options.GetProxyHost(), "proxy.local");
    EXPECT_EQ(options.GetProxyPort(), 3128);
    EXPECT_EQ(options.GetReservedDate(), OleDateTime(45000.25));
    EXPECT_EQ(options.GetReservedInt(), 9);

    // The relative database path and the password go back as ordinary texts, untouched.
    ASSERT_TRUE(SaveConfigFile(dir.File("ORX.cfg"), options, flag));
    const std::string saved = ReadBytes(dir.File("ORX.cfg"));
    EXPECT_EQ(Hex(saved), Hex(ReadBytes(DataFile("reference.cfg"))));
    EXPECT_NE(saved.find(Bytes().Text("s3cret pass").Str()), std::string::npos);
    EXPECT_NE(saved.find(Bytes().Text("sub/data.orx").Str()), std::string::npos);
    EXPECT_EQ(FileMode(dir.File("ORX.cfg")), 0600u);
}

// A file that is there but does not read whole is the user's mail server, password and database
// path: it is reported as unreadable (never saved over), not taken for a missing one, and nothing
// of it is applied.
TEST(ConfigFile, DamageIsUnreadableNotMissing)
{
    TempDir dir;
    const std::string reference = ReadBytes(DataFile("reference.cfg"));
    const std::pair<const char*, std::string> cases[] = {
        {"ten bytes cut off the end", reference.substr(0, reference.size() - 10)},
        {"empty", ""},
        {"a byte after the import flag", reference + '\0'},
        {"the flag twice", reference + reference.substr(reference.size() - 4)},
        {"a null first object", Bytes().U16(0x0000).I32(1).Str()},
        {"a link first", Bytes().ClassRecord("CLink").Str()},
        {"a class name one letter short", Bytes().ClassRecord("COption").Str()},
        {"a class number never defined", Bytes().U16(0x8001).Str()},
        {"an object number never defined", Bytes().U16(0x0001).Str()},
        {"a database's magic", Bytes().Raw("ORX").Str()},
    };
    for (const auto& [why, bytes] : cases) {
        SCOPED_TRACE(why);
        WriteBytes(dir.File("ORX.cfg"), bytes);
        COptions options("/p/");
        options.SetMailTo("kept");
        int32_t flag = 3;
        std::string error;
        EXPECT_EQ(LoadConfigFile(dir.File("ORX.cfg"), options, flag, &error), ConfigLoadResult::Unreadable);
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(options.GetMailTo(), "kept");
        EXPECT_EQ(flag, 3);
    }
}

TEST(ConfigFile, BackupHoldsThePreviousSaveAndNonAsciiSurvives)
{
    TempDir dir;
    const std::string path = dir.File("ORX.cfg");
    COptions options("/p/");
    options.SetSmtpPassword("pässwörd €");
    options.SetDatabasePath("Datenbank/Übersicht.orx");
    ASSERT_TRUE(SaveConfigFile(path, options, 1));
    EXPECT_FALSE(std::filesystem::exists(path + ".bak"));
    const std::string first = ReadBytes(path);

    options.SetSmtpPort(2525);
    ASSERT_TRUE(SaveConfigFile(path, options, 0));
    EXPECT_EQ(ReadBytes(path + ".bak"), first);
    EXPECT_NE(ReadBytes(path), first);

    COptions back;
    int32_t flag = -1;
    ASSERT_EQ(LoadConfigFile(path, back, flag), ConfigLoadResult::Loaded);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(back.GetSmtpPort(), 2525);
    EXPECT_EQ(back.GetSmtpPassword(), "pässwörd €");
    EXPECT_EQ(back.GetDatabasePath(), "Datenbank/Übersicht.orx");
    EXPECT_EQ(back.GetReservedDate(), options.GetReservedDate());
}

TEST(ConfigFile, UnwritableFolderFailsWithoutThrowing)
{
    TempDir dir;
    std::string error;
    EXPECT_FALSE(SaveConfigFile(dir.File("missing/ORX.cfg"), COptions(), 0, &error));
    EXPECT_FALSE(error.empty());
}

TEST(DatabasePath, RelativePathsLieInTheProgramFolder)
{
    ScopedEnv home("HOME", "/home/tester");
    EXPECT_EQ(ResolveDatabasePath("data.orx", "/opt/orvex/"), "/opt/orvex/data.orx");
    EXPECT_EQ(ResolveDatabasePath("sub/x.orx", "/opt/orvex/"), "/opt/orvex/sub/x.orx");
    EXPECT_EQ(ResolveDatabasePath("/srv/links/x.orx", "/opt/orvex/"), "/srv/links/x.orx");
    EXPECT_EQ(ResolveDatabasePath("~/links/x.orx", "/opt/orvex/"), "/home/tester/links/x.orx");
    // Only "~/" means the home folder; "~name" is an ordinary relative name.
    EXPECT_EQ(ResolveDatabasePath("~other/x.orx", "/opt/orvex/"), "/opt/orvex/~other/x.orx");
    EXPECT_EQ(ResolveDatabasePath("~", "/opt/orvex/"), "/opt/orvex/~");
    EXPECT_EQ(ResolveDatabasePath("", "/opt/orvex/"), "/opt/orvex/");
}

TEST(DatabasePath, EveryNameOfOneFileMeetsTheSameLock)
{
    TempDir dir;
    std::filesystem::create_directory(dir.File("shared"));
    std::filesystem::create_symlink(dir.File("shared/links.orx"), dir.File("a.orx"));
    std::filesystem::create_symlink("shared/links.orx", dir.File("b.orx"));
    const std::string lock = DatabaseLockPath(dir.File("shared/links.orx"));
    EXPECT_EQ(lock, dir.File("shared/.links.orx.lock"));
    EXPECT_EQ(DatabaseLockPath(dir.File("a.orx")), lock);
    EXPECT_EQ(DatabaseLockPath(dir.File("b.orx")), lock);
    EXPECT_NE(DatabaseLockPath(dir.File("shared/other.orx")), lock);
}
