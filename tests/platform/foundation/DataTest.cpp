#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/foundation/Foundation.h"
#include "tests/support/TempHost.h"

namespace {

using Status = NSData::ReadStatus;

class DataTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A read that blocks (on a FIFO without a writer) ends the test program instead of
        // hanging it.
        alarm(30);
    }
    void TearDown() override { alarm(0); }

    std::string write(const std::string& name, const std::string& bytes) {
        std::string path = dir_.path() + "/" + name;
        WriteFileBytes(path, bytes);
        return path;
    }
    TempDir dir_;
};

TEST_F(DataTest, RegularFileLimits) {
    const size_t limit = 69536;
    struct Case {
        const char* name;
        size_t size;
        Status status;
    };
    const Case cases[] = {
        {"empty", 0, Status::ok},
        {"one", 1, Status::ok},
        {"at-limit", limit, Status::ok},
        {"one-over", limit + 1, Status::tooLarge},
        {"far-over", 1 << 20, Status::tooLarge},
    };
    for (const Case& c : cases) {
        std::string bytes(c.size, '\0');
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 1);
        Status status = Status::unreadable;
        auto data =
            NSData::dataWithContentsOfRegularFile(NSString(write(c.name, bytes)), limit, &status);
        EXPECT_EQ(status, c.status) << c.name;
        ASSERT_EQ(data.has_value(), c.status == Status::ok) << c.name;
        if (data) {
            ASSERT_EQ(data->length(), c.size) << c.name;
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(data->bytes()), data->length()),
                      bytes)
                << c.name;
        }
    }
}

TEST_F(DataTest, RefusesWhatIsNotARegularFile) {
    std::string fifo = dir_.path() + "/image.rom";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path;
        Status status;
    };
    const Case cases[] = {
        {fifo, Status::notRegularFile},  // no writer: a blocking open or read would hang
        {dir_.path(), Status::notRegularFile},
        {"/dev/null", Status::notRegularFile},
        {dir_.path() + "/absent", Status::unreadable},
    };
    for (const Case& c : cases) {
        Status status = Status::ok;
        EXPECT_FALSE(NSData::dataWithContentsOfRegularFile(NSString(c.path), 100, &status))
            << c.path;
        EXPECT_EQ(status, c.status) << c.path;
    }
}

TEST_F(DataTest, StatusMayBeOmitted) {
    EXPECT_FALSE(NSData::dataWithContentsOfRegularFile(NSString(dir_.path()), 100, nullptr));
    EXPECT_TRUE(NSData::dataWithContentsOfRegularFile(NSString(write("f", "abc")), 100, nullptr));
}

TEST_F(DataTest, UnreadableFile) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    std::string path = write("secret", "abc");
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    Status status = Status::ok;
    EXPECT_FALSE(NSData::dataWithContentsOfRegularFile(NSString(path), 100, &status));
    EXPECT_EQ(status, Status::unreadable);
}

TEST_F(DataTest, WholeFile) {
    std::string bytes(300000, 'z');
    bytes[0] = '\0';
    auto data = NSData::dataWithContentsOfFile(NSString(write("big", bytes)));
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data->bytes()), data->length()), bytes);
    EXPECT_FALSE(NSData::dataWithContentsOfFile(NSString(dir_.path() + "/absent")));
}

}  // namespace
