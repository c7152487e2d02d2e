#pragma once

#include "clients/programfiles.h"

namespace quorvale {

/// The program's own files for the settings file `settingsFile` and the data folder `dataFolder`:
/// the settings, the body file, the run journals, the run lock and the sign-in's files. The front
/// ends build it once, before a run or a check saves anything.
ProgramFiles ownProgramFiles(const QString &settingsFile, const QString &dataFolder);

} // namespace quorvale
