#include "clients/documentnames.h"

using namespace Qt::StringLiterals;

namespace quorvale {

DocumentPatterns::DocumentPatterns(const QString &patterns, const ClientList &clients)
{
    m_problem = documentPatternsProblem(patterns);
    for (const QString &pattern : splitDocumentPatterns(patterns))
        m_patterns.append(FieldTemplate(pattern, clients));
}

QStringList DocumentPatterns::unknownPlaceholders() const
{
    QStringList unknown;
    for (const FieldTemplate &pattern : m_patterns) {
        for (const QString &placeholder : pattern.unknownPlaceholders()) {
            if (!unknown.contains(placeholder))
                unknown.append(placeholder);
        }
    }
    return unknown;
}

NamedDocuments DocumentPatterns::namesFor(const ClientList &clients, qsizetype row) const
{
    NamedDocuments named;
    if (!m_problem.isEmpty()) {
        named.problem = m_problem;
        return named;
    }
    for (const FieldTemplate &pattern : m_patterns) {
        if (const QStringList unknown = pattern.unknownPlaceholders(); !unknown.isEmpty()) {
            named.problem = u"the document name %1 uses %2, which is not a column of the client file"_s.arg(
                pattern.text(), unknown.first());
            named.names.clear();
            return named;
        }
        // An empty field would name another file than the one meant ("Invoice_.pdf").
        if (const QStringList empty = pattern.emptyPlaceholders(clients, row); !empty.isEmpty()) {
            named.problem = u"the document name %1 uses %2, which is empty on the client's line"_s.arg(
                pattern.text(), empty.first());
            named.names.clear();
            return named;
        }
        bool more = false;
        const QStringList names =
            pattern.fillEach(clients, row, u';', kMaxNamedDocuments - named.names.size() + 1, &more);
        for (const QString &name : names) {
            if (const QString problem = documentNameProblem(name); !problem.isEmpty()) {
                named.problem = u"the document name %1 gives %2"_s.arg(pattern.text(), problem);
                named.names.clear();
                return named;
            }
            if (!named.names.contains(name))
                named.names.append(name);
        }
        if (more || named.names.size() > kMaxNamedDocuments) {
            named.problem = u"the document names give more than %1 files"_s.arg(kMaxNamedDocuments);
            named.names.clear();
            return named;
        }
    }
    return named;
}

} // namespace quorvale
