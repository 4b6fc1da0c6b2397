// Reserve mode, the run with file arguments (ReserveMode.cpp).
#pragma once

#include <string>
#include <vector>

#include "app/ProgramFiles.h"
#include "mail/MailAccount.h"

struct Settings;

// Reserves every file of args (args[0] is the program) with the files of
// folder (Station.txt, the hook shortcuts), the template format and the
// history at historyPath (UTF-8; empty: none); stops at the first that
// fails, after saying so. account is the settings' mail account with its
// server resolved.
void ReserveMode(const Settings& settings, MailAccount account, const Folder& folder,
                 const std::vector<std::wstring>& args, const wchar_t* format, const std::string& historyPath);
