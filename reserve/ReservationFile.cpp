#include "reserve/ReservationFile.h"

#include <string_view>
#include <utility>

#include "base/system.h"
#include "reserve/IepgText.h"
#include "reserve/ReserveTimes.h"
#include "reserve/StationTable.h"

namespace reserve {

namespace {

// The header keys, in the order they are looked for.
enum Field { kStation, kYear, kMonth, kDate, kStart, kEnd, kFieldCount };
const char* const kKeys[kFieldCount] = {"station:", "year:", "month:", "date:", "start:", "end:"};

}  // namespace

ReadOutcome ReadReservations(const char* text, const CStationTable& table, const Adjustments& adjust,
                             std::vector<Reservation>& reservations, std::string& station) {
    const std::string_view file(text);

    std::string values[kFieldCount];
    for (int i = 0; i < kFieldCount; ++i) {
        if (!iepg::ExtractValue(file, kKeys[i], values[i])) return ReadOutcome::kMalformed;
    }
    Reservation r;
    r.station = values[kStation];
    // Optional: only the mail template may ask for it.
    iepg::ExtractValue(file, "program-title:", r.title);

    // Values can be of any length, so the log texts are joined, not printed
    // into a buffer.
    WriteLog("I:Station=" + r.station + "\r\nI:Date=" + values[kYear] + "/" + values[kMonth] + "/" +
             values[kDate] + "\r\nI:Start=" + values[kStart] + "\r\nI:End=" + values[kEnd] + "\r\n");

    r.channel = table.FindChannel(r.station.c_str());
    WriteLog("I:CH=" + std::to_string(r.channel) + "\r\n");
    if (r.channel == 0) {
        station = r.station;
        return ReadOutcome::kUnknownStation;
    }

    if (!BuildTimes(values[kYear], values[kMonth], values[kDate], values[kStart], values[kEnd], r.start, r.end))
        return ReadOutcome::kMalformed;
    if (!AdjustTime(r.start, adjust.start)) return ReadOutcome::kMalformed;
    if (!AdjustTime(r.end, adjust.end)) return ReadOutcome::kMalformed;

    // Five writes: each asctime text ends in its own line feed, followed by
    // the log's line end.
    WriteLog("I:AdjustedStart=");
    WriteLog(AsctimeText(r.start));
    WriteLog("\r\nI:AdjustedEnd=");
    WriteLog(AsctimeText(r.end));
    WriteLog("\r\n");

    reservations.push_back(std::move(r));
    return ReadOutcome::kRead;
}

}  // namespace reserve
