#include "base/Exceptions.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

TEST(Exceptions, DefaultsNameTheClassForTheLogAndTheHistory) {
    // The default text is what a log line (E:<text>) and the history's
    // tab-separated reason show: one name a class, printable, no tab or line
    // end. A failed send's log line is pinned in reserve_test (SocketClose).
    const struct {
        const CExceptionBase& e;
    } all[] = {
        {CExceptionBase()}, {CFatal()}, {CIllegalParam()}, {CNotEnoughResource()}, {CIllegalPath()},
        {CSystemLibraryMissing()}, {CNotError()}, {CTimeOut()}, {CSockClose()}, {CIOerror()},
        {CFileIOerror()}, {CSockError()}, {CSockIOerror()}, {CSockCreateError()}, {CTlsError()},
        {CTlsHandshakeError()}, {CCertUntrusted()}, {CCertNameMismatch()}, {CCertPinMismatch()},
        {CCertRevoked()}, {CSmtpSetupError()}, {CStartTlsNotOffered()}, {CAuthNotOffered()}, {CAuthRefused()},
        {CClearTextPassword()}, {CSenderRefused()}, {CPasswordUnreadable()}, {CUnknownEncryption()},
        {CPinWithoutTls()},
    };
    std::set<std::string> names;
    for (const auto& row : all) {
        const CExceptionBase* e = &row.e;
        const std::string name = e->what();
        SCOPED_TRACE(name);
        EXPECT_TRUE(names.insert(name).second) << "shared by two classes";
        EXPECT_FALSE(name.empty());
        for (char c : name) EXPECT_TRUE(c >= ' ' && c <= '~') << static_cast<int>(c);
        EXPECT_EQ(e->GetErrorNo(), 0);
        EXPECT_STREQ(e->GetLocation(), "(0)");
    }
}

namespace {

// The catch categories a thrown object lands in, as a bit set.
constexpr unsigned kStd = 1u << 0;
constexpr unsigned kBase = 1u << 1;
constexpr unsigned kFatal = 1u << 2;
constexpr unsigned kNotError = 1u << 3;
constexpr unsigned kIOerror = 1u << 4;
constexpr unsigned kSockError = 1u << 5;

template <class Catch, class Thrown>
bool CaughtBy() {
    try {
        throw Thrown("x.cpp", 1, 2, "t");
    } catch (const Catch&) {
        return true;
    } catch (...) {
        return false;
    }
}

template <class Thrown>
unsigned Categories() {
    return (CaughtBy<std::exception, Thrown>() ? kStd : 0u) |
           (CaughtBy<CExceptionBase, Thrown>() ? kBase : 0u) |
           (CaughtBy<CFatal, Thrown>() ? kFatal : 0u) |
           (CaughtBy<CNotError, Thrown>() ? kNotError : 0u) |
           (CaughtBy<CIOerror, Thrown>() ? kIOerror : 0u) |
           (CaughtBy<CSockError, Thrown>() ? kSockError : 0u);
}

}  // namespace

TEST(Exceptions, CatchCategoriesFollowTheClassTree) {
    const struct {
        const char* name;
        unsigned got;
        unsigned expected;
    } table[] = {
        {"CFatal", Categories<CFatal>(), kStd | kBase | kFatal},
        {"CIllegalParam", Categories<CIllegalParam>(), kStd | kBase | kFatal},
        {"CNotEnoughResource", Categories<CNotEnoughResource>(), kStd | kBase | kFatal},
        {"CIllegalPath", Categories<CIllegalPath>(), kStd | kBase | kFatal},
        {"CTimeOut", Categories<CTimeOut>(), kStd | kBase | kNotError},
        {"CSockClose", Categories<CSockClose>(), kStd | kBase | kNotError},
        {"CFileIOerror", Categories<CFileIOerror>(), kStd | kBase | kIOerror},
        {"CSockIOerror", Categories<CSockIOerror>(), kStd | kBase | kIOerror | kSockError},
        {"CSockCreateError", Categories<CSockCreateError>(),
         kStd | kBase | kIOerror | kSockError},
    };
    for (const auto& row : table) EXPECT_EQ(row.got, row.expected) << row.name;
}

TEST(Exceptions, MostDerivedConstructorsValuesWin) {
    // Every level's constructor runs; only the last one's values may stay.
    const CSockIOerror given("net/CSock.cpp", 321, 10054, "given");
    EXPECT_STREQ(given.what(), "given");
    EXPECT_EQ(given.GetErrorNo(), 10054);
    EXPECT_STREQ(given.GetLocation(), "net/CSock.cpp(321)");

    const CSockIOerror defaulted("net/CSock.cpp", 7);
    EXPECT_STREQ(defaulted.what(), "SocketI/Oerror");
    EXPECT_EQ(defaulted.GetErrorNo(), 0);
}

TEST(Exceptions, ThrownCopyKeepsAllFourValues) {
    int line = 0;
    try {
        // clang-format off
        line = __LINE__; THROW_AT(CFileIOerror, 28, "No space left on device");
        // clang-format on
    } catch (const CExceptionBase& e) {
        const CExceptionBase copy = e;
        const CFileIOerror copy2 = dynamic_cast<const CFileIOerror&>(e);
        for (const CExceptionBase* c : {&copy, static_cast<const CExceptionBase*>(&copy2)}) {
            EXPECT_STREQ(c->what(), "No space left on device");
            EXPECT_EQ(c->GetErrorNo(), 28);
            // The file is the repository-relative source name.
            EXPECT_EQ(std::string(c->GetLocation()),
                      "tests/exceptions_test.cpp(" + std::to_string(line) + ")");
        }
        return;
    }
    FAIL() << "nothing thrown";
}

TEST(Exceptions, WhatThroughStdExceptionAndEmptyTexts) {
    try {
        throw CSockClose("f", 1, 0, "peer went away");
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "peer went away");
    }
    const CTimeOut empty("f", 1, 0, "");
    ASSERT_NE(empty.what(), nullptr);
    EXPECT_STREQ(empty.what(), "");
    // A null text or file counts as empty, never as a crash.
    const CFatal nulls(nullptr, 5, -1, nullptr);
    EXPECT_STREQ(nulls.what(), "");
    EXPECT_STREQ(nulls.GetLocation(), "(5)");
    EXPECT_EQ(nulls.GetErrorNo(), -1);
}

TEST(Exceptions, GetLocationSharesOneBuffer) {
    // B's location is longer than A's: the buffer must not move for it.
    const std::string longFile = "reserve/" + std::string(200, 'd') + "/Reserve.cpp";
    const CIllegalParam a("net/CSock.cpp", 10);
    const CTimeOut b(longFile.c_str(), 4294967295u);
    const char* first = a.GetLocation();
    EXPECT_STREQ(first, "net/CSock.cpp(10)");
    const char* second = b.GetLocation();
    // The first pointer now shows B's location: callers copy before asking again.
    EXPECT_EQ(std::string(first), longFile + "(4294967295)");
    EXPECT_EQ(first, second);

    // A file name too long for the buffer is cut; the line number stays.
    const std::string huge(5000, 'h');
    const std::string cut = CFatal(huge.c_str(), 7).GetLocation();
    EXPECT_EQ(cut.size(), 1023u);  // the whole buffer but its terminating null
    EXPECT_EQ(cut.substr(cut.size() - 4), "h(7)");
}

TEST(Exceptions, SetInfoReplacesAllFour) {
    CSockError e("a", 1, 2, "b");
    e.SetInfo("c", 3, 4, "d");
    EXPECT_STREQ(e.what(), "d");
    EXPECT_EQ(e.GetErrorNo(), 4);
    EXPECT_STREQ(e.GetLocation(), "c(3)");
}
