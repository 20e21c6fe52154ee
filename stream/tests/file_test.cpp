#include "stream/file.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <system_error>

namespace {
using namespace fenrix::stream;

// A fresh scratch folder in the temporary folder for each test.
class file_stream : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder = std::wstring(temp) + L"lumora-file-test-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    void TearDown() override
    {
        for (const auto& name : created)
            DeleteFileW(name.c_str());
        RemoveDirectoryW(folder.c_str());
    }
    std::wstring path(const wchar_t* name)
    {
        created.push_back(folder + L"\\" + name);
        return created.back();
    }
    std::wstring make(const wchar_t* name, const std::string& content)
    {
        const std::wstring p = path(name);
        file f(p, mode_write | mode_create_always);
        f.write(content.data(), content.size());
        return p;
    }

    std::wstring folder;
    std::vector<std::wstring> created;
};

TEST_F(file_stream, open_dispositions)
{
    const std::wstring missing = path(L"missing.bin");
    file f(missing, mode_read | mode_open_existing);
    EXPECT_EQ(f.state, fail);
    EXPECT_FALSE(f.is_open());
    f.open(missing.c_str(), mode_read | mode_write | mode_open_always);
    EXPECT_EQ(f.state, ok);
    EXPECT_EQ(f.size(), 0u);
    file again(missing, mode_write | mode_create_new);
    EXPECT_EQ(again.state, fail);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_EXISTS));
}

TEST_F(file_stream, invalid_dispositions_throw_before_touching_anything)
{
    const std::wstring p = make(L"keep.bin", "abc");
    file f(p, mode_read | mode_open_existing);
    for (int disposition : {0x28, 0x30, 0x38}) {
        try {
            f.open(p.c_str(), mode_read | disposition);
            ADD_FAILURE();
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "invalid mode");
        }
        EXPECT_TRUE(f.is_open());  // the open handle stays
    }
}

TEST_F(file_stream, truncate_existing_and_append)
{
    const std::wstring p = make(L"data.bin", "12345");
    {
        file f(p, mode_read | mode_write | mode_open_existing | mode_append);
        EXPECT_EQ(f.tell(), 5u);
        f.write("67", 2);
    }
    file f(p, mode_read | mode_write | mode_truncate_existing);
    EXPECT_EQ(f.size(), 0u);
    f.write("xyz", 3);
    f.seek(0);
    char out[8];
    EXPECT_EQ(f.read(out, 8), 3u);
    EXPECT_EQ(f.state, ok);
}

TEST_F(file_stream, read_at_and_across_the_end)
{
    const std::wstring p = make(L"read.bin", "hello");
    file f(p, 0x8181);
    char out[16];
    EXPECT_EQ(f.read(out, 0), 0u);
    EXPECT_EQ(f.state, ok);
    EXPECT_EQ(f.read(out, 16), 5u);
    EXPECT_EQ(f.state, ok);
    EXPECT_EQ(std::string(out, 5), "hello");
    EXPECT_EQ(f.read(out, 16), 0u);
    EXPECT_EQ(f.state, fenrix::stream::eof);
}

TEST_F(file_stream, seek_tell_size_truncate)
{
    const std::wstring p = make(L"seek.bin", "0123456789");
    file f(p, 0x8193);
    EXPECT_EQ(f.seek(-3, end), 7u);
    EXPECT_EQ(f.tell(), 7u);
    EXPECT_EQ(f.seek(-20, cur), npos);
    EXPECT_EQ(f.state, fail);
    f.seek(4);
    f.truncate();
    EXPECT_EQ(f.state, ok);
    EXPECT_EQ(f.size(), 4u);
    f.skip(2);
    EXPECT_EQ(f.tell(), 6u);
}

TEST_F(file_stream, without_a_handle)
{
    file f;
    f.state = fenrix::stream::eof;
    EXPECT_EQ(f.tell(), npos);
    EXPECT_EQ(f.size(), npos);
    EXPECT_EQ(f.state, fenrix::stream::eof);  // unchanged
    EXPECT_TRUE(f.ctime().is_none());
    f.close();
    EXPECT_EQ(f.state, ok);
}

TEST_F(file_stream, locks_between_two_handles)
{
    const std::wstring p = make(L"lock.bin", "0123456789");
    file a(p, mode_read | mode_write | mode_open_existing | mode_share_read | mode_share_write);
    file b(p, mode_read | mode_write | mode_open_existing | mode_share_read | mode_share_write);
    a.lock(0, 5);
    EXPECT_EQ(a.state, ok);
    b.lock(2, 2);
    EXPECT_EQ(b.state, fail);
    b.lock(5, 5);
    EXPECT_EQ(b.state, ok);
    a.unlock(0, 5);
    EXPECT_EQ(a.state, ok);
    b.lock(0, 2);
    EXPECT_EQ(b.state, ok);
    a.unlock(0, 5);  // no longer held
    EXPECT_EQ(a.state, fail);
}

TEST_F(file_stream, file_times)
{
    const std::wstring p = make(L"times.bin", "x");
    const time_point when{13000000000000000LL};  // 2011
    {
        file f(p, mode_write | mode_write_attributes | mode_open_existing);
        f.set_mtime(when);
        f.set_atime(when);
        EXPECT_EQ(f.mtime(), when);
    }
    file reader(p, mode_read | mode_open_existing);
    EXPECT_EQ(reader.mtime(), when);
    EXPECT_FALSE(reader.ctime().is_none());
    // Wine lets a read-only handle set times, where Windows refuses; a file
    // without a handle fails on both.
    file closed;
    try {
        closed.set_mtime(when);
        FAIL() << "set a time without a handle";
    } catch (const std::system_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("SetFileTime failed", 0), 0u);
    }
}

TEST_F(file_stream, close_releases_the_handle)
{
    const std::wstring p = make(L"close.bin", "x");
    file f(p, mode_read | mode_write | mode_open_existing);
    f.close();
    EXPECT_FALSE(f.is_open());
    EXPECT_EQ(f.state, ok);
    EXPECT_TRUE(DeleteFileW(p.c_str()));  // no handle keeps it open
}

TEST_F(file_stream, throwing_close_of_the_system_object)
{
    fenrix::basic_sys_object<void*, fenrix::sys_object_traits> object(reinterpret_cast<void*>(0x1234));
    // An unknown handle value fails with ERROR_INVALID_HANDLE, which counts as closed.
    EXPECT_NO_THROW(object.close());
    EXPECT_EQ(object.handle, INVALID_HANDLE_VALUE);
}

}  // namespace
