#pragma once

#include <QByteArray>

#include <vector>

namespace ov::cli {

// Each takes the arguments after its command word and returns the exit status.
int wipeCommand(const std::vector<QByteArray>& args);
int driveInfoCommand(const std::vector<QByteArray>& args);
int cleanFreeSpaceCommand(const std::vector<QByteArray>& args);

// Set by SIGINT; long commands look at it between writes.
bool interruptRequested();
void installInterruptHandler();

} // namespace ov::cli
