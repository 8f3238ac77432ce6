#include "fleet/fleet_time.h"

#include <cstdio>

namespace {

constexpr std::int64_t kDay = 86400;

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

void CivilFromDays(std::int64_t days, std::int64_t* year, unsigned* month, unsigned* day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shifted = (5 * dayOfYear + 2) / 153;
    *day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    *month = shifted < 10 ? shifted + 3 : shifted - 9;
    *year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (*month <= 2);
}

bool Digits(std::string_view text, std::size_t at, std::size_t count, unsigned* value) {
    if (at + count > text.size()) return false;
    *value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        *value = *value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

std::string Counted(std::int64_t count, const char* unit) {
    return std::to_string(count) + " " + unit + (count == 1 ? "" : "s") + " ago";
}

}  // namespace

std::string FormatIsoUtc(std::int64_t seconds) {
    const std::int64_t days = (seconds >= 0 ? seconds : seconds - (kDay - 1)) / kDay;
    const std::int64_t inDay = seconds - days * kDay;
    std::int64_t year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(days, &year, &month, &day);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(year), month, day,
                  static_cast<long long>(inDay / 3600), static_cast<long long>(inDay / 60 % 60),
                  static_cast<long long>(inDay % 60));
    return text;
}

bool ParseIsoUtc(std::string_view text, std::int64_t* seconds) {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z')
        return false;
    if (!Digits(text, 0, 4, &year) || !Digits(text, 5, 2, &month) || !Digits(text, 8, 2, &day) ||
        !Digits(text, 11, 2, &hour) || !Digits(text, 14, 2, &minute) ||
        !Digits(text, 17, 2, &second))
        return false;
    if (year < 1970 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 ||
        second > 59)
        return false;
    const std::int64_t days = DaysFromCivil(year, month, day);
    std::int64_t backYear = 0;
    unsigned backMonth = 0, backDay = 0;
    CivilFromDays(days, &backYear, &backMonth, &backDay);
    if (backMonth != month || backDay != day) return false;  // 31 April, 29 February 2027, ...
    *seconds = days * kDay + hour * 3600 + minute * 60 + second;
    return true;
}

std::string AgeText(std::int64_t then, std::int64_t now) {
    const std::int64_t age = now > then ? now - then : 0;
    if (age < 60) return "less than a minute ago";
    if (age < 3600) return Counted(age / 60, "minute");
    if (age < kDay) return Counted(age / 3600, "hour");
    return Counted(age / kDay, "day");
}
