#pragma once

#include "platform/BlockingRunner.h"
#include "platform/Dialogs.h"
#include "platform/LinkOpener.h"
#include "platform/Volumes.h"
#include "settings/OperationLog.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"

namespace ov {

// The services the windows share. The program's main() (or a test) makes every one of
// them and hands them over; no window makes its own or falls back to a shared one.
struct AppContext
{
    Settings& settings;
    SettingsStore& store;
    OperationLog& log;
    BlockingRunner& runner;
    Dialogs& dialogs;
    VolumePlatform& volumes; // the volume queries of the Disk Cleaner
    LinkOpener& opener;      // hands documents and addresses to the desktop
    // The folder the program was started in: relative entries are wiped from there.
    QByteArray startFolder;
};

} // namespace ov
