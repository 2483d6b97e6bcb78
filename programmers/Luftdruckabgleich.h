#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace programmers {

// Reference air pressures of individual instruments, stored into them after
// their firmware update. The rows are installation data, read from a file
// next to the program: one row a line, "serial pressure" (serial number of
// eight digits, pressure in hPa with a decimal point), '#' starts a comment.
class TPressureTable {
public:
    static constexpr std::size_t MaxRows = 76;
    static constexpr float DefaultPressure = 947.0f;
    static constexpr std::int32_t NotCalibrated = -1;
    static constexpr std::int32_t UnknownSerial = -10;

    struct Row {
        std::int32_t Serial;
        float Pressure;
    };

    // Reads the rows; false with a message naming the line for a file that
    // is there but wrong. A missing file leaves the table empty.
    bool Load(const std::string& path, std::string& error);
    void SetRows(std::vector<Row> rows);
    const std::vector<Row>& Rows() const { return rows_; }

    // -1 for a model not in the model table or below its minimum version;
    // else the row of the serial number, or -10 when it has none.
    std::int32_t PressureIndex(const std::string& modelText, const std::string& serialText,
                               std::int32_t version) const;
    float PressureValue(std::int32_t index) const;

private:
    std::vector<Row> rows_;
};

} // namespace programmers
