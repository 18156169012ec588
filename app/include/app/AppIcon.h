#pragma once

#include <QIcon>
#include <QPixmap>

// The program's own icon: a contactless card held in front of a door, drawn for every size
// that windows, the task bar and the About box ask for.
QIcon AppIcon();
// The icon drawn at `size` × `size` pixels.
QPixmap AppIconPixmap(int size);
