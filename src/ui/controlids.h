// Identifiers of the main window's controls and window-menu commands, kept from its dialog
// template so that tests, automation and the preview can name them.
#pragma once

#include "platform/desktop/windowmessage.h"

inline constexpr int IDC_STATIC = -1;

inline constexpr int IDC_OPEN_MPEG = 1000;
inline constexpr int IDC_INFO_LINE = 1001;
inline constexpr int IDC_START_HOUR = 1003;
inline constexpr int IDC_START_MINUTE = 1004;
inline constexpr int IDC_START_SECOND = 1005;
inline constexpr int IDC_END_HOUR = 1006;
inline constexpr int IDC_END_MINUTE = 1007;
inline constexpr int IDC_END_SECOND = 1008;
inline constexpr int IDC_CUT_START = 1009;
inline constexpr int IDC_OUTPUT_FILE = 1010;
inline constexpr int IDC_PLAY = 1011;
inline constexpr int IDC_POSITION_SLIDER = 1012;
inline constexpr int IDC_PAUSE = 1013;
inline constexpr int IDC_STOP = 1014;
inline constexpr int IDC_POSITION = 1015;
inline constexpr int IDC_START_TIME = 1016;
inline constexpr int IDC_END_TIME = 1017;
inline constexpr int IDC_PIECE_COUNT = 1018;
inline constexpr int IDC_SIZE_START = 1019;
inline constexpr int IDC_EACH_SIZE = 1020;
inline constexpr int IDC_OUTPUT_FOLDER = 1021;
inline constexpr int IDC_PIECE_COUNT_SPIN = 1025;
inline constexpr int IDC_BROWSE_FOLDER = 1026;
inline constexpr int IDC_PIECE_SECONDS = 1027;
inline constexpr int IDC_PIECE_SECONDS_SPIN = 1028;
inline constexpr int IDC_TIME_START = 1029;
inline constexpr int IDC_BY_FRAME = 1030;
inline constexpr int IDC_BY_SIZE = 1031;
inline constexpr int IDC_BY_TIME = 1032;
inline constexpr int IDC_BROWSE_FILE = 1033;
inline constexpr int IDC_OUTPUT_FILE_LABEL = 1037;
inline constexpr int IDC_START_COLON1 = 1038;
inline constexpr int IDC_START_COLON2 = 1039;
inline constexpr int IDC_END_COLON1 = 1040;
inline constexpr int IDC_END_COLON2 = 1041;
inline constexpr int IDC_PIECE_COUNT_LABEL = 1042;
inline constexpr int IDC_EACH_SIZE_LABEL = 1043;
inline constexpr int IDC_PIECE_SECONDS_LABEL = 1044;
inline constexpr int IDC_OUTPUT_FOLDER_LABEL = 1045;
inline constexpr int IDC_SECONDS_LABEL = 1046;
inline constexpr int IDC_HOMEPAGE = 1048;
inline constexpr int IDC_HELP_BUTTON = 1049;
// The clean cuts switch, shown in every mode.
inline constexpr int IDC_CLEAN_CUTS = 1050;
// The plan line below the time fields.
inline constexpr int IDC_CLIP_PLAN = 1054;
// IDC_CLOSE_SOURCE (1053) comes with the window messages: the preview posts it.

// Window-menu commands of the system; the low four bits are the system's own.
inline constexpr unsigned SC_MINIMIZE = 0xF020;
inline constexpr unsigned SC_CLOSE = 0xF060;

// The standard help command (F1).
inline constexpr unsigned ID_HELP = 0xE146;
