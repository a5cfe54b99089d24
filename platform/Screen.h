#pragma once
#include <QWidget>

namespace platform {

// Moves a top-level window so that it stands in the middle of its screen's available area.
void CenterOnScreen(QWidget* window);

// Gives a window the small dialog face of the station's windows (MS Sans Serif, 11 pixels;
// the Liberation substitute on Linux).
void UseDialogFont(QWidget* window);

// Sets the client area of a window (what lies inside its border).
void SetClientSize(QWidget* window, int width, int height);

} // namespace platform
