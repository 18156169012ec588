#pragma once

#include <QIcon>

// The four 32 x 32 toolbar pictures, drawn rather than loaded.
QIcon UserCardIcon();
QIcon ManageCardIcon();
QIcon PortSettingsIcon();
QIcon AboutIcon();
