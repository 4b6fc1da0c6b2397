// Resource ids of Quorpa.exe: shared by the resource script (windres) and
// the C++ sources, so it holds #define lines only.
#pragma once

// Dialog templates
#define IDD_ABOUTBOX 100
#define IDD_SETTING 102
#define IDD_MAILSETTING 106
#define IDD_HISTORY 108
#define IDD_STATION 110       // 放送局の登録: a station Station.txt does not know
#define IDD_STATIONTABLE 111  // the station table, from the settings dialog
#define IDD_STATIONROW 112    // one row of it

// Strings
#define IDS_ABOUTBOX 101          // system-menu entry that opens the about box
#define IDP_SOCKETS_INIT_FAILED 103  // Windows Sockets could not be started
#define IDS_DESCRIPTION 104  // what the program does, for Windows' default apps (app/AssociationTable.cpp)

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
#define IDC_MAILSET 1011  // opens the mail account dialog
#define IDC_LOGOUTPUT 1012  // check box: keep a log
#define IDC_NOTIFY 1013     // check box: say when a reservation has been sent
#define IDC_HISTORY 1014    // opens the history of reservation mails
#define IDC_STATIONS 1015   // opens the station table

// Controls of the mail account dialog
#define IDC_SMTPPORT 1020
#define IDC_SSL_NONE 1021      // the encryption group: none, STARTTLS, TLS
#define IDC_SSL_STARTTLS 1022
#define IDC_SSL_TLS 1023
#define IDC_SMTPUSER 1024
#define IDC_SMTPPASS 1025
#define IDC_CLEARPASS 1026
#define IDC_PASSNOTE 1027
#define IDC_SMTPCERT 1028
#define IDC_TESTCONN 1029
#define IDC_MAILFROM 1030  // the sender address

// Controls of the history dialog
#define IDC_HISTORYLIST 1040  // the report-style list of reservations
#define IDC_RESEND 1041       // sends the selected reservation again
#define IDC_HISTDELETE 1042   // removes the selected reservations

// Controls of 放送局の登録
#define IDC_STATIONMSG 1050  // what the box about an unknown station said
#define IDC_STATIONCH 1051   // the channel to register

// Controls of the station table and its row dialog
#define IDC_STATIONLIST 1060  // the report-style list of rows
#define IDC_STATIONADD 1061
#define IDC_STATIONEDIT 1062
#define IDC_STATIONDEL 1063
#define IDC_ROWCH 1065
#define IDC_ROWNAME 1066
#define IDC_ROWNOTE 1067

// System-menu command of the about box (the low four bits belong to the
// system, so the id is a multiple of 16)
#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
