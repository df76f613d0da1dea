// Program folder choice, the single-instance lock and the per-user settings store.
#include "core/platform/InstanceLock.h"
#include "core/platform/Paths.h"
#include "core/platform/SettingsStore.h"

#include "unit/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

using testsupport::ScopedEnv;
using testsupport::TempDir;

TEST(ProgramFolder, OrvexHomeWinsAndEndsWithSlash)
{
    ScopedEnv home("ORVEX_HOME", "/srv/orvex");
    EXPECT_EQ(Paths::FindProgramFolder(), "/srv/orvex/");
}

TEST(ProgramFolder, FallsBackToTheXdgDataFolder)
{
    // The test binary's folder holds no "ORX.cfg", so portable use does not apply.
    ScopedEnv home("ORVEX_HOME", nullptr);
    ScopedEnv xdg("XDG_DATA_HOME", "/data/user");
    EXPECT_EQ(Paths::FindProgramFolder(), "/data/user/Orvex/");
    ScopedEnv noXdg("XDG_DATA_HOME", nullptr);
    ScopedEnv user("HOME", "/home/someone");
    EXPECT_EQ(Paths::FindProgramFolder(), "/home/someone/.local/share/Orvex/");
}

TEST(ProgramFolder, EnsureFolderCreatesParentsOwnerOnly)
{
    TempDir tmp;
    const std::string folder = tmp.Path() + "/a/b/c/";
    std::string error;
    ASSERT_TRUE(Paths::EnsureFolder(folder, &error)) << error;
    struct stat st = {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    std::ofstream(tmp.Path() + "/file") << "x";
    EXPECT_FALSE(Paths::EnsureFolder(tmp.Path() + "/file/sub/", &error));
    EXPECT_FALSE(error.empty());
}

TEST(InstanceLockTest, OnlyOneHolderUntilReleased)
{
    TempDir tmp;
    const std::string path = tmp.Path() + "/.orvex.lock";
    InstanceLock first;
    InstanceLock second;
    ASSERT_EQ(first.TryAcquire(path), InstanceLock::Result::Acquired);
    EXPECT_EQ(second.TryAcquire(path), InstanceLock::Result::HeldElsewhere);
    first.Release();
    EXPECT_EQ(second.TryAcquire(path), InstanceLock::Result::Acquired);

    std::string error;
    InstanceLock nowhere;
    EXPECT_EQ(nowhere.TryAcquire(tmp.Path() + "/missing/dir/lock", &error), InstanceLock::Result::Failed);
    EXPECT_NE(error.find("missing"), std::string::npos);
}

TEST(SettingsStoreTest, ValuesKeepTheirTypesAcrossStores)
{
    TempDir tmp;
    ScopedEnv config("XDG_CONFIG_HOME", tmp.Path().c_str());
    {
        auto store = OpenSettingsStore();
        EXPECT_FALSE(store->GetInt(SettingsNames::kRootSection, SettingsNames::kUpdateFound).has_value());
        store->SetInt(SettingsNames::kRootSection, SettingsNames::kUpdateFound, 1);
        store->SetString(SettingsNames::kGuiSection, SettingsNames::kProjectFilter, "Gärten");
        const std::vector<uint8_t> blob = {0, 1, 0xFF, 0x80, '\n', 0};
        store->SetBinary(SettingsNames::kGuiSection, SettingsNames::kLinksListSettings, blob);
        ASSERT_TRUE(store->Sync());
    }
    auto store = OpenSettingsStore();
    EXPECT_EQ(store->GetInt(SettingsNames::kRootSection, SettingsNames::kUpdateFound), 1);
    EXPECT_EQ(store->GetString(SettingsNames::kGuiSection, SettingsNames::kProjectFilter), "Gärten");
    EXPECT_EQ(store->GetBinary(SettingsNames::kGuiSection, SettingsNames::kLinksListSettings),
              (std::vector<uint8_t>{0, 1, 0xFF, 0x80, '\n', 0}));
    // The same name in the root section is another value.
    EXPECT_FALSE(store->GetString(SettingsNames::kRootSection, SettingsNames::kProjectFilter).has_value());
    EXPECT_TRUE(std::filesystem::exists(tmp.Path() + "/Tessel Development/Orvex.conf"));
}
