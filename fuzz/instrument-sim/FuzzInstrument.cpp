// Arbitrary profiles and arbitrary line input must neither crash nor grow without bound.
#include "tools/instrument-sim/Instrument.h"
#include "tools/instrument-sim/Profile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t split = input.find('\x01');
    sim::ParseProfile(input.substr(0, split));
    if (split == std::string_view::npos)
        return 0;

    sim::ProfileResult r = sim::ParseProfile(
        "start_mode=0\nbaud=4800\nstop_bits=2\npcb=1\ndevice=2\nversion=1.23\nserial=3\n"
        "on.2003@2=I.23#x|@5:A.2003!\nfault.2000@3=garble\nprobe_answer=h00h:M\n");
    if (!r.ok)
        __builtin_trap();
    sim::Instrument inst(r.profile, nullptr, nullptr);
    std::string_view bytes = input.substr(split + 1);
    sim::Instrument::Millis now = 0;
    while (!bytes.empty() && !inst.HangupRequested()) {
        std::size_t n = std::min<std::size_t>(bytes.size(), 1 + (bytes[0] & 15));
        sim::LineSettings line = inst.ExpectedLine();
        inst.Receive(bytes.substr(0, n), &line, now);
        inst.TakeDue(now += 10);
        bytes.remove_prefix(n);
    }
    return 0;
}
