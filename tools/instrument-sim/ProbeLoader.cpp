#include "tools/instrument-sim/ProbeLoader.h"

#include "tools/instrument-sim/ConfigValues.h"

#include <algorithm>

namespace sim {
namespace {

constexpr std::string_view kFileHeader = "FILE ";
constexpr std::size_t kMaxHeader = 300;
constexpr std::uint32_t kMaxFile = 16u * 1024 * 1024;

} // namespace

ProbeLoader::ProbeLoader(const Profile& profile)
    : line_(profile.loaderLine), probe_(profile.probe), answer_(profile.probeAnswer),
      leave_(profile.probeLeave) {}

std::unique_ptr<Loader> ProbeLoader::Create(const Profile& profile) {
    return std::make_unique<ProbeLoader>(profile);
}

void ProbeLoader::Enter(LoaderContext&) {
    pending_.clear();
    fileData_.clear();
    receivingFile_ = false;
    holdsFile_ = false;
}

void ProbeLoader::Receive(std::string_view bytes, LoaderContext& ctx) {
    pending_.append(bytes);
    for (;;) {
        if (receivingFile_) {
            TakeFileBytes(ctx);
            if (receivingFile_)
                return;
            continue;
        }
        const std::size_t header = pending_.find(kFileHeader);
        if (header == std::string::npos || !TakeFileHeader(ctx))
            break;
    }
    ScanForProbeAndLeave(ctx);
}

bool ProbeLoader::TakeFileHeader(LoaderContext& ctx) {
    const std::size_t at = pending_.find(kFileHeader);
    const std::size_t end = pending_.find('\n', at);
    if (end == std::string::npos) {
        if (pending_.size() - at > kMaxHeader) {
            ctx.Note("stub loader: file header without line end, dropped");
            pending_.erase(0, at + kFileHeader.size());
        }
        return false;
    }
    std::string header = pending_.substr(at + kFileHeader.size(), end - at - kFileHeader.size());
    if (!header.empty() && header.back() == '\r')
        header.pop_back();
    pending_.erase(0, end + 1);
    // The name may hold blanks; the size is the last word.
    const std::size_t blank = header.rfind(' ');
    std::uint32_t size = 0;
    if (blank == std::string::npos || blank == 0 ||
        !ParseNumber(std::string_view(header).substr(blank + 1), size) || size > kMaxFile) {
        ctx.Note("stub loader: bad file header " + header.substr(0, 60));
        return true;
    }
    fileName_ = header.substr(0, blank);
    fileLeft_ = size;
    fileData_.clear();
    receivingFile_ = true;
    return true;
}

void ProbeLoader::TakeFileBytes(LoaderContext& ctx) {
    const std::size_t n = std::min(fileLeft_, pending_.size());
    fileData_.append(pending_, 0, n);
    pending_.erase(0, n);
    fileLeft_ -= n;
    if (fileLeft_ > 0)
        return;
    receivingFile_ = false;
    holdsFile_ = true;
    ctx.Note("stub loader: received " + fileName_ + ", " + std::to_string(fileData_.size()) +
             " bytes");
    ctx.KeepFile(fileName_, fileData_);
    fileData_.clear();
}

void ProbeLoader::ScanForProbeAndLeave(LoaderContext& ctx) {
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
        if (!holdsFile_) {
            // Nothing was programmed: the loader has nothing to start.
            ctx.Note("stub loader: leave bytes without a file, ignored");
            return;
        }
        ctx.LeaveLoader();
        return;
    }
    // A file header still waiting for its line end stays whole; otherwise keep
    // only what could still be the start of a probe, a header or the leave bytes.
    if (const std::size_t header = pending_.find(kFileHeader); header != std::string::npos) {
        pending_.erase(0, header);
        return;
    }
    std::size_t keep = std::max({probe_.size(), leave_.size(), kFileHeader.size()});
    keep = keep == 0 ? 0 : keep - 1;
    if (pending_.size() > keep)
        pending_.erase(0, pending_.size() - keep);
}

} // namespace sim
