#include "programmers/Luftdruckabgleich.h"

#include <array>
#include <charconv>
#include <fstream>
#include <sstream>

namespace programmers {

namespace {

struct ModelRow {
    std::int32_t Model;
    std::int32_t MinimumVersion;
};

constexpr std::array<ModelRow, 3> Models = {{{41246, 102}, {41247, 102}, {41248, 101}}};

// Leading decimal digits after blanks; bounded so that it cannot overflow.
std::int64_t LeadingNumber(const std::string& text) {
    std::size_t position = text.find_first_not_of(' ');
    std::int64_t value = 0;
    for (; position < text.size() && text[position] >= '0' && text[position] <= '9'; ++position) {
        if (value > 100000000000LL) {
            return -1;
        }
        value = value * 10 + (text[position] - '0');
    }
    return value;
}

} // namespace

bool TPressureTable::Load(const std::string& path, std::string& error) {
    rows_.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return true;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        line = line.substr(0, line.find('#'));
        std::istringstream fields(line);
        std::string serial;
        std::string pressure;
        if (!(fields >> serial)) {
            continue;
        }
        Row row{};
        float value = 0;
        auto serialParse =
            std::from_chars(serial.data(), serial.data() + serial.size(), row.Serial);
        bool ok = serialParse.ec == std::errc() &&
                  serialParse.ptr == serial.data() + serial.size() &&
                  static_cast<bool>(fields >> pressure);
        if (ok) {
            auto pressureParse =
                std::from_chars(pressure.data(), pressure.data() + pressure.size(), value);
            ok = pressureParse.ec == std::errc() &&
                 pressureParse.ptr == pressure.data() + pressure.size() && value > 0;
        }
        if (!ok) {
            error = path + ", line " + std::to_string(number) + ": expected \"serial pressure\"";
            rows_.clear();
            return false;
        }
        if (rows_.size() == MaxRows) {
            error = path + ": more than " + std::to_string(MaxRows) + " rows, the rest is ignored";
            return false;
        }
        row.Pressure = value;
        rows_.push_back(row);
    }
    return true;
}

void TPressureTable::SetRows(std::vector<Row> rows) {
    if (rows.size() > MaxRows) {
        rows.resize(MaxRows);
    }
    rows_ = std::move(rows);
}

std::int32_t TPressureTable::PressureIndex(const std::string& modelText,
                                           const std::string& serialText,
                                           std::int32_t version) const {
    const std::int64_t model = LeadingNumber(modelText);
    for (const ModelRow& row : Models) {
        if (row.Model != model) {
            continue;
        }
        if (version < row.MinimumVersion) {
            return NotCalibrated;
        }
        const std::int64_t serial = LeadingNumber(serialText);
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            if (rows_[i].Serial == serial) {
                return static_cast<std::int32_t>(i);
            }
        }
        return UnknownSerial;
    }
    return NotCalibrated;
}

float TPressureTable::PressureValue(std::int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= rows_.size()) {
        return DefaultPressure;
    }
    return rows_[static_cast<std::size_t>(index)].Pressure;
}

} // namespace programmers
