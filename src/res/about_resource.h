#pragma once
// Identifiers of the About dialog, the quick help dialog and the link cursor, with the
// numbers the program has always used for them.

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDC_LINK_HAND = 104;
inline constexpr int IDD_QUICK_HELP = 131;

// Controls of the About dialog. Its "OK" button carries IDCANCEL (2).
inline constexpr int IDC_QUICK_HELP = 3;
inline constexpr int IDC_MAIL_LINK = 1108;
inline constexpr int IDC_WEB_LINK = 1109;

// Controls of the quick help dialog. Its "Done" button carries IDCANCEL (2).
inline constexpr int IDC_HELP_TEXT = 1009;

// Controls nobody refers to: texts and the icon.
inline constexpr int IDC_STATIC = -1;
