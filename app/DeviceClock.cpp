#include "app/DeviceClock.h"

#include "programmers/Protocol.h"

#include <cstdio>

namespace app {

namespace {

// Days from 1 January 1970 to a civil date (proleptic Gregorian).
long DaysFromEpoch(int year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const long era = (year >= 0 ? year : year - 399) / 400;
    const long yearOfEra = year - era * 400;
    const long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

} // namespace

std::string ClockCommand(bool secondsForm, const std::tm& local) {
    // Local wall-clock time counted as if it were UTC, as the instrument
    // keeps local time.
    const long days = DaysFromEpoch(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    const long secondsOfDay = local.tm_hour * 3600L + local.tm_min * 60L + local.tm_sec;
    char text[64];
    if (secondsForm) {
        const long since2002 = (days - DaysFromEpoch(2002, 12, 31)) * 86400L + secondsOfDay;
        std::snprintf(text, sizeof text, "%s%lu\r\n", protocol::command::SetClockPrefix,
                      static_cast<unsigned long>(since2002 < 0 ? 0 : since2002));
    } else {
        const double since1899 =
            static_cast<double>(days - DaysFromEpoch(1899, 12, 30)) + secondsOfDay / 86400.0;
        std::snprintf(text, sizeof text, "%s%f\r\n", protocol::command::SetClockPrefix, since1899);
    }
    return text;
}

} // namespace app
