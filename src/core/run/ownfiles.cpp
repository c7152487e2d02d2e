#include "run/ownfiles.h"

#include "auth/secretstore.h"
#include "auth/signinaccount.h"
#include "run/journal.h"
#include "settings/bodyfile.h"
#include "settings/settingsstore.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace quorvale {

ProgramFiles ownProgramFiles(const QString &settingsFile, const QString &dataFolderGiven)
{
    const QString dataFolder = dataFolderGiven.isEmpty() ? defaultDataFolder() : dataFolderGiven;
    ProgramFiles own;
    own.addFile(settingsFile, u"the settings file"_s);
    own.addFile(bodyFilePath(dataFolder), u"the body file"_s);
    own.addFile(htmlBodyFilePath(dataFolder), u"the formatted body file"_s);
    own.addFile(signatureFilePath(dataFolder), u"the signature file"_s);
    own.addFolder(runJournalFolder(dataFolder), u"a run journal"_s);
    own.addFile(QDir(dataFolder).filePath(u"run.lock"_s), u"the run lock"_s);
    // Where the secrets are kept when no keyring answers.
    const FileSecretStore secrets;
    own.addFile(secrets.path(kRefreshTokenKey), u"the sign-in's token file"_s);
    own.addFile(secrets.path(kPasswordKey), u"the password file"_s);
    return own;
}

} // namespace quorvale
