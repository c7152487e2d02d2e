// Document names on arbitrary text. The input is a client file's line of column names, a line of
// one client's fields, and a text of document names, split at the first two NUL bytes. Rules:
// - every name given is a plain file name of one folder: not empty, not "." or "..", no "/" or
//   "\\", no control character, no blanks around it; each once, at most kMaxNamedDocuments;
// - a problem and names never come together;
// - names given for patterns that the pattern check refuses never come;
// - a pattern without "{{" and without ";" gives exactly itself (trimmed) when it is a plain name;
// - reading and filling never crash on any text, lone surrogates included.

#include "clients/documentnames.h"
#include "fuzzclient.h"

using namespace Qt::StringLiterals;
using namespace quorvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::optional<fuzz::OneClient> client = fuzz::oneClientOf(data, size);
    if (!client)
        return 0;
    const ClientList &clients = client->clients;
    const size_t start = client->textStart;
    for (const QString &text :
         {QString::fromUtf8(fuzz::bytesOf(data + start, size - start)), fuzz::utf16Of(data + start, size - start)}) {
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
