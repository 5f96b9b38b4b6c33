#pragma once
// Identifiers of the dialog templates, their controls, the strings and the window timers.

// Dialog templates.
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_MFCVELK_DIALOG = 102;
constexpr int IDD_OPTIONS = 129;
constexpr int IDD_PLAY = 130;
constexpr int IDD_BUF_STATUS = 131;
constexpr int IDD_AUTO_DETECT = 132;

// Resources.
constexpr int IDR_MAINFRAME = 128;
constexpr int IDS_ABOUTBOX = 101;
constexpr int IDS_STATUS_MSG1 = 102;
constexpr int IDS_STATUS_MSG2 = 103;
constexpr int IDM_ABOUTBOX = 0x10;

// Controls of the main dialog (template 102).
constexpr int IDC_MODULE_1001 = 1001;
constexpr int IDC_MODULE_1002 = 1002;
constexpr int IDC_MODULE_32X31 = 1003;
constexpr int IDC_MODULE_80X60 = 1004;
constexpr int IDC_ADC_UC = 1005;
constexpr int IDC_ADC_SOFT = 1006;
constexpr int IDC_OFFSET_ELECTRICAL = 1007;
constexpr int IDC_OFFSET_THERMAL = 1008;
constexpr int IDC_SCALING_AUTO = 1009;
constexpr int IDC_SCALING_MANUAL = 1010;
constexpr int IDC_MCLK_SPIN = 1011;
constexpr int IDC_MCLK = 1012;
constexpr int IDC_VDD = 1013;
constexpr int IDC_FPS = 1014;
constexpr int IDC_MODE_T = 1015;
constexpr int IDC_FRAMESTACK_SPIN = 1018;
constexpr int IDC_FRAMESTACK = 1019;
constexpr int IDC_ELOFFSTACK_SPIN = 1020;
constexpr int IDC_ELOFFSTACK = 1021;
constexpr int IDC_THERMALSTACK_SPIN = 1022;
constexpr int IDC_THERMALSTACK = 1023;
constexpr int IDC_THERMALS_REC = 1024;
constexpr int IDC_THERMALS_UC = 1025;
constexpr int IDC_THERMALS_SOFT = 1026;
constexpr int IDC_START = 1027;
constexpr int IDC_TURN_OFF = 1028;
constexpr int IDC_TOGGLE_AMPL = 1029;
constexpr int IDC_INTERPOLATE = 1030;
constexpr int IDC_TOGGLE_BUFFER = 1031;
constexpr int IDC_STARTPIXEL = 1032;
constexpr int IDC_PIXELCOUNT = 1033;
constexpr int IDC_ALL_PIXEL = 1034;
constexpr int IDC_COPY_DATA = 1035;
constexpr int IDC_SCREENSHOT = 1036;
constexpr int IDC_SPAN_READOUT = 1037;
constexpr int IDC_LOG = 1038;
constexpr int IDC_DELTA_T = 1039;
constexpr int IDC_TCENTRE = 1040;
constexpr int IDC_DELTA_V = 1041;
constexpr int IDC_VCENTRE = 1042;
constexpr int IDC_CENTRE_READOUT = 1043;
constexpr int IDC_MIN_READOUT = 1044;
constexpr int IDC_MAX_READOUT = 1045;
constexpr int IDC_FIXED_SCALING = 1046;
constexpr int IDC_HIDDEN_EDIT = 1047;
constexpr int IDC_COM_PORTS = 1048;
constexpr int IDC_PTAT_V = 1049;
constexpr int IDC_PTAT_K = 1050;
constexpr int IDC_PTAT_USE = 1051;
constexpr int IDC_PALETTE_1 = 1052;
constexpr int IDC_SAVE_TO = 1053;
constexpr int IDC_REC = 1054;
constexpr int IDC_STOP = 1055;
constexpr int IDC_PLAY = 1056;
constexpr int IDC_EVERY_FRAME = 1057;
constexpr int IDC_PALETTE_2 = 1058;
constexpr int IDC_PALETTE_3 = 1059;
constexpr int IDC_PALETTE_4 = 1060;
constexpr int IDC_PALETTE_5 = 1061;
constexpr int IDC_PALETTE_6 = 1062;
constexpr int IDC_PALETTE_7 = 1063;
constexpr int IDC_PALETTE_8 = 1064;
constexpr int IDC_OPTIONS = 1065;
constexpr int IDC_CHART = 1066;
constexpr int IDC_PALETTE_BAR = 1067;
constexpr int IDC_TEST = 1068;
constexpr int IDC_SEND = 1069;
constexpr int IDC_IMAGE = 1070;
constexpr int IDC_AMBIENT = 1071;
constexpr int IDC_AUTO_DETECT = 1075;
constexpr int IDC_REC_FRAME = 1077;
constexpr int IDC_PLAY_FRAME = 1078;
constexpr int IDC_SPAN_LABEL = 1079;
constexpr int IDC_CENTRE_LABEL = 1080;
constexpr int IDC_MIN_LABEL = 1081;
constexpr int IDC_MAX_LABEL = 1082;
constexpr int IDC_CALIBRATION = 1083;
constexpr int IDC_PICTURE_DATA = 1084;
constexpr int IDC_HIST_MODE = 1088;
constexpr int IDC_COMMANDS = 1089;
constexpr int IDC_MIN_TEXT = 1093;
constexpr int IDC_MAX_TEXT = 1094;

// Controls of the about box (template 100).
constexpr int IDC_ABOUT_ICON = 1200;
constexpr int IDC_ABOUT_TEXT = 1201;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Window timers of the main dialog.
constexpr int IDT_AVI_FRAME = 8786;
constexpr int IDT_PLAY_BDS = 8787;
constexpr int IDT_PLAY_TXT = 8788;
constexpr int IDT_HANDSHAKE_TIMEOUT = 8789;
constexpr int IDT_PLAY_BIN = 8790;

// Resource strings.
inline constexpr const char* kStringAboutMenu = "關於 mfcVELK(&A)...";
inline constexpr const char* kStringStatusMsg1 = "Status Bar Msg 1";
inline constexpr const char* kStringStatusMsg2 = "Status Bar Msg 2";
inline constexpr const char* kDialogCaption = "Thermal Imaging Software (Ver:1.03)";
