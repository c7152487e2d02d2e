#include "run/runreport.h"

#include "settings/settingstable.h"

#include <QFileInfo>
#include <QLocale>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

QString attachmentLine(const StartSummary &s)
{
    switch (s.mode) {
    case AttachmentMode::None:
        return u"Attachment: none"_s;
    case AttachmentMode::Common: {
        const QString name = QFileInfo(s.commonFile).fileName();
        if (s.commonSize < 0)
            return u"Attachment: %1 (cannot be read), the same file for every client"_s.arg(name);
        return u"Attachment: %1 (%2), the same file for every client"_s.arg(
            name, QLocale::c().formattedDataSize(s.commonSize, 1, QLocale::DataSizeTraditionalFormat));
    }
    case AttachmentMode::ClientSpecific:
        if (s.withoutDocument == 0)
            return u"Attachment: each client's own document"_s;
        return u"Attachment: each client's own document; %1 of %2 %3 none and %4 no e-mail"_s.arg(
            QString::number(s.withoutDocument), counted(s.emails, "client", "clients"),
            s.withoutDocument == 1 ? u"has"_s : u"have"_s, s.withoutDocument == 1 ? u"gets"_s : u"get"_s);
    case AttachmentMode::Named:
        if (s.withoutDocument == 0)
            return u"Attachments: the documents named %1"_s.arg(s.documentPatterns);
        return u"Attachments: the documents named %1; %2 of %3 %4 one missing and %5 no e-mail"_s.arg(
            s.documentPatterns, QString::number(s.withoutDocument), counted(s.emails, "client", "clients"),
            s.withoutDocument == 1 ? u"has"_s : u"have"_s, s.withoutDocument == 1 ? u"gets"_s : u"get"_s);
    }
    return {};
}

/// The setup dialog's name for a mail server setting.
QString settingLabel(SettingKey key)
{
    if (key == SettingKey(&AppSettings::SMTPServer))
        return u"SMTP Server"_s;
    if (key == SettingKey(&AppSettings::SSLport))
        return u"SSL Port"_s;
    if (key == SettingKey(&AppSettings::UserName))
        return u"Username"_s;
    if (key == SettingKey(&AppSettings::Password))
        return u"Password"_s;
    return QString(storedSetting(key).name);
}

} // namespace

QStringList startSummaryLines(const StartSummary &s)
{
    QStringList lines{(s.queued ? u"E-mails to queue on this computer: "_s : u"E-mails to send: "_s) +
                      QString::number(s.emails)};
    if (s.restFrom.isValid())
        lines.first() += u" - %1 within the daily limit now, the rest from %2"_s.arg(s.withinDailyLimit)
                             .arg(QLocale::c().toString(s.restFrom.toLocalTime(), u"yyyy-MM-dd HH:mm"_s));
    if (s.listClients > 0)
        lines.prepend(u"Chosen clients: %1 of %2 (the others are left out)"_s.arg(s.listClients - s.leftOut)
                          .arg(counted(s.listClients, "client", "clients")));
    if (s.print)
        lines.append(u"Documents to print: "_s + QString::number(s.printouts));
    lines.append(u"Subject: "_s + s.subject);
    lines.append(attachmentLine(s));
    if (s.skipped > 0)
        lines.append(u"Skipped: %1 an earlier run of this mailing already reached"_s.arg(
            counted(s.skipped, "client", "clients")));
    if (s.skippedUnknown > 0)
        lines.append(u"Skipped: %1 whose message may or may not have arrived (not sent again)"_s.arg(
            counted(s.skippedUnknown, "client", "clients")));
    if (s.subject == kDefaultSubject)
        lines.append(u"Warning: the subject is still \"%1\"."_s.arg(kDefaultSubject));
    else if (s.subject.trimmed().isEmpty())
        lines.append(u"Warning: the subject is empty."_s);
    if (s.bodyEmpty)
        lines.append(u"Warning: the message body is empty."_s);
    for (const QString &warning : s.warnings)
        lines.append(u"Warning: "_s + warning);
    return lines;
}

QString incompleteSetupMessage(const AppSettings &settings)
{
    QStringList names;
    for (const SettingKey key : missingMailServerSettings(settings))
        names.append(settingLabel(key));
    QString message = u"Your email server setup is not complete."_s;
    if (!names.isEmpty())
        message += u"\nMissing in Setup: "_s + names.join(u", "_s) + u'.';
    return message;
}

QString clientFailureText(const ClientFailure &f)
{
    const QString who = f.address.isEmpty() ? QString(u"client "_s + f.clientId)
                                            : QString(f.address + u" (client "_s + f.clientId + u')');
    return f.what + u" - "_s + who + (f.reason.isEmpty() ? QString() : u": "_s + f.reason.simplified());
}

QString runTallyLine(const RunTally &t)
{
    return (t.queued ? u"Queued on this computer %1"_s : u"Sent %1"_s).arg(t.sent) +
           u", refused %1, outcome unknown %2, no document %3, printed %4, print errors %5, "
           "skipped on resume %6"_s
        .arg(t.refused)
        .arg(t.unknown)
        .arg(t.noDocument)
        .arg(t.printed)
        .arg(t.printErrors)
        .arg(t.skipped) +
           (t.skippedUnknown > 0 ? u" (%1 may have been sent)"_s.arg(t.skippedUnknown) : QString()) +
           (t.leftOut > 0 ? u", left out (not chosen) %1"_s.arg(t.leftOut) : QString()) +
           (t.copyFailures > 0 ? u". "_s + sentCopyFailuresLine(t.copyFailures) : QString()) +
           (t.bounced > 0 ? u". Bounced earlier and not sent to since: "_s + counted(t.bounced, "client", "clients")
                          : QString());
}

QString sentCopyFailuresLine(qint64 clients)
{
    return u"Copies in Sent failed for "_s + counted(clients, "client", "clients");
}

QString runProgressText(const RunProgress &p)
{
    QString text = p.client > 0 ? u"Client %1 of %2"_s.arg(p.client).arg(p.clients)
                                : u"%1 to handle"_s.arg(counted(p.clients, "client", "clients"));
    text += (p.queued ? u" - queued on this computer %1, failed %2"_s : u" - sent %1, failed %2"_s)
                .arg(p.sent)
                .arg(p.failed);
    if (p.timeLeft)
        text += u" - "_s + timeLeftText(*p.timeLeft);
    return text;
}

std::chrono::milliseconds estimateTimeLeft(const AppSettings &settings, const RemainingWork &work)
{
    using std::chrono::milliseconds;
    const qint64 emails = std::max<qint64>(work.emails, 0);
    const bool scheduled = settings.EnableSchedule == 1;
    // A pause ends in the slice after its time is up: it lasts one slice (100 ms) longer.
    constexpr qint64 slice = 100;
    const qint64 pause = (scheduled ? std::max<qint64>(qint64(settings.DelayBetweenSends) * 1000, 0) : 1000) + slice;
    qint64 groupDelays = 0;
    if (scheduled && emails > 0) {
        const qint64 size = settings.GroupSize;
        if (size <= 0) {
            groupDelays = emails; // one before every client
        } else {
            // The clients still to go before the first delay, then one delay per full group.
            const qint64 beforeFirst = std::max<qint64>(size - work.groupCount, 0);
            groupDelays = emails <= beforeFirst ? 0 : 1 + (emails - beforeFirst - 1) / size;
        }
    }
    const qint64 groupDelay = std::max<qint64>(qint64(settings.GroupDelay) * 60000, 0) + slice;
    return milliseconds(std::max<qint64>(work.waiting.count(), 0) + emails * (work.sendTime.count() + pause) +
                        groupDelays * groupDelay + std::max<qint64>(work.printSteps, 0) * (1000 + slice));
}

QString timeLeftText(std::chrono::milliseconds time)
{
    const qint64 minutes = (time.count() + 59999) / 60000;
    if (minutes <= 1)
        return time.count() < 60000 ? u"less than a minute left"_s : u"about 1 min left"_s;
    if (minutes < 60)
        return u"about %1 min left"_s.arg(minutes);
    return u"about %1 h %2 min left"_s.arg(minutes / 60).arg(minutes % 60);
}

} // namespace quorvale
