#pragma once

// What each mail provider brings, in one table: its SMTP server, the sign-in's addresses and scope,
// and the sending limits it documents. Setup, the sign-in and the command line read it from here.

#include <QLatin1StringView>
#include <QString>

#include <span>

namespace quorvale {

/// The sending limits of a mailbox: 0 means none.
struct SendingLimits
{
    int perMinute = 0;
    int perDay = 0; ///< over a rolling 24 hours
    friend bool operator==(const SendingLimits &, const SendingLimits &) = default;
};

/// One provider ("OAuthProvider" names it).
struct MailProviderFacts
{
    QLatin1StringView name = {};  ///< "microsoft", "google", "custom"
    QLatin1StringView title = {}; ///< as Setup shows it
    QLatin1StringView smtpHost = {}; ///< empty: the user gives it
    int smtpPort = 587;
    qint16 authType = 1; ///< "SSL": STARTTLS on this port
    /// The sign-in's addresses; "{tenant}" stands for the Microsoft 365 tenant. Empty for custom.
    QLatin1StringView authorizeUrl = {};
    QLatin1StringView tokenUrl = {};
    QLatin1StringView scope = {};
    /// Added to the scope when the mailbox is also read over IMAP; empty when `scope` covers it.
    QLatin1StringView imapScope = {};
    bool scopeOnRefresh = true; ///< repeat the scope when refreshing
    bool usesClientSecret = true; ///< whether its sign-in may take a client secret
    SendingLimits limits = {};
    /// The lower daily limit of a consumer account (an address in one of `consumerDomains`).
    int consumerPerDay = 0;
    QLatin1StringView consumerDomains = {}; ///< separated by blanks
};

/// Every provider, in the order Setup offers them.
std::span<const MailProviderFacts> mailProviders();
/// The provider called `name` (letter case and blanks aside), or nullptr.
const MailProviderFacts *findMailProvider(QStringView name);
/// The limits to fill in for `provider` when the mailbox is `address`: a consumer account's lower
/// daily limit where the provider has one. None for an unknown provider.
SendingLimits sendingLimitsFor(QStringView provider, const QString &address);

} // namespace quorvale
