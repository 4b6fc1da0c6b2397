// The progress window of a reservation mail. While the mail goes out, the
// send runs on a thread of its own and this (the UI) thread only pumps the
// progress window, a small window of class "QuorpaProgress" that shows what
// the send is doing, how long it has taken, and offers 中止. It is no dialog
// box (#32770): the message boxes stay the only dialogs of reserve mode. A
// send that ends within kShowDelayMs (ProgressWindow.cpp) shows no window at
// all. The program's reservation shell (DesktopShell.h) sends through it.
#pragma once

#include <atomic>
#include <functional>

#include "app/StepWatch.h"
#include "mail/MailProgramme.h"

class CSmtpMailer;

// Sends programme with mailer.SendMail on a thread of its own while the
// progress window shows the send; its 中止 and close box call
// mailer.Cancel(); watch is the one the mailer was made with. The window
// names the account's server (as the settings write it) and port, and is
// gone when this returns. With notify the window
// shows at once and, after a successful send, becomes the notice of the
// sent reservation (the programme's station, channel and times) for a
// moment. Returns SendMail's result and throws what it throws; a window
// that cannot be made or pumped changes nothing but what is seen.
bool SendShowingProgress(CSmtpMailer& mailer, StepWatch& watch, const MailProgramme& programme, bool notify);

// Runs sends (the mails of a file with several programmes, each through
// mailer.SendMail) on a thread of its own while one progress window shows
// them, as SendShowingProgress shows one mail; sends sets place (1 to
// count) before each mail, and the window's step says which it is at
// ("送信しています (1/2)"). With showAtOnce the window shows at once. No
// notice follows. Returns when sends has returned; throws what it throws.
void SendAllShowingProgress(CSmtpMailer& mailer, StepWatch& watch, const std::function<void()>& sends,
                            const std::atomic<int>& place, int count, bool showAtOnce);
