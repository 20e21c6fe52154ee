#include "base/exception_message.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

template <class Outer, class Inner>
std::string message_of_nested(const char* outer, Inner inner)
{
    try {
        try {
            throw inner;
        } catch (...) {
            std::throw_with_nested(Outer(outer));
        }
    } catch (const std::exception& e) {
        return fenrix::exception_message(e);
    }
    return "not thrown";
}

TEST(exception_message, plain_exception)
{
    EXPECT_EQ(fenrix::exception_message(std::runtime_error("update URL unavailable")), "update URL unavailable");
}

TEST(exception_message, nested_chain_is_joined)
{
    EXPECT_EQ(message_of_nested<std::runtime_error>("Failed to load content", std::runtime_error("404")),
              "Failed to load content: 404");
    try {
        try {
            try {
                throw std::invalid_argument("c");
            } catch (...) {
                std::throw_with_nested(std::runtime_error("b"));
            }
        } catch (...) {
            std::throw_with_nested(std::runtime_error("a"));
        }
    } catch (const std::exception& e) {
        EXPECT_EQ(fenrix::exception_message(e), "a: b: c");
    }
}

TEST(exception_message, nested_non_standard_object_adds_nothing)
{
    EXPECT_EQ(message_of_nested<std::runtime_error>("outer", 42), "outer");
}

}  // namespace
