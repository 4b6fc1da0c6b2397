// Setting mode, the run without a file argument (SettingMode.cpp): the
// settings dialog, its saving, and 予約履歴 with its resends.
#pragma once

#include <string>

class CWinApp;
struct Settings;

// Shows the settings dialog over settings (as read from ini) as app's main
// window and saves what the user confirms into ini. format is
// MailFormat.txt and historyPath the history (UTF-8; empty: none), for
// 予約履歴 and its resends.
void SettingMode(CWinApp& app, const Settings& settings, const wchar_t* ini, const wchar_t* format,
                 const std::string& historyPath);
