#pragma once
#include <QString>

namespace res {

// The text of string resource `id`; empty when the program has no such string, as
// loading a missing string always gave.
QString LoadString(int id);

} // namespace res
