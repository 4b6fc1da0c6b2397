// Test support: the private submission server (postfix with STARTTLS, TLS
// and SASL, relaying into smtp-sink) that the test run starts as a fixture
// (tests/support/SubmissionServer.sh).
//
// The fixture's directory comes in the environment variable
// QUORPA_SUBMIT_DIR (under Wine with its drive letter, "Z:/..."); its file
// "env" holds KEY=VALUE lines: ports, the account, the CA, fingerprints and
// the sink's dump folder.
#pragma once

#include <cstdint>
#include <string>

namespace SubmitServer {

// The fixture's directory, or empty when the test runs without it.
std::string Directory();
// The value of key in the env file; empty when missing.
std::string Value(const std::string& key);
uint16_t Port(const std::string& key);
// Waits up to timeoutMs for a relayed mail that contains token and returns
// its bytes; empty when none arrived.
std::string WaitForMail(const std::string& token, uint32_t timeoutMs = 10000);

}  // namespace SubmitServer
