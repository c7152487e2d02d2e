// The loopback address's request parser on arbitrary bytes, as anything on the machine may send
// them. A complete request has a method of letters and a path that starts with "/", and its query
// read back from a fresh encoding gives the same parameters.

#include "auth/loopbackreceiver.h"
#include "fuzzcheck.h"

#include <QUrl>

using namespace quorvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const RedirectRequest request = parseRedirectRequest(bytes);
    if (request.status != RedirectRequest::Status::Complete) {
        FUZZ_CHECK(request.query.isEmpty());
        if (request.status == RedirectRequest::Status::Incomplete)
            FUZZ_CHECK(!bytes.contains("\r\n\r\n") && bytes.size() < 16 * 1024);
        return 0;
    }
    FUZZ_CHECK(!request.method.isEmpty() && request.path.startsWith(u'/'));
    for (char c : request.method)
        FUZZ_CHECK((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'));

    QByteArray query;
    for (const auto &[name, value] : request.query) {
        query += (query.isEmpty() ? "" : "&") + QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
    }
    const RedirectRequest again = parseRedirectRequest("GET /?" + query + " HTTP/1.1\r\n\r\n");
    FUZZ_CHECK(again.status == RedirectRequest::Status::Complete);
    FUZZ_CHECK(again.query.size() == request.query.size());
    for (qsizetype i = 0; i < again.query.size(); ++i) {
        // Decoding is lossy for bytes that are no UTF-8: compare what both decode to.
        FUZZ_CHECK(again.query[i].first == QString::fromUtf8(request.query[i].first.toUtf8()));
        FUZZ_CHECK(again.query[i].second == QString::fromUtf8(request.query[i].second.toUtf8()));
    }
    return 0;
}
