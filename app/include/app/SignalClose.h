#pragma once

class QWidget;

// SIGTERM, SIGINT and SIGHUP (the desktop session ending) close `window` the normal way (open modal
// dialogs first), so that the program ends through its ordinary shut-down.
void CloseOnTerminationSignals(QWidget* window);
