// The application shell (start-up, dialogs) is not part of the unit tests'
// build; the reservation driver's tests need only the application object's
// adjustments. This gives CReserveApp the rest of its members.
#include "app/ReserveApp.h"

CReserveApp::CReserveApp() = default;
CReserveApp::~CReserveApp() = default;
BOOL CReserveApp::InitInstance() { return FALSE; }
