#pragma once

#include <QList>
#include <QString>
#include <QVariantMap>

// One entry of the command preview: a step's label and the script it sends; a step that sends
// nothing to the router has an empty script and says what happens instead.
struct PlannedScript
{
    QString label;
    QString script;
};

// Every script the onboarding run with these options will send, in order, built by the job's own
// builders. Values only the service knows are placeholders; passwords are masked.
[[nodiscard]] QList<PlannedScript> plannedOnboardScripts(const QVariantMap &options);

// The same as one text for the preview window.
[[nodiscard]] QString commandPreviewText(const QVariantMap &options);
