#include "desktop/gotoweb.h"

#include "desktop/webpage.h"

bool TGoToWeb::OpenUrl()
{
    return desktop::OpenWebPage(Url);
}
