// The record kept beside a partial download reads back only as written.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "signature/minisign.hpp"
#include "update/resume_record.hpp"

namespace {

using fenrix::read_resume_record;
using fenrix::resume_record;
using fenrix::resume_record_bytes;

// `head` with the check line a record ends with.
std::string with_check(const std::string& head)
{
    fenrix::minisign::content_hash hash;
    hash.update(head.data(), head.size());
    std::string hex;
    for (const std::uint8_t b : hash.finish()) {
        hex += "0123456789abcdef"[b >> 4];
        hex += "0123456789abcdef"[b & 15];
    }
    return head + "check " + hex + "\n";
}

resume_record sample()
{
    // A signature file holds line ends and any bytes; the record keeps them.
    return {"2 downloads.example.com 443 /Lumora/packages/Lumora.x64.msi", "\"5f3e-40000000\"", 1073741824,
            std::string("untrusted comment: x\nRWQ\0\xff\n", 26)};
}

TEST(resume_record, reads_back_what_was_written)
{
    const std::string bytes = resume_record_bytes(sample());
    EXPECT_EQ(read_resume_record(bytes), sample());
    resume_record empty;
    EXPECT_EQ(read_resume_record(resume_record_bytes(empty)), empty);
}

TEST(resume_record, any_cut_or_altered_byte_makes_it_no_record)
{
    const std::string bytes = resume_record_bytes(sample());
    for (std::size_t n = 0; n < bytes.size(); ++n)
        EXPECT_FALSE(read_resume_record(bytes.substr(0, n))) << "cut at " << n;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::string altered = bytes;
        altered[i] = char(altered[i] ^ 0x04);
        EXPECT_FALSE(read_resume_record(altered)) << "byte " << i << " altered";
    }
    EXPECT_FALSE(read_resume_record(bytes + "\n"));
    EXPECT_FALSE(read_resume_record(bytes + bytes));
}

TEST(resume_record, fields_beyond_their_limits_are_neither_written_nor_read)
{
    resume_record record = sample();
    record.validator.assign(257, 'v');
    EXPECT_THROW(resume_record_bytes(record), std::invalid_argument);
    record = sample();
    record.signature.assign(8193, 's');
    EXPECT_THROW(resume_record_bytes(record), std::invalid_argument);
    record = sample();
    record.url.assign(4097, 'u');
    EXPECT_THROW(resume_record_bytes(record), std::invalid_argument);

    // Well formed and with a right check, but beyond a limit: refused all
    // the same, as a record of another build's making would be.
    const std::string too_long =
        "Lumora resume record 1\nurl 1\nu\nvalidator 300\n" + std::string(300, 'v') + "\ntotal 5\nsignature 0\n\n";
    EXPECT_FALSE(read_resume_record(with_check(too_long)));
    EXPECT_TRUE(read_resume_record(with_check("Lumora resume record 1\nurl 1\nu\nvalidator 1\nv\ntotal 5\n"
                                              "signature 0\n\n")))
        << "the same layout within the limits reads";
    EXPECT_FALSE(read_resume_record(std::string(20000, 'x')));
}

}  // namespace
