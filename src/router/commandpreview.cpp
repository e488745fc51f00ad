#include "commandpreview.h"

#include "layoutscripts.h"
#include "linkscripts.h"
#include "routeros.h"

#include <QStringList>

namespace {

const char kTunnelAddress[] = "<tunnel address from Quillmor>";
const char kServerKey[] = "<tunnel key from Quillmor>";
const char kEndpointHost[] = "<endpoint from Quillmor>";
const char kEndpointPort[] = "<endpoint port from Quillmor>";
const char kNetworks[] = "<tunnel networks from Quillmor>";
const char kEachNetwork[] = "<each tunnel network from Quillmor>";
const char kKeepalive[] = "<keepalive from Quillmor>";
const char kApiUser[] = "<MikroTik user from Quillmor>";
const char kApiPassword[] = "<MikroTik password from Quillmor>";
const char kApiNetwork[] = "<API network from Quillmor>";

const char kAskNote[] = "Nothing is sent to the router here. Quillmor is asked for the tunnel; "
                        "the values in <> come from its answer.";
const char kHandshakeLabel[] =
    "Reading the WireGuard handshake, up to 8 times while waiting for Quillmor to see the router";
const char kWaitNote[] = "Waiting for Quillmor to see the router. This computer has no path to "
                         "the router any more, so nothing else is sent to it.";
const char kHeading[] = "The scripts this run sends to the router, in order. Nothing has been "
                        "sent yet. Passwords are shown as ***.";

QString text(const char *constant)
{
    return QString::fromUtf8(constant);
}

QString option(const QVariantMap &options, const char *key)
{
    return options.value(QLatin1String(key)).toString();
}

PlannedScript planned(OnboardStep step, const QString &script)
{
    return PlannedScript{onboardStepLabel(step), script};
}

} // namespace

QList<PlannedScript> plannedOnboardScripts(const QVariantMap &options)
{
    const QString ifName = option(options, "ifName");
    const bool applyBase = options.value(QStringLiteral("applyBase")).toBool();
    QList<PlannedScript> scripts;
    for (const OnboardStep step : onboardSteps(applyBase)) {
        switch (step) {
        case OnboardStep::ClearEarlierLink:
            scripts << planned(step, clearLinkScript());
            break;
        case OnboardStep::CreateInterface:
            scripts << planned(step, createInterfaceScript(ifName));
            break;
        case OnboardStep::ReadRouterKey:
            scripts << planned(step, routerKeyScript(ifName));
            break;
        case OnboardStep::AskService:
            scripts << PlannedScript{text(kAskNote), QString()};
            break;
        case OnboardStep::TunnelAddress:
            scripts << planned(step, tunnelAddressScript(text(kTunnelAddress), ifName));
            break;
        case OnboardStep::Peer:
            scripts << planned(step, peerScript(ifName, text(kServerKey), text(kEndpointHost),
                                                text(kEndpointPort), {text(kNetworks)},
                                                text(kKeepalive)));
            break;
        case OnboardStep::Routes:
            scripts << PlannedScript{routeStepLabel(text(kEachNetwork)),
                                     routeScript(text(kEachNetwork), ifName)};
            break;
        case OnboardStep::InputRule:
            scripts << planned(step, inputRuleScript(ifName, true));
            break;
        case OnboardStep::ManagementUser:
            scripts << planned(
                step, redactSecrets(managementUserScript(text(kApiUser), text(kApiPassword))));
            break;
        case OnboardStep::ApiService: {
            const ApiServicePlan plan = planApiService(
                option(options, "apiAddress"), options.value(QStringLiteral("fresh")).toBool(),
                options.value(QStringLiteral("apiDisabled")).toBool(), text(kApiNetwork));
            scripts << (plan.script.isEmpty() ? PlannedScript{plan.note, QString()}
                                              : planned(step, plan.script));
            break;
        }
        case OnboardStep::SharedRules:
            scripts << planned(
                step, buildSharedRulesScript(walledGardenHosts(option(options, "walledHosts"))));
            break;
        case OnboardStep::StandardLayout:
            scripts << planned(step, buildBaseLayoutScript(option(options, "hotspotDns")));
            break;
        case OnboardStep::WaitForService:
            scripts << (applyBase ? PlannedScript{text(kWaitNote), QString()}
                                  : PlannedScript{text(kHandshakeLabel), handshakeScript()});
            break;
        }
    }
    return scripts;
}

QString commandPreviewText(const QVariantMap &options)
{
    QStringList blocks{text(kHeading)};
    int number = 0;
    for (const PlannedScript &planned : plannedOnboardScripts(options)) {
        if (planned.script.isEmpty()) {
            blocks << planned.label;
            continue;
        }
        blocks << QStringLiteral("%1. %2\n%3")
                      .arg(QString::number(++number), planned.label, planned.script);
    }
    return blocks.join(QLatin1String("\n\n"));
}
