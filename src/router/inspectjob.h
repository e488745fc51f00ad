#pragma once

#include "routeros.h"

#include <QString>
#include <QVariantMap>

// The read-only script that the inspection sends, as one line.
[[nodiscard]] QString inspectionScript();

// The facts map that the inspection's marker lines describe: what the router is, whether it can
// carry the link, which names are free and what stands in the way.
[[nodiscard]] QVariantMap factsFromMarkers(const MarkerMap &markers);
