#include "text/documentname.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace quorvale {

QStringList splitDocumentPatterns(const QString &patterns)
{
    QStringList out;
    for (const QStringView pattern : QStringView(patterns).split(u';')) {
        if (!pattern.trimmed().isEmpty())
            out.append(pattern.trimmed().toString());
    }
    return out;
}

QString documentNameProblem(const QString &name)
{
    if (name.trimmed().isEmpty())
        return u"an empty name"_s;
    if (name == "."_L1 || name == ".."_L1)
        return u"\"%1\" is a folder, not a file"_s.arg(name);
    // A name with a folder part could reach any file the user can read: only the client list's
    // own folder is searched.
    if (name.contains(u'/') || name.contains(u'\\'))
        return u"\"%1\" has a folder part; only a file name of the client list's folder is taken"_s.arg(name);
    if (std::any_of(name.cbegin(), name.cend(), [](QChar c) { return c.category() == QChar::Other_Control; }))
        return u"the name \"%1\" holds a control character"_s.arg(name.simplified());
    if (name.trimmed() != name)
        return u"the name \"%1\" starts or ends with a blank"_s.arg(name);
    return {};
}

QString documentPatternsProblem(const QString &patterns)
{
    const QStringList split = splitDocumentPatterns(patterns);
    if (split.isEmpty())
        return u"No document names are given (for example Invoice_{{id}}.pdf;Statement_{{id}}.pdf)."_s;
    for (const QString &pattern : split) {
        // The pattern's own text, its fields aside: what no client's values can mend.
        QString text = pattern;
        for (qsizetype open = text.indexOf(u"{{"_s); open >= 0; open = text.indexOf(u"{{"_s, open)) {
            const qsizetype close = text.indexOf(u"}}"_s, open + 2);
            if (close < 0)
                break;
            text.replace(open, close + 2 - open, u"x"_s);
        }
        if (const QString problem = documentNameProblem(text); !problem.isEmpty())
            return u"The document name %1 cannot name a file: %2."_s.arg(pattern.simplified(), problem);
    }
    return {};
}

} // namespace quorvale
