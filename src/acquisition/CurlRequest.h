#pragma once

// The pieces of one page's GET on libcurl that the asynchronous loader
// (HttpPageLoader) and the blocking fetch (pagefetch::fetchBlocking) share:
// the address check, the easy handle's settings, the bounded body and what
// a transfer's end means as a loaded page. Only those two include it.

#include "acquisition/HttpPageLoader.h"
#include "common/Error.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <curl/curl.h>
#include <optional>

namespace telvar::curlrequest {

// libcurl's process-wide set-up, done once before the first handle and
// undone at exit; false when it failed.
bool curlReady();

// libcurl's error for code, with the detail of its error buffer.
Error curlError(CURLcode code, const QString& detail = {});

// A failure of a multi handle itself, in libcurl's transfer numbers (out of
// memory as such, anything else as a transfer libcurl could not set up).
Error multiError(CURLMcode code);

// An address as parsed for loading: what libcurl is given, and the host
// (name and port, lower case) whose connections it shares.
struct Address {
    QByteArray url;
    QByteArray hostKey;
};

// The address of url (trimmed and normalised), or why it cannot be loaded:
// malformed, or a scheme other than http and https.
Result<Address> parseAddress(const QString& url);

// One GET on its own easy handle: its settings, its body up to the bound,
// and what its end means as a loaded page.
class Request final {
public:
    Request() = default;
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;
    ~Request();

    CURL* easy() const { return m_easy; }

    // Prepares the handle; an error when libcurl refuses a setting. The
    // handle's own time limit is the page's; the connection attempt has
    // the shorter of limits.connectTimeoutMs and it.
    std::optional<Error> setUp(const QByteArray& address, const QList<QByteArray>& headers,
                               const PageLimits& limits);

    // Whether any byte of a response (head or body) has arrived.
    bool responseStarted() const { return m_headBytes > 0 || !m_body.isEmpty(); }

    // What the transfer's end with code means.
    pagefetch::Fetched finish(CURLcode code) const;

private:
    bool leftHttp() const;
    QByteArray contentType() const;
    static size_t onBody(char* data, size_t size, size_t count, void* self);
    static size_t onHead(char* data, size_t size, size_t count, void* self);

    CURL* m_easy = nullptr;
    curl_slist* m_headers = nullptr;
    char m_errorText[CURL_ERROR_SIZE] = {};
    QByteArray m_body;
    qsizetype m_maxBody = 0;
    bool m_cut = false;
    qsizetype m_headBytes = 0;
    bool m_headOverflow = false;
};

} // namespace telvar::curlrequest
