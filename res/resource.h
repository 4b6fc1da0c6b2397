// Resource ids of Quorpa.exe: shared by the resource script (windres) and
// the C++ sources, so it holds #define lines only.
#pragma once

// Dialog templates
#define IDD_ABOUTBOX 100
#define IDD_SETTING 102

// Strings
#define IDS_ABOUTBOX 101          // system-menu entry that opens the about box
#define IDP_SOCKETS_INIT_FAILED 103  // Windows Sockets could not be started

// Icons
#define IDR_MAINFRAME 128  // 32x32 and 16x16: the about box
#define IDI_APPICON 129    // 16x16: the settings dialog's window icons

// Controls of the settings dialog
#define IDC_RCPT 1000
#define IDC_SMTPSVR 1001
#define IDC_STARTADJ 1002
#define IDC_ENDADJ 1003
#define IDC_EXT 1004
#define IDC_REGIST 1005
#define IDC_UNREGIST 1010

// System-menu command of the about box (the low four bits belong to the
// system, so the id is a multiple of 16)
#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
