// The ids of the object tree's texts (res/talvine/strings.*): the durations of the "as duration" format,
// in the language selected.
#pragma once

constexpr unsigned ExprStrOneSecond = 2025; // "One second"
constexpr unsigned ExprStrSeconds = 2026; // "%d seconds"
constexpr unsigned ExprStrMinuteSecond = 2027; // "One minute and one second"
constexpr unsigned ExprStrMinuteSeconds = 2028; // "One minute and %d seconds"
constexpr unsigned ExprStrMinutesSecond = 2029; // "%d minutes and one second"
constexpr unsigned ExprStrMinutesSeconds = 2030; // "%d minutes and %d seconds"
constexpr unsigned ExprStrHourMinute = 2031; // "One hour and one minute"
constexpr unsigned ExprStrHourMinutes = 2032; // "One hour and %d minutes"
constexpr unsigned ExprStrHoursMinute = 2033; // "%d hours and one minute"
constexpr unsigned ExprStrHoursMinutes = 2034; // "%d hours and %d minutes"
constexpr unsigned ExprStrDayHour = 2035; // "One day and one hour"
constexpr unsigned ExprStrDayHours = 2036; // "One day and %d hours"
constexpr unsigned ExprStrDaysHour = 2037; // "%d days and one hour"
constexpr unsigned ExprStrDaysHours = 2038; // "%d days and %d hours"
