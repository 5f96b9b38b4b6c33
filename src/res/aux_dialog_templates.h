#pragma once
// Control IDs and templates of the auxiliary dialogs: the options dialog (129), the play dialog
// (130) and the buffer status dialog (131).
#include "res/dialog_template.h"

// Options dialog (template 129).
constexpr int IDC_OPT_MULTITHREADING = 1053;
constexpr int IDC_OPT_DIRECT2D = 1054;
constexpr int IDC_OPT_KELVIN = 1055;
constexpr int IDC_OPT_CELSIUS = 1056;
constexpr int IDC_OPT_CALC_HW = 1057;
constexpr int IDC_OPT_CALC_SW = 1058;
constexpr int IDC_OPT_CALC_HW_CONST = 1059;
constexpr int IDC_OPT_EPSILON = 1060;
constexpr int IDC_OPT_MIRROR_X = 1061;
constexpr int IDC_OPT_MIRROR_Y = 1062;
constexpr int IDC_OPT_MIRROR_BOTH = 1063;
constexpr int IDC_OPT_FAHRENHEIT = 1064;

// Play dialog (template 130).
constexpr int IDC_PLAY_SPEED = 1014;  // frames per second times ten
constexpr int IDC_PLAY_OPEN_STREAM = 1071;
constexpr int IDC_PLAY_STREAM = 1072;

// Buffer status dialog (template 131).
constexpr int IDC_BUF_PERCENT = 1085;
constexpr int IDC_BUF_STACK_NAME = 1086;
constexpr int IDC_BUF_FILL_BAR = 1087;

const DlgTemplate& Template129();
const DlgTemplate& Template130();
const DlgTemplate& Template131();
