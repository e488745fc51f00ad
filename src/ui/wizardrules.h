#pragma once

#include "api/apitypes.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// The window's decisions and texts as pure functions of the facts map and the account profile, so
// that the widgets only read them and every rule can be checked without a window.

[[nodiscard]] bool factBool(const QVariantMap &facts, const QString &key);
[[nodiscard]] QString factString(const QVariantMap &facts, const QString &key);

// "Name (number)" or "Account number", as the home title and the account chip show it.
[[nodiscard]] QString accountLabel(const AccountProfile &profile);
[[nodiscard]] QString seatText(int routerLimit, int routersUsed);

[[nodiscard]] QString reviewText(const QVariantMap &facts, const AccountProfile &profile,
                                 bool fullSetup);

// The router internet card: shown only when the router could carry the link but has no internet.
struct InternetCard
{
    bool visible = false;
    QString text;
    bool dhcpVisible = false;
    QString dhcpText;
    bool pppoeVisible = false;
    QString pppoeText;
};

struct ReviewDecisions
{
    bool hasLogin = false;
    bool ready = false;
    bool onboardAllowed = false; // before the busy check, which only the window knows
    bool replaceError = false;   // false: the review error keeps whatever it shows
    QString errorText;
    InternetCard card;
};

[[nodiscard]] ReviewDecisions reviewDecisions(const QVariantMap &facts,
                                              const AccountProfile &profile);

// "split-dhcp", "dhcp", "split-pppoe" or "pppoe".
[[nodiscard]] QString wanMode(bool viaPppoe, bool ether1Bridged, bool fresh);

[[nodiscard]] QString doneText(const QVariantMap &result);

[[nodiscard]] QString stationLabel(const StationInfo &station);
[[nodiscard]] bool isStationId(const QString &id);

// One line per saved router, in the service's order, for the operator to pick from: its name (or
// its id when it has none), with the id added where two routers share a name.
[[nodiscard]] QStringList routerChoiceLabels(const QList<SavedRouter> &routers);

// The address the router fetches the login page from; false when the base URL is not a secure one.
[[nodiscard]] bool loginPageUrl(const QString &baseUrl, const QString &stationId, QString *url);
