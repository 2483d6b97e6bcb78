// Feeds arbitrary bytes, in pieces of arbitrary size, to the Basic-Loader's
// announcement scanner. The text must stay within its bound and every
// message handed out must be one of the table's.
#include "programmers/TermAnnouncements.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace programmers;
    TAnnouncementScanner scanner;
    std::vector<std::int32_t> found;
    std::size_t at = 0;
    while (at < size) {
        // The first byte of each piece says how long the piece is.
        const std::size_t piece = std::min<std::size_t>(size - at, 1 + data[at] % 200);
        std::size_t room = 0;
        char* place = scanner.ReadPlace(room);
        const std::size_t count = std::min(piece, room);
        std::memcpy(place, data + at, count);
        at += piece;
        found.clear();
        scanner.Commit(count, found);
        if (scanner.Text().size() > TAnnouncementScanner::Capacity) {
            std::abort();
        }
        for (std::int32_t message : found) {
            if (std::none_of(Announcements.begin(), Announcements.end(),
                             [&](const TAnnouncement& a) { return a.Message == message; })) {
                std::abort();
            }
        }
    }
    return 0;
}
