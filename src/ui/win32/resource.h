// Resource identifiers of KQFilesyncClient.exe.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDI_APP 1
#define IDI_FOLDER 2
#define IDI_WORKING 3
#define IDI_ATTENTION 4

// Main menu, pop-up menu and accelerators.
#define IDR_MAINMENU 100
#define IDR_POPUP 101
#define IDR_ACCEL 102

#define IDM_CONNECT 40001
#define IDM_CONFIGURATION 40002
#define IDM_EXCEPTIONS 40003
#define IDM_SETTINGS 40004
#define IDM_EXIT 40005
#define IDM_CLIENTLOG 40006
#define IDM_SSLCONNECT 40007
#define IDM_SNAPSHOT 40008
#define IDM_ABOUT 40009
#define IDM_ITEMA1 40010
#define IDM_SYNCHRONIZEALL1 40011
#define IDM_ITMEB1 40012
#define IDM_NOTSYNCED 40013

// Dialogs.
#define IDD_CONFIGURATION 200
#define IDD_CLIENTLOG 201
#define IDD_ABOUT 202
#define IDD_NEWDIR 203
#define IDD_EXCEPTIONS 204
#define IDD_SETTINGS 205
#define IDD_NOTSYNCED 206

// Controls. Edit1..Edit6 of the configuration window.
#define IDC_EDIT1 1001
#define IDC_EDIT2 1002
#define IDC_EDIT3 1003
#define IDC_EDIT4 1004
#define IDC_EDIT5 1005
#define IDC_EDIT6 1006
#define IDC_MEMO1 1011
#define IDC_MEMO2 1012
#define IDC_LABEL1 1021
#define IDC_LABEL2 1022
#define IDC_LABEL3 1023
#define IDC_RADIOBUTTON1 1031
#define IDC_RADIOBUTTON2 1032
#define IDC_RADIOBUTTON3 1033
#define IDC_CHECKBOX_UNICODE 1035
#define IDC_BUTTON1 1041
#define IDC_BITBTN1 1042
#define IDC_BITBTN2 1043
#define IDC_NEWDIR_EDIT 1051
#define IDC_IMAGE1 1061
#define IDC_PRODUCT 1062
#define IDC_CREDIT 1063
#define IDC_VERSION 1064

// Controls of the main window, created in code.
#define IDC_MAIN_PANEL1 2001
#define IDC_MAIN_BUTTON1 2002
#define IDC_MAIN_SPEEDBUTTON1 2003
#define IDC_MAIN_IMAGE1 2004
#define IDC_MAIN_DIRECTORYLISTBOX1 2005
#define IDC_MAIN_FILELISTBOX1 2006
#define IDC_MAIN_LISTVIEW1 2007
#define IDC_MAIN_STATUSBAR1 2008
// The tray's tip as text of a hidden control, for those who read the window from outside.
#define IDC_MAIN_TRAYTIP 2009
// The list of the window "Not synchronised".
#define IDC_NOTSYNCED_LIST 2101
#define IDC_NOTSYNCED_COUNT 2102
