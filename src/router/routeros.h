#pragma once

#include <QHash>
#include <QString>

// Marker lines ("QM_KEY=value") that the router scripts print, by key (prefix included).
class MarkerMap
{
public:
    void insert(const QString &key, const QString &value) { m_values.insert(key, value); }
    [[nodiscard]] bool contains(const QString &key) const { return m_values.contains(key); }
    [[nodiscard]] QString text(const QString &key) const { return m_values.value(key); }
    // The value as a decimal 32-bit signed integer; 0 when absent, not a number or out of range.
    [[nodiscard]] int count(const QString &key) const;
    [[nodiscard]] int size() const { return int(m_values.size()); }

private:
    QHash<QString, QString> m_values;
};

[[nodiscard]] bool hasRouterOsError(const QString &text);
[[nodiscard]] QString redactSecrets(const QString &text);
[[nodiscard]] QString quoteRouterOs(const QString &value);
[[nodiscard]] MarkerMap parseMarkers(const QString &text);

// The first marker key (prefix included) that two lines of the text print, or an empty string.
// Keys that a script prints once per item (failed steps, hotspot profiles and servers) may repeat. A router
// that lets its own values (an identity, a comment) hold a line end could otherwise print a second
// copy of a marker and have it believed.
[[nodiscard]] QString repeatedMarker(const QString &text);

// The verdict on one finished ssh run of a script step: true when the step succeeded. On failure
// *failure (when not null) receives the sentence to log and report; on success it is left alone.
[[nodiscard]] bool judgeScriptRun(bool executed, const QString &output, const QString &executeError,
                                  const QString &label, QString *failure);
