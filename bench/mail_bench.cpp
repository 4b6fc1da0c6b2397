// Benchmark program (not a test): delivers reservations through
// CSmtpMailer::SendMail, or writes the message that SendMail would compose so
// that another mailer can send the same text.
//
//   mail_bench send PORT COUNT [OPTIONS]
//                                   COUNT mails to 127.0.0.1:PORT, one
//                                   connection each; prints the seconds taken
//     --batch 1                     all COUNT in one connection, as a file
//                                   with several programmes goes
//     --ssl 0|1|2                   none, STARTTLS, TLS from the first byte
//     --user USER --password PASS   SMTP AUTH (a test account's password)
//     --server-name NAME            the name the certificate must carry
//     --cert-pin HEX                the certificate's SHA-256 instead
//   mail_bench message FILE         writes one composed message to FILE
//
// bench/run-mail-bench runs it against smtp-sink, beside msmtp.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "base/Exceptions.h"
#include "mail/MailComposer.h"
#include "mail/SmtpMailer.h"
#include "platform/platform.h"

namespace {

// A reservation mail as a recorder's mail interface expects it.
const char kTemplate[] =
    "From: <%from%>\r\n"
    "To: <%rcpt%>\r\n"
    "Date: %date% %zone%\r\n"
    "Message-Id: <%msid%>\r\n"
    "Subject: reservation\r\n"
    "\r\n"
    "CH=%chno%\r\n"
    "START=20%syea%/%smon%/%sday% %shou%:%smin%\r\n"
    "END=20%eyea%/%emon%/%eday% %ehou%:%emin%\r\n";

MailAccount MakeAccount(uint16_t port) {
    MailAccount account;
    account.sender = "quorpa@example.jp";
    account.recipient = "recorder@example.jp";
    account.address = htonl(INADDR_LOOPBACK);
    account.port = port;
    account.server = "127.0.0.1";
    return account;
}

tm Reservation(int minute) {
    tm t{};
    t.tm_year = 2004 - 1900;
    t.tm_mon = 0;
    t.tm_mday = 5;
    t.tm_hour = 21;
    t.tm_min = minute % 60;
    return t;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: mail_bench send PORT COUNT [--ssl N] [--user U] [--password P] [--server-name NAME]"
                 " [--cert-pin HEX] [--batch 1] | mail_bench message FILE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string mode = argv[1];
    if (mode == "message") {
        const MailAccount account = MakeAccount(25);
        const tm start = Reservation(30);
        std::string body =
            ComposeBody(kTemplate, account, {start, Reservation(59), 12, "", ""}, std::time(nullptr)).text;
        const MessageIdSource ids{plat::TickCount(), plat::CurrentThreadId(), plat::CurrentProcessId(),
                                  account.address, account.address};
        ReplaceAll(body, "%msid%", MessageId(start, ids, account.sender).c_str());
        FILE* out = std::fopen(argv[2], "wb");
        if (!out) return 1;
        const bool written = std::fwrite(body.data(), 1, body.size(), out) == body.size();
        return std::fclose(out) == 0 && written ? 0 : 1;
    }
    if (mode != "send" || argc < 4) return Usage();
    MailAccount account = MakeAccount(static_cast<uint16_t>(std::atoi(argv[2])));
    const int count = std::atoi(argv[3]);
    bool batch = false;
    for (int i = 4; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const char* value = argv[i + 1];
        if (option == "--ssl") {
            account.encryption = static_cast<Encryption>(std::atoi(value));
        } else if (option == "--user") {
            account.user = value;
        } else if (option == "--password") {
            account.password = SmtpPassword::Typed(value);
        } else if (option == "--server-name") {
            account.server = value;
        } else if (option == "--cert-pin") {
            account.certPin = value;
        } else if (option == "--batch") {
            batch = std::atoi(value) != 0;
        } else {
            return Usage();
        }
    }
    if ((argc - 4) % 2 != 0) return Usage();
    CSmtpMailer mailer(std::move(account), kTemplate);
    std::vector<MailProgramme> programmes;
    for (int i = 0; i < count; ++i) programmes.push_back({Reservation(i), Reservation(i + 30), 12, "", ""});
    const auto started = std::chrono::steady_clock::now();
    if (batch) mailer.BeginBatch(programmes);
    for (int i = 0; i < count; ++i) {
        try {
            if (!mailer.SendMail(programmes[i])) {
                std::fprintf(stderr, "mail %d refused\n", i + 1);
                return 1;
            }
        } catch (const CExceptionBase& e) {
            std::fprintf(stderr, "mail %d: %s at %s\n", i + 1, e.what(), e.GetLocation());
            return 1;
        }
    }
    if (batch) mailer.EndBatch();  // its QUIT is part of the time: the window waits for it
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
    std::printf("%.6f\n", seconds.count());
    return 0;
}
