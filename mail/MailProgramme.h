// MailProgramme: one programme as it is reserved, from the file to the wire.
// The reservation makes it once (reserve/ReservationFile.h), the history
// entry is made from it and gives it back for a resend (reserve/Entry.h),
// and the mailer sends it (CSmtpMailer::SendMail). A plain value; owns its
// texts.
#pragma once

#include <ctime>
#include <string>

struct MailProgramme {
    tm start{};  // local times, adjusted and normalised
    tm end{};
    unsigned channel = 0;  // the recorder's channel, from Station.txt
    // For "%titl%" and "%stat%": the iEPG file's "program-title:" value and
    // the station as the user reads it (its "station-name:" where the file
    // gives one apart from a code, else its "station:"), as written; empty
    // when absent. The history and the boxes show the same.
    std::string title;
    std::string station;
};
