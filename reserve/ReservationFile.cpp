#include "reserve/ReservationFile.h"

#include <string_view>

#include "base/Cp932.h"
#include "base/system.h"
#include "reserve/History.h"
#include "reserve/IepgText.h"
#include "reserve/ReserveTimes.h"
#include "reserve/StationTable.h"

namespace reserve {

namespace {

// The end of a box about a programme that is left out of a file with
// several: the others still go.
const char kLeftOut[] = "\nこの番組は予約されません";

}  // namespace

ReadOutcome ReadReservation(std::string_view text, const CStationTable& table, const Adjustments& adjust,
                            Reservation& r, std::string& warning) {
    iepg::Programme p;
    if (const char* missing = iepg::ReadProgramme(text, p)) {
        warning = std::string("番組に<") + missing + ">がありません" + kLeftOut;
        return ReadOutcome::kMissingKey;
    }
    r.station = p.station;
    r.stationName = p.stationName;
    r.title = p.title;

    // Values can be of any length, so the log texts are joined, not printed
    // into a buffer.
    WriteLog("I:Station=" + r.station + "\r\nI:Date=" + p.year + "/" + p.month + "/" + p.date + "\r\nI:Start=" +
             p.start + "\r\nI:End=" + p.end + "\r\n");

    iepg::ExtractLineValue(text, "service-id:", r.serviceId);
    iepg::ExtractLineValue(text, "type:", r.type);
    const CStationTable::Match match = table.Lookup(r.station, r.stationName, r.serviceId, r.type);
    r.channel = match.channel;
    r.tableName = match.name;
    WriteLog("I:CH=" + std::to_string(r.channel) + "\r\n");
    if (r.channel == 0) {
        warning = UnknownStationText(r.station, r.stationName);
        return ReadOutcome::kUnknownStation;
    }

    warning = std::string("番組の日時を読み取れません") + kLeftOut;
    tm start{}, end{};
    if (!BuildTimes(p.year, p.month, p.date, p.start, p.end, start, end)) return ReadOutcome::kMalformed;
    r.start = start;
    r.end = end;
    if (!AdjustTime(r.start, adjust.start)) return ReadOutcome::kMalformed;
    if (!AdjustTime(r.end, adjust.end)) return ReadOutcome::kMalformed;

    // Five writes: each asctime text ends in its own line feed, followed by
    // the log's line end.
    WriteLog("I:AdjustedStart=");
    WriteLog(AsctimeText(r.start));
    WriteLog("\r\nI:AdjustedEnd=");
    WriteLog(AsctimeText(r.end));
    WriteLog("\r\n");

    // A reservation is kept in the history with its times: one the history
    // cannot hold (a year of five digits) is refused before it is asked
    // about, as the file gave it.
    history::Entry own;
    if (!history::SetProgramme(own, start, end, p.programId) || !history::CanHold(r.start) ||
        !history::CanHold(r.end)) {
        const auto shown = [](const std::string& value) { return cp932::Shortened(value, kMaxShownNameBytes); };
        warning = "日時(" + shown(p.year) + "/" + shown(p.month) + "/" + shown(p.date) + " " + shown(p.start) + "～" +
                  shown(p.end) + ")を予約できません\n予約は送信されていません";
        return ReadOutcome::kBadDate;
    }
    r.programme = own.programme;
    warning.clear();
    return ReadOutcome::kRead;
}

std::string Reservation::Shown() const {
    const auto cut = [](const std::string& name) { return cp932::Shortened(name, kMaxShownNameBytes); };
    if (tableName.empty()) return cut(Named());
    if (stationName.empty() || stationName == tableName) return cut(tableName);
    return cut(tableName) + "(" + cut(stationName) + ")";
}

}  // namespace reserve
