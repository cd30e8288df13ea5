#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "media/DecodedFrame.h"

namespace vistamo {

inline constexpr int kSnapshotJpegQuality = 85;

// How a locale numbers the weeks of a year: the weekday its weeks start on (0 Sunday to
// 6 Saturday) and how many days of a new year its first week must hold (1 to 7).
struct WeekRules {
    int firstWeekday = 0;
    int minimalDaysInFirstWeek = 1;
};

// The week rules of the user's locale (LC_ALL, LC_TIME or LANG), else of the C locale.
WeekRules localeWeekRules();

// The week-based year that `date` belongs to under `rules`: near the turn of a year, a date
// belongs to the year whose first week holds it.
int weekBasedYear(std::chrono::year_month_day date, WeekRules rules);

// "YYYYMMdd": the week-based year (at least four digits), the month and the day of `date`.
std::string snapshotDateText(std::chrono::year_month_day date, WeekRules rules);

// "IMG<date><number, at least four digits>.JPG"
std::string snapshotFileName(std::string_view dateText, uint64_t pictureID);

// "vistamo+" in the user's Pictures folder; none without a Pictures folder.
std::optional<std::filesystem::path> snapshotFolder();

// Writes `frame` as a JPEG file (quality 85) named for today's date in the local time zone and
// the locale's week rules and for `pictureID`, into snapshotFolder(), which is made with its
// parents when missing. An existing file of that name is replaced atomically. False, with a
// log line and nothing written, when the folder cannot be made or is a file, or the image or
// the file cannot be written. Any thread.
bool writeSnapshot(const DecodedFrame& frame, uint64_t pictureID);

}  // namespace vistamo
