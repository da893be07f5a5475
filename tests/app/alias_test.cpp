#include "app/alias.h"
#include "app/utils.h"
#include "platform/files.h"
#include "support/temp_root.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

class AliasTest : public zemtest::RootTest
{
protected:
    void write(const std::string &json) { zemtest::writeFile(root.host(kFile), json); }
    bool present() { return platform::files::exists(kFile); }
    const char *kFile = "/data/configs/alias.json";
};

const char *kWellFormed = R"({
  "filename": "/data/configs/alias.json",
  "namelist": {
    "source": [
      {"id": "0", "valid": "off", "name": "仓库"},
      {"id": "2", "valid": "on", "name": "机房"},
      {"id": "3", "valid": "on", "name": ""},
      {"id": "2", "valid": "on", "name": "second"}
    ],
    "usermode": [ {"id": "0", "valid": "on", "name": "User Mode 1"} ],
    "win": [],
    "crop": [ {"id": "1", "valid": "off", "name": "Crop 2"} ]
  }
})";

TEST_F(AliasTest, LooksUpEntriesOfAKind)
{
    write(kWellFormed);
    ALIAS_PARA p;
    ASSERT_TRUE(get_json_alias_para(&p, "source", 2));
    EXPECT_EQ(p.id, 2);
    EXPECT_EQ(p.valid, "on");
    EXPECT_EQ(p.name, "机房");  // the first of two entries with the same id
    EXPECT_TRUE(get_json_alias_para(&p, "usermode", 0));
    EXPECT_EQ(p.name, "User Mode 1");

    EXPECT_FALSE(get_json_alias_para(&p, "source", 0));  // switched off
    EXPECT_EQ(p.name, "仓库");
    EXPECT_FALSE(get_json_alias_para(&p, "source", 3));  // empty name
    EXPECT_FALSE(get_json_alias_para(&p, "source", 9));  // no entry
    EXPECT_FALSE(get_json_alias_para(&p, "win", 0));
    EXPECT_FALSE(get_json_alias_para(&p, "osd", 0));     // no such kind
    EXPECT_TRUE(present());
}

TEST_F(AliasTest, MissingFileIsSilent)
{
    ALIAS_PARA p;
    EXPECT_FALSE(get_json_alias_para(&p, "source", 0));
    EXPECT_FALSE(present());
}

// Unparsable and malformed files never throw out of the reader; they are
// deleted so that the PC tool sends them again. One nested 100000 deep would
// overflow the stack of a recursive parser.
TEST_F(AliasTest, BrokenFilesAreDeleted)
{
    const std::string broken[] = {
        "{",
        R"({"filename": "x"})",
        R"({"namelist": {"source": [ {"id": "0", "valid": "on"} ]}})",
        R"({"namelist": {"source": [ {"valid": "on", "name": "A"} ]}})",
        R"({"namelist": {"source": [ {"id": "two", "valid": "on", "name": "A"} ]}})",
        R"({"namelist": {"source": [ {"id": "", "valid": "on", "name": "A"} ]}})",
        R"({"namelist": {"source": [ {"id": "99999999999", "valid": "on", "name": "A"} ]}})",
        "{\"namelist\": " + std::string(100000, '[') + std::string(100000, ']') + "}",
    };
    for (const std::string &json : broken) {
        SCOPED_TRACE(json.substr(0, 80));
        write(json);
        ALIAS_PARA p;
        EXPECT_NO_THROW(EXPECT_FALSE(get_json_alias_para(&p, "source", 0)));
        EXPECT_FALSE(present());
        EXPECT_FALSE(get_json_alias_para(&p, "source", 0));
    }
}

// Brackets and escaped quotes inside a name are text, not nesting.
TEST_F(AliasTest, BracketsInNamesAreNoNesting)
{
    const std::string name = std::string(100, '[') + "\\\"{" + std::string(100, '{');
    write(R"({"namelist": {"source": [ {"id": "1", "valid": "on", "name": ")" + name + R"("} ]}})");
    ALIAS_PARA p;
    ASSERT_TRUE(get_json_alias_para(&p, "source", 1));
    EXPECT_EQ(p.name, std::string(100, '[') + "\"{" + std::string(100, '{'));
}

// The reader waits for the file transfer's writer, which holds the file lock.
TEST_F(AliasTest, ReaderTakesTheFileLock)
{
    write("{");
    std::atomic<bool> done{false};
    Utils::_file_deal_mutex.lock();
    std::thread reader([&] {
        ALIAS_PARA p;
        get_json_alias_para(&p, "source", 2);
        done = true;
    });
    // A reader that ignored the lock would finish well within this time.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (!done && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_FALSE(done.load());
    // The writer finishes the file while the reader is held back.
    write(kWellFormed);
    Utils::_file_deal_mutex.unlock();
    reader.join();
    EXPECT_TRUE(present());  // the complete file was read, not the half-written one
}

} // namespace
