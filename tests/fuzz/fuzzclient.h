#pragma once

// Fuzz input that holds one client: a client file's line of column names, a line of the client's
// fields, and the text under test, split at the first two NUL bytes.

#include "clients/csvreader.h"
#include "fuzzcheck.h"

#include <optional>

namespace quorvale::fuzz {

struct OneClient
{
    ClientList clients; ///< the one client, its columns named
    size_t textStart;   ///< where the text under test starts in the input
};

/// The client the input's first two parts make; empty when they do not make exactly one.
inline std::optional<OneClient> oneClientOf(const uint8_t *data, size_t size)
{
    const QByteArray bytes = bytesOf(data, size);
    const qsizetype namesEnd = bytes.indexOf('\0');
    const qsizetype fieldsEnd = namesEnd < 0 ? -1 : bytes.indexOf('\0', namesEnd + 1);
    if (fieldsEnd < 0 || bytes.left(fieldsEnd).contains('\r') || bytes.left(fieldsEnd).contains('\n'))
        return std::nullopt;
    CsvReadResult read = GetCSVFile(
        writeScratchFile(bytes.left(namesEnd) + "\r\n" + bytes.sliced(namesEnd + 1, fieldsEnd - namesEnd - 1)),
        CsvHeader::ColumnNames);
    if (read.outcome != CsvReadOutcome::Read || read.clients.Count() != 1)
        return std::nullopt;
    return OneClient{std::move(read.clients), size_t(fieldsEnd + 1)};
}

} // namespace quorvale::fuzz
