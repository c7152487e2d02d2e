#include "auth/providertable.h"

#include <array>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

const std::array kProviders{
    // Microsoft 365 (Exchange Online documentation: SMTP settings for client submission, OAuth for
    // SMTP, sending limits: 30 messages a minute, 10,000 recipients a day).
    MailProviderFacts{
        .name = "microsoft"_L1,
        .title = "Microsoft 365"_L1,
        .smtpHost = "smtp.office365.com"_L1,
        .smtpPort = 587,
        .authType = 1,
        .authorizeUrl = "https://login.microsoftonline.com/{tenant}/oauth2/v2.0/authorize"_L1,
        .tokenUrl = "https://login.microsoftonline.com/{tenant}/oauth2/v2.0/token"_L1,
        .scope = "https://outlook.office.com/SMTP.Send offline_access"_L1,
        .imapScope = "https://outlook.office.com/IMAP.AccessAsUser.All"_L1,
        .scopeOnRefresh = true,
        .usesClientSecret = false, // a desktop program signs in with PKCE alone
        .limits = {.perMinute = 30, .perDay = 10000},
    },
    // Google (Workspace admin help: Gmail SMTP settings, OAuth scopes, sending limits: 2,000
    // messages a day, 500 for a consumer Gmail account, over a rolling 24 hours).
    MailProviderFacts{
        .name = "google"_L1,
        .title = "Google"_L1,
        .smtpHost = "smtp.gmail.com"_L1,
        .smtpPort = 587,
        .authType = 1,
        .authorizeUrl = "https://accounts.google.com/o/oauth2/v2/auth"_L1,
        .tokenUrl = "https://oauth2.googleapis.com/token"_L1,
        .scope = "https://mail.google.com/"_L1,
        .scopeOnRefresh = false,
        .limits = {.perMinute = 0, .perDay = 2000},
        .consumerPerDay = 500,
        .consumerDomains = "gmail.com googlemail.com"_L1,
    },
    // Any other server: the user says everything.
    MailProviderFacts{
        .name = "custom"_L1,
        .title = "Other"_L1,
    },
};

} // namespace

std::span<const MailProviderFacts> mailProviders()
{
    return kProviders;
}

const MailProviderFacts *findMailProvider(QStringView name)
{
    const QStringView trimmed = name.trimmed();
    for (const MailProviderFacts &provider : kProviders) {
        if (trimmed.compare(provider.name, Qt::CaseInsensitive) == 0)
            return &provider;
    }
    return nullptr;
}

SendingLimits sendingLimitsFor(QStringView provider, const QString &address)
{
    const MailProviderFacts *facts = findMailProvider(provider);
    if (!facts)
        return {};
    SendingLimits limits = facts->limits;
    const QString domain = address.trimmed().section(u'@', -1).toLower();
    if (facts->consumerPerDay > 0 && address.contains(u'@')) {
        for (const auto consumer : facts->consumerDomains.tokenize(u' ', Qt::SkipEmptyParts)) {
            if (domain == consumer)
                limits.perDay = facts->consumerPerDay;
        }
    }
    return limits;
}

} // namespace quorvale
