#include "cli/Commands.h"

#include <cstdio>

namespace ov::cli {

int driveInfoCommand(const std::vector<QByteArray>&)
{
    std::fputs("ombrevault-cli: drive-info is not available yet\n", stderr);
    return 1;
}

int cleanFreeSpaceCommand(const std::vector<QByteArray>&)
{
    std::fputs("ombrevault-cli: clean-free-space is not available yet\n", stderr);
    return 1;
}

} // namespace ov::cli
