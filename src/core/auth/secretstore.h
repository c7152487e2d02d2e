#pragma once

#include <QString>

#include <chrono>
#include <memory>

namespace quorvale {

/// What a secret store found for a key.
struct SecretLookup
{
    enum class Status
    {
        Found,
        Missing,
        Failed
    };
    Status status = Status::Missing;
    QString secret;
    QString error; ///< why it failed; never contains a secret
};

/// Keeps secrets (a refresh token, a password) by name. Every call blocks until done or until the
/// store's time limit, and is safe from any thread; in the window, call it off the UI thread. Keys
/// are checked with isValidSecretKey().
class SecretStore
{
public:
    enum class Kind
    {
        Keyring,
        File
    };

    virtual ~SecretStore() = default;
    virtual Kind kind() const = 0;
    /// Where the secret `key` is (or would be) kept, in words for the setup and `config show`.
    virtual QString location(const QString &key) const = 0;
    virtual SecretLookup read(const QString &key) = 0;
    virtual bool write(const QString &key, const QString &secret, QString *error) = 0;
    /// Forgets the secret; true also when there was none.
    virtual bool remove(const QString &key, QString *error) = 0;
};

/// Whether `key` may name a secret: 1 to 64 letters, digits, ".", "_" or "-", not "." or "..".
bool isValidSecretKey(const QString &key);

/// Secrets in files readable by the user only: one file per key in a folder of the user's alone
/// (created 0700), each written atomically with mode 0600 and never through a symbolic link.
class FileSecretStore final : public SecretStore
{
public:
    /// The files go in `folder` (the program's is the settings file's folder). Empty: no folder;
    /// nothing is kept, and saving a secret fails.
    explicit FileSecretStore(const QString &folder);

    Kind kind() const override { return Kind::File; }
    QString location(const QString &key) const override;
    SecretLookup read(const QString &key) override;
    bool write(const QString &key, const QString &secret, QString *error) override;
    bool remove(const QString &key, QString *error) override;

    QString path(const QString &key) const;
    QString folder() const { return m_folder; }

private:
    QString m_folder;
};

/// Secrets in the desktop's keyring (the Secret Service, through QtKeychain), filed under the
/// service "Quorvale". QtKeychain works asynchronously; every call here hands its job to one
/// keyring thread of the process and waits for it, at most `timeout`.
class KeyringSecretStore final : public SecretStore
{
public:
    explicit KeyringSecretStore(std::chrono::milliseconds timeout = std::chrono::seconds(30));

    Kind kind() const override { return Kind::Keyring; }
    QString location(const QString &key) const override;
    SecretLookup read(const QString &key) override;
    bool write(const QString &key, const QString &secret, QString *error) override;
    bool remove(const QString &key, QString *error) override;

    /// Whether a keyring answers a lookup within `timeout`; when not, `why` says what went wrong.
    static bool answers(std::chrono::milliseconds timeout, QString *why = nullptr);

private:
    std::chrono::milliseconds m_timeout;
};

/// The store to use, and what to tell the user about it.
struct SecretStoreChoice
{
    std::unique_ptr<SecretStore> store;
    QString notice; ///< empty for the keyring; names the file store's folder and why it is used
};

/// The keyring when one answers within `probeTimeout`; otherwise files in `fileFolder` (empty: none,
/// nothing is kept), with a notice that says so. Never a fallback that is not named.
SecretStoreChoice openSecretStore(std::chrono::milliseconds probeTimeout = std::chrono::seconds(5),
                                  const QString &fileFolder = {});

} // namespace quorvale
