// Test support: the smtp-sink servers that the test run starts as a fixture
// (tests/support/SmtpSink.sh, wired in tests/mail.cmake).
//
// The fixture's directory comes in the environment variable
// QUORPA_SMTP_SINK_DIR: its file "ports" names one server per behaviour
// ("accept", "reject-mail", ...) with its loopback port, and its folder
// "dump" receives every mail that the servers accept, one file each.
#pragma once

#include <cstdint>
#include <string>

namespace SmtpSink {

// The fixture's directory, or empty when the test runs without it.
std::string Directory();
// The loopback port of the server `name`; 0 when there is none.
uint16_t Port(const std::string& name);
// Waits up to timeoutMs for the dump of a mail that contains token and
// returns its bytes; empty when none arrived.
std::string WaitForDump(const std::string& token, uint32_t timeoutMs = 5000);
// The same for any smtp-sink dump folder (a relay's sink, for one).
std::string WaitForDumpIn(const std::string& folder, const std::string& token, uint32_t timeoutMs);

}  // namespace SmtpSink
