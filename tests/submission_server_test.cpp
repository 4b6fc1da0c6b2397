// The submission server fixture as the TLS and AUTH tests see it, natively
// and under Wine: its env file, the CA through the path this program sees,
// and what each clear-text port announces (the cases rely on it).
#include "tests/support/SubmissionServer.h"

#include <gtest/gtest.h>

#include <string>

#include "net/CSock.h"
#include "platform/net.h"
#include "tests/support/LogCapture.h"

namespace {

// Longest wait for the server, so that a broken fixture fails instead of hanging.
constexpr uint32_t kPatienceMs = 5000;

class SubmissionServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (SubmissionServer::Directory().empty()) GTEST_SKIP() << "runs with the submission_server fixture only";
    }

    // The greeting and EHLO reply of the server on the port `name`, in clear.
    static std::string Ehlo(const std::string& name) {
        CSock sock;
        sock.m_receiveTimeoutMs = kPatienceMs;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(SubmissionServer::Port(name));
        const int32_t slot = sock.Create(&address, 1, false);
        std::string text = Reply(sock, slot, "");
        sock.Send("EHLO localhost\r\n", slot);
        text = Reply(sock, slot, text);
        sock.Send("QUIT\r\n", slot);
        return text;
    }

    // Receives onto text until its last line is a final reply line ("NNN ").
    static std::string Reply(CSock& sock, int32_t slot, std::string text) {
        const size_t start = text.size();
        char line[CSock::kReceiveSize + 1];
        for (;;) {
            text.append(line, sock.ReceiveLine(line, slot));
            const size_t last = text.rfind('\n', text.size() - 2);
            const size_t from = last == std::string::npos || last < start ? start : last + 1;
            if (text.back() == '\n' && text.size() - from > 4 && text[from + 3] == ' ') return text;
        }
    }
};

TEST_F(SubmissionServerTest, EnvNamesEveryPortTheAccountAndTheCa) {
    for (const char* name : {"STARTTLS", "STARTTLS_LOGIN", "TLS", "PLAIN_AUTH", "STARTTLS_NOAUTH", "WRONG_NAME",
                             "UNTRUSTED", "OLD_TLS", "REVOKED", "REVOCATION_UNKNOWN"}) {
        EXPECT_NE(SubmissionServer::Port(name), 0) << name;
    }
    EXPECT_FALSE(SubmissionServer::Value("SUBMIT_USER").empty());
    EXPECT_FALSE(SubmissionServer::Value("SUBMIT_PASS").empty());
    EXPECT_EQ(SubmissionServer::Value("SUBMIT_CERT_SHA256").size(), 64u);
    // A DER certificate starts with a SEQUENCE.
    const std::string der = ReadWholeFile(SubmissionServer::Path("SUBMIT_CA_DER"));
    ASSERT_GT(der.size(), 100u) << SubmissionServer::Path("SUBMIT_CA_DER");
    EXPECT_EQ(der[0], '\x30');
}

TEST_F(SubmissionServerTest, ClearTextPortsAnnounceWhatTheirNamesSay) {
    const std::string starttls = Ehlo("STARTTLS");
    EXPECT_NE(starttls.find("250-STARTTLS\r\n"), std::string::npos) << starttls;
    EXPECT_EQ(starttls.find("AUTH"), std::string::npos) << starttls;

    const std::string plainAuth = Ehlo("PLAIN_AUTH");
    EXPECT_NE(plainAuth.find("250-AUTH PLAIN LOGIN CRAM-MD5\r\n"), std::string::npos) << plainAuth;
    EXPECT_EQ(plainAuth.find("STARTTLS"), std::string::npos) << plainAuth;

    const std::string noAuth = Ehlo("STARTTLS_NOAUTH");
    EXPECT_NE(noAuth.find("STARTTLS"), std::string::npos) << noAuth;
    EXPECT_EQ(noAuth.find("AUTH"), std::string::npos) << noAuth;
}

}  // namespace
