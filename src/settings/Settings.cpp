#include "settings/Settings.h"

namespace ov {

Settings& processSettings()
{
    static Settings settings;
    return settings;
}

} // namespace ov
