#pragma once
// Identifiers of the program's resources and of the controls in its dialog templates.
// The numbers are those the program has always used; settings, tests and later dialogs
// refer to controls by them.

// Dialog templates.
inline constexpr int IDD_TRACE_DIALOG = 102;

// Icon, cursor and strings.
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDP_SOCKETS_INIT_FAILED = 103;

// Commands.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDM_ABOUTBOX = 0x0010;

// Controls of the main dialog.
inline constexpr int IDC_HOST_BUTTON = 1000;
inline constexpr int IDC_TARGET_LABEL = 1002;
inline constexpr int IDC_TRIES_LABEL = 1003;
inline constexpr int IDC_HOPS_LABEL = 1004;
inline constexpr int IDC_MS_LABEL = 1005;
inline constexpr int IDC_HOST = 1127;
inline constexpr int IDC_RESULTS = 1128;
inline constexpr int IDC_STATUS = 1130;
inline constexpr int IDC_TARGET = 1131;
inline constexpr int IDC_HOPS = 1167;
inline constexpr int IDC_TIMEOUT = 1168;
inline constexpr int IDC_TRIES = 1169;
inline constexpr int IDC_FAMILY = 1170;
inline constexpr int IDC_FIXED_FLOW = 1171;
inline constexpr int IDC_WATCH = 1172;
inline constexpr int IDC_ABOUT = 33774;
