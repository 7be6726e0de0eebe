#pragma once
// Templates 100 (About) and 131 (quick help), and the control styles only they use.

#include "dialog_template.h"

namespace res {

inline constexpr uint32_t DS_MODALFRAME = 0x00000080;

inline constexpr uint32_t BS_LEFT = 0x00000100;

inline constexpr uint32_t SS_ICON = 0x00000003;
inline constexpr uint32_t SS_NOPREFIX = 0x00000080;

inline constexpr uint32_t ES_MULTILINE = 0x00000004;
inline constexpr uint32_t ES_READONLY = 0x00000800;
inline constexpr uint32_t ES_WANTRETURN = 0x00001000;

const DialogTemplate& AboutDialogTemplate(); // IDD_ABOUTBOX
const DialogTemplate& QuickHelpDialogTemplate(); // IDD_QUICK_HELP

} // namespace res
