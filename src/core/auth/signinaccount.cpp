#include "auth/signinaccount.h"

using namespace Qt::StringLiterals;

namespace quorvale {

SecretPlaces::SecretPlaces(std::unique_ptr<SecretStore> keyring, std::unique_ptr<SecretStore> files)
    : m_keyring(std::move(keyring)), m_files(std::move(files))
{
}

QString SecretPlaces::location(const QString &key) const
{
    return m_keyring ? m_keyring->location(key) : m_files->location(key);
}

SecretLookup SecretPlaces::read(const QString &key)
{
    SecretLookup fromKeyring;
    if (m_keyring) {
        fromKeyring = m_keyring->read(key);
        if (fromKeyring.status == SecretLookup::Status::Found)
            return fromKeyring;
    }
    SecretLookup fromFiles = m_files->read(key);
    // A keyring that failed is the answer only when the files have nothing either.
    if (fromFiles.status == SecretLookup::Status::Missing && fromKeyring.status == SecretLookup::Status::Failed)
        return fromKeyring;
    return fromFiles;
}

bool SecretPlaces::write(const QString &key, const QString &secret, QString *error)
{
    if (!m_keyring)
        return m_files->write(key, secret, error);
    if (!m_keyring->write(key, secret, error))
        return false;
    // The copy in a file is older and would only be found should the keyring go away.
    m_files->remove(key, nullptr);
    return true;
}

bool SecretPlaces::remove(const QString &key, QString *error)
{
    const bool fromFiles = m_files->remove(key, error);
    return (!m_keyring || m_keyring->remove(key, error)) && fromFiles;
}

QString SecretPlaces::storedLocation(const QString &key)
{
    if (m_keyring && m_keyring->read(key).status == SecretLookup::Status::Found)
        return m_keyring->location(key);
    if (m_files->read(key).status == SecretLookup::Status::Found)
        return m_files->location(key);
    return {};
}

SignInAccount::SignInAccount(Opener opener, QString fileFolder)
    : m_opener(std::move(opener)), m_fileFolder(std::move(fileFolder))
{
    if (!m_opener)
        m_opener = [folder = m_fileFolder] { return openSecretStore(std::chrono::seconds(5), folder); };
}

void SignInAccount::open()
{
    if (m_places)
        return;
    SecretStoreChoice choice = m_opener();
    std::unique_ptr<SecretStore> keyring;
    if (choice.store->kind() == SecretStore::Kind::Keyring)
        keyring = std::move(choice.store);
    auto files = keyring ? std::make_unique<FileSecretStore>(m_fileFolder) : std::move(choice.store);
    m_places = std::make_unique<SecretPlaces>(std::move(keyring), std::move(files));
    m_notice = choice.notice;
}

SecretPlaces &SignInAccount::secrets()
{
    QMutexLocker lock(&m_mutex);
    open();
    return *m_places;
}

QString SignInAccount::storeNotice()
{
    QMutexLocker lock(&m_mutex);
    open();
    return m_notice;
}

std::shared_ptr<TokenHolder> SignInAccount::holder(const OAuthProvider &provider)
{
    QMutexLocker lock(&m_mutex);
    open();
    const QString identity = provider.tokenUrl.toString() + u'\n' + provider.clientId;
    if (!m_holder || identity != m_holderIdentity) {
        if (m_holder)
            m_earlierTokens += m_holder->secrets();
        m_holder = std::make_shared<TokenHolder>(provider, *m_places, kRefreshTokenKey, m_caBundle);
        m_holderIdentity = identity;
    }
    return m_holder;
}

QStringList SignInAccount::knownTokens()
{
    QMutexLocker lock(&m_mutex);
    return m_holder ? m_earlierTokens + m_holder->secrets() : m_earlierTokens;
}

bool SignInAccount::signOut(QString *error)
{
    QMutexLocker lock(&m_mutex);
    open();
    // The holder keeps its refresh token in the same places, and forgets the tokens it holds too.
    return m_holder ? m_holder->forget(error) : m_places->remove(kRefreshTokenKey, error);
}

void fillKeptPassword(AppSettings &settings, SignInAccount &account)
{
    if (!settings.Password.isEmpty() || settings.UserName.isEmpty() || settings.SignInMethod != u"password")
        return;
    const SecretLookup kept = account.secrets().read(kPasswordKey);
    if (kept.status == SecretLookup::Status::Found)
        settings.Password = kept.secret;
}

} // namespace quorvale
