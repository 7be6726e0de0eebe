#pragma once
#include <QIcon>

namespace res {

// Icon resource `id` (IDR_MAINFRAME is the window icon), in the two sizes the desktop
// asks for: 32x32 and 16x16. A null icon for any other id.
QIcon LoadIcon(int id);

// The window icon painted at any size: the desktop's icon files, 16 to 256 pixels, are
// drawn from the same painting.
QPixmap PaintMainIcon(int size);

} // namespace res
