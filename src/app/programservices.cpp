#include "app/programservices.h"

#include "auth/signinaccount.h"
#include "mail/inboxreader.h"
#include "mail/queuemailer.h"
#include "mail/sentcopy.h"
#include "mail/smtpmailer.h"
#include "settings/settingsstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

// A base folder from the environment; relative values are invalid and fall back to the default.
QString xdgFolder(const char *variable, const QString &fallbackUnderHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(QDir::homePath() + u'/' + fallbackUnderHome);
}

} // namespace

ProgramEnvironment ProgramEnvironment::read()
{
    ProgramEnvironment environment;
    environment.settingsPath = xdgFolder("XDG_CONFIG_HOME", u".config"_s) + u"/Quorvale/Quorvale.ini"_s;
    environment.dataFolder = xdgFolder("XDG_DATA_HOME", u".local/share"_s) + u"/Quorvale"_s;
    environment.mail.settingsFile = environment.settingsPath;
    environment.mail.caBundle = qEnvironmentVariable("CURL_CA_BUNDLE");
    bool ok = false;
    const int port = qEnvironmentVariableIntValue("QUORVALE_IMPLICIT_TLS_PORT", &ok);
    if (ok && port > 0 && port <= 65535)
        environment.mail.implicitTlsPort = port;
    environment.printCommand = qEnvironmentVariable("QUORVALE_PRINT_COMMAND");
    environment.hasDesktop = !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    return environment;
}

namespace {

std::shared_ptr<SignInAccount> signInOf(const ProgramEnvironment &environment)
{
    // Without a keyring the secrets are kept in files beside the settings.
    auto account = std::make_shared<SignInAccount>(SignInAccount::Opener{},
                                                   QFileInfo(environment.settingsPath).absolutePath());
    account->setCaBundle(environment.mail.caBundle);
    return account;
}

} // namespace

ProgramServices::ProgramServices(ProgramEnvironment environment)
    : environment(std::move(environment)), store(openSettingsStore(this->environment.settingsPath)),
      account(signInOf(this->environment)),
      smtpMailer(std::make_unique<SmtpMailer>(this->environment.dataFolder, account, this->environment.mail)),
      queueMailer(std::make_unique<QueueMailer>()),
      mailer(std::make_unique<SendMethodMailer>(*smtpMailer, *queueMailer)),
      sentCopier(std::make_unique<ImapSentCopier>(account, QFile::encodeName(this->environment.mail.caBundle))),
      inboxReader(std::make_unique<ImapInboxReader>(account, QFile::encodeName(this->environment.mail.caBundle))),
      printer(this->environment.printCommand)
{
}

ProgramServices::~ProgramServices() = default;

} // namespace quorvale
