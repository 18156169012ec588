#pragma once

#include <string>

#include <QString>

// Why the card reader's port could not be opened (or closed), in words an office understands:
// what to check or whom to ask, followed by the errno; a refused permission ends instead in
// the command the administrator runs, for this login name and the group that owns the device
// node. `device` is the path that was opened (a COM<n> entry or /dev/ttyS<n-1>); without one
// (a failed close) the group is taken to be dialout.
QString PortErrorText(int err, const std::string& device = {});
