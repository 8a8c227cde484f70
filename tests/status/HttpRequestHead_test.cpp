#include "status/HttpRequestHead.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace telvar {
namespace {

using Outcome = HttpHeadReading::Outcome;

struct HeadCase {
    const char* name;
    std::string bytes;
    Outcome outcome;
    int refusal;        // when refused
    const char* method; // when complete
    const char* target; // when complete
    qsizetype length;   // when complete: where the next request starts
};

void PrintTo(const HeadCase& c, std::ostream* os)
{
    *os << c.name;
}

constexpr qsizetype kBound = 64;
const std::string kGet = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:9\r\n\r\n";

const HeadCase kHeads[] = {
    {"Whole", kGet, Outcome::Complete, 0, "GET", "/metrics", 44},
    {"FollowedByThePipelinedNext", kGet + kGet, Outcome::Complete, 0, "GET", "/metrics", 44},
    {"BareLineFeeds", "HEAD /status HTTP/1.0\nHost: x\n\n", Outcome::Complete, 0, "HEAD", "/status",
     31},
    {"BlankLinesBeforeTheRequest", "\r\n" + kGet, Outcome::Complete, 0, "GET", "/metrics", 46},
    {"AZeroContentLength", "GET / HTTP/1.1\r\nContent-Length: 0\r\n\r\n", Outcome::Complete, 0,
     "GET", "/", 37},
    {"NothingYet", "", Outcome::Incomplete, 0, nullptr, nullptr, 0},
    {"HalfAHead", kGet.substr(0, 30), Outcome::Incomplete, 0, nullptr, nullptr, 0},
    {"UpToTheBoundWithoutItsEnd", "GET / HTTP/1.1\r\nX: " + std::string(kBound - 19, 'a'),
     Outcome::Incomplete, 0, nullptr, nullptr, 0},
    {"OverTheBoundWithoutItsEnd", "GET / HTTP/1.1\r\nX: " + std::string(kBound, 'a'),
     Outcome::Refused, 431, nullptr, nullptr, 0},
    {"OverTheBoundWithItsEnd", "GET / HTTP/1.1\r\nX: " + std::string(kBound, 'a') + "\r\n\r\n",
     Outcome::Refused, 431, nullptr, nullptr, 0},
    {"ABody", "GET / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", Outcome::Refused, 413, nullptr,
     nullptr, 0},
    {"AChunkedBody", "GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", Outcome::Refused, 413,
     nullptr, nullptr, 0},
    {"AnyTransferEncoding", "GET / HTTP/1.1\r\ntransfer-encoding: gzip\r\n\r\n", Outcome::Refused,
     413, nullptr, nullptr, 0},
    {"ALengthNotANumber", "GET / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", Outcome::Refused, 400,
     nullptr, nullptr, 0},
    {"NoVersion", "GET /\r\n\r\n", Outcome::Refused, 400, nullptr, nullptr, 0},
    {"AnotherVersion", "GET / HTTP/2.0\r\n\r\n", Outcome::Refused, 505, nullptr, nullptr, 0},
    {"NotHttp", "\x16\x03\x01\x02\x05hello\r\n\r\n", Outcome::Refused, 400, nullptr, nullptr, 0},
    {"NotHttpBeforeALineEnd", "\x16\x03\x01\x02\x05hello", Outcome::Refused, 400, nullptr, nullptr,
     0},
    {"AMethodNotEndedYet", "GE", Outcome::Incomplete, 0, nullptr, nullptr, 0},
    {"ABlankInTheTarget", "GET /a b HTTP/1.1\r\n\r\n", Outcome::Refused, 400, nullptr, nullptr, 0},
    {"AFieldWithoutAColon", "GET / HTTP/1.1\r\nHost\r\n\r\n", Outcome::Refused, 400, nullptr,
     nullptr, 0},
    {"ABlankBeforeTheColon", "GET / HTTP/1.1\r\nHost : x\r\n\r\n", Outcome::Refused, 400, nullptr,
     nullptr, 0},
    {"AFoldedField", "GET / HTTP/1.1\r\nHost: x\r\n y\r\n\r\n", Outcome::Refused, 400, nullptr,
     nullptr, 0},
    {"AControlInAValue", std::string("GET / HTTP/1.1\r\nHost: x\0y\r\n\r\n", 29), Outcome::Refused,
     400, nullptr, nullptr, 0},
};

class HttpRequestHeads : public ::testing::TestWithParam<HeadCase> {};

TEST_P(HttpRequestHeads, AreReadOrRefused)
{
    const HeadCase& c = GetParam();
    const QByteArray bytes = QByteArray::fromStdString(c.bytes);
    const HttpHeadReading reading = readHttpRequestHead(bytes, kBound);
    ASSERT_EQ(reading.outcome, c.outcome);
    if (c.outcome == Outcome::Refused) {
        EXPECT_EQ(reading.refusal, c.refusal);
    }
    if (c.outcome == Outcome::Complete) {
        EXPECT_EQ(reading.head.method, QByteArray(c.method));
        EXPECT_EQ(reading.head.target, QByteArray(c.target));
        EXPECT_EQ(reading.head.length, c.length);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, HttpRequestHeads, ::testing::ValuesIn(kHeads),
                         [](const ::testing::TestParamInfo<HeadCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

TEST(HttpRequestHead, FieldsAreFoundByLowerCaseNameWithoutTheirBlanks)
{
    const QByteArray bytes = "GET / HTTP/1.1\r\nHOST:  localhost:9 \t\r\nConnection: a\r\n"
                             "connection: b\r\n\r\n";
    const HttpHeadReading reading = readHttpRequestHead(bytes, 1024);
    ASSERT_EQ(reading.outcome, Outcome::Complete);
    EXPECT_EQ(reading.head.values("host"), QList<QByteArray>{"localhost:9"});
    EXPECT_EQ(reading.head.values("connection"), (QList<QByteArray>{"a", "b"}));
    EXPECT_TRUE(reading.head.values("content-length").isEmpty());
    EXPECT_FALSE(reading.head.http10);
}

} // namespace
} // namespace telvar
