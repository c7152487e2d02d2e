#pragma once

// Documents named for each client: patterns such as "Invoice_{{id}}.pdf;Statement_{{id}}.pdf",
// their fields filled from the client's line, each naming exactly one file of the client list's
// folder. Nothing is guessed: a name is a file's name exactly as the file system has it.

#include "clients/clientlist.h"
#include "clients/messagetemplate.h"
#include "text/documentname.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace quorvale {

/// The most names one client's patterns may give: a field holding a long list is a mistake.
inline constexpr qsizetype kMaxNamedDocuments = 50;

/// The names one client's patterns give, or why they give none that can be looked up.
struct NamedDocuments
{
    QStringList names;
    QString problem; ///< not empty: no message goes, for this reason
};

/// A "DocumentPatterns" text parsed once against a client list's columns.
class DocumentPatterns
{
public:
    DocumentPatterns() = default;
    DocumentPatterns(const QString &patterns, const ClientList &clients);

    bool isEmpty() const { return m_patterns.isEmpty(); }
    /// Why the patterns as a whole name nothing (see documentPatternsProblem); empty when they can.
    const QString &problem() const { return m_problem; }
    /// The placeholders of the patterns that name no column, as written, each once.
    QStringList unknownPlaceholders() const;
    /// The file names the patterns give for row `row` of `clients`, in pattern order, each once: a
    /// field holding several names separated by ";" gives one name per value. A name that is no
    /// plain file name, a field that is empty, or too many names is a problem.
    NamedDocuments namesFor(const ClientList &clients, qsizetype row) const;

private:
    QList<FieldTemplate> m_patterns;
    QString m_problem;
};

} // namespace quorvale
