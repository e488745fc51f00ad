#pragma once

#include "routeros.h"

#include <QString>
#include <QVariantMap>

// The statement that prints QM_FETCH=1 when the router can fetch the service's page over HTTPS,
// else QM_FETCH=0; the inspection and the internet probe both send it.
[[nodiscard]] QString serviceFetchStatement();

// The router reaches the internet: a ping got an answer, or else the HTTPS fetch got through, as
// on lines that block ping.
[[nodiscard]] bool hasInternet(const MarkerMap &markers);

// The read-only script that the inspection sends, as one line.
[[nodiscard]] QString inspectionScript();

// The facts map that the inspection's marker lines describe: what the router is, whether it can
// carry the link, which names are free and what stands in the way.
[[nodiscard]] QVariantMap factsFromMarkers(const MarkerMap &markers);
