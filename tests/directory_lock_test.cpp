// One bot per working directory, within one process as between two.

#include "platform/directory_lock.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temporary_directory.h"

TEST(DirectoryLock, TheSecondTakerFindsItHeld) {
    const std::filesystem::path previous = std::filesystem::current_path();
    const std::filesystem::path directory = makeTemporaryDirectory("tintbeacon-lock");
    ASSERT_FALSE(directory.empty());
    std::filesystem::current_path(directory);
    // The first lock stays taken until the process ends: that is its contract.
    EXPECT_EQ(lockWorkingDirectory(), DirectoryLock::Taken);
    EXPECT_TRUE(std::filesystem::exists(DIRECTORY_LOCK_FILE));
    EXPECT_EQ(lockWorkingDirectory(), DirectoryLock::HeldByOther);
    std::filesystem::current_path(previous);
    std::error_code ignored;  // Windows keeps a folder with an open file
    std::filesystem::remove_all(directory, ignored);
}
