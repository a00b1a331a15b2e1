#include "core/i18n.h"

const char* tr(const char* msgid)
{
    return msgid;
}
