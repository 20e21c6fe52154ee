#include "crashreport/stored_policy.hpp"

#include <algorithm>

namespace brindlex::stored {

pass_plan plan_pass(const std::vector<pair_state>& pairs, std::uint64_t now)
{
    std::vector<bool> dropped(pairs.size(), false);
    std::vector<std::size_t> kept;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        // A time ahead of the clock (the clock was put back) is no age.
        const bool too_old = now > pairs[i].written && now - pairs[i].written > max_age;
        if (too_old || pairs[i].offers >= max_offers)
            dropped[i] = true;
        else
            kept.push_back(i);
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [&pairs](std::size_t a, std::size_t b) { return pairs[a].written < pairs[b].written; });
    if (kept.size() > max_pairs) {
        const std::size_t excess = kept.size() - max_pairs;
        for (std::size_t i = 0; i < excess; ++i)
            dropped[kept[i]] = true;
        kept.erase(kept.begin(), kept.begin() + std::ptrdiff_t(excess));
    }
    pass_plan plan;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (dropped[i])
            plan.drop.push_back(i);
    }
    plan.send = std::move(kept);
    return plan;
}

}  // namespace brindlex::stored
