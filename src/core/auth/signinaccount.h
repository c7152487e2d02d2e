#pragma once

#include "auth/oauthprovider.h"
#include "auth/secretstore.h"
#include "auth/tokenholder.h"
#include "settings/appsettings.h"

#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace quorvale {

/// The name the refresh token of the sign-in is kept under.
inline const QString kRefreshTokenKey = u"oauth-refresh-token"_s;
/// The name the mail server's password is kept under in the keyring.
inline const QString kPasswordKey = u"password"_s;

/// The program's secrets in both places they may be: the keyring, when one answers, and the files
/// in the settings folder. Reads look in the keyring first, then in the files (a secret saved while
/// no keyring answered is still found); writes go to the keyring when there is one (and remove a
/// copy in the files), otherwise to the files; removing removes from both.
class SecretPlaces final : public SecretStore
{
public:
    /// `keyring` may be null: no keyring answered.
    SecretPlaces(std::unique_ptr<SecretStore> keyring, std::unique_ptr<SecretStore> files);

    Kind kind() const override { return m_keyring ? Kind::Keyring : Kind::File; }
    QString location(const QString &key) const override;
    SecretLookup read(const QString &key) override;
    bool write(const QString &key, const QString &secret, QString *error) override;
    bool remove(const QString &key, QString *error) override;

    bool hasKeyring() const { return m_keyring != nullptr; }
    /// Where `key` is kept now, in words; empty when it is kept nowhere (or cannot be read).
    QString storedLocation(const QString &key);

private:
    std::unique_ptr<SecretStore> m_keyring;
    std::unique_ptr<SecretStore> m_files;
};

/// The program's sign-in: where its secrets are, and the tokens of the account signed in. One per
/// program (the window or one command), shared by every send and by the sign-in itself, so that a
/// new sign-in reaches the next send and a token refreshed for one send serves the next. Every call
/// may block (the keyring, a token request): never call it on the UI thread. Thread-safe.
class SignInAccount
{
public:
    /// Opens the secret places; the default probes the keyring (up to five seconds) and falls back
    /// to files in the settings folder.
    using Opener = std::function<SecretStoreChoice()>;

    /// The secret files, when no keyring answers or secrets kept before are looked for, go in
    /// `fileFolder` (the program's is the settings file's folder; empty: none).
    explicit SignInAccount(Opener opener = {}, QString fileFolder = {});

    /// The certificates (a PEM file) the sign-in's token requests trust instead of the system's;
    /// empty: the system's. Set where the program starts, before the first token is asked for.
    void setCaBundle(const QString &file) { m_caBundle = file; }
    QString caBundle() const { return m_caBundle; }

    /// Opened on first use.
    SecretPlaces &secrets();
    /// What the user should know about where secrets are kept (the file fallback and why); empty
    /// when the keyring keeps them.
    QString storeNotice();
    /// The tokens for `provider`: the same holder while the provider's token address and client
    /// stay the same, a new one (reading the stored refresh token afresh) when they change.
    std::shared_ptr<TokenHolder> holder(const OAuthProvider &provider);
    /// Every token this program has held, to mask them wherever text is shown.
    QStringList knownTokens();
    /// Forgets the stored refresh token (in both places) and the tokens held.
    bool signOut(QString *error);

private:
    void open();

    Opener m_opener;
    QString m_fileFolder;
    QString m_caBundle;
    QMutex m_mutex;
    std::unique_ptr<SecretPlaces> m_places;
    QString m_notice;
    std::shared_ptr<TokenHolder> m_holder;
    QString m_holderIdentity;    ///< token address and client of m_holder
    QStringList m_earlierTokens; ///< of holders replaced since
};

/// Puts the password the keyring keeps into `settings` when the settings file no longer holds it
/// (it was moved there) and the password is what the login uses. Blocking.
void fillKeptPassword(AppSettings &settings, SignInAccount &account);

} // namespace quorvale
