#pragma once
#include <QWidget>

namespace platform {

// Moves a top-level window so that it stands in the middle of its screen's available area.
void CenterOnScreen(QWidget* window);

// Sets the client area of a window (what lies inside its border).
void SetClientSize(QWidget* window, int width, int height);

} // namespace platform
