#pragma once

#include <QString>

// The service's management host. The router inspection tests its reach with this same address,
// never with a configured one, so it lives in one place.
inline QString defaultServiceBaseUrl()
{
    return QStringLiteral("https://manage.quillmor.com");
}

inline QString serviceDomain()
{
    return QStringLiteral("quillmor.com");
}
