#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The onboarding run as an ordered list of steps and the scripts of its link steps. The job runs
// exactly this list and the window's command preview lists it, so the two cannot drift apart.

enum class OnboardStep {
    ClearEarlierLink,
    CreateInterface,
    ReadRouterKey,
    AskService,
    TunnelAddress,
    Peer,
    Routes,
    InputRule,
    ManagementUser,
    ApiService,
    SharedRules,
    StandardLayout,
    WaitForService,
};

// The link is built first and accepted by the service before anything destructive runs; the
// standard layout, which takes this computer's path to the router away, goes last.
[[nodiscard]] QList<OnboardStep> onboardSteps(bool applyBase);

// The label the runner logs for a step; empty for steps that send no labelled script.
[[nodiscard]] QString onboardStepLabel(OnboardStep step);
[[nodiscard]] QString routeStepLabel(const QString &network);

// Values are put in as given; those that need it are quoted here.
[[nodiscard]] QString clearLinkScript();
[[nodiscard]] QString createInterfaceScript(const QString &ifName);
[[nodiscard]] QString routerKeyScript(const QString &ifName);
[[nodiscard]] QString tunnelAddressScript(const QString &address, const QString &ifName);
[[nodiscard]] QString peerScript(const QString &ifName, const QString &serverKey,
                                 const QString &endpointHost, const QString &endpointPort,
                                 const QStringList &networks, const QString &keepalive);
[[nodiscard]] QString routeScript(const QString &network, const QString &ifName);
// placeFirst: the rule goes before every other input rule; without it, at the end of the list.
[[nodiscard]] QString inputRuleScript(const QString &ifName, bool placeFirst);
[[nodiscard]] QString managementUserScript(const QString &user, const QString &password);
[[nodiscard]] QString handshakeScript();

// The walled-garden hosts of the account's comma-separated list: trimmed, valid names only, in
// order.
[[nodiscard]] QStringList walledGardenHosts(const QString &list);

// The tunnel networks that get a route: all but the default network, which rides in the peer only.
[[nodiscard]] QStringList routedNetworks(const QStringList &networks);

// What the API step does to the router's API service, from the inspected address list.
struct ApiServicePlan
{
    QString script; // empty: the service is left as it is
    QString note;   // a line for the log when the service is left as it is
};

[[nodiscard]] ApiServicePlan planApiService(const QString &inspectedList, bool fresh,
                                            bool apiDisabled, const QString &apiNetwork);
