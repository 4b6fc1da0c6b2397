// The first step of a reservation: one iEPG file's text read into the
// programmes to reserve, each with its channel and its adjusted times. The
// steps after it (the user's confirmation, the mail, the history) are the
// driver's, reserve/Reserver.h.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

class CStationTable;

namespace reserve {

// One programme to reserve, as the confirmation shows it and the mail and
// the history carry it.
struct Reservation {
    unsigned channel = 0;  // from the user's Station.txt; never 0
    tm start{};            // local times, adjusted and normalised (AdjustTime)
    tm end{};
    std::string station;   // the file's "station:" value as written
    std::string title;     // its "program-title:" value; empty when absent
};

// Minutes added to every programme's start and end ("startad", "endad").
struct Adjustments {
    int32_t start = 0;
    int32_t end = 0;
};

enum class ReadOutcome {
    kRead,            // reservations holds the file's programmes
    kMalformed,       // a key or a time could not be read: nothing to tell the user
    kUnknownStation,  // the station is not in the table (or under channel 0): the user adds it
};

// Reads text (ends at its first NUL byte, so that a NUL never hides inside a
// value that is later compared or shown) as an iEPG file: the six header
// keys, the optional title, the station's channel in table (FindChannel) and
// the two times built and shifted by adjust. Logs the header's values, the
// channel and the adjusted times as it goes. Appends the file's programme to
// reservations (one per file); on kUnknownStation, station holds the
// station's value as written, for the box that says so. Owns nothing it is
// given. Throws CFileIOerror when a log write fails, std::bad_alloc.
ReadOutcome ReadReservations(const char* text, const CStationTable& table, const Adjustments& adjust,
                             std::vector<Reservation>& reservations, std::string& station);

}  // namespace reserve
