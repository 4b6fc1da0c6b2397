// Test support: the private submission server (postfix with STARTTLS, TLS
// and SASL, relaying into smtp-sink) that the test run starts as the fixture
// "submission_server" (tests/support/SubmissionServer.sh, wired in
// tests/submission.cmake).
//
// The fixture's directory comes in QUORPA_SUBMISSION_DIR; its file "env"
// holds KEY=VALUE lines: SUBMIT_PORT_<NAME> for each behaviour (STARTTLS,
// STARTTLS_LOGIN, TLS, PLAIN_AUTH, STARTTLS_NOAUTH, WRONG_NAME, UNTRUSTED,
// OLD_TLS, STRICT_HELO, SENDER_LOGIN, SNI, EHLO_REFUSED_AFTER_TLS,
// CLOSED_AFTER_TLS, SLOW_READER, STALLED_READER), SUBMIT_USER, SUBMIT_PASS, SUBMIT_CA_PEM, SUBMIT_CA_DER,
// SUBMIT_CERT_SHA256 and more (listed in SubmissionServer.sh).
#pragma once

#include <cstdint>
#include <string>

namespace SubmissionServer {

// The fixture's directory, or empty when the test runs without it.
std::string Directory();
// The value of `key` in the fixture's env file; empty when absent.
std::string Value(const std::string& key);
// The value of the path `key` as this program sees it: under Wine, where
// the directory comes as Z:/..., the Linux path gains the drive.
std::string Path(const std::string& key);
// The loopback port of the behaviour `name` ("STARTTLS", "TLS", ...); 0
// when there is none.
uint16_t Port(const std::string& name);
// Waits up to timeoutMs for the sink's dump of a mail that contains token
// and returns its bytes; empty when none arrived. The relay adds its own
// Received: line above the message.
std::string WaitForDump(const std::string& token, uint32_t timeoutMs = 5000);

}  // namespace SubmissionServer
