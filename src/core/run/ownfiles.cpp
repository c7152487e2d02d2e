#include "run/ownfiles.h"

#include "auth/secretstore.h"
#include "auth/signinaccount.h"
#include "run/journal.h"
#include "settings/bodyfile.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace quorvale {

ProgramFiles ownProgramFiles(const QString &settingsFile, const QString &dataFolder)
{
    ProgramFiles own;
    if (!settingsFile.isEmpty())
        own.addFile(settingsFile, u"the settings file"_s);
    if (!dataFolder.isEmpty()) {
        own.addFile(bodyFilePath(dataFolder), u"the body file"_s);
        own.addFile(htmlBodyFilePath(dataFolder), u"the formatted body file"_s);
        own.addFile(signatureFilePath(dataFolder), u"the signature file"_s);
        own.addFolder(runJournalFolder(dataFolder), u"a run journal"_s);
        own.addFile(QDir(dataFolder).filePath(u"run.lock"_s), u"the run lock"_s);
    }
    // Where the secrets are kept when no keyring answers: beside the settings file.
    if (!settingsFile.isEmpty()) {
        const FileSecretStore secrets(QFileInfo(settingsFile).absolutePath());
        own.addFile(secrets.path(kRefreshTokenKey), u"the sign-in's token file"_s);
        own.addFile(secrets.path(kPasswordKey), u"the password file"_s);
    }
    return own;
}

} // namespace quorvale
