#include "simulator/HttpRequest.h"

#include <gtest/gtest.h>

namespace telvar::simulator {
namespace {

struct HeadCase {
    const char* name;
    QByteArray bytes;
    ParseOutcome outcome;
    const char* path = "";
    const char* query = "";
    bool keepAlive = true;
    qint64 contentLength = 0;
};

TEST(HttpRequest, HeadsAreReadOrRefused)
{
    const HeadCase cases[] = {
        {"simple", "GET /estacion1.html HTTP/1.1\r\nHost: x\r\n\r\n", ParseOutcome::Complete,
         "/estacion1.html"},
        {"query", "GET /slow/5.html?delay=10&tick=3 HTTP/1.1\r\n\r\n", ParseOutcome::Complete,
         "/slow/5.html", "delay=10&tick=3"},
        {"bare line feeds", "GET /a HTTP/1.1\nHost: x\n\n", ParseOutcome::Complete, "/a"},
        {"absolute form", "GET http://127.0.0.1:8088/b?x=1 HTTP/1.1\r\n\r\n",
         ParseOutcome::Complete, "/b", "x=1"},
        {"leading blank line", "\r\nGET /c HTTP/1.1\r\n\r\n", ParseOutcome::Complete, "/c"},
        {"1.0 closes", "GET / HTTP/1.0\r\n\r\n", ParseOutcome::Complete, "/", "", false},
        {"1.0 keep-alive", "GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n",
         ParseOutcome::Complete, "/", "", true},
        {"1.1 close", "GET / HTTP/1.1\r\nconnection: TE, close\r\n\r\n", ParseOutcome::Complete,
         "/", "", false},
        {"body length", "POST /p HTTP/1.1\r\nContent-Length: 12\r\n\r\n", ParseOutcome::Complete,
         "/p", "", true, 12},
        {"partial", "GET /estacion1.html HTTP/1.1\r\nHost:", ParseOutcome::Incomplete},
        {"empty", "", ParseOutcome::Incomplete},
        {"two spaces", "GET  / HTTP/1.1\r\n\r\n", ParseOutcome::Malformed},
        {"no version", "GET /\r\n\r\n", ParseOutcome::Malformed},
        {"relative target", "GET estacion1.html HTTP/1.1\r\n\r\n", ParseOutcome::Malformed},
        {"control in target", QByteArray("GET /a\x01 HTTP/1.1\r\n\r\n"), ParseOutcome::Malformed},
        {"header without colon", "GET / HTTP/1.1\r\nHost x\r\n\r\n", ParseOutcome::Malformed},
        {"folded header", "GET / HTTP/1.1\r\nA: b\r\n c\r\n\r\n", ParseOutcome::Malformed},
        {"bad length", "GET / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", ParseOutcome::Malformed},
        {"two lengths", "GET / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n",
         ParseOutcome::Malformed},
        {"not http", "\x16\x03\x01 y z\r\n\r\n", ParseOutcome::Malformed},
        {"chunked body", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n",
         ParseOutcome::Unsupported},
        {"body too large", "POST / HTTP/1.1\r\nContent-Length: 99999999\r\n\r\n",
         ParseOutcome::BodyTooLarge},
        {"version 2", "GET / HTTP/2.0\r\n\r\n", ParseOutcome::BadVersion},
        {"head too large, unfinished", "GET / HTTP/1.1\r\nX: " + QByteArray(9000, 'a'),
         ParseOutcome::HeadTooLarge},
        {"head too large, finished", "GET / HTTP/1.1\r\nX: " + QByteArray(9000, 'a') + "\r\n\r\n",
         ParseOutcome::HeadTooLarge},
        {"too many lines", "GET / HTTP/1.1\r\n" + QByteArray("A: b\r\n").repeated(150) + "\r\n",
         ParseOutcome::HeadTooLarge},
    };
    for (const HeadCase& c : cases) {
        const ParseResult result = parseRequestHead(c.bytes);
        EXPECT_EQ(result.outcome, c.outcome) << c.name;
        if (c.outcome != ParseOutcome::Complete || result.outcome != ParseOutcome::Complete)
            continue;
        EXPECT_EQ(result.request.path, c.path) << c.name;
        EXPECT_EQ(result.request.query, c.query) << c.name;
        EXPECT_EQ(result.request.keepAlive, c.keepAlive) << c.name;
        EXPECT_EQ(result.request.contentLength, c.contentLength) << c.name;
        EXPECT_EQ(result.headLength, c.bytes.size()) << c.name;
    }
}

TEST(HttpRequest, HeadLengthStopsAtTheFirstRequest)
{
    const QByteArray first = "GET /a HTTP/1.1\r\n\r\n";
    const ParseResult result = parseRequestHead(first + "GET /b HTTP/1.1\r\n\r\n");
    ASSERT_EQ(result.outcome, ParseOutcome::Complete);
    EXPECT_EQ(result.headLength, first.size());
    EXPECT_EQ(result.request.path, "/a");
}

TEST(HttpRequest, QueryValuesAndNumbers)
{
    EXPECT_EQ(queryValue("delay=10&tick=3", "tick"), "3");
    EXPECT_EQ(queryValue("delay=10&tick=3", "delay"), "10");
    EXPECT_EQ(queryValue("delay=10&tick=3", "code"), "");
    EXPECT_EQ(queryValue("flag&to=/x", "to"), "/x");
    EXPECT_EQ(parseNumber("0"), 0);
    EXPECT_EQ(parseNumber("10485760"), 10485760);
    EXPECT_EQ(parseNumber(""), -1);
    EXPECT_EQ(parseNumber("12a"), -1);
    EXPECT_EQ(parseNumber("-3"), -1);
    EXPECT_EQ(parseNumber("1234567890123"), -1) << "more digits than allowed";
}

} // namespace
} // namespace telvar::simulator
