#include "programmers/TermAnnouncements.h"

#include <algorithm>
#include <cstring>

namespace programmers {

namespace {

constexpr std::size_t LongestAnnouncement() {
    std::size_t longest = 0;
    for (const TAnnouncement& entry : Announcements) {
        longest = std::max(longest, entry.Text.size());
    }
    return longest;
}

// What stays after a drop must still hold the start of a split announcement.
static_assert(TAnnouncementScanner::Capacity - TAnnouncementScanner::ReadChunk >=
              LongestAnnouncement());

} // namespace

char* TAnnouncementScanner::ReadPlace(std::size_t& room) {
    // Every complete announcement has been taken out, so the oldest text is
    // chatter or the start of one that is still arriving at the end.
    if (Capacity - length_ < ReadChunk) {
        const std::size_t drop = ReadChunk - (Capacity - length_);
        std::memmove(text_.data(), text_.data() + drop, length_ - drop);
        length_ -= drop;
    }
    room = ReadChunk;
    return text_.data() + length_;
}

void TAnnouncementScanner::Commit(std::size_t count, std::vector<std::int32_t>& messages) {
    length_ += std::min(count, Capacity - length_);
    for (const TAnnouncement& entry : Announcements) {
        const std::string_view text = Text();
        const std::size_t at = text.find(entry.Text);
        if (at == std::string_view::npos) {
            continue;
        }
        const std::size_t end = at + entry.Text.size();
        std::memmove(text_.data() + at, text_.data() + end, length_ - end);
        length_ -= entry.Text.size();
        messages.push_back(entry.Message);
    }
}

void TAnnouncementScanner::Add(std::string_view bytes, std::vector<std::int32_t>& messages) {
    while (!bytes.empty()) {
        std::size_t room = 0;
        char* place = ReadPlace(room);
        const std::size_t count = std::min(room, bytes.size());
        std::memcpy(place, bytes.data(), count);
        bytes.remove_prefix(count);
        Commit(count, messages);
    }
}

} // namespace programmers
