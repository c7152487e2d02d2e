#include "text/shellwords.h"

#include <QStringView>

namespace quorvale {

QStringList splitShellWords(const QString &command)
{
    QStringList words;
    QString word;
    bool inWord = false;
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command.at(i);
        if (c == u'\'') {
            inWord = true;
            const qsizetype end = command.indexOf(u'\'', i + 1);
            word += command.mid(i + 1, (end < 0 ? command.size() : end) - i - 1);
            i = end < 0 ? command.size() : end;
        } else if (c == u'"') {
            inWord = true;
            for (++i; i < command.size() && command.at(i) != u'"'; ++i) {
                if (command.at(i) == u'\\' && i + 1 < command.size() &&
                    QStringView(u"\\\"$`").contains(command.at(i + 1)))
                    ++i;
                word += command.at(i);
            }
        } else if (c == u'\\') {
            inWord = true;
            if (i + 1 < command.size())
                word += command.at(++i);
        } else if (c.isSpace()) {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
        } else {
            inWord = true;
            word += c;
        }
    }
    if (inWord)
        words.append(word);
    return words;
}

} // namespace quorvale
