// The record of failed addresses: last status wins, damaged lines are skipped, the file stops
// growing at its limit, and deleting the Project's map deletes it too.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/failed_addresses.h"
#include "engine/site_map.h"
#include "platform/program_folder.h"
#include "store/project.h"
#include "support/peers.h"

namespace qm {
namespace {

TEST(FailedAddresses, LastStatusWinsAndDamagedLinesAreSkipped) {
    const std::string dir = test::MakeTempDir("failedaddr");
    platform::SetProgramFolder(dir);
    store::Project p;
    p.IID = 7;
    EXPECT_TRUE(engine::ReadFailedAddresses(p).empty());  // no file yet
    engine::NoteFailedAddress(p, "http://h/a.html", 404);
    engine::NoteFailedAddress(p, "http://h/b.html", 0);
    engine::NoteFailedAddress(p, "http://h/a.html", 503);
    engine::NoteFailedAddress(p, "http://h/bad\nline", 404);  // never written
    EXPECT_EQ(engine::FailedAddressesFile(p), dir + "/7.failed");
    EXPECT_EQ(test::ReadFile(dir + "/7.failed"), "404\thttp://h/a.html\n0\thttp://h/b.html\n503\thttp://h/a.html\n");
    EXPECT_EQ(std::filesystem::status(dir + "/7.failed").permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    // Lines another program damaged: no tab, a status that is not a number, too long.
    std::string text = test::ReadFile(dir + "/7.failed");
    text += "garbage\n\tnostatus\nx4\thttp://h/x\n12345\thttp://h/long-status\n404\t\n";
    text += "404\thttp://h/" + std::string(10000, 'z') + "\n410\thttp://h/c.html";  // the last has no end
    ASSERT_TRUE(test::WriteFile(dir + "/7.failed", text + "\n"));
    auto failed = engine::ReadFailedAddresses(p);
    EXPECT_EQ(failed.size(), 3u);
    EXPECT_EQ(failed["http://h/a.html"], 503);
    EXPECT_EQ(failed["http://h/b.html"], 0);
    EXPECT_EQ(failed["http://h/c.html"], 410);

    engine::DeleteMap(p);
    EXPECT_FALSE(std::filesystem::exists(dir + "/7.failed"));
}

TEST(FailedAddresses, StopsGrowingAtItsLimit) {
    const std::string dir = test::MakeTempDir("failedlimit");
    platform::SetProgramFolder(dir);
    store::Project p;
    p.IID = 8;
    ASSERT_TRUE(test::WriteFile(dir + "/8.failed", std::string(engine::kMaxFailedFileBytes, '\n')));
    engine::NoteFailedAddress(p, "http://h/late.html", 404);
    EXPECT_EQ(std::filesystem::file_size(dir + "/8.failed"), std::uintmax_t(engine::kMaxFailedFileBytes));
    EXPECT_TRUE(engine::ReadFailedAddresses(p).empty());
}

}  // namespace
}  // namespace qm
