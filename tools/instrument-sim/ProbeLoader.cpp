#include "tools/instrument-sim/ProbeLoader.h"

#include <algorithm>

namespace sim {

ProbeLoader::ProbeLoader(const Profile& profile)
    : line_(profile.loaderLine), probe_(profile.probe), answer_(profile.probeAnswer),
      leave_(profile.probeLeave) {}

std::unique_ptr<Loader> ProbeLoader::Create(const Profile& profile) {
    return std::make_unique<ProbeLoader>(profile);
}

void ProbeLoader::Receive(std::string_view bytes, LoaderContext& ctx) {
    pending_.append(bytes);
    std::size_t at = probe_.empty() ? std::string::npos : pending_.find(probe_);
    if (at != std::string::npos) {
        pending_.erase(0, at + probe_.size());
        if (answer_.empty())
            ctx.Note("probe received; no answer configured");
        else
            ctx.Send(answer_);
    }
    if (!leave_.empty() && pending_.find(leave_) != std::string::npos) {
        pending_.clear();
        ctx.LeaveLoader();
        return;
    }
    // Keep only what could still be the start of a probe or the leave bytes.
    std::size_t keep = std::max(probe_.size(), leave_.size());
    keep = keep == 0 ? 0 : keep - 1;
    if (pending_.size() > keep)
        pending_.erase(0, pending_.size() - keep);
}

} // namespace sim
