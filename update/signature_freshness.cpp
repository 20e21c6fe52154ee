#include "update/signature_freshness.hpp"

#include <stdexcept>
#include <utility>

#include "signature/trusted_comment.hpp"
#include "signature/trusted_comment_fields.hpp"
#include "update/freshness_record.hpp"
#include "update/freshness_rules.hpp"

namespace fenrix {

signature_freshness::signature_freshness(std::string request_path, std::uint64_t not_before,
                                         const descriptor_package* listed)
    : request_path(std::move(request_path)), not_before(not_before), listed(listed != nullptr),
      listed_digest(listed ? listed->digest : std::nullopt)
{
}

void signature_freshness::check_signature(stream::basic& signature_file, const minisign::signature& sig,
                                          const minisign::public_key& key)
{
    const minisign::trusted_comment comment = minisign::read_trusted_comment(signature_file);
    if (!minisign::verify_trusted_comment(sig, key, comment))
        throw std::runtime_error("Invalid Minisign signature");
    const minisign::trusted_comment_fields fields = minisign::parse_trusted_comment_fields(comment.text);
    check_trusted_comment_fields(fields, requested_file_name(request_path), not_before,
                                 accepted_signature_time(request_path));
    timestamp = fields.timestamp;
}

void signature_freshness::accept(const minisign::content_digest& digest)
{
    if (listed && (!listed_digest || digest != *listed_digest))
        throw std::runtime_error("Package does not match its descriptor");
    if (timestamp)
        record_accepted_signature_time(request_path, *timestamp);
}

}  // namespace fenrix
