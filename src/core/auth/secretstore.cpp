#include "auth/secretstore.h"

#include "platform/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

using Perm = QFileDevice::Permission;
constexpr QFileDevice::Permissions kOwnerReadWrite = Perm::ReadOwner | Perm::WriteOwner;
constexpr QFileDevice::Permissions kOwnerOnlyFolder = Perm::ReadOwner | Perm::WriteOwner | Perm::ExeOwner;
constexpr QFileDevice::Permissions kGroupOrOther =
    Perm::ReadGroup | Perm::WriteGroup | Perm::ExeGroup | Perm::ReadOther | Perm::WriteOther | Perm::ExeOther;
/// A refresh token is a few kilobytes; a file far larger is not one of ours.
constexpr qint64 kMaxSecretBytes = 64 * 1024;

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

bool isValidSecretKey(const QString &key)
{
    static const QRegularExpression form(u"^[A-Za-z0-9._-]{1,64}$"_s);
    return form.match(key).hasMatch() && key != u"." && key != u"..";
}

FileSecretStore::FileSecretStore(const QString &folder)
    : m_folder(folder.isEmpty() ? QString() : QDir::cleanPath(folder))
{
}

QString FileSecretStore::path(const QString &key) const
{
    return m_folder.isEmpty() ? QString() : m_folder + u'/' + key;
}

QString FileSecretStore::location(const QString &key) const
{
    return u"the file %1, readable by you only"_s.arg(QDir::toNativeSeparators(path(key)));
}

SecretLookup FileSecretStore::read(const QString &key)
{
    if (!isValidSecretKey(key))
        return {SecretLookup::Status::Failed, {}, u"\"%1\" is not a valid secret name."_s.arg(key)};
    // No folder keeps nothing.
    if (m_folder.isEmpty())
        return {};
    const QString file = path(key);
    const QFileInfo info(file);
    if (!info.exists() && !info.isSymLink())
        return {};
    const auto failed = [&file](const QString &why) {
        return SecretLookup{SecretLookup::Status::Failed,
                            {},
                            u"The secret in %1 cannot be read: %2."_s.arg(QDir::toNativeSeparators(file), why)};
    };
    if (info.isSymLink())
        return failed(u"it is a symbolic link"_s);
    if (!info.isFile())
        return failed(u"it is not a file"_s);
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return failed(in.errorString());
    const QByteArray bytes = in.read(kMaxSecretBytes + 1);
    if (bytes.size() > kMaxSecretBytes)
        return failed(u"it is far too large"_s);
    QString secret = QString::fromUtf8(bytes);
    while (secret.endsWith(u'\n') || secret.endsWith(u'\r'))
        secret.chop(1);
    if (secret.isEmpty())
        return {};
    return {SecretLookup::Status::Found, secret, {}};
}

bool FileSecretStore::write(const QString &key, const QString &secret, QString *error)
{
    if (!isValidSecretKey(key))
        return fail(error, u"\"%1\" is not a valid secret name."_s.arg(key));
    if (m_folder.isEmpty())
        return fail(error, u"No folder is set for the secret files, so the secret was not saved."_s);
    const QString native = QDir::toNativeSeparators(m_folder);
    const QFileInfo folder(m_folder);
    if (folder.exists() && !folder.isDir())
        return fail(error, u"%1 is not a folder, so no secret can be saved there."_s.arg(native));
    if (!folder.exists() && !platform::makePrivateFolder(m_folder))
        return fail(error, u"The folder %1 could not be created."_s.arg(native));
    // The folder holds secrets: nobody else needs to list it.
    if (QFile::permissions(m_folder) & kGroupOrOther)
        QFile::setPermissions(m_folder, kOwnerOnlyFolder);

    const QString file = path(key);
    const QString where = QDir::toNativeSeparators(file);
    // A link here was not made by us: the secret does not go wherever it leads, nor in its place.
    switch (platform::entryKind(file)) {
    case platform::EntryKind::Link:
        return fail(error, u"%1 is a symbolic link, so the secret was not saved through it."_s.arg(where));
    case platform::EntryKind::Folder:
    case platform::EntryKind::Other:
        return fail(error, u"%1 is not a file, so the secret cannot be saved there."_s.arg(where));
    case platform::EntryKind::Missing:
    case platform::EntryKind::File:
        break;
    }
    // Replaced, the file would leave the old secret under its other names.
    if (const QString problem = platform::otherNamesProblem(file); !problem.isEmpty())
        return fail(error, u"The secret was not saved: "_s + problem);
    QString reason;
    if (!platform::writeFileReplacing(file, secret.toUtf8() + '\n', kOwnerReadWrite, &reason))
        return fail(error, u"The secret could not be saved to %1: %2"_s.arg(where, reason));
    return true;
}

bool FileSecretStore::remove(const QString &key, QString *error)
{
    if (!isValidSecretKey(key))
        return fail(error, u"\"%1\" is not a valid secret name."_s.arg(key));
    if (m_folder.isEmpty())
        return true;
    const QString file = path(key);
    const QFileInfo info(file);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (info.isDir() && !info.isSymLink())
        return fail(error, u"%1 is a folder, not a saved secret."_s.arg(QDir::toNativeSeparators(file)));
    QFile doomed(file);
    if (!doomed.remove())
        return fail(error, u"The secret %1 could not be removed: %2"_s.arg(QDir::toNativeSeparators(file),
                                                                           doomed.errorString()));
    return true;
}

SecretStoreChoice openSecretStore(std::chrono::milliseconds probeTimeout, const QString &fileFolder)
{
    // The keyring's own error (a D-Bus message, a program that could not start) means nothing to
    // the person reading the notice; the notice says where the secrets are instead.
    if (KeyringSecretStore::answers(probeTimeout))
        return {std::make_unique<KeyringSecretStore>(), {}};
    auto files = std::make_unique<FileSecretStore>(fileFolder);
    const QString folder = QDir::toNativeSeparators(files->folder());
    return {std::move(files),
            u"No system keyring is running, so the password and the sign-in are kept in files only you can "
            "read, in %1."_s.arg(folder)};
}

} // namespace quorvale
