// Ids of the window's resources, shared by brelin.rc and the code.
#pragma once

#define IDI_BRELIN 1  // the application icon, when the build adds one

// Main window
#define IDD_MAIN 102
#define IDS_ABOUTBOX 101
#define IDM_ABOUTBOX 0x0010
#define IDC_OUTPUT_FILE 1000
#define IDC_BROWSE 1001
#define IDC_PORT_SETUP 1002
#define IDC_GET_DATA 1003
#define IDC_PROGRESS 1004
#define IDC_STATUS_LOG 1011
#define IDC_METRIC 1012
#define IDC_IMPERIAL 1013
#define IDC_OPTIONS 1014
#define IDC_FORMAT 1015
#define IDC_ABSOLUTE 1016
#define IDC_RELATIVE 1017
#define IDC_ERASE 1021
#define IDC_ASCII 1022
#define IDC_CSV 1023
#define IDC_OPEN_REPORT 1030
#define IDC_OPEN_IMAGE 1031
#define IDC_SUMMARY 1033
#define IDC_WARNING 1034
#define IDC_PORT_LABEL 1035
#define IDC_FILTER 1036
#define IDC_COUNT 1037
#define IDC_READINGS 1038

// COM Port Setup
#define IDD_PORT_SETUP 131
#define IDC_PORT_LIST 1008
#define IDC_PORT_CANCEL 1009
#define IDC_PORT_OK 1010
#define IDC_PORT_ERROR 1039

// About
#define IDD_ABOUT 100
#define IDC_ABOUT_VERSION 1040
#define IDC_ABOUT_ICON 1041
