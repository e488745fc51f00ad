#pragma once

#include "managementpath.h"

#include <QJsonObject>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

// What a scenario file says about the router: its software and hardware, its upstream, how its
// WireGuard peers behave, and the faults it injects. Every open behaviour has a setting here.
struct ScenarioUser
{
    QString name;
    QString password;
    QString group;
};

struct ScenarioFault
{
    QRegularExpression pattern; // matched against "/menu/verb arg=value ..."
    QString error;              // fail the command with this RouterOS error text
    int delayMs = 0;
    bool hang = false;
    bool drop = false;
    int times = 0; // how often it fires; 0 = every time
    int fired = 0;
};

struct Scenario
{
    QString version = QStringLiteral("7.14.3");
    QString channel = QStringLiteral("stable");
    QString model;      // empty: no routerboard menu (CHR, x86)
    QString identity = QStringLiteral("MikroTik");
    QList<ScenarioUser> users;
    int ethernetPorts = 5;
    QStringList extraInterfaces; // hardware ports that are not ethernet (wlan1, sfp-sfpplus1)

    bool upstreamDhcp = true;
    QString dhcpAddress = QStringLiteral("10.0.2.15/24");
    QString dhcpGateway = QStringLiteral("10.0.2.2");
    QString pppoeUser;     // empty: no PPPoE server upstream
    QString pppoePassword;
    QString pppoeAddress = QStringLiteral("100.64.7.20/32");
    QString pppoeGateway = QStringLiteral("100.64.0.1");
    bool internet = true;
    bool serviceHttps = true;

    bool handshake = true;
    int handshakeAfterSeconds = 3;
    QString lastHandshakeBefore = QStringLiteral("absent"); // absent | never | zero

    // The router address the SSH listener stands for; empty: no management path, every
    // connection is answered and no script can cut its own session.
    QString sessionAddress;
    // Only for tests of script semantics: sessions never lose their path.
    bool sessionIgnoresPath = false;
    OperatorPlace operatorPlace;

    QList<ScenarioFault> faults;
    bool refuseSignIn = false;
    bool silentPort = false;
    int exitStatusOnError = 0;
    bool badCommandCatchable = true;
    bool placeBeforeEmptyAccepted = false;

    QString exportFile;
    QString schemaDir;
    QStringList setupScripts; // run after the export, as ordinary scripts

    [[nodiscard]] QString versionString() const
    {
        return channel.isEmpty() ? version : QStringLiteral("%1 (%2)").arg(version, channel);
    }
};
