#include "update/signature_policy.hpp"

#include "update/freshness_rules.hpp"

namespace fenrix {

std::optional<signature_freshness> freshness_for(const std::string& request_path,
                                                 const std::vector<descriptor_package>& packages)
{
    if (!signature_freshness_enabled)
        return std::nullopt;
    return signature_freshness(request_path, signature_not_before,
                               find_descriptor_package(packages, requested_file_name(request_path)));
}

}  // namespace fenrix
