#include "app/programservices.h"

#include "auth/signinaccount.h"
#include "mail/smtpmailer.h"
#include "settings/settingsstore.h"

using namespace Qt::StringLiterals;

namespace quorvale {

ProgramEnvironment ProgramEnvironment::read()
{
    ProgramEnvironment environment;
    environment.settingsPath = defaultSettingsPath();
    environment.dataFolder = defaultDataFolder();
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

std::shared_ptr<SignInAccount> signInTrusting(const QString &caBundle)
{
    auto account = std::make_shared<SignInAccount>();
    account->setCaBundle(caBundle);
    return account;
}

} // namespace

ProgramServices::ProgramServices(ProgramEnvironment environment)
    : environment(std::move(environment)), store(openSettingsStore(this->environment.settingsPath)),
      account(signInTrusting(this->environment.mail.caBundle)),
      mailer(std::make_unique<SmtpMailer>(this->environment.dataFolder, account, this->environment.mail)),
      printer(this->environment.printCommand)
{
}

ProgramServices::~ProgramServices() = default;

} // namespace quorvale
