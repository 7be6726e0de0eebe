#pragma once
#include <QCursor>

namespace res {

// Cursor resource `id`: IDC_LINK_HAND (104) is the hand shown over the About dialog's
// links. Any other id gives the ordinary arrow.
QCursor LoadCursor(int id);

} // namespace res
