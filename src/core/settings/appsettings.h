#pragma once

#include <QString>

namespace quorvale {

using namespace Qt::StringLiterals;

/// Every persisted setting plus the body text and the data folder. Field names follow the
/// settings value names they are stored under (see settingsstore.h for the table).
struct AppSettings
{
    QString EmailFrom;
    QString SMTPServer;  ///< stored as "SMPTServer"
    qint16 AuthType = 1; ///< 0 "Simple", 1 "SSL", -1 none chosen
    QString SSLport;     ///< as typed; converted when a message is sent
    QString UserName;
    QString Password; ///< plain; only the stored copy ("PW") is scrambled
    QString SubjectLine = u"Subject Line Text"_s;
    QString BodyText; ///< not stored as a setting; see the body file
    QString CSVpath;
    qint16 CSVHeader = 0;         ///< 1: the client file's first line holds column names
    qint16 EnableSchedule = 0;    ///< scheduling is on only when exactly 1
    qint32 DelayBetweenSends = 1; ///< seconds
    qint32 GroupDelay = 5;        ///< minutes
    qint32 GroupSize = 100;       ///< clients
    QString DataFolder;           ///< holds Body.txt; not stored
};

} // namespace quorvale
