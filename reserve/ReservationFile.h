// The first step of a reservation: one programme's text (a whole iEPG file,
// or one part of a file with several, iepg::SplitParts) read into the
// programme to reserve, with its channel and its adjusted times. The steps
// after it (the user's confirmation, the mail, the history) are the
// driver's, reserve/Reserver.h.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "mail/MailProgramme.h"
#include "reserve/Entry.h"

class CStationTable;

namespace reserve {

// One programme to reserve, as the confirmation shows it and the mail and
// the history carry it.
struct Reservation {
    unsigned channel = 0;  // from the user's Station.txt; never 0
    tm start{};            // local times, adjusted and normalised (AdjustTime)
    tm end{};
    std::string station;      // the file's "station:" value as written (a name, or a code in version 2)
    std::string stationName;  // its "station-name:" value; empty when absent
    std::string title;        // its "program-title:" value; empty when absent
    // A guide server's "service-id:" and "type:" (GR, BS, CS), which name the
    // station's code when the table knows neither station nor station-name.
    std::string serviceId, type;
    // The station as Station.txt names it: the line that gave the channel
    // (CStationTable::Match). Empty until the channel is found.
    std::string tableName;
    // The programme as the file gives it (its own times, its program-id),
    // which the duplicate question asks by; unknown for a history entry sent
    // again.
    history::Programme programme;

    // The station as the user reads it: the name where the file gives one
    // apart from a code, else the station value. The mail's "%stat%", the
    // progress window's notice and the history show this: a resend mails it
    // again as it was, and the duplicate question finds earlier sends.
    const std::string& Named() const { return stationName.empty() ? station : stationName; }

    // The station as the table that gave the channel names it, with the
    // file's station-name beside it where that differs:
    // "ＮＨＫ総合(ＮＨＫ総合１・大阪)". Named() while the table has not been
    // asked. Each name is cut at kMaxShownNameBytes (StationTable.h), so
    // the boxes of a file with several programmes, which show this, stay
    // boxes whatever the file holds.
    std::string Shown() const;
    // The programme as it is reserved from here on: the one value the
    // boxes, the history entry (history::EntryOf) and the mail are made of.
    MailProgramme Mailed() const { return {start, end, channel, title, Named()}; }
};

// Minutes added to every programme's start and end ("startad", "endad").
struct Adjustments {
    int32_t start = 0;
    int32_t end = 0;
};

enum class ReadOutcome {
    kRead,            // the reservation is filled in
    kMissingKey,      // a required key is missing: a single file fails without a word, as always
    kMalformed,       // a number or a time could not be read or adjusted: likewise
    kUnknownStation,  // the station is not in the table (or under channel 0): the user adds it
    kBadDate,         // the times are beyond what a reservation can hold (year 99999)
};

// Reads text (one programme's text; a NUL inside it is the caller's to cut
// off) as an iEPG programme: the six header keys, the optional title,
// station-name and program-id (iepg::ReadProgramme), the station's channel
// in table (Lookup with station, station-name, service-id and type), the two times built
// and shifted by adjust. Logs the header's values, the channel and the
// adjusted times as it goes, as a single file always logged them. On any
// outcome but kRead, warning holds the text of the box that tells the user:
// for kUnknownStation (UnknownStationText) and kBadDate (each value of the
// date at most kMaxShownNameBytes) one a single file
// shows; for kMissingKey and kMalformed one only a file with several
// programmes shows. Owns nothing it is given. Throws CFileIOerror when a log
// write fails, std::bad_alloc.
ReadOutcome ReadReservation(std::string_view text, const CStationTable& table, const Adjustments& adjust,
                            Reservation& reservation, std::string& warning);

}  // namespace reserve
