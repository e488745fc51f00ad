#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

// The signed-in account, as the verify answer describes it.
struct AccountProfile
{
    QString token;
    QString accountNumber;
    QString accountName;
    QString mikrotikUsername;
    QString mikrotikPassword;
    QString hotspotDns;
    QStringList walledHosts;
    int routerLimit = -1; // -1: the service did not report a limit
    int routersUsed = 0;
};

// The outcome of one service request.
struct ApiReply
{
    bool ok = false;
    int status = 0;
    QJsonObject json;
    QString message;
};

struct StationInfo
{
    QString id;
    QString name;
    QString location;
};

struct SavedRouter
{
    QString id;
    QString name;
};
