#include "app/gotoweb.h"

#include "platform/webpage.h"

bool TGoToWeb::OpenUrl()
{
    return platform::OpenWebPage(Url);
}
