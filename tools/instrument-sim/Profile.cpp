#include "tools/instrument-sim/Profile.h"

#include "tools/instrument-sim/ConfigValues.h"

#include <charconv>
#include <fstream>
#include <set>

namespace sim {
namespace {

// Frame starts, separators and terminators of the binary bootloader answers.
struct BinaryFrame {
    std::string_view start;
    char separator;
    char terminator;
};
constexpr BinaryFrame kFrames[] = {
    {"h00h", '\x1D', '\x0C'},
    {"h11h", '\x1E', '\x0A'},
    {"h,,h", '\x19', '\x0C'},
};
constexpr char kFrameStop = '\x16';

const std::set<std::string_view> kRequired = {"start_mode", "baud",    "stop_bits", "pcb",
                                              "device",     "version", "serial"};

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool ParseUnsigned(std::string_view s, unsigned long& out) {
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        base = 16;
    }
    if (s.empty())
        return false;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out, base);
    return ec == std::errc() && end == s.data() + s.size();
}

// "68 00 16" or "680016".
bool ParseHexBytes(std::string_view s, std::string& out) {
    out.clear();
    int high = -1;
    for (char c : s) {
        if (c == ' ')
            continue;
        int d = HexDigit(c);
        if (d < 0)
            return false;
        if (high < 0) {
            high = d;
        } else {
            out.push_back(static_cast<char>(high * 16 + d));
            high = -1;
        }
    }
    return high < 0 && !out.empty();
}

// Backslash escapes \\ \| \r \n \xHH; "|" separates lines when splitLines is set.
bool DecodeText(std::string_view s, bool splitLines, std::vector<std::string>& lines,
                std::string& error) {
    lines.assign(1, {});
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '|' && splitLines) {
            lines.emplace_back();
            continue;
        }
        if (c != '\\') {
            lines.back().push_back(c);
            continue;
        }
        if (++i >= s.size()) {
            error = "backslash at end of value";
            return false;
        }
        switch (s[i]) {
        case '\\':
        case '|':
            lines.back().push_back(s[i]);
            break;
        case 'r':
            lines.back().push_back('\r');
            break;
        case 'n':
            lines.back().push_back('\n');
            break;
        case 'x': {
            int h = i + 2 < s.size() ? HexDigit(s[i + 1]) : -1;
            int l = h >= 0 ? HexDigit(s[i + 2]) : -1;
            if (l < 0) {
                error = "\\x needs two hex digits";
                return false;
            }
            lines.back().push_back(static_cast<char>(h * 16 + l));
            i += 2;
            break;
        }
        default:
            error = std::string("unknown escape \\") + s[i];
            return false;
        }
    }
    return true;
}

bool ParseCue(std::string_view value, std::vector<CueLine>& cue, std::string& error) {
    std::vector<std::string> lines;
    if (!DecodeText(value, true, lines, error))
        return false;
    cue.clear();
    if (value.empty())
        return true; // an empty cue means: answer nothing
    for (std::string& text : lines) {
        CueLine line;
        if (!text.empty() && text[0] == '@') {
            std::size_t colon = text.find(':');
            unsigned long ms = 0;
            if (colon == std::string::npos ||
                !ParseUnsigned(std::string_view(text).substr(1, colon - 1), ms) || ms > 600000) {
                error = "delay must be @MS: with MS at most 600000";
                return false;
            }
            line.delayMs = static_cast<unsigned>(ms);
            text.erase(0, colon + 1);
        }
        line.bytes = std::move(text);
        cue.push_back(std::move(line));
    }
    return true;
}

// "1131" or "1131@2".
bool ParseCommandKey(std::string_view s, CommandKey& key) {
    std::size_t at = s.find('@');
    unsigned long number = 0, occurrence = 0;
    if (!ParseUnsigned(s.substr(0, at), number) || number > 999999999)
        return false;
    if (at != std::string_view::npos &&
        (!ParseUnsigned(s.substr(at + 1), occurrence) || occurrence == 0 || occurrence > 1000000))
        return false;
    key = {static_cast<long>(number), static_cast<unsigned>(occurrence)};
    return true;
}

bool ParseProbeAnswer(std::string_view v, std::string& out) {
    out.clear();
    if (v == "none")
        return true;
    if (v == "90") {
        out = "\x90";
        return true;
    }
    if (v == "Q") {
        out = "Q";
        return true;
    }
    if (v.starts_with("hex:"))
        return ParseHexBytes(v.substr(4), out);
    for (const BinaryFrame& f : kFrames) {
        if (v.size() >= 5 && v.substr(0, 4) == f.start && v[4] == ':') {
            out.append(f.start);
            out.push_back(f.separator);
            out.append(v.substr(5));
            out.push_back(f.terminator);
            out.push_back(kFrameStop);
            return true;
        }
    }
    return false;
}

bool ParseBaud(std::string_view v, unsigned& baud) {
    static const std::set<unsigned long> kRates = {1200,  2400,  4800,  9600,
                                                   19200, 38400, 57600, 115200};
    unsigned long n = 0;
    if (!ParseUnsigned(v, n) || !kRates.count(n))
        return false;
    baud = static_cast<unsigned>(n);
    return true;
}

bool ParseStopBits(std::string_view v, int& stopBits) {
    if (v != "1" && v != "2")
        return false;
    stopBits = v[0] - '0';
    return true;
}

bool ParseYesNo(std::string_view v, std::string_view yes, std::string_view no, bool& out) {
    if (v == yes)
        out = true;
    else if (v == no)
        out = false;
    else
        return false;
    return true;
}

bool ParseNumberList(std::string_view v, std::vector<long>& out) {
    out.clear();
    while (!v.empty()) {
        std::size_t comma = v.find(',');
        unsigned long n = 0;
        if (!ParseUnsigned(Trim(v.substr(0, comma)), n) || n > 999999999)
            return false;
        out.push_back(static_cast<long>(n));
        v = comma == std::string_view::npos ? std::string_view() : v.substr(comma + 1);
    }
    return true;
}

bool PlainText(std::string_view v, std::string& out) {
    if (v.size() > kMaxProfileText)
        return false;
    out.assign(v);
    return true;
}

// Returns the error text for a bad value, empty when the key was taken.
std::string ApplyKey(Profile& p, std::string_view key, std::string_view v) {
    unsigned long n = 0;
    if (key == "name")
        return PlainText(v, p.name) ? "" : "name too long";
    if (key == "start_mode") {
        if (!ParseUnsigned(v, n) || n > 5)
            return "start_mode must be 0 to 5";
        p.startMode = static_cast<int>(n);
        return "";
    }
    if (key == "start") {
        return ParseYesNo(v, "loader", "firmware", p.startInLoader)
                   ? ""
                   : "start must be firmware or loader";
    }
    if (key == "power") {
        bool on = true;
        if (!ParseYesNo(v, "on", "off", on))
            return "power must be on or off";
        p.poweredOff = !on;
        return "";
    }
    if (key == "baud")
        return ParseBaud(v, p.line.baud) ? "" : "unsupported baud rate";
    if (key == "stop_bits")
        return ParseStopBits(v, p.line.stopBits) ? "" : "stop_bits must be 1 or 2";
    if (key == "loader_baud")
        return ParseBaud(v, p.loaderLine.baud) ? "" : "unsupported baud rate";
    if (key == "loader_stop_bits")
        return ParseStopBits(v, p.loaderLine.stopBits) ? "" : "stop_bits must be 1 or 2";
    if (key == "loader")
        return PlainText(v, p.loader) && !v.empty() ? "" : "loader needs a name";
    if (key == "pcb")
        return PlainText(v, p.pcb) ? "" : "pcb too long";
    if (key == "device")
        return PlainText(v, p.device) ? "" : "device too long";
    if (key == "version")
        return PlainText(v, p.version) ? "" : "version too long";
    if (key == "serial")
        return PlainText(v, p.serial) ? "" : "serial too long";
    if (key == "password")
        return PlainText(v, p.password) ? "" : "password too long";
    if (key == "password_reply") {
        if (!ParseUnsigned(v, n) || n > 99999)
            return "password_reply must be a reply number";
        p.passwordReply = static_cast<int>(n);
        return "";
    }
    if (key == "id_replies") {
        std::vector<long> list;
        if (!ParseNumberList(v, list) || list.size() != 4)
            return "id_replies needs four reply numbers";
        for (std::size_t i = 0; i < 4; ++i)
            p.idReplies[i] = static_cast<int>(list[i]);
        return "";
    }
    if (key == "old_image")
        return ParseYesNo(v, "pattern", "blank", p.oldImage) ? ""
                                                             : "old_image must be pattern or blank";
    if (key == "after_restart") {
        return ParseYesNo(v, "silent", "awake", p.silentAfterRestart)
                   ? ""
                   : "after_restart must be awake or silent";
    }
    if (key == "unknown") {
        return ParseYesNo(v, "refuse", "ack", p.refuseUnknown) ? ""
                                                               : "unknown must be refuse or ack";
    }
    if (key == "loader_entry")
        return ParseNumberList(v, p.loaderEntry) ? "" : "loader_entry needs command numbers";
    if (key == "entry_key")
        return PlainText(v, p.entryKey) ? "" : "entry_key too long";
    if (key == "memory_variant") {
        if (v.size() != 1 || v[0] < '!' || v[0] > '~')
            return "memory_variant must be one printable character";
        p.memoryVariant = v[0];
        return "";
    }
    if (key == "probe")
        return ParseHexBytes(v, p.probe) ? "" : "probe needs hex bytes";
    if (key == "probe_leave")
        return ParseHexBytes(v, p.probeLeave) ? "" : "probe_leave needs hex bytes";
    if (key == "probe_answer") {
        return ParseProbeAnswer(v, p.probeAnswer)
                   ? ""
                   : "probe_answer must be none, 90, Q, hex:BYTES or h00h:/h11h:/h,,h:TEXT";
    }
    if (key == "reply_delay_ms") {
        if (!ParseUnsigned(v, n) || n > 600000)
            return "reply_delay_ms must be 0 to 600000";
        p.replyDelayMs = static_cast<unsigned>(n);
        return "";
    }
    if (key == "flash_start" || key == "flash_size") {
        if (!ParseUnsigned(v, n) || n > 0xFFFFFFFFul)
            return "flash address must be a number";
        (key == "flash_start" ? p.flashStart : p.flashSize) = static_cast<std::uint32_t>(n);
        return "";
    }
    std::string error;
    if (key == "on.restart")
        return ParseCue(v, p.restartCue, error) ? "" : error;
    if (key.starts_with("on.")) {
        CommandKey k;
        if (!ParseCommandKey(key.substr(3), k))
            return "on. needs a command number, optionally @occurrence";
        return ParseCue(v, p.cues[k], error) ? "" : error;
    }
    if (key.starts_with("fault.")) {
        CommandKey k;
        if (!ParseCommandKey(key.substr(6), k))
            return "fault. needs a command number, optionally @occurrence";
        static const std::map<std::string_view, FaultKind> kKinds = {{"silent", FaultKind::Silent},
                                                                     {"garble", FaultKind::Garble},
                                                                     {"refuse", FaultKind::Refuse},
                                                                     {"hangup", FaultKind::Hangup}};
        if (v.starts_with("hangup+")) {
            if (!ParseUnsigned(v.substr(7), n) || n > 3600000)
                return "hangup+ needs a delay of 0 to 3600000 ms";
            p.faults[k] = FaultKind::LateHangup;
            p.lateHangupMs[k] = static_cast<unsigned>(n);
            return "";
        }
        auto it = kKinds.find(v);
        if (it == kKinds.end())
            return "fault must be silent, garble, refuse, hangup or hangup+MS";
        p.faults[k] = it->second;
        return "";
    }
    if (key == "line.fault")
        return ParseLineFaultKind(v, p.lineFault.kind)
                   ? ""
                   : "line.fault must be drop, flip, refuse, silent, hangup, speed or garbage";
    if (key == "line.fault.at") {
        if (!ParseUnsigned(v, n) || n < 1 || n > 0xFFFFFFFFul)
            return "line.fault.at must be a byte number from 1";
        p.lineFault.at = n;
        return "";
    }
    if (key == "line.fault.count") {
        if (!ParseUnsigned(v, n) || n < 1 || n > 1000)
            return "line.fault.count must be 1 to 1000";
        p.lineFault.count = static_cast<unsigned>(n);
        return "";
    }
    if (key == "line.fault.during") {
        if (v != "loader" && v != "lab")
            return "line.fault.during must be loader or lab";
        p.lineFault.duringLab = v == "lab";
        return "";
    }
    if (key.starts_with("loader.") && key.size() > 7) {
        std::string text;
        if (!PlainText(v, text))
            return "value too long";
        p.loaderKeys[std::string(key)] = std::move(text);
        return "";
    }
    return "unknown key '" + std::string(key) + "'";
}

} // namespace

ProfileResult ParseProfile(std::string_view text) {
    ProfileResult result;
    std::set<std::string, std::less<>> seen;
    unsigned lineNo = 0;
    auto fail = [&](const std::string& why) {
        result.ok = false;
        result.error = "line " + std::to_string(lineNo) + ": " + why;
        return result;
    };
    while (!text.empty()) {
        ++lineNo;
        std::size_t nl = text.find('\n');
        std::string_view raw = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        if (raw.size() > kMaxProfileLine)
            return fail("line longer than " + std::to_string(kMaxProfileLine) + " characters");
        if (raw.find('\0') != std::string_view::npos)
            return fail("NUL byte");
        std::string_view line = Trim(raw);
        if (line.empty() || line[0] == '#')
            continue;
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            return fail("expected key=value");
        std::string_view key = Trim(line.substr(0, eq));
        std::string_view value = Trim(line.substr(eq + 1));
        if (key.empty())
            return fail("empty key");
        if (!seen.insert(std::string(key)).second)
            return fail("key '" + std::string(key) + "' given twice");
        std::string why = ApplyKey(result.profile, key, value);
        if (!why.empty())
            return fail(std::string(key) + ": " + why);
    }
    for (std::string_view key : kRequired) {
        if (!seen.count(key)) {
            result.error = "missing key '" + std::string(key) + "'";
            return result;
        }
    }
    const Profile& p = result.profile;
    if (p.flashSize == 0 || p.flashSize > 16u * 1024 * 1024 ||
        p.flashStart > 0xFFFFFFFFu - (p.flashSize - 1)) {
        result.error = "flash_start/flash_size: size must be 1 to 16 MiB inside 32-bit addresses";
        return result;
    }
    result.ok = true;
    return result;
}

ProfileResult LoadProfile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ProfileResult r;
        r.error = "cannot read profile " + path;
        return r;
    }
    // A profile is a page of keys; anything far bigger is the wrong file.
    constexpr std::size_t kMaxProfileBytes = 1 << 20;
    std::string text(kMaxProfileBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxProfileBytes) {
        ProfileResult r;
        r.error = path + ": larger than 1 MiB";
        return r;
    }
    ProfileResult r = ParseProfile(text);
    if (!r.ok)
        r.error = path + ": " + r.error;
    return r;
}

long WakeCommand(int startMode) {
    static constexpr long kWake[] = {1111, 1000, 1111, 1111, 1131, 1111};
    return startMode >= 0 && startMode <= 5 ? kWake[startMode] : 1111;
}

} // namespace sim
