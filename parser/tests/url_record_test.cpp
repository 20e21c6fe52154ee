// The URL record built from parts, the suffixed copy and the password wipe.
#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "parser/url.hpp"

namespace hopline {
namespace {

void expect_same_except_path(const url& a, const url& b)
{
    EXPECT_EQ(a.scheme, b.scheme);
    EXPECT_EQ(a.port, b.port);
    EXPECT_EQ(a.host, b.host);
    EXPECT_EQ(a.user, b.user);
    EXPECT_EQ(a.password, b.password);
}

TEST(url_record, empty_record)
{
    const url empty;
    EXPECT_EQ(empty.scheme, 0);
    EXPECT_EQ(empty.port, 0);
    EXPECT_TRUE(empty.host.empty() && empty.user.empty() && empty.password.empty() && empty.path.empty());
}

TEST(url_record, built_from_parts)
{
    const url u(2, 443, "updates.example", "", "", "/a/b");
    EXPECT_EQ(u.scheme, 2);
    EXPECT_EQ(u.port, 443);
    EXPECT_EQ(u.host, "updates.example");
    EXPECT_TRUE(u.user.empty());
    EXPECT_TRUE(u.password.empty());
    EXPECT_EQ(u.path, "/a/b");
}

TEST(url_record, null_parts_are_empty)
{
    const url u(1, 80, "h", nullptr, nullptr, nullptr);
    EXPECT_TRUE(u.user.empty() && u.password.empty() && u.path.empty());
}

TEST(url_record, suffixed_copy_appends_to_the_path_only)
{
    const url file(2, 8443, "h", "user", "pw", "/x/pkg.msi");
    const url signature(file, ".minisig");
    EXPECT_EQ(signature.path, "/x/pkg.msi.minisig");
    expect_same_except_path(signature, file);
    EXPECT_EQ(file.path, "/x/pkg.msi");
}

TEST(url_record, copies_and_moves_keep_every_field)
{
    const url original(3, 80, "h", "u", "p", "/q");
    url copy(original);
    expect_same_except_path(copy, original);
    EXPECT_EQ(copy.path, original.path);
    url assigned;
    assigned = copy;
    expect_same_except_path(assigned, original);
    url moved(std::move(copy));
    expect_same_except_path(moved, original);
    EXPECT_EQ(moved.path, "/q");
}

// Watches the blocks the wiping allocator releases: each must hold only
// zeros when it is handed back.
class password_wipe : public testing::Test {
protected:
    struct released_block {
        const void* address;
        std::size_t bytes;
        bool zeroed;
    };
    static inline std::vector<released_block> released;

    static void observe(const void* block, std::size_t bytes)
    {
        const auto* p = static_cast<const unsigned char*>(block);
        released.push_back({block, bytes, std::all_of(p, p + bytes, [](unsigned char b) { return b == 0; })});
    }

    void SetUp() override
    {
        released.clear();
        wembra::wipe_observer = &observe;
    }
    void TearDown() override { wembra::wipe_observer = nullptr; }

    // The block that held `address` was released, wiped.
    static bool wiped(const void* address)
    {
        return std::any_of(released.begin(), released.end(),
                           [&](const released_block& b) { return b.address == address && b.zeroed && b.bytes > 0; });
    }
};

TEST_F(password_wipe, short_password_is_wiped_when_the_record_is_destroyed)
{
    const void* storage;
    {
        const url u(1, 80, "h", "u", "pw", "/");
        storage = u.password.data();
    }
    EXPECT_TRUE(wiped(storage));
}

TEST_F(password_wipe, old_block_is_wiped_when_the_password_grows)
{
    url u(1, 80, "h", "u", "a password of some length", "/");
    const void* before = u.password.data();
    u.password.append(200, 'x');
    ASSERT_NE(static_cast<const void*>(u.password.data()), before);
    EXPECT_TRUE(wiped(before));
}

TEST_F(password_wipe, every_copy_is_wiped)
{
    const void* copy_storage;
    const void* assigned_storage;
    {
        const url original(1, 80, "h", "u", "pw", "/");
        const url copy(original);
        url assigned;
        assigned = original;
        copy_storage = copy.password.data();
        assigned_storage = assigned.password.data();
    }
    EXPECT_TRUE(wiped(copy_storage));
    EXPECT_TRUE(wiped(assigned_storage));
}

TEST(password_inline_wipe, no_password_byte_survives_in_the_record_itself)
{
    // The record lives in storage the test owns, so its bytes can be read
    // after the destructor has run. A shrunk short password sits inline.
    alignas(url) unsigned char storage[sizeof(url)];
    auto* u = new (storage) url(1, 80, "h", "u", "", "/");
    u->password = "Qz7";
    u->password.shrink_to_fit();
    const std::string secret = "Qz7";
    const auto contains_secret = [&] {
        return std::search(storage, storage + sizeof storage, secret.begin(), secret.end()) != storage + sizeof storage;
    };
    ASSERT_TRUE(u->password.data() < reinterpret_cast<char*>(storage + sizeof storage) &&
                u->password.data() >= reinterpret_cast<char*>(storage))
        << "this library keeps short strings outside the object; nothing to check";
    EXPECT_TRUE(contains_secret());
    u->~url();
    EXPECT_FALSE(contains_secret());
}

}  // namespace
}  // namespace hopline
