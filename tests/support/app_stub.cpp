// The application shell (start-up, dialogs) is not part of the unit tests'
// build; the reservation driver's tests need only the application object's
// adjustments. This gives CReserveApp the rest of its members.
#include "app/ReserveApp.h"

#include "mail/SmtpMailer.h"

CReserveApp::CReserveApp() = default;
CReserveApp::~CReserveApp() = default;
BOOL CReserveApp::InitInstance() { return FALSE; }
// The send on the calling thread, without a window.
bool CReserveApp::SendReservation(CSmtpMailer& mailer, const tm& start, const tm& end, unsigned channel) {
    return mailer.SendMail(start, end, channel);
}
