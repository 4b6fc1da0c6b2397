#include "base/Exceptions.h"

#include <gtest/gtest.h>

#include <string>

TEST(Exceptions, DefaultsAreNameStringAndEmptyLocation) {
    const struct {
        const CExceptionBase& e;
        const char* name;
    } table[] = {
        {CExceptionBase(), "BaseException"},   {CFatal(), "FatalError"},
        {CIllegalParam(), "IllegalParam"},     {CNotEnoughResource(), "NotEnoughResource"},
        {CIllegalPath(), "IllegalPath"},       {CNotError(), "NotError"},
        {CTimeOut(), "TimeOut"},               {CSockClose(), "SocketClose"},
        {CIOerror(), "I/O Error"},             {CSockError(), "SockError"},
        {CSockIOerror(), "SocketI/Oerror"},    {CSockCreateError(), "SocketCreateError"},
    };
    for (const auto& row : table) {
        EXPECT_STREQ(row.e.what(), row.name);
        EXPECT_EQ(row.e.GetErrorNo(), 0);
        EXPECT_STREQ(row.e.GetLocation(), "(0)");
    }
}
