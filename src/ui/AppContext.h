#pragma once

#include "platform/Dialogs.h"
#include "platform/EngineHost.h"
#include "settings/OperationLog.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"

namespace ov {

class VolumePlatform;
class LinkOpener;

// The services the windows share, made once by the program (or by a test).
struct AppContext
{
    Settings* settings = nullptr;
    SettingsStore* store = nullptr;
    OperationLog* log = nullptr;
    EngineHost* host = nullptr;
    Dialogs* dialogs = nullptr;
    VolumePlatform* volumes = nullptr; // the volume queries of the Disk Cleaner
    LinkOpener* opener = nullptr;      // hands documents and addresses to the desktop
    // The folder the program was started in: relative entries are wiped from there.
    QByteArray startFolder;
};

} // namespace ov
