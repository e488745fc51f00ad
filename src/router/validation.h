#pragma once

#include <QJsonValue>
#include <QString>
#include <QStringList>

// Shape checks for every value from outside that goes into a router script.
[[nodiscard]] bool isValidName(const QString &text);
[[nodiscard]] bool isValidWireGuardKey(const QString &text);
[[nodiscard]] bool isValidHostName(const QString &text);
[[nodiscard]] bool isValidIpv4Network(const QString &text);
[[nodiscard]] bool isUsableNetwork(const QString &text);
[[nodiscard]] QString networkOf(const QString &text);
[[nodiscard]] QStringList jsonStringList(const QJsonValue &value);

// A line end, a tab or another control character: text a router value cannot hold as it is.
[[nodiscard]] bool hasControlCharacter(const QString &text);
