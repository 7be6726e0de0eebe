#pragma once
#include <QIcon>

namespace res {

// Icon resource `id` (IDR_MAINFRAME is the window icon), in the two sizes the desktop
// asks for: 32x32 and 16x16. A null icon for any other id.
QIcon LoadIcon(int id);

} // namespace res
