#pragma once
// Who makes the program and where to reach them: the About dialog shows these and its
// links open them, and the quick help text names them.
#include "product_version.h"

namespace res {

inline constexpr char kVersionLine[] = "Veltrosyn Hoplantern version " HOPLANTERN_VERSION;
inline constexpr char kNoticeLine[] = "Copyright 2026 Veltrosyn";
inline constexpr char kAuthorMail[] = "feedback@veltrosyn.example";
inline constexpr char kWebPage[] = "https://veltrosyn.example/hoplantern/";

} // namespace res
