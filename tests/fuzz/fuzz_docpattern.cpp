// Document names on arbitrary text. The input is a client file's line of column names, a line of
// one client's fields, and a text of document names, split at the first two NUL bytes. Rules:
// - every name given is a plain file name of one folder: not empty, not "." or "..", no "/" or
//   "\\", no control character, no blanks around it; each once, at most kMaxNamedDocuments;
// - a problem and names never come together;
// - names given for patterns that the pattern check refuses never come;
// - a pattern without "{{" and without ";" gives exactly itself (trimmed) when it is a plain name;
// - reading and filling never crash on any text, lone surrogates included.

#include "clients/csvreader.h"
#include "clients/documentnames.h"
#include "fuzzcheck.h"

using namespace Qt::StringLiterals;
using namespace quorvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const qsizetype namesEnd = bytes.indexOf('\0');
    const qsizetype fieldsEnd = namesEnd < 0 ? -1 : bytes.indexOf('\0', namesEnd + 1);
    if (fieldsEnd < 0 || bytes.left(fieldsEnd).contains('\r') || bytes.left(fieldsEnd).contains('\n'))
        return 0;
    const CsvReadResult read = GetCSVFile(
        fuzz::writeScratchFile(bytes.left(namesEnd) + "\r\n" + bytes.sliced(namesEnd + 1, fieldsEnd - namesEnd - 1)),
        CsvHeader::ColumnNames);
    if (read.outcome != CsvReadOutcome::Read || read.clients.Count() != 1)
        return 0;
    const ClientList &clients = read.clients;
    const QByteArray rest = bytes.sliced(fieldsEnd + 1);
    for (const QString &text : {QString::fromUtf8(rest), fuzz::utf16Of(data + fieldsEnd + 1, size - fieldsEnd - 1)}) {
        const DocumentPatterns patterns(text, clients);
        const NamedDocuments named = patterns.namesFor(clients, 0);
        FUZZ_CHECK(named.problem.isEmpty() || named.names.isEmpty());
        FUZZ_CHECK(named.names.size() <= kMaxNamedDocuments);
        FUZZ_CHECK(patterns.problem().isEmpty() || named.names.isEmpty());
        FUZZ_CHECK(patterns.problem() == documentPatternsProblem(text));
        for (qsizetype i = 0; i < named.names.size(); ++i) {
            const QString &name = named.names.at(i);
            FUZZ_CHECK(documentNameProblem(name).isEmpty());
            FUZZ_CHECK(!name.isEmpty() && name != u"."_s && name != u".."_s);
            FUZZ_CHECK(!name.contains(u'/') && !name.contains(u'\\') && name.trimmed() == name);
            FUZZ_CHECK(named.names.indexOf(name) == i);
        }
        const QString plain = text.trimmed();
        if (!text.contains(u"{{"_s) && !text.contains(u';') && documentNameProblem(plain).isEmpty())
            FUZZ_CHECK(named.problem.isEmpty() && named.names == QStringList{plain});
    }
    return 0;
}
