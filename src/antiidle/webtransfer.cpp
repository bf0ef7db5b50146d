// Web transfers of the anti-idle session.
#include "app/mainform.h"

// The HTTP GET probe. The HTTP client is not wired into the window yet, so a
// probe of the "HTTP Gets" method (or the HTTP turn of "Alternate") is chosen
// and counted as an attempt but sends nothing and reports nothing.
void TMainForm::HttpProbe()
{
}
