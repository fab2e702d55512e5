// The notification rules' actions as this program performs them: the Screen
// action prints the matched lines on standard output in batch mode and, in a
// graphical session, opens the message file with the desktop's text viewer;
// the eMail action sends the notice through delivery's e-mail.
#pragma once

#include "base/settings.h"
#include "report/notify_rules.h"

namespace tallowick::run {

// The folder of "notify_msg.txt": `notify_folder` when set, else the user data folder.
std::filesystem::path notify_folder(const Settings& settings);

// The options of a rule check from the settings, with both actions installed.
report::NotifyOptions notify_options(const Settings& settings);

}  // namespace tallowick::run
