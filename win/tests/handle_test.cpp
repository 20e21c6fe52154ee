#include "win/handle.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "win/error.hpp"

namespace {
using wembra::kernel_handle;

bool is_open(HANDLE h)
{
    DWORD flags;
    return GetHandleInformation(h, &flags) != 0;
}

TEST(handle, closes_on_destruction)
{
    HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(is_open(raw));
    {
        kernel_handle owner(raw);
    }
    EXPECT_FALSE(is_open(raw));
}

TEST(handle, attach_closes_the_old_handle_only)
{
    HANDLE first = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE second = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    kernel_handle owner;
    EXPECT_FALSE(owner);
    owner.attach(first);  // empty: closes nothing
    EXPECT_TRUE(is_open(first));
    owner.attach(second);
    EXPECT_FALSE(is_open(first));
    EXPECT_TRUE(is_open(second));
    EXPECT_EQ(owner.get(), second);
}

TEST(handle, moves_ownership)
{
    HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    kernel_handle a(raw);
    kernel_handle b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(b.get(), raw);
}

TEST(handle, find_file_treats_invalid_handle_value_as_empty)
{
    WIN32_FIND_DATAW data;
    wembra::find_file none(
        FindFirstFileExW(L"C:\\no-such-dir\\*", FindExInfoStandard, &data, FindExSearchNameMatch, nullptr, 0));
    EXPECT_FALSE(none);
    wembra::find_file some(
        FindFirstFileExW(L"C:\\windows\\*", FindExInfoStandard, &data, FindExSearchNameMatch, nullptr, 0));
    EXPECT_TRUE(some);
}

TEST(handle, registry_key_through_out_parameter)
{
    wembra::reg_key key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_READ, key.out()), ERROR_SUCCESS);
    EXPECT_TRUE(key);
}

TEST(mutex_locker, locks_and_releases)
{
    kernel_handle mutex(CreateMutexW(nullptr, FALSE, nullptr));
    {
        wembra::mutex_locker lock(mutex.get(), INFINITE);
        // Recursive for the owner; another thread must wait.
        std::thread other([&] { EXPECT_THROW(wembra::mutex_locker(mutex.get(), 50), std::runtime_error); });
        other.join();
    }
    std::thread after([&] { EXPECT_NO_THROW(wembra::mutex_locker(mutex.get(), 50)); });
    after.join();
}

TEST(mutex_locker, times_out_with_timeout_text)
{
    kernel_handle mutex(CreateMutexW(nullptr, TRUE, nullptr));  // held by this thread
    std::thread other([&] {
        const DWORD started = GetTickCount();
        try {
            wembra::mutex_locker lock(mutex.get(), 1000);
            ADD_FAILURE() << "locked a held mutex";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "timeout");
        }
        EXPECT_GE(GetTickCount() - started, 900u);
    });
    other.join();
    ReleaseMutex(mutex.get());
}

TEST(mutex_locker, abandoned_mutex_counts_as_locked)
{
    kernel_handle mutex(CreateMutexW(nullptr, FALSE, nullptr));
    std::thread owner([&] { WaitForSingleObject(mutex.get(), INFINITE); });  // ends holding it
    owner.join();
    EXPECT_NO_THROW(wembra::mutex_locker(mutex.get(), 1000));
}

TEST(mutex_locker, null_mutex_fails_the_wait)
{
    try {
        wembra::mutex_locker lock(nullptr, 10);
        FAIL();
    } catch (const wembra::win_runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("WaitForSingleObject failed: ", 0), 0u) << e.what();
        EXPECT_EQ(e.number, DWORD(ERROR_INVALID_HANDLE));
    }
}

}  // namespace
