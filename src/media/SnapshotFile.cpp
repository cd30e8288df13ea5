#include "media/SnapshotFile.h"

#include <langinfo.h>
#include <locale.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <system_error>

#include "media/JpegEncoder.h"
#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "settings/Folders.h"

namespace vistamo {

namespace {

using std::chrono::day;
using std::chrono::days;
using std::chrono::month;
using std::chrono::sys_days;
using std::chrono::weekday;
using std::chrono::year;
using std::chrono::year_month_day;

// The first day of week 1 of `y`: the week (starting on the locale's first weekday) that
// holds 1 January, when enough of it lies in `y`, else the week after.
sys_days firstWeekStart(year y, WeekRules rules) {
    const sys_days january1{y / month{1} / day{1}};
    const int daysBefore =
        (static_cast<int>(weekday{january1}.c_encoding()) - rules.firstWeekday + 7) % 7;
    sys_days start = january1 - days{daysBefore};
    if (7 - daysBefore < rules.minimalDaysInFirstWeek) {
        start += days{7};
    }
    return start;
}

// The date in the local time zone.
year_month_day localToday() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return year{local.tm_year + 1900} / month{static_cast<unsigned>(local.tm_mon + 1)} /
           day{static_cast<unsigned>(local.tm_mday)};
}

// glibc keeps some LC_TIME items as numbers in the slot of the returned pointer.
uint32_t wordItem(nl_item item, locale_t locale) {
    const char* value = nl_langinfo_l(item, locale);
    uint32_t word = 0;
    std::memcpy(&word, &value, sizeof word);
    return word;
}

}  // namespace

WeekRules localeWeekRules() {
    locale_t locale = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    if (locale == static_cast<locale_t>(nullptr)) {
        locale = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
    }
    if (locale == static_cast<locale_t>(nullptr)) {
        return WeekRules{};
    }
    // The week's first day is given as a date (19971130, a Sunday, or 19971201, a Monday);
    // first_weekday counts from it, 1 meaning that day itself.
    const uint32_t firstDayDate = wordItem(_NL_TIME_WEEK_1STDAY, locale);
    const int firstWeekdayItem =
        static_cast<unsigned char>(*nl_langinfo_l(_NL_TIME_FIRST_WEEKDAY, locale));
    const int minimalDays =
        static_cast<unsigned char>(*nl_langinfo_l(_NL_TIME_WEEK_1STWEEK, locale));
    freelocale(locale);

    WeekRules rules;
    const year_month_day firstDay{year{static_cast<int>(firstDayDate / 10000)},
                                  month{firstDayDate / 100 % 100}, day{firstDayDate % 100}};
    const int base = firstDay.ok() ? static_cast<int>(weekday{sys_days{firstDay}}.c_encoding()) : 0;
    const int offset = firstWeekdayItem >= 1 && firstWeekdayItem <= 7 ? firstWeekdayItem - 1 : 0;
    rules.firstWeekday = (base + offset) % 7;
    rules.minimalDaysInFirstWeek = minimalDays >= 1 && minimalDays <= 7 ? minimalDays : 1;
    return rules;
}

int weekBasedYear(year_month_day date, WeekRules rules) {
    const sys_days when{date};
    const year y = date.year();
    if (when >= firstWeekStart(y + std::chrono::years{1}, rules)) {
        return static_cast<int>(y) + 1;
    }
    if (when < firstWeekStart(y, rules)) {
        return static_cast<int>(y) - 1;
    }
    return static_cast<int>(y);
}

std::string snapshotDateText(year_month_day date, WeekRules rules) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02u%02u", weekBasedYear(date, rules),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

std::string snapshotFileName(std::string_view dateText, uint64_t pictureID) {
    char number[32];
    std::snprintf(number, sizeof number, "%04" PRIu64, pictureID);
    return "IMG" + std::string(dateText) + number + ".JPG";
}

std::optional<std::filesystem::path> snapshotFolder() {
    const auto pictures = picturesFolder();
    if (!pictures) {
        return std::nullopt;
    }
    return *pictures / kAppFolderName;
}

bool writeSnapshot(const DecodedFrame& frame, uint64_t pictureID) {
    const auto folder = snapshotFolder();
    if (!folder) {
        logLine("snapshot not saved: no Pictures folder (no absolute HOME)");
        return false;
    }
    std::error_code error;
    if (!std::filesystem::exists(*folder, error)) {
        std::filesystem::create_directories(*folder, error);
        if (error) {
            logLine("snapshot not saved: cannot create " + folder->string() + ": " +
                    error.message());
            return false;
        }
    } else if (!std::filesystem::is_directory(*folder, error)) {
        logLine("snapshot not saved: " + folder->string() + " is not a folder");
        return false;
    }
    const auto jpeg = encodeJpeg(frame, kSnapshotJpegQuality);
    if (!jpeg) {
        return false;
    }
    const auto path =
        *folder / snapshotFileName(snapshotDateText(localToday(), localeWeekRules()), pictureID);
    Error writeError;
    if (!writeFileAtomically(path, *jpeg, 0644, &writeError)) {
        logLine("snapshot not saved: " + writeError.reason + ": " + writeError.description);
        return false;
    }
    return true;
}

}  // namespace vistamo
