// Every test seam of the program: behaviours the tests switch on through an
// environment variable, to show on Wine what only a real Windows (or a rare
// server) does. Each seam is one function here; seams.cpp is the only file
// of the program that reads the environment, and it names each variable
// once, so that a release build can be checked for them (scripts/release:
// the executable holds no other QUORPA_ name). Nothing here throws or owns
// anything; each call reads the environment afresh.
#pragma once

namespace plat {
namespace seam {

// QUORPA_TEST_SCHANNEL holds "no-sch-credentials": SChannel seems to refuse
// SCH_CREDENTIALS, as Windows before 10 1809 does, so that the
// SCHANNEL_CRED fall-back runs (platform/win32/tls.cpp).
bool SchannelRefusesSchCredentials();
// QUORPA_TEST_SCHANNEL holds "incomplete-credentials": SChannel seems to ask
// once, during the handshake, for an optional client certificate
// (SEC_I_INCOMPLETE_CREDENTIALS), which Wine never does
// (platform/win32/tls.cpp).
bool SchannelAsksClientCertificate();
// QUORPA_TEST_SCHANNEL holds "split-ticket": the first record after the
// handshake seems to be a TLS 1.3 session ticket (Wine speaks no TLS 1.3),
// and it arrives in two reads: its last byte comes with the next read
// (platform/win32/tls.cpp).
bool SchannelSplitsTicket();
// QUORPA_TEST_SCHANNEL holds "no-replay-detect": the handshake seems to
// grant its context without replay detection, which Wine always grants
// (platform/win32/tls.cpp).
bool SchannelWithholdsReplayDetection();
// QUORPA_TEST_WINDOWS_BUILD holds a build number: Windows seems to be that
// build, and its SChannel behaves as that build's does where Wine cannot
// show it: below 20348 a handshake whose credentials allow TLS 1.3 fails,
// as that build's experimental TLS 1.3 could (platform/win32/tls.cpp).
// 0 when unset or not a number.
unsigned long WindowsBuild();
// QUORPA_TEST_REFUSE_CLASSES_ROOT is set (to anything): the first key the
// registration creates under HKEY_CLASSES_ROOT is refused for lack of
// rights, as a standard user's is on Windows; Wine never refuses it.
bool ClassesRootRefused();

}  // namespace seam
}  // namespace plat
